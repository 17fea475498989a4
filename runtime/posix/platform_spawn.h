// Starting child processes: the one way this program starts another. Every
// child comes from posix_spawn (nothing runs in a forked copy of a threaded
// process), with default signal dispositions, an empty signal mask and no
// descriptor of ours except the standard streams it is given.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct PlatformSpawn {
    std::string Path;                    // the program; no search path
    std::vector<std::string> Arguments;  // the whole vector, argv[0] included
    std::string WorkingDirectory;        // empty: the caller's
    // Per standard stream: a descriptor of ours to put there (-1: the
    // caller's standard input and error are inherited, and standard output
    // is the null device, since ours ends with the run's summary). Nothing is
    // opened by name in the child: a blocking open there would hold the
    // caller, whose start waits for the child's exec.
    int Descriptors[3] = {-1, -1, -1};
    // An open program handed to the child as its descriptor 3, which a Path
    // (or a setpriv argument) of ProgramPath runs: the very file that was
    // checked runs, whatever is at its name by then. It stays open in the
    // child, since a script's interpreter reads the script there.
    int Program = -1;
};

// How a child names the program it was handed (PlatformSpawn::Program).
constexpr const char *ProgramPath = "/proc/self/fd/3";

// 0 and the child's id, or the errno of the failed start (nothing started).
int Platform_SpawnProcess(const PlatformSpawn &Request, pid_t *ProcessId);

// Children this process no longer watches but must still collect, so none is
// left a zombie: each is reaped without waiting by Platform_ReapPending (run
// from every later launch and exit-code query).
void Platform_ReapLater(pid_t ProcessId);
void Platform_ReapPending();
