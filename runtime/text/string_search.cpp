// Searching texts, separator lists and line splitting.
//
// Searches never look past a text's terminator, also where a length bounds
// them further. Positions point into the caller's text; they are cleared when
// nothing is found.
#include <string.h>

#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "runtime/text/string_internal.h"

using string_detail::Fold;
using string_detail::InSet;

static int32 Answer(const char **Position, const char *Found) {
    if (Position) *Position = Found;
    return Found != nullptr;
}

// Does Sub occur at Here (Sub non-empty)?
static bool MatchAt(const char *Here, const char *Sub, bool WithoutCase) {
    for (; *Sub; Here++, Sub++) {
        if (*Here == 0) return false;
        if (WithoutCase ? Fold(*Here) != Fold(*Sub) : *Here != *Sub) return false;
    }
    return true;
}

// First occurrence starting at an index below Limit (a negative Limit: none).
static const char *FindForward(const char *Text, const char *Sub, bool WithoutCase, int64 Limit) {
    if (Text[0] == 0) return nullptr;
    if (Sub[0] == 0) return Limit > 0 ? Text : nullptr;
    for (int64 Index = 0; Index < Limit && Text[Index]; Index++)
        if (MatchAt(Text + Index, Sub, WithoutCase)) return Text + Index;
    return nullptr;
}

static const char *FindBackward(const char *Text, const char *Sub, bool WithoutCase) {
    size_t TextLength = strlen(Text), SubLength = strlen(Sub);
    if (SubLength == 0) return Text + TextLength;
    if (SubLength > TextLength) return nullptr;
    for (size_t Index = TextLength - SubLength + 1; Index-- > 0;)
        if (MatchAt(Text + Index, Sub, WithoutCase)) return Text + Index;
    return nullptr;
}

// ---- Characters ----

int32 String_FindChar(const char *Text, char Ch, const char **Position) {
    Debug_CheckPointer(Text);
    const char *Found = Ch == 0 ? nullptr : strchr(Text, Ch);
    return Answer(Position, Found);
}

int32 String_ContainsChar(const char *Text, char Ch) {
    return String_FindChar(Text, Ch, (const char **)nullptr);
}

int32 String_FindCharLength(const char *Text, int32 Length, char Ch, const char **Position) {
    Debug_CheckPointer(Text);
    for (int32 Index = 0; Ch != 0 && Index < Length && Text[Index]; Index++)
        if (Text[Index] == Ch) return Answer(Position, Text + Index);
    return Answer(Position, nullptr);
}

int32 String_FindCharReverse(const char *Text, char Ch, const char **Position) {
    Debug_CheckPointer(Text);
    return Answer(Position, strrchr(Text, Ch));
}

int32 String_FindFirstChar(const char *Text, const char *Set, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Set);
    for (const char *Here = Text; *Here; Here++)
        if (InSet(Set, *Here)) return Answer(Position, Here);
    return Answer(Position, nullptr);
}

int32 String_FindFirstCharLength(const char *Text, int32 Length, const char *Set, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Set);
    for (int32 Index = 0; Index < Length && Text[Index]; Index++)
        if (InSet(Set, Text[Index])) return Answer(Position, Text + Index);
    return Answer(Position, nullptr);
}

int32 String_FindFirstCharReverse(const char *Text, const char *Set, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Set);
    const char *Found = nullptr;
    for (const char *Here = Text; *Here; Here++)
        if (InSet(Set, *Here)) Found = Here;
    return Answer(Position, Found);
}

// ---- Substrings ----

int32 String_FindString(const char *Text, const char *Sub, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    return Answer(Position, FindForward(Text, Sub, false, INT64_MAX));
}

int32 String_ContainsString(const char *Text, const char *Sub) {
    return String_FindString(Text, Sub, (const char **)nullptr);
}

int32 String_FindStringWithoutCase(const char *Text, const char *Sub, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    return Answer(Position, FindForward(Text, Sub, true, INT64_MAX));
}

int32 String_ContainsStringWithoutCase(const char *Text, const char *Sub) {
    return String_FindStringWithoutCase(Text, Sub, (const char **)nullptr);
}

int32 String_FindStringLength(const char *Text, int32 Length, const char *Sub, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    // The occurrence has to lie wholly inside the first Length bytes.
    int64 Limit = (int64)Length - (int64)strlen(Sub) + 1;
    return Answer(Position, FindForward(Text, Sub, false, Limit));
}

int32 String_FindStringReverse(const char *Text, const char *Sub, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    return Answer(Position, FindBackward(Text, Sub, false));
}

int32 String_FindStringReverseWithoutCase(const char *Text, const char *Sub, const char **Position) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Sub);
    return Answer(Position, FindBackward(Text, Sub, true));
}

// ---- Lists ----

int32 String_ListGetMember(const char *List, char Separator, int32 Trim, int32 Index, char *Output,
                           int32 OutputSize) {
    if (Output && OutputSize > 0) Output[0] = 0;
    if (List == nullptr || Output == nullptr || Index < 0) return 0;
    const char *Start = List;
    for (int32 Member = 0; Member < Index; Member++) {
        const char *Next = Separator == 0 ? nullptr : strchr(Start, Separator);
        if (Next == nullptr) return 0;
        Start = Next + 1;
        if (Trim == 1)
            while (*Start && (unsigned char)*Start < 33) Start++;
    }
    const char *End = Separator == 0 ? nullptr : strchr(Start, Separator);
    if (End == nullptr) End = Start + strlen(Start);
    if (Trim == 1)
        while (End > Start && (unsigned char)End[-1] < 33) End--;
    int64 MemberLength = End - Start;
    if (OutputSize < 1) return 0;
    int64 Copied = MemberLength < OutputSize - 1 ? MemberLength : OutputSize - 1;
    memcpy(Output, Start, (size_t)Copied);
    Output[Copied] = 0;
    return Copied == MemberLength;
}

int32 String_ListContainsMember(const char *List, char Separator, const char *Member) {
    Debug_CheckPointer(List);
    Debug_CheckPointer(Member);
    size_t MemberLength = strlen(Member);
    const char *Start = List;
    for (;;) {
        while (*Start && (unsigned char)*Start <= 32 && *Start != Separator) Start++;
        const char *End = Separator == 0 ? nullptr : strchr(Start, Separator);
        const char *Next = End;
        if (End == nullptr) End = Start + strlen(Start);
        const char *Last = End;
        while (Last > Start && (unsigned char)Last[-1] < 33) Last--;
        if ((size_t)(Last - Start) == MemberLength && memcmp(Start, Member, MemberLength) == 0) return 1;
        if (Next == nullptr) return 0;
        Start = Next + 1;
    }
}

// ---- Lines ----

int32 String_LineGetNext(const char *Buffer, int32 Length, char *Line, int32 LineSize, int32 *Consumed) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Line);
    if (Consumed) *Consumed = 0;
    if (Length < 1 || LineSize < 1) return 0;
    const char *Feed = (const char *)memchr(Buffer, '\n', (size_t)Length);
    int32 Used = Feed ? (int32)(Feed - Buffer) + 1 : Length;
    int32 Content = Feed ? (int32)(Feed - Buffer) : Length;
    if (Feed && Content > 0 && Buffer[Content - 1] == '\r') Content--;
    int32 Kept = Content < LineSize - 1 ? Content : LineSize - 1;
    memcpy(Line, Buffer, (size_t)Kept);
    Line[Kept] = 0;
    if (Consumed) *Consumed = Used;
    return 1;
}
