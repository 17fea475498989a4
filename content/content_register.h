// What the content modules hand to the layers below them, at start-up: the
// executable macro keys ({FileVersion:...}), the reader of an executable's
// version values (for the log header and the log folder), the code-signature
// check behind file authentication, the data-store reader of "TQX.Platform",
// and the bundle step of opening a file (an application bundle opens as its
// executable). The program and the tests call it before they start the
// runtime; calling it again changes nothing.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Content_Register(void);

RUNTIME_EXTERN_C_END
