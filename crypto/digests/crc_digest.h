// The CRC object puts the CRC-32 of runtime/text/crc.h behind the digest
// layer (CRC_INTERFACE, named "CRC"): its digest is the value in big-endian
// order. Processing after Generate continues the running value; only Reset
// starts again. A context is 64 bytes, so that the one-shot digests stack one.
#pragma once

#include "crypto/digests/hash.h"
#include "runtime/types.h"

#define CRC_CLASSID 0x6F0AC388u

RUNTIME_EXTERN_C_BEGIN

typedef struct CRC CRC;

extern const HashInterface CRC_INTERFACE;

HASH_DECLARE_CONTEXT(CRC, CRC)

RUNTIME_EXTERN_C_END
