// Notification center: what pages need of it. Page references to native
// instances (counted per instance id; the first reference and the last
// release are announced as "NotificationCenter"/"Interop" fires), and script
// observers, whose notifications become items of the page batch through the
// script bridge's callbacks.
//
// The reference counts live in a Dictionary under the center's lock; the
// lock is never held across a fire, since a fire from a thread other than
// the owner waits for the owner thread, which needs the lock to deliver.
#include <string.h>

#include "runtime/containers/dictionary.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_center_internal.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"

namespace {

constexpr int64 ObserverCost = 1024;
// An id's entry in the reference counts and in the page's own list of them,
// the id kept cut to a key's length in both: measured at about 200 bytes
// with short ids. One figure whatever the id, so that a release naming the
// entry by another text of the same cut gives back what its add took.
constexpr int64 ReferenceCost = 512;

// Fires "NotificationCenter"/"Interop" for the instance with {"addRef":flag}.
int32 FireReferenceChange(const char *Instance, uint32 AddRef) {
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_AddBoolean(Info, "addRef", AddRef, nullptr);
    int32 Result = NotificationCenter_Fire(NotificationCenterType, NotificationInteropName, Instance, Info);
    Dictionary_Release(&Info);
    return Result;
}

} // namespace

int32 NotificationCenter_AddRefInteropReference(const char *Instance) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Instance == nullptr) return FALSE;
    int32 Count = 0;
    NotificationCenter_Lock(Center);
    Dictionary_GetInt32ByKey(Center->InteropReferences, Instance, &Count);
    // A new id is charged while it is counted: a page taking references to
    // ids of its own making without end is refused.
    if (Count == 0 && !MemoryBudget_Take(ReferenceCost)) {
        const uint32 Told = Center->ToldReferenceBudget;
        Center->ToldReferenceBudget = TRUE;
        NotificationCenter_Unlock(Center);
        if (!Told)
            Log_Warning("NotificationCenter - Reference refused - %s: the references pages hold pass the memory "
                        "budget of %lld MiB (later refusals are not logged)\n",
                        NotificationCenter_Part(Instance), (long long)(MemoryBudget_GetLimit() >> 20));
        return FALSE;
    }
    if (Count == 0) Center->ReferencesCharged += ReferenceCost;
    Dictionary_SetInt32ByKey(Center->InteropReferences, Instance, Count + 1);
    NotificationCenter_Unlock(Center);
    // Counted before the fire, so that an observer adding a reference of its
    // own does not announce the first one twice.
    if (Count == 0) FireReferenceChange(Instance, TRUE);
    return TRUE;
}

int32 NotificationCenter_ReleaseInteropReference(const char *Instance) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Instance == nullptr) return FALSE;
    int32 Count = 0;
    NotificationCenter_Lock(Center);
    int32 Found = Dictionary_GetInt32ByKey(Center->InteropReferences, Instance, &Count);
    if (!Found || Count <= 0) {
        // A release without a reference would leave the count below 0, and
        // the next first reference would go unannounced while a later
        // release announced the last one: the object would drop a
        // reference it never took.
        NotificationCenter_Unlock(Center);
        Log_Debug("NotificationCenter - Release of an unreferenced instance - %s\n", Instance);
        return FALSE;
    }
    Count--;
    if (Count == 0) {
        Dictionary_RemoveByKey(Center->InteropReferences, Instance);
        Center->ReferencesCharged -= ReferenceCost;
        MemoryBudget_Give(ReferenceCost);
    } else
        Dictionary_SetInt32ByKey(Center->InteropReferences, Instance, Count);
    NotificationCenter_Unlock(Center);
    if (Count == 0) FireReferenceChange(Instance, FALSE);
    return TRUE;
}

int32 NotificationCenter_TakeInteropReferenceChange(const char *Instance, Dictionary *Info, uint32 *Held,
                                                    uint32 *AddRef) {
    NotificationCenter *Center = NotificationCenter_Checked();
    Debug_CheckPointer(Held);
    Debug_CheckPointer(AddRef);
    uint32 Asked = FALSE;
    if (Info != nullptr) Dictionary_GetBooleanByKey(Info, "addRef", &Asked);
    int32 Count = 0;
    if (Instance != nullptr) {
        NotificationCenter_Lock(Center);
        Dictionary_GetInt32ByKey(Center->InteropReferences, Instance, &Count);
        NotificationCenter_Unlock(Center);
    }
    // The count moves before its fire and a fire from another thread is
    // delivered later: a message the count has moved past is refused too,
    // and the one that follows it brings the observer level again.
    const bool Referenced = Count > 0;
    if ((Asked && Referenced && !*Held) || (!Asked && !Referenced && *Held)) {
        *Held = Asked ? TRUE : FALSE;
        *AddRef = Asked;
        return TRUE;
    }
    Log_Warning("NotificationCenter - Reference message refused - %s - %s while pages hold %d and the object %s\n",
                NotificationCenter_Part(Instance), Asked ? "add" : "release", Count,
                *Held ? "holds one" : "holds none");
    return FALSE;
}

int32 NotificationCenter_AddInstanceObserverInterop(const char *Type, const char *Name, const char *Instance,
                                                    const char *CallbackId) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Center->Verbose)
        Log_Debug("NotificationCenter - Add interop observer - %s.%s - %s - %s\n", NotificationCenter_Part(Type),
                  NotificationCenter_Part(Name), NotificationCenter_Part(Instance), CallbackId);
    InteropCallback *Callback = nullptr;
    Interop_AddCallback(CallbackId, Center, Interop_Execute, &Callback);
    // What a page's observer keeps in the host (its key, its records, the
    // page's own note of it, about 1 KiB with short names) is charged while
    // it lives, so that a page adding observers without end is refused.
    const int64 Cost = ObserverCost + (int64)strlen(Type != nullptr ? Type : "") +
                       (int64)strlen(Name != nullptr ? Name : "") + (int64)strlen(Instance != nullptr ? Instance : "") +
                       (int64)strlen(CallbackId != nullptr ? CallbackId : "");
    if (!Interop_ChargeCallback(Callback, Cost)) {
        Interop_ReleaseCallback(&Callback);
        if (!Center->ToldObserverBudget)
            Log_Warning("NotificationCenter - Observer refused - %s.%s: the observers a page keeps pass the memory "
                        "budget of %lld MiB (later refusals are not logged)\n",
                        NotificationCenter_Part(Type), NotificationCenter_Part(Name),
                        (long long)(MemoryBudget_GetLimit() >> 20));
        Center->ToldObserverBudget = TRUE;
        return FALSE;
    }
    return NotificationCenter_AddInstanceObserver(Type, Name, Instance, Callback,
                                                  NotificationCenter_InteropExecuteObserverCallback);
}

int32 NotificationCenter_AddObserverInterop(const char *Type, const char *Name, const char *CallbackId) {
    return NotificationCenter_AddInstanceObserverInterop(Type, Name, NOTIFICATIONCENTER_GLOBAL, CallbackId);
}

int32 NotificationCenter_RemoveInstanceObserverInterop(const char *Type, const char *Name, const char *Instance,
                                                       const char *CallbackId) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (CallbackId == nullptr) return FALSE;
    int32 Result = FALSE;
    // Records keep their id cut to 39 characters: compare with it cut alike,
    // so that a longer id the page added with still removes its observer.
    char Wanted[INTEROP_CALLBACK_ID_SIZE];
    String_CopyLength(Wanted, CallbackId, (int32)sizeof(Wanted));
    NotificationCenter_Lock(Center);
    // A page may use one callback id for several observers: the record to
    // drop is the one this key's observer holds, not the first with the id.
    InteropCallback *Callback = nullptr;
    if (NotificationKeyRecord *Record = NotificationCenter_Find(Center, Type, Name, Instance)) {
        for (NotificationObserverRecord *Entry = Record->Observers.Head; Entry != nullptr; Entry = Entry->Next) {
            if (Entry->Removed || Entry->Function != NotificationCenter_InteropExecuteObserverCallback) continue;
            auto *Candidate = static_cast<InteropCallback *>(Entry->User);
            if (!String_CompareWithoutCase(Interop_GetCallbackId(Candidate), Wanted)) continue;
            Callback = Candidate;
            break;
        }
    }
    if (Callback != nullptr) {
        if (Center->Verbose)
            Log_Debug("NotificationCenter - Remove interop observer - %s.%s - %s - %s\n",
                      NotificationCenter_Part(Type), NotificationCenter_Part(Name),
                      NotificationCenter_Part(Instance), CallbackId);
        Result = NotificationCenter_RemoveInstanceObserver(Type, Name, Instance, Callback,
                                                           NotificationCenter_InteropExecuteObserverCallback);
        Interop_ReleaseCallback(&Callback);
    }
    NotificationCenter_Unlock(Center);
    return Result;
}

int32 NotificationCenter_RemoveObserverInterop(const char *Type, const char *Name, const char *CallbackId) {
    return NotificationCenter_RemoveInstanceObserverInterop(Type, Name, NOTIFICATIONCENTER_GLOBAL, CallbackId);
}

int32 NotificationCenter_InteropExecuteObserverCallback(void *Callback, const char *Type, const char *Name,
                                                        const char *Sender, Dictionary *UserInfo) {
    // Reference announcements are for native objects only.
    if (String_Compare(Type, NotificationCenterType) && String_Compare(Name, NotificationInteropName)) return TRUE;
    NotificationCenter *Center = NotificationCenter_Checked();
    auto *Record = static_cast<InteropCallback *>(Callback);
    const char *CallbackId = Interop_GetCallbackId(Record);

    Dictionary *Item = nullptr;
    Dictionary_Create(&Item);
    Dictionary_AddString(Item, "type", Type, nullptr);
    Dictionary_AddString(Item, "notification", Name, nullptr);
    Dictionary_AddString(Item, "sender", Sender, nullptr);
    Dictionary_AddString(Item, "callbackId", CallbackId, nullptr);
    const bool Retained = NotificationCenter_IsRetained(Center, Sender);
    if (Retained) Dictionary_AddBoolean(Item, "retained", TRUE, nullptr);
    // Every page receives the batch and releases once; an item the queue
    // refused reaches no page.
    const bool Loop = NotificationCenter_IsLoopFire(Type, Name);
    if (Interop_RaiseCallbackWithInfo(Record, Item, UserInfo, Loop ? TRUE : FALSE) && Retained) {
        int32 Pages = Interop_GetExecuteCallbackCount();
        for (int32 Page = 0; Page < Pages; Page++) NotificationCenter_AddRefInteropReference(Sender);
    }
    Dictionary_Release(&Item);
    if (Center->Verbose)
        Log_Debug("NotificationCenter - Trigger interop observer - %s.%s - %s - %s [0x%p]\n", Type, Name, Sender,
                  CallbackId, Callback);
    return TRUE;
}
