// The system's byte-string library: NUL-terminated UTF-8 texts in fixed-size
// buffers, handled by free functions. Sizes are int32 byte counts that include
// the terminator; bounded operations copy at most size - 1 bytes and always
// terminate when size is at least 1. Case rules fold ASCII A-Z/a-z only; every
// other byte compares as itself. The functions keep no state.
//
// This header also brings in formatted printing, Unicode conversions and the
// version/boolean decoders, so that a caller includes one header for texts.
//
// Required pointers (text, source, destination, pattern, set) are checked:
// a null one is the fatal stop "Pointer is NULL\n". Out-parameters named
// Position are optional and receive a pointer into the text, or null when
// nothing was found.
#pragma once

#include "runtime/types.h"

#include "runtime/text/string_print.h"
#include "runtime/text/unicode.h"
#include "runtime/version.h"

RUNTIME_EXTERN_C_BEGIN

// ---- Copy and concatenate (results: bytes copied or appended) ----
int32 String_CopyLength(char *Destination, const char *Source, int32 Size);
int32 String_Copy(char *Destination, const char *Source);
int32 String_Cat(char *Destination, const char *Source);
// Size counts the text already in Destination.
int32 String_CatLength(char *Destination, const char *Source, int32 Size);
// At most Count bytes of Source and at most Size - 1 bytes, terminated.
int32 String_CopyLengthSafe(char *Destination, int32 Size, const char *Source, int32 Count);
int32 String_CopyUntilChar(char *Destination, const char *Source, const char *Set);
int32 String_CopyUntilCharLength(char *Destination, const char *Source, const char *Set, int32 Size);
int32 String_CopyUntilControl(char *Destination, const char *Source);
int32 String_CopyUntilControlLength(char *Destination, const char *Source, int32 Size);

// The byte as the case rule compares it: A-Z folded to a-z, any other byte
// (those of UTF-8 sequences among them) unchanged. Inline: callers use it to
// pass over texts whose first bytes differ before a whole comparison.
static inline uint8 String_FoldChar(char Ch) {
    const uint8 Value = (uint8)Ch;
    return (Value >= 'A' && Value <= 'Z') ? (uint8)(Value + ('a' - 'A')) : Value;
}

// ---- In-place edits (1 unless said otherwise) ----
int32 String_Upper(char *Text);
int32 String_Lower(char *Text);
int32 String_Reverse(char *Text);
int32 String_TrimLeftChar(char *Text, char Ch);
int32 String_TrimRightChar(char *Text, char Ch);
int32 String_TrimChar(char *Text, char Ch);
int32 String_TrimLeftChars(char *Text, const char *Set);
// The first byte is never removed; NewLength (optional) receives the new length.
int32 String_TrimRightCharsLength(char *Text, const char *Set, int32 Length, int32 *NewLength);
int32 String_TrimRightChars(char *Text, const char *Set);
int32 String_TrimChars(char *Text, const char *Set);
int32 String_TrimWhitespace(char *Text);
// Keeps only the bytes 33 to 126; Destination may equal Source.
int32 String_Strip(char *Destination, const char *Source);
int32 String_StripChar(char *Text, char Ch);
// 0 when the text is shorter than Count.
int32 String_ShiftLeft(char *Text, int32 Count);
// 0 when length + Count would reach Size.
int32 String_ShiftRight(char *Text, int32 Size, int32 Count);
int32 String_ReplaceChar(char From, char To, char *Text);
int32 String_ReplaceLength(const char *Find, const char *Replacement, char *Text, int32 Size);
// 0 when Find or Text is empty or a replacement does not fit (earlier ones stay).
int32 String_ReplaceLengthEx(const char *Find, const char *Replacement, char Escape, char *Text, int32 Size);
// Occurrences of Ch; a null text counts none.
int32 String_CountChar(const char *Text, char Ch);

// ---- Comparison (1 when equal / matching) ----
int32 String_Compare(const char *A, const char *B);
int32 String_CompareWithoutCase(const char *A, const char *B);
// Difference of the first differing bytes as unsigned values; 0 when equal.
int32 String_CompareReturn(const char *A, const char *B);
// -1, 0 or 1 after folding A-Z to a-z.
int32 String_CompareWithoutCaseReturn(const char *A, const char *B);
int32 String_CompareLength(const char *A, const char *B, int32 Count);
int32 String_CompareLengthWithoutCase(const char *A, const char *B, int32 Count);
int32 String_CompareBeginning(const char *Text, const char *Prefix);
int32 String_CompareBeginningWithoutCase(const char *Text, const char *Prefix);
// A text shorter than a non-empty suffix never matches.
int32 String_CompareEnding(const char *Text, const char *Suffix);
int32 String_CompareEndingWithoutCase(const char *Text, const char *Suffix);
int32 String_CompareIgnore(const char *A, const char *B, const char *Ignore, int32 WithoutCase);

// ---- Search (1 when found) ----
int32 String_FindChar(const char *Text, char Ch, const char **Position);
int32 String_ContainsChar(const char *Text, char Ch);
int32 String_FindCharLength(const char *Text, int32 Length, char Ch, const char **Position);
int32 String_FindCharReverse(const char *Text, char Ch, const char **Position);
int32 String_FindFirstChar(const char *Text, const char *Set, const char **Position);
int32 String_FindFirstCharLength(const char *Text, int32 Length, const char *Set, const char **Position);
int32 String_FindFirstCharReverse(const char *Text, const char *Set, const char **Position);
int32 String_FindString(const char *Text, const char *Sub, const char **Position);
int32 String_ContainsString(const char *Text, const char *Sub);
int32 String_FindStringWithoutCase(const char *Text, const char *Sub, const char **Position);
int32 String_ContainsStringWithoutCase(const char *Text, const char *Sub);
int32 String_FindStringLength(const char *Text, int32 Length, const char *Sub, const char **Position);
int32 String_FindStringReverse(const char *Text, const char *Sub, const char **Position);
int32 String_FindStringReverseWithoutCase(const char *Text, const char *Sub, const char **Position);

// ---- Lists and lines ----
// 1 when the list has member Index (also an empty one) and it fit in OutputSize - 1 bytes.
int32 String_ListGetMember(const char *List, char Separator, int32 Trim, int32 Index, char *Output,
                           int32 OutputSize);
int32 String_ListContainsMember(const char *List, char Separator, const char *Member);
// Copies one line (without LF and a CR before it); Consumed (optional) counts the LF.
int32 String_LineGetNext(const char *Buffer, int32 Length, char *Line, int32 LineSize, int32 *Consumed);

// ---- Wildcards ("*" only; "\*" is a literal star) ----
int32 String_CompareWildcard(const char *Text, const char *Pattern);
int32 String_CompareWildcardWithoutCase(const char *Text, const char *Pattern);
// The pattern ends at its NUL or at Terminator (0 for none).
int32 String_CompareWildcardInt(const char *Text, const char *Pattern, char Terminator, int32 WithoutCase);
// Members separated by ";" (blanks after ";" skipped); "*" matches all, "" nothing.
int32 String_CompareWildcardList(const char *Text, const char *PatternList);
int32 String_CompareWildcardListWithoutCase(const char *Text, const char *PatternList);
int32 String_CompareWildcardListInt(const char *Text, const char *PatternList, int32 WithoutCase);
// UTF-16 forms: the same rules on 16-bit units, without escape and lists.
int32 StringUtf16_CompareWildcard(const uint16 *Text, const uint16 *Pattern);
int32 StringUtf16_CompareWildcardWithoutCase(const uint16 *Text, const uint16 *Pattern);
int32 StringUtf16_CompareWildcardInt(const uint16 *Text, const uint16 *Pattern, int32 WithoutCase);

// ---- Numbers and texts ----
// Decimal or "0x" hex; 64-bit wrap, no overflow check; null or non-numeric gives 0.
int64 String_AtoI64(const char *Text);
uint64 String_AtoU64(const char *Text);
int32 String_AtoI(const char *Text);
uint32 String_AtoU(const char *Text);
uintptr String_AtoP(const char *Text);
// 1 when the text begins with "0x"/"0X" (value read up to the first non-hex byte).
int32 String_ConvertToHexInternal(const char *Text, uint64 *Value);
int32 String_IsNumeric(const char *Text);
float64 String_AtoF(const char *Text);

// Two digits per byte; 0 when the output was cut (it is always terminated).
int32 String_ConvertToHex(const void *Bytes, int32 Count, int32 LowerCase, char *Output, int32 Size);
// OutputLength (optional) receives the bytes decoded; 0 at a non-hex byte or odd digit.
int32 String_ConvertFromHexLength(const char *Text, int32 Length, void *Output, int32 OutputSize,
                                  int32 *OutputLength);
int32 String_ConvertFromHex(const char *Text, void *Output, int32 OutputSize, int32 *OutputLength);

// Address holds four bytes in text order (first number first in memory); Port is optional.
int32 String_ConvertToIP(const char *Text, uint32 *Address, int32 *Port);
int32 String_ConvertFromIP(const uint32 *Address, int32 Port, char *Output, int32 Size);

int32 String_NumberToString(char *Output, int32 Size, int32 GroupThousands, int32 Decimals, int32 TrimZeros,
                            float64 Value);
// Style 1 size, 3 bit rate, other byte rate; Unit 0 picks K, M or G by value.
int32 String_FormatMetric(char *Output, int32 Size, uint64 Value, uint64 Unit, int32 Style);

// Size - 1 random letters and digits from the cryptographic source.
int32 String_Random(char *Output, int32 Size);
// 32 lower-case hex digits, or 8-4-4-16 with dashes (35 characters).
int32 String_Guid(char *Output, int32 Size, int32 WithDashes);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string_view>
// Mutable-text forms of the search functions, so that a caller holding a
// writable buffer gets a writable position back (as strchr does in C++).
inline int32 String_FindChar(char *Text, char Ch, char **Position) {
    return String_FindChar(Text, Ch, const_cast<const char **>(Position));
}
inline int32 String_FindCharLength(char *Text, int32 Length, char Ch, char **Position) {
    return String_FindCharLength(Text, Length, Ch, const_cast<const char **>(Position));
}
inline int32 String_FindCharReverse(char *Text, char Ch, char **Position) {
    return String_FindCharReverse(Text, Ch, const_cast<const char **>(Position));
}
inline int32 String_FindFirstChar(char *Text, const char *Set, char **Position) {
    return String_FindFirstChar(Text, Set, const_cast<const char **>(Position));
}
inline int32 String_FindFirstCharLength(char *Text, int32 Length, const char *Set, char **Position) {
    return String_FindFirstCharLength(Text, Length, Set, const_cast<const char **>(Position));
}
inline int32 String_FindFirstCharReverse(char *Text, const char *Set, char **Position) {
    return String_FindFirstCharReverse(Text, Set, const_cast<const char **>(Position));
}
inline int32 String_FindString(char *Text, const char *Sub, char **Position) {
    return String_FindString(Text, Sub, const_cast<const char **>(Position));
}
inline int32 String_FindStringWithoutCase(char *Text, const char *Sub, char **Position) {
    return String_FindStringWithoutCase(Text, Sub, const_cast<const char **>(Position));
}
inline int32 String_FindStringLength(char *Text, int32 Length, const char *Sub, char **Position) {
    return String_FindStringLength(Text, Length, Sub, const_cast<const char **>(Position));
}
inline int32 String_FindStringReverse(char *Text, const char *Sub, char **Position) {
    return String_FindStringReverse(Text, Sub, const_cast<const char **>(Position));
}
inline int32 String_FindStringReverseWithoutCase(char *Text, const char *Sub, char **Position) {
    return String_FindStringReverseWithoutCase(Text, Sub, const_cast<const char **>(Position));
}

// Calls Each with every member of a comma-separated list, blanks and tabs
// trimmed, empty members skipped; a null list has none.
template <typename Function> void String_ForEachListMember(const char *List, Function Each) {
    if (List == nullptr) return;
    std::string_view Rest(List);
    while (!Rest.empty()) {
        size_t Comma = Rest.find(',');
        std::string_view Member = Rest.substr(0, Comma);
        while (!Member.empty() && (Member.front() == ' ' || Member.front() == '\t')) Member.remove_prefix(1);
        while (!Member.empty() && (Member.back() == ' ' || Member.back() == '\t')) Member.remove_suffix(1);
        if (!Member.empty()) Each(Member);
        if (Comma == std::string_view::npos) break;
        Rest.remove_prefix(Comma + 1);
    }
}
#endif
