// SHA-256 and SHA-224 (FIPS 180-4) in one context type: SHA-224 is a SHA256
// context with digest size 28 and its own initial values, so either passes
// the other's class check and a copy carries the variant along. Blocks are
// compressed with the SHA extensions when the processor has them. GetDigest
// into a buffer smaller than the digest answers 0 and copies nothing.
#pragma once

#include "crypto/digests/hash.h"

#define SHA256_CLASSID 0x27668c39u

RUNTIME_EXTERN_C_BEGIN

typedef struct SHA256 SHA256;

extern const HashInterface SHA256_INTERFACE;

HASH_DECLARE_CONTEXT(SHA256, SHA256)

extern const HashInterface SHA224_INTERFACE;

// The SHA-224 entry points for the record's setup slots; the rest are the
// SHA256 operations.
int32 SHA224_SizeOf(void);
int32 SHA224_Stack(void *Memory);
int32 SHA224_Unstack(void *Memory);
int32 SHA224_Create(SHA256 **Handle);
int32 SHA224_Delete(SHA256 **Handle);
int32 SHA224_CopyTo(SHA256 *Source, SHA256 *Target);
int32 SHA224_Reset(SHA256 *Handle);

// How many leading bytes of the chaining words Generate stores: 0 to 32
// (0 for a size outside that range, which would read past the state). Reset
// loads the SHA-224 initial values for 28, the SHA-256 ones otherwise; a size of 0
// becomes 32 on the next Reset.
int32 SHA256_SetDigestSize(SHA256 *Handle, int32 Size);

RUNTIME_EXTERN_C_END
