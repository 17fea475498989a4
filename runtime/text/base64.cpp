// Standard and URL-safe Base64, and the Base64 macro provider.
//
// Both decoders run through one group decoder that is told how many
// characters the text has (up to its terminator), so no byte behind the
// caller's text is ever touched; the URL-safe form feeds it the mapped
// characters and the virtual "=" padding instead of copying the text.
#include "runtime/text/base64.h"

#include <string.h>

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

constexpr char Base64EncodeLookup[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Blanks and line breaks are invalid like every other byte outside the
// alphabet; "=" reads as 0 wherever it stands and only lowers the byte count
// in a group's third and fourth place.
constexpr uint8 Base64DecodeLookup[256] = {
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 62,  128, 128, 128, 63,
    52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  128, 128, 128, 0,   128, 128,
    128, 0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12,  13,  14,
    15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  128, 128, 128, 128, 128,
    128, 26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,
    41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
};

namespace {

constexpr uint8 Invalid = 128;

constexpr bool DecodeTableMatchesAlphabet() {
    int32 valid = 0;
    for (int32 i = 0; i < 256; i++) valid += Base64DecodeLookup[i] != Invalid;
    if (valid != 65 || Base64DecodeLookup[uint8('=')] != 0) return false;
    for (int32 i = 0; i < 64; i++)
        if (Base64DecodeLookup[uint8(Base64EncodeLookup[i])] != i) return false;
    return true;
}
static_assert(DecodeTableMatchesAlphabet());

// Largest byte count whose encoded text (with terminator) still fits int32.
constexpr int32 MaxEncodeLength = (INT32_MAX - 1) / 4 * 3;

// Two output characters per 12 bits of input, and the four decode tables
// with each character's value already at its place in a 24-bit group (an
// invalid character sets bit 31), so a group costs two or four lookups.
struct CodecTables {
    uint16 EncodePairs[4096];
    uint32 Decode[4][256];
};

constexpr CodecTables MakeCodecTables() {
    CodecTables tables{};
    for (int32 i = 0; i < 4096; i++) {
        const uint8 first = uint8(Base64EncodeLookup[i >> 6]), second = uint8(Base64EncodeLookup[i & 63]);
        tables.EncodePairs[i] = uint16(first | second << 8);  // memory order on a little-endian host
    }
    for (int32 place = 0; place < 4; place++) {
        for (int32 c = 0; c < 256; c++) {
            const uint32 value = Base64DecodeLookup[c];
            tables.Decode[place][c] = value & Invalid ? 0x80000000u : value << (18 - 6 * place);
        }
    }
    return tables;
}
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
constexpr CodecTables Tables = MakeCodecTables();

// Encodes whole groups while they fit; a final partial group is padded.
int32 EncodeGroups(const uint8 *Data, int32 Length, char *Output, int32 Size, int32 *Written) {
    const int64 groups = (int64(Length) + 2) / 3;
    const int64 fitting = std::min<int64>(groups, Size / 4);
    const int64 fullGroups = std::min<int64>(fitting, Length / 3);
    char *out = Output;
    for (int64 i = 0; i < fullGroups; i++, Data += 3, out += 4) {
        const uint32 v = uint32(Data[0]) << 16 | uint32(Data[1]) << 8 | Data[2];
        memcpy(out, &Tables.EncodePairs[v >> 12], 2);
        memcpy(out + 2, &Tables.EncodePairs[v & 4095], 2);
    }
    if (fitting > fullGroups) {
        const int32 rest = Length % 3;
        const uint32 v = uint32(Data[0]) << 16 | (rest == 2 ? uint32(Data[1]) << 8 : 0);
        out[0] = Base64EncodeLookup[v >> 18];
        out[1] = Base64EncodeLookup[(v >> 12) & 63];
        out[2] = rest == 2 ? Base64EncodeLookup[(v >> 6) & 63] : '=';
        out[3] = '=';
        out += 4;
    }
    *Written = int32(out - Output);
    if (*Written < Size) *out = 0;
    return fitting == groups;
}

// Decodes the Count characters delivered by At(index) in groups of four;
// Count stops short of the terminator, so nothing behind the text is read.
template <typename CharAt>
int32 DecodeGroups(CharAt &&At, size_t Count, uint8 *Output, int32 Size, int32 *Written) {
    int32 position = 0;
    size_t index = 0;
    for (; index + 4 <= Count; index += 4) {
        const char c0 = At(index), c1 = At(index + 1), c2 = At(index + 2), c3 = At(index + 3);
        const uint32 v = Tables.Decode[0][uint8(c0)] | Tables.Decode[1][uint8(c1)] | Tables.Decode[2][uint8(c2)] |
                         Tables.Decode[3][uint8(c3)];
        if (v & 0x80000000u) break;
        // Room for a whole group and the terminator, whatever the padding.
        if (int64(position) + 4 > Size) break;
        if (c3 != '=' && c2 != '=') {
            // Three bytes and a 0 that the next group or the terminator covers.
            const uint32 bytes = __builtin_bswap32(v << 8);
            memcpy(Output + position, &bytes, 4);
            position += 3;
            continue;
        }
        const int32 count = 3 - (c2 == '=') - (c3 == '=');
        Output[position] = uint8(v >> 16);
        if (count > 1) Output[position + 1] = uint8(v >> 8);
        position += count;
    }
    Output[position] = 0;
    *Written = position;
    // A text that ends inside a group fails like one that breaks off early.
    return index == Count;
}

int32 CheckDecodeArguments(const void *Text, void *Output, int32 Size, int32 *Written) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Size > 0) Debug_CheckPointer(Output);
    if (Size >= 5) return 1;
    if (Size > 0) static_cast<uint8 *>(Output)[0] = 0;
    return 0;
}

int32 StandardDecode(const char *Text, uint8 *Output, int32 Size, int32 *Written) {
    return DecodeGroups([Text](size_t Index) { return Text[Index]; }, strlen(Text), Output, Size, Written);
}

int32 UrlDecode(const char *Text, int32 Length, uint8 *Output, int32 Size, int32 *Written) {
    // The text is taken up to Length or an earlier terminator; the padding
    // stands behind the Length characters, so an earlier end hides it.
    const size_t present = strnlen(Text, size_t(Length));
    const size_t padding = present < size_t(Length) ? 0 : Length % 4 == 2 ? 2 : Length % 4 == 3 ? 1 : 0;
    auto at = [Text, present](size_t Index) -> char {
        if (Index >= present) return '=';
        const char c = Text[Index];
        return c == '-' ? '+' : c == '_' ? '/' : c;
    };
    return DecodeGroups(at, present + padding, Output, Size, Written);
}

// The macro provider's names, compared without case.
enum class MacroKey { None, Decode, Encode, ToHex, FromHex, UrlEncode, UrlDecode };

struct MacroName {
    const char *Name;
    MacroKey Key;
};

constexpr MacroName MacroNames[] = {
    {"FromBase64", MacroKey::Decode},       {"Base64Decode", MacroKey::Decode},
    {"ToBase64", MacroKey::Encode},         {"Base64Encode", MacroKey::Encode},
    {"Base64ToHex", MacroKey::ToHex},       {"HexToBase64", MacroKey::FromHex},
    {"ToBase64Url", MacroKey::UrlEncode},   {"Base64UrlEncode", MacroKey::UrlEncode},
    {"FromBase64Url", MacroKey::UrlDecode}, {"Base64UrlDecode", MacroKey::UrlDecode},
};

// Bytes at most decoded from or read as hexadecimal for the hex keys.
constexpr int32 MacroHexBytes = 4096;

MacroKey FindMacroKey(const char *Name) {
    for (const MacroName &entry : MacroNames)
        if (String_CompareWithoutCase(Name, entry.Name)) return entry.Key;
    return MacroKey::None;
}

// Decodes (standard or URL-safe) and cuts the bytes at Size - 1; decodes in
// place when the output is large enough for any result.
void ExpandDecode(bool Url, const char *Argument, int32 Length, char *Output, int32 Size) {
    const auto Decode = Url ? Base64_UrlDecode : Base64_Decode;
    int32 needed = 0, written = 0;
    Base64_CalculateDecodeSize(Length > INT32_MAX - 2 ? Length : Length + 2, &needed);
    if (needed <= Size) {
        Decode(Argument, Length, Output, Size, &written);
        Output[written] = 0;
        return;
    }
    MemoryScope<char> scratch(needed);
    Decode(Argument, Length, scratch.Get(), scratch.GetSize(), &written);
    written = std::min(written, Size - 1);
    memcpy(Output, scratch.Get(), size_t(written));
    Output[written] = 0;
}

}  // namespace

int32 Base64_CalculateEncodeSize(int32 Length, int32 *Size) {
    Debug_CheckPointer(Size);
    *Size = 0;
    if (Length < 0 || Length > MaxEncodeLength) return 0;
    *Size = 4 * ((Length + 2) / 3) + 1;
    return 1;
}

int32 Base64_CalculateDecodeSize(int32 Length, int32 *Size) {
    Debug_CheckPointer(Size);
    *Size = 0;
    if (Length < 0) return 0;
    *Size = Length / 4 * 3 + 10;
    return 1;
}

int32 Base64_Encode(const void *Data, int32 Length, char *Output, int32 Size, int32 *Written) {
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Size > 0) Debug_CheckPointer(Output);
    if (Length > 0) Debug_CheckPointer(Data);
    if (Length < 0) {
        if (Size > 0) Output[0] = 0;
        return 0;
    }
    return EncodeGroups(static_cast<const uint8 *>(Data), Length, Output, std::max(Size, 0), Written);
}

int32 Base64_Decode(const char *Text, int32 IgnoredLength, void *Output, int32 Size, int32 *Written) {
    (void)IgnoredLength;
    if (!CheckDecodeArguments(Text, Output, Size, Written)) return 0;
    return StandardDecode(Text, static_cast<uint8 *>(Output), Size, Written);
}

int32 Base64_UrlEncode(const void *Data, int32 Length, char *Output, int32 Size, int32 *Written) {
    const int32 result = Base64_Encode(Data, Length, Output, Size, Written);
    // Padding only ever ends the last group, which is there only on success.
    int32 length = *Written;
    while (length > 0 && Output[length - 1] == '=') length--;
    for (int32 i = 0; i < length; i++) {
        if (Output[i] == '+') Output[i] = '-';
        else if (Output[i] == '/') Output[i] = '_';
    }
    if (length < *Written) Output[length] = 0;
    *Written = length;
    return result;
}

int32 Base64_UrlDecode(const char *Text, int32 Length, void *Output, int32 Size, int32 *Written) {
    if (!CheckDecodeArguments(Text, Output, Size, Written)) return 0;
    if (Length < 0 || Length % 4 == 1) {
        static_cast<uint8 *>(Output)[0] = 0;
        return 0;
    }
    return UrlDecode(Text, Length, static_cast<uint8 *>(Output), Size, Written);
}

int32 Base64_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    Debug_CheckPointer(Name);
    const MacroKey key = FindMacroKey(Name);
    if (key == MacroKey::None || Argument == nullptr || Size < 1) return 0;
    Debug_CheckPointer(Output);
    const int32 length = int32(strnlen(Argument, INT32_MAX));
    int32 written = 0;
    uint8 bytes[MacroHexBytes];
    // Encoders get Size - 1 so that a result that fills the output exactly
    // still leaves room for the terminator the expander relies on.
    switch (key) {
        case MacroKey::Decode:
        case MacroKey::UrlDecode:
            ExpandDecode(key == MacroKey::UrlDecode, Argument, length, Output, Size);
            break;
        case MacroKey::Encode:
            Base64_Encode(Argument, length, Output, Size - 1, &written);
            Output[written] = 0;
            break;
        case MacroKey::UrlEncode:
            Base64_UrlEncode(Argument, length, Output, Size - 1, &written);
            Output[written] = 0;
            break;
        case MacroKey::ToHex:
            Base64_Decode(Argument, length, bytes, MacroHexBytes, &written);
            String_ConvertToHex(bytes, written, 0, Output, Size);
            break;
        case MacroKey::FromHex:
            String_ConvertFromHex(Argument, bytes, MacroHexBytes, &written);
            Base64_Encode(bytes, written, Output, Size - 1, &written);
            Output[written] = 0;
            break;
        case MacroKey::None:
            break;
    }
    return 1;
}
