// Unicode and character-set conversions between UTF-8, UTF-16, 32-bit wide
// texts and Windows-1252.
//
// Every converter goes through code points (unicode_codec.h), so characters
// above U+FFFF survive each direction whole and nothing ill-formed is ever
// mapped to an ASCII byte: invalid input becomes U+FFFD. Copies into a bounded
// destination stop at the first character that does not fit together with the
// terminator, so the output is always a prefix of the full conversion.
#include "runtime/text/unicode.h"

#include <stdlib.h>
#include <string.h>

#include <array>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string_internal.h"
#include "runtime/text/unicode_codec.h"

using string_detail::Fold;
using unicode::DecodeUtf16;
using unicode::DecodeUtf8;
using unicode::EncodeUtf16;
using unicode::EncodeUtf8;
using unicode::ScalarLengthUtf16;
using unicode::ScalarLengthUtf8;
using unicode::ToScalar;

namespace {

// Sequence length announced by a lead byte, as the six-byte scheme of RFC 2279
// counts it; lone continuation bytes and 0xFE/0xFF count one.
constexpr std::array<uint8, 256> Utf8LengthTable = [] {
    std::array<uint8, 256> Table{};
    for (int i = 0; i < 256; i++)
        Table[i] = i < 0xC0 ? 1 : i < 0xE0 ? 2 : i < 0xF0 ? 3 : i < 0xF8 ? 4 : i < 0xFC ? 5 : i < 0xFE ? 6 : 1;
    return Table;
}();

// Windows-1252 code points of the bytes 0x80-0x9F. The five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stay as themselves.
constexpr uint16 Ansi80Utf16Table[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32 AnsiCodePoint(uint8 Byte) { return Byte >= 0x80 && Byte < 0xA0 ? Ansi80Utf16Table[Byte - 0x80] : Byte; }

constexpr size_t Unbounded = (size_t)-1;

// Bound for a LastIndex or Count argument: negative reads nothing.
size_t SourceBound(int32 Value, int32 Extra) { return Value < 0 ? 0 : (size_t)Value + (size_t)Extra; }

// ---- Readers of code points ----

// Reads code points from units of one width up to Count units or a 0 unit;
// Decode(units, available, &codePoint) answers the units one character took.
// Next(&codePoint) answers false at the end of the source.
template <typename Unit, typename Decode>
struct Reader {
    const Unit *Source;
    size_t Count;
    Decode Step;
    size_t Index = 0;
    bool operator()(uint32 *CodePoint) {
        if (Index >= Count || Source[Index] == 0) return false;
        Index += (size_t)Step(Source + Index, Count - Index, CodePoint);
        return true;
    }
};
template <typename Unit, typename Decode>
Reader(const Unit *, size_t, Decode) -> Reader<Unit, Decode>;

auto Utf8Reader(const char *Source, size_t Count) {
    return Reader{(const uint8 *)Source, Count, [](const uint8 *Units, size_t Available, uint32 *CodePoint) {
                      return DecodeUtf8(Units, Available, CodePoint);
                  }};
}

// Units optionally stored byte-swapped.
auto Utf16Reader(const uint16 *Source, size_t Count, bool Swapped) {
    return Reader{Source, Count, [Swapped](const uint16 *Units, size_t Available, uint32 *CodePoint) {
                      return DecodeUtf16(Units, Available, CodePoint, Swapped);
                  }};
}

auto Utf32Reader(const uint32 *Source, size_t Count) {
    return Reader{Source, Count, [](const uint32 *Units, size_t, uint32 *CodePoint) {
                      *CodePoint = Units[0];
                      return 1;
                  }};
}

auto AnsiReader(const char *Source, size_t Count) {
    return Reader{(const uint8 *)Source, Count, [](const uint8 *Units, size_t, uint32 *CodePoint) {
                      *CodePoint = AnsiCodePoint(Units[0]);
                      return 1;
                  }};
}

// ---- Writers ----

// Writes scalars into a cleared destination while each one and the terminator
// fit.
template <typename Source>
int32 WriteUtf8(char *Destination, int32 Size, Source &&Next) {
    if (Size < 1) return 0;
    memset(Destination, 0, (size_t)Size);
    int32 Out = 0;
    uint32 CodePoint;
    while (Next(&CodePoint)) {
        const uint32 Scalar = ToScalar(CodePoint);
        if (Out + ScalarLengthUtf8(Scalar) + 1 > Size) break;
        Out += EncodeUtf8(Scalar, Destination + Out);
    }
    return Out;
}

// Writes scalars (pairs above U+FFFF) while each one and the terminator fit.
template <typename Source>
int32 WriteUtf16(uint16 *Destination, int32 Units, Source &&Next) {
    if (Units < 1) return 0;
    int32 Out = 0;
    uint32 CodePoint;
    while (Next(&CodePoint)) {
        const uint32 Scalar = ToScalar(CodePoint);
        if (Out + ScalarLengthUtf16(Scalar) + 1 > Units) break;
        Out += EncodeUtf16(Scalar, Destination + Out);
    }
    Destination[Out] = 0;
    return Out;
}

// Code points as they are, one unit each.
template <typename Source>
int32 WriteUtf32(uint32 *Destination, int32 Units, Source &&Next) {
    if (Units < 1) return 0;
    int32 Out = 0;
    uint32 CodePoint;
    while (Out + 2 <= Units && Next(&CodePoint)) Destination[Out++] = CodePoint;
    Destination[Out] = 0;
    return Out;
}

template <typename Source>
int64 LengthUtf8(Source &&Next) {
    int64 Bytes = 0;
    uint32 CodePoint;
    while (Next(&CodePoint)) Bytes += ScalarLengthUtf8(ToScalar(CodePoint));
    return Bytes;
}

int32 SaturatedLength(int64 Length) { return Length > INT32_MAX - 1 ? INT32_MAX - 1 : (int32)Length; }

// System-heap copies: released by the matching Delete without a size.
template <typename T>
int32 AllocateCopy(int64 Units, T **Copy) {
    Debug_CheckPointer(Copy);
    *Copy = nullptr;
    if (Units < 1 || Units > INT32_MAX) return 0;
    *Copy = static_cast<T *>(calloc((size_t)Units, sizeof(T)));
    return *Copy != nullptr;
}

template <typename T>
int32 DeleteCopy(T **Copy) {
    Debug_CheckPointer(Copy);
    free(*Copy);
    *Copy = nullptr;
    return 1;
}

// The platform converters are strict: input that does not encode characters
// fails the whole conversion instead of being replaced. The text is measured
// first, so one that does not fit with its terminator leaves an empty
// destination rather than a cut one.
template <typename Out, typename In>
int32 ConvertStrict(int32 (*Convert)(int32 *, Out *, int32, const In *, int32), Out *Destination, int32 Room,
                    const In *Source, int32 Length) {
    int32 Consumed;
    const int32 Needed = Convert(&Consumed, nullptr, 0, Source, Length);
    if (Needed < 0 || (int64)Needed + 1 > (int64)Room) {
        if (Room > 0) Destination[0] = 0;
        return 0;
    }
    const int32 Written = Convert(&Consumed, Destination, Room, Source, Length);
    return Written < 0 ? 0 : Written;
}

}  // namespace

// ---- Single characters ----

int32 CharUtf8_Length(const char *Text) {
    Debug_CheckPointer(Text);
    return Utf8LengthTable[(uint8)Text[0]];
}

int32 CharUtf8_ConvertToUtf16(const char *Text, uint16 *Unit, int32 *Length) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Unit);
    Debug_CheckPointer(Length);
    uint32 CodePoint;
    bool Valid;
    *Length = DecodeUtf8((const uint8 *)Text, 4, &CodePoint, &Valid);
    *Unit = (uint16)(CodePoint >= 0x10000 ? UNICODE_REPLACEMENT : CodePoint);
    return Valid;
}

int32 CharUtf64_LengthUtf8(uint32 CodePoint) {
    if (CodePoint < 0x80) return 1;
    if (CodePoint < 0x800) return 2;
    if (CodePoint < 0x10000) return 3;
    if (CodePoint < 0x200000) return 4;
    if (CodePoint < 0x4000000) return 5;
    if (CodePoint <= 0x7FFFFFFF) return 6;
    return 0;
}

int32 CharUtf64_CopyToUtf8(uint32 CodePoint, char *Destination, int32 Size, int32 *Bytes) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Bytes);
    *Bytes = 0;
    const int32 Length = CharUtf64_LengthUtf8(CodePoint);
    if (Length == 0) return 0;
    if (Length > Size) return 1;
    if (Length == 1) {
        Destination[0] = (char)CodePoint;
    } else {
        // Lead byte marks of RFC 2279 by length, then 6 payload bits per trail byte.
        static constexpr uint8 LeadMark[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
        for (int32 i = Length - 1; i > 0; i--) {
            Destination[i] = (char)(0x80 | (CodePoint & 0x3F));
            CodePoint >>= 6;
        }
        Destination[0] = (char)(LeadMark[Length] | CodePoint);
    }
    *Bytes = Length;
    return 1;
}

// ---- UTF-8 to UTF-16 and 32-bit units ----

int32 StringUtf8_CopyLengthToUtf16(uint16 *Destination, int32 Units, const char *Source, int32 LastIndex) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf16(Destination, Units, Utf8Reader(Source, SourceBound(LastIndex, 1)));
}

int32 StringUtf8_CopyToUtf16(uint16 *Destination, const char *Source, int32 Units) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf16(Destination, Units, Utf8Reader(Source, Unbounded));
}

int32 StringUtf8_CopyLengthToUtf32(uint32 *Destination, int32 Units, const char *Source, int32 LastIndex) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf32(Destination, Units, Utf8Reader(Source, SourceBound(LastIndex, 1)));
}

int32 StringUtf8_CopyToUtf32(uint32 *Destination, const char *Source, int32 Units) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf32(Destination, Units, Utf8Reader(Source, Unbounded));
}

int32 StringUtf8_CreateUtf16Length(const char *Source, int32 Units, uint16 **Copy) {
    Debug_CheckPointer(Source);
    if (!AllocateCopy(Units, Copy)) return 0;
    WriteUtf16(*Copy, Units, Utf8Reader(Source, Unbounded));
    return 1;
}

int32 StringUtf8_CreateUtf16(const char *Source, uint16 **Copy) {
    Debug_CheckPointer(Source);
    // Every byte gives at most one unit (a 4-byte sequence gives two).
    return StringUtf8_CreateUtf16Length(Source, SaturatedLength((int64)strlen(Source)) + 1, Copy);
}

int32 StringUtf8_CreateWideLength(const char *Source, int32 Units, uint32 **Copy) {
    Debug_CheckPointer(Source);
    if (!AllocateCopy(Units, Copy)) return 0;
    WriteUtf32(*Copy, Units, Utf8Reader(Source, Unbounded));
    return 1;
}

int32 StringUtf8_CreateWide(const char *Source, uint32 **Copy) {
    Debug_CheckPointer(Source);
    return StringUtf8_CreateWideLength(Source, SaturatedLength((int64)strlen(Source)) + 1, Copy);
}

int32 StringUtf8_DeleteUtf16(uint16 **Copy) { return DeleteCopy(Copy); }
int32 StringUtf8_DeleteWide(uint32 **Copy) { return DeleteCopy(Copy); }

int32 String_CopyLengthToUtf16(uint16 *Destination, int32 Units, const char *Source, int32 Length) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return ConvertStrict(Platform_MultiByteToWideChar16, Destination, Units, Source, Length);
}

int32 String_CopyToUtf16(uint16 *Destination, const char *Source, int32 Units) {
    Debug_CheckPointer(Source);
    return String_CopyLengthToUtf16(Destination, Units, Source, SaturatedLength((int64)strlen(Source)));
}

// ---- UTF-16 to UTF-8 ----

int32 StringUtf16_CopyLengthToUtf8(char *Destination, int32 Size, const uint16 *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, Utf16Reader(Source, SourceBound(Count, 0), false));
}

int32 StringUtf16_CopyToUtf8(char *Destination, const uint16 *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, Utf16Reader(Source, Unbounded, false));
}

int32 StringUtf16_ESCopyLengthToUtf8(char *Destination, int32 Size, const uint16 *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, Utf16Reader(Source, SourceBound(Count, 0), true));
}

int32 StringUtf16_LengthUtf8(const uint16 *Source) {
    Debug_CheckPointer(Source);
    return SaturatedLength(LengthUtf8(Utf16Reader(Source, Unbounded, false)));
}

int32 StringUtf16_CreateUtf8Length(const uint16 *Source, int32 Size, char **Copy) {
    Debug_CheckPointer(Source);
    if (!AllocateCopy(Size, Copy)) return 0;
    WriteUtf8(*Copy, Size, Utf16Reader(Source, Unbounded, false));
    return 1;
}

int32 StringUtf16_CreateUtf8(const uint16 *Source, char **Copy) {
    return StringUtf16_CreateUtf8Length(Source, StringUtf16_LengthUtf8(Source) + 1, Copy);
}

int32 StringUtf16_DeleteUtf8(char **Copy) { return DeleteCopy(Copy); }

int32 StringUtf16_CopyLengthToAscii(char *Destination, int32 Size, const uint16 *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return ConvertStrict(Platform_WideChar16ToMultiByte, Destination, Size, Source, Count);
}

int32 StringUtf16_CopyToAscii(char *Destination, const uint16 *Source, int32 Size) {
    return StringUtf16_CopyLengthToAscii(Destination, Size, Source, StringUtf16_Length(Source));
}

// ---- 32-bit texts ----

int32 StringUtf32_Length(const uint32 *Source) {
    Debug_CheckPointer(Source);
    int32 Length = 0;
    while (Source[Length] != 0) Length++;
    return Length;
}

int32 StringUtf32_LengthUtf8(const uint32 *Source) {
    Debug_CheckPointer(Source);
    return SaturatedLength(LengthUtf8(Utf32Reader(Source, Unbounded)));
}

int32 StringUtf32_CopyLengthToUtf8(char *Destination, int32 Size, const uint32 *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, Utf32Reader(Source, SourceBound(Count, 0)));
}

int32 StringUtf32_CopyToUtf8(char *Destination, const uint32 *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, Utf32Reader(Source, Unbounded));
}

int32 StringUtf32_CopyLengthToUtf16(uint16 *Destination, int32 Units, const uint32 *Source, int32 LastIndex) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf16(Destination, Units, Utf32Reader(Source, SourceBound(LastIndex, 1)));
}

int32 StringUtf32_CopyToUtf16(uint16 *Destination, const uint32 *Source, int32 Units) {
    return StringUtf32_CopyLengthToUtf16(Destination, Units, Source, INT32_MAX - 1);
}

int32 WideString_CreateLength(int32 Units, uint32 **Copy) { return AllocateCopy(Units, Copy); }

int32 WideString_CreateUtf8Length(const uint32 *Source, int32 Size, char **Copy) {
    Debug_CheckPointer(Source);
    if (!AllocateCopy(Size, Copy)) return 0;
    WriteUtf8(*Copy, Size, Utf32Reader(Source, Unbounded));
    return 1;
}

int32 WideString_CreateUtf8(const uint32 *Source, char **Copy) {
    return WideString_CreateUtf8Length(Source, StringUtf32_LengthUtf8(Source) + 1, Copy);
}

int32 WideString_DeleteLength(uint32 **Copy) { return DeleteCopy(Copy); }
int32 WideString_DeleteUtf8(char **Copy) { return DeleteCopy(Copy); }

// ---- Windows-1252 ----

int32 CharAnsi_LengthUtf8(uint8 Byte) { return ScalarLengthUtf8(AnsiCodePoint(Byte)); }

int32 CharAnsi_CopyToUtf8(uint8 Byte, char *Destination, int32 Size, int32 *Bytes) {
    return CharUtf64_CopyToUtf8(AnsiCodePoint(Byte), Destination, Size, Bytes);
}

int32 StringAnsi_LengthUtf8(const char *Source) {
    Debug_CheckPointer(Source);
    return SaturatedLength(LengthUtf8(AnsiReader(Source, Unbounded)));
}

int32 StringAnsi_CopyLengthToUtf8(char *Destination, int32 Size, const char *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, AnsiReader(Source, SourceBound(Count, 0)));
}

int32 StringAnsi_CopyToUtf8(char *Destination, const char *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return WriteUtf8(Destination, Size, AnsiReader(Source, Unbounded));
}

int32 StringAnsi_CreateUtf8Length(const char *Source, int32 Size, char **Copy) {
    Debug_CheckPointer(Source);
    if (!AllocateCopy(Size, Copy)) return 0;
    WriteUtf8(*Copy, Size, AnsiReader(Source, Unbounded));
    return 1;
}

int32 StringAnsi_CreateUtf8(const char *Source, char **Copy) {
    return StringAnsi_CreateUtf8Length(Source, StringAnsi_LengthUtf8(Source) + 1, Copy);
}

int32 StringAnsi_DeleteUtf8(char **Copy) { return DeleteCopy(Copy); }

// ---- UTF-16 string functions ----

int32 StringUtf16_Length(const uint16 *Text) {
    Debug_CheckPointer(Text);
    int32 Length = 0;
    while (Text[Length] != 0) Length++;
    return Length;
}

int32 StringUtf16_Copy(uint16 *Destination, const uint16 *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    int32 Length = 0;
    while ((Destination[Length] = Source[Length]) != 0) Length++;
    return Length;
}

int32 StringUtf16_CopyLength(uint16 *Destination, const uint16 *Source, int32 Units) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Units < 1) return 0;
    int32 Length = 0;
    while (Length < Units - 1 && Source[Length] != 0) {
        Destination[Length] = Source[Length];
        Length++;
    }
    Destination[Length] = 0;
    return Length;
}

int32 StringUtf16_Cat(uint16 *Destination, const uint16 *Source) {
    Debug_CheckPointer(Destination);
    return StringUtf16_Copy(Destination + StringUtf16_Length(Destination), Source);
}

int32 StringUtf16_CatLength(uint16 *Destination, const uint16 *Source, int32 Units) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    int32 Length = 0;
    while (Length < Units && Destination[Length] != 0) Length++;
    if (Length >= Units) return 0;
    return StringUtf16_CopyLength(Destination + Length, Source, Units - Length);
}

int32 StringUtf16_Reverse(uint16 *Text) {
    Debug_CheckPointer(Text);
    int32 Length = StringUtf16_Length(Text);
    for (int32 i = 0, j = Length - 1; i < j; i++, j--) {
        const uint16 Unit = Text[i];
        Text[i] = Text[j];
        Text[j] = Unit;
    }
    return 1;
}

int32 StringUtf16_FindChar(const uint16 *Text, uint16 Unit, const uint16 **Position) {
    Debug_CheckPointer(Text);
    const uint16 *Found = nullptr;
    for (const uint16 *p = Text; *p != 0; p++) {
        if (*p == Unit) {
            Found = p;
            break;
        }
    }
    if (Position) *Position = Found;
    return Found != nullptr;
}

int32 StringUtf16_FindCharReverse(const uint16 *Text, uint16 Unit, const uint16 **Position) {
    Debug_CheckPointer(Text);
    const int32 Length = StringUtf16_Length(Text);
    const uint16 *Found = nullptr;
    if (Unit == 0) {
        Found = Text + Length;
    } else {
        for (int32 i = Length - 1; i >= 0; i--) {
            if (Text[i] == Unit) {
                Found = Text + i;
                break;
            }
        }
    }
    if (Position) *Position = Found;
    return Found != nullptr;
}

int32 StringUtf16_FindCharReverseAt(const uint16 *Text, uint16 Unit, int32 StartIndex, const uint16 **Position) {
    Debug_CheckPointer(Text);
    const uint16 *Found = nullptr;
    const int32 Length = StringUtf16_Length(Text);
    if (Length > 0 && StartIndex >= 0) {
        for (int32 i = StartIndex < Length ? StartIndex : Length - 1; i >= 0; i--) {
            if (Text[i] == Unit) {
                Found = Text + i;
                break;
            }
        }
    }
    if (Position) *Position = Found;
    return Found != nullptr;
}

static int32 FindString(const uint16 *Text, const uint16 *Sub, const uint16 **Position, bool WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    const uint16 *Found = nullptr;
    for (const uint16 *p = Text; *p != 0 && !Found; p++) {
        int32 i = 0;
        while (Sub[i] != 0 && p[i] != 0 &&
               (WithoutCase ? Fold(p[i]) == Fold(Sub[i]) : p[i] == Sub[i]))
            i++;
        if (Sub[i] == 0) Found = p;
    }
    if (Position) *Position = Found;
    return Found != nullptr;
}

int32 StringUtf16_FindString(const uint16 *Text, const uint16 *Sub, const uint16 **Position) {
    return FindString(Text, Sub, Position, false);
}

int32 StringUtf16_FindStringWithoutCase(const uint16 *Text, const uint16 *Sub, const uint16 **Position) {
    return FindString(Text, Sub, Position, true);
}

// Compares up to Count units (negative: unlimited); equal when both end
// together or Count units matched. Prefix mode only needs B to end.
static int32 CompareUnits(const uint16 *A, const uint16 *B, int64 Count, bool WithoutCase, bool Prefix) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    for (int64 i = 0; Count < 0 || i < Count; i++) {
        if (B[i] == 0) return Prefix || A[i] == 0;
        const uint16 x = WithoutCase ? Fold(A[i]) : A[i];
        const uint16 y = WithoutCase ? Fold(B[i]) : B[i];
        if (x != y) return 0;
    }
    return 1;
}

int32 StringUtf16_CompareBeginning(const uint16 *Text, const uint16 *Prefix) {
    return CompareUnits(Text, Prefix, -1, false, true);
}

int32 StringUtf16_CompareBeginningWithoutCase(const uint16 *Text, const uint16 *Prefix) {
    return CompareUnits(Text, Prefix, -1, true, true);
}

int32 StringUtf16_Compare(const uint16 *A, const uint16 *B) { return CompareUnits(A, B, -1, false, false); }

int32 StringUtf16_CompareWithoutCase(const uint16 *A, const uint16 *B) {
    return CompareUnits(A, B, -1, true, false);
}

int32 StringUtf16_CompareLength(const uint16 *A, const uint16 *B, int32 Count) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    return Count < 1 ? 1 : CompareUnits(A, B, Count, false, false);
}

int32 StringUtf16_CompareLengthWithoutCase(const uint16 *A, const uint16 *B, int32 Count) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    return Count < 1 ? 1 : CompareUnits(A, B, Count, true, false);
}

static int32 CompareEnding(const uint16 *Text, const uint16 *Suffix, bool WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Suffix);
    const int32 TextLength = StringUtf16_Length(Text);
    const int32 SuffixLength = StringUtf16_Length(Suffix);
    // A shorter text never ends with the suffix ("e.com" must not pass for ".example.com").
    if (SuffixLength > TextLength) return 0;
    return CompareUnits(Text + TextLength - SuffixLength, Suffix, -1, WithoutCase, false);
}

int32 StringUtf16_CompareEnding(const uint16 *Text, const uint16 *Suffix) {
    return CompareEnding(Text, Suffix, false);
}

int32 StringUtf16_CompareEndingWithoutCase(const uint16 *Text, const uint16 *Suffix) {
    return CompareEnding(Text, Suffix, true);
}

int64 StringUtf16_AtoI64(const uint16 *Text) {
    if (Text == nullptr) return 0;
    bool Negative = false;
    if (*Text == '+' || *Text == '-') Negative = *Text++ == '-';
    uint64 Value = 0;  // unsigned, so overflow wraps instead of being undefined
    for (; *Text >= '0' && *Text <= '9'; Text++) Value = Value * 10 + (uint64)(*Text - '0');
    return (int64)(Negative ? 0 - Value : Value);
}

int32 StringUtf16_AtoI(const uint16 *Text) { return (int32)StringUtf16_AtoI64(Text); }
