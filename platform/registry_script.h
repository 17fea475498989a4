// "TQX.Registry": the registry store for pages and workflows, through the
// text helpers of the Registry module (view and class by name, every open
// checked against the whitelists). The class is stateless.
//
// Registry_Invoke is the script bridge's invoke function for the class (log
// name "Registry"). A missing or mistyped parameter is logged, the helper is
// not called, "returnValue" is the method's default (false, 0, "" or null)
// and the answer is 0; so is Base64 text that does not decode.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Registry_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END
