// NotificationCenter: the process-wide publish-and-subscribe switchboard.
// A publisher fires an event named by a type (class name), a name and a
// sender instance ("Global" when none), with an optional Dictionary payload;
// observers register a function and a user pointer for one type, name and
// instance, for a type and name under "Global", or for everything (all three
// "Global"). Names compare without case.
//
// Delivery happens on one owner thread (the one that called Init, the main
// thread): in order, to the observers of everything, to those of the type
// and name under "Global", then to those of the named instance. A fire on the
// owner thread is delivered at once; a fire from any other thread is queued
// with a copy of the payload and blocks its thread until the owner thread has
// delivered it, so the owner thread must never wait on a thread that may be
// firing. Delayed fires are delivered by the process step, which spends at
// most 0.1 s per call on queued fires and posts itself to the owner's event
// queue for the rest.
//
// Re-entrancy: the center's lock is released around every observer call, so
// observers may add, remove and fire (a nested fire is delivered inside the
// outer one). Removed observers are only flagged; their entries are freed by
// the process step, and never while a delivery is in progress (a step run
// from inside an observer leaves removals and queued fires alone and runs
// again once the outermost delivery has ended).
//
// Five operations have forwarding hooks (setters ending in "Override"): while
// one is stored, the operation passes its arguments to it unchanged and
// answers its result, so that a loaded class family uses the host's center.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define NOTIFICATIONCENTER_CLASSID 0xe53a5cacu

// The instance, type or name that stands for "any" / "none".
#define NOTIFICATIONCENTER_GLOBAL "Global"

RUNTIME_EXTERN_C_BEGIN

typedef struct NotificationCenter NotificationCenter;

// The one center of the process; null outside Init ... Remove.
extern NotificationCenter *GlobalNotificationCenter;

// Called as function(user, type, name, instance, userInfo or null) on the
// owner thread. The texts and the payload are valid only during the call;
// the result is ignored.
typedef int32 (*NotificationCenter_ObserverFunc)(void *User, const char *Type, const char *Name,
                                                 const char *Instance, Dictionary *UserInfo);

typedef int32 (*NotificationCenter_AddInstanceObserverFunc)(const char *Type, const char *Name,
                                                           const char *Instance, void *User,
                                                           NotificationCenter_ObserverFunc Function);
typedef int32 (*NotificationCenter_RemoveInstanceObserverFunc)(const char *Type, const char *Name,
                                                              const char *Instance, void *User,
                                                              NotificationCenter_ObserverFunc Function);
typedef int32 (*NotificationCenter_AssertInstanceFunc)(void *Object);
typedef int32 (*NotificationCenter_FireFunc)(const char *Type, const char *Name, const char *Instance,
                                             Dictionary *UserInfo);
typedef int32 (*NotificationCenter_FireAfterDelayFunc)(const char *Type, const char *Name, const char *Instance,
                                                       int32 DelayMilliseconds, Dictionary *UserInfo);

// Creates the center when there is none; the calling thread becomes the
// owner. Call it on the main thread.
int32 NotificationCenter_Init(void);
// Drops queued fires (waking any thread blocked on one), logs observers
// still registered and frees the center. Not from inside a delivery.
int32 NotificationCenter_Remove(void);
int32 NotificationCenter_SetVerbose(uint32 Flag);

// Observers. Null names become "Global". The same user and function may be
// registered more than once and are then called once per registration.
// Removal takes the first live registration with that user and function and
// answers 1 also when none matched.
int32 NotificationCenter_AddInstanceObserver(const char *Type, const char *Name, const char *Instance, void *User,
                                             NotificationCenter_ObserverFunc Function);
int32 NotificationCenter_AddObserver(const char *Type, const char *Name, void *User,
                                     NotificationCenter_ObserverFunc Function);
int32 NotificationCenter_RemoveInstanceObserver(const char *Type, const char *Name, const char *Instance,
                                                void *User, NotificationCenter_ObserverFunc Function);
int32 NotificationCenter_RemoveObserver(const char *Type, const char *Name, void *User,
                                        NotificationCenter_ObserverFunc Function);
// Observers of "NotificationCenter"/"Process" for the instance: every process
// step calls them (with no payload).
int32 NotificationCenter_AddProcessObserver(const char *Instance, void *User,
                                            NotificationCenter_ObserverFunc Function);
int32 NotificationCenter_RemoveProcessObserver(const char *Instance, void *User,
                                               NotificationCenter_ObserverFunc Function);

// Instances that keep themselves alive while pages hold references to them.
int32 NotificationCenter_RetainInstance(const char *Instance);
int32 NotificationCenter_UnretainInstance(const char *Instance);
// Retains the instance and observes its "NotificationCenter"/"Interop"
// notifications ({"addRef":true} / {"addRef":false}); the removal reverses both.
int32 NotificationCenter_AddInteropObserver(const char *Instance, void *User,
                                            NotificationCenter_ObserverFunc Function);
int32 NotificationCenter_RemoveInteropObserver(const char *Instance, void *User,
                                               NotificationCenter_ObserverFunc Function);
// Page references to an instance: the first reference fires "addRef" true,
// dropping the last fires "addRef" false. A release without a reference
// changes nothing and answers 0.
int32 NotificationCenter_AddRefInteropReference(const char *Instance);
int32 NotificationCenter_ReleaseInteropReference(const char *Instance);
// For the observer of an instance's "NotificationCenter"/"Interop" fires,
// which keeps in *Held whether it holds the one reference that the pages'
// count stands for. Anyone may fire that notification with the instance as
// sender (a document's Notification task, a page), so its content proves
// nothing: a message is taken only where the count bears it out, a first
// reference while none is held or the last release while one is. Then 1,
// with *AddRef the change to make and *Held flipped; else 0 with a log line,
// and the observer changes nothing.
int32 NotificationCenter_TakeInteropReferenceChange(const char *Instance, Dictionary *Info, uint32 *Held,
                                                    uint32 *AddRef);

// A check of the program's own bookkeeping, made from delete operations: a
// fatal stop when a live observer still has Object as its user pointer.
int32 NotificationCenter_AssertInstance(void *Object);

// Fires. The caller keeps its payload. On the owner thread the observers see
// the caller's Dictionary; from another thread a copy, and the call returns
// once the owner thread has delivered it (0 when the center was removed
// first and it was never delivered).
int32 NotificationCenter_Fire(const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo);
// Own fires: the program's own code telling about its own objects (a task
// that completed, an event that finished, a run that ended). Observers that
// act on such a fact take it only from an Own fire, which no page, document
// task or peer can make: their fires go through the plain calls.
int32 NotificationCenter_FireOwn(const char *Type, const char *Name, const char *Instance, Dictionary *UserInfo);
int32 NotificationCenter_FireAfterDelayOwn(const char *Type, const char *Name, const char *Instance,
                                           int32 DelayMilliseconds, Dictionary *UserInfo);
// 1 inside an observer called for an Own fire, on the owner thread.
int32 NotificationCenter_IsOwnFire(void);
// 1 inside an observer called for an Own fire of one of the loop's names
// (NotificationCenter_LoopNames).
// Also 1 for a page's echo of the loop: a fire the page made while it
// handled nothing but the loop's items, and what that fire reaches.
int32 NotificationCenter_IsLoopFire(const char *Type, const char *Name);
// Owner thread: the page is handling a batch of the loop's items alone (1)
// or no longer (0); a page that answers each of them with a fire of its own
// would else never be idle.
int32 NotificationCenter_SetLoopEcho(int32 On);
// Around a page's fire or fireAfterDelay: the fire is an echo while the
// page answers the loop alone. End takes what Begin answered.
int32 NotificationCenter_BeginPageFire(void);
int32 NotificationCenter_EndPageFire(int32 Begun);
// The payload is JSON printed from the format (no format: no payload). The
// parser's result is answered and nothing is fired when it fails.
int32 NotificationCenter_FireWithJSON(const char *Type, const char *Name, const char *Instance,
                                      const char *Format, ...);
int32 NotificationCenter_FireWithJSONV(const char *Type, const char *Name, const char *Instance,
                                       const char *Format, va_list Arguments);
// Fires only when the JSON text parses (the parser's answer is 1) into an
// object; any other text fires nothing and answers 0.
int32 NotificationCenter_FireInterop(const char *Type, const char *Name, const char *Instance,
                                     const char *JsonText);
// Queues a fire for the process step at least DelayMilliseconds from now (a
// negative delay counts as 0). A zero delay also posts the step to the
// owner's event queue.
int32 NotificationCenter_FireAfterDelay(const char *Type, const char *Name, const char *Instance,
                                        int32 DelayMilliseconds, Dictionary *UserInfo);
// As FireAfterDelay, but the fire delivers UserInfo itself (a root), taking
// a reference instead of a copy: the caller's part of the bargain is to
// change it no more while a fire holds it (its reference count above the
// caller's own tells), making a copy of its own to change instead. Off the
// owner thread the fire copies, as FireAfterDelay does. Observers must read
// such a payload, never change it.
int32 NotificationCenter_FireAfterDelayShared(const char *Type, const char *Name, const char *Instance,
                                              int32 DelayMilliseconds, Dictionary *UserInfo);
// As FireAfterDelay, for a fire the program waits for before it ends (one a
// workflow document asked for): counted until it is delivered or dropped.
int32 NotificationCenter_FireAfterDelayAwaited(const char *Type, const char *Name, const char *Instance,
                                               int32 DelayMilliseconds, Dictionary *UserInfo);
int32 NotificationCenter_GetAwaitedCount(void);
// Makes every awaited fire due at once (the program has nothing else left to
// wait for: sitting out their time would change nothing but the clock).
int32 NotificationCenter_HastenAwaited(void);
// 1 when an observer (of the instance, of the type and name under "Global",
// or of everything) would be called by a fire of this key now.
int32 NotificationCenter_IsObserved(const char *Type, const char *Name, const char *Instance);
int32 NotificationCenter_FireAfterDelayWithJSON(const char *Type, const char *Name, const char *Instance,
                                                int32 DelayMilliseconds, const char *Format, ...);
int32 NotificationCenter_FireAfterDelayWithJSONV(const char *Type, const char *Name, const char *Instance,
                                                 int32 DelayMilliseconds, const char *Format, va_list Arguments);
int32 NotificationCenter_FireAfterDelayInterop(const char *Type, const char *Name, const char *Instance,
                                               int32 DelayMilliseconds, const char *JsonText);

// The process step, owner thread only: due queued fires (0.1 s budget),
// freeing of removed observers, then the process observers.
int32 NotificationCenter_Process(void);
// The event-queue form of the step (Instance is the center).
int32 NotificationCenter_ProcessEvent(void *Instance);

// 1 while the thread is blocked in a cross-thread fire that the owner thread
// has not delivered yet: the owner thread joining such a thread would wait
// for ever, which a debug build's join can check with this.
int32 NotificationCenter_IsThreadBlockedInFire(uint32 ThreadId);
// 1 when a fire from the calling thread reaches the observers at once and
// in its caller's stack: on the owner thread, with no fire hook installed.
int32 NotificationCenter_FiresInPlace(void);

// Script observers: each addition registers a new script callback under the
// page's callback id; its notifications reach the pages as batch items.
int32 NotificationCenter_AddInstanceObserverInterop(const char *Type, const char *Name, const char *Instance,
                                                    const char *CallbackId);
int32 NotificationCenter_AddObserverInterop(const char *Type, const char *Name, const char *CallbackId);
// Removes the observer of that key whose callback record has the id (without
// case) and drops that record; 0 when there is none.
int32 NotificationCenter_RemoveInstanceObserverInterop(const char *Type, const char *Name, const char *Instance,
                                                       const char *CallbackId);
int32 NotificationCenter_RemoveObserverInterop(const char *Type, const char *Name, const char *CallbackId);
// The observer function of script observers (User is the callback record).
int32 NotificationCenter_InteropExecuteObserverCallback(void *Callback, const char *Type, const char *Name,
                                                        const char *Sender, Dictionary *UserInfo);

// Forwarding hooks; null removes the replacement. Always 1.
int32 NotificationCenter_AddInstanceObserverOverride(NotificationCenter_AddInstanceObserverFunc Function);
int32 NotificationCenter_RemoveInstanceObserverOverride(NotificationCenter_RemoveInstanceObserverFunc Function);
int32 NotificationCenter_AssertInstanceOverride(NotificationCenter_AssertInstanceFunc Function);
int32 NotificationCenter_FireOverride(NotificationCenter_FireFunc Function);
int32 NotificationCenter_FireAfterDelayOverride(NotificationCenter_FireAfterDelayFunc Function);

RUNTIME_EXTERN_C_END

// The notifications the engine's loop fires by itself, as Own fires, whatever
// a workflow or a page does: the center's process step (every pass), the
// application's status (each second), a waiting event's look (each second)
// and the end point's keep-alive. A page that hears nothing else has nothing
// to do.
struct NotificationCenterLoopName {
    const char *Type;
    const char *Name;
};
inline constexpr NotificationCenterLoopName NotificationCenter_LoopNames[] = {
    {"NotificationCenter", "Process"}, {"WorkflowApp", "Status"}, {"WorkflowEvent", "Wait"},
    {"NotificationEndPoint", "KeepAlive"}};
