// The native user interface's module state and backend choice (see
// native_ui.h and platform/posix/native_ui_backend.h).
#include "platform/ui/native_ui.h"

#include <poll.h>

#include <map>
#include <string>

#include "platform/ui/native_window.h"
#include "platform/posix/native_dock_tile.h"
#include "platform/posix/native_ui_model.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"

GlobalNativeUIStruct *GlobalNativeUI = nullptr;

namespace {

NativeUIBackend *GlobalBackend = nullptr;
NativeUI_DisplayBackendFactory GlobalDisplayFactory = nullptr;
std::string GlobalResourceDirectory;
int32 GlobalModelNotificationCentre = TRUE;


} // namespace

NativeUIBackend *NativeUI_Backend() { return GlobalBackend; }

int32 NativeUI_SetDisplayBackendFactory(NativeUI_DisplayBackendFactory Factory) {
    GlobalDisplayFactory = Factory;
    return TRUE;
}

int32 NativeUIModel_SetNotificationCentre(int32 Present) {
    GlobalModelNotificationCentre = Present;
    if (NativeUIModel_State() != nullptr) NativeUIModel_State()->NotificationCentre = Present;
    return TRUE;
}

const std::string &NativeUI_ResourceDirectory() {
    if (GlobalResourceDirectory.empty()) {
        char Directory[MAX_PATH_SIZE] = "";
        Platform_GetModuleDirectory(nullptr, Directory, sizeof(Directory));
        GlobalResourceDirectory = std::string(Directory) + "Resources/";
    }
    return GlobalResourceDirectory;
}

int32 NativeUI_SetResourceDirectory(const char *Directory) {
    GlobalResourceDirectory = Directory != nullptr ? Directory : "";
    return TRUE;
}

int32 NativeUI_Init(void) {
    if (GlobalNativeUI != nullptr) return TRUE;
    GlobalNativeUI = (GlobalNativeUIStruct *)Memory_AllocInt(sizeof(GlobalNativeUIStruct), MEMORY_FLAG_ZERO,
                                                             __FILE__, __LINE__);
    CriticalSection_Create(&GlobalNativeUI->Lock);
    Debug_AbortOverride(NativeUI_AbortOverride);

    // Decided once: a display backend that cannot open its display is no
    // error, the model stands in for it.
    GlobalBackend = GlobalDisplayFactory != nullptr ? GlobalDisplayFactory() : nullptr;
    if (GlobalBackend == nullptr) {
        GlobalBackend = NativeUIModel_Create();
        NativeUIModel_State()->NotificationCentre = GlobalModelNotificationCentre;
    }
    Log_Info("Native UI backend: %s\n", GlobalBackend->Name());

    if (GlobalBackend->HasNotificationCentre()) {
        // Identity markers only: the centre and its notification kind live in the backend.
        GlobalNativeUI->NotificationCentreClass = GlobalBackend;
        GlobalNativeUI->NotificationClass = GlobalBackend;
    } else {
        GlobalNativeUI->AlertNotificationTable = new NativeAlertTable();
    }
    auto *Tile = new NativeDockTileView(GlobalBackend->DockTileSize());
    Tile->setDirty(TRUE);
    GlobalNativeUI->DockTileView = Tile;
    // Framework multithreading needs no switch here: GTK is only ever called
    // on the main thread and the model keeps no thread-bound state.
    return TRUE;
}

int32 NativeUI_Remove(void) {
    if (GlobalNativeUI == nullptr) return FALSE;
    if (GlobalDebugAbortOverride == NativeUI_AbortOverride) Debug_AbortOverride(nullptr);
    CriticalSection_Delete(&GlobalNativeUI->Lock);
    if (auto *Table = static_cast<NativeAlertTable *>(GlobalNativeUI->AlertNotificationTable)) {
        for (auto &Entry : *Table) GlobalBackend->CancelAlertNotification(Entry.first);
        delete Table;
    }
    delete static_cast<NativeDockTileView *>(GlobalNativeUI->DockTileView);
    NativeWindow_RemoveDockMenu();
    delete GlobalBackend;
    GlobalBackend = nullptr;
    GlobalNativeUI = (GlobalNativeUIStruct *)Memory_FreeInt(GlobalNativeUI, sizeof(GlobalNativeUIStruct), __FILE__,
                                                            __LINE__);
    return TRUE;
}

int32 NativeUI_AbortOverride(const char *File, int32 Line, const char *Message) {
    (void)File;
    (void)Line;
    if ((Debug_Flags() & DEBUG_FLAG_CMDLINE) != 0) return TRUE;
    // A windowing system is only worked from the main thread; a stop on
    // another thread has been written to the log and stderr already.
    if (Platform_ThreadGetCurrentId() != Debug_MainThreadId()) return TRUE;
    NativeWindow_MessageBox(nullptr, Message, "Internal error...", 0x2010);
    return TRUE;
}

int32 NativeUI_MessageBoxOverride(NativeUI_MessageBoxFunc Function) {
    Debug_CheckPointer(GlobalNativeUI);
    GlobalNativeUI->MessageBoxOverride = Function;
    return TRUE;
}

const char *NativeUI_BackendName(void) { return GlobalBackend != nullptr ? GlobalBackend->Name() : ""; }

static int32 PollDescriptor(int32 Descriptor, int32 TimeoutMS) {
    pollfd Wait{Descriptor, POLLIN, 0};
    return poll(&Wait, 1, TimeoutMS) > 0 && (Wait.revents & POLLIN) != 0 ? TRUE : FALSE;
}

int32 NativeUI_Poll(int32 Descriptor, int32 TimeoutMS) {
    if (GlobalBackend != nullptr) return GlobalBackend->Poll(Descriptor, TimeoutMS);
    return PollDescriptor(Descriptor, TimeoutMS);
}

int32 NativeUI_Process(void) {
    if (GlobalBackend != nullptr) GlobalBackend->Pump();
    return TRUE;
}
