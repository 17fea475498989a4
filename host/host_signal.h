// The main thread's wake-up. Threads that post to the main event queue signal
// the main thread; the thread module passes such signals to the hook below,
// which schedules one flush of the main queue on the main loop: it marks the
// flush as outstanding (compare-and-swap, so a burst of posts schedules one
// flush) and wakes the loop through an eventfd. The loop clears the mark
// before it flushes, so a post made during the flush schedules the next one.
//
// Only event posts schedule a flush, never while the host's own process step
// runs (that step flushes the queue itself), and never while one is already
// outstanding. A post from the loop's own thread wakes nothing: that thread is
// awake, and its next pass flushes without waiting. Everything here except
// the hook runs on the main thread.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Make and free the wake-up descriptor (main thread, after EventQueue_Init
// and before the hook is installed; Remove after it is uninstalled).
int32 Host_MainThreadSignalInit(void);
int32 Host_MainThreadSignalRemove(void);

// The hook for Thread_SetUnhandledSignal. Callable from any thread. Always 1.
int32 Host_PlatformMainThreadSignal(uint32 ThreadId, int32 IsEvent);

// Brackets the host's process step (Running 1 on entry, 0 on exit).
int32 Host_SetProcessStepRunning(int32 Running);

// One pass of the main loop: waits up to TimeoutMS (negative: without end)
// for a scheduled flush, then clears the outstanding mark and flushes the
// main queue. After a flush that ran out of its budget, or a post from the
// loop's own thread, the next pass does not wait, and such passes in a row
// poll the descriptor only every 32 passes or 1 ms. Answers the flush's
// result (0: events are left for the next pass).
int32 Host_MainLoopStep(int32 TimeoutMS);

// The descriptor that becomes readable when another thread schedules a
// flush, for a loop that polls it together with other sources; -1 before
// Init.
int32 Host_MainThreadSignalDescriptor(void);

RUNTIME_EXTERN_C_END
