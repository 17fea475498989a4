// Version texts and boolean words.
//
// A version's numbers are stored even when the text is not valid, because
// callers that print or compare loosely still want what was there; only the
// result says whether the first three parts were plain digits, and every
// part a number that fits 32 bits (one past them is stored cut).
#include "runtime/version.h"

#include <string.h>

#include "runtime/debug.h"
#include "runtime/text/string.h"

static bool IsSeparator(char Ch) {
    return Ch == '.' || Ch == ',';
}

int32 String_EncodeVersion(char *Buffer, int32 Size, int32 Major, int32 Minor, int32 Build, int32 Revision) {
    Debug_CheckPointer(Buffer);
    String_Print(Buffer, Size, "%d.%d.%d.%d", Major, Minor, Build, Revision);
    return 1;
}

int32 String_DecodeVersion(const char *Text, int32 *Major, int32 *Minor, int32 *Build, int32 *Revision) {
    int32 Parts[4] = {0, 0, 0, 0};
    bool Valid = Text != nullptr && Text[0] != 0;
    if (Valid) {
        const char *Here = Text;
        if (*Here == 'v' || *Here == 'V') Here++;
        if (*Here == 0) Valid = false;
        for (int32 Index = 0; Index < 4; Index++) {
            // A part past 32 bits would compare as another number
            // (4294967296 as 0): such a version is no valid one.
            int64 Part = String_AtoI64(Here);
            const char *Digits = Here + strspn(Here, "+-0");
            if (Part > 2147483647 || Part < -2147483647 - 1 || strspn(Digits, "0123456789") > 10) Valid = false;
            Parts[Index] = (int32)Part;
            // The revision's bytes are not checked; text behind it is ignored.
            if (Index == 3) break;
            while (*Here && !IsSeparator(*Here)) {
                if (*Here < '0' || *Here > '9') Valid = false;
                Here++;
            }
            if (*Here == 0) break;
            Here++;
        }
    }
    if (Major) *Major = Parts[0];
    if (Minor) *Minor = Parts[1];
    if (Build) *Build = Parts[2];
    if (Revision) *Revision = Parts[3];
    return Valid;
}

int32 String_ConvertVersion(char *Output, int32 Size, const char *Text, const char *Format) {
    Debug_CheckPointer(Output);
    Debug_CheckPointer(Format);
    int32 Major, Minor, Build, Revision;
    String_DecodeVersion(Text, &Major, &Minor, &Build, &Revision);
    String_Print(Output, Size, Format, Major, Minor, Build, Revision);
    return 1;
}

int32 String_CompareVersion(const char *A, const char *B, int32 *Order) {
    int32 First[4], Second[4];
    if (Order) *Order = 0;
    if (!String_DecodeVersion(A, &First[0], &First[1], &First[2], &First[3])) return 0;
    if (!String_DecodeVersion(B, &Second[0], &Second[1], &Second[2], &Second[3])) return 0;
    for (int32 Index = 0; Index < 4; Index++) {
        if (First[Index] == Second[Index]) continue;
        if (Order) *Order = First[Index] > Second[Index] ? 1 : -1;
        break;
    }
    return 1;
}

int32 String_DecodeBoolean(const char *Text, int32 *Value, int32 Default) {
    static constexpr const char *TrueWords[] = {"1", "TRUE", "YES", "ON"};
    static constexpr const char *FalseWords[] = {"0", "FALSE", "NO", "OFF"};
    if (Value) *Value = Default;
    if (Text == nullptr || Text[0] == 0) return 1;
    for (const char *Candidate : TrueWords)
        if (String_CompareWithoutCase(Text, Candidate)) {
            if (Value) *Value = 1;
            return 1;
        }
    for (const char *Candidate : FalseWords)
        if (String_CompareWithoutCase(Text, Candidate)) {
            if (Value) *Value = 0;
            return 1;
        }
    return 0;
}
