// MD2 (RFC 1319 with its corrected checksum), 16-byte blocks and digest.
// Kept for old certificates and stored digests. A Process of length 0 answers
// 1 before looking at the data.
#pragma once

#include "crypto/digests/hash.h"

#define MD2_CLASSID 0x5703fb29u

RUNTIME_EXTERN_C_BEGIN

typedef struct MD2 MD2;

extern const HashInterface MD2_INTERFACE;

HASH_DECLARE_CONTEXT(MD2, MD2)

RUNTIME_EXTERN_C_END
