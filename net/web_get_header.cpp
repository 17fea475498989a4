// Header lines on raw text (see web_get.h).
#include <string.h>

#include <string>

#include "net/web_get.h"
#include "runtime/text/string.h"

namespace {

// The line [Start, End) names Name: the value's start, else null.
const char *MatchName(const char *Start, const char *End, const char *Name) {
    size_t Length = strlen(Name);
    if ((size_t)(End - Start) <= Length || Start[Length] != ':') return nullptr;
    if (strncasecmp(Start, Name, Length) != 0) return nullptr;
    return Start + Length + 1;
}

template <typename Visit> void EachLine(const char *Headers, Visit Function) {
    const char *At = Headers;
    while (*At != 0) {
        const char *End = strchr(At, '\n');
        const char *Next = End != nullptr ? End + 1 : At + strlen(At);
        const char *Stop = End != nullptr ? End : Next;
        if (Stop > At && Stop[-1] == '\r') Stop--;
        if (!Function(At, Stop, Next)) return;
        At = Next;
    }
}

} // namespace

int32 WebGet_HeaderGetByName(const char *Headers, const char *Name, char *Value, int32 Size) {
    Debug_CheckPointer(Headers);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    int32 Found = FALSE;
    if (Size > 0) Value[0] = 0;
    EachLine(Headers, [&](const char *Start, const char *Stop, const char *) {
        const char *V = MatchName(Start, Stop, Name);
        if (V == nullptr) return true;
        while (V < Stop && (*V == ' ' || *V == '\t')) V++;
        const char *E = Stop;
        while (E > V && (E[-1] == ' ' || E[-1] == '\t')) E--;
        if ((int64)(E - V) + 1 > Size) return false;
        memcpy(Value, V, (size_t)(E - V));
        Value[E - V] = 0;
        Found = TRUE;
        return false;
    });
    return Found;
}

int32 WebGet_HeaderSet(char *Headers, int32 Size, const char *Name, const char *Value, int32 Replace) {
    Debug_CheckPointer(Headers);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    if (Name[0] == 0 || strpbrk(Name, "\r\n:") != nullptr || strpbrk(Value, "\r\n") != nullptr) return FALSE;
    std::string Result;
    EachLine(Headers, [&](const char *Start, const char *Stop, const char *Next) {
        if (!Replace || MatchName(Start, Stop, Name) == nullptr) Result.append(Start, (size_t)(Next - Start));
        return true;
    });
    if (!Result.empty() && Result.back() != '\n') Result += "\r\n";
    Result += Name;
    Result += ": ";
    Result += Value;
    Result += "\r\n";
    if ((int64)Result.size() + 1 > Size) return FALSE;
    memcpy(Headers, Result.c_str(), Result.size() + 1);
    return TRUE;
}
