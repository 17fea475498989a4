// What the network modules hand to the runtime below them, at start-up: their
// script classes in the core family ("TQX.WebGet", "TQX.Analytics") and the
// URL authorisation that the script bridge hands to every class family
// ("WebGet_Authorize"). The program and the tests call it before they start
// the runtime; calling it again changes nothing.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Net_Register(void);

RUNTIME_EXTERN_C_END
