// Strict UTF-8 decoding into code points, UTF-8/UTF-16 encoding of Unicode
// scalar values and cutting UTF-8 text at a character boundary, kept in one
// place so that all code agrees on what is well-formed. Every module that
// walks UTF-8 itself uses it rather than a decoder of its own: the text
// converters (the Unicode module and the platform layer's), the print
// engine, the JSON, YAML and XML readers and writers, and the code that cuts
// Dictionary keys, notification texts and thread names to a size. Code that
// only converts whole texts goes through runtime/text/unicode.h instead.
// Header-only so that the hot loops inline it.
//
// The decoder follows the Unicode "maximal subpart" rule that Python's
// errors="replace" implements: an ill-formed sequence yields one U+FFFD for the
// longest prefix that could still have begun a valid character (at least one
// byte). Overlong forms, encoded surrogates, values above U+10FFFF, 5- and
// 6-byte forms and truncated sequences are all ill-formed. Continuation bytes
// are never 0, so decoding never steps over a terminator.
#pragma once

#include "runtime/types.h"

namespace unicode {

inline constexpr uint32 Replacement = 0xFFFD;

// Decodes one character from Text, reading at most Available bytes (at least
// 1). Returns the bytes consumed; CodePoint receives the scalar value or
// U+FFFD; Valid (optional) tells whether the sequence was well-formed.
inline int32 DecodeUtf8(const uint8 *Text, size_t Available, uint32 *CodePoint, bool *Valid = nullptr) {
    const uint8 Lead = Text[0];
    if (Lead < 0x80) {
        *CodePoint = Lead;
        if (Valid) *Valid = true;
        return 1;
    }
    int32 Need;
    uint8 Low = 0x80, High = 0xBF;  // range of the second byte
    uint32 Value;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Need = 1;
        Value = Lead & 0x1F;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Need = 2;
        Value = Lead & 0x0F;
        if (Lead == 0xE0) Low = 0xA0;   // overlong
        if (Lead == 0xED) High = 0x9F;  // surrogates
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Need = 3;
        Value = Lead & 0x07;
        if (Lead == 0xF0) Low = 0x90;   // overlong
        if (Lead == 0xF4) High = 0x8F;  // above U+10FFFF
    } else {
        *CodePoint = Replacement;
        if (Valid) *Valid = false;
        return 1;
    }
    int32 Used = 1;
    for (int32 i = 0; i < Need; i++) {
        if ((size_t)Used >= Available) break;
        const uint8 Byte = Text[Used];
        const uint8 Min = i == 0 ? Low : 0x80;
        const uint8 Max = i == 0 ? High : 0xBF;
        if (Byte < Min || Byte > Max) break;
        Value = (Value << 6) | (Byte & 0x3F);
        Used++;
    }
    if (Used != Need + 1) {
        *CodePoint = Replacement;
        if (Valid) *Valid = false;
        return Used;
    }
    *CodePoint = Value;
    if (Valid) *Valid = true;
    return Used;
}

// Scalar values only: surrogates and values above U+10FFFF become U+FFFD.
inline uint32 ToScalar(uint32 CodePoint) {
    if ((CodePoint >= 0xD800 && CodePoint <= 0xDFFF) || CodePoint > 0x10FFFF) return Replacement;
    return CodePoint;
}

inline int32 ScalarLengthUtf8(uint32 Scalar) {
    return Scalar < 0x80 ? 1 : Scalar < 0x800 ? 2 : Scalar < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of a scalar value (1 to 4 bytes); returns its length.
inline int32 EncodeUtf8(uint32 Scalar, char *Out) {
    if (Scalar < 0x80) {
        Out[0] = (char)Scalar;
        return 1;
    }
    if (Scalar < 0x800) {
        Out[0] = (char)(0xC0 | (Scalar >> 6));
        Out[1] = (char)(0x80 | (Scalar & 0x3F));
        return 2;
    }
    if (Scalar < 0x10000) {
        Out[0] = (char)(0xE0 | (Scalar >> 12));
        Out[1] = (char)(0x80 | ((Scalar >> 6) & 0x3F));
        Out[2] = (char)(0x80 | (Scalar & 0x3F));
        return 3;
    }
    Out[0] = (char)(0xF0 | (Scalar >> 18));
    Out[1] = (char)(0x80 | ((Scalar >> 12) & 0x3F));
    Out[2] = (char)(0x80 | ((Scalar >> 6) & 0x3F));
    Out[3] = (char)(0x80 | (Scalar & 0x3F));
    return 4;
}

// A cut of Text at Length bytes, moved back so that it does not split a
// character (Text[Length], the first byte dropped, must exist).
inline size_t CutLengthUtf8(const char *Text, size_t Length) {
    while (Length > 0 && (static_cast<uint8>(Text[Length]) & 0xC0) == 0x80) Length--;
    return Length;
}

inline bool IsHighSurrogate(uint32 Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
inline bool IsLowSurrogate(uint32 Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

// The code point a high and a low surrogate stand for together.
inline uint32 CombineSurrogates(uint32 High, uint32 Low) {
    return 0x10000 + ((High - 0xD800) << 10) + (Low - 0xDC00);
}

inline int32 ScalarLengthUtf16(uint32 Scalar) { return Scalar >= 0x10000 ? 2 : 1; }

// Writes the UTF-16 form of a scalar value (one unit, or a surrogate pair
// above U+FFFF); returns its length in units.
inline int32 EncodeUtf16(uint32 Scalar, uint16 *Out) {
    if (Scalar < 0x10000) {
        Out[0] = (uint16)Scalar;
        return 1;
    }
    Out[0] = (uint16)(0xD800 + ((Scalar - 0x10000) >> 10));
    Out[1] = (uint16)(0xDC00 + ((Scalar - 0x10000) & 0x3FF));
    return 2;
}

// Reads one character from UTF-16 units: a pair becomes one code point, a lone
// surrogate U+FFFD. Available counts the units that may be read (at least 1);
// a 0 unit is never taken as the second half of a pair. Returns units used.
inline int32 DecodeUtf16(const uint16 *Units, size_t Available, uint32 *CodePoint, bool Swapped = false) {
    auto Read = [Swapped](uint16 Unit) -> uint32 {
        return Swapped ? (uint32)(uint16)((Unit >> 8) | (Unit << 8)) : Unit;
    };
    const uint32 First = Read(Units[0]);
    if (IsHighSurrogate(First)) {
        if (Available > 1) {
            const uint32 Second = Read(Units[1]);
            if (IsLowSurrogate(Second)) {
                *CodePoint = CombineSurrogates(First, Second);
                return 2;
            }
        }
        *CodePoint = Replacement;
        return 1;
    }
    *CodePoint = IsLowSurrogate(First) ? Replacement : First;
    return 1;
}

}  // namespace unicode
