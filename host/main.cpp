// The program's entry. Today it records the command line, starts the runtime
// (whose log opens with the header), logs what it was given and ends with the
// runtime's exit code. The roles, the host object and the main loop that run
// workflows and skins come later and start from here.
#include <stdio.h>

#include "core/command_line.h"
#include "core/debug.h"
#include "core/event_queue.h"
#include "core/log.h"
#include "core/thread.h"
#include "host/host_signal.h"

namespace {

constexpr char HostVersion[] = "0.1.0";
constexpr char HostLogName[] = "host.developer.log";
constexpr int32 FieldSize = 4096;

constexpr char Usage[] =
    "Usage: velmarsh [--switch[=value]] ...\n"
    "\n"
    "Starts the runtime, writes the log header, logs the command line and each\n"
    "switch it was given, and exits. Loading skins and running workflows are not\n"
    "built yet.\n"
    "\n"
    "Runtime switches (names without case):\n"
    "  --append          append to the log file instead of truncating it\n"
    "  --cmdline         command-line mode: fatal stops show no dialog\n"
    "  --commit          force every log write to disk\n"
    "  --debug[=LEVEL]   write the log file (LEVEL: ERROR, WARNING, INFO, DEBUG)\n"
    "  --debugfile       write the log file into the desktop folder\n"
    "  --debugfileid=ID  put ID into the log file name\n"
    "  --debugdir=DIR    write the log file into DIR (with --debug)\n"
    "  --externalprint   log even without console or file (print callbacks)\n"
    "  --memoryreport    log every allocation and free\n"
    "  --memorytest      check every tracked block at each allocation and free\n"
    "  --memorytracking  track every block and report leaks at exit\n"
    "  --perday          one log file per day (appends)\n"
    "  --perprocess      one log file per process (appends)\n"
    "  --perthread       one log file per thread (appends)\n"
    "  --verbose=LIST    verbose classes: [!][level]pattern, comma-separated\n"
    "  --window          write log lines to standard output\n"
    "  --help            show this text and exit\n"
    "\n"
    "The log file is host.developer.log in the program's log directory\n"
    "($XDG_STATE_HOME/velmarsh/, by default ~/.local/state/velmarsh/).\n";

// Logs the line, then every field after the program's name: switches with
// their values, other fields as arguments.
void LogCommandLine() {
    const char *Line = nullptr;
    CommandLine_Get(&Line);
    Log_Info("Command line: %s\n", Line != nullptr ? Line : "");
    int32 Count = 0;
    CommandLine_GetFieldCount(nullptr, &Count);
    static char Field[FieldSize], Name[FieldSize], Value[FieldSize];
    for (int32 Index = 1; Index < Count; Index++) {
        if (!CommandLine_GetField(nullptr, Index, Field, FieldSize)) continue;
        if (!CommandLine_GetFieldName(Field, Name, FieldSize)) {
            Log_Info("Argument %d: %s\n", Index, Field);
        } else if (CommandLine_GetFieldValue(Field, Value, FieldSize)) {
            Log_Info("Switch %s = %s\n", Name, Value);
        } else {
            Log_Info("Switch %s\n", Name);
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    Arguments_Init(argc, argv);
    if (CommandLine_IsFieldSet(nullptr, "help")) {
        fputs(Usage, stdout);
        Arguments_Remove();
        return 0;
    }

    uint32 Flags = 0;
    Debug_BuildInitFlags(&Flags, nullptr);
    Debug_Init(HostLogName, HostVersion, Flags);
    Thread_Init();
    EventQueue_Init();
    Host_MainThreadSignalInit();
    Thread_SetUnhandledSignal(Host_PlatformMainThreadSignal);

    LogCommandLine();
    // Nothing runs a loop yet: flush what start-up posted to the main queue
    // before shutting down.
    while (!Host_MainLoopStep(0)) {
    }

    Thread_SetUnhandledSignal(nullptr);
    Host_MainThreadSignalRemove();
    EventQueue_Remove();
    Thread_Remove();
    int32 ExitCode = Debug_Remove();
    Arguments_Remove();
    return ExitCode;
}
