// Class families: registration, the hand-over of the host's functions, the
// configuration options, and unload requests. Both sides of the hand-over
// live here: the host's table of functions it gives every family, and the
// family side (Interop_SetOverride) that a loadable family built on this
// runtime exports, which installs them as its own forwarding hooks.
#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop_internal.h"
#include "runtime/text/string.h"

namespace {

struct HostFunction {
    const char *Name;
    void *Function; // null: the facility is not part of this host, or is a hand-over below
};

// The facilities of modules above the runtime (trust, registry, web
// requests), set by those modules at start-up (Interop_SetHandOver): the
// host's function handed to every family, and the family side's setter of
// its forwarding hook. A name still unset is not part of this host.
struct HandOver {
    const char *Name;
    void *Function;
    Interop_InstallFunc Install;
};

HandOver HandOvers[] = {
    {"Authenticate_Enabled", nullptr, nullptr},
    {"Registry_Authorize", nullptr, nullptr},
    {"WebGet_Authorize", nullptr, nullptr},
};

HandOver *FindHandOver(const char *Name) {
    for (HandOver &Entry : HandOvers)
        if (String_CompareWithoutCase(Name, Entry.Name)) return &Entry;
    return nullptr;
}

void *HandOverFunction(const char *Name) {
    HandOver *Entry = FindHandOver(Name);
    return Entry != nullptr ? __atomic_load_n(&Entry->Function, __ATOMIC_ACQUIRE) : nullptr;
}

// Handed to every family in this order.
const HostFunction HostFunctions[] = {
    {"Debug_Print", (void *)Log_PrintStringWithTimeStamp},
    {"Debug_Flags", (void *)Debug_Flags},
    {"Class_ConvertFromInstanceId", (void *)Class_ConvertFromInstanceId},
    {"Class_ConvertToInstanceId", (void *)Class_ConvertToInstanceId},
    {"Class_TrackInstance", (void *)Class_TrackInstance},
    {"Class_UntrackInstance", (void *)Class_UntrackInstance},
    {"Authenticate_Enabled", nullptr},
    {"Registry_Authorize", nullptr},
    {"WebGet_Authorize", nullptr},
    {"Dictionary_Create", (void *)Dictionary_Create},
    {"Dictionary_Delete", (void *)Dictionary_Release},
    {"Dictionary_Release", (void *)Dictionary_Release},
    {"NotificationCenter_AddInstanceObserver", (void *)NotificationCenter_AddInstanceObserver},
    {"NotificationCenter_RemoveInstanceObserver", (void *)NotificationCenter_RemoveInstanceObserver},
    {"NotificationCenter_AssertInstance", (void *)NotificationCenter_AssertInstance},
    {"NotificationCenter_Fire", (void *)NotificationCenter_Fire},
    {"NotificationCenter_FireAfterDelay", (void *)NotificationCenter_FireAfterDelay},
    {"NotificationCenter_FireWithJSON", (void *)NotificationCenter_FireWithJSON},
    {"NotificationCenter_FireWithJSONV", (void *)NotificationCenter_FireWithJSONV},
    {"NotificationCenter_FireAfterDelayWithJSON", (void *)NotificationCenter_FireAfterDelayWithJSON},
    {"NotificationCenter_FireAfterDelayWithJSONV", (void *)NotificationCenter_FireAfterDelayWithJSONV},
    {"Interop_GenerateInstanceId", (void *)Interop_GenerateInstanceId},
};
static_assert(sizeof(HostFunctions) / sizeof(HostFunctions[0]) == 22);

// The family side: the hook setter behind each name a family takes.
template <typename Func, int32 (*Setter)(Func)> int32 Install(void *Function) {
    return Setter(reinterpret_cast<Func>(Function));
}

struct HookSetter {
    const char *Name;
    Interop_InstallFunc Install; // null: a hand-over's
};

const HookSetter HookSetters[] = {
    {"Debug_Print", Install<Debug_PrintFunc, Debug_PrintOverride>},
    {"Debug_Flags", Install<Debug_FlagsFunc, Debug_FlagsOverride>},
    {"Class_ConvertFromInstanceId", Install<Class_ConvertFromInstanceIdFunc, Class_ConvertFromInstanceIdOverride>},
    {"Class_ConvertToInstanceId", Install<Class_ConvertToInstanceIdFunc, Class_ConvertToInstanceIdOverride>},
    {"Class_TrackInstance", Install<Class_TrackInstanceFunc, Class_TrackInstanceOverride>},
    {"Class_UntrackInstance", Install<Class_UntrackInstanceFunc, Class_UntrackInstanceOverride>},
    {"Authenticate_Enabled", nullptr},
    {"Registry_Authorize", nullptr},
    {"WebGet_Authorize", nullptr},
    {"NotificationCenter_AddInstanceObserver",
     Install<NotificationCenter_AddInstanceObserverFunc, NotificationCenter_AddInstanceObserverOverride>},
    {"NotificationCenter_RemoveInstanceObserver",
     Install<NotificationCenter_RemoveInstanceObserverFunc, NotificationCenter_RemoveInstanceObserverOverride>},
    {"NotificationCenter_AssertInstance",
     Install<NotificationCenter_AssertInstanceFunc, NotificationCenter_AssertInstanceOverride>},
    {"NotificationCenter_Fire", Install<NotificationCenter_FireFunc, NotificationCenter_FireOverride>},
    {"NotificationCenter_FireAfterDelay",
     Install<NotificationCenter_FireAfterDelayFunc, NotificationCenter_FireAfterDelayOverride>},
};

// Every scalar of the configuration, depth first, as (path, value text).
void PassOptions(InteropLibrary *Library, Dictionary *Root, Dictionary *Container) {
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Container, &Item); Item != nullptr;) {
        Dictionary *Child = nullptr;
        if (Dictionary_ItemIsContainer(Container, Item)) {
            if (Dictionary_ItemGetDictionaryHandle(Container, Item, &Child)) PassOptions(Library, Root, Child);
        } else {
            char Path[INTEROP_ID_SIZE];
            const char *Text = nullptr;
            if (Dictionary_ItemGetPath(Container, Item, Root, Path, (int32)sizeof(Path)) &&
                Dictionary_ItemGetBufferPtr(Container, Item, &Text, nullptr))
                Library->SetOption(Path, Text);
        }
        DictionaryItem *Next = nullptr;
        Dictionary_ItemGetNext(Container, Item, &Next);
        Item = Next;
    }
}

} // namespace

InteropLibrary *Interop_InternalAdd(const char *Name, void *SharedObject, Interop_LoadFunc Load,
                                    Interop_UnloadFunc Unload, Interop_CreateInstanceFunc Create,
                                    Interop_SetOverrideFunc SetOverride, Interop_SetOptionFunc SetOption) {
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Name);
    bool Missing = false;
    auto Check = [&Missing](const void *Function, const char *Message) {
        if (Function != nullptr) return;
        Log_Error("%s", Message);
        Missing = true;
    };
    Check((const void *)Create, "Failed to load interop: Interop_CreateInstance not found.\n");
    Check((const void *)SetOverride, "Failed to load interop: Interop_SetOverride not found.\n");
    Check((const void *)SetOption, "Failed to load interop: Interop_SetOption not found.\n");
    Check((const void *)Load, "Failed to load interop: Interop_Load not found.\n");
    Check((const void *)Unload, "Failed to load interop: Interop_Unload not found.\n");
    if (Missing) return nullptr;

    InteropLibrary *Library = Memory_New(InteropLibrary);
    String_CopyLength(Library->Name, Name, (int32)sizeof(Library->Name));
    Library->SharedObject = SharedObject;
    Library->Identity = SharedObject;
    Library->Create = Create;
    Library->SetOverride = SetOverride;
    Library->SetOption = SetOption;
    Library->Load = Load;
    Library->Unload = Unload;
    Library->RefCount = 1;

    for (const HostFunction &Host : HostFunctions) {
        void *Function = Host.Function != nullptr ? Host.Function : HandOverFunction(Host.Name);
        if (Function != nullptr) SetOverride(Host.Name, Function);
    }
    Load();
    if (Global->Config != nullptr) PassOptions(Library, Global->Config, Global->Config);

    CriticalSection_Lock(Global->Lock);
    InteropList_Append(Global->Libraries, Library);
    CriticalSection_Unlock(Global->Lock);
    return Library;
}

InteropLibrary *Interop_Add(const char *Name, Interop_LoadFunc Load, Interop_UnloadFunc Unload,
                            Interop_CreateInstanceFunc Create, Interop_SetOverrideFunc SetOverride,
                            Interop_SetOptionFunc SetOption) {
    return Interop_InternalAdd(Name, nullptr, Load, Unload, Create, SetOverride, SetOption);
}

int32 Interop_SetLibraryOverride(InteropLibrary *Library, const char *Name, void *Function) {
    Debug_CheckPointer(Library);
    Library->SetOverride(Name, Function);
    return TRUE;
}

int32 Interop_SetLibraryOption(InteropLibrary *Library, const char *Name, const char *Value) {
    Debug_CheckPointer(Library);
    Library->SetOption(Name, Value);
    return TRUE;
}

int32 Interop_DispatchSetOption(const char *Name, const char *Value) {
    InteropStruct *Global = Interop_Global();
    CriticalSection_Lock(Global->Lock);
    for (InteropLibrary *Library = Global->Libraries.Head; Library != nullptr; Library = Library->Next)
        Library->SetOption(Name, Value);
    CriticalSection_Unlock(Global->Lock);
    return TRUE;
}

int32 Interop_FreeLibrary(InteropLibrary *Library) {
    Debug_CheckPointer(Library);
    __atomic_add_fetch(&Library->UnloadRequests, 1, __ATOMIC_SEQ_CST);
    return TRUE;
}

int32 Interop_FreeLibraryByName(const char *Name) {
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Name);
    CriticalSection_Lock(Global->Lock);
    InteropLibrary *Library = Global->Libraries.Head;
    while (Library != nullptr && !String_CompareWithoutCase(Library->Name, Name)) Library = Library->Next;
    if (Library != nullptr) Interop_FreeLibrary(Library);
    CriticalSection_Unlock(Global->Lock);
    if (Library != nullptr) return TRUE;
    if (Global->Verbose) Log_Debug("Unable to find library for removal (%s)\n", Name);
    return FALSE;
}

int32 Interop_SetOverride(const char *Name, void *Function) {
    if (Name == nullptr) return FALSE;
    for (const HookSetter &Setter : HookSetters) {
        if (!String_CompareWithoutCase(Name, Setter.Name)) continue;
        Interop_InstallFunc Install = Setter.Install;
        if (Install == nullptr) {
            HandOver *Entry = FindHandOver(Setter.Name);
            Install = Entry != nullptr ? __atomic_load_n(&Entry->Install, __ATOMIC_ACQUIRE) : nullptr;
        }
        if (Install == nullptr) return FALSE;
        return Install(Function) ? TRUE : FALSE;
    }
    return FALSE;
}

int32 Interop_SetHandOver(const char *Name, void *Function, Interop_InstallFunc Install) {
    if (Name == nullptr) return FALSE;
    HandOver *Entry = FindHandOver(Name);
    if (Entry == nullptr) return FALSE;
    // Every start-up sets the same functions again: only a change is written.
    if (__atomic_load_n(&Entry->Function, __ATOMIC_ACQUIRE) != Function)
        __atomic_store_n(&Entry->Function, Function, __ATOMIC_RELEASE);
    if (__atomic_load_n(&Entry->Install, __ATOMIC_ACQUIRE) != Install)
        __atomic_store_n(&Entry->Install, Install, __ATOMIC_RELEASE);
    return TRUE;
}
