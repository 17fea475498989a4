// What the cryptography hands to the runtime below it, at start-up: the hash
// and HMAC macro keys ({MD5:...}, {HMAC...}) and the authentication switch
// that the script bridge hands to every class family ("Authenticate_Enabled").
// The program and the tests call it before they start the runtime; calling it
// again changes nothing.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Crypto_Register(void);

RUNTIME_EXTERN_C_END
