// PrivilegedTask: one command-line tool run with administrator rights, and
// what its owner learns of it afterwards (process id, running, exit code).
//
// The tool is run through the elevator stand-in (platform_stand_in.h), which
// asks the user and execs its command with the rights: the task starts
// "<elevator> /bin/sh -c 'echo $$; exec "$@"' '' <tool> <arguments...>", so
// the first line of the tool's output is its own process id. The tool and
// its arguments travel only as separate argument strings, never as shell text.
//
// Error codes: 0 success; -3221 no launch path; -60005 the elevator refused
// (it exited 127 without a process id), -60006 the user cancelled (126),
// -60008 anything else that gave no usable process id.
#pragma once

#include <stdio.h>

#include "runtime/class.h"
#include "runtime/types.h"

#define PRIVILEGEDTASK_CLASSID 0x9e5f7c03u
#define PRIVILEGEDTASK_ERROR_NOPATH (-3221)
#define PRIVILEGEDTASK_ERROR_DENIED (-60005)
#define PRIVILEGEDTASK_ERROR_CANCELED (-60006)
#define PRIVILEGEDTASK_ERROR_INTERNAL (-60008)

RUNTIME_EXTERN_C_BEGIN

typedef struct PrivilegedTask PrivilegedTask;

int32 PrivilegedTask_Create(PrivilegedTask **Task);
int32 PrivilegedTask_Delete(PrivilegedTask **Task);
CLASS_DECLARE_REFERENCE(PrivilegedTask, PrivilegedTask)

int32 PrivilegedTask_SetLaunchPath(PrivilegedTask *Task, const char *Path);
// Copies Count strings; each is one argument, never split.
int32 PrivilegedTask_SetArguments(PrivilegedTask *Task, int32 Count, const char *const *Arguments);

// 1 when the tool started; 0 with the error code set otherwise. Launch keeps
// the tool's output stream to itself and drains it on every running test, so
// a talkative tool never blocks on a full pipe; LaunchWithOutputFile hands
// the stream to the caller (who must read it) and keeps it for closing.
int32 PrivilegedTask_Launch(PrivilegedTask *Task);
int32 PrivilegedTask_LaunchWithOutputFile(PrivilegedTask *Task, FILE **OutFile);
// The launch without waiting for the id line, which a real elevator prints
// only once the user has answered its password prompt (minutes, maybe): 1
// once the elevator has started (0 with the error code set otherwise). The
// running tests read the id line as it comes: GetPID gives 0 until then, and
// an elevator that ends without one ends the task with its exit status and
// the error code a synchronous launch would have had. Deleting the task
// while the id is awaited ends the elevator (SIGTERM), so no tool starts
// for an owner that is gone.
int32 PrivilegedTask_LaunchAsync(PrivilegedTask *Task);
// The execution step: starts the elevated shell and reads the id line.
// 0 or an error code; *OutFile receives the output stream (null: the id is
// not read and the stream is closed) and *OutProcessId the tool's id.
int32 PrivilegedTask_ExecuteWithPid(const char *ToolPath, int32 ArgumentCount, const char *const *Arguments,
                                    FILE **OutFile, int32 *OutProcessId);

// The tool's process id; 0 while an asynchronous launch awaits it.
int32 PrivilegedTask_GetPID(PrivilegedTask *Task);
// 1 while the tool runs; once it has ended the exit code is stored (the exit
// status, or minus the signal number; -1 when it could not be collected).
int32 PrivilegedTask_IsRunning(PrivilegedTask *Task);
int32 PrivilegedTask_GetExitCode(PrivilegedTask *Task, int32 *Code);
int32 PrivilegedTask_GetErrorCode(PrivilegedTask *Task, int32 *Code);

// Reads the id line the elevated shell prints: a positive decimal number
// and nothing else before the newline. 1 and the id, else 0.
int32 PrivilegedTask_ParsePidLine(const char *Line, int32 Length, int32 *ProcessId);

RUNTIME_EXTERN_C_END
