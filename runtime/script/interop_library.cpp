// Interop libraries: families exported by shared objects, loaded through the
// platform's library loader (lazy binding, local symbols, so nothing in a
// library interposes with the host or another library) and unloaded on a
// thread of their own.
//
// A shared object is registered once. Loading it again gains a reference on
// that registration and gives the loader's extra reference back at once, so
// the unload thread's one close really unloads it. The unload thread runs
// only when every load has been matched by an unload request and the family
// has no live instance; the process step polls it and frees the record.
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/script/interop_internal.h"

// How long the end of the bridge waits for a library's unload thread.
constexpr int32 UnloadWaitMilliseconds = 120000;

namespace {

void CloseSharedObject(void **Handle) {
    if (*Handle == nullptr) return;
    Platform_FreeLibrary(*Handle);
    *Handle = nullptr;
}

int32 Interop_ThreadRemoveLibrary(void *User) {
    auto *Library = static_cast<InteropLibrary *>(User);
    if (__atomic_load_n(&Library->RefCount, __ATOMIC_SEQ_CST) != 0)
        Debug_Abort("Assertion failed (Library->RefCount == 0)\nAttempted to remove an active library");
    Library->Unload();
    CloseSharedObject(&Library->SharedObject);
    return 0;
}

// Unlinks a library whose unload has ended (or never began) and frees it.
void FreeLibraryRecord(InteropStruct *Global, InteropLibrary *Library) {
    CloseSharedObject(&Library->SharedObject);
    InteropList_Unlink(Global->Libraries, Library);
    Memory_Delete(Library);
}

template <typename Func> Func Export(void *Handle, const char *Name) {
    return reinterpret_cast<Func>(Platform_GetProcAddress(Handle, Name));
}

// The registration of this shared object, with one more reference; null when
// it has none. A registration whose unload is under way is finished first:
// its family has been told to unload, so the object is registered afresh.
InteropLibrary *FindLoaded(InteropStruct *Global, void *Handle, bool *Failed) {
    CriticalSection_Lock(Global->Lock);
    InteropLibrary *Library = Global->Libraries.Head;
    while (Library != nullptr && Library->Identity != Handle) Library = Library->Next;
    if (Library != nullptr && Library->UnloadThread != nullptr) {
        if (Thread_Join(UnloadWaitMilliseconds, &Library->UnloadThread)) {
            FreeLibraryRecord(Global, Library);
        } else {
            Log_Debug("Timeout waiting on interop shutdown thread\n");
            *Failed = true;
        }
        Library = nullptr;
    } else if (Library != nullptr) {
        __atomic_add_fetch(&Library->RefCount, 1, __ATOMIC_SEQ_CST);
    }
    CriticalSection_Unlock(Global->Lock);
    return Library;
}

} // namespace

InteropLibrary *Interop_LoadLibrary(const char *Path) { return Interop_LoadLibraryOpened(Path, -1); }

InteropLibrary *Interop_LoadLibraryOpened(const char *Path, int32 Descriptor) {
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Path);
    void *Handle = Descriptor >= 0 ? Platform_LoadLibraryOpened(Descriptor, Path, 1) : Platform_LoadLibrary(Path, 1);
    InteropLibrary *Library = nullptr;
    bool Failed = Handle == nullptr;
    if (!Failed) Library = FindLoaded(Global, Handle, &Failed);
    if (Library != nullptr) {
        Platform_FreeLibrary(Handle);
        return Library;
    }
    if (!Failed) {
        Library = Interop_InternalAdd(Path, Handle, Export<Interop_LoadFunc>(Handle, "Interop_Load"),
                                      Export<Interop_UnloadFunc>(Handle, "Interop_Unload"),
                                      Export<Interop_CreateInstanceFunc>(Handle, "Interop_CreateInstance"),
                                      Export<Interop_SetOverrideFunc>(Handle, "Interop_SetOverride"),
                                      Export<Interop_SetOptionFunc>(Handle, "Interop_SetOption"));
    }
    if (Library == nullptr) {
        Log_Error("Failed to load interop (%s)\n", Path);
        CloseSharedObject(&Handle);
    }
    return Library;
}

void Interop_ProcessLibraries(void) {
    InteropStruct *Global = GlobalInterop;
    CriticalSection_Lock(Global->Lock);
    InteropLibrary *Next = nullptr;
    for (InteropLibrary *Library = Global->Libraries.Head; Library != nullptr; Library = Next) {
        Next = Library->Next;
        if (Library->UnloadThread != nullptr) {
            if (Thread_Join(0, &Library->UnloadThread)) FreeLibraryRecord(Global, Library);
            continue;
        }
        if (__atomic_load_n(&Library->UnloadRequests, __ATOMIC_SEQ_CST) <= 0) continue;
        if (Interop_CountLibraryInstances(Library) != 0) continue;
        __atomic_sub_fetch(&Library->UnloadRequests, 1, __ATOMIC_SEQ_CST);
        if (__atomic_sub_fetch(&Library->RefCount, 1, __ATOMIC_SEQ_CST) == 0)
            Thread_Begin(&Library->UnloadThread, Library, Interop_ThreadRemoveLibrary);
    }
    CriticalSection_Unlock(Global->Lock);
}

void Interop_RemoveLibraries(void) {
    InteropStruct *Global = GlobalInterop;
    CriticalSection_Lock(Global->Lock);
    while (Global->Libraries.Head != nullptr) {
        InteropLibrary *Library = Global->Libraries.Head;
        if (Library->UnloadThread == nullptr) {
            Library->Unload();
        } else if (!Thread_Join(UnloadWaitMilliseconds, &Library->UnloadThread)) {
            // The thread still uses the record and the object: leave both.
            Log_Debug("Timeout waiting on interop shutdown thread\n");
            InteropList_Unlink(Global->Libraries, Library);
            continue;
        }
        FreeLibraryRecord(Global, Library);
    }
    CriticalSection_Unlock(Global->Lock);
}
