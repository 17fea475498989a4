// Base32 encoding over a caller's alphabet.
#include "runtime/text/base32.h"

#include <string.h>

#include <algorithm>

#include "runtime/debug.h"

namespace {

// Largest byte count whose encoded text (with terminator) still fits int32.
constexpr int32 MaxEncodeLength = (INT32_MAX - 1) / 8 * 5;

// Characters produced by 0 to 4 bytes of a final group; "=" fills the rest.
constexpr int32 CharsForBytes[5] = {0, 2, 4, 5, 7};

}  // namespace

int32 Base32_CalculateEncodeSize(int32 Length, int32 *Size) {
    Debug_CheckPointer(Size);
    *Size = 0;
    if (Length < 0 || Length > MaxEncodeLength) return 0;
    *Size = 8 * ((Length + 4) / 5) + 1;
    return 1;
}

int32 Base32_Encode(const void *Data, int32 Length, const char *Alphabet, char *Output, int32 Size,
                    int32 *Written) {
    Debug_CheckPointer(Alphabet);
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Size > 0) Debug_CheckPointer(Output);
    if (Length > 0) Debug_CheckPointer(Data);
    Size = std::max(Size, 0);
    if (Length < 0 || strnlen(Alphabet, 32) < 32) {
        if (Size > 0) Output[0] = 0;
        return 0;
    }
    const uint8 *data = static_cast<const uint8 *>(Data);
    const int64 groups = (int64(Length) + 4) / 5;
    const int64 fitting = std::min<int64>(groups, Size / 8);
    char *out = Output;
    for (int64 group = 0; group < fitting; group++, out += 8) {
        const int32 bytes = int32(std::min<int64>(5, Length - group * 5));
        uint64 bits = 0;
        for (int32 i = 0; i < 5; i++) bits = bits << 8 | (i < bytes ? data[i] : 0);
        data += bytes;
        const int32 chars = bytes == 5 ? 8 : CharsForBytes[bytes];
        for (int32 i = 0; i < 8; i++) out[i] = i < chars ? Alphabet[(bits >> (35 - 5 * i)) & 31] : '=';
    }
    *Written = int32(out - Output);
    if (*Written < Size) *out = 0;
    return fitting == groups;
}
