// MD4 (RFC 1320): 64-byte blocks, 16-byte digest (little-endian words).
// Kept for stored digests and NTLM; GetDigest copies the leading bytes that
// fit into a shorter buffer.
#pragma once

#include "crypto/digests/hash.h"

#define MD4_CLASSID 0x34d3ce13u

RUNTIME_EXTERN_C_BEGIN

typedef struct MD4 MD4;

extern const HashInterface MD4_INTERFACE;

HASH_DECLARE_CONTEXT(MD4, MD4)

RUNTIME_EXTERN_C_END
