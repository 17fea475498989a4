// The page script of the headless host: one JavaScript file, run in a
// Duktape heap of its own, that stands in for the skin's page. It reaches the
// script classes through the script bridge as a page does:
//   TQX.create(className[, instanceId])   the new instance's id, "" when none
//   TQX.call(instanceId, method, params)  the call's "returnValue"
//   TQX.release(instanceId)               drops the page's reference
//   print(text)                           one log line, as text
// and receives the page batches (notifications, callbacks) through its global
// function onBatch(items), one call per batch, on the tick after they were
// queued; before the page goes, its global function onUnload(). Everything
// runs on the main thread.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Reads and runs the file; 0 (with the reason in Reason) when it cannot be
// read or throws.
int32 HostScript_Load(const char *Path, char *Reason, int32 Size);
// Releases the page's instances and the heap.
int32 HostScript_Remove(void);

RUNTIME_EXTERN_C_END
