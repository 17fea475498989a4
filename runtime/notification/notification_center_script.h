// The script class "TQX.NotificationCenter": pages observe and fire the same
// notifications as native code. Observers a page adds turn each matching
// notification into one item of the page's next batch, routed by the page's
// own "callbackId"; "NotificationCenter"/"Interop" reference events never
// reach pages.
//
// Methods (all parameters are Strings except "delay", a number of
// milliseconds; "returnValue" is Boolean, false when a parameter is missing):
// addObserver, addInstanceObserver, removeObserver, removeInstanceObserver,
// fire, fireAfterDelay ("info" is JSON text), addRefInteropReference and
// releaseInteropReference.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// The dispatcher (User is the page's registration, unused by the methods).
int32 NotificationCenter_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END
