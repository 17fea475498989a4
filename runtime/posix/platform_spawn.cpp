// Starting child processes: see platform_spawn.h.
#include "runtime/posix/platform_spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

extern char **environ;

namespace {

std::mutex ReapLock;
std::vector<pid_t> Unwatched;

// Closes what it holds when the start is done, on every path.
struct SpawnState {
    posix_spawn_file_actions_t Actions;
    posix_spawnattr_t Attributes;
    int Directory = -1;
    int Program = -1;
    SpawnState() {
        posix_spawn_file_actions_init(&Actions);
        posix_spawnattr_init(&Attributes);
    }
    ~SpawnState() {
        posix_spawn_file_actions_destroy(&Actions);
        posix_spawnattr_destroy(&Attributes);
        if (Directory >= 0) close(Directory);
        if (Program >= 0) close(Program);
    }
};

} // namespace

int Platform_SpawnProcess(const PlatformSpawn &Request, pid_t *ProcessId) {
    *ProcessId = -1;
    if (Request.Path.empty() || Request.Arguments.empty()) return ENOENT;
    SpawnState State;
    int Error = 0;
    // A directory that cannot be entered is ignored, as the child would have
    // stayed where it was.
    if (!Request.WorkingDirectory.empty()) {
        State.Directory = open(Request.WorkingDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (State.Directory >= 0) Error = posix_spawn_file_actions_addfchdir_np(&State.Actions, State.Directory);
    }
    for (int Stream = 0; Stream < 3 && Error == 0; Stream++) {
        if (Request.Descriptors[Stream] >= 0)
            Error = posix_spawn_file_actions_adddup2(&State.Actions, Request.Descriptors[Stream], Stream);
        else if (Stream == STDOUT_FILENO)
            // Our standard output ends with the run's summary: a child given
            // no output of its own must not write after it (or forge one).
            Error = posix_spawn_file_actions_addopen(&State.Actions, Stream, "/dev/null", O_WRONLY, 0);
    }
    // The program to run goes to descriptor 3 from a copy above it, so that
    // the move always clears close-on-exec.
    int Kept = 3;
    if (Error == 0 && Request.Program >= 0) {
        State.Program = fcntl(Request.Program, F_DUPFD_CLOEXEC, 4);
        Error = State.Program < 0 ? errno : posix_spawn_file_actions_adddup2(&State.Actions, State.Program, 3);
        Kept = 4;
    }
    // Every descriptor opened without close-on-exec (by a library, say) still
    // stays out of the child.
    if (Error == 0) Error = posix_spawn_file_actions_addclosefrom_np(&State.Actions, Kept);
    sigset_t All, None;
    sigfillset(&All);
    sigemptyset(&None);
    if (Error == 0) Error = posix_spawnattr_setsigdefault(&State.Attributes, &All);
    if (Error == 0) Error = posix_spawnattr_setsigmask(&State.Attributes, &None);
    if (Error == 0) Error = posix_spawnattr_setflags(&State.Attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (Error != 0) return Error;

    std::vector<char *> Vector;
    for (const std::string &Argument : Request.Arguments) Vector.push_back(const_cast<char *>(Argument.c_str()));
    Vector.push_back(nullptr);
    pid_t Child = -1;
    Error = posix_spawn(&Child, Request.Path.c_str(), &State.Actions, &State.Attributes, Vector.data(), environ);
    if (Error != 0) return Error;
    *ProcessId = Child;
    return 0;
}

void Platform_ReapLater(pid_t ProcessId) {
    if (ProcessId <= 0) return;
    std::lock_guard<std::mutex> Guard(ReapLock);
    Unwatched.push_back(ProcessId);
}

void Platform_ReapPending() {
    std::lock_guard<std::mutex> Guard(ReapLock);
    std::erase_if(Unwatched, [](pid_t Child) {
        int Status = 0;
        pid_t Result = waitpid(Child, &Status, WNOHANG);
        return Result == Child || (Result < 0 && errno == ECHILD);
    });
}
