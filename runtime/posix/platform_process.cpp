// Process launch and process records: see platform_process.h. Queries are in
// platform_process_find.cpp; the single instance, sleep prevention and
// restart in platform_process_session.cpp.
#include "runtime/posix/platform_process.h"

#include <errno.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_pipe.h"
#include "runtime/posix/platform_spawn.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/posix/privileged_task.h"
#include "runtime/text/string.h"

struct PlatformProcess {
    ClassStruct Class;
    PrivilegedTask *Task;
    std::string *Elevated; // the tool, until its launch has failed or given an id
    void *Application; // no application objects on this platform
    int32 ProcessId;
    int32 Status;
    int32 Collected;
};

#define PlatformProcess_Check(Handle) Class_CheckHandle((Handle), PLATFORMPROCESS_CLASSID)

namespace {

constexpr const char *SetPrivProgram = "/usr/bin/setpriv";
constexpr int LocalPathSize = 1024;

bool IsSeparator(char Ch) { return Ch == ' ' || Ch == '\t' || Ch == '\r' || Ch == '\n'; }

std::vector<std::string> SplitCommandLine(const char *Line) {
    std::vector<std::string> Result;
    if (Line == nullptr) return Result;
    const char *Cursor = Line;
    for (;;) {
        while (IsSeparator(*Cursor)) Cursor++;
        if (*Cursor == 0) break;
        std::string Argument;
        bool Full = false;
        if (*Cursor == '"') {
            // A quoted run at the start is the whole argument.
            Cursor++;
            while (*Cursor != 0 && !Full) {
                // A pair of quotes inside the run stands for one quote.
                if (*Cursor == '"' && Cursor[1] == '"') {
                    Argument += '"';
                    Cursor += 2;
                    Full = Argument.size() >= PLATFORM_ARGUMENT_SIZE - 1;
                    continue;
                }
                if (*Cursor == '"') break;
                Argument += *Cursor++;
                Full = Argument.size() >= PLATFORM_ARGUMENT_SIZE - 1;
            }
            if (*Cursor == '"') Cursor++;
        } else {
            bool Quoted = false;
            while (*Cursor != 0 && !Full) {
                if (!Quoted && IsSeparator(*Cursor)) break;
                if (Quoted && *Cursor == '"' && Cursor[1] == '"') {
                    Argument += '"';
                    Cursor += 2;
                    Full = Argument.size() >= PLATFORM_ARGUMENT_SIZE - 1;
                    continue;
                }
                if (*Cursor == '"') {
                    Quoted = !Quoted;
                    Cursor++;
                    continue;
                }
                if (!Quoted && *Cursor == '\\' && Cursor[1] != 0) {
                    Argument += *Cursor++;
                    if (Argument.size() >= PLATFORM_ARGUMENT_SIZE - 1) break;
                }
                Argument += *Cursor++;
                Full = Argument.size() >= PLATFORM_ARGUMENT_SIZE - 1;
            }
        }
        Result.push_back(std::move(Argument));
        if (Full) break;
    }
    return Result;
}

PlatformProcess *NewRecord(int32 ProcessId) {
    PlatformProcess *Object = Memory_New(PlatformProcess);
    Class_InitHeader(Object, PLATFORMPROCESS_CLASSID, nullptr);
    Object->ProcessId = ProcessId;
    return Object;
}

void LogFailure(const char *Operation, const char *Path, int32 Error) {
    Log_Print(LOG_ERROR, "%s failed to execute (%s) [LE: %d]\n", Operation, Path, Error);
}

// The descriptors handed to a child as its standard streams, closed here
// once it has started (it holds copies of its own).
struct StreamEnds {
    int Descriptors[3] = {-1, -1, -1};
    ~StreamEnds() {
        for (int Descriptor : Descriptors)
            if (Descriptor >= 0) close(Descriptor);
    }
};

// 0, or the errno of a pipe whose FIFO can no longer be reached.
int SetStreams(PlatformSpawn &Request, StreamEnds &Ends, PlatformPipe *Stdin, PlatformPipe *Stdout,
               PlatformPipe *Stderr) {
    PlatformPipe *Pipes[3] = {Stdin, Stdout, Stderr};
    for (int Stream = 0; Stream < 3; Stream++) {
        if (Pipes[Stream] == nullptr || !Platform_PipeIsOpen(Pipes[Stream])) continue;
        Ends.Descriptors[Stream] = Platform_PipeOpenEnd(Pipes[Stream], Stream == STDIN_FILENO ? 0 : 1);
        if (Ends.Descriptors[Stream] < 0) return errno;
        Request.Descriptors[Stream] = Ends.Descriptors[Stream];
    }
    return 0;
}

// The elevator may keep its password prompt up for minutes: the caller's
// thread does not wait for it. The tool's id comes on a later running test
// (0 until then); an elevation refused there ends the process as a failed
// launch, logged as one that fails here.
int32 ExecuteElevated(const char *Path, int32 Count, const char *const *Arguments, PlatformProcess **Process) {
    PrivilegedTask *Task = nullptr;
    PrivilegedTask_Create(&Task);
    PrivilegedTask_SetLaunchPath(Task, Path);
    PrivilegedTask_SetArguments(Task, Count, Arguments);
    if (!PrivilegedTask_LaunchAsync(Task)) {
        int32 Code = 0;
        PrivilegedTask_GetErrorCode(Task, &Code);
        LogFailure("Platform_ExecuteElevated", Path, Code);
        PrivilegedTask_Release(&Task);
        return FALSE;
    }
    *Process = NewRecord(0);
    (*Process)->Task = Task;
    (*Process)->Elevated = new std::string(Path);
    return TRUE;
}

// The running test of an elevated launch; one that ends without the tool's
// id failed, and says so once.
bool TaskRunning(PlatformProcess *Process) {
    const bool Running = PrivilegedTask_IsRunning(Process->Task) != 0;
    const int32 Id = PrivilegedTask_GetPID(Process->Task);
    if (Process->Elevated == nullptr || (Running && Id == 0)) return Running;
    if (Id == 0) {
        int32 Code = 0;
        PrivilegedTask_GetErrorCode(Process->Task, &Code);
        LogFailure("Platform_ExecuteElevated", Process->Elevated->c_str(), Code);
    }
    delete Process->Elevated;
    Process->Elevated = nullptr;
    return Running;
}

// Starts the request, running the held program when there is one.
int SpawnHolding(PlatformSpawn &Request, int Program, pid_t *Child) {
    Request.Program = Program;
    return Platform_SpawnProcess(Request, Child);
}

// Sets a request's streams and starts it; the caller's name and path go
// into the line that says it failed.
int32 Spawn(const char *Caller, const char *Path, PlatformSpawn &Request, int Program, PlatformPipe *Stdin,
            PlatformPipe *Stdout, PlatformPipe *Stderr, PlatformProcess **Process) {
    StreamEnds Ends;
    pid_t Child = -1;
    int Error = SetStreams(Request, Ends, Stdin, Stdout, Stderr);
    if (Error == 0) Error = SpawnHolding(Request, Program, &Child);
    if (Error != 0) {
        LogFailure(Caller, Path, PLATFORM_ERROR_ERRNO_BASE + Error);
        return FALSE;
    }
    *Process = NewRecord(Child);
    return TRUE;
}

int32 ExecuteNormal(int Program, const char *Path, int32 Count, const char *const *Arguments,
                    const char *WorkingDirectory, PlatformPipe *Stdin, PlatformPipe *Stdout, PlatformPipe *Stderr,
                    PlatformProcess **Process) {
    Debug_CheckPointer(Path);
    PlatformSpawn Request;
    Request.Path = Program >= 0 ? ProgramPath : Path;
    Request.Arguments.emplace_back(Path);
    for (int32 Index = 0; Index < Count; Index++) Request.Arguments.emplace_back(Arguments[Index]);
    if (WorkingDirectory != nullptr) Request.WorkingDirectory = WorkingDirectory;
    return Spawn("Platform_ExecuteNormal", Path, Request, Program, Stdin, Stdout, Stderr, Process);
}

// Starts the program as the console user, never as root.
int32 ExecuteDowngrade(int Program, const char *Path, int32 Count, const char *const *Arguments, PlatformPipe *Stdin,
                       PlatformPipe *Stdout, PlatformPipe *Stderr, PlatformProcess **Process) {
    if (Program < 0 && access(Path, X_OK) != 0) {
        Log_Print(LOG_DEBUG, "%s failed to locate (%s)\n", "Platform_ExecuteDowngrade", Path);
        return FALSE;
    }
    int32 User = -1, Group = -1;
    if (!Platform_GetConsoleUser(&User, &Group) || User == 0) {
        LogFailure("Platform_ExecuteDowngrade", Path, PLATFORM_ERROR_ERRNO_BASE + EPERM);
        return FALSE;
    }
    PlatformSpawn Request;
    Request.Path = SetPrivProgram;
    Request.Arguments = {"setpriv", "--reuid=" + std::to_string(User), "--regid=" + std::to_string(Group)};
    passwd Record{}, *Found = nullptr;
    char Storage[1024];
    const bool Known = getpwuid_r((uid_t)User, &Record, Storage, sizeof(Storage), &Found) == 0 && Found != nullptr;
    Request.Arguments.emplace_back(Known ? "--init-groups" : "--clear-groups");
    Request.Arguments.emplace_back("--");
    Request.Arguments.emplace_back(Program >= 0 ? ProgramPath : Path);
    for (int32 Index = 0; Index < Count; Index++) Request.Arguments.emplace_back(Arguments[Index]);
    return Spawn("Platform_ExecuteDowngrade", Path, Request, Program, Stdin, Stdout, Stderr, Process);
}

} // namespace

int32 CommandLineToMutableArray(const char *CommandLine, char ***Arguments, int32 *Count) {
    Debug_CheckPointer(Arguments);
    Debug_CheckPointer(Count);
    const std::vector<std::string> Split = SplitCommandLine(CommandLine);
    *Count = (int32)Split.size();
    *Arguments = static_cast<char **>(Memory_AllocZero((int32)((Split.size() + 1) * sizeof(char *))));
    for (size_t Index = 0; Index < Split.size(); Index++) {
        (*Arguments)[Index] = static_cast<char *>(Memory_Alloc((int32)Split[Index].size() + 1));
        memcpy((*Arguments)[Index], Split[Index].c_str(), Split[Index].size() + 1);
    }
    return TRUE;
}

int32 CommandLineArray_Delete(char ***Arguments, int32 Count) {
    Debug_CheckPointer(Arguments);
    if (*Arguments == nullptr) return TRUE;
    for (int32 Index = 0; Index < Count; Index++)
        Memory_Free((*Arguments)[Index], (int32)strlen((*Arguments)[Index]) + 1);
    Memory_Free(*Arguments, (int32)((Count + 1) * sizeof(char *)));
    *Arguments = nullptr;
    return TRUE;
}

int32 Platform_ExecuteNormal(const char *Path, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process) {
    Debug_CheckPointer(Process);
    *Process = nullptr;
    Platform_ReapPending();
    return ExecuteNormal(-1, Path, Count, Arguments, WorkingDirectory, Stdin, Stdout, Stderr, Process);
}

int32 Platform_ExecuteVector(const char *Application, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process) {
    return Platform_ExecuteOpened(-1, Application, Count, Arguments, WorkingDirectory, Flags, Stdin, Stdout, Stderr,
                                  Process);
}

int32 Platform_ExecuteOpened(int32 Program, const char *Application, int32 Count, const char *const *Arguments,
                             const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                             PlatformPipe *Stderr, PlatformProcess **Process) {
    Debug_CheckPointer(Application);
    Debug_CheckPointer(Process);
    *Process = nullptr;
    Platform_ReapPending();
    char Path[LocalPathSize];
    Path_Resolve(Application, Path, (int32)sizeof(Path));
    if (Flags & PLATFORM_EXECUTE_ASINVOKER)
        return ExecuteNormal(Program, Path, Count, Arguments, WorkingDirectory, Stdin, Stdout, Stderr, Process);
    if (WorkingDirectory != nullptr && *WorkingDirectory != 0)
        Log_Print(LOG_DEBUG, "Working path is not respected for this platform\n");
    const bool Root = geteuid() == 0;
    if ((Flags & PLATFORM_EXECUTE_ELEVATED) && !Root) {
        // The elevator starts the program by its name, as root, in a process
        // that cannot be handed our descriptor: a held program is refused
        // rather than run by a name that may no longer be what was checked.
        if (Program >= 0) {
            Log_Print(LOG_ERROR, "A checked program cannot be run elevated (%s)\n", Path);
            return FALSE;
        }
        return ExecuteElevated(Path, Count, Arguments, Process);
    }
    if (!(Flags & PLATFORM_EXECUTE_ELEVATED) && Root)
        return ExecuteDowngrade(Program, Path, Count, Arguments, Stdin, Stdout, Stderr, Process);
    return ExecuteNormal(Program, Path, Count, Arguments, WorkingDirectory, Stdin, Stdout, Stderr, Process);
}

int32 Platform_Execute(const char *Application, const char *Arguments, const char *WorkingDirectory, int32 Flags,
                       PlatformPipe *Stdin, PlatformPipe *Stdout, PlatformPipe *Stderr, PlatformProcess **Process) {
    return Platform_ExecuteLine(-1, Application, Arguments, WorkingDirectory, Flags, Stdin, Stdout, Stderr, Process);
}

int32 Platform_ExecuteLine(int32 Program, const char *Application, const char *Arguments,
                           const char *WorkingDirectory, int32 Flags, PlatformPipe *Stdin, PlatformPipe *Stdout,
                           PlatformPipe *Stderr, PlatformProcess **Process) {
    char **Split = nullptr;
    int32 Count = 0;
    CommandLineToMutableArray(Arguments, &Split, &Count);
    const int32 Result = Platform_ExecuteOpened(Program, Application, Count, Split, WorkingDirectory, Flags, Stdin,
                                                Stdout, Stderr, Process);
    CommandLineArray_Delete(&Split, Count);
    return Result;
}

int32 Platform_ShellOpen(const char *Target) {
    Debug_CheckPointer(Target);
    char Resolved[LocalPathSize];
    const char *Argument = Target;
    if (Target[0] == '~') {
        Path_Resolve(Target, Resolved, (int32)sizeof(Resolved));
        Argument = Resolved;
    }
    char Opener[LocalPathSize];
    Platform_GetOpener(Opener, (int32)sizeof(Opener));
    // The target is one argument, whatever quotes or blanks it holds.
    PlatformProcess *Process = nullptr;
    if (!Platform_ExecuteVector(Opener, 1, &Argument, nullptr, 0, nullptr, nullptr, nullptr, &Process)) return FALSE;
    Platform_ProcessDelete(&Process);
    return TRUE;
}

int32 Platform_ProcessGetId(PlatformProcess *Process) {
    PlatformProcess_Check(Process);
    return Process->Task != nullptr ? PrivilegedTask_GetPID(Process->Task) : Process->ProcessId;
}

namespace {

// The state letter of /proc/<id>/stat, 0 when it cannot be read.
char StateOf(int32 ProcessId) {
    const std::string Path = PlatformStandIn_Value("PROC_ROOT", "/proc") + "/" + std::to_string(ProcessId) + "/stat";
    std::string Text;
    if (!PlatformStandIn_ReadFile(Path, Text, 1023)) return 0;
    const size_t Close = Text.rfind(')');
    return Close != std::string::npos && Close + 2 < Text.size() && Text[Close + 1] == ' ' ? Text[Close + 2] : 0;
}

} // namespace

int32 Platform_ProcessIsRunning(PlatformProcess *Process) {
    PlatformProcess_Check(Process);
    if (Process->Task != nullptr) return TaskRunning(Process);
    if (Process->ProcessId == 0 || Process->Collected) return FALSE;
    const char State = StateOf(Process->ProcessId);
    return State != 0 && State != 'Z' && State != 'X' ? TRUE : FALSE;
}

int32 Platform_ProcessIsIdle(PlatformProcess *Process) {
    PlatformProcess_Check(Process);
    if (Process->Task != nullptr) return TaskRunning(Process);
    // Linux has no "being created" state: a process is never idle.
    return FALSE;
}

int32 Platform_ProcessGetExitCode(PlatformProcess *Process, int32 *Code) {
    PlatformProcess_Check(Process);
    Debug_CheckPointer(Code);
    *Code = 0;
    Platform_ReapPending();
    if (Process->Task != nullptr) {
        if (TaskRunning(Process)) return FALSE;
        return PrivilegedTask_GetExitCode(Process->Task, Code);
    }
    if (Process->ProcessId == 0) return TRUE;
    if (!Process->Collected) {
        int Status = 0;
        pid_t Result;
        while ((Result = waitpid(Process->ProcessId, &Status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (Result == 0) return FALSE;
        if (Result < 0) {
            // Not a child of ours: its status is gone with it.
            if (kill(Process->ProcessId, 0) == 0 || errno == EPERM) return FALSE;
            Process->Collected = 1;
            Process->Status = -1;
            *Code = -1;
            return TRUE;
        }
        Process->Collected = 1;
        Process->Status = Status;
    }
    if (Process->Status == -1) {
        *Code = -1;
        return TRUE;
    }
    if (WIFEXITED(Process->Status)) {
        *Code = WEXITSTATUS(Process->Status);
        return TRUE;
    }
    if (WIFSIGNALED(Process->Status)) {
        *Code = -WTERMSIG(Process->Status);
        return TRUE;
    }
    return FALSE;
}

int32 Platform_ProcessGetById(int32 ProcessId, PlatformProcess **Process) {
    (void)ProcessId;
    Debug_CheckPointer(Process);
    *Process = nullptr;
    return FALSE;
}

int32 Platform_ProcessTerminateById(int32 ProcessId) {
    if (ProcessId <= 0) return FALSE;
    return kill(ProcessId, SIGTERM) == 0 ? TRUE : FALSE;
}

int32 Platform_ProcessForceTerminateById(int32 ProcessId, int32 Ignored) {
    (void)Ignored;
    if (ProcessId <= 0) return FALSE;
    return kill(ProcessId, SIGKILL) == 0 ? TRUE : FALSE;
}

int32 Platform_ProcessDelete(PlatformProcess **Process) {
    Debug_CheckPointer(Process);
    PlatformProcess *Object = *Process;
    if (Object == nullptr) return TRUE;
    PlatformProcess_Check(Object);
    if (Object->Task != nullptr) PrivilegedTask_Release(&Object->Task);
    delete Object->Elevated;
    if (Object->ProcessId > 0 && !Object->Collected) Platform_ReapLater(Object->ProcessId);
    Memory_Delete(Object);
    *Process = nullptr;
    return TRUE;
}
