// The program's entry. Today it records the command line, starts the runtime
// (whose log opens with the header) and the hubs of the core, logs what it was
// given, runs one main-loop step and ends with the runtime's exit code. The
// roles, the host object and the main loop that run workflows and skins come
// later and start from here.
#include <stdio.h>

#include "core/async_file.h"
#include "core/command_line.h"
#include "core/core_script.h"
#include "core/debug.h"
#include "core/event_queue.h"
#include "core/interop.h"
#include "core/io_worker.h"
#include "core/log.h"
#include "core/meter.h"
#include "core/native_ui.h"
#include "core/notification_center.h"
#include "core/path.h"
#include "core/posix/platform.h"
#include "core/registry.h"
#include "core/thread.h"
#include "host/host_signal.h"
#ifdef RUNTIME_WITH_GTK
#include "core/posix/gtk/native_ui_gtk.h"
#endif

namespace {

constexpr char HostVersion[] = "0.1.0";
constexpr char HostLogName[] = "host.developer.log";
constexpr int32 FieldSize = 4096;

constexpr char Usage[] =
    "Usage: velmarsh [--switch[=value]] ...\n"
    "\n"
    "Starts the runtime (log, platform layer, threads and event queues, meters,\n"
    "the notification center, the script bridge with the core script classes,\n"
    "the I/O worker and asynchronous files),\n"
    "writes the log header, logs the command line and each switch it was given,\n"
    "runs one step of its main loop and exits. Loading skins and running\n"
    "workflows are not built yet.\n"
    "\n"
    "Runtime switches (names without case):\n"
    "  --append          append to the log file instead of truncating it\n"
    "  --cmdline         command-line mode: fatal stops show no dialog\n"
    "  --commit          force every log write to disk\n"
    "  --debug[=LEVEL]   write the log file; LEVEL (ERROR, WARNING, INFO or DEBUG)\n"
    "                    is the log level its header names\n"
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
    Platform_Init();
    Thread_Init();
    Meter_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Registry_Init();
    Interop_Init();
    Path_Init();
    // Real windows where a display opens, else the headless model; the
    // fatal-stop hook shows its box from here on.
#ifdef RUNTIME_WITH_GTK
    NativeUIGtk_Register();
#endif
    NativeUI_Init();
    Host_MainThreadSignalInit();
    Thread_SetUnhandledSignal(Host_PlatformMainThreadSignal);
    IOWorker_Init();
    AsyncFile_Init();
    // The core script classes answer to this program's own module name.
    char ModuleName[MAX_PATH_SIZE] = "";
    Platform_GetModuleFilename(nullptr, ModuleName, sizeof(ModuleName));
    Interop_Add(ModuleName, CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                CoreInterop_SetOption);

    LogCommandLine();
    // Nothing runs a loop yet: one process step of the hubs, then flush what
    // start-up posted to the main queue before shutting down.
    Host_SetProcessStepRunning(1);
    IOWorker_Process();
    NotificationCenter_Process();
    Interop_Process();
    Meter_Process();
    Host_SetProcessStepRunning(0);
    while (!Host_MainLoopStep(0)) {
    }

    // File requests and posted jobs finish before anything they report to goes.
    AsyncFile_Remove();
    IOWorker_Remove();
    // The hubs go before the event queues: removing the notification center
    // takes its queued event off the main queue.
    Thread_SetUnhandledSignal(nullptr);
    Host_MainThreadSignalRemove();
    // A directory-size thread still counting is stopped before the bridge
    // and the center it answers through go.
    Path_Remove();
    NativeUI_Remove();
    Interop_Remove();
    Registry_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Meter_Remove();
    Thread_Remove();
    Platform_Remove();
    int32 ExitCode = Debug_Remove();
    Arguments_Remove();
    return ExitCode;
}
