// Macro expansion engine: finds macros innermost first, asks the providers in
// their fixed order and splices the values into the working text.
//
// Whether a splice changed the text is judged by the CRC-32 of the macro's
// span before and after, and by the text's length: a changed text is scanned
// again from the same "{" (a value may hold further macros), an unchanged one
// is passed. The length matters because an empty value can pull an identical
// macro into the span ("{N}{N}" looks unchanged after the first one goes), and
// that macro must not be skipped. Values that
// lead back to themselves would rescan forever and deep nests would recurse
// without end, so one expansion allows at most STRING_EXPAND_MAX_REPLACEMENTS
// splices and STRING_EXPAND_MAX_DEPTH nested macros; beyond either it fails
// as a value that does not fit does: 0 and the caller's text unchanged.
//
// The working, name and value areas (about 24 KB) are one allocation per
// expansion, shared by all nesting levels: a level needs its name and value
// only after its inner macros are done.
#include "runtime/text/string_expand.h"

#include <string.h>

#include <algorithm>

#include "runtime/text/base64.h"
#include "runtime/text/crc.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/files/path.h"
#include "runtime/posix/socket.h"
#include "runtime/text/url.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand_internal.h"


namespace {

constexpr int32 WorkSize = STRING_EXPAND_WORK_SIZE;
constexpr int32 ResultSize = STRING_EXPAND_RESULT_SIZE;
// A macro's name and argument: at most 8,139 bytes of the text between its braces.
constexpr int32 NameSize = 8140;

// The expand-key providers of other modules, asked in this order after the
// built-in functions: paths, executable information, Base64, hashes, URLs,
// sockets, the registry and HMAC. The runtime's own are here from the start;
// the others are set by their modules (String_SetExpandProvider), and a slot
// still empty is skipped.
String_ExpandFunc ModuleProviders[STRING_EXPAND_PROVIDER_COUNT] = {
    Path_ExpandKey,
    nullptr,
    Base64_ExpandKey,
    nullptr,
    URL_ExpandKey,
    Socket_ExpandKey,
    nullptr,
    nullptr,
};

struct Scratch {
    char Work[WorkSize];
    char Name[NameSize];
    char Result[ResultSize];
};

// One expansion in progress.
struct Expansion {
    char *Work;
    char *Name;
    char *Result;
    void *User;
    String_ExpandFunc Callback;
    int32 Replacements;
    // Where to name the first macro left unexpanded for good (may be null).
    char *Stuck;
    int32 StuckSize;
    uint32 Flags;
};

void NoteStuck(Expansion &Run, const char *Name, int32 Length) {
    if (Run.Stuck == nullptr || Run.Stuck[0] != 0) return;
    String_CopyLengthSafe(Run.Stuck, Run.StuckSize, Name, Length);
}

bool IsAsciiAlnum(char Ch) {
    return (Ch >= 'a' && Ch <= 'z') || (Ch >= 'A' && Ch <= 'Z') || (Ch >= '0' && Ch <= '9');
}

// A "{" followed by anything but an ASCII letter or digit is plain text.
bool StartsMacro(const char *At) { return At[0] == '{' && IsAsciiAlnum(At[1]); }

// What a macro's span looked like: its CRC-32 and the length of the whole text.
struct SpanPrint {
    uint32 Crc;
    size_t TextLength;
    bool operator==(const SpanPrint &) const = default;
};

SpanPrint Fingerprint(const char *Work, int32 Open, int32 Length) {
    return {CRC_Update(0, Work + Open, (uint32)Length), strlen(Work)};
}

// Offset of the first "}" behind From, or -1.
int32 FindClose(const char *Work, int32 From) {
    const char *Close = strchr(Work + From, '}');
    return Close != nullptr ? (int32)(Close - Work) : -1;
}

ExpandAnswer Ask(Expansion &Run, const char *Name, const char *Argument) {
    if ((Run.Flags & STRING_EXPAND_KEEP_THIS) != 0 && String_CompareWithoutCase(Name, "This"))
        return ExpandAnswer::NotMine;
    Run.Result[0] = 0;
    if (String_ExpandPlatform(Name, Argument, Run.Result)) return ExpandAnswer::Answered;
    Run.Result[0] = 0;
    ExpandAnswer BuiltIn = StringExpand_BuiltIn(Run.Work, Name, Argument, Run.Result, ResultSize);
    if (BuiltIn != ExpandAnswer::NotMine) return BuiltIn;
    for (String_ExpandFunc &Slot : ModuleProviders) {
        String_ExpandFunc Provider = __atomic_load_n(&Slot, __ATOMIC_ACQUIRE);
        if (Provider == nullptr) continue;
        Run.Result[0] = 0;
        if (Provider(Run.User, Name, Argument, Run.Result, ResultSize) == 1) return ExpandAnswer::Answered;
    }
    Run.Result[0] = 0;
    if (Run.Callback != nullptr && Run.Callback(Run.User, Name, Argument, Run.Result, ResultSize) == 1)
        return ExpandAnswer::Answered;
    return ExpandAnswer::NotMine;
}

// Puts the value over the macro of Length bytes at Open.
bool Splice(Expansion &Run, int32 Open, int32 Length) {
    if (++Run.Replacements > STRING_EXPAND_MAX_REPLACEMENTS) {
        Log_Debug("String expansion failed for %s [more than %d replacements]\n", Run.Name,
                  STRING_EXPAND_MAX_REPLACEMENTS);
        NoteStuck(Run, Run.Name, (int32)strlen(Run.Name));
        return false;
    }
    // A provider that filled its output to the last byte is cut, never read past.
    Run.Result[ResultSize - 1] = 0;
    int32 ValueLength = (int32)strlen(Run.Result);
    int32 Room = WorkSize - Open;
    char *At = Run.Work + Open;
    if (ValueLength > Length) {
        if (!String_ShiftRight(At, Room, ValueLength - Length)) {
            Log_Debug("String expansion failed for %s [%d > %d]\n", Run.Name, ValueLength, Room);
            NoteStuck(Run, Run.Name, (int32)strlen(Run.Name));
            return false;
        }
    } else if (ValueLength < Length) {
        String_ShiftLeft(At, Length - ValueLength);
    }
    memcpy(At, Run.Result, (size_t)std::min(ValueLength, Room));
    return true;
}

bool ExpandMacro(Expansion &Run, int32 Open, int32 Depth) {
    if (Depth > STRING_EXPAND_MAX_DEPTH) {
        Log_Debug("String expansion failed [macros nested deeper than %d]\n", STRING_EXPAND_MAX_DEPTH);
        NoteStuck(Run, Run.Work + Open + 1, (int32)strcspn(Run.Work + Open + 1, ":{}"));
        return false;
    }
    char *Work = Run.Work;
    int32 Close;
    // Inner macros first; a changed text is scanned again behind our "{". An
    // inner macro left as it stands ({this}, one nobody answers) is a part of
    // ours, whole: our "}" is past its own.
    for (int32 Scan = Open + 1, From = Open + 1;;) {
        Close = FindClose(Work, From);
        if (Close < 0) return true;
        if (Scan >= Close) break;
        const char *Inner = static_cast<const char *>(memchr(Work + Scan, '{', (size_t)(Close - Scan)));
        if (Inner == nullptr) break;
        int32 InnerOpen = (int32)(Inner - Work);
        if (!StartsMacro(Inner)) {
            Scan = InnerOpen + 1;
            continue;
        }
        int32 Span = Close - InnerOpen + 1;
        SpanPrint Before = Fingerprint(Work, InnerOpen, Span);
        if (!ExpandMacro(Run, InnerOpen, Depth + 1)) return false;
        const bool Changed = Fingerprint(Work, InnerOpen, Span) != Before;
        Scan = Changed ? Open + 1 : Close + 1;
        From = Changed ? Open + 1 : Close + 1;
    }

    int32 Length = std::min(Close - Open - 1, NameSize - 1);
    memcpy(Run.Name, Work + Open + 1, (size_t)Length);
    Run.Name[Length] = 0;
    const char *Argument = nullptr;
    if (char *Colon = strchr(Run.Name, ':'); Colon != nullptr) {
        *Colon = 0;
        Argument = Colon + 1;
    }
    switch (Ask(Run, Run.Name, Argument)) {
        case ExpandAnswer::NotMine:
            return true;
        case ExpandAnswer::Overflow:
            Log_Debug("String expansion failed for %s [value longer than %d bytes]\n", Run.Name, ResultSize - 1);
            NoteStuck(Run, Run.Name, (int32)strlen(Run.Name));
            return false;
        case ExpandAnswer::Answered:
            break;
    }
    // A value that is the macro itself stays as it is, and is passed.
    const int32 Span = Close - Open + 1;
    if (strnlen(Run.Result, ResultSize) == (size_t)Span && memcmp(Run.Result, Work + Open, (size_t)Span) == 0) {
        NoteStuck(Run, Run.Name, (int32)strlen(Run.Name));
        return true;
    }
    return Splice(Run, Open, Span);
}

bool ExpandAll(Expansion &Run) {
    char *Work = Run.Work;
    for (int32 Position = 0;;) {
        const char *Found = strchr(Work + Position, '{');
        if (Found == nullptr) return true;
        int32 Open = (int32)(Found - Work);
        int32 Close = FindClose(Work, Open + 1);
        if (Close < 0) return true;
        if (!StartsMacro(Found)) {
            Position = Open + 1;
            continue;
        }
        int32 Span = Close - Open + 1;
        SpanPrint Before = Fingerprint(Work, Open, Span);
        if (!ExpandMacro(Run, Open, 1)) return false;
        Position = Fingerprint(Work, Open, Span) != Before ? Open : Close + 1;
    }
}

} // namespace

ExpandAnswer StringExpand_Put(char *Output, int32 Size, std::string_view Value) {
    if (Value.size() >= (size_t)Size) return ExpandAnswer::Overflow;
    if (!Value.empty()) memcpy(Output, Value.data(), Value.size());
    Output[Value.size()] = 0;
    return ExpandAnswer::Answered;
}

int32 String_Expand(char *Text, int32 Size, void *User, String_ExpandFunc Callback) {
    return String_ExpandNamingStuck(Text, Size, User, Callback, nullptr, 0);
}

int32 String_ExpandNamingStuck(char *Text, int32 Size, void *User, String_ExpandFunc Callback, char *Stuck,
                               int32 StuckSize) {
    return String_ExpandEx(Text, Size, User, Callback, 0, Stuck, StuckSize);
}

int32 String_ExpandEx(char *Text, int32 Size, void *User, String_ExpandFunc Callback, uint32 Flags, char *Stuck,
                      int32 StuckSize) {
    Debug_CheckPointer(Text);
    if (Stuck != nullptr && StuckSize > 0) Stuck[0] = 0;
    else Stuck = nullptr;
    if (Size < 1) return FALSE;
    // Cut at the working size, as at the caller's size on the way back.
    const size_t Limit = (size_t)std::min(Size, WorkSize - 1);
    size_t Length = strnlen(Text, Limit);
    // Without a "{" there is no macro: a text that the cuts leave whole is
    // its own expansion (most task arguments are such texts).
    if (Length < Limit && memchr(Text, '{', Length) == nullptr) return TRUE;
    MemoryScope<Scratch> Block;
    memcpy(Block->Work, Text, Length);
    // Bytes behind the text enter the span checks of shrinking values.
    memset(Block->Work + Length, 0, (size_t)WorkSize - Length);

    Expansion Run{Block->Work, Block->Name, Block->Result, User, Callback, 0, Stuck, StuckSize, Flags};
    if (!ExpandAll(Run)) return FALSE;
    size_t Expanded = std::min(strlen(Block->Work), (size_t)Size - 1);
    memcpy(Text, Block->Work, Expanded);
    Text[Expanded] = 0;
    return TRUE;
}

int32 String_ExpandInternal(char *Work, char *Open, void *User, String_ExpandFunc Callback) {
    Debug_CheckPointer(Work);
    Debug_CheckPointer(Open);
    Debug_Assert(Open >= Work && Open < Work + WorkSize, "The macro must lie inside the working buffer");
    MemoryScope<Scratch> Block;
    Expansion Run{Work, Block->Name, Block->Result, User, Callback, 0, nullptr, 0, 0};
    return ExpandMacro(Run, (int32)(Open - Work), 1);
}

int32 String_SetExpandProvider(int32 Slot, String_ExpandFunc Provider) {
    if (Slot < 0 || Slot >= STRING_EXPAND_PROVIDER_COUNT) return FALSE;
    // Every start-up sets the same providers again: only a change is written.
    if (__atomic_load_n(&ModuleProviders[Slot], __ATOMIC_ACQUIRE) != Provider)
        __atomic_store_n(&ModuleProviders[Slot], Provider, __ATOMIC_RELEASE);
    return TRUE;
}
