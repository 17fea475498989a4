// The self-update progress window (see progress_window.h).
#include "platform/ui/progress_window.h"

#include "platform/posix/native_ui_backend.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/time.h"

struct ProgressWindow {
    void *Window;          // the backend's window (label and bar inside)
    uint64 NextUpdateTime; // monotonic milliseconds from which a fraction below 1.0 may show
};

namespace {

constexpr uint64 UpdateIntervalMS = 40;

NativeUIBackend *Backend() {
    NativeUIBackend *Running = NativeUI_Backend();
    Debug_CheckPointer(Running);
    return Running;
}

} // namespace

int32 ProgressWindow_Create(ProgressWindow **Window, const char *Title, const char *Text) {
    Debug_CheckPointer(Window);
    auto *Record = (ProgressWindow *)Memory_AllocInt(sizeof(ProgressWindow), MEMORY_FLAG_ZERO, __FILE__, __LINE__);
    Record->Window = Backend()->ProgressWindowCreate(Title != nullptr ? Title : "", Text != nullptr ? Text : "");
    Record->NextUpdateTime = Time_GetCycleCount();
    NotificationCenter_AddProcessObserver(NOTIFICATIONCENTER_GLOBAL, Record, ProgressWindow_Process);
    *Window = Record;
    return TRUE;
}

int32 ProgressWindow_SetProgress(ProgressWindow *Window, float64 Fraction) {
    Debug_CheckPointer(Window);
    if (Fraction < 1.0) {
        if (Time_GetCycleCount() < Window->NextUpdateTime) return TRUE;
        Window->NextUpdateTime += UpdateIntervalMS;
    }
    Backend()->ProgressWindowSetFraction(Window->Window, Fraction);
    return TRUE;
}

int32 ProgressWindow_Delete(ProgressWindow **Window) {
    Debug_CheckPointer(Window);
    ProgressWindow *Record = *Window;
    if (Record == nullptr) return FALSE;
    NotificationCenter_RemoveProcessObserver(NOTIFICATIONCENTER_GLOBAL, Record, ProgressWindow_Process);
    Backend()->ProgressWindowDelete(Record->Window);
    *Window = (ProgressWindow *)Memory_FreeInt(Record, sizeof(ProgressWindow), __FILE__, __LINE__);
    return TRUE;
}

int32 ProgressWindow_Process(void *User, const char *Type, const char *Name, const char *Instance,
                             Dictionary *UserInfo) {
    (void)User;
    (void)Type;
    (void)Name;
    (void)Instance;
    (void)UserInfo;
    if (NativeUI_Backend() != nullptr) NativeUI_Backend()->ProgressWindowPumpOne();
    return TRUE;
}
