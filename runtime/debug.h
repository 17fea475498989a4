// Process-wide debug state: the debug flags, the exit code, the hooks that
// forward logging to another module's copy of the runtime, and the one fatal
// stop routine every broken invariant ends in.
//
// Debug_Init starts the core record, memory state, time, class registry,
// callbacks and the log, in that order; Debug_Remove ends them and yields the
// recorded exit code. Both run on the main thread; every Remove clears its
// global so that a process (a test) may start and end the runtime again.
//
// Debug_AbortInt logs "ABORT - <message> (<file>/<line>)\n", always also writes
// it to stderr (fd 2) unless the console already showed it there, runs the
// abort override and ends in a processor trap (SIGILL). A stop raised while
// one is being composed on the same thread traps at once.
#pragma once

#include "runtime/types.h"

// Debug flag word (one 32-bit word read by many modules).
#define DEBUG_FLAG_CONSOLE 0x1
#define DEBUG_FLAG_FILE 0x2
#define DEBUG_FLAG_VERBOSEALL 0x4
#define DEBUG_FLAG_APPEND 0x8
#define DEBUG_FLAG_CMDLINE 0x10
#define DEBUG_FLAG_ERRFILE 0x40
#define DEBUG_FLAG_PERDAY 0x80
#define DEBUG_FLAG_PERTHREAD 0x100
#define DEBUG_FLAG_PERPROCESS 0x200
#define DEBUG_FLAG_MEMORYREPORT 0x400
#define DEBUG_FLAG_EXTERNALPRINT 0x800
#define DEBUG_FLAG_MEMORYTEST 0x4000
#define DEBUG_FLAG_COMMIT 0x10000
#define DEBUG_FLAG_MEMORYTRACKING 0x20000
#define DEBUG_FLAG_DESKTOP 0x40000

RUNTIME_EXTERN_C_BEGIN

typedef struct CoreStruct {
    uint32 DebugFlags;
    int32 ExitCode;
    uint32 MainThreadId;
    uint32 ProcessId;
} CoreStruct;

extern CoreStruct *GlobalCore;

typedef uint32 (*Debug_FlagsFunc)(void);
typedef int32 (*Debug_PrintFunc)(const char *Text);
typedef int32 (*Debug_AbortFunc)(const char *File, int32 Line, const char *Message);
typedef void (*Debug_ConsoleControlFunc)(int32 Signal);

// The installed hooks (null when unset); the log reads the print hooks.
extern Debug_FlagsFunc GlobalDebugFlagsOverride;
extern Debug_PrintFunc GlobalDebugPrintOverride;
extern Debug_PrintFunc GlobalDebugPrintCallback;
extern Debug_AbortFunc GlobalDebugAbortOverride;

// What Debug_Flags answers, without a call: the allocator reads it on every
// request. An installed override answers itself.
static inline uint32 DebugInt_Flags(void) {
    Debug_FlagsFunc Override = GlobalDebugFlagsOverride;
    if (__builtin_expect(Override != 0, 0)) return Override();
    CoreStruct *Core = GlobalCore;
    return Core != 0 ? __atomic_load_n(&Core->DebugFlags, __ATOMIC_RELAXED) : 0;
}

int32 Debug_BuildInitFlags(uint32 *Flags, const char *CommandLine);
int32 Debug_Init(const char *LogName, const char *Version, uint32 Flags);
int32 Debug_Remove(void);
uint32 Debug_Flags(void);
int32 Debug_SetFlags(uint32 Flags);
[[noreturn]] void Debug_AbortInt(const char *File, int32 Line, const char *Format, ...);
int32 Debug_SetExitCode(int32 Code);
int32 Debug_ExitCode(void);
uint32 Debug_MainThreadId(void);
uint32 Debug_ProcessId(void);
int32 Debug_GetRevision(char *Output, int32 Size);
int32 Debug_IsBigEndian(void);
int32 Debug_Fork(const char *CommandLine);
int32 Debug_Enter(const char *Version);
// The executable module sits above the runtime and hands down, at start-up,
// its reader of an executable's version values ("FileVersion",
// "ProductName", "ProductVersion", "CompanyName"; a null Path is the running
// program), which the log header and the log folder's name use; and, once it
// has made its cache of the running program's values in the runtime's memory,
// the removal of that cache, which Debug_Remove runs before the memory goes.
// Without a reader no value is known (0, Out empty).
typedef int32 (*Debug_ModuleValueFunc)(const char *Path, const char *Key, char *Out, int32 Size);
typedef int32 (*Debug_ModuleRemoveFunc)(void);
int32 Debug_SetModuleValueReader(Debug_ModuleValueFunc Reader);
int32 Debug_GetModuleValue(const char *Path, const char *Key, char *Out, int32 Size);
int32 Debug_SetModuleRemove(Debug_ModuleRemoveFunc Remove);
int32 Debug_FlagsOverride(Debug_FlagsFunc Function);
int32 Debug_PrintOverride(Debug_PrintFunc Function);
int32 Debug_AbortOverride(Debug_AbortFunc Function);
int32 Debug_PrintCallback(Debug_PrintFunc Function);
int32 Debug_ConsoleControlOverride(Debug_ConsoleControlFunc Function);
int32 Debug_GenericPrintCallback(void *User, const char *Format, ...);

RUNTIME_EXTERN_C_END

#define Debug_Abort(...) Debug_AbortInt(__FILE__, __LINE__, __VA_ARGS__)

// The condition text is part of the message ("Assertion failed (Cond)\n...").
#define Debug_Assert(Cond, ...)                                                        \
    do {                                                                               \
        if (!(Cond)) Debug_AbortInt(__FILE__, __LINE__, "Assertion failed (" #Cond ")\n" __VA_ARGS__); \
    } while (0)

#define Debug_CheckPointer(Pointer)                                                    \
    do {                                                                               \
        if ((Pointer) == nullptr) Debug_AbortInt(__FILE__, __LINE__, "Pointer is NULL\n"); \
    } while (0)
