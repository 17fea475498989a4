// Start and stop of the platform layer, environment variables, facts about
// the running process, and the console hooks.
//
// GlobalPlatform and GlobalPlatformOSX are made once by Platform_Init on the
// main thread and freed by Platform_Remove; the services that keep state in
// them (single instance, sleep prevention, certificate trust) run between.
// The console-control hook is read in signal context, so it is a plain
// pointer exchanged atomically.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_stand_in.h"

GlobalPlatformStruct *GlobalPlatform = nullptr;
GlobalPlatformOSXStruct *GlobalPlatformOSX = nullptr;

namespace {

Platform_RemoveFunc RemoveStep = nullptr;

constexpr rlim_t WantedOpenFiles = 10000;
constexpr int ConsoleSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGABRT, SIGBUS, SIGPIPE, SIGTSTP};

Platform_ConsoleControlFunc GlobalConsoleControlOverride = nullptr;

void RaiseOpenFileLimit() {
    rlimit Limit{};
    if (getrlimit(RLIMIT_NOFILE, &Limit) != 0 || Limit.rlim_cur >= WantedOpenFiles) return;
    rlim_t Wanted = WantedOpenFiles;
    // Only a privileged process may raise the hard limit; others go as far as it allows.
    if (Limit.rlim_max != RLIM_INFINITY && Limit.rlim_max < Wanted && geteuid() != 0) Wanted = Limit.rlim_max;
    if (Limit.rlim_max != RLIM_INFINITY && Limit.rlim_max < Wanted) Limit.rlim_max = Wanted;
    Limit.rlim_cur = Wanted;
    setrlimit(RLIMIT_NOFILE, &Limit);
}

bool IsRootUser() { return getuid() == 0 || geteuid() == 0; }

void ConsoleControlHandler(int Signal) {
    int SavedErrno = errno;
    Platform_ConsoleControlFunc Function = __atomic_load_n(&GlobalConsoleControlOverride, __ATOMIC_SEQ_CST);
    if (Function != nullptr) Function(Signal);
    // Returning from a bus error re-runs the faulting access forever; with the
    // default action restored it ends the process instead.
    if (Signal == SIGBUS) signal(SIGBUS, SIG_DFL);
    errno = SavedErrno;
}

// Reads a small text file (under /proc) into Buffer; false when unreadable.
bool ReadSmallFile(const char *Path, char *Buffer, size_t Size) {
    FILE *File = fopen(Path, "re");
    if (File == nullptr) return false;
    size_t Count = fread(Buffer, 1, Size - 1, File);
    fclose(File);
    Buffer[Count] = 0;
    return true;
}

} // namespace

extern "C" int32 Platform_CommonInit(void) {
    RaiseOpenFileLimit();
    if (GlobalPlatform == nullptr) GlobalPlatform = Memory_New(GlobalPlatformStruct);

    char Name[120], Version[120];
    int32 Bitness = 0;
    Platform_GetName(Name, sizeof(Name));
    Platform_GetVersion(Version, sizeof(Version));
    Platform_GetSystemBitness(&Bitness);
    Log_Info("System: %s %s %dbit\n", Name, Version, Bitness);
    Log_Info("Elevated: %s\n", IsRootUser() ? "true" : "false");
    return 1;
}

extern "C" int32 Platform_Init(void) {
    int32 Result = Platform_CommonInit();
    if (GlobalPlatformOSX == nullptr) {
        GlobalPlatformOSX = Memory_New(GlobalPlatformOSXStruct);
        if (GlobalPlatformOSX != nullptr) CriticalSection_Create(&GlobalPlatformOSX->TrustLock);
    }
    return Result;
}

extern "C" int32 Platform_CommonRemove(void) {
    if (GlobalPlatform != nullptr) Memory_Delete(GlobalPlatform);
    return 1;
}

extern "C" int32 Platform_SetRemoveStep(Platform_RemoveFunc Function) {
    __atomic_store_n(&RemoveStep, Function, __ATOMIC_RELEASE);
    return 1;
}

extern "C" int32 Platform_Remove(void) {
    if (Platform_RemoveFunc Step = __atomic_load_n(&RemoveStep, __ATOMIC_ACQUIRE)) Step();
    if (GlobalPlatformOSX != nullptr) {
        if (GlobalPlatformOSX->TrustLock != nullptr) CriticalSection_Delete(&GlobalPlatformOSX->TrustLock);
        Memory_Delete(GlobalPlatformOSX);
    }
    return Platform_CommonRemove();
}

extern "C" int32 Platform_SetEnvironmentVariable(const char *Name, const char *Value) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    return setenv(Name, Value, 1) == 0;
}

extern "C" int32 Platform_GetEnvironmentVariable(const char *Name, char *Buffer, int32 Length) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Buffer);
    const char *Value = getenv(Name);
    if (Value == nullptr) return 0;
    if (Length > 0) {
        size_t Count = std::min(strlen(Value), (size_t)Length - 1);
        memcpy(Buffer, Value, Count);
        Buffer[Count] = 0;
    }
    return 1;
}

extern "C" int32 Platform_IsElevated(int32 *Elevated) {
    Debug_CheckPointer(Elevated);
    // The stand-in lets a test's unprivileged child count as elevated.
    std::string StandIn = PlatformStandIn_Value("ELEVATED", "");
    *Elevated = StandIn.empty() ? IsRootUser() : StandIn == "1";
    return 1;
}

extern "C" int32 Platform_IsDebuggerPresent(void) {
    char Status[4096];
    if (!ReadSmallFile("/proc/self/status", Status, sizeof(Status))) return 0;
    const char *Field = strstr(Status, "\nTracerPid:");
    return Field != nullptr && atoi(Field + strlen("\nTracerPid:")) != 0;
}

extern "C" int32 Platform_GetParentProcessId(int32 ProcessId) {
    if (ProcessId <= 0) return 0;
    char Stat[1024];
    const std::string Path = PlatformStandIn_Value("PROC_ROOT", "/proc") + "/" + std::to_string(ProcessId) + "/stat";
    if (!ReadSmallFile(Path.c_str(), Stat, sizeof(Stat))) return 0;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses,
    // so the fields after it start behind its last ")".
    const char *Close = strrchr(Stat, ')');
    int Parent = 0;
    char State = 0;
    if (Close == nullptr || sscanf(Close + 1, " %c %d", &State, &Parent) != 2) return 0;
    return Parent;
}

extern "C" uint64 Platform_GetProcessStartTime(int32 ProcessId) {
    if (ProcessId <= 0) return 0;
    char Stat[1024];
    const std::string Path = PlatformStandIn_Value("PROC_ROOT", "/proc") + "/" + std::to_string(ProcessId) + "/stat";
    if (!ReadSmallFile(Path.c_str(), Stat, sizeof(Stat))) return 0;
    const char *Close = strrchr(Stat, ')');
    char State = 0;
    if (Close == nullptr || sscanf(Close + 1, " %c", &State) != 1 || State == 'Z' || State == 'X') return 0;
    // The start time is the 22nd field; the state is the 3rd.
    const char *Walk = Close + 1;
    for (int Field = 3; Field <= 21 && Walk != nullptr; Field++) Walk = strchr(Walk + 1, ' ');
    unsigned long long Start = 0;
    if (Walk == nullptr || sscanf(Walk, " %llu", &Start) != 1) return 0;
    return (uint64)Start;
}

extern "C" int32 Platform_AllocConsole(void) { return 1; }
extern "C" int32 Platform_FreeConsole(void) { return 1; }

extern "C" int32 Platform_SetConsoleTitle(const char *Title) {
    Debug_CheckPointer(Title);
    return 1;
}

extern "C" int32 Platform_SetupConsoleControl(void) {
    struct sigaction Action{};
    Action.sa_handler = ConsoleControlHandler;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = 0;
    int32 Result = 1;
    for (int Signal : ConsoleSignals)
        if (sigaction(Signal, &Action, nullptr) != 0) Result = 0;
    return Result;
}

extern "C" int32 Platform_SetConsoleControlOverride(Platform_ConsoleControlFunc Function) {
    __atomic_store_n(&GlobalConsoleControlOverride, Function, __ATOMIC_SEQ_CST);
    return 1;
}

extern "C" void *Platform_GetStdHandle(int32 Number) {
    switch (Number) {
    case 0: return stdin;
    case 1: return stdout;
    case 2: return stderr;
    default: return nullptr;
    }
}

extern "C" int32 Platform_WriteStd(void *Stream, const void *Buffer, int32 Length, int32 *Written) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    auto *File = static_cast<FILE *>(Stream);
    size_t Count = Length > 0 ? fwrite(Buffer, 1, (size_t)Length, File) : 0;
    // Lines must be out before a fatal stop ends the process with a trap.
    fflush(File);
    if (Written != nullptr) *Written = (int32)Count;
    return Length >= 0 && Count == (size_t)Length;
}
