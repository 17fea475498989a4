// The line composer, the outputs (override, stamp, callback, console, file),
// levels, the verbose list and the bit and hex dumps. File naming and opening
// are in log_file.cpp.
//
// Locking: the log lock is recursive and taken around every write, so a
// module that logs from inside a log write (a print callback, the directory
// creation of Log_SetFilename) does not deadlock. Until Debug_Remove has
// deleted the lock the record is shared by all threads; afterwards only the
// main thread writes its last lines.
#include "runtime/log.h"

#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "runtime/command_line.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/trusted_path.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/time.h"

LogStruct *GlobalLog = nullptr;
namespace {
constexpr char DebugLevelName[] = "DEBUG";
} // namespace
const char *Log_LevelStringTable[4] = {"ERROR", "WARNING", "INFO", DebugLevelName};

namespace {

constexpr int32 MaxIndentSpaces = 2048;
constexpr int32 SpacesPerIndent = 4;
constexpr int32 MaxPrintedBits = 1024;
constexpr int32 BytesPerDumpLine = 16;

int32 GlobalLogLevel = LOG_DEBUG;

// Locks the log record when it has a lock; the guard is empty otherwise.
struct LogLock : CriticalSectionGuard {
    LogLock() : CriticalSectionGuard(GlobalLog != nullptr ? GlobalLog->Lock : nullptr) {}
};

bool IsMainThread() { return GlobalCore == nullptr || Platform_ThreadGetCurrentId() == GlobalCore->MainThreadId; }

// The clock second of the last stamp read; the local time cannot change
// within it, so the (costly) local conversion runs once a second.
time_t StampSecond = (time_t)-1;

// Rebuilds the stamp text when the local time has changed since the last one.
void RefreshStamp(LogStruct *Log) {
    const time_t Second = time(nullptr);
    if (Second != (time_t)-1 && Second == StampSecond && Log->StampText[0] != 0) return;
    float64 Now = Time_GetCurrentEncodedLocal(nullptr);
    StampSecond = Second;
    if (Now == Log->LastStampTime && Log->StampText[0] != 0) return;
    Log->LastStampTime = Now;
    if (!Time_EncodedString(TIME_FORMAT_LOGSTAMP, Log->StampText, LOG_STAMP_SIZE - 1, Now)) Log->StampText[0] = 0;
    String_CatLength(Log->StampText, " ", LOG_STAMP_SIZE);
}

// The stamp followed by the line in Joined (Size bytes); false when both
// do not fit.
bool JoinStamp(char *Joined, size_t Size, const char *StampText, const char *Text) {
    const size_t StampLength = strnlen(StampText, LOG_STAMP_SIZE);
    const size_t TextLength = strlen(Text);
    if (StampLength + TextLength >= Size) return false;
    memcpy(Joined, StampText, StampLength);
    memcpy(Joined + StampLength, Text, TextLength + 1);
    return true;
}

// One verbose item: "!" negates, leading digits give the level, the rest
// (at most 39 characters) is the name pattern.
LogVerboseStruct *ParseVerboseItem(const char *Item, size_t Length) {
    LogVerboseStruct *Entry = Memory_New(LogVerboseStruct);
    Entry->Level = 1;
    size_t i = 0;
    if (i < Length && Item[i] == '!') {
        Entry->Negated = 1;
        i++;
    }
    if (i < Length && Item[i] >= '0' && Item[i] <= '9') {
        int64 Level = 0;
        for (; i < Length && Item[i] >= '0' && Item[i] <= '9'; i++)
            if (Level < INT32_MAX) Level = Level * 10 + (Item[i] - '0');
        Entry->Level = Level > INT32_MAX ? INT32_MAX : (int32)Level;
    }
    String_CopyLengthSafe(Entry->Name, sizeof(Entry->Name), Item + i, (int32)(Length - i));
    return Entry;
}

void BuildVerboseList(LogStruct *Log) {
    char List[LOG_VERBOSE_LIST_SIZE];
    if (!CommandLine_GetFieldByName(nullptr, "verbose", List, sizeof(List)) || List[0] == 0) return;
    LogVerboseStruct **Tail = &Log->Verbose;
    const char *Item = List;
    for (;;) {
        const char *Comma = strchr(Item, ',');
        size_t Length = Comma != nullptr ? (size_t)(Comma - Item) : strlen(Item);
        *Tail = ParseVerboseItem(Item, Length);
        Tail = &(*Tail)->Next;
        if (Comma == nullptr) break;
        Item = Comma + 1;
    }
}

// Creates the folder of a log file name and its missing parents owner-only,
// "~" resolved; folders that exist keep their modes. Each is made in the one
// above it as the trusted-path walk holds it open, never through a link
// another user put on the way. A failure shows when the file is opened.
void CreateLogDirectory(const char *Name) {
    char Directory[LOG_NAME_SIZE];
    Path_Resolve(Name, Directory, sizeof(Directory));
    if (strlen(Directory) >= sizeof(Directory) - 1 || !Path_RemoveFilename(Directory)) return;
    for (char *p = Directory; *p != 0; p++)
        if (*p == '\\') *p = '/';
    int32 Folder = -1;
    constexpr uint32 Flags = TRUSTEDPATH_FOLDER | TRUSTEDPATH_MAKE | TRUSTEDPATH_ABOVE_IF_ROOT;
    if (Directory[0] != 0 && TrustedPath_Open(Directory, Flags, &Folder, nullptr))
        close(Folder);
}

} // namespace

int32 Log_Init(const char *Path) {
    static LogStruct Record;
    Debug_Assert(GlobalLog == NULL, "Log already initialized");
    memset(&Record, 0, sizeof(Record));
    CommandLine_GetFieldByName(nullptr, "debugfileid", Record.FileId, sizeof(Record.FileId));
    CriticalSection_Create(&Record.Lock);
    GlobalLog = &Record;
    Log_SetFilename(Path);
    if (Log_IsEnabled()) BuildVerboseList(&Record);
    return 1;
}

int32 Log_Remove(void) {
    LogStruct *Log = GlobalLog;
    if (Log == nullptr) return 0;
    while (Log->Verbose != nullptr) {
        LogVerboseStruct *Next = Log->Verbose->Next;
        Memory_Delete(Log->Verbose);
        Log->Verbose = Next;
    }
    // Unpublished first: freeing the lock may itself log (memory trace).
    void *Lock = Log->Lock;
    Log->Lock = nullptr;
    CriticalSection_Delete(&Lock);
    return 1;
}

int32 Log_PrintInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Log_PrintVInt(Level, File, Line, Indent, Format, 1, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Log_BeginLine(uint32 Level, int32 Indent, char *Text) {
    int32 Used = 0;
    if (Level == LOG_DEBUG && Log_LevelStringTable[LOG_DEBUG] == DebugLevelName) {
        // Nearly every line is a debug line under the table's own name.
        memcpy(Text, "DEBUG - ", 8);
        Used = 8;
    } else if (Level <= LOG_DEBUG) {
        // The level names are a few letters; the bound only keeps a
        // replaced table entry inside the line.
        const char *Name = Log_LevelStringTable[Level];
        const size_t NameLength = strnlen(Name, LOG_LINE_SIZE - MaxIndentSpaces - 4);
        memcpy(Text, Name, NameLength);
        memcpy(Text + NameLength, " - ", 3);
        Used = (int32)NameLength + 3;
    }
    if (Indent > 0) {
        int32 Spaces = Indent > MaxIndentSpaces / SpacesPerIndent ? MaxIndentSpaces : Indent * SpacesPerIndent;
        memset(Text + Used, ' ', (size_t)Spaces);
        Used += Spaces;
    }
    Text[Used] = 0;
    return Used;
}

int32 Log_PrintVInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, int32 Stamp,
                    va_list Arguments) {
    (void)File;
    (void)Line;
    if (!Log_IsEnabled()) return 0;
    char Text[LOG_LINE_SIZE];
    const int32 Used = Log_BeginLine(Level, Indent, Text);
    if (Format != nullptr) {
        int32 Printed = 0;
        StringPrint_VPrintFits(Text + Used, (int32)sizeof(Text) - Used, Format, Arguments, &Printed);
        // A line cut to the buffer keeps the line end its format asked for,
        // so that the next line starts on a line of its own.
        if ((size_t)(Used + Printed) == sizeof(Text) - 1 && strlen(Text) == sizeof(Text) - 1) {
            size_t FormatLength = strlen(Format);
            if (FormatLength > 0 && Format[FormatLength - 1] == '\n') Text[sizeof(Text) - 2] = '\n';
        }
    }
    return Log_WriteString(Text, 0, Stamp);
}

int32 Log_PrintFormat(const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Log_PrintVInt(4, "", 0, 0, Format, 0, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Log_PrintString(const char *Text) {
    if (Debug_Flags() == 0) return 0;
    return Log_WriteString(Text, 0, 0);
}

int32 Log_PrintStringWithTimeStamp(const char *Text) {
    if (Debug_Flags() == 0) return 0;
    return Log_WriteString(Text, 0, 1);
}

int32 Log_WriteString(const char *Text, int32 Abort, int32 Stamp) {
    if (Text == nullptr) return 0;
    // Every way out (override, callback, console, file) sees the masked line.
    // Memory that runs out (its own stop is logged here) leaves the line as
    // it is rather than lose it.
    std::string Masked;
    try {
        if (Log_Redact(Text, Masked)) Text = Masked.c_str();
    } catch (const std::bad_alloc &) {
    }
    Debug_PrintFunc Override = GlobalDebugPrintOverride;
    if (Override != nullptr) return Override(Text);

    LogLock Guard;
    LogStruct *Log = GlobalLog;
    uint32 Flags = Debug_Flags();
    bool ToFile = (Flags & DEBUG_FLAG_FILE) || Abort;
    const bool ToConsole = (Flags & DEBUG_FLAG_CONSOLE) != 0;
    // The stamp is only written beside the console and file copies: the
    // print callback gets the line alone, so no clock read without them.
    Debug_PrintFunc Callback = GlobalDebugPrintCallback;
    if (Stamp && Log != nullptr && (ToConsole || ToFile)) {
        RefreshStamp(Log);
        // Without a callback between them the stamp and its line are one
        // write: the same bytes, in one call rather than two. A callback may
        // itself log, and its lines then come between the two as before.
        char Joined[LOG_STAMP_SIZE + LOG_LINE_SIZE];
        if (Callback == nullptr && JoinStamp(Joined, sizeof(Joined), Log->StampText, Text)) {
            if (ToConsole) Log_WriteConsole(Joined);
            if (ToFile) Log_WriteFile(Joined, Abort);
            return 1;
        }
        if (ToConsole) Log_WriteConsole(Log->StampText);
        if (ToFile) Log_WriteFile(Log->StampText, Abort);
    }
    if (Callback != nullptr) Callback(Text);
    if (ToConsole) Log_WriteConsole(Text);
    if (ToFile) Log_WriteFile(Text, Abort);
    return 1;
}

int32 Log_WriteConsole(const char *Text) {
    LogStruct *Log = GlobalLog;
    if (GlobalCore == nullptr || Log == nullptr || Text == nullptr) return 0;
    if ((Debug_Flags() & DEBUG_FLAG_PERTHREAD) && !IsMainThread()) return 0;
    LogLock Guard;
    if (Log->Console == nullptr) return 0;
    return Platform_WriteStd(Log->Console, Text, (int32)strlen(Text), nullptr);
}

int32 Log_SetFilename(const char *Name) {
    if (GlobalDebugPrintOverride != nullptr) return 1;
    LogStruct *Log = GlobalLog;
    if (Log == nullptr) return 0;
    LogLock Guard;
    uint32 Flags = Debug_Flags();
    if (!(Flags & DEBUG_FLAG_CONSOLE) && Log->Console != nullptr) {
        Platform_FreeConsole();
        Log->Console = nullptr;
    }
    if (Name != nullptr) String_CopyLength(Log->BaseName, Name, sizeof(Log->BaseName));
    if (Flags == 0) return 1;
    if ((Flags & DEBUG_FLAG_CONSOLE) && Log->Console == nullptr) {
        Platform_AllocConsole();
        Platform_SetupConsoleControl();
        Log->Console = Platform_GetStdHandle(1);
        Platform_SetConsoleTitle(Log->BaseName);
    }
    if (!(Flags & DEBUG_FLAG_FILE)) {
        Log_CloseFile();
    } else if (Name != nullptr && Name[0] != 0) {
        CreateLogDirectory(Name);
    }
    return 1;
}

int32 Log_GetFilename(char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    LogStruct *Log = GlobalLog;
    if (Log == nullptr) {
        if (Size > 0) Output[0] = 0;
        return 0;
    }
    LogLock Guard;
    String_CopyLength(Output, Log->BaseName, Size);
    return 1;
}

int32 Log_SetLevel(int32 Level) {
    GlobalLogLevel = Level;
    return 1;
}

int32 Log_Level(void) { return GlobalLogLevel; }

const char *Log_TranslateLevel(int32 Level) {
    return Level >= LOG_ERROR && Level <= LOG_DEBUG ? Log_LevelStringTable[Level] : Log_LevelStringTable[LOG_ERROR];
}

int32 Log_TranslateLevelString(const char *Text) {
    Debug_CheckPointer(Text);
    for (int32 Level = LOG_ERROR; Level <= LOG_DEBUG; Level++)
        if (String_CompareWithoutCase(Text, Log_LevelStringTable[Level])) return Level;
    return 0;
}

int32 Log_IsEnabled(void) {
    uint32 Flags = Debug_Flags();
    if (Flags == 0 || GlobalLog == nullptr) return 0;
    return (Flags & (DEBUG_FLAG_CONSOLE | DEBUG_FLAG_FILE | DEBUG_FLAG_EXTERNALPRINT)) != 0;
}

int32 Log_GetVerboseLevel(const char *Name, int32 *Level) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Level);
    if (Debug_Flags() & DEBUG_FLAG_VERBOSEALL) {
        *Level = 8;
        return 1;
    }
    *Level = 0;
    int32 Result = 0;
    LogStruct *Log = GlobalLog;
    if (Log == nullptr) return 0;
    // The list is fixed between Debug_Init and Debug_Remove; the last
    // matching entry decides.
    for (const LogVerboseStruct *Entry = Log->Verbose; Entry != nullptr; Entry = Entry->Next) {
        if (!String_CompareWildcardWithoutCase(Name, Entry->Name)) continue;
        *Level = Entry->Negated ? 0 : Entry->Level;
        Result = Entry->Negated ? 0 : 1;
    }
    return Result;
}

int32 Log_PrintBitsInt(void *User, Log_PrintFunc Printer, uint64 Value, int32 Count) {
    if (Printer == nullptr) return 0;
    char Text[MaxPrintedBits + 1];
    if (Count > MaxPrintedBits) Count = MaxPrintedBits;
    int32 Used = 0;
    for (int32 Bit = Count - 1; Bit >= 0; Bit--) Text[Used++] = Bit < 64 && ((Value >> Bit) & 1) ? '1' : '0';
    Text[Used] = 0;
    Printer(User, Text);
    return 1;
}

int32 Log_PrintBits(uint64 Value, int32 Count) {
    LogLock Guard;
    return Log_PrintBitsInt(nullptr, Debug_GenericPrintCallback, Value, Count);
}

int32 Log_PrintBinaryInt(void *User, Log_PrintFunc Printer, int32 WithText, int32 NewLine, const void *Data,
                         int32 Length) {
    static const char Digits[] = "0123456789ABCDEF";
    if (Printer == nullptr) return 0;
    if (Length < 1) return 1;
    Debug_CheckPointer(Data);
    const uint8 *Bytes = (const uint8 *)Data;
    for (int32 Offset = 0; Offset < Length; Offset += BytesPerDumpLine) {
        int32 Count = Length - Offset < BytesPerDumpLine ? Length - Offset : BytesPerDumpLine;
        char Text[128];
        int32 Used = 0;
        for (int32 Shift = 28; Shift >= 0; Shift -= 4) Text[Used++] = Digits[((uint32)Offset >> Shift) & 15];
        Text[Used++] = ':';
        Text[Used++] = ' ';
        for (int32 i = 0; i < Count; i++) {
            Text[Used++] = Digits[Bytes[Offset + i] >> 4];
            Text[Used++] = Digits[Bytes[Offset + i] & 15];
            Text[Used++] = ' ';
        }
        if (WithText == 1) {
            for (int32 i = Count; i < BytesPerDumpLine; i++) {
                memset(Text + Used, ' ', 3);
                Used += 3;
            }
            Text[Used++] = '[';
            Text[Used++] = ' ';
            for (int32 i = 0; i < BytesPerDumpLine; i++) {
                uint8 Byte = i < Count ? Bytes[Offset + i] : ' ';
                // The line is handed on as a format, so "%" never appears raw.
                Text[Used++] = i >= Count ? ' ' : (Byte >= 0x20 && Byte < 0x7F && Byte != '%') ? (char)Byte : '.';
            }
            Text[Used++] = ' ';
            Text[Used++] = ']';
        }
        if (NewLine == 1) Text[Used++] = '\n';
        Text[Used] = 0;
        Printer(User, Text);
    }
    return 1;
}

int32 Log_PrintBinary(int32 WithText, int32 NewLine, const void *Data, int32 Length) {
    LogLock Guard;
    return Log_PrintBinaryInt(nullptr, Debug_GenericPrintCallback, WithText, NewLine, Data, Length);
}

int32 Log_Fork(const char *CommandLine) {
    LogStruct *Log = GlobalLog;
    if (Log == nullptr) return 0;
    LogLock Guard;
    Log_CloseFile();
    Log->FileId[0] = 0;
    CommandLine_GetFieldByName(CommandLine, "debugfileid", Log->FileId, sizeof(Log->FileId));
    return 1;
}
