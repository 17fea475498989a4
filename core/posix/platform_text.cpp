// The two UTF-16 <-> multibyte converters of the platform layer.
//
// The multibyte side is always UTF-8, converted directly rather than through
// the C library's locale (the default "C" locale rejects every byte above
// 0x7F). A surrogate pair is one character: it becomes one 4-byte sequence,
// and a character above U+FFFF becomes a pair. Input that does not encode
// characters (a lone surrogate; an overlong, truncated or surrogate-encoding
// UTF-8 sequence; a value above U+10FFFF) fails the conversion with -1.
#include <errno.h>

#include "core/debug.h"
#include "core/posix/platform.h"

namespace {

constexpr uint32 MaxCodePoint = 0x10FFFF;

bool IsHighSurrogate(uint32 Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(uint32 Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

// Decodes one well-formed UTF-8 character from at most Available bytes.
// Answers its length (1-4), or 0 when the bytes are not a character.
int32 DecodeUtf8(const uint8 *Bytes, int64 Available, uint32 *CodePoint) {
    uint8 Lead = Bytes[0];
    int32 Length;
    uint32 Value, Minimum;
    if (Lead < 0x80) {
        *CodePoint = Lead;
        return 1;
    } else if (Lead >= 0xC2 && Lead <= 0xDF) {
        Length = 2, Value = Lead & 0x1F, Minimum = 0x80;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Length = 3, Value = Lead & 0x0F, Minimum = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Length = 4, Value = Lead & 0x07, Minimum = 0x10000;
    } else {
        return 0; // continuation byte, overlong two-byte lead, or 5- and 6-byte forms
    }
    if (Available < Length) return 0;
    for (int32 Index = 1; Index < Length; Index++) {
        if ((Bytes[Index] & 0xC0) != 0x80) return 0;
        Value = (Value << 6) | (Bytes[Index] & 0x3F);
    }
    if (Value < Minimum || Value > MaxCodePoint || IsHighSurrogate(Value) || IsLowSurrogate(Value)) return 0;
    *CodePoint = Value;
    return Length;
}

int32 EncodeUtf8(uint32 CodePoint, uint8 *Bytes) {
    if (CodePoint < 0x80) {
        Bytes[0] = (uint8)CodePoint;
        return 1;
    }
    if (CodePoint < 0x800) {
        Bytes[0] = (uint8)(0xC0 | (CodePoint >> 6));
        Bytes[1] = (uint8)(0x80 | (CodePoint & 0x3F));
        return 2;
    }
    if (CodePoint < 0x10000) {
        Bytes[0] = (uint8)(0xE0 | (CodePoint >> 12));
        Bytes[1] = (uint8)(0x80 | ((CodePoint >> 6) & 0x3F));
        Bytes[2] = (uint8)(0x80 | (CodePoint & 0x3F));
        return 3;
    }
    Bytes[0] = (uint8)(0xF0 | (CodePoint >> 18));
    Bytes[1] = (uint8)(0x80 | ((CodePoint >> 12) & 0x3F));
    Bytes[2] = (uint8)(0x80 | ((CodePoint >> 6) & 0x3F));
    Bytes[3] = (uint8)(0x80 | (CodePoint & 0x3F));
    return 4;
}

int32 Fail(int32 *OutCount, int64 Consumed) {
    *OutCount = (int32)Consumed;
    errno = EILSEQ;
    return -1;
}

} // namespace

extern "C" int32 Platform_WideChar16ToMultiByte(int32 *OutCount, char *Output, int32 OutputSize,
                                                const uint16 *Input, int32 InputLength) {
    Debug_CheckPointer(OutCount);
    Debug_CheckPointer(Input);
    int64 Limit = InputLength < 0 ? INT64_MAX : InputLength;
    int64 Index = 0;
    int32 Written = 0;
    while (Index < Limit && Input[Index] != 0) {
        uint32 CodePoint = Input[Index];
        int32 Units = 1;
        if (IsHighSurrogate(CodePoint)) {
            if (Index + 1 >= Limit || !IsLowSurrogate(Input[Index + 1])) return Fail(OutCount, Index);
            CodePoint = 0x10000 + ((CodePoint - 0xD800) << 10) + (Input[Index + 1] - 0xDC00u);
            Units = 2;
        } else if (IsLowSurrogate(CodePoint)) {
            return Fail(OutCount, Index);
        }
        uint8 Bytes[4];
        int32 Length = EncodeUtf8(CodePoint, Bytes);
        if (Output != nullptr) {
            if (Length > OutputSize - Written) break;
            for (int32 Byte = 0; Byte < Length; Byte++) Output[Written + Byte] = (char)Bytes[Byte];
        } else if (Length > INT32_MAX - Written) {
            break;
        }
        Written += Length;
        Index += Units;
    }
    if (Output != nullptr && Written < OutputSize) Output[Written] = 0;
    *OutCount = (int32)Index;
    return Written;
}

extern "C" int32 Platform_MultiByteToWideChar16(int32 *OutCount, uint16 *Output, int32 OutputSize,
                                                const char *Input, int32 InputLength) {
    Debug_CheckPointer(OutCount);
    Debug_CheckPointer(Input);
    const auto *Bytes = reinterpret_cast<const uint8 *>(Input);
    int64 Limit = InputLength < 0 ? INT64_MAX : InputLength;
    int64 Index = 0;
    int32 Written = 0;
    bool Finished = false;
    while (Index < Limit) {
        if (Bytes[Index] == 0) {
            Finished = true;
            break;
        }
        uint32 CodePoint;
        // A NUL is never a continuation byte, so decoding stops at the terminator.
        int32 Length = DecodeUtf8(Bytes + Index, Limit - Index, &CodePoint);
        if (Length == 0) return Fail(OutCount, Index);
        int32 Units = CodePoint >= 0x10000 ? 2 : 1;
        if (Output != nullptr) {
            if (Units > OutputSize - Written) break;
            if (Units == 2) {
                Output[Written] = (uint16)(0xD800 + ((CodePoint - 0x10000) >> 10));
                Output[Written + 1] = (uint16)(0xDC00 + ((CodePoint - 0x10000) & 0x3FF));
            } else {
                Output[Written] = (uint16)CodePoint;
            }
        } else if (Units > INT32_MAX - Written) {
            break;
        }
        Written += Units;
        Index += Length;
    }
    if (Output != nullptr && Written < OutputSize) Output[Written] = 0;
    *OutCount = (int32)(Finished ? Index + 1 : Index);
    return Written;
}
