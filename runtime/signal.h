// Signals: the system's event objects. A signal is a flag that one thread sets
// and others wait for, with a time-out in milliseconds. Threads use one to be
// woken for new events, one to be asked to exit and one to report that they
// are done; the notification center waits on one while another thread
// delivers.
//
// Two modes: manual reset (the default) keeps the flag set until someone
// clears it and wakes every waiter; auto-reset lets exactly one successful
// wait consume the flag and wakes one waiter per set. The flag changes only
// under the signal's mutex, so testing, consuming and waking agree; spurious
// wake-ups are absorbed by testing the flag again. Time-outs run on the
// monotonic clock, so a change of the wall clock never shortens or stretches
// a wait, and a positive time-out always lasts at least 15 ms.
//
// The creator owns the signal and deletes it once no thread waits on it.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef struct Signal Signal;

// A new signal, not set, manual reset. A null out is a fatal stop.
int32 Signal_Create(Signal **Handle);
// Frees the signal and clears the handle; a null address or handle is a fatal stop.
int32 Signal_Delete(Signal **Handle);

// Sets (State 1) or clears (any other State) the flag; a set that changes it wakes one
// waiter (auto-reset) or all (manual reset). A null signal stops at the
// caller's file and line. Always 1.
int32 Signal_SetInt(Signal *Handle, int32 State, const char *File, int32 Line);
// The flag as it is now, read atomically.
int32 Signal_Get(Signal *Handle, int32 *State);
// Waits until the flag is set (consuming it in auto-reset mode) or the
// time-out ends: 0 tests once, a negative time-out waits without end.
// *Signalled (may be null) tells which; the result is 1 unless the platform
// wait itself failed.
int32 Signal_WaitInt(Signal *Handle, int32 *Signalled, int32 TimeoutMS, const char *File, int32 Line);

int32 Signal_SetAutoReset(Signal *Handle, int32 AutoReset);
int32 Signal_GetAutoReset(Signal *Handle, int32 *AutoReset);

RUNTIME_EXTERN_C_END

#define Signal_Set(Handle, State) Signal_SetInt((Handle), (State), __FILE__, __LINE__)
#define Signal_Wait(Handle, Signalled, TimeoutMS) Signal_WaitInt((Handle), (Signalled), (TimeoutMS), __FILE__, __LINE__)
