// SHA-1 (FIPS 180-4): 64-byte blocks, 20-byte digest. Blocks are compressed
// with the processor's SHA extensions when it has them (chosen once at
// start-up), else portably; both give the same digest. GetDigest copies the
// leading bytes that fit into a shorter buffer.
#pragma once

#include "crypto/digests/hash.h"

#define SHA1_CLASSID 0x333ceb0cu

RUNTIME_EXTERN_C_BEGIN

typedef struct SHA1 SHA1;

extern const HashInterface SHA1_INTERFACE;

HASH_DECLARE_CONTEXT(SHA1, SHA1)

RUNTIME_EXTERN_C_END
