// MD5 (RFC 1321): 64-byte blocks, 16-byte digest (little-endian words).
// The TLS client also calls these operations directly; GetDigest copies the
// leading bytes that fit into a shorter buffer.
#pragma once

#include "crypto/digests/hash.h"

#define MD5_CLASSID 0x92a4c5a7u

RUNTIME_EXTERN_C_BEGIN

typedef struct MD5 MD5;

extern const HashInterface MD5_INTERFACE;

HASH_DECLARE_CONTEXT(MD5, MD5)

RUNTIME_EXTERN_C_END
