// PrivilegedTask: see privileged_task.h.
#include "runtime/posix/privileged_task.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/posix/platform_spawn.h"
#include "runtime/posix/platform_stand_in.h"

struct PrivilegedTask {
    ClassStruct Class;
    std::vector<std::string> *Arguments;
    FILE *OutputFile;
    std::string *LaunchPath;
    int32 ProcessId;
    int32 ExitCode;
    int32 ErrorCode;
    int32 Ended;
    int32 Drain; // the task owns the output stream and empties it
    int32 Pending;    // an asynchronous launch awaits the id line
    int32 ElevatorId; // what was started, while the id is awaited
    int32 IdLength;
    char IdLine[12]; // a valid id has at most ten digits
};

#define PrivilegedTask_Check(Handle) Class_CheckHandle((Handle), PRIVILEGEDTASK_CLASSID)

namespace {

constexpr const char *ShellScript = "echo $$; exec \"$@\"";
constexpr int LineSize = 1024;
constexpr int ExitCannotRun = 126;
constexpr int ExitNotFound = 127;
constexpr int ExitWaitAttempts = 200;

int32 DeleteThroughClass(void *HandleAddress) {
    return PrivilegedTask_Delete(static_cast<PrivilegedTask **>(HandleAddress));
}

// Reads and drops whatever the tool has written so far.
void DrainOutput(PrivilegedTask *Task) {
    if (Task->OutputFile == nullptr || !Task->Drain) return;
    char Scratch[4096];
    while (read(fileno(Task->OutputFile), Scratch, sizeof(Scratch)) > 0) {
    }
}

// Why an elevator that ended gave no id line.
int32 ErrorOfStatus(int Status) {
    if (WIFEXITED(Status) && WEXITSTATUS(Status) == ExitCannotRun) return PRIVILEGEDTASK_ERROR_CANCELED;
    if (WIFEXITED(Status) && WEXITSTATUS(Status) == ExitNotFound) return PRIVILEGEDTASK_ERROR_DENIED;
    return PRIVILEGEDTASK_ERROR_INTERNAL;
}

// The exit code kept for a collected status: the exit status, or minus the
// signal number; -1 for a status that could not be collected.
int32 ExitCodeOf(int Status, bool Collected) {
    if (!Collected) return -1;
    return WIFSIGNALED(Status) ? -WTERMSIG(Status) : WEXITSTATUS(Status);
}

// The elevator ended without an id line: its exit status tells why.
int32 StatusWithoutPid(pid_t Elevator) {
    int Status = 0;
    pid_t Result = 0;
    // Its output closes a moment before it can be collected; one that keeps
    // running without output is not waited for.
    for (int Attempt = 0; Attempt < ExitWaitAttempts && Result == 0; Attempt++) {
        while ((Result = waitpid(Elevator, &Status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (Result == 0) usleep(1000);
    }
    if (Result != Elevator) {
        // Still running (it closed its output early): collect it later.
        Platform_ReapLater(Elevator);
        return PRIVILEGEDTASK_ERROR_INTERNAL;
    }
    return ErrorOfStatus(Status);
}

// Starts the elevated shell with its output on a pipe: 0, the elevator's id
// and the pipe's reading end; else an error code.
int32 StartElevator(const char *ToolPath, int32 ArgumentCount, const char *const *Arguments, pid_t *Child,
                    int *Output) {
    char Elevator[1024];
    if (!Platform_GetElevator(Elevator, (int32)sizeof(Elevator))) return PRIVILEGEDTASK_ERROR_DENIED;
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0) return PRIVILEGEDTASK_ERROR_INTERNAL;
    PlatformSpawn Request;
    Request.Path = Elevator;
    Request.Arguments = {Elevator, "/bin/sh", "-c", ShellScript, "", ToolPath};
    for (int32 Index = 0; Index < ArgumentCount; Index++) Request.Arguments.emplace_back(Arguments[Index]);
    Request.Descriptors[1] = Pipe[1];
    const int Error = Platform_SpawnProcess(Request, Child);
    close(Pipe[1]);
    if (Error != 0) {
        close(Pipe[0]);
        return PRIVILEGEDTASK_ERROR_DENIED;
    }
    *Output = Pipe[0];
    return 0;
}

// 1 and its status once the process has ended and is collected; a process
// that is no longer our child counts as ended, its status unknown.
bool Collect(pid_t ProcessId, int *Status, bool *Collected) {
    pid_t Result;
    while ((Result = waitpid(ProcessId, Status, WNOHANG)) < 0 && errno == EINTR) {
    }
    *Collected = Result == ProcessId;
    return Result != 0;
}

enum class IdRead { Waiting, Line, Closed, TooLong };

// Takes what has come of the id line, a byte at a time so that nothing
// after it is taken.
IdRead ReadIdLine(PrivilegedTask *Task) {
    const int Descriptor = fileno(Task->OutputFile);
    for (;;) {
        char Byte = 0;
        const ssize_t Count = read(Descriptor, &Byte, 1);
        if (Count < 0 && errno == EINTR) continue;
        if (Count < 0) return errno == EAGAIN ? IdRead::Waiting : IdRead::Closed;
        if (Count == 0) return IdRead::Closed;
        if (Byte == '\n') return IdRead::Line;
        if (Task->IdLength >= (int32)sizeof(Task->IdLine)) return IdRead::TooLong;
        Task->IdLine[Task->IdLength++] = Byte;
    }
}

void EndPending(PrivilegedTask *Task, int32 Error, int32 ExitCode) {
    Task->Pending = 0;
    Task->ErrorCode = Error;
    Task->ExitCode = ExitCode;
    Task->Ended = 1;
}

// An asynchronous launch: takes the id line once the elevator has printed
// it. An elevator that ends first (refused, cancelled, or it kept its output
// open in a process of its own) ends the task with its status; what it wrote
// before it ended is in the pipe by the time it can be collected.
void AwaitId(PrivilegedTask *Task) {
    IdRead Got = ReadIdLine(Task);
    int Status = 0;
    bool Ended = false, Collected = false;
    if (Got == IdRead::Waiting || Got == IdRead::Closed) {
        if (!Collect(Task->ElevatorId, &Status, &Collected)) return;
        Ended = true;
        Got = ReadIdLine(Task);
        if (Got == IdRead::Waiting || Got == IdRead::Closed) {
            EndPending(Task, Collected ? ErrorOfStatus(Status) : PRIVILEGEDTASK_ERROR_INTERNAL,
                       ExitCodeOf(Status, Collected));
            return;
        }
    }
    int32 ProcessId = 0;
    if (Got == IdRead::TooLong || !PrivilegedTask_ParsePidLine(Task->IdLine, Task->IdLength, &ProcessId)) {
        // Nothing can be watched: the elevated command is ended (where we
        // may) and collected.
        if (!Ended) {
            kill(Task->ElevatorId, SIGKILL);
            Platform_ReapLater(Task->ElevatorId);
        }
        EndPending(Task, PRIVILEGEDTASK_ERROR_INTERNAL, -1);
        return;
    }
    Task->Pending = 0;
    Task->ProcessId = ProcessId;
    // An elevator that execs its command is the tool; one that forks leaves
    // a child of its own to collect, and the tool is watched from outside.
    if (ProcessId == Task->ElevatorId && Ended) EndPending(Task, 0, ExitCodeOf(Status, Collected));
    else if (ProcessId != Task->ElevatorId && !Ended) Platform_ReapLater(Task->ElevatorId);
}

} // namespace

CLASS_DEFINE_REFERENCE(PrivilegedTask, PrivilegedTask, PRIVILEGEDTASK_CLASSID)

int32 PrivilegedTask_ParsePidLine(const char *Line, int32 Length, int32 *ProcessId) {
    Debug_CheckPointer(ProcessId);
    *ProcessId = 0;
    if (Line == nullptr || Length < 1 || Length > 10) return FALSE;
    int64 Value = 0;
    for (int32 Index = 0; Index < Length; Index++) {
        if (Line[Index] < '0' || Line[Index] > '9') return FALSE;
        Value = Value * 10 + (Line[Index] - '0');
    }
    if (Value <= 0 || Value > 0x7fffffff) return FALSE;
    *ProcessId = (int32)Value;
    return TRUE;
}

int32 PrivilegedTask_Create(PrivilegedTask **Task) {
    Debug_CheckPointer(Task);
    PrivilegedTask *Object = Memory_New(PrivilegedTask);
    Class_InitHeader(Object, PRIVILEGEDTASK_CLASSID, DeleteThroughClass);
    Object->Arguments = new std::vector<std::string>();
    Object->LaunchPath = new std::string();
    *Task = Object;
    return TRUE;
}

int32 PrivilegedTask_Delete(PrivilegedTask **Task) {
    Debug_CheckPointer(Task);
    PrivilegedTask *Object = *Task;
    PrivilegedTask_Check(Object);
    if (Object->OutputFile != nullptr) fclose(Object->OutputFile);
    // An elevator still asking for the rights is ended: its tool would start
    // for an owner that is gone. (The user's own real id may signal it, even
    // when it runs set-user-id.)
    if (Object->Pending) {
        kill(Object->ElevatorId, SIGTERM);
        Platform_ReapLater(Object->ElevatorId);
    }
    // A tool still running is not stopped, but it is collected once it ends.
    if (Object->ProcessId > 0 && !Object->Ended) Platform_ReapLater(Object->ProcessId);
    delete Object->Arguments;
    delete Object->LaunchPath;
    Memory_Delete(Object);
    *Task = nullptr;
    return TRUE;
}

int32 PrivilegedTask_SetLaunchPath(PrivilegedTask *Task, const char *Path) {
    PrivilegedTask_Check(Task);
    *Task->LaunchPath = Path != nullptr ? Path : "";
    return TRUE;
}

int32 PrivilegedTask_SetArguments(PrivilegedTask *Task, int32 Count, const char *const *Arguments) {
    PrivilegedTask_Check(Task);
    Task->Arguments->clear();
    for (int32 Index = 0; Index < Count && Arguments != nullptr; Index++)
        Task->Arguments->emplace_back(Arguments[Index] != nullptr ? Arguments[Index] : "");
    return TRUE;
}

int32 PrivilegedTask_ExecuteWithPid(const char *ToolPath, int32 ArgumentCount, const char *const *Arguments,
                                    FILE **OutFile, int32 *OutProcessId) {
    pid_t Child = -1;
    int Output = -1;
    const int32 Error = StartElevator(ToolPath, ArgumentCount, Arguments, &Child, &Output);
    if (Error != 0) return Error;
    if (OutFile == nullptr) {
        close(Output);
        Platform_ReapLater(Child);
        return 0;
    }
    // One byte at a time, so nothing after the line is taken from the stream.
    char Line[LineSize];
    int32 Stored = 0;
    char Last = 0;
    while (Stored < LineSize) {
        ssize_t Count = read(Output, &Last, 1);
        if (Count < 0 && errno == EINTR) continue;
        if (Count != 1) {
            Last = 0;
            break;
        }
        if (Last == '\n') break;
        Line[Stored++] = Last;
    }
    int32 ProcessId = 0;
    if (Last != '\n' || !PrivilegedTask_ParsePidLine(Line, Stored, &ProcessId)) {
        close(Output);
        if (Last != '\n') return StatusWithoutPid(Child);
        // A line that is no id: nothing can be watched, so the elevated
        // command is ended (where we may) and collected.
        kill(Child, SIGKILL);
        Platform_ReapLater(Child);
        return PRIVILEGEDTASK_ERROR_INTERNAL;
    }
    // The elevator execs its command, so the printed id is normally our own
    // child; an elevator that forks leaves a child of its own to collect.
    if (ProcessId != Child) Platform_ReapLater(Child);
    FILE *Stream = fdopen(Output, "r");
    if (Stream == nullptr) {
        close(Output);
        Platform_ReapLater(ProcessId);
        return PRIVILEGEDTASK_ERROR_INTERNAL;
    }
    *OutFile = Stream;
    if (OutProcessId != nullptr) *OutProcessId = ProcessId;
    return 0;
}

int32 PrivilegedTask_LaunchWithOutputFile(PrivilegedTask *Task, FILE **OutFile) {
    PrivilegedTask_Check(Task);
    Task->ErrorCode = 0;
    if (Task->LaunchPath->empty()) {
        Task->ErrorCode = PRIVILEGEDTASK_ERROR_NOPATH;
        return FALSE;
    }
    std::vector<const char *> Arguments;
    for (const std::string &Argument : *Task->Arguments) Arguments.push_back(Argument.c_str());
    FILE *Stream = nullptr;
    int32 ProcessId = 0;
    const int32 Status = PrivilegedTask_ExecuteWithPid(Task->LaunchPath->c_str(), (int32)Arguments.size(),
                                                       Arguments.data(), &Stream, &ProcessId);
    if (Status != 0) {
        Task->ErrorCode = Status;
        return FALSE;
    }
    if (Task->OutputFile != nullptr) fclose(Task->OutputFile);
    Task->OutputFile = Stream;
    Task->ProcessId = ProcessId;
    Task->ExitCode = 0;
    Task->Ended = 0;
    Task->Drain = OutFile == nullptr ? 1 : 0;
    if (Task->Drain) fcntl(fileno(Stream), F_SETFL, fcntl(fileno(Stream), F_GETFL) | O_NONBLOCK);
    if (OutFile != nullptr) *OutFile = Stream;
    return TRUE;
}

int32 PrivilegedTask_Launch(PrivilegedTask *Task) { return PrivilegedTask_LaunchWithOutputFile(Task, nullptr); }

int32 PrivilegedTask_LaunchAsync(PrivilegedTask *Task) {
    PrivilegedTask_Check(Task);
    Task->ErrorCode = 0;
    if (Task->LaunchPath->empty()) {
        Task->ErrorCode = PRIVILEGEDTASK_ERROR_NOPATH;
        return FALSE;
    }
    std::vector<const char *> Arguments;
    for (const std::string &Argument : *Task->Arguments) Arguments.push_back(Argument.c_str());
    pid_t Child = -1;
    int Output = -1;
    const int32 Status = StartElevator(Task->LaunchPath->c_str(), (int32)Arguments.size(), Arguments.data(), &Child,
                                       &Output);
    FILE *Stream = Status == 0 ? fdopen(Output, "r") : nullptr;
    if (Stream == nullptr) {
        if (Status == 0) {
            close(Output);
            kill(Child, SIGTERM);
            Platform_ReapLater(Child);
        }
        Task->ErrorCode = Status != 0 ? Status : PRIVILEGEDTASK_ERROR_INTERNAL;
        return FALSE;
    }
    fcntl(Output, F_SETFL, fcntl(Output, F_GETFL) | O_NONBLOCK);
    if (Task->OutputFile != nullptr) fclose(Task->OutputFile);
    Task->OutputFile = Stream;
    Task->ProcessId = 0;
    Task->ExitCode = 0;
    Task->Ended = 0;
    Task->Drain = 1;
    Task->Pending = 1;
    Task->ElevatorId = Child;
    Task->IdLength = 0;
    return TRUE;
}

int32 PrivilegedTask_GetPID(PrivilegedTask *Task) {
    PrivilegedTask_Check(Task);
    return Task->ProcessId;
}

int32 PrivilegedTask_IsRunning(PrivilegedTask *Task) {
    PrivilegedTask_Check(Task);
    if (Task->Pending) {
        AwaitId(Task);
        if (Task->Pending) return TRUE;
    }
    DrainOutput(Task);
    if (Task->Ended || Task->ProcessId <= 0) return FALSE;
    int Status = 0;
    pid_t Result;
    while ((Result = waitpid(Task->ProcessId, &Status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (Result == 0) return TRUE;
    if (Result < 0) {
        // Not our child (an elevator that forked): watch it from outside; its
        // status cannot be had once it is gone.
        if (kill(Task->ProcessId, 0) == 0 || errno == EPERM) return TRUE;
        Task->ExitCode = -1;
        Task->Ended = 1;
        return FALSE;
    }
    if (WIFSTOPPED(Status)) return FALSE;
    Task->ExitCode = ExitCodeOf(Status, true);
    Task->Ended = 1;
    return FALSE;
}

int32 PrivilegedTask_GetExitCode(PrivilegedTask *Task, int32 *Code) {
    PrivilegedTask_Check(Task);
    Debug_CheckPointer(Code);
    *Code = Task->ExitCode;
    return TRUE;
}

int32 PrivilegedTask_GetErrorCode(PrivilegedTask *Task, int32 *Code) {
    PrivilegedTask_Check(Task);
    Debug_CheckPointer(Code);
    *Code = Task->ErrorCode;
    return TRUE;
}
