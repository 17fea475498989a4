// The core record, the debug flags and their switches, the start and end of
// the runtime, the forwarding hooks and the fatal stop.
//
// The core, memory and log records are process-wide and live in static
// storage: they exist before the allocator counts anything and after the leak
// report, so they never show up as leaks themselves.
#include "runtime/debug.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/callback.h"
#include "runtime/class.h"
#include "runtime/command_line.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/time.h"

CoreStruct *GlobalCore = nullptr;
Debug_FlagsFunc GlobalDebugFlagsOverride = nullptr;
Debug_PrintFunc GlobalDebugPrintOverride = nullptr;
Debug_PrintFunc GlobalDebugPrintCallback = nullptr;
Debug_AbortFunc GlobalDebugAbortOverride = nullptr;

namespace {

constexpr int32 AbortBufferSize = 4096;
constexpr int32 ExecutableTextSize = 120;

// Handed down by the executable module (Debug_SetModuleValueReader,
// Debug_SetModuleRemove); they outlive every start of the runtime.
Debug_ModuleValueFunc ModuleValueReader = nullptr;
Debug_ModuleRemoveFunc ModuleRemover = nullptr;

thread_local int32 AbortDepth = 0;

// Set when a `debug` switch named the level; Debug_Init then keeps it.
bool LevelFromSwitch = false;

// Switches that only add flags.
struct SwitchFlag {
    const char *Name;
    uint32 Flags;
};
constexpr SwitchFlag PlainSwitches[] = {
    {"cmdline", DEBUG_FLAG_CMDLINE},
    {"window", DEBUG_FLAG_CONSOLE},
    {"commit", DEBUG_FLAG_COMMIT},
    {"append", DEBUG_FLAG_APPEND},
    {"externalprint", DEBUG_FLAG_EXTERNALPRINT},
    {"memorytracking", DEBUG_FLAG_MEMORYTRACKING},
    {"memorytest", DEBUG_FLAG_MEMORYTEST},
    {"memoryreport", DEBUG_FLAG_MEMORYREPORT},
};

void WriteStderr(const char *Text, size_t Length) {
    while (Length > 0) {
        ssize_t Written = write(2, Text, Length);
        if (Written <= 0) return;
        Text += Written;
        Length -= (size_t)Written;
    }
}
void WriteStderr(const char *Text) { WriteStderr(Text, strlen(Text)); }

// The console is standard output; when that is the very file behind stderr,
// a line the console showed need not be written there again.
bool ConsoleShowedOnStderr() {
    uint32 Flags = Debug_Flags();
    if (!(Flags & DEBUG_FLAG_CONSOLE) || GlobalLog == nullptr || GlobalLog->Console == nullptr) return false;
    if (GlobalDebugPrintOverride != nullptr) return false;
    if ((Flags & DEBUG_FLAG_PERTHREAD) && GlobalCore != nullptr &&
        Platform_ThreadGetCurrentId() != GlobalCore->MainThreadId)
        return false;
    struct stat Out, Err;
    if (fstat(1, &Out) != 0 || fstat(2, &Err) != 0) return false;
    return Out.st_dev == Err.st_dev && Out.st_ino == Err.st_ino;
}

// The file-name part of a path: the text after its last separator.
const char *FileNamePart(const char *Path) {
    const char *Name = Path;
    for (const char *p = Path; *p != 0; p++)
        if (*p == '/' || *p == '\\') Name = p + 1;
    return Name;
}

void JoinPath(char *Output, const char *Directory, const char *Name) {
    char Joined[LOG_NAME_SIZE];
    String_CopyLength(Joined, Directory, sizeof(Joined));
    String_CatLength(Joined, Name, sizeof(Joined));
    String_CopyLength(Output, Joined, LOG_NAME_SIZE);
}

// Where the log file goes: the name as given when absolute, else under the
// module's log directory; then the desktop (0x40000) or `debugdir` (0x2).
void BuildLogPath(const char *Name, uint32 Flags, char *Path) {
    // Macros in the name ({Temp}, {Env:...}) are expanded first; a name that
    // cannot be expanded is used as given.
    char Expanded[LOG_NAME_SIZE];
    String_CopyLength(Expanded, Name != nullptr ? Name : "", sizeof(Expanded));
    String_Expand(Expanded, sizeof(Expanded), nullptr, nullptr);
    Name = Expanded;
    if ((Name[0] != 0 && Name[1] == ':') || Name[0] == '\\' || Name[0] == '/') {
        String_CopyLength(Path, Name, LOG_NAME_SIZE);
    } else {
        char Directory[LOG_NAME_SIZE] = "";
        if (!Platform_GetModuleLogDirectory(nullptr, Directory, sizeof(Directory))) Directory[0] = 0;
        JoinPath(Path, Directory, Name);
        String_Expand(Path, LOG_NAME_SIZE, nullptr, nullptr);
    }
    // A name without a file-name part means the directory's "debug.log".
    if (*FileNamePart(Path) == 0) JoinPath(Path, Path, "debug.log");

    char FileName[LOG_NAME_SIZE];
    String_CopyLength(FileName, FileNamePart(Path), sizeof(FileName));
    char Directory[LOG_NAME_SIZE] = "";
    if (Flags & DEBUG_FLAG_DESKTOP) {
        if (Platform_GetSpecialPath(7, Directory, sizeof(Directory))) JoinPath(Path, Directory, FileName);
    } else if ((Flags & DEBUG_FLAG_FILE) &&
               CommandLine_GetFieldByName(nullptr, "debugdir", Directory, sizeof(Directory)) && Directory[0] != 0) {
        for (char *p = Directory; *p != 0; p++)
            if (*p == '\\') *p = '/';
        size_t Length = strlen(Directory);
        if (Directory[Length - 1] != '/') String_CatLength(Directory, "/", sizeof(Directory));
        JoinPath(Path, Directory, FileName);
    }
}

} // namespace

int32 Debug_BuildInitFlags(uint32 *Flags, const char *CommandLine) {
    Debug_CheckPointer(Flags);
    uint32 Result = 0;
    bool FileWanted = false;
    if (Platform_GetDebugFlagsFromKey(&Result)) FileWanted = true;

    char Value[256];
    if (CommandLine_GetFieldByName(CommandLine, "debug", Value, sizeof(Value)) && Value[0] != 0) {
        String_Upper(Value);
        Log_SetLevel(Log_TranslateLevelString(Value));
        LevelFromSwitch = true;
        FileWanted = true;
    } else if (CommandLine_IsFieldSet(CommandLine, "debug")) {
        FileWanted = true;
    }
    if (CommandLine_IsFieldSet(CommandLine, "debugfile")) {
        Result |= DEBUG_FLAG_DESKTOP;
        FileWanted = true;
    }
    if (CommandLine_IsFieldSet(CommandLine, "perday")) {
        Result |= DEBUG_FLAG_PERDAY | DEBUG_FLAG_APPEND;
        FileWanted = true;
    }
    if (CommandLine_IsFieldSet(CommandLine, "perthread")) {
        Result |= DEBUG_FLAG_PERTHREAD | DEBUG_FLAG_APPEND;
        FileWanted = true;
    }
    if (CommandLine_IsFieldSet(CommandLine, "perprocess"))
        Result |= DEBUG_FLAG_PERPROCESS | DEBUG_FLAG_APPEND | DEBUG_FLAG_FILE;
    else if (FileWanted)
        Result |= DEBUG_FLAG_FILE;
    for (const SwitchFlag &Switch : PlainSwitches)
        if (CommandLine_IsFieldSet(CommandLine, Switch.Name)) Result |= Switch.Flags;
    *Flags = Result;
    return 1;
}

int32 Debug_Init(const char *LogName, const char *Version, uint32 Flags) {
    static CoreStruct Core;
    Debug_Assert(GlobalCore == NULL, "Core already initialized");
    memset(&Core, 0, sizeof(Core));
    GlobalCore = &Core;

    Memory_Init((Flags & DEBUG_FLAG_MEMORYTRACKING) != 0);

    Core.MainThreadId = Platform_ThreadGetCurrentId();
    Core.ProcessId = (uint32)getpid();
    Debug_SetFlags(Flags);
    Time_Init();
    Class_Init();
    Callback_Init();

    uint32 Current = Debug_Flags();
    char Path[LOG_NAME_SIZE];
    BuildLogPath(LogName, Current, Path);
    // The flags decide the level only when the switch named none.
    if (!LevelFromSwitch) Log_SetLevel((Current & 3) == DEBUG_FLAG_CONSOLE ? LOG_INFO : LOG_DEBUG);
    Log_Init(Path);

    Debug_Enter(Version);
    int32 LeftOut = 0;
    if (Arguments_GetLeftOut(&LeftOut) && LeftOut > 0)
        Log_Warning("Command line longer than %d bytes: its last %d argument(s) are left out\n",
                    COMMAND_LINE_SIZE - 1, LeftOut);
    srand((unsigned)Time_GetCurrentEncoded());
    return 1;
}

int32 Debug_Enter(const char *Version) {
    Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "Log Level: %s\n", Log_TranslateLevel(Log_Level()));
    if (Version != nullptr) Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "Version: %s\n", Version);

    char Text[ExecutableTextSize], Other[ExecutableTextSize];
    if (Debug_GetModuleValue(nullptr, "FileVersion", Text, sizeof(Text)))
        Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "File Version: %s\n", Text);
    if (Debug_GetModuleValue(nullptr, "ProductName", Text, sizeof(Text)) &&
        Debug_GetModuleValue(nullptr, "ProductVersion", Other, sizeof(Other)))
        Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "Product Version: %s %s\n", Text, Other);
    if (Debug_GetModuleValue(nullptr, "CompanyName", Text, sizeof(Text)))
        Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "Company: %s\n", Text);

    const char *CommandLine = nullptr;
    if (CommandLine_Get(&CommandLine) && CommandLine != nullptr && CommandLine[0] != 0)
        Log_PrintInt(LOG_NOPREFIX, __FILE__, __LINE__, 0, "Command Line: %s\n", CommandLine);
    return 1;
}

int32 Debug_SetModuleValueReader(Debug_ModuleValueFunc Reader) {
    if (__atomic_load_n(&ModuleValueReader, __ATOMIC_ACQUIRE) != Reader)
        __atomic_store_n(&ModuleValueReader, Reader, __ATOMIC_RELEASE);
    return 1;
}

int32 Debug_GetModuleValue(const char *Path, const char *Key, char *Out, int32 Size) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    Debug_ModuleValueFunc Reader = __atomic_load_n(&ModuleValueReader, __ATOMIC_ACQUIRE);
    return Reader != nullptr ? Reader(Path, Key, Out, Size) : 0;
}

int32 Debug_SetModuleRemove(Debug_ModuleRemoveFunc Remove) {
    if (__atomic_load_n(&ModuleRemover, __ATOMIC_ACQUIRE) != Remove)
        __atomic_store_n(&ModuleRemover, Remove, __ATOMIC_RELEASE);
    return 1;
}

int32 Debug_Remove(void) {
    Debug_CheckPointer(GlobalCore);
    int32 ExitCode = GlobalCore->ExitCode;
    Callback_Remove();
    Class_Remove();
    Time_Remove();
    Log_Remove();
    // The executable module's cache lives in the runtime's memory, which goes next.
    Debug_ModuleRemoveFunc Remover = __atomic_load_n(&ModuleRemover, __ATOMIC_ACQUIRE);
    if (Remover != nullptr) Remover();
    Memory_Remove();
    Log_CloseFile();
    GlobalLog = nullptr;
    GlobalCore = nullptr;
    LevelFromSwitch = false;
    return ExitCode;
}

uint32 Debug_Flags(void) { return DebugInt_Flags(); }

int32 Debug_SetFlags(uint32 Flags) {
    if ((Flags & DEBUG_FLAG_PERTHREAD) && !(Flags & DEBUG_FLAG_APPEND))
        Debug_Abort("Threaded logging requires append to be on\n");
    if ((Flags & DEBUG_FLAG_PERPROCESS) && !(Flags & DEBUG_FLAG_APPEND))
        Debug_Abort("Process logging requires append to be on\n");
    if (GlobalCore == nullptr) return 0;
    __atomic_store_n(&GlobalCore->DebugFlags, Flags, __ATOMIC_RELAXED);
    return 1;
}

[[noreturn]] void Debug_AbortInt(const char *File, int32 Line, const char *Format, ...) {
    if (File == nullptr) File = "";
    if (AbortDepth++ > 0) {
        // A stop while composing or writing one: no more runtime calls.
        WriteStderr("ABORT - (during a fatal stop) ");
        WriteStderr(Format != nullptr ? Format : "");
        WriteStderr(" (");
        WriteStderr(File);
        WriteStderr(")\n");
        __builtin_trap();
    }

    char Suffix[LOG_NAME_SIZE];
    String_Print(Suffix, sizeof(Suffix), " (%s/%d)\n", File, Line);
    int32 SuffixLength = (int32)strlen(Suffix);
    char Message[AbortBufferSize];
    String_CopyLength(Message, "ABORT - ", sizeof(Message));
    if (Format != nullptr) {
        va_list Arguments;
        va_start(Arguments, Format);
        // The message is cut, never the file and line behind it.
        String_VPrintCat(Message, AbortBufferSize - SuffixLength, Format, Arguments);
        va_end(Arguments);
    }
    String_CatLength(Message, Suffix, sizeof(Message));

    Log_WriteString(Message, 1, 1);
    if (!ConsoleShowedOnStderr()) WriteStderr(Message);
    Debug_AbortFunc Override = GlobalDebugAbortOverride;
    if (Override != nullptr) Override(File, Line, Message);
    __builtin_trap();
}

int32 Debug_SetExitCode(int32 Code) {
    if (GlobalCore == nullptr) return 0;
    GlobalCore->ExitCode = Code;
    return 1;
}

int32 Debug_ExitCode(void) { return GlobalCore != nullptr ? GlobalCore->ExitCode : 0; }
uint32 Debug_MainThreadId(void) { return GlobalCore != nullptr ? GlobalCore->MainThreadId : 0; }
uint32 Debug_ProcessId(void) { return GlobalCore != nullptr ? GlobalCore->ProcessId : 0; }

int32 Debug_GetRevision(char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    String_CopyLength(Output, "0.53", Size);
    return 1;
}

int32 Debug_IsBigEndian(void) { return 0; }

int32 Debug_Fork(const char *CommandLine) {
    if (GlobalCore == nullptr) return 0;
    uint32 ProcessId = (uint32)getpid();
    if (ProcessId == GlobalCore->ProcessId) return 1;
    GlobalCore->MainThreadId = Platform_ThreadGetCurrentId();
    GlobalCore->ProcessId = ProcessId;
    if (CommandLine != nullptr) {
        CommandLine_Remove();
        CommandLine_Init(CommandLine);
    }
    Log_Fork(CommandLine);
    Debug_Enter(nullptr);
    return 1;
}

int32 Debug_FlagsOverride(Debug_FlagsFunc Function) {
    GlobalDebugFlagsOverride = Function;
    return 1;
}

int32 Debug_PrintOverride(Debug_PrintFunc Function) {
    GlobalDebugPrintOverride = Function;
    return 1;
}

int32 Debug_AbortOverride(Debug_AbortFunc Function) {
    GlobalDebugAbortOverride = Function;
    return 1;
}

int32 Debug_PrintCallback(Debug_PrintFunc Function) {
    GlobalDebugPrintCallback = Function;
    return 1;
}

int32 Debug_ConsoleControlOverride(Debug_ConsoleControlFunc Function) {
    return Platform_SetConsoleControlOverride(Function);
}

int32 Debug_GenericPrintCallback(void *User, const char *Format, ...) {
    (void)User;
    va_list Arguments;
    va_start(Arguments, Format);
    Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, 1, Arguments);
    va_end(Arguments);
    return 1;
}
