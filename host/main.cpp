// The program's entry. It records the command line, starts the runtime
// (whose log opens with the header) and the hubs of the core, and logs what it
// was given. With --workflow it starts the workflow application and manager
// and runs the workflow job (host_job.h); without it, it runs one main-loop
// step. It ends with the exit sequence and the runtime's exit code.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <string>

#include "content/content_register.h"
#include "crypto/digests/hash.h"
#include "crypto/digests/sha256.h"
#include "crypto/crypto_register.h"
#include "crypto/trust/authenticate.h"
#include "host/host_job.h"
#include "host/host_script.h"
#include "host/host_signal.h"
#include "host/host_worker.h"
#include "net/analytics.h"
#include "net/async_http.h"
#include "net/net_register.h"
#include "net/web_get.h"
#include "platform/async_file.h"
#include "platform/io_worker.h"
#include "platform/ui/native_ui.h"
#include "platform/path_size.h"
#include "platform/platform_register.h"
#include "platform/registry.h"
#include "runtime/command_line.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/event_queue.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/streams/meter.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_config.h"
#include "workflow/app/workflow_app_interop.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_web.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_run.h"
#ifdef RUNTIME_WITH_GTK
#include "platform/posix/native_ui_gtk_module.h"
#endif

namespace {

constexpr char HostVersion[] = VELMARSH_VERSION;
constexpr char HostLogName[] = "host.developer.log";
constexpr int32 FieldSize = 4096;
constexpr size_t ConfigLimit = 16u << 20;

#define HOST_SYNOPSIS                                                                       \
    "Usage: velmarsh --workflow=<path|file:///path|http://url>\n"                          \
    "                [--task=<name>[,<name>...]]\n"                                          \
    "                [--config=<file.json>] [--script=<page.js>] [--disablesecurity]\n"     \
    "                [--wfselfupdate]\n"                                                     \
    "                [--switch[=value]] ...\n"                                               \
    "       velmarsh [--switch[=value]] ...\n"

// What a command line without any argument gets, on standard error.
constexpr char Synopsis[] = HOST_SYNOPSIS "Run velmarsh --help for the switches.\n";

constexpr char Usage[] =
    HOST_SYNOPSIS
    "\n"
    "Starts the runtime (log, platform layer, threads and event queues, the\n"
    "notification center and the script bridge with the core script classes),\n"
    "writes the log header and logs the command line and each switch it was given.\n"
    "\n"
    "With --workflow it runs that workflow document (a path, relative to the\n"
    "current directory, a file:/// URL or an http:// URL) from \"load\" to\n"
    "\"unload\", queues the first --task the workflow offers once its \"state\" (or\n"
    "\"start\") has run, and prints one JSON line {\"successful\", \"exitCode\",\n"
    "\"progress\", \"errors\", \"warnings\"} last on standard output. Exit code: the\n"
    "one the workflow recorded (its low 8 bits; never 0 for a failed run), else\n"
    "0 on success, 1 on failure, 2 for a usage error, 130 when interrupted.\n"
    "A command line longer than 4,095 bytes, a configuration that is not a JSON\n"
    "object, no argument at all and a workflow switch (--task, --config, --script,\n"
    "--disablesecurity, --wfselfupdate) without --workflow and a switch that\n"
    "takes a value given twice are usage errors; an unknown switch gets a\n"
    "warning on standard error.\n"
    "On a terminal, standard error shows the progress and the task running now.\n"
    "Unsigned documents need --disablesecurity; a document refused for its\n"
    "signature says why and is not fetched again; https is not available.\n"
    "--config reads the application configuration (JSON); --script runs a\n"
    "JavaScript page that reaches the script classes (TQX.create, TQX.call,\n"
    "onBatch) and may implement task types; --wfselfupdate\n"
    "runs \"apply\" after \"load\". SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGUSR1\n"
    "cancels what runs, ends every request and unloads the workflow (about a\n"
    "second); a second one ends the program at once. A closed standard output\n"
    "does not change the exit code. Without --workflow it runs one main-loop\n"
    "step and exits.\n"
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

// The switches that mean something only with --workflow.
constexpr const char *WorkflowOnlySwitches[] = {"task", "config", "script", "disablesecurity", "wfselfupdate"};

// A command line that would run nothing the user asked for: no argument at
// all, or a workflow switch without a workflow. One line (or the synopsis) on
// standard error.
bool RefuseIdleLine() {
    int32 Count = 0;
    CommandLine_GetFieldCount(nullptr, &Count);
    if (Count <= 1) {
        fputs(Synopsis, stderr);
        return true;
    }
    if (CommandLine_IsFieldSet(nullptr, "workflow") || HostWorker_IsRequested()) return false;
    for (const char *Each : WorkflowOnlySwitches)
        if (CommandLine_IsFieldSet(nullptr, Each)) {
            fprintf(stderr, "velmarsh: --%s needs --workflow=<path|file:///path|http://url> (see --help)\n", Each);
            return true;
        }
    return false;
}

// The switches some module reads: the help text's, the workflow job's and
// those of the workflow worker and the log expiry.
constexpr const char *KnownSwitches[] = {
    "append",     "cmdline",    "commit",       "debug",          "debugfile",  "debugfileid",
    "debugdir",   "externalprint", "memoryreport", "memorytest",  "memorytracking", "perday",
    "perprocess", "perthread",  "verbose",      "window",         "help",       "workflow",
    "task",       "config",     "disablesecurity", "wfselfupdate", "wfworker",  "wfendpoint",
    "maxdays",    "script",     "wfparent",     "configdigest",
};

// The switches that take one value: each module reads the first it finds,
// so a second would be dropped without a word.
constexpr const char *SingleValueSwitches[] = {"workflow", "task",       "config",   "script",   "debug",
                                               "debugdir", "debugfileid", "verbose", "maxdays"};

// A single-value switch given more than once (names without case). The
// elevated worker is spared: its line joins a document's arguments to the
// parent's own switches, and the parent checks what decides trust.
bool RefuseRepeatedSwitch() {
    if (HostWorker_IsRequested()) return false;
    int32 Count = 0;
    CommandLine_GetFieldCount(nullptr, &Count);
    static char Field[FieldSize], Name[FieldSize];
    int32 Seen[std::size(SingleValueSwitches)] = {};
    for (int32 Index = 1; Index < Count; Index++) {
        if (!CommandLine_GetField(nullptr, Index, Field, FieldSize) ||
            !CommandLine_GetFieldName(Field, Name, FieldSize))
            continue;
        for (size_t Each = 0; Each < std::size(SingleValueSwitches); Each++) {
            if (!String_CompareWithoutCase(SingleValueSwitches[Each], Name) || ++Seen[Each] < 2) continue;
            fprintf(stderr, "velmarsh: --%s is given more than once: it takes one value\n", SingleValueSwitches[Each]);
            return true;
        }
    }
    return false;
}

// Arguments past the process line's 4,095 bytes were left out: the run would
// not be the one asked for.
bool RefuseCutLine() {
    int32 LeftOut = 0, Count = 0;
    char **Vector = nullptr;
    if (!Arguments_GetLeftOut(&LeftOut) || LeftOut <= 0 || !Arguments_Get(&Count, &Vector) || Count < LeftOut)
        return false;
    std::string First = Vector[Count - LeftOut];
    if (First.size() > 60) First = First.substr(0, 57) + "...";
    fprintf(stderr, "velmarsh: the command line is longer than %d bytes: %d argument(s) from \"%s\" on are left out\n",
            COMMAND_LINE_SIZE - 1, LeftOut, First.c_str());
    return true;
}

// One warning line for each switch no module reads, and for a log level
// that names none; the run goes on.
void WarnUnknownSwitches() {
    int32 Count = 0;
    CommandLine_GetFieldCount(nullptr, &Count);
    static char Field[FieldSize], Name[FieldSize];
    for (int32 Index = 1; Index < Count; Index++) {
        if (!CommandLine_GetField(nullptr, Index, Field, FieldSize) ||
            !CommandLine_GetFieldName(Field, Name, FieldSize))
            continue;
        bool Known = false;
        for (const char *Each : KnownSwitches) Known = Known || String_CompareWithoutCase(Each, Name);
        if (!Known) fprintf(stderr, "velmarsh: warning: unknown switch --%s is ignored (see --help)\n", Name);
    }
    if (CommandLine_GetFieldByName(nullptr, "debug", Field, FieldSize) && Field[0] != 0 &&
        Log_TranslateLevelString(Field) == 0 && !String_CompareWithoutCase(Field, "ERROR"))
        fprintf(stderr,
                "velmarsh: warning: --debug=%s names no log level (ERROR, WARNING, INFO or DEBUG): ERROR is used\n",
                Field);
}

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

// SHA-256 of a configuration's bytes, as lower-case hexadecimal.
std::string ConfigDigestOf(const std::string &Text) {
    char Hex[80] = "";
    Hash_QuickString(&SHA256_INTERFACE, Text.data(), (uint32)Text.size(), HASH_STRING_PLAIN, Hex, (int32)sizeof(Hex));
    return Hex;
}

// The --config value: an absolute path of a regular, readable, non-empty
// file, read once here (what is applied later, and the worker is handed
// this path and the digest of these bytes).
bool CheckConfigSwitch(std::string &Config, std::string &Text, std::string &Reason) {
    static char Value[FieldSize];
    if (!CommandLine_IsFieldSet(nullptr, "config")) return true;
    if (!CommandLine_GetFieldByName(nullptr, "config", Value, FieldSize) || Value[0] == 0) {
        Reason = "--config needs the path of a JSON file";
        return false;
    }
    struct stat Facts {};
    std::string Path = Value;
    if (stat(Value, &Facts) != 0 || access(Value, R_OK) != 0) {
        Reason = "cannot read configuration file " + Path + ": " + strerror(errno);
        return false;
    }
    if (!S_ISREG(Facts.st_mode)) Reason = "the configuration is not a regular file: " + Path;
    else if (Facts.st_size == 0) Reason = "the configuration file is empty: " + Path;
    else if ((size_t)Facts.st_size > ConfigLimit) Reason = "the configuration file is larger than 16 MiB: " + Path;
    if (!Reason.empty()) return false;
    // What is opened is checked again: a FIFO put in the file's place since
    // must not hold the reader.
    int Fd = Platform_OpenRegular(Value, O_RDONLY, 0);
    FILE *File = Fd >= 0 ? fdopen(Fd, "rb") : nullptr;
    if (File == nullptr) {
        Reason = "cannot read configuration file " + Path + ": " +
                 (errno == EINVAL || errno == EISDIR ? std::string("it is no longer a regular file")
                                                     : std::string(strerror(errno)));
        if (Fd >= 0) close(Fd);
        return false;
    }
    char Chunk[4096];
    for (size_t Count; Text.size() <= ConfigLimit && (Count = fread(Chunk, 1, sizeof(Chunk), File)) > 0;)
        Text.append(Chunk, Count);
    fclose(File);
    char *Absolute = realpath(Value, nullptr);
    Config = Absolute != nullptr ? Absolute : Value;
    free(Absolute);
    return true;
}

// Checks the workflow switches before anything starts: a bad one is one line
// on standard error and exit code 2.
bool CheckWorkflowSwitches(std::string &Url, std::string &Tasks, std::string &Config, std::string &ConfigText,
                           std::string &Script) {
    static char Value[FieldSize], Reason[FieldSize], Resolved[FieldSize];
    // A refused --workflow= URL is told with its password hidden.
    auto Refuse = [](const char *Text) {
        std::string Masked;
        fprintf(stderr, "velmarsh: %s\n", Log_Redact(Text, Masked) ? Masked.c_str() : Text);
        return false;
    };
    std::string Why;
    if (HostWorker_IsRequested()) {
        if (!HostWorker_CheckParent(Reason, FieldSize)) return Refuse(Reason);
        // The parent's configuration, only as the parent read it.
        if (!CheckConfigSwitch(Config, ConfigText, Why)) return Refuse(Why.c_str());
        if (!Config.empty() && (!CommandLine_GetFieldByName(nullptr, "configdigest", Value, FieldSize) ||
                                !String_CompareWithoutCase(Value, ConfigDigestOf(ConfigText).c_str())))
            return Refuse(("cannot read configuration file " + Config +
                           ": it changed after the parent process read it").c_str());
        if (!CommandLine_GetFieldByName(nullptr, "wfendpoint", Value, FieldSize) || Value[0] == 0)
            return Refuse("--wfworker needs --wfendpoint=<the file holding the parent's end-point URL>");
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
            // ",", "a,,b" or a trailing comma would ask for no task there.
            bool Empty = Each == ',' && (Walk == Value || Walk[1] == ',' || Walk[1] == 0);
            if (Empty) return Refuse("--task holds an empty name: give names separated by single commas");
        }
        Tasks = Value;
    }
    if (!CheckConfigSwitch(Config, ConfigText, Why)) return Refuse(Why.c_str());
    if (CommandLine_IsFieldSet(nullptr, "script")) {
        if (!CommandLine_GetFieldByName(nullptr, "script", Value, FieldSize) || Value[0] == 0)
            return Refuse("--script needs the path of a JavaScript file");
        if (!HostScript_CheckFile(Value, Reason, FieldSize)) return Refuse(Reason);
        Script = Value;
    }
    for (const char *Flag : {"disablesecurity", "wfselfupdate"}) {
        if (CommandLine_IsFieldSet(nullptr, Flag) && CommandLine_GetFieldByName(nullptr, Flag, Value, FieldSize))
            return Refuse(("--" + std::string(Flag) + " takes no value (got \"" + Value + "\")").c_str());
    }
    return true;
}

// The configuration read by CheckConfigSwitch, through the application; its
// analytics keys reach the analytics queue. A text that does not parse is a
// usage error, told with the parser's message and position; nothing of it
// is taken.
bool LoadConfiguration(const std::string &Path, const std::string &Text) {
    std::string Message;
    Dictionary *Loaded = nullptr;
    Dictionary_Create(&Loaded);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Loaded);
    JSON_SetPrintCallback(Reader, &Message, AsyncHTTP_KeepParserMessage);
    DictionaryItem *Top = nullptr;
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    bool Parsed = JSON_LoadBuffer(Reader, Text.data(), (int32)Text.size()) && Dictionary_ItemGetFirst(Loaded, &Top) &&
                  Top != nullptr && Dictionary_ItemGetType(Loaded, Top, &Type) && Type == DICTIONARY_TYPE_DICTIONARY;
    JSON_Release(&Reader);
    if (!Parsed && Message.empty()) Message = "not a JSON object";
    if (!Parsed) {
        Dictionary_Release(&Loaded);
        fprintf(stderr, "velmarsh: cannot read configuration file %s: %s\n", Path.c_str(), Message.c_str());
        Log_Error("Cannot read configuration file (%s): %s\n", Path.c_str(), Message.c_str());
        return false;
    }
    WorkflowApp_LoadConfigFromDictionary(Loaded);
    Dictionary_Release(&Loaded);
    Dictionary *Configuration = nullptr;
    if (WorkflowApp_GetConfigHandle(&Configuration) && Configuration != nullptr)
        Analytics_LoadConfigFromDictionary(Configuration);
    return true;
}

// What an elevated worker needs to decide trust as this process does: the
// configuration it applied (path and digest) and the security switch.
void HandWorkerTrust(const std::string &Config, const std::string &Text) {
    std::string Switches;
    if (!Config.empty()) {
        // One quoted argument; a quote inside is written twice.
        std::string Quoted;
        for (char Each : Config) Quoted += Each == '"' ? std::string("\"\"") : std::string(1, Each);
        Switches = "\"--config=" + Quoted + "\" --configdigest=" + ConfigDigestOf(Text);
    }
    if (CommandLine_IsFieldSet(nullptr, "disablesecurity")) Switches += (Switches.empty() ? "" : " ") + std::string("--disablesecurity");
    WorkflowRun_SetWorkerSwitches(Switches.c_str());
}

} // namespace

// Before anything else of the program runs (static constructors included):
// a signal that ends a run is held until the job takes it.
__attribute__((constructor(101))) static void HoldSignalsFirst() { HostJob_HoldSignals(); }

int main(int argc, char **argv) {
    Arguments_Init(argc, argv);
    if (char Reason[200]; !HostWorker_TakeHandOver(Reason, (int32)sizeof(Reason))) {
        fprintf(stderr, "velmarsh: %s\n", Reason);
        Arguments_Remove();
        return HOSTJOB_EXIT_USAGE;
    }
    if (RefuseCutLine()) {
        Arguments_Remove();
        return HOSTJOB_EXIT_USAGE;
    }
    WarnUnknownSwitches();
    if (CommandLine_IsFieldSet(nullptr, "help")) {
        fputs(Usage, stdout);
        Arguments_Remove();
        return 0;
    }

    if (RefuseIdleLine() || RefuseRepeatedSwitch()) {
        Arguments_Remove();
        return HOSTJOB_EXIT_USAGE;
    }

    const bool WorkerRole = HostWorker_IsRequested() != 0;
    bool RunsWorkflow = CommandLine_IsFieldSet(nullptr, "workflow") || WorkerRole;
    if (!RunsWorkflow) {
        // No run to end in order: the signals act as they always do.
        sigset_t Ending;
        HostJob_EndingSignals(&Ending);
        sigprocmask(SIG_UNBLOCK, &Ending, nullptr);
    }
    std::string Url, Tasks, Config, ConfigText, Script;
    if (RunsWorkflow && !CheckWorkflowSwitches(Url, Tasks, Config, ConfigText, Script)) {
        Arguments_Remove();
        return HOSTJOB_EXIT_USAGE;
    }

    // The modules above the runtime hand it their macro keys, script classes
    // and hooks before it starts.
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
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
    NativeUIGtkModule_Register(nullptr);
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
        // The workflow script classes answer after the core ones.
        Interop_Add(ModuleName, WorkflowInterop_Init, WorkflowInterop_Remove, WorkflowInterop_CreateInstance,
                    WorkflowInterop_SetOverride, WorkflowInterop_SetOption);
        WorkflowApp_WebStart();
        WebGet_WhitelistAdd("127.0.0.1");
        // A Linux build carries no code-signing certificate: unsigned local
        // documents run only with security switched off.
        Authenticate_SetEnabled(CommandLine_IsFieldSet(nullptr, "disablesecurity") ? 0 : 1);
        bool Configured = Config.empty() || LoadConfiguration(Config, ConfigText);
        if (Configured && !WorkerRole) HandWorkerTrust(Config, ConfigText);
        WorkflowManager_Init();
        int32 Code = HOSTJOB_EXIT_USAGE;
        if (Configured) {
            // A page that cannot run fails the run before the workflow
            // starts: the task types it would have made are missing.
            // The handlers come first, so that a signal while the page loads
            // interrupts it as it interrupts a running page. They stay until
            // the summary is out: a second signal during the way out still
            // ends the process at once.
            HostJob_InstallSignals();
            static char Reason[FieldSize];
            Reason[0] = 0;
            if (!Script.empty() && !HostScript_Load(Script.c_str(), Reason, FieldSize)) {
                fprintf(stderr, "velmarsh: %s\n", Reason);
                Log_Error("%s\n", Reason);
            }
            Code = Reason[0] != 0 ? HostJob_Fail(Reason)
                   : WorkerRole   ? HostWorker_Run()
                                  : HostJob_Run(Url.c_str(), Tasks.empty() ? nullptr : Tasks.c_str());
            HostScript_Remove();
        }
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
        if (Implode[0] != 0 && unlink(Implode) != 0) {
            std::string Cause = strerror(errno);
            if (!Cause.empty() && Cause[0] >= 'A' && Cause[0] <= 'Z') Cause[0] += 'a' - 'A';
            std::string Why = std::string("cannot implode ") + Implode + ": " + Cause;
            Log_Error("%s\n", Why.c_str());
            if (!WorkerRole) Code = HostJob_NoteFailure(Why.c_str(), Code);
        }
        Authenticate_Remove();
        while (!Host_MainLoopStep(0)) {
        }
        if (!WorkerRole) Code = HostJob_NoteInterrupt(Code);
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
    if (RunsWorkflow) HostJob_RemoveSignals();
    return ExitCode;
}
