// Unicode and character-set conversions. Texts are UTF-8 inside the system;
// platform interfaces, script engines and some file formats hand over UTF-16
// (16-bit units), 32-bit wide texts (one code point per unit) or Windows-1252
// bytes. The converters (all but the two that go through the platform layer)
// never fail on odd input: they cut at the destination's size (always
// terminating when there is room for it) and replace what is not valid with
// U+FFFD, one per maximal ill-formed UTF-8 subpart and one per lone UTF-16
// surrogate. Characters above U+FFFF are carried whole: surrogate pairs
// in UTF-16, one unit in 32-bit texts, one 4-byte sequence in UTF-8.
//
// Sizes count destination units (bytes, 16-bit or 32-bit units) and include
// the terminator; LastIndex arguments give the index of the last source unit
// to read (callers pass the length minus 1). Converters also stop at a source
// terminator. Copies made by the Create operations come from the system heap
// and are released with the matching Delete, which clears the caller's
// pointer (deleting none is allowed). Required pointers are checked: a null
// one is the fatal stop "Pointer is NULL\n". Out-parameters named Position
// are optional.
#pragma once

#include "runtime/types.h"

// The replacement character for anything that cannot be converted.
#define UNICODE_REPLACEMENT 0xFFFD

RUNTIME_EXTERN_C_BEGIN

// ---- Single characters ----
// Sequence length announced by the lead byte (1 to 6; 0x80-0xBF and 0xFE-0xFF give 1).
int32 CharUtf8_Length(const char *Text);
// One UTF-8 character to one 16-bit unit. 1 for a well-formed sequence (a
// character above U+FFFF gives U+FFFD, Length 4); 0 for an ill-formed one,
// with Unit U+FFFD and Length the bytes of its maximal ill-formed subpart, so
// a caller may substitute and continue.
int32 CharUtf8_ConvertToUtf16(const char *Text, uint16 *Unit, int32 *Length);
// Any value up to 0x7FFFFFFF in 1 to 6 bytes (no terminator). Writes nothing
// (Bytes 0) when Size is too small; 0 above 0x7FFFFFFF, else 1.
int32 CharUtf64_CopyToUtf8(uint32 CodePoint, char *Destination, int32 Size, int32 *Bytes);
// 1 to 6; 0 above 0x7FFFFFFF.
int32 CharUtf64_LengthUtf8(uint32 CodePoint);

// ---- UTF-8 to UTF-16 and 32-bit units (results: units written, terminator excluded) ----
int32 StringUtf8_CopyLengthToUtf16(uint16 *Destination, int32 Units, const char *Source, int32 LastIndex);
int32 StringUtf8_CopyToUtf16(uint16 *Destination, const char *Source, int32 Units);
int32 StringUtf8_CopyLengthToUtf32(uint32 *Destination, int32 Units, const char *Source, int32 LastIndex);
int32 StringUtf8_CopyToUtf32(uint32 *Destination, const char *Source, int32 Units);
// Allocated copies of Units units (strlen + 1 without Length); 0 when the allocation fails.
int32 StringUtf8_CreateUtf16Length(const char *Source, int32 Units, uint16 **Copy);
int32 StringUtf8_CreateUtf16(const char *Source, uint16 **Copy);
int32 StringUtf8_CreateWideLength(const char *Source, int32 Units, uint32 **Copy);
int32 StringUtf8_CreateWide(const char *Source, uint32 **Copy);
int32 StringUtf8_DeleteUtf16(uint16 **Copy);
int32 StringUtf8_DeleteWide(uint32 **Copy);
// All or nothing, through the platform converter: 0 (and an empty text) when
// the source holds anything that is not a character or the converted text with
// its terminator exceeds Units.
int32 String_CopyLengthToUtf16(uint16 *Destination, int32 Units, const char *Source, int32 Length);
int32 String_CopyToUtf16(uint16 *Destination, const char *Source, int32 Units);

// ---- UTF-16 to UTF-8 (results: bytes written, terminator excluded) ----
// Count limits the source units read.
int32 StringUtf16_CopyLengthToUtf8(char *Destination, int32 Size, const uint16 *Source, int32 Count);
int32 StringUtf16_CopyToUtf8(char *Destination, const uint16 *Source, int32 Size);
// Source units stored with swapped bytes (big-endian).
int32 StringUtf16_ESCopyLengthToUtf8(char *Destination, int32 Size, const uint16 *Source, int32 Count);
// UTF-8 bytes of the whole text, terminator excluded.
int32 StringUtf16_LengthUtf8(const uint16 *Source);
// Allocated UTF-8 copy of Size bytes (LengthUtf8 + 1 without Length).
int32 StringUtf16_CreateUtf8Length(const uint16 *Source, int32 Size, char **Copy);
int32 StringUtf16_CreateUtf8(const uint16 *Source, char **Copy);
int32 StringUtf16_DeleteUtf8(char **Copy);
// All or nothing, through the platform converter: 0 (and an empty text) for a
// lone surrogate or when the converted text with its terminator exceeds Size.
int32 StringUtf16_CopyLengthToAscii(char *Destination, int32 Size, const uint16 *Source, int32 Count);
int32 StringUtf16_CopyToAscii(char *Destination, const uint16 *Source, int32 Size);

// ---- 32-bit texts ----
int32 StringUtf32_Length(const uint32 *Source);
int32 StringUtf32_LengthUtf8(const uint32 *Source);
int32 StringUtf32_CopyLengthToUtf8(char *Destination, int32 Size, const uint32 *Source, int32 Count);
int32 StringUtf32_CopyToUtf8(char *Destination, const uint32 *Source, int32 Size);
int32 StringUtf32_CopyLengthToUtf16(uint16 *Destination, int32 Units, const uint32 *Source, int32 LastIndex);
int32 StringUtf32_CopyToUtf16(uint16 *Destination, const uint32 *Source, int32 Units);
// Zeroed allocation of Units 32-bit units.
int32 WideString_CreateLength(int32 Units, uint32 **Copy);
int32 WideString_CreateUtf8Length(const uint32 *Source, int32 Size, char **Copy);
int32 WideString_CreateUtf8(const uint32 *Source, char **Copy);
int32 WideString_DeleteLength(uint32 **Copy);
int32 WideString_DeleteUtf8(char **Copy);

// ---- Windows-1252 to UTF-8 (0x81, 0x8D, 0x8F, 0x90 and 0x9D stay U+0081 ...) ----
int32 CharAnsi_LengthUtf8(uint8 Byte);
int32 CharAnsi_CopyToUtf8(uint8 Byte, char *Destination, int32 Size, int32 *Bytes);
int32 StringAnsi_LengthUtf8(const char *Source);
int32 StringAnsi_CopyLengthToUtf8(char *Destination, int32 Size, const char *Source, int32 Count);
int32 StringAnsi_CopyToUtf8(char *Destination, const char *Source, int32 Size);
int32 StringAnsi_CreateUtf8Length(const char *Source, int32 Size, char **Copy);
int32 StringAnsi_CreateUtf8(const char *Source, char **Copy);
int32 StringAnsi_DeleteUtf8(char **Copy);

// ---- UTF-16 counterparts of the byte-string functions (ASCII case rules) ----
int32 StringUtf16_Length(const uint16 *Text);
int32 StringUtf16_Copy(uint16 *Destination, const uint16 *Source);
// At most Units - 1 units, terminated when Units > 0.
int32 StringUtf16_CopyLength(uint16 *Destination, const uint16 *Source, int32 Units);
int32 StringUtf16_Cat(uint16 *Destination, const uint16 *Source);
// Units counts the text already in Destination.
int32 StringUtf16_CatLength(uint16 *Destination, const uint16 *Source, int32 Units);
int32 StringUtf16_Reverse(uint16 *Text);
int32 StringUtf16_FindChar(const uint16 *Text, uint16 Unit, const uint16 **Position);
int32 StringUtf16_FindCharReverse(const uint16 *Text, uint16 Unit, const uint16 **Position);
// Searches backwards from StartIndex; 0 for an empty text or a negative index.
int32 StringUtf16_FindCharReverseAt(const uint16 *Text, uint16 Unit, int32 StartIndex, const uint16 **Position);
int32 StringUtf16_FindString(const uint16 *Text, const uint16 *Sub, const uint16 **Position);
int32 StringUtf16_FindStringWithoutCase(const uint16 *Text, const uint16 *Sub, const uint16 **Position);
int32 StringUtf16_CompareBeginning(const uint16 *Text, const uint16 *Prefix);
int32 StringUtf16_CompareBeginningWithoutCase(const uint16 *Text, const uint16 *Prefix);
int32 StringUtf16_Compare(const uint16 *A, const uint16 *B);
int32 StringUtf16_CompareWithoutCase(const uint16 *A, const uint16 *B);
int32 StringUtf16_CompareLength(const uint16 *A, const uint16 *B, int32 Count);
int32 StringUtf16_CompareLengthWithoutCase(const uint16 *A, const uint16 *B, int32 Count);
// A text shorter than a non-empty suffix never matches.
int32 StringUtf16_CompareEnding(const uint16 *Text, const uint16 *Suffix);
int32 StringUtf16_CompareEndingWithoutCase(const uint16 *Text, const uint16 *Suffix);
// Decimal with an optional sign, no hex; 64-bit wrap.
int64 StringUtf16_AtoI64(const uint16 *Text);
int32 StringUtf16_AtoI(const uint16 *Text);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
// Mutable-text forms of the search functions (writable text, writable position).
inline int32 StringUtf16_FindChar(uint16 *Text, uint16 Unit, uint16 **Position) {
    return StringUtf16_FindChar(Text, Unit, const_cast<const uint16 **>(Position));
}
inline int32 StringUtf16_FindCharReverse(uint16 *Text, uint16 Unit, uint16 **Position) {
    return StringUtf16_FindCharReverse(Text, Unit, const_cast<const uint16 **>(Position));
}
inline int32 StringUtf16_FindCharReverseAt(uint16 *Text, uint16 Unit, int32 StartIndex, uint16 **Position) {
    return StringUtf16_FindCharReverseAt(Text, Unit, StartIndex, const_cast<const uint16 **>(Position));
}
inline int32 StringUtf16_FindString(uint16 *Text, const uint16 *Sub, uint16 **Position) {
    return StringUtf16_FindString(Text, Sub, const_cast<const uint16 **>(Position));
}
inline int32 StringUtf16_FindStringWithoutCase(uint16 *Text, const uint16 *Sub, uint16 **Position) {
    return StringUtf16_FindStringWithoutCase(Text, Sub, const_cast<const uint16 **>(Position));
}
#endif
