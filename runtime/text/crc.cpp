// CRC-32 through zlib's crc32_z. See crc.h.
#include "runtime/text/crc.h"

#include <zlib.h>

#include "runtime/debug.h"

static_assert(Crc32Const("") == 0);
static_assert(Crc32Const("123456789") == 0xCBF43926u, "the standard check value of CRC-32");

uint32 CRC_Update(uint32 Crc, const void *Data, uint32 Length) {
    Debug_CheckPointer(Data);
    return (uint32)crc32_z(Crc, static_cast<const Bytef *>(Data), Length);
}
