// CRC-32 as zlib computes it (ISO-HDLC / IEEE 802.3: reflected polynomial
// 0xEDB88320, initial and final inversion). CRC_Update is the running form:
// start with 0 and feed each result back with the next piece, so that any
// split of the data gives the value of the whole.
//
// Crc32Const is the same function at compile time, for method selectors that
// switch on the CRC-32 of a name: `case Crc32Const("addObserver"):`. Stored
// hashes are often signed 32-bit numbers; compare them as uint32.
//
// The CRC object that puts the same checksum behind the digest layer is in
// crypto/digests/crc_digest.h.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// A null Data is a fatal stop (even for a Length of 0).
uint32 CRC_Update(uint32 Crc, const void *Data, uint32 Length);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <array>
#include <string_view>

namespace CrcDetail {

constexpr std::array<uint32, 256> MakeTable() {
    std::array<uint32, 256> Table{};
    for (uint32 Index = 0; Index < 256; Index++) {
        uint32 Value = Index;
        for (int Bit = 0; Bit < 8; Bit++) Value = (Value & 1) ? (Value >> 1) ^ 0xEDB88320u : Value >> 1;
        Table[Index] = Value;
    }
    return Table;
}

inline constexpr std::array<uint32, 256> Table = MakeTable();

} // namespace CrcDetail

constexpr uint32 Crc32Const(std::string_view Text, uint32 Crc = 0) {
    Crc = ~Crc;
    for (char Character : Text) Crc = CrcDetail::Table[(Crc ^ (uint8)Character) & 0xFF] ^ (Crc >> 8);
    return ~Crc;
}
#endif
