// The two UTF-16 <-> multibyte converters of the platform layer.
//
// The multibyte side is always UTF-8, converted directly rather than through
// the C library's locale (the default "C" locale rejects every byte above
// 0x7F). A surrogate pair is one character: it becomes one 4-byte sequence,
// and a character above U+FFFF becomes a pair. Input that does not encode
// characters (a lone surrogate; an overlong, truncated or surrogate-encoding
// UTF-8 sequence; a value above U+10FFFF) fails the conversion with -1.
#include <errno.h>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/unicode_codec.h"

namespace {

using unicode::IsHighSurrogate;
using unicode::IsLowSurrogate;

// The codec's decoder without its replacement: the length (1-4) of one
// well-formed character, or 0 when the bytes are not a character.
int32 DecodeUtf8(const uint8 *Bytes, int64 Available, uint32 *CodePoint) {
    bool Valid = false;
    const int32 Length = unicode::DecodeUtf8(Bytes, (size_t)Available, CodePoint, &Valid);
    return Valid ? Length : 0;
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
            CodePoint = unicode::CombineSurrogates(CodePoint, Input[Index + 1]);
            Units = 2;
        } else if (IsLowSurrogate(CodePoint)) {
            return Fail(OutCount, Index);
        }
        char Bytes[4];
        int32 Length = unicode::EncodeUtf8(CodePoint, Bytes);
        if (Output != nullptr) {
            if (Length > OutputSize - Written) break;
            for (int32 Byte = 0; Byte < Length; Byte++) Output[Written + Byte] = Bytes[Byte];
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
        int32 Units = unicode::ScalarLengthUtf16(CodePoint);
        if (Output != nullptr) {
            if (Units > OutputSize - Written) break;
            unicode::EncodeUtf16(CodePoint, Output + Written);
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
