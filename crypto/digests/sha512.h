// SHA-512 and SHA-384 (FIPS 180-4) in one context type: SHA-384 is a SHA512
// context with digest size 48 and its own initial values, so either passes
// the other's class check and a copy carries the variant along. GetDigest
// into a buffer smaller than the digest answers 0 and copies nothing.
#pragma once

#include "crypto/digests/hash.h"

#define SHA512_CLASSID 0x3302cb19u

RUNTIME_EXTERN_C_BEGIN

typedef struct SHA512 SHA512;

extern const HashInterface SHA512_INTERFACE;

HASH_DECLARE_CONTEXT(SHA512, SHA512)

extern const HashInterface SHA384_INTERFACE;

// The SHA-384 entry points for the record's setup slots; the rest are the
// SHA512 operations.
int32 SHA384_SizeOf(void);
int32 SHA384_Stack(void *Memory);
int32 SHA384_Unstack(void *Memory);
int32 SHA384_Create(SHA512 **Handle);
int32 SHA384_Delete(SHA512 **Handle);
int32 SHA384_CopyTo(SHA512 *Source, SHA512 *Target);
int32 SHA384_Reset(SHA512 *Handle);

// How many leading bytes of the chaining words Generate stores: 0 to 64
// (0 for a size outside that range, which would read past the state). Reset
// loads the SHA-384 initial values for 48, the SHA-512 ones otherwise; a size of 0
// becomes 64 on the next Reset.
int32 SHA512_SetDigestSize(SHA512 *Handle, int32 Size);

RUNTIME_EXTERN_C_END
