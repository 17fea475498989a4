// "TQX.FileSystem": the path functions, file and directory examinations and
// the free-space query for pages and workflows. The class is stateless: its
// dispatcher receives no object and acts only on the paths it is given.
//
// Path_Invoke is the script bridge's invoke function for the class (log name
// "Path"). A missing or mistyped parameter is logged, the native operation is
// not called, "returnValue" is the empty text, 0 or false, and the answer is
// 0. "directoryGetSize" answers at once; the size reaches the page later as
// a batch item (type "FileSystem", sender "Global") for its callback id.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Path_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END
