// The program's entry. It records the command line, starts the runtime
// (whose log opens with the header) and the hubs of the core, and logs what it
// was given. With --workflow it starts the workflow application and manager
// and runs the workflow job (host_job.h); without it, it runs one main-loop
// step. It ends with the exit sequence and the runtime's exit code.
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "core/analytics.h"
#include "core/async_file.h"
#include "core/command_line.h"
#include "core/crypto/authenticate.h"
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
#include "core/web_get.h"
#include "host/host_job.h"
#include "host/host_worker.h"
#include "host/host_signal.h"
#include "workflow/workflow_app.h"
#include "workflow/workflow_app_config.h"
#include "workflow/workflow_app_life.h"
#include "workflow/workflow_app_web.h"
#include "workflow/workflow_manager.h"
#ifdef RUNTIME_WITH_GTK
#include "core/posix/gtk/native_ui_gtk.h"
#endif

namespace {

constexpr char HostVersion[] = "0.1.0";
constexpr char HostLogName[] = "host.developer.log";
constexpr int32 FieldSize = 4096;

constexpr char Usage[] =
    "Usage: velmarsh --workflow=<path|http://url> [--task=<name>[,<name>...]]\n"
    "                [--config=<file.json>] [--disablesecurity] [--wfselfupdate]\n"
    "                [--switch[=value]] ...\n"
    "       velmarsh [--switch[=value]] ...\n"
    "\n"
    "Starts the runtime (log, platform layer, threads and event queues, the\n"
    "notification center and the script bridge with the core script classes),\n"
    "writes the log header and logs the command line and each switch it was given.\n"
    "\n"
    "With --workflow it runs that workflow document (a path, relative to the\n"
    "current directory, or an http:// URL) from \"load\" to \"unload\", queues the\n"
    "first --task the workflow offers once its \"state\" (or \"start\") has run, and\n"
    "prints one JSON line {\"successful\", \"exitCode\", \"progress\", \"errors\",\n"
    "\"warnings\"} last on standard output. Exit code: the one the workflow recorded,\n"
    "else 0 on success, 1 on failure, 2 for a usage error, 130 when interrupted.\n"
    "Unsigned local documents need --disablesecurity; https is not available.\n"
    "--config reads a JSON configuration (its \"analytics\" keys); --wfselfupdate\n"
    "runs \"apply\" after \"load\". SIGINT or SIGTERM unloads the workflow; a second\n"
    "one ends at once. Without --workflow it runs one main-loop step and exits.\n"
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

// Checks the workflow switches before anything starts: a bad one is one line
// on standard error and exit code 2.
bool CheckWorkflowSwitches(std::string &Url, std::string &Tasks, std::string &Config) {
    static char Value[FieldSize], Reason[FieldSize], Resolved[FieldSize];
    auto Refuse = [](const char *Text) {
        fprintf(stderr, "velmarsh: %s\n", Text);
        return false;
    };
    if (HostWorker_IsRequested()) {
        if (!CommandLine_GetFieldByName(nullptr, "wfendpoint", Value, FieldSize) || Value[0] == 0)
            return Refuse("--wfworker needs --wfendpoint=<the parent's end-point URL>");
        return true;
    }
    if (!CommandLine_GetFieldByName(nullptr, "workflow", Value, FieldSize) || Value[0] == 0)
        return Refuse("--workflow needs a value: a path or an http:// URL");
    if (!HostJob_ResolveWorkflow(Value, Resolved, FieldSize, Reason, FieldSize)) return Refuse(Reason);
    Url = Resolved;
    if (CommandLine_IsFieldSet(nullptr, "task")) {
        if (!CommandLine_GetFieldByName(nullptr, "task", Value, FieldSize) || Value[0] == 0)
            return Refuse("--task needs one or more task names, separated by commas");
        for (const char *Walk = Value; *Walk != 0; Walk++) {
            char Each = *Walk;
            bool Allowed = (Each >= 'a' && Each <= 'z') || (Each >= 'A' && Each <= 'Z') || (Each >= '0' && Each <= '9') ||
                           Each == '_' || Each == '-' || Each == '.' || Each == ',';
            if (!Allowed) return Refuse("--task names may hold letters, digits, '_', '-' and '.' only");
        }
        Tasks = Value;
    }
    if (CommandLine_IsFieldSet(nullptr, "config")) {
        if (!CommandLine_GetFieldByName(nullptr, "config", Value, FieldSize) || Value[0] == 0)
            return Refuse("--config needs the path of a JSON file");
        if (access(Value, R_OK) != 0) return Refuse(("no such configuration file: " + std::string(Value)).c_str());
        Config = Value;
    }
    for (const char *Flag : {"disablesecurity", "wfselfupdate"}) {
        if (CommandLine_IsFieldSet(nullptr, Flag) && CommandLine_GetFieldByName(nullptr, Flag, Value, FieldSize))
            return Refuse(("--" + std::string(Flag) + " takes no value (got \"" + Value + "\")").c_str());
    }
    return true;
}

// The configuration file through the application; its analytics keys reach
// the analytics queue.
void LoadConfiguration(const std::string &Path) {
    if (!WorkflowApp_LoadConfigFromFile(Path.c_str())) Log_Error("Cannot read configuration file (%s)\n", Path.c_str());
    Dictionary *Configuration = nullptr;
    if (WorkflowApp_GetConfigHandle(&Configuration) && Configuration != nullptr)
        Analytics_LoadConfigFromDictionary(Configuration);
}

} // namespace

int main(int argc, char **argv) {
    Arguments_Init(argc, argv);
    if (CommandLine_IsFieldSet(nullptr, "help")) {
        fputs(Usage, stdout);
        Arguments_Remove();
        return 0;
    }

    const bool WorkerRole = HostWorker_IsRequested() != 0;
    bool RunsWorkflow = CommandLine_IsFieldSet(nullptr, "workflow") || WorkerRole;
    std::string Url, Tasks, Config;
    if (RunsWorkflow && !CheckWorkflowSwitches(Url, Tasks, Config)) {
        Arguments_Remove();
        return HOSTJOB_EXIT_USAGE;
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
    if (RunsWorkflow) {
        Authenticate_Init();
        WorkflowApp_Init();
        WorkflowApp_WebStart();
        WebGet_WhitelistAdd("127.0.0.1");
        // A Linux build carries no code-signing certificate: unsigned local
        // documents run only with security switched off.
        Authenticate_SetEnabled(CommandLine_IsFieldSet(nullptr, "disablesecurity") ? 0 : 1);
        if (!Config.empty()) LoadConfiguration(Config);
        WorkflowManager_Init();
        HostJob_InstallSignals();
        int32 Code = WorkerRole ? HostWorker_Run() : HostJob_Run(Url.c_str(), Tasks.empty() ? nullptr : Tasks.c_str());
        HostJob_RemoveSignals();
        // The exit sequence: logs expire unless a restart was asked for; the
        // manager goes, then the application; an implode path recorded by a
        // workflow is deleted last. Restarting is not offered by this host.
        uint32 Restart = 0, RestartElevated = 0;
        WorkflowApp_GetRestart(&Restart);
        WorkflowApp_GetRestartElevated(&RestartElevated);
        if (!Restart && !RestartElevated) WorkflowApp_ExpireLogs();
        else Log_Info("A restart was asked for; this host does not restart\n");
        WorkflowManager_Remove();
        char Implode[WORKFLOWAPP_PATH_SIZE] = "";
        WorkflowApp_GetImplodePath(Implode, (int32)sizeof(Implode));
        WorkflowApp_Remove();
        if (Implode[0] != 0 && unlink(Implode) != 0) Log_Error("Cannot delete %s\n", Implode);
        Authenticate_Remove();
        while (!Host_MainLoopStep(0)) {
        }
        Debug_SetExitCode(Code);
    } else {
        // One process step of the hubs, then flush what start-up posted to
        // the main queue before shutting down.
        Host_SetProcessStepRunning(1);
        IOWorker_Process();
        NotificationCenter_Process();
        Interop_Process();
        Meter_Process();
        Host_SetProcessStepRunning(0);
        while (!Host_MainLoopStep(0)) {
        }
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
    if (RunsWorkflow && !WorkerRole) HostJob_PrintSummary();
    return ExitCode;
}
