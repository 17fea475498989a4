// Process launch, process records and queries.
//
// Programs start normally, elevated (through PrivilegedTask) or, when this
// program runs as root, as the console user (through setpriv), so that a root
// process never starts an ordinary program as root. Children come only from
// posix_spawn (platform_spawn.h): a program that cannot start is a failed
// launch with one log line. A launch may be given the three standard streams
// as platform pipes (PlatformPipe): the child opens the FIFO there.
//
// Queries read /proc, whose root the stand-in seam steers (PROC_ROOT,
// platform_stand_in.h). Windows of other applications cannot be listed on this
// platform (there is no window server to ask), and no process is an
// application object, so those queries answer 0.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define PLATFORMPROCESS_CLASSID 0x574a8ebcu
#define PLATFORMPROCESSFIND_CLASSID 0x9424d5cdu

// Platform_Execute flags.
#define PLATFORM_EXECUTE_HIDDEN 1
#define PLATFORM_EXECUTE_ELEVATED 8
#define PLATFORM_EXECUTE_ASINVOKER 16

// Longest argument CommandLineToMutableArray keeps (with its terminator).
#define PLATFORM_ARGUMENT_SIZE 8192
#define PLATFORM_PROCESS_NAME_SIZE 14
#define PLATFORM_PROCESS_PATH_SIZE 320

RUNTIME_EXTERN_C_BEGIN

typedef struct PlatformProcess PlatformProcess;
typedef struct PlatformProcessFind PlatformProcessFind;
typedef struct PlatformPipe PlatformPipe;

typedef struct PlatformProcessEntry {
    int32 ProcessId;
    int32 ParentProcessId;
    char Path[PLATFORM_PROCESS_PATH_SIZE];
    char Name[PLATFORM_PROCESS_NAME_SIZE];
} PlatformProcessEntry;

// A command line split into arguments: blanks, tabs, CR and LF separate; a
// double quote starts a run that ends at the next one (inside an unquoted
// argument the run continues that argument, at its start it ends the
// argument); outside quotes a backslash stays and makes the next character
// ordinary. An argument reaching 8,192 bytes ends the parsing. The array and
// its strings come from the runtime allocator; free it with
// CommandLineArray_Delete. Always 1 (an empty line gives no arguments).
int32 CommandLineToMutableArray(const char *CommandLine, char ***Arguments, int32 *Count);
int32 CommandLineArray_Delete(char ***Arguments, int32 Count);

// Flags: PLATFORM_EXECUTE_*. The standard pipes may be null: standard input
// and error are then ours, standard output the null device.
int32 Platform_Execute(const char *Application, const char *Arguments, const char *WorkingDirectory, int32 Flags,
                       PlatformPipe *Stdin, PlatformPipe *Stdout, PlatformPipe *Stderr, PlatformProcess **Process);
// The same with the arguments already split (Arguments[0] is the first
// argument after the program).
int32 Platform_ExecuteVector(const char *Application, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process);
// The same, running the open regular file Program (a descriptor, kept by
// the caller) in place of the file at Application's name, which is then the
// child's argv[0] only: what was checked through the descriptor is what
// runs. Refused for an elevated launch, which cannot be handed it; -1 is
// Platform_ExecuteVector.
int32 Platform_ExecuteOpened(int32 Program, const char *Application, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process);
// Platform_Execute with a held Program, as Platform_ExecuteOpened.
int32 Platform_ExecuteLine(int32 Program, const char *Application, const char *Arguments,
                           const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                           PlatformPipe *Stderr, PlatformProcess **Process);
int32 Platform_ExecuteNormal(const char *Path, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process);
// Opens the target with the opener stand-in, one argument, without waiting.
int32 Platform_ShellOpen(const char *Target);

int32 Platform_ProcessGetId(PlatformProcess *Process);
int32 Platform_ProcessIsRunning(PlatformProcess *Process);
int32 Platform_ProcessIsIdle(PlatformProcess *Process);
// 1 once the child has ended: its exit code, or minus the signal number, or
// -1 when its status could not be collected. 0 while it runs.
int32 Platform_ProcessGetExitCode(PlatformProcess *Process, int32 *Code);
int32 Platform_ProcessGetById(int32 ProcessId, PlatformProcess **Process);
int32 Platform_ProcessTerminateById(int32 ProcessId);
int32 Platform_ProcessForceTerminateById(int32 ProcessId, int32 Ignored);
int32 Platform_ProcessGetPathById(int32 ProcessId, char *Buffer, int32 Length);
// Frees the record; a child still running is not stopped, but collected
// once it ends.
int32 Platform_ProcessDelete(PlatformProcess **Process);

int32 Platform_ProcessFindFirst(PlatformProcessEntry *Entry, PlatformProcessFind **Handle);
int32 Platform_ProcessFindNext(PlatformProcessFind *Handle, PlatformProcessEntry *Entry);
int32 Platform_ProcessFindClose(PlatformProcessFind **Handle);
// 1 when the entry for the id could be filled (the process exists).
int32 Platform_ProcessFindFill(int32 ProcessId, PlatformProcessEntry *Entry);
int32 Platform_FindProcess(const char *Pattern, int32 *ProcessId);
int32 Platform_FindWindow(const char *Title, const char *Owner, int32 OnScreenOnly, int32 *WindowNumber);

RUNTIME_EXTERN_C_END
