// Notification center: delivery, immediate and queued fires, and the process
// step.
//
// Delivery runs on the owner thread with the lock held, released around each
// observer call. DeliveryDepth counts those calls; while it is above 0 a
// process step (run by an observer's nested main loop) must not flush
// removals or unlink queued fires, since the outer walks hold pointers into
// both. Such a step only marks itself deferred, and the process event is
// posted once the outermost call has returned.
#include <string.h>

#include <algorithm>

#include "runtime/containers/pool_internal.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_center_internal.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "runtime/time.h"

namespace {

// Seconds one process step may spend on queued fires.
constexpr float64 ProcessBudgetSeconds = 0.1;
// The clock counts whole milliseconds, but their differences in seconds are
// not exact: 0.251 - 0.001 may fall short of 0.25.
constexpr float64 DueSlackSeconds = 1e-6;
// Fires a walk delivers without calling any observer before it reads the
// clock for its budget all the same: such a fire costs well under a
// microsecond, so the step overruns its budget by a few at most.
constexpr uint32 QuietFiresPerReading = 16;

NotificationCenter_FireFunc FireHook = nullptr;
NotificationCenter_FireAfterDelayFunc FireAfterDelayHook = nullptr;

void AssertOwnerThread(NotificationCenter *Center) {
    if (Thread_GetCurrentId() != Center->OwnerThreadId)
        Debug_Abort("Assertion failed (Thread_GetCurrentId() == Center->OwnerThreadId)\n"
                    "NotificationCenter - Process not on its owner thread\n");
}

// Queues a fire for the process step, its names written into the record by
// CopyNames. With a signal, the caller waits on it and *Delivered tells
// whether the owner thread delivered the fire.
template <typename NameCopier>
void QueueFire(NotificationCenter *Center, const NameCopier &CopyNames, int32 DelayMilliseconds, Dictionary *UserInfo,
               Signal *Waiter, int32 *Delivered, bool Shared, bool Own = false, uint32 Held = 0,
               bool Awaited = false) {
    Dictionary *Payload = nullptr;
    if (UserInfo != nullptr && Shared) {
        Payload = Dictionary_AddRef(UserInfo);
    } else if (UserInfo != nullptr) {
        // The caller keeps its own Dictionary; the center delivers a copy.
        Dictionary_Create(&Payload);
        Dictionary_Merge(Payload, UserInfo, DICTIONARY_MERGE_OVERWRITE);
    }
    // A negative delay is as good as none: the fire is due at once.
    if (DelayMilliseconds < 0) DelayMilliseconds = 0;
    // A fire due at once is due for every walk that starts after it was
    // queued, so it needs no reading of its own. Only the walk in progress,
    // if any, asks when it was queued: its newest reading, taken after the
    // last observer call that ended, answers (while a walk runs, fires are
    // queued inside its observer calls). The walk delivers the fires queued
    // in the millisecond it started and leaves those queued after it saw the
    // clock move for the next step; one queued in the very call in which
    // the clock moved counts as queued just before the move.
    const float64 Queued = DelayMilliseconds > 0 ? Time_GetCurrent() : NotificationQueuedBeforeAnyStep;
    NotificationCenter_Lock(Center);
    // The center's pools are used under its lock only, so they need none of
    // their own; every field of the record is set here. One queued fire is
    // taken and given back for nearly every fire: inline where the pool
    // allows.
    auto *Fire = static_cast<NotificationPendingFire *>(
        PoolInt_Alloc(Center->PendingPool, (int32)sizeof(NotificationPendingFire)));
    CopyNames(*Fire);
    Fire->Delay = DelayMilliseconds / 1000.0;
    Fire->Queued = DelayMilliseconds == 0 && Center->Walking ? Center->WalkClock : Queued;
    Fire->UserInfo = Payload;
    Fire->Held = Held;
    Fire->Own = Own ? 1 : 0;
    Fire->Echo = Thread_GetCurrentId() == Center->OwnerThreadId && Center->EchoDepth > 0 ? 1 : 0;
    Fire->Awaited = Awaited ? 1 : 0;
    Center->Awaited += Fire->Awaited;
    Fire->Waiter = Waiter;
    Fire->Delivered = Delivered;
    Fire->WaiterThreadId = Waiter != nullptr ? Thread_GetCurrentId() : 0;
    NotificationList_Append(Center->Pending, Fire);
    // Posted before the lock is let go: once the fire is queued the owner may
    // remove the center (waking a blocked caller), so the firing thread must
    // not touch the center after this section.
    if (DelayMilliseconds == 0 && !Center->ProcessPosted) NotificationCenter_PostProcess(Center);
    NotificationCenter_Unlock(Center);
}

void NotificationCenter_FireAfterDelayInternal(NotificationCenter *Center, const char *Type, const char *Name,
                                               const char *Instance, int32 DelayMilliseconds, Dictionary *UserInfo,
                                               Signal *Waiter, int32 *Delivered, bool Shared = false,
                                               bool Own = false, uint32 Held = 0, bool Awaited = false) {
    auto CopyNames = [Type, Name, Instance](NotificationPendingFire &Fire) {
        Fire.TypeLength = (uint8)NotificationCenter_CopyName(Fire.Type, NotificationCenter_Part(Type));
        Fire.NameLength = (uint8)NotificationCenter_CopyName(Fire.Name, NotificationCenter_Part(Name));
        Fire.InstanceLength = (uint8)NotificationCenter_CopyName(Fire.Instance, NotificationCenter_Part(Instance));
        Fire.NameSlot = NotificationNoSlot;
    };
    QueueFire(Center, CopyNames, DelayMilliseconds, UserInfo, Waiter, Delivered, Shared, Own, Held, Awaited);
}

// What a payload holds in memory, about: a record per container and item
// and their texts, so that many small members count as what they cost, not
// as the few bytes of their JSON. A page's payload is at most 31 levels
// deep, so is the walk.
constexpr size_t ContainerBytes = 128;
constexpr size_t ItemBytes = 96;

size_t HeldBytes(Dictionary *Container) {
    size_t Bytes = ContainerBytes;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Container, &Item); Item != nullptr; Dictionary_ItemGetNext(Container, Item, &Item)) {
        const char *Text = nullptr;
        int32 Length = 0;
        Dictionary *Child = nullptr;
        Bytes += ItemBytes + (Dictionary_ItemGetKeyPtr(Container, Item, &Text) ? strlen(Text) : 0);
        if (Dictionary_ItemGetDictionaryHandle(Container, Item, &Child)) Bytes += HeldBytes(Child);
        else if (Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length)) Bytes += (size_t)Length;
    }
    return Bytes;
}

// Lock held, owner thread, depth 0. Delivers the due queued fires within the
// budget; true when fires remain unwalked.
bool DeliverPending(NotificationCenter *Center, float64 Start) {
    // A millisecond's margin keeps a rounding of the sum from skipping a
    // fire that the walk's own test finds due.
    const bool Skip = Center->Walked != nullptr && Start + 0.001 < Center->LeftDue;
    if (!Skip) Center->Walked = nullptr, Center->LeftDue = __builtin_inf();
    NotificationPendingFire *Fire = Skip ? Center->Walked->Next : Center->Pending.Head;
    const uint32 Epoch = Center->WalkEpoch;
    Center->Walking = 1;
    Center->WalkClock = Start;
    uint32 Quiet = 0;
    while (Fire != nullptr) {
        const uint32 CallsBefore = Center->Calls;
        // Nothing unlinks queued fires during the delivery below (other
        // threads only append), so the successor stays valid.
        NotificationPendingFire *Next = Fire->Next;
        if (Start - Fire->Queued + DueSlackSeconds >= Fire->Delay) {
            // Given back first: what it holds makes room for what it sends.
            NotificationCenter_GiveBack(Center, Fire);
            NotificationCenter_FireNamesInternal(Center,
                                                 {Fire->Type, Fire->Name, Fire->Instance, Fire->TypeLength,
                                                  Fire->NameLength, Fire->InstanceLength, true, Fire->NameSlot,
                                                  Fire->Own != 0, Fire->Echo != 0},
                                                 Fire->UserInfo);
            NotificationList_Unlink(Center->Pending, Fire);
            if (Fire->UserInfo != nullptr) Dictionary_Release(&Fire->UserInfo);
            Signal *Waiter = Fire->Waiter;
            if (Fire->Delivered != nullptr) *Fire->Delivered = 1;
            PoolInt_Free(Center->PendingPool, Fire, (int32)sizeof(NotificationPendingFire));
            // Last touch: the woken firer deletes its signal.
            if (Waiter != nullptr) Signal_Set(Waiter, 1);
        } else if (Epoch == Center->WalkEpoch) {
            Center->Walked = Fire;
            Center->LeftDue = std::min(Center->LeftDue, Fire->Queued + Fire->Delay - DueSlackSeconds);
        }
        Fire = Next;
        // After the last fire there is nothing left to stop for.
        if (Fire == nullptr || (Center->Calls == CallsBefore && ++Quiet < QuietFiresPerReading)) continue;
        Quiet = 0;
        Center->WalkClock = Time_GetCurrent();
        if (Center->WalkClock - Start >= ProcessBudgetSeconds) {
            Center->Walking = 0;
            return true;
        }
    }
    Center->Walking = 0;
    return false;
}

// The keys a fire looks up besides the wildcard's, "type.name.Global" and
// "type.name.instance", composed and hashed as far as they agree only once.
class FireKeys {
  public:
    // Lock held. False when no key record's name part shares the slot of
    // the fire's: then none but the wildcard observes it.
    bool Begin(NotificationCenter *Center, const NotificationFireNames &Fired) {
        if (Fired.NameSlot != NotificationNoSlot && Center->NameCounts[Fired.NameSlot] == 0) return false;
        if (Fired.TypeLength < NotificationNameSize && Fired.NameLength < NotificationNameSize) {
            // Copied out: the observer calls between this fire's look-ups
            // may replace the memo.
            const NotificationPrefixMemo &Memo = NotificationCenter_PrefixMemo(Center, Fired);
            NamePart = Memo.Part;
            if (Center->NameCounts[NotificationCenter_NameSlot(NamePart)] == 0) return false;
            Prefix = Memo.Used;
            // The whole field (its terminator included), a fixed move.
            static_assert(sizeof(Memo.Prefix) <= NotificationKeySize);
            memcpy(Key, Memo.Prefix, sizeof(Memo.Prefix));
            return true;
        }
        Prefix = NotificationCenter_PrintKeyPrefix(Key, Fired.Type, Fired.TypeLength, Fired.Name, Fired.NameLength);
        // A prefix that holds fewer than two dots was cut: it is every key.
        NamePart = NotificationCenter_NamePart(Key, Prefix);
        return Center->NameCounts[NotificationCenter_NameSlot(NamePart)] != 0;
    }
    // Lock held. The key record of this instance, or null.
    NotificationKeyRecord *Find(NotificationCenter *Center, const char *Instance, size_t InstanceLength) {
        // When the name part is the whole prefix and the instance fits
        // behind it, the rest of the key is the instance: the counts answer
        // before it is written.
        if (NamePart.Length == Prefix && InstanceLength <= NotificationKeySize - 1 - Prefix &&
            NotificationCenter_KeysLike(Center, NamePart, NotificationCenter_IsGlobal(Instance, InstanceLength)) == 0)
            return nullptr;
        const size_t Length = NotificationCenter_PrintKeyInstance(Key, Prefix, Instance, InstanceLength);
        if (NotificationCenter_KeysLike(Center, NamePart, NotificationCenter_HasGlobalRest(Key, Length, NamePart)) == 0)
            return nullptr;
        return NotificationCenter_FindProbe(Center, NotificationCenter_ProbeRest(Key, Length, NamePart));
    }

  private:
    char Key[NotificationKeySize];
    size_t Prefix = 0;
    NotificationNamePart NamePart{};
};

} // namespace

// ---- Delivery ----

void NotificationCenter_FireCallbacksInternal(NotificationCenter *Center, NotificationKeyRecord *Record,
                                              const char *Type, const char *Name, const char *Instance,
                                              Dictionary *UserInfo) {
    NotificationObserverRecord *Entry = Record->Observers.Head;
    while (Entry != nullptr) {
        // An entry appended during the call below is reached only when it
        // was added before this successor was taken.
        NotificationObserverRecord *Next = Entry->Next;
        if (Entry->Function != nullptr && !Entry->Removed) {
            Center->Calls++;
            Center->DeliveryDepth++;
            NotificationCenter_Unlock(Center);
            Entry->Function(Entry->User, Type, Name, Instance, UserInfo);
            NotificationCenter_Lock(Center);
            if (--Center->DeliveryDepth == 0 && Center->ProcessDeferred) {
                Center->ProcessDeferred = 0;
                NotificationCenter_PostProcess(Center);
            }
        }
        Entry = Next;
    }
}

void NotificationCenter_FireInternal(NotificationCenter *Center, const char *Type, const char *Name,
                                     const char *Instance, Dictionary *UserInfo) {
    NotificationCenter_FireNamesInternal(Center, NotificationCenter_MeasureNames(Type, Name, Instance), UserInfo);
}

namespace {
void FireNames(NotificationCenter *Center, const NotificationFireNames &Fired, Dictionary *UserInfo);
} // namespace

// Observers may ask whether the fire they are called for is an Own one: the
// flag is this fire's while its observers run, and the outer fire's again
// once a fire nested in one of them has ended.
void NotificationCenter_FireNamesInternal(NotificationCenter *Center, const NotificationFireNames &Fired,
                                          Dictionary *UserInfo) {
    const uint8 Outer = Center->DeliveringOwn, OuterEcho = Center->DeliveringEcho;
    Center->DeliveringOwn = Fired.Own ? 1 : 0;
    Center->DeliveringEcho = Fired.Echo || OuterEcho ? 1 : 0;
    FireNames(Center, Fired, UserInfo);
    Center->DeliveringOwn = Outer;
    Center->DeliveringEcho = OuterEcho;
}

namespace {
void FireNames(NotificationCenter *Center, const NotificationFireNames &Fired, Dictionary *UserInfo) {
    const char *Type = Fired.Type, *Name = Fired.Name, *Instance = Fired.Instance;
    if (Center->Verbose) Log_Debug("NotificationCenter - Fire event - %s.%s - %s\n", Type, Name, Instance);

    NotificationKeyRecord *Wildcard = Center->Wildcard;
    if (Wildcard != nullptr) {
        NotificationCenter_CopyMeasuredName(Wildcard->Type, Type, Fired.TypeLength);
        NotificationCenter_CopyMeasuredName(Wildcard->Name, Name, Fired.NameLength);
        // The record's fields change with every fire, nested ones included;
        // this fire's observers read this fire's own copies.
        char FiredType[NotificationNameSize];
        char FiredName[NotificationNameSize];
        NotificationCenter_CopyMeasuredName(FiredType, Type, Fired.TypeLength);
        NotificationCenter_CopyMeasuredName(FiredName, Name, Fired.NameLength);
        NotificationCenter_FireCallbacksInternal(Center, Wildcard, FiredType, FiredName, Instance, UserInfo);
    }
    FireKeys Keys;
    if (!Keys.Begin(Center, Fired)) return;
    NotificationKeyRecord *Named = Keys.Find(Center, NOTIFICATIONCENTER_GLOBAL, NotificationGlobalLength);
    // A fire named "Global"/"Global" finds the wildcard again; it was served.
    if (Named != nullptr && Named != Wildcard)
        NotificationCenter_FireCallbacksInternal(Center, Named, Named->Type, Named->Name, Instance, UserInfo);
    // Looked up after the calls above: an observer they add is reached.
    if (!NotificationCenter_IsGlobal(Instance, Fired.InstanceLength)) {
        NotificationKeyRecord *Sender = Keys.Find(Center, Instance, Fired.InstanceLength);
        if (Sender != nullptr)
            NotificationCenter_FireCallbacksInternal(Center, Sender, Sender->Type, Sender->Name, Instance, UserInfo);
    }
}

} // namespace

void NotificationCenter_PostProcess(NotificationCenter *Center) {
    NotificationCenter_Lock(Center);
    // One queued event serves every fire queued before its step walks the
    // queued fires: the event clears the flag under this lock before its
    // step begins, so a fire that finds the flag set is walked by that step,
    // and one that finds it clear posts again. Only the center's own removal takes
    // the event out of the queue unrun. Most fires find it set, and skip the
    // queue's lock and its search for the twin.
    if (!Center->ProcessPosted) {
        Center->ProcessPosted = 1;
        EventQueue_AddProcessByThreadId(Center->OwnerThreadId, Center, NotificationCenter_ProcessEvent);
    }
    NotificationCenter_Unlock(Center);
}

// ---- Fires ----

int32 NotificationCenter_Fire(const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo) {
    if (auto Hook = __atomic_load_n(&FireHook, __ATOMIC_ACQUIRE)) return Hook(Type, Name, Instance, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() == Center->OwnerThreadId) {
        NotificationCenter_Lock(Center);
        NotificationCenter_FireInternal(Center, Type, Name, Instance, UserInfo);
        NotificationCenter_Unlock(Center);
        return TRUE;
    }
    Signal *Waiter = nullptr;
    Signal_Create(&Waiter);
    int32 Delivered = 0;
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, 0, UserInfo, Waiter, &Delivered);
    Signal_Wait(Waiter, nullptr, -1);
    Signal_Delete(&Waiter);
    return Delivered;
}

int32 NotificationCenter_FireOwn(const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo) {
    // A forwarding hook hands fires to another center, which knows no Own.
    if (auto Hook = __atomic_load_n(&FireHook, __ATOMIC_ACQUIRE)) return Hook(Type, Name, Instance, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() == Center->OwnerThreadId) {
        NotificationFireNames Fired = NotificationCenter_MeasureNames(Type, Name, Instance);
        Fired.Own = true;
        NotificationCenter_Lock(Center);
        NotificationCenter_FireNamesInternal(Center, Fired, UserInfo);
        NotificationCenter_Unlock(Center);
        return TRUE;
    }
    Signal *Waiter = nullptr;
    Signal_Create(&Waiter);
    int32 Delivered = 0;
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, 0, UserInfo, Waiter, &Delivered, false,
                                              true);
    Signal_Wait(Waiter, nullptr, -1);
    Signal_Delete(&Waiter);
    return Delivered;
}

int32 NotificationCenter_FireAfterDelayOwn(const char *Type, const char *Name, const char *Instance,
                                           int32 DelayMilliseconds, Dictionary *UserInfo) {
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Type, Name, Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, DelayMilliseconds, UserInfo, nullptr,
                                              nullptr, false, true);
    return TRUE;
}

int32 NotificationCenter_IsOwnFire(void) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() != Center->OwnerThreadId) return FALSE;
    return Center->DeliveringOwn != 0 && Center->DeliveryDepth > 0;
}

int32 NotificationCenter_IsLoopFire(const char *Type, const char *Name) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() == Center->OwnerThreadId && Center->DeliveryDepth > 0 &&
        (Center->EchoDepth > 0 || Center->DeliveringEcho))
        return TRUE;
    if (Type == nullptr || Name == nullptr || !NotificationCenter_IsOwnFire()) return FALSE;
    for (const NotificationCenterLoopName &Each : NotificationCenter_LoopNames)
        if (String_CompareWithoutCase(Type, Each.Type) && String_CompareWithoutCase(Name, Each.Name)) return TRUE;
    return FALSE;
}

int32 NotificationCenter_SetLoopEcho(int32 On) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() != Center->OwnerThreadId) return FALSE;
    Center->PageEcho = On ? 1 : 0;
    return TRUE;
}

int32 NotificationCenter_BeginPageFire(void) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Thread_GetCurrentId() != Center->OwnerThreadId || !Center->PageEcho) return FALSE;
    Center->EchoDepth++;
    return TRUE;
}

int32 NotificationCenter_EndPageFire(int32 Begun) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Begun && Center->EchoDepth > 0) Center->EchoDepth--;
    return TRUE;
}

int32 NotificationCenter_FiresInPlace(void) {
    if (__atomic_load_n(&FireHook, __ATOMIC_ACQUIRE) != nullptr) return FALSE;
    return Thread_GetCurrentId() == NotificationCenter_Checked()->OwnerThreadId;
}

int32 NotificationCenter_FireAfterDelay(const char *Type, const char *Name, const char *Instance,
                                        int32 DelayMilliseconds, Dictionary *UserInfo) {
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Type, Name, Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, DelayMilliseconds, UserInfo, nullptr, nullptr);
    return TRUE;
}

int32 NotificationCenter_FireAfterDelayHeld(const char *Type, const char *Name, const char *Instance,
                                            int32 DelayMilliseconds, Dictionary *UserInfo) {
    // A loaded family's copy hands its fires to the host's center; the pages'
    // calls reach that center through the host's own dispatcher, held there.
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Type, Name, Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    // The bridge, and so the bound, belongs to the owner (the main) thread.
    uint32 Held = 0;
    if (Interop_IsInitialized() && Thread_GetCurrentId() == Center->OwnerThreadId) {
        const size_t Bytes = sizeof(NotificationPendingFire) + (UserInfo != nullptr ? HeldBytes(UserInfo) : 0);
        if (!Interop_Hold(Bytes)) return FALSE;
        Held = (uint32)Bytes; // within the bound, so it fits
    }
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, DelayMilliseconds, UserInfo, nullptr,
                                              nullptr, false, false, Held);
    return TRUE;
}

void NotificationCenter_GiveBack(NotificationCenter *Center, NotificationPendingFire *Fire) {
    if (Fire->Held != 0 && Interop_IsInitialized()) Interop_Unhold(Fire->Held);
    Fire->Held = 0;
    Center->Awaited -= Fire->Awaited;
    Fire->Awaited = 0;
}

int32 NotificationCenter_FireAfterDelayAwaited(const char *Type, const char *Name, const char *Instance,
                                               int32 DelayMilliseconds, Dictionary *UserInfo) {
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Type, Name, Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, DelayMilliseconds, UserInfo, nullptr,
                                              nullptr, false, false, 0, true);
    return TRUE;
}

int32 NotificationCenter_GetAwaitedCount(void) {
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_Lock(Center);
    const uint32 Count = Center->Awaited;
    NotificationCenter_Unlock(Center);
    return (int32)Count;
}

int32 NotificationCenter_HastenAwaited(void) {
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_Lock(Center);
    for (NotificationPendingFire *Fire = Center->Pending.Head; Fire != nullptr; Fire = Fire->Next)
        if (Fire->Awaited) Fire->Delay = 0;
    // The fires left behind may be due now: the next step walks them all.
    Center->Walked = nullptr;
    Center->WalkEpoch++;
    if (Center->Awaited > 0) NotificationCenter_PostProcess(Center);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_FireAfterDelayShared(const char *Type, const char *Name, const char *Instance,
                                              int32 DelayMilliseconds, Dictionary *UserInfo) {
    // A forwarding hook hands the fire to another center, which copies.
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Type, Name, Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    // Another thread's payload is copied as FireAfterDelay copies it: the
    // owner thread would read it while its maker still holds it.
    NotificationCenter_FireAfterDelayInternal(Center, Type, Name, Instance, DelayMilliseconds, UserInfo, nullptr,
                                              nullptr, Thread_GetCurrentId() == Center->OwnerThreadId);
    return TRUE;
}

int32 NotificationCenter_FireAfterDelaySharedNames(const NotificationFireNames &Fired, int32 DelayMilliseconds,
                                                   Dictionary *UserInfo) {
    if (auto Hook = __atomic_load_n(&FireAfterDelayHook, __ATOMIC_ACQUIRE))
        return Hook(Fired.Type, Fired.Name, Fired.Instance, DelayMilliseconds, UserInfo);
    NotificationCenter *Center = NotificationCenter_Checked();
    auto CopyNames = [&Fired](NotificationPendingFire &Fire) {
        Fire.TypeLength = (uint8)NotificationCenter_CopyMeasuredName(Fire.Type, Fired.Type, Fired.TypeLength);
        Fire.NameLength = (uint8)NotificationCenter_CopyMeasuredName(Fire.Name, Fired.Name, Fired.NameLength);
        Fire.InstanceLength =
            (uint8)NotificationCenter_CopyMeasuredName(Fire.Instance, Fired.Instance, Fired.InstanceLength);
        // A name cut to its field no longer has the slot of the whole one.
        Fire.NameSlot = Fire.TypeLength == Fired.TypeLength && Fire.NameLength == Fired.NameLength
                            ? Fired.NameSlot
                            : NotificationNoSlot;
    };
    QueueFire(Center, CopyNames, DelayMilliseconds, UserInfo, nullptr, nullptr,
              Thread_GetCurrentId() == Center->OwnerThreadId, Fired.Own);
    return TRUE;
}

int32 NotificationCenter_IsObserved(const char *Type, const char *Name, const char *Instance) {
    return NotificationCenter_IsObservedNames(NotificationCenter_MeasureNames(Type, Name, Instance));
}

int32 NotificationCenter_IsObservedNames(const NotificationFireNames &Fired) {
    NotificationCenter *Center = NotificationCenter_Checked();
    auto Live = [](NotificationKeyRecord *Record) {
        if (Record == nullptr) return false;
        for (NotificationObserverRecord *Entry = Record->Observers.Head; Entry != nullptr; Entry = Entry->Next)
            if (Entry->Function != nullptr && !Entry->Removed) return true;
        return false;
    };
    FireKeys Keys;
    NotificationCenter_Lock(Center);
    bool Observed = Live(Center->Wildcard);
    if (!Observed && Keys.Begin(Center, Fired))
        Observed = Live(Keys.Find(Center, NOTIFICATIONCENTER_GLOBAL, NotificationGlobalLength)) ||
                   (!NotificationCenter_IsGlobal(Fired.Instance, Fired.InstanceLength) &&
                    Live(Keys.Find(Center, Fired.Instance, Fired.InstanceLength)));
    NotificationCenter_Unlock(Center);
    return Observed ? TRUE : FALSE;
}

// ---- Process step ----

int32 NotificationCenter_Process(void) {
    NotificationCenter *Center = NotificationCenter_Checked();
    AssertOwnerThread(Center);
    NotificationCenter_Lock(Center);
    if (Center->DeliveryDepth > 0) {
        // Inside a delivery: the outer walks hold queued fires and entries.
        Center->ProcessDeferred = 1;
    } else {
        // Read under the lock: every fire appended before is due by it.
        if (DeliverPending(Center, Time_GetCurrent())) NotificationCenter_PostProcess(Center);
        NotificationCenter_RemoveFlush(Center);
    }
    // Newest key record first. Nodes are freed only by the flush above, and
    // a step nested in the calls below does not flush.
    // The step is the center's own: its observers hear an Own fire.
    const uint8 Outer = Center->DeliveringOwn;
    Center->DeliveringOwn = 1;
    NotificationProcessRecord *Node = Center->ProcessObservers.Tail;
    while (Node != nullptr) {
        NotificationProcessRecord *Prev = Node->Prev;
        NotificationKeyRecord *Record = Node->Record;
        NotificationCenter_FireCallbacksInternal(Center, Record, NotificationCenterType, NotificationProcessName,
                                                 Record->Instance, nullptr);
        Node = Prev;
    }
    Center->DeliveringOwn = Outer;
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_ProcessEvent(void *Instance) {
    // An event posted just before the center was removed (or by a center
    // since replaced) has nothing left to process.
    if (GlobalNotificationCenter == nullptr || Instance != GlobalNotificationCenter) return FALSE;
    NotificationCenter *Center = NotificationCenter_Checked();
    AssertOwnerThread(Center);
    NotificationCenter_Lock(Center);
    Center->ProcessPosted = 0;
    NotificationCenter_Unlock(Center);
    return NotificationCenter_Process();
}

// ---- Forwarding hooks ----

int32 NotificationCenter_FireOverride(NotificationCenter_FireFunc Function) {
    __atomic_store_n(&FireHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}

int32 NotificationCenter_FireAfterDelayOverride(NotificationCenter_FireAfterDelayFunc Function) {
    __atomic_store_n(&FireAfterDelayHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}
