// Byte-string copies, in-place edits and comparisons.
//
// Every bounded operation writes at most Size bytes including the terminator
// and terminates whenever Size is at least 1; a Size below 1 writes nothing.
// Case folding touches ASCII letters only, so UTF-8 sequences pass unchanged.
#include "runtime/text/string.h"

#include <string.h>

#include "runtime/debug.h"
#include "runtime/text/string_internal.h"

using string_detail::Fold;
using string_detail::InSet;

static int32 Length(const char *Text) {
    return (int32)strlen(Text);
}

// Copies bytes while Keep(byte) holds, at most Limit bytes, and terminates.
template <typename KeepFunc>
static int32 CopyWhile(char *Destination, const char *Source, int64 Limit, KeepFunc Keep) {
    int64 Count = 0;
    while (Count < Limit && Source[Count] != 0 && Keep(Source[Count])) {
        Destination[Count] = Source[Count];
        Count++;
    }
    Destination[Count] = 0;
    return (int32)Count;
}

static constexpr int64 Unbounded = INT64_MAX;

// Copies at most Limit bytes up to the NUL and terminates: one length scan
// and one block move (the texts may overlap, as a forward copy allowed).
static int32 CopyBounded(char *Destination, const char *Source, int64 Limit) {
    const size_t Count = strnlen(Source, (size_t)Limit);
    memmove(Destination, Source, Count);
    Destination[Count] = 0;
    return (int32)Count;
}

// ---- Copy and concatenate ----

int32 String_CopyLength(char *Destination, const char *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Size < 1) return 0;
    return CopyBounded(Destination, Source, Size - 1);
}

int32 String_Copy(char *Destination, const char *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    int32 Count = Length(Source);
    memmove(Destination, Source, (size_t)Count + 1);
    return Count;
}

int32 String_Cat(char *Destination, const char *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return String_Copy(Destination + Length(Destination), Source);
}

int32 String_CatLength(char *Destination, const char *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Size < 1) return 0;
    // A destination without a terminator inside Size is left untouched.
    int32 Used = (int32)strnlen(Destination, (size_t)Size);
    if (Used >= Size) return 0;
    return String_CopyLength(Destination + Used, Source, Size - Used);
}

int32 String_CopyLengthSafe(char *Destination, int32 Size, const char *Source, int32 Count) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Size < 1) return 0;
    int64 Limit = Count < 0 ? 0 : (Count < Size - 1 ? Count : Size - 1);
    return CopyBounded(Destination, Source, Limit);
}

int32 String_CopyUntilChar(char *Destination, const char *Source, const char *Set) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Set);
    return CopyWhile(Destination, Source, Unbounded, [Set](char Ch) { return !InSet(Set, Ch); });
}

int32 String_CopyUntilCharLength(char *Destination, const char *Source, const char *Set, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Set);
    if (Size < 1) return 0;
    return CopyWhile(Destination, Source, Size - 1, [Set](char Ch) { return !InSet(Set, Ch); });
}

int32 String_CopyUntilControl(char *Destination, const char *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    return CopyWhile(Destination, Source, Unbounded, [](char Ch) { return (unsigned char)Ch >= 32; });
}

int32 String_CopyUntilControlLength(char *Destination, const char *Source, int32 Size) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Size < 1) return 0;
    return CopyWhile(Destination, Source, Size - 1, [](char Ch) { return (unsigned char)Ch >= 32; });
}

// ---- In-place edits ----

int32 String_Upper(char *Text) {
    Debug_CheckPointer(Text);
    for (; *Text; Text++)
        if (*Text >= 'a' && *Text <= 'z') *Text = (char)(*Text - ('a' - 'A'));
    return 1;
}

int32 String_Lower(char *Text) {
    Debug_CheckPointer(Text);
    for (; *Text; Text++) *Text = (char)Fold(*Text);
    return 1;
}

int32 String_Reverse(char *Text) {
    Debug_CheckPointer(Text);
    int32 Count = Length(Text);
    for (int32 Left = 0, Right = Count - 1; Left < Right; Left++, Right--) {
        char Swap = Text[Left];
        Text[Left] = Text[Right];
        Text[Right] = Swap;
    }
    return 1;
}

int32 String_TrimLeftChar(char *Text, char Ch) {
    Debug_CheckPointer(Text);
    int32 Skip = 0;
    while (Ch != 0 && Text[Skip] == Ch) Skip++;
    if (Skip > 0) memmove(Text, Text + Skip, strlen(Text + Skip) + 1);
    return 1;
}

int32 String_TrimRightChar(char *Text, char Ch) {
    Debug_CheckPointer(Text);
    int32 Count = Length(Text);
    while (Ch != 0 && Count > 0 && Text[Count - 1] == Ch) Count--;
    Text[Count] = 0;
    return 1;
}

int32 String_TrimChar(char *Text, char Ch) {
    String_TrimLeftChar(Text, Ch);
    return String_TrimRightChar(Text, Ch);
}

int32 String_TrimLeftChars(char *Text, const char *Set) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Set);
    int32 Skip = 0;
    while (InSet(Set, Text[Skip])) Skip++;
    if (Skip > 0) memmove(Text, Text + Skip, strlen(Text + Skip) + 1);
    return 1;
}

int32 String_TrimRightCharsLength(char *Text, const char *Set, int32 Length, int32 *NewLength) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Set);
    if (Length >= 2) {
        while (Length > 1 && InSet(Set, Text[Length - 1])) Length--;
        Text[Length] = 0;
    }
    if (NewLength) *NewLength = Length;
    return 1;
}

int32 String_TrimRightChars(char *Text, const char *Set) {
    Debug_CheckPointer(Text);
    return String_TrimRightCharsLength(Text, Set, Length(Text), nullptr);
}

int32 String_TrimChars(char *Text, const char *Set) {
    String_TrimLeftChars(Text, Set);
    return String_TrimRightChars(Text, Set);
}

int32 String_TrimWhitespace(char *Text) {
    return String_TrimChars(Text, "\t\r\n ");
}

int32 String_Strip(char *Destination, const char *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    // Reading never falls behind writing, so Destination may be Source.
    int32 Write = 0;
    for (const char *Read = Source; *Read; Read++) {
        unsigned char Byte = (unsigned char)*Read;
        if (Byte >= 33 && Byte <= 126) Destination[Write++] = (char)Byte;
    }
    Destination[Write] = 0;
    return 1;
}

int32 String_StripChar(char *Text, char Ch) {
    Debug_CheckPointer(Text);
    if (Ch == 0) return 1;
    int32 Read = 0, Write = 0;
    while (Text[Read]) {
        if (Text[Read] == Ch) {
            // The byte after a removed one is kept as it is, even another Ch.
            Read++;
            if (Text[Read] == 0) break;
        }
        Text[Write++] = Text[Read++];
    }
    Text[Write] = 0;
    return 1;
}

int32 String_ShiftLeft(char *Text, int32 Count) {
    Debug_CheckPointer(Text);
    if (Count < 1) return 1;
    int32 Total = Length(Text);
    if (Total < Count) return 0;
    memmove(Text, Text + Count, (size_t)(Total - Count) + 1);
    return 1;
}

int32 String_ShiftRight(char *Text, int32 Size, int32 Count) {
    Debug_CheckPointer(Text);
    if (Count < 1) return 1;
    int32 Total = Length(Text);
    if ((int64)Total + Count >= Size) return 0;
    memmove(Text + Count, Text, (size_t)Total + 1);
    memset(Text, ' ', (size_t)Count);
    return 1;
}

int32 String_ReplaceChar(char From, char To, char *Text) {
    Debug_CheckPointer(Text);
    if (From == 0) return 1;
    for (; *Text; Text++)
        if (*Text == From) *Text = To;
    return 1;
}

int32 String_ReplaceLength(const char *Find, const char *Replacement, char *Text, int32 Size) {
    return String_ReplaceLengthEx(Find, Replacement, 0, Text, Size);
}

int32 String_ReplaceLengthEx(const char *Find, const char *Replacement, char Escape, char *Text, int32 Size) {
    Debug_CheckPointer(Find);
    Debug_CheckPointer(Replacement);
    Debug_CheckPointer(Text);
    int32 FindLength = Length(Find);
    int32 ReplacementLength = Length(Replacement);
    if (FindLength == 0 || Text[0] == 0) return 0;
    int32 Difference = ReplacementLength - FindLength;
    int32 Position = 0;
    while (Text[Position]) {
        char *Here = Text + Position;
        if (strncmp(Here, Find, (size_t)FindLength) != 0) {
            Position++;
            continue;
        }
        // An escaped occurrence stays as literal text.
        if (Escape != 0 && Position > 0 && Text[Position - 1] == Escape) {
            Position += FindLength;
            continue;
        }
        if (Difference > 0 && !String_ShiftRight(Here, Size - Position, Difference)) return 0;
        if (Difference < 0) String_ShiftLeft(Here, -Difference);
        memcpy(Here, Replacement, (size_t)ReplacementLength);
        Position += ReplacementLength;
    }
    return 1;
}

int32 String_CountChar(const char *Text, char Ch) {
    if (Text == nullptr || Ch == 0) return 0;
    int32 Count = 0;
    for (; *Text; Text++)
        if (*Text == Ch) Count++;
    return Count;
}

// ---- Comparison ----

int32 String_Compare(const char *A, const char *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    return strcmp(A, B) == 0;
}

int32 String_CompareWithoutCase(const char *A, const char *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    for (; *A && Fold(*A) == Fold(*B); A++, B++) {
    }
    return Fold(*A) == Fold(*B);
}

int32 String_CompareReturn(const char *A, const char *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    for (; *A && *A == *B; A++, B++) {
    }
    return (int32)(unsigned char)*A - (int32)(unsigned char)*B;
}

int32 String_CompareWithoutCaseReturn(const char *A, const char *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    for (; *A && Fold(*A) == Fold(*B); A++, B++) {
    }
    if (Fold(*A) == Fold(*B)) return 0;
    return Fold(*A) < Fold(*B) ? -1 : 1;
}

int32 String_CompareLength(const char *A, const char *B, int32 Count) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    if (Count < 1) return 1;
    return strncmp(A, B, (size_t)Count) == 0;
}

int32 String_CompareLengthWithoutCase(const char *A, const char *B, int32 Count) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    for (int32 Index = 0; Index < Count; Index++) {
        if (Fold(A[Index]) != Fold(B[Index])) return 0;
        if (A[Index] == 0) return 1;
    }
    return 1;
}

int32 String_CompareBeginning(const char *Text, const char *Prefix) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Prefix);
    for (; *Prefix; Text++, Prefix++)
        if (*Text != *Prefix) return 0;
    return 1;
}

int32 String_CompareBeginningWithoutCase(const char *Text, const char *Prefix) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Prefix);
    for (; *Prefix; Text++, Prefix++)
        if (Fold(*Text) != Fold(*Prefix)) return 0;
    return 1;
}

// A text shorter than the suffix cannot end with it: accepting "e.com" as
// ending in ".example.com" would let host-suffix checks pass wrongly.
static int32 CompareEnding(const char *Text, const char *Suffix, bool WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Suffix);
    size_t TextLength = strlen(Text), SuffixLength = strlen(Suffix);
    if (TextLength < SuffixLength) return 0;
    const char *Tail = Text + (TextLength - SuffixLength);
    for (size_t Index = 0; Index < SuffixLength; Index++) {
        bool Same = WithoutCase ? Fold(Tail[Index]) == Fold(Suffix[Index]) : Tail[Index] == Suffix[Index];
        if (!Same) return 0;
    }
    return 1;
}

int32 String_CompareEnding(const char *Text, const char *Suffix) {
    return CompareEnding(Text, Suffix, false);
}

int32 String_CompareEndingWithoutCase(const char *Text, const char *Suffix) {
    return CompareEnding(Text, Suffix, true);
}

int32 String_CompareIgnore(const char *A, const char *B, const char *Ignore, int32 WithoutCase) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    Debug_CheckPointer(Ignore);
    for (;;) {
        while (InSet(Ignore, *A)) A++;
        while (InSet(Ignore, *B)) B++;
        bool Same = WithoutCase ? Fold(*A) == Fold(*B) : *A == *B;
        if (!Same) return 0;
        if (*A == 0) return 1;
        A++;
        B++;
    }
}
