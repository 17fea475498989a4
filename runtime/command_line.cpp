// The process command line, its argument vector and the field scanner that
// answers questions about switches.
//
// Quoting: a quoted field or quoted value keeps its blanks, and a doubled quote
// inside stands for one quote. CommandLine_Build writes arguments that way, so
// every vector survives Build and then GetField. A field (or value) opens
// quoted on an odd run of quotes: the first is the opening quote, the rest are
// doubled quotes; an even run ("" for an empty argument) is plain text.
//
// Switches are recognised only at a field's start, never inside a quoted
// value: --skin="a --disablesecurity b" sets skin and nothing else.
#include "runtime/command_line.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/text/string.h"

const char *const Core_SwitchFilterTable[CORE_SWITCH_FILTER_COUNT] = {
    "append",      "cmdline", "commit",     "debug",     "debugfile",  "debugfileid",
    "debugdir",    "externalprint", "memoryreport", "memorytest", "memorytracking", "perday",
    "perprocess",  "perthread", "proxy",      "proxy-wpad", "verbose",    "window",
};

namespace {

char GlobalCommandLine[COMMAND_LINE_SIZE];
int32 GlobalArgC;
char **GlobalArgV;
// True when GlobalArgV was built here from a line (system heap), false when
// it is the platform's vector from the entry point.
bool GlobalArgVOwned;
// The platform's arguments that did not fit in the process line.
int32 GlobalArgumentsLeftOut;

constexpr int32 MaxTokenLength = 8191;

bool IsBlank(char Ch) { return (unsigned char)Ch >= 1 && (unsigned char)Ch <= 32; }

bool IsSeparator(char Ch) { return Ch == '\t' || Ch == '\n' || Ch == '\r' || Ch == ' '; }

// An odd run of quotes opens a quoted stretch (opening quote + doubled ones).
bool OpensQuote(const char *Position) {
    size_t Run = 0;
    while (Position[Run] == '"') Run++;
    return Run % 2 == 1;
}

// The closing quote of a quoted stretch, from just after its opening quote:
// a doubled quote inside stands for one and does not close it. The
// terminator when the stretch is never closed.
const char *ClosingQuote(const char *Position) {
    while (*Position != '\0') {
        if (*Position == '"') {
            if (Position[1] != '"') break;
            Position += 2;
        } else {
            Position++;
        }
    }
    return Position;
}

const char *Resolve(const char *Line) { return Line != nullptr ? Line : GlobalCommandLine; }

struct Field {
    const char *Start; // after the opening quote when Quoted
    const char *End;   // the closing quote when Quoted
    bool Quoted;
    const char *Pointer() const { return Quoted ? Start - 1 : Start; }
};

// Walks the fields of a line, calling Visit(field) until it answers false.
// Answers the number of fields met.
template <class Visitor> int32 ScanFields(const char *Line, Visitor Visit) {
    const char *Position = Line;
    int32 Count = 0;
    for (;;) {
        while (IsBlank(*Position)) Position++;
        if (*Position == '\0') break;
        Field Current{Position, nullptr, false};
        if (*Position == '"' && OpensQuote(Position)) {
            Current.Quoted = true;
            Current.Start = ++Position;
            Position = ClosingQuote(Position);
            Current.End = Position;
            if (*Position == '"') Position++;
        } else {
            while (*Position != '\0' && !IsBlank(*Position)) {
                if (*Position != '=') {
                    Position++;
                    continue;
                }
                Position++;
                if (*Position != '"' || !OpensQuote(Position)) continue;
                // A quoted value: the field ends just after its closing quote.
                Position = ClosingQuote(Position + 1);
                if (*Position == '"') Position++;
                break;
            }
            Current.End = Position;
        }
        Count++;
        if (!Visit(Current)) return Count;
    }
    // A line of blanks only is one field that spans it.
    if (Count == 0 && *Line != '\0') {
        Count = 1;
        Visit(Field{Line, Position, false});
    }
    return Count;
}

// Removes the quoting of a stretch: a leading quote opens a quoted stretch
// that ends at the next single quote; a doubled quote becomes one.
int32 CleanInto(const char *Start, const char *End, char *Output, int32 Size) {
    if (Size < 1) return 0;
    int64 Count = (End > Start) ? End - Start : 0;
    if (Count > Size - 1) Count = Size - 1;
    int64 Index = 0;
    int32 Written = 0;
    bool Quoted = Count > 0 && Start[0] == '"';
    if (Quoted) Index = 1;
    while (Index < Count) {
        char Ch = Start[Index];
        if (Ch == '"') {
            if (Index + 1 < Count && Start[Index + 1] == '"') {
                Output[Written++] = '"';
                Index += 2;
                continue;
            }
            if (Quoted) break;
        }
        Output[Written++] = Ch;
        Index++;
    }
    Output[Written] = '\0';
    return 1;
}

// The text of a field as its argument: a quoted field's quoting removed.
std::string FieldText(const Field &Current) {
    if (!Current.Quoted) return std::string(Current.Start, (size_t)(Current.End - Current.Start));
    std::string Text((size_t)(Current.End - Current.Pointer()) + 1, '\0');
    CleanInto(Current.Pointer(), Current.End, Text.data(), (int32)Text.size());
    Text.resize(strlen(Text.c_str()));
    return Text;
}

// "--name" (without case) at the start of a field text of Length bytes.
bool MatchesSwitch(const char *Text, size_t Length, const char *Name, size_t NameLength) {
    return Length >= NameLength + 2 && Text[0] == '-' && Text[1] == '-' &&
           String_CompareLengthWithoutCase(Text + 2, Name, (int32)NameLength);
}

bool NeedsQuotes(const char *Argument) {
    if (*Argument == '\0') return true;
    for (const char *Position = Argument; *Position != '\0'; Position++)
        if (IsBlank(*Position) || *Position == '"') return true;
    return false;
}

// Splits a line into tokens, handing each to Emit(text, length).
template <class Emitter> int32 SplitLine(const char *Line, Emitter Emit) {
    int32 Count = 0;
    const char *Position = Line;
    std::string Token;
    for (;;) {
        while (IsSeparator(*Position)) Position++;
        if (*Position == '\0') break;
        Token.clear();
        bool InQuotes = false;
        auto Add = [&](char Ch) {
            if (Token.size() < (size_t)MaxTokenLength) Token += Ch;
        };
        while (*Position != '\0') {
            char Ch = *Position;
            if (InQuotes) {
                Position++;
                if (Ch == '"') break;
                Add(Ch);
                continue;
            }
            if (IsSeparator(Ch)) break;
            Position++;
            if (Ch == '"') {
                InQuotes = true;
            } else if (Ch == '\\') {
                Add(Ch);
                if (*Position != '\0') Add(*Position++);
            } else {
                Add(Ch);
            }
        }
        if (!Emit(Token)) return -1;
        Count++;
    }
    return Count;
}

// Joins what fits of a vector and returns how many arguments it took (-1 for
// a size below 1). An argument that does not fit whole is left out with all
// after it: half a switch would read as another value.
int32 JoinArguments(int32 Count, const char *const *Vector, char *Output, int32 Size) {
    if (Size < 1) return -1;
    Debug_CheckPointer(Output);
    Output[0] = '\0';
    if (Size < 2 || Count < 1) return 0;
    Debug_CheckPointer(Vector);
    std::string Line;
    int32 Joined = 0;
    for (; Joined < Count; Joined++) {
        const char *Argument = Vector[Joined] != nullptr ? Vector[Joined] : "";
        std::string Field;
        if (Joined > 0) Field += ' ';
        if (!NeedsQuotes(Argument)) {
            Field += Argument;
        } else {
            Field += '"';
            for (const char *Position = Argument; *Position != '\0'; Position++) {
                if (*Position == '"') Field += '"';
                Field += *Position;
            }
            Field += '"';
        }
        if (Line.size() + Field.size() >= (size_t)Size) break;
        Line += Field;
    }
    memcpy(Output, Line.c_str(), Line.size() + 1);
    return Joined;
}

} // namespace

int32 Arguments_Init(int32 Count, char **Vector) {
    Debug_Assert(GlobalArgV == NULL, "Command line already initialized");
    Debug_CheckPointer(Vector);
    GlobalArgC = Count;
    GlobalArgV = Vector;
    GlobalArgVOwned = false;
    int32 Joined = JoinArguments(Count, Vector, GlobalCommandLine, COMMAND_LINE_SIZE);
    GlobalArgumentsLeftOut = Count > Joined ? Count - Joined : 0;
    return 1;
}

int32 Arguments_GetLeftOut(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = GlobalArgV != nullptr && !GlobalArgVOwned ? GlobalArgumentsLeftOut : 0;
    return 1;
}

int32 Arguments_Remove(void) {
    Debug_Assert(GlobalArgV != NULL, "Command line not initialized");
    if (GlobalArgVOwned) return Arguments_Free(&GlobalArgC, &GlobalArgV);
    GlobalArgC = 0;
    GlobalArgV = nullptr;
    return 1;
}

int32 Arguments_Get(int32 *Count, char ***Vector) {
    Debug_CheckPointer(Count);
    Debug_CheckPointer(Vector);
    *Count = GlobalArgC;
    *Vector = GlobalArgV;
    return GlobalArgV != nullptr ? 1 : 0;
}

int32 Arguments_Build(const char *Line, int32 *Count, char ***Vector) {
    Debug_CheckPointer(Count);
    Debug_CheckPointer(Vector);
    *Count = 0;
    *Vector = nullptr;
    int32 Tokens = 0;
    Arguments_BuildBySeparator(Line, &Tokens, nullptr);
    // One more slot for the terminating null that argv-style readers expect.
    char **Built = static_cast<char **>(calloc((size_t)Tokens + 1, sizeof(char *)));
    if (Built == nullptr) return 0;
    int32 Filled = Tokens;
    if (!Arguments_BuildBySeparator(Line, &Filled, Built) || Filled != Tokens) {
        Arguments_Free(&Filled, &Built);
        return 0;
    }
    *Count = Tokens;
    *Vector = Built;
    return 1;
}

int32 Arguments_BuildBySeparator(const char *Line, int32 *Count, char **Vector) {
    Debug_CheckPointer(Count);
    int32 Index = 0;
    int32 Found = SplitLine(Resolve(Line), [&](const std::string &Token) {
        if (Vector == nullptr) return true;
        char *Copy = static_cast<char *>(malloc(Token.size() + 1));
        if (Copy == nullptr) return false;
        memcpy(Copy, Token.c_str(), Token.size() + 1);
        Vector[Index++] = Copy;
        return true;
    });
    if (Found < 0) {
        *Count = Index;
        return 0;
    }
    *Count = Found;
    return 1;
}

int32 Arguments_Free(int32 *Count, char ***Vector) {
    Debug_CheckPointer(Count);
    Debug_CheckPointer(Vector);
    if (*Vector != nullptr) {
        for (int32 Index = 0; Index < *Count; Index++) free((*Vector)[Index]);
        free(*Vector);
    }
    *Count = 0;
    *Vector = nullptr;
    return 1;
}

int32 CommandLine_Init(const char *Line) {
    Debug_Assert(GlobalArgV == NULL, "Command line already initialized");
    if (Line != nullptr && Line != GlobalCommandLine) String_CopyLength(GlobalCommandLine, Line, COMMAND_LINE_SIZE);
    if (!Arguments_Build(GlobalCommandLine, &GlobalArgC, &GlobalArgV)) return 0;
    GlobalArgVOwned = true;
    return 1;
}

int32 CommandLine_InitWide(const uint16 *Line) {
    if (Line == nullptr) return CommandLine_Init(nullptr);
    char Converted[COMMAND_LINE_SIZE];
    Converted[0] = '\0';
    StringUtf16_CopyToUtf8(Converted, Line, COMMAND_LINE_SIZE);
    return CommandLine_Init(Converted);
}

int32 CommandLine_Remove(void) {
    Debug_Assert(GlobalArgV != NULL, "Command line not initialized");
    // A forked child may still hold the platform's vector; only a vector
    // built here is freed.
    return Arguments_Remove();
}

int32 CommandLine_Build(int32 Count, const char *const *Vector, char *Output, int32 Size) {
    return JoinArguments(Count, Vector, Output, Size) >= 0 ? 1 : 0;
}

int32 CommandLine_Append(const char *Text) {
    if (Text == nullptr) return 0;
    size_t Length = strlen(GlobalCommandLine);
    bool Blank = Length == 0 || !IsBlank(GlobalCommandLine[Length - 1]);
    size_t Added = strlen(Text) + (Blank ? 1 : 0);
    // A switch cut in half would be worse than one left out.
    if (Length + Added >= (size_t)COMMAND_LINE_SIZE) return 0;
    if (Blank) GlobalCommandLine[Length++] = ' ';
    memcpy(GlobalCommandLine + Length, Text, strlen(Text) + 1);
    return 1;
}

int32 CommandLine_Get(const char **Line) {
    Debug_CheckPointer(Line);
    *Line = GlobalCommandLine;
    return 1;
}

int32 CommandLine_GetFieldBoundary(const char *Line, int32 Index, int32 *Count, const char **Start,
                                   const char **End) {
    Debug_CheckPointer(Start);
    Debug_CheckPointer(End);
    *Start = nullptr;
    *End = nullptr;
    int32 Seen = 0;
    int32 Met = ScanFields(Resolve(Line), [&](const Field &Current) {
        if (Seen++ != Index) return true;
        *Start = Current.Start;
        *End = Current.End;
        return false;
    });
    if (Count != nullptr) *Count = Met;
    return *Start != nullptr ? 1 : 0;
}

int32 CommandLine_GetFieldCount(const char *Line, int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = ScanFields(Resolve(Line), [](const Field &) { return true; });
    return *Count > 0 ? 1 : 0;
}

int32 CommandLine_GetField(const char *Line, int32 Index, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';
    const char *Pointer;
    if (!CommandLine_GetFieldPtr(Line, Index, &Pointer)) return 0;
    const char *Start, *End;
    CommandLine_GetFieldBoundary(Line, Index, nullptr, &Start, &End);
    return CleanInto(Pointer, End, Output, Size);
}

int32 CommandLine_GetFieldPtr(const char *Line, int32 Index, const char **Pointer) {
    Debug_CheckPointer(Pointer);
    *Pointer = nullptr;
    int32 Seen = 0;
    ScanFields(Resolve(Line), [&](const Field &Current) {
        if (Seen++ != Index) return true;
        *Pointer = Current.Pointer();
        return false;
    });
    return *Pointer != nullptr ? 1 : 0;
}

int32 CommandLine_GetFieldCleanAndCopy(const char *Start, const char *End, char *Output, int32 Size) {
    Debug_CheckPointer(Start);
    Debug_CheckPointer(End);
    Debug_CheckPointer(Output);
    return CleanInto(Start, End, Output, Size);
}

int32 CommandLine_GetFieldByName(const char *Line, const char *Name, char *Output, int32 Size) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';
    size_t NameLength = strlen(Name);
    int32 Result = 0;
    ScanFields(Resolve(Line), [&](const Field &Current) {
        if (!Current.Quoted) {
            size_t Length = (size_t)(Current.End - Current.Start);
            if (!MatchesSwitch(Current.Start, Length, Name, NameLength) || Length < NameLength + 3 ||
                Current.Start[NameLength + 2] != '=')
                return true;
            Result = CleanInto(Current.Start + NameLength + 3, Current.End, Output, Size);
            return false;
        }
        // A whole argument in quotes ("--skin=a b"): match on its text.
        std::string Text = FieldText(Current);
        if (!MatchesSwitch(Text.c_str(), Text.size(), Name, NameLength) || Text.size() < NameLength + 3 ||
            Text[NameLength + 2] != '=')
            return true;
        String_CopyLength(Output, Text.c_str() + NameLength + 3, Size);
        Result = 1;
        return false;
    });
    return Result;
}

int32 CommandLine_GetFieldName(const char *Field, char *Output, int32 Size) {
    Debug_CheckPointer(Field);
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';
    if (Field[0] != '-' || Field[1] != '-') return 0;
    const char *Name = Field + 2;
    size_t Length = strcspn(Name, " =");
    if (Length > (size_t)(Size - 1)) Length = (size_t)(Size - 1);
    memcpy(Output, Name, Length);
    Output[Length] = '\0';
    return 1;
}

int32 CommandLine_GetFieldValue(const char *Field, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    if (Size < 1) return 0;
    Output[0] = '\0';
    const char *Value;
    if (!CommandLine_GetFieldValuePtr(Field, &Value)) return 0;
    return CleanInto(Value, Value + strlen(Value), Output, Size);
}

int32 CommandLine_GetFieldValuePtr(const char *Field, const char **Value) {
    Debug_CheckPointer(Field);
    Debug_CheckPointer(Value);
    *Value = nullptr;
    if (Field[0] == '-' && Field[1] == '-') Field += 2;
    const char *Equals = strchr(Field, '=');
    if (Equals == nullptr) return 0;
    *Value = Equals + 1;
    return 1;
}

int32 CommandLine_IsFieldSet(const char *Line, const char *Name) {
    Debug_CheckPointer(Name);
    size_t NameLength = strlen(Name);
    int32 Result = 0;
    ScanFields(Resolve(Line), [&](const Field &Current) {
        size_t Length = (size_t)(Current.End - Current.Start);
        if (!MatchesSwitch(Current.Start, Length, Name, NameLength)) return true;
        const char *After = Current.Start + 2 + NameLength;
        if (After == Current.End || *After == ' ' || *After == '"' || *After == '=') {
            Result = 1;
            return false;
        }
        return true;
    });
    return Result;
}

int32 Core_ShouldRemoveSwitch(const char *Name) {
    if (Name == nullptr) return 0;
    for (const char *Switch : Core_SwitchFilterTable)
        if (String_CompareWithoutCase(Name, Switch)) return 1;
    return 0;
}
