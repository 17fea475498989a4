// The page script of the headless host: one JavaScript file, run in a
// Duktape heap of its own, that stands in for the skin's page. It reaches the
// script classes through the script bridge as a page does:
//   TQX.create(className[, instanceId])   the new instance's id, "" when none
//   TQX.call(instanceId, method, params)  the call's "returnValue"
//   TQX.release(instanceId)               drops one of the page's references;
//                                         throws when the page holds none
//   print(text)                           one log line, as text
// and receives the page batches (notifications, callbacks) through its global
// function onBatch(items), one call per batch, on the tick after they were
// queued; before the page goes, its global function onUnload(). Everything
// runs on the main thread.
//
// The bridge's natives and delivery function are out of the page's reach (in
// the engine's stash and the bridge's own closure, with the builtins it uses
// taken before the page runs); the host releases the senders the center
// retained for a batch once the page has had it, and the interop references
// the page took and kept when the page goes.
//
// Failures: a handler that throws fails the script tasks its batch was
// about, with the script's message (also on standard error). The page's
// heap is limited; the first interrupt stops a call that runs at that
// moment (a regular-expression match included), even one that caught what
// the interrupt threw, and then the page for good; later calls get a short
// grace each.
// A page that stopped, or failed to load, takes the task types it
// registered with it, and their running tasks fail with why.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// The checks of the file before anything starts: it exists and can be read,
// is a regular file, is not empty and not larger than 16 MiB. 0 with the
// reason ("no such script file", "permission denied", "the script is
// empty", ...).
int32 HostScript_CheckFile(const char *Path, char *Reason, int32 Size);
// Reads and runs the file; 0 (with the reason in Reason) when it cannot be
// read, throws, overflows its stack or runs out of its heap.
int32 HostScript_Load(const char *Path, char *Reason, int32 Size);
// The first interrupt (async-signal-safe): see above.
void HostScript_Interrupt(void);
// Nonzero when no batch waits for the page (or there is no page), but for
// batches of the engine's own loop alone (NotificationCenter_LoopNames), which
// come at every pass whatever the page does.
int32 HostScript_IsIdle(void);
// Releases the page's instances and the heap.
int32 HostScript_Remove(void);

RUNTIME_EXTERN_C_END
