// Helpers shared by the cryptographic modules.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 1 when the two buffers hold the same Length bytes. The time taken depends
// only on Length, never on where the buffers differ, so a MAC or tag check
// tells an attacker nothing about how close a forgery came. Use it for every
// comparison of MACs, tags and other secrets.
int32 Crypt_CompareConstantTime(const void *A, const void *B, uint32 Length);

RUNTIME_EXTERN_C_END
