// The host's main job (see host_job.h).
#include "host/host_job.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "host/host_progress.h"
#include "host/host_script.h"
#include "host/host_signal.h"
#include "net/analytics.h"
#include "net/async_http.h"
#include "net/web_get.h"
#include "net/web_get_request.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"
#include "runtime/time.h"
#include "workflow/task.h"
#include "workflow/workflow.h"
#include "workflow/workflow_event.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_run.h"

namespace {

constexpr int32 TickMilliseconds = 15;
constexpr int32 PathSize = 4096;

// The signals that end a run: an interrupt (Ctrl-C), a termination, a
// hang-up (the terminal or the connection went), a quit (Ctrl-\) and the
// first user signal. Each ends it as an interrupt does: the unload, then the
// summary and 130; a second ends the program at once.
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1};

// Those its starter had ignored (nohup, a shell's background job) stay
// ignored, as that starter asked.
sigset_t IgnoredAtStart;

volatile sig_atomic_t SignalCount = 0;
// Set while the job owes a summary line (from its start until the line is
// out); the last overall progress, for the line a second signal writes.
volatile sig_atomic_t SummaryOwed = 0;
volatile sig_atomic_t LastProgress = 0;
// Set once standard error has said "Host_Error_Interrupted".
volatile sig_atomic_t InterruptTold = 0;

void WriteAll(int Descriptor, const char *Text, size_t Length) {
    for (size_t Done = 0; Done < Length;) {
        ssize_t Written = write(Descriptor, Text + Done, Length - Done);
        if (Written < 0 && errno == EINTR) continue;
        if (Written <= 0) break;
        Done += (size_t)Written;
    }
}

// Async-signal-safe: the summary of an interrupted run.
void WriteInterruptedSummary() {
    char Line[160];
    const char Head[] = "{\"successful\":false,\"exitCode\":130,\"progress\":";
    const char Tail[] = ",\"errors\":[\"Host_Error_Interrupted\"],\"warnings\":[]}\n";
    size_t Length = 0;
    for (const char *Walk = Head; *Walk != 0; Walk++) Line[Length++] = *Walk;
    int Percent = LastProgress < 0 ? 0 : LastProgress > 100 ? 100 : (int)LastProgress;
    char Digits[4];
    int Count = 0;
    do {
        Digits[Count++] = (char)('0' + Percent % 10);
        Percent /= 10;
    } while (Percent > 0);
    while (Count > 0) Line[Length++] = Digits[--Count];
    for (const char *Walk = Tail; *Walk != 0; Walk++) Line[Length++] = *Walk;
    WriteAll(STDOUT_FILENO, Line, Length);
}

// The first signal asks the loop to unload; the second ends the process
// here and now, whatever the main thread is doing.
void OnSignal(int) {
    SignalCount = SignalCount + 1;
    HostScript_Interrupt();
    if (SignalCount < 2) return;
    HostProgress_ClearAtOnce();
    if (SummaryOwed) {
        // Every error the summary carries is told on standard error too.
        const char Said[] = "velmarsh: Host_Error_Interrupted\n";
        if (!InterruptTold) WriteAll(STDERR_FILENO, Said, sizeof(Said) - 1);
        WriteInterruptedSummary();
    }
    _exit(HOSTJOB_EXIT_INTERRUPTED);
}

// Memory the system refuses where nothing can unwind ends the run from the
// runtime's fatal stop: the reason is on standard error already, then one
// line says what it means and the summary follows, written without asking
// for memory (as the summary of an interrupt is). Any other fatal stop goes
// on to whoever watched fatal stops before.
Debug_AbortFunc EarlierAbort = nullptr;

int32 OnFatalStop(const char *File, int32 Line, const char *Message) {
    if (Message == nullptr || strstr(Message, "Memory available") == nullptr)
        return EarlierAbort != nullptr ? EarlierAbort(File, Line, Message) : 0;
    const char Said[] = "velmarsh: out of memory: the run ends here\n";
    WriteAll(STDERR_FILENO, Said, sizeof(Said) - 1);
    if (SummaryOwed) {
        char Text[200];
        int Percent = LastProgress < 0 ? 0 : LastProgress > 100 ? 100 : (int)LastProgress;
        int Length = snprintf(Text, sizeof(Text),
                              "{\"successful\":false,\"exitCode\":1,\"progress\":%d,\"errors\":"
                              "[\"Host_Error_OutOfMemory\"],\"warnings\":[]}\n",
                              Percent);
        if (Length > 0) WriteAll(STDOUT_FILENO, Text, (size_t)Length);
    }
    _exit(1);
}

// Memory asked for through the standard library (a string, a vector) that
// no caller was ready to go without ends the program as memory refused to
// Memory_Alloc does: the line and the summary, never an abort without them.
// Any other uncaught exception goes on to the handler there was before.
std::terminate_handler EarlierTerminate = nullptr;

[[noreturn]] void OnTerminate() {
    if (std::exception_ptr Thrown = std::current_exception()) {
        try {
            std::rethrow_exception(Thrown);
        } catch (const std::bad_alloc &) {
            OnFatalStop(__FILE__, __LINE__, "No Memory available (a standard allocation)");
        } catch (...) {
        }
    }
    if (EarlierTerminate != nullptr) EarlierTerminate();
    abort();
}

// Texts in the order first given, each once: the summary's lists and the
// lines told, which a run may fill with thousands (a task's errors), so a
// repeat is found by a hash rather than a walk of the list.
class TextList {
  public:
    bool Add(const char *Text) {
        if (Text == nullptr || !Seen.emplace(Text).second) return false;
        Items.emplace_back(Text);
        return true;
    }
    // Appended even when held already.
    void Append(const char *Text) {
        Seen.emplace(Text);
        Items.emplace_back(Text);
    }
    bool Contains(const std::string &Text) const { return Seen.count(Text) != 0; }
    std::vector<std::string>::const_iterator begin() const { return Items.begin(); }
    std::vector<std::string>::const_iterator end() const { return Items.end(); }
    bool empty() const { return Items.empty(); }

  private:
    std::vector<std::string> Items;
    std::unordered_set<std::string> Seen;
};

struct Job {
    std::string Url; // of the workflow, as the run names it
    std::string WorkflowId;
    std::vector<std::string> Wanted;
    std::string Queued;       // the --task being run
    bool Offered = false;     // the wanted task has been looked for
    bool Unloading = false;
    std::string UnloadWhy; // the unload waits until what was added settles
    std::string RunId;     // the id the job gave its run
    Task *Run = nullptr;   // that run's task, held for the job by the runs' module until it completed
    bool HasState = false; // its workflow has a "state" (the entry a run without --task waits on)
    bool RunComplete = false;
    bool RunSuccessful = false;
    // The entry ran and completed: "start" (or "state" without --task), the
    // queued --task, or "apply" in a self-update run.
    bool EntryDone = false;
    bool ShutDown = false; // the unload followed a forced shutdown
    bool Loaded = false;   // its workflow's "load" succeeded
    bool LoadRan = false;  // its workflow's "load" ran and completed
    bool Interrupted = false;
    bool HasProgress = false;
    int32 Progress = 0;
    // An event whose outcome is the run's ("start" as the entry, the queued
    // task, "load") completed unsuccessfully, with errors or without.
    bool Failed = false;
    // A failed "state" says which tasks the workflow offers: its errors count
    // only when no wanted task runs after it.
    bool StateFailed = false;
    TextList StateErrors;
    std::string StateWhy; // when it failed without naming an error
    std::string Running; // the task started last, for the progress line
    TextList Errors, Warnings;
    // Errors of an event that still succeeded ("load" whose moved task could
    // not be made): the summary reports them, the outcome stands.
    TextList Noted;
    TextList Told; // lines already said on standard error
    // Documents that could not be loaded, as said on standard error, with
    // their errors: one whose errors the outcome does not carry (a run in a
    // "success" step, whose result is not the task's) is still reported.
    std::vector<std::pair<std::string, TextList>> NotLoaded;
};

Job *Current = nullptr;
// Printed after the runtime has ended, so that it is the last line even when
// log lines go to standard output.
std::string SummaryLine;

void AddUnique(TextList &List, const char *Text) { List.Add(Text); }

void CollectList(Dictionary *Source, const char *Key, TextList &List) {
    Dictionary *Items = nullptr;
    if (Source == nullptr || !Dictionary_GetListByKey(Source, Key, &Items) || Items == nullptr) return;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Items, &Item); Item != nullptr; Dictionary_ItemGetNext(Items, Item, &Item)) {
        const char *Text = nullptr;
        if (Dictionary_ItemGetStringPtr(Items, Item, &Text)) AddUnique(List, Text);
    }
}

std::string JoinList(Dictionary *Source, const char *Key);

// A task the document names that cannot be made, or that lacks a required
// argument, is a fault of the document: the user reads why on standard
// error, once.
void TellDocumentFaults(Dictionary *Info) {
    TextList List;
    CollectList(Info, "errors", List);
    for (const std::string &Each : List) {
        if (Each.rfind(WORKFLOW_CANNOT_MAKE, 0) != 0 && Each.rfind(TASK_MISSING_ARGUMENT, 0) != 0 &&
            Each.rfind(WORKFLOWRUN_TEXT_UNEXPLAINED, 0) != 0)
            continue;
        if (Current->Told.Add(Each.c_str())) HostProgress_Say(("velmarsh: " + Each).c_str());
    }
}

// An event whose failure ends the run before anything the user asked for
// ran: its reasons on standard error, those not said there already.
void TellFailed(const char *Event, Dictionary *Info) {
    TextList List;
    CollectList(Info, "errors", List);
    std::string Text;
    for (const std::string &Each : List) {
        if (Current->Told.Add(Each.c_str())) Text += (Text.empty() ? "" : ", ") + Each;
    }
    if (List.empty()) Text = "it names no error";
    if (!Text.empty()) HostProgress_Say(("velmarsh: \"" + std::string(Event) + "\" failed: " + Text).c_str());
}

// The run fails for a reason of the job's own: in the summary, and in one
// line on standard error, as every other failure is told.
void FailWith(const std::string &Text, const std::string &Said = {}) {
    Current->Failed = true;
    AddUnique(Current->Errors, Text.c_str());
    if (Current->Told.Add(Text.c_str())) HostProgress_Say(("velmarsh: " + (Said.empty() ? Text : Said)).c_str());
}

// An event that failed without naming an error still says which one failed,
// in the words a nested run's failure of that kind gets.
std::string Unexplained(const char *Event, Dictionary *Info) {
    Dictionary *Errors = nullptr;
    int32 Count = 0;
    if (Info != nullptr && Dictionary_GetListByKey(Info, "errors", &Errors) && Errors != nullptr)
        Dictionary_ItemGetCount(Errors, &Count);
    if (Count > 0) return {};
    return std::string(WORKFLOWRUN_TEXT_UNEXPLAINED) + " \"" + Event + "\" of " + Current->Url;
}

// The run the job was given is the task the runs' module made for its
// request and holds for it: its workflow is the job's, and its record (once
// it completed) is the run's outcome, whatever any notification says.
void FollowRun() {
    if (Current->RunComplete ||
        (Current->Run == nullptr && !WorkflowRun_GetKept(Current->RunId.c_str(), &Current->Run)))
        return;
    Workflow *Flow = nullptr;
    if (Current->WorkflowId.empty() && WorkflowRun_GetWorkflowHandle(Current->Run, &Flow))
        Current->WorkflowId = ((ClassStruct *)Flow)->InstanceId;
    if (!Task_IsCompleted(Current->Run)) return;
    Current->HasState = WorkflowRun_GetWorkflowHandle(Current->Run, &Flow) && Workflow_CanCreateTask(Flow, "state");
    Current->RunComplete = true;
    Dictionary *Record = nullptr;
    Dictionary_Create(&Record);
    Task_CopyErrors(Current->Run, Record);
    Task_CopyWarnings(Current->Run, Record);
    int32 Count = 0;
    Task_GetErrorCount(Current->Run, &Count);
    Current->RunSuccessful = Count == 0 && !Task_IsCancelled(Current->Run);
    TellDocumentFaults(Record);
    // After a signal, what the unload kept from running is the interrupt's
    // doing, which the summary says already.
    TextList Errors;
    CollectList(Record, "errors", Errors);
    for (const std::string &Each : Errors)
        if (!Current->Interrupted || !WorkflowEvent_IsNotRunText(Each.c_str())) AddUnique(Current->Errors, Each.c_str());
    CollectList(Record, "warnings", Current->Warnings);
    Dictionary_Release(&Record);
    // Read: the run, its task and its workflow go as they would unheld.
    WorkflowRun_ReleaseKept(Current->RunId.c_str());
    Current->Run = nullptr;
}

Workflow *OurWorkflow() {
    FollowRun();
    if (Current->WorkflowId.empty()) return nullptr;
    void *Object = Class_ConvertFromInstanceId(Current->WorkflowId.c_str());
    if (Object == nullptr || ((ClassStruct *)Object)->ClassId != WORKFLOW_CLASSID) return nullptr;
    return static_cast<Workflow *>(Object);
}

void Unload(const char *Why) {
    if (Current->Unloading) return;
    Current->Unloading = true;
    Log_Info("Host - Unloading - %s\n", Why);
    WorkflowManager_CloseAdditions();
    WorkflowManager_Unload(nullptr, nullptr);
}

// Nothing more of the workflow is to run: the host unloads once no run that
// it was given or that a page (or a document) added is still queued or
// running, so that the unload cancels none of them.
void UnloadWhenSettled(const char *Why) {
    if (Current->UnloadWhy.empty()) Current->UnloadWhy = Why;
}

// What a run that has not ended waits on, once nothing is left that could
// bring it: the manager's flow switched off (a page may do that), or the
// entry or --task that nothing queued or that left the queue unrun (a flow
// switched off and on again while "load" ended, say).
std::string WhatItWaitsOn() {
    uint32 Flow = 1;
    if (WorkflowManager_GetFlowControl(&Flow) && !Flow)
        return "the workflow manager's flow control was switched off and nothing is left to run";
    Workflow *Handle = OurWorkflow();
    std::string Name = !Current->Queued.empty()                                  ? Current->Queued
                       : WorkflowApp_IsSelfUpdate()                              ? "apply"
                       : Handle != nullptr && Workflow_CanCreateTask(Handle, "state") ? "state"
                                                                                 : "start";
    return "the run waits on \"" + Name + "\", which nothing left will run";
}

// A document's delayed fires (a Notification task's "delay") are part of its
// run: the run goes on until they went out. Once nothing else is left, their
// time is not sat out (it would change nothing but the clock): they go out
// at the next pass. True while any is still to go.
bool HastenDelayedFires() {
    if (NotificationCenter_GetAwaitedCount() == 0) return false;
    Log_Info("Host - A document's delayed fire goes out now: nothing else is left to run\n");
    NotificationCenter_HastenAwaited();
    return true;
}

// Each tick: the unload waited for, once everything added has settled and
// the page has seen what it was sent. Once nothing runs, nothing is queued or
// on its way and the page is idle, a run that has not ended waits on what
// can never come: it ends, failed, saying what it waited on.
void UnloadIfSettled() {
    if (Current->Unloading) {
        // A run that started after the manager had unloaded everything (the
        // host's own, when a signal came first, or one a page added late)
        // is unloaded too: at once after a signal, else once it settled.
        if (!WorkflowManager_IsUnloading() && WorkflowApp_IsActive() &&
            (Current->Interrupted || Current->ShutDown || WorkflowManager_IsSettled())) {
            Log_Info("Host - Unloading - a run started after the unload\n");
            WorkflowManager_Unload(nullptr, nullptr);
        }
        return;
    }
    if (!WorkflowManager_IsSettled() || !HostScript_IsIdle() || HastenDelayedFires()) return;
    if (Current->UnloadWhy.empty() && Current->RunComplete) Current->UnloadWhy = "the run has ended";
    uint32 Flow = 1;
    if (Current->UnloadWhy.empty() &&
        ((Current->Loaded && !Current->EntryDone) || (WorkflowManager_GetFlowControl(&Flow) && !Flow))) {
        FailWith(WhatItWaitsOn());
        Current->UnloadWhy = "nothing left can move the run on";
    }
    if (!Current->UnloadWhy.empty()) Unload(Current->UnloadWhy.c_str());
}

// The first wanted task the workflow offers now.
void QueueWanted(Workflow *Flow) {
    Current->Offered = true;
    if (Current->Wanted.empty()) {
        Current->EntryDone = true;
        // Without --task, "state" is what ran: its outcome is the run's.
        if (Current->StateFailed) {
            Current->Failed = true;
            for (const std::string &Each : Current->StateErrors) AddUnique(Current->Errors, Each.c_str());
            if (!Current->StateWhy.empty()) FailWith(Current->StateWhy);
        }
        UnloadWhenSettled("nothing more to run");
        return;
    }
    std::string Names;
    for (const std::string &Each : Current->Wanted) {
        // "state" ran already, as the entry that says what is offered: it
        // is never one of the tasks it offers.
        if (!String_CompareWithoutCase(Each.c_str(), "state") &&
            WorkflowManager_IsTaskAvailable(Current->WorkflowId.c_str(), Each.c_str()) &&
            WorkflowManager_QueueTask(Flow, Each.c_str())) {
            Current->Queued = Each;
            Log_Info("Host - Queued - %s\n", Each.c_str());
            return;
        }
        Names += (Names.empty() ? "" : ",") + Each;
    }
    char Text[PathSize];
    snprintf(Text, sizeof(Text), "none of the tasks is available: %s", Names.c_str());
    for (const std::string &Each : Current->StateErrors) AddUnique(Current->Errors, Each.c_str());
    // What the user could ask for instead.
    std::string Offered;
    for (const char *Each : {"install", "update", "repair", "uninstall", "launch"})
        if (WorkflowManager_IsTaskAvailable(Current->WorkflowId.c_str(), Each))
            Offered += (Offered.empty() ? "" : ", ") + std::string(Each);
    FailWith(Text, std::string(Text) + " (offered: " + (Offered.empty() ? "none" : Offered) + ")");
    UnloadWhenSettled("no wanted task available");
}

int32 OnEventComplete(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Flow = nullptr, *Name = nullptr;
    uint32 Successful = 0;
    FollowRun();
    // The outcome is the engine's alone: a page or a document's Notification
    // task fires the same names, with any sender and any words.
    if (!NotificationCenter_IsOwnFire() || Info == nullptr || !Dictionary_GetStringPtrByKey(Info, "workflow", &Flow) || Flow == nullptr ||
        Current->WorkflowId != Flow || !Dictionary_GetStringPtrByKey(Info, "name", &Name) || Name == nullptr)
        return TRUE;
    Dictionary_GetBooleanByKey(Info, "successful", &Successful);
    Workflow *Handle = OurWorkflow();
    TellDocumentFaults(Info);
    uint32 Dropped = 0;
    if (Dictionary_GetBooleanByKey(Info, "dropped", &Dropped) && Dropped) {
        // Dropped as the workflow unloads before the entry ran: the run
        // fails, saying why (an interrupt says it already). What is dropped
        // once the entry ran changes nothing.
        if (Current->EntryDone || Current->Interrupted) return TRUE;
        Current->Failed = true;
        CollectList(Info, "errors", Current->Errors);
        return TRUE;
    }
    if (String_CompareWithoutCase(Name, "unload")) {
        Dictionary *Status = nullptr;
        if (Handle != nullptr && Workflow_GetStatusDictionaryHandle(Handle, &Status))
            CollectList(Status, "errors", Current->Errors);
        return TRUE;
    }
    if (String_CompareWithoutCase(Name, "load")) {
        Current->LoadRan = true;
        Current->Loaded = Successful != 0;
        if (!Successful) {
            Current->Failed = true;
            CollectList(Info, "errors", Current->Errors);
            TellFailed("load", Info);
            UnloadWhenSettled("load failed");
            return TRUE;
        }
        CollectList(Info, "errors", Current->Noted);
        // Nothing would ever run after "load".
        if (WorkflowApp_IsSelfUpdate() && Handle != nullptr && !Workflow_CanCreateTask(Handle, "apply")) {
            FailWith(WORKFLOWRUN_TEXT_NO_APPLY);
            UnloadWhenSettled("nothing to apply");
        } else if (!WorkflowApp_IsSelfUpdate() && Handle != nullptr && !Workflow_CanCreateTask(Handle, "state") &&
                   !Workflow_CanCreateTask(Handle, "start")) {
            FailWith("the workflow has neither a \"state\" nor a \"start\" task");
            UnloadWhenSettled("nothing to start");
        }
        return TRUE;
    }
    if (WorkflowApp_IsSelfUpdate() && String_CompareWithoutCase(Name, "apply")) {
        // "apply" stands in for "start": its outcome is the run's.
        Current->EntryDone = true;
        if (!Successful) Current->Failed = true;
        CollectList(Info, "errors", Current->Errors);
        CollectList(Info, "warnings", Current->Warnings);
        return TRUE;
    }
    if (WorkflowApp_IsSelfUpdate() || Handle == nullptr) return TRUE;
    if (!Current->Queued.empty() && String_CompareWithoutCase(Name, Current->Queued.c_str())) {
        Current->EntryDone = true;
        if (!Successful) Current->Failed = true;
        if (!Successful && !Unexplained(Name, Info).empty()) FailWith(Unexplained(Name, Info));
        CollectList(Info, "errors", Current->Errors);
        CollectList(Info, "warnings", Current->Warnings);
        UnloadWhenSettled("task complete");
        return TRUE;
    }
    bool State = String_CompareWithoutCase(Name, "state");
    bool Entry = State || (String_CompareWithoutCase(Name, "start") && !Workflow_CanCreateTask(Handle, "state"));
    if (Entry && !Current->Offered) {
        if (!Successful && State) {
            Current->StateFailed = true;
            CollectList(Info, "errors", Current->StateErrors);
            Current->StateWhy = Unexplained("state", Info);
        } else if (!Successful) {
            Current->Failed = true;
            CollectList(Info, "errors", Current->Errors);
        }
        QueueWanted(Handle);
    }
    return TRUE;
}

int32 OnWorkflowStatus(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    uint32 Retry = 0, Remote = 0;
    // A run that could not fetch its document waits for a retry that nobody
    // here asks for. A nested one ends alone, failed as any task, so that
    // its parent's "ignoreError" and "failure" step hold; for the job's own
    // workflow the job unloads. A run of the elevated worker ends there and
    // reports why.
    if (!NotificationCenter_IsOwnFire() || Instance == nullptr || Info == nullptr ||
        !Dictionary_GetBooleanByKey(Info, "canRetry", &Retry) || !Retry ||
        (Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote))
        return TRUE;
    void *Object = Current->WorkflowId != Instance ? Class_ConvertFromInstanceId(Instance) : nullptr;
    if (Object != nullptr && ((ClassStruct *)Object)->ClassId == WORKFLOW_CLASSID) {
        Workflow *Flow = static_cast<Workflow *>(Object);
        if (!Workflow_IsTaskQueued(Flow, "unload") && !Workflow_IsTaskRunning(Flow, "unload"))
            Workflow_QueueTask(Flow, "unload", nullptr, nullptr);
        return TRUE;
    }
    Unload("the workflow could not be fetched");
    return TRUE;
}

// Only runs of start requests report their completion, with the id of their
// request: the job's own run is the one with its id. The runs a page (or a
// notification) added are not the job's outcome: they are logged, and a
// failed one is a warning.
int32 OnRunComplete(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Id = nullptr;
    if (!NotificationCenter_IsOwnFire()) {
        Log_Info("Host - A run's completion not fired by the engine ignored\n");
        return TRUE;
    }
    FollowRun();
    if (Info == nullptr || !Dictionary_GetStringPtrByKey(Info, "id", &Id) || Id == nullptr || Current->RunId != Id) {
        // A run a document's Notification task started names that task: it
        // is added beside the workflow as a page's is. (An elevated worker's
        // answers are relayed, never the engine's own fires here.)
        uint32 Fine = 0;
        if (Info != nullptr) Dictionary_GetBooleanByKey(Info, "successful", &Fine);
        std::string Errors = JoinList(Info, "errors");
        Log_Info("Host - An added run ended - %s%s%s\n", Fine ? "successful" : "failed", Errors.empty() ? "" : ": ",
                 Errors.c_str());
        if (!Fine)
            AddUnique(Current->Warnings,
                      ("a run added beside the workflow failed" + (Errors.empty() ? "" : ": " + Errors)).c_str());
        return TRUE;
    }
    // The job's own run: its outcome is read from its task (FollowRun).
    return TRUE;
}

int32 OnManagerStatus(void *, const char *, const char *, const char *, Dictionary *Info) {
    int32 Percent = 0;
    // -2 means no progress task runs; the last real figure stands. A page's
    // figure is not the manager's.
    if (NotificationCenter_IsOwnFire() && Info != nullptr && Dictionary_GetInt32ByKey(Info, "progress", &Percent) && Percent >= 0) {
        Current->Progress = Percent;
        LastProgress = Percent;
        Current->HasProgress = true;
    }
    return TRUE;
}

std::string JoinList(Dictionary *Source, const char *Key) {
    TextList List;
    CollectList(Source, Key, List);
    std::string Text;
    for (const std::string &Each : List) Text += (Text.empty() ? "" : ", ") + Each;
    return Text;
}

// A remote document is tried again later: the user hears what failed and
// when the next attempt comes, instead of minutes of silence.
int32 OnRetry(void *, const char *, const char *, const char *, Dictionary *Info) {
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    char Url[PathSize] = "", Line[PathSize + 512];
    float64 Delay = 0;
    int32 Retry = 0, Most = 0;
    if (Info == nullptr) return TRUE;
    Dictionary_GetStringByKey(Info, "url", Url, (int32)sizeof(Url));
    Dictionary_GetFloat64ByKey(Info, "delay", &Delay);
    Dictionary_GetInt32ByKey(Info, "retry", &Retry);
    Dictionary_GetInt32ByKey(Info, "maxRetries", &Most);
    snprintf(Line, sizeof(Line), "velmarsh: cannot fetch %s (%s); retry %d of %d in %.0f s", Url,
             JoinList(Info, "errors").c_str(), Retry, Most, Delay);
    HostProgress_Say(Line);
    return TRUE;
}

// A document a task fetches that it will not have. A workflow run's own
// document is told by OnRun, with the run's outcome, unless the run ignores
// its errors: then this is the only word of it.
int32 OnFetchFailed(void *, const char *, const char *, const char *, Dictionary *Info) {
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    char Url[PathSize] = "", Type[128] = "", Line[PathSize + 1024];
    uint32 Ignored = 0;
    if (Info == nullptr) return TRUE;
    Dictionary_GetStringByKey(Info, "type", Type, (int32)sizeof(Type));
    Dictionary_GetBooleanByKey(Info, "ignored", &Ignored);
    if (String_CompareWithoutCase(Type, "WorkflowRun") && !Ignored) return TRUE;
    Dictionary_GetStringByKey(Info, "url", Url, (int32)sizeof(Url));
    snprintf(Line, sizeof(Line), "velmarsh: cannot load %s: %s", URL_OneLine(Url).c_str(),
             JoinList(Info, "errors").c_str());
    HostProgress_Say(Line);
    Current->NotLoaded.emplace_back(Line + strlen("velmarsh: "), TextList());
    CollectList(Info, "errors", Current->NotLoaded.back().second);
    for (const std::string &Each : Current->NotLoaded.back().second) AddUnique(Current->Told, Each.c_str());
    return TRUE;
}

// A document that could not be fetched or parsed, once no retry is left.
int32 OnRun(void *, const char *, const char *, const char *, Dictionary *Info) {
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    uint32 Successful = 1;
    char Url[PathSize] = "", Line[PathSize + 1024];
    if (Info == nullptr || !Dictionary_GetBooleanByKey(Info, "successful", &Successful) || Successful) return TRUE;
    Dictionary_GetStringByKey(Info, "url", Url, (int32)sizeof(Url));
    // The run task's status, errors included, comes with its arguments.
    Dictionary *Arguments = nullptr;
    Dictionary_GetDictionaryByKey(Info, "arguments", &Arguments);
    std::string Errors = JoinList(Arguments, "errors");
    TextList List;
    CollectList(Arguments, "errors", List);
    // Switching security off is the answer only to a document that carries
    // no signature; one refused for its signature or signer is not to be run.
    bool Unsigned = false;
    for (const std::string &Each : List) Unsigned = Unsigned || Each == ASYNCHTTP_TEXT_UNSIGNED;
    snprintf(Line, sizeof(Line), "velmarsh: cannot load %s: %s%s", URL_OneLine(Url).c_str(), Errors.c_str(),
             Unsigned ? " (unsigned documents run only with --disablesecurity)" : "");
    HostProgress_Say(Line);
    Current->NotLoaded.emplace_back(Line + strlen("velmarsh: "), List);
    for (const std::string &Each : List) AddUnique(Current->Told, Each.c_str());
    return TRUE;
}

// A hand-over to the elevated worker that failed for a reason of its own
// (no usable folder, a worker that never took the run).
int32 OnHandOverFailed(void *, const char *, const char *, const char *, Dictionary *Info) {
    if (!NotificationCenter_IsOwnFire()) return TRUE;
    const char *Reason = nullptr;
    if (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "reason", &Reason) && Reason != nullptr &&
        Current->Told.Add(Reason))
        HostProgress_Say(("velmarsh: " + std::string(Reason)).c_str());
    return TRUE;
}

int32 OnTaskStart(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Name = nullptr, *Title = nullptr;
    if (Info == nullptr || !Dictionary_GetStringPtrByKey(Info, "name", &Name) || Name == nullptr) return TRUE;
    if (String_CompareWithoutCase(Name, "global")) return TRUE;
    Current->Running = Dictionary_GetStringPtrByKey(Info, "title", &Title) && Title != nullptr && Title[0] != 0
                           ? Title
                           : Name;
    return TRUE;
}

int32 OnShutdown(void *, const char *, const char *, const char *, Dictionary *Info) {
    uint32 Force = 0;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "force", &Force) && Force) {
        if (!Current->Unloading) Current->ShutDown = true;
        Unload("shutdown");
    }
    return TRUE;
}

struct Observed {
    const char *Type;
    const char *Name;
    NotificationCenter_ObserverFunc Function;
};

const Observed Observers[] = {
    {"WorkflowEvent", "Complete", OnEventComplete}, {"Workflow", "Status", OnWorkflowStatus},
    {"WorkflowRun", "Complete", OnRunComplete},     {"WorkflowManager", "Status", OnManagerStatus},
    {"WorkflowApp", "Shutdown", OnShutdown},         {"TaskRequest", "Retry", OnRetry},
    {"WorkflowRun", "Run", OnRun},                   {"Task", "Start", OnTaskStart},
    {"TaskRequest", "Failed", OnFetchFailed},     {"WorkflowRun", "HandOverFailed", OnHandOverFailed},
};

void AddStrings(Dictionary *Summary, const char *Key, const TextList &List) {
    Dictionary *Items = nullptr;
    Dictionary_AddList(Summary, Key, &Items, nullptr);
    // The summary reaches whatever collects the program's output: it shows
    // no secret a log line would not (a URL's password, a token).
    std::string Masked;
    for (const std::string &Each : List)
        Dictionary_AddString(Items, nullptr, Log_Redact(Each.c_str(), Masked) ? Masked.c_str() : Each.c_str(), nullptr);
}

// What the summary says, kept until the exit sequence has run (it may add
// a failure of its own).
struct Outcome {
    bool Successful = false;
    int32 ExitCode = 0;
    int32 Progress = 0;
    TextList Errors, Warnings;
};
Outcome Kept;

void ComposeSummary() {
    Dictionary *Summary = nullptr, *Root = nullptr;
    Dictionary_Create(&Summary);
    Dictionary_AddDictionary(Summary, nullptr, &Root, nullptr);
    Dictionary_SetBooleanByKey(Root, "successful", Kept.Successful);
    Dictionary_SetInt32ByKey(Root, "exitCode", Kept.ExitCode);
    Dictionary_SetInt32ByKey(Root, "progress", Kept.Progress);
    AddStrings(Root, "errors", Kept.Errors);
    AddStrings(Root, "warnings", Kept.Warnings);
    SummaryLine.clear();
    JSON_SaveMinifiedText(Summary, SummaryLine);
    Dictionary_Release(&Summary);
}

void PrintSummary(bool Successful, int32 ExitCode) {
    Kept.Successful = Successful;
    Kept.ExitCode = ExitCode;
    Kept.Progress = Current->HasProgress ? Current->Progress : 0;
    Kept.Errors = Current->Errors;
    for (const std::string &Each : Current->Noted) AddUnique(Kept.Errors, Each.c_str());
    Kept.Warnings = Current->Warnings;
    ComposeSummary();
}

// The outcome, decided here alone from the record of the run the job was
// given: that run (its task, by identity) completed without an error, its
// entry ran and completed, and nothing the job watched failed. A run that
// ended before its entry ran did not succeed, whatever ended it; when
// nothing else says why, the summary does.
bool Decide(bool Added) {
    Job &State = *Current;
    if (Added && State.RunComplete && !State.EntryDone && State.Errors.empty() && !State.Interrupted) {
        // The first step that did not run: a shutdown that came before the
        // document did ends the run before its "load", however the fetch went.
        std::string Entry = !State.LoadRan                ? "load"
                            : WorkflowApp_IsSelfUpdate() ? "apply"
                            : !State.Wanted.empty()    ? State.Wanted.front()
                            : State.HasState           ? "state"
                                                       : "start";
        char Why[160];
        WorkflowEvent_NotRunText(Entry.c_str(), Why, (int32)sizeof(Why));
        FailWith(Why);
    }
    return Added && State.RunComplete && State.RunSuccessful && State.EntryDone &&
           State.Errors.empty() && !State.Interrupted && !State.Failed;
}

// The status a process ends with holds 8 bits: a code the workflow recorded
// outside 0-255 ends as its low 8 bits, as the system would cut it, but a
// failed run never ends with 0. The summary gives the status itself, so
// the two always agree, and a warning tells what became of the code.
int32 ExitStatusOf(int32 Recorded, bool Successful) {
    if (Recorded >= 0 && Recorded <= 255) return Recorded;
    int32 Status = (int32)((uint32)Recorded & 0xFFu);
    if (Status == 0 && !Successful) Status = 1;
    char Text[160];
    snprintf(Text, sizeof(Text), "exit code %d is outside 0-255: the program exits with %d", Recorded, Status);
    AddUnique(Current->Warnings, Text);
    return Status;
}

} // namespace

int32 HostJob_ResolveWorkflow(const char *Value, char *Url, int32 Size, char *Reason, int32 ReasonSize) {
    Debug_CheckPointer(Value);
    Url[0] = 0;
    Reason[0] = 0;
    if (Value[0] == 0) {
        String_CopyLength(Reason, "--workflow needs a path, a file:/// URL or an http:// URL", ReasonSize);
        return FALSE;
    }
    if (String_CompareBeginningWithoutCase(Value, "https://")) {
        String_CopyLength(Reason, "https is not available in this build", ReasonSize);
        return FALSE;
    }
    if (String_CompareBeginningWithoutCase(Value, "http://")) {
        // A URL no request can be made of fails now, not after the retries.
        UrlParts Parts;
        const char *Why = nullptr;
        if (!URL_Read(Value, &Parts, &Why) || !WebGet_CheckURL(Value)) {
            snprintf(Reason, (size_t)ReasonSize, "not a usable URL (%s): %s",
                     Why != nullptr ? Why : "no usable host, port or path", URL_OneLine(Value).c_str());
            return FALSE;
        }
        String_CopyLength(Url, Value, Size);
        return TRUE;
    }
    std::string Path = Value;
    if (String_CompareBeginningWithoutCase(Value, "file://")) {
        // "file:///path" or "file://localhost/path": another host's file is
        // not ours to read.
        const char *Host = Value + 7;
        if (Host[0] != '/' && !String_CompareBeginningWithoutCase(Host, "localhost/")) {
            snprintf(Reason, (size_t)ReasonSize, "only local file URLs (file:///path) are taken: %s",
                     URL_OneLine(Value).c_str());
            return FALSE;
        }
        char Converted[PathSize];
        if (!Path_ConvertFromURL(Value, Converted, (int32)sizeof(Converted))) {
            snprintf(Reason, (size_t)ReasonSize, "not a usable file URL: %s", URL_OneLine(Value).c_str());
            return FALSE;
        }
        Path = Converted;
    } else if (strstr(Value, "://") != nullptr) {
        snprintf(Reason, (size_t)ReasonSize, "unsupported workflow URL scheme: %s", URL_OneLine(Value).c_str());
        return FALSE;
    }
    // Only the folder is resolved: the name given decides how the document
    // is read (doc.yaml as YAML), even when it links to real.txt.
    char *Absolute = nullptr;
    const size_t Slash = Path.rfind('/');
    const std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
    const std::string Parent = Slash == std::string::npos ? "." : Slash == 0 ? "/" : Path.substr(0, Slash);
    if (Name.empty() || Name == "." || Name == "..") {
        Absolute = realpath(Path.c_str(), nullptr);
    } else if (char *Folder = realpath(Parent.c_str(), nullptr); Folder != nullptr) {
        std::string Joined = std::string(Folder) + (strcmp(Folder, "/") == 0 ? "" : "/") + Name;
        free(Folder);
        Absolute = strdup(Joined.c_str());
    }
    struct stat Facts {};
    if (Absolute == nullptr || stat(Absolute, &Facts) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            snprintf(Reason, (size_t)ReasonSize, "no such workflow file: %s", URL_OneLine(Path).c_str());
        else
            snprintf(Reason, (size_t)ReasonSize, "cannot read workflow file %s: %s", URL_OneLine(Path).c_str(),
                     strerror(errno));
        free(Absolute);
        return FALSE;
    }
    // A FIFO or a device would hold the reader until someone wrote to it.
    if (!S_ISREG(Facts.st_mode)) {
        snprintf(Reason, (size_t)ReasonSize, "the workflow path is %s: %s",
                 S_ISDIR(Facts.st_mode) ? "a directory" : "not a regular file", Path.c_str());
        free(Absolute);
        return FALSE;
    }
    int32 Converted = Path_ConvertToURL(Absolute, Url, Size);
    free(Absolute);
    if (!Converted) snprintf(Reason, (size_t)ReasonSize, "workflow path too long: %s", Path.c_str());
    return Converted;
}

int32 HostJob_Fail(const char *Reason) {
    Debug_CheckPointer(Reason);
    Job State;
    Current = &State;
    // A signal that stopped the page while it loaded ends the run as any
    // interrupt does.
    bool Interrupted = SignalCount >= 1;
    if (Interrupted) {
        AddUnique(State.Errors, "Host_Error_Interrupted");
        HostProgress_Say("velmarsh: Host_Error_Interrupted");
        InterruptTold = 1;
    }
    AddUnique(State.Errors, Reason);
    int32 ExitCode = Interrupted ? HOSTJOB_EXIT_INTERRUPTED : 1;
    PrintSummary(false, ExitCode);
    Current = nullptr;
    return ExitCode;
}

int32 HostJob_PrintSummary(void) {
    // A signal meanwhile must not add a second line.
    sigset_t Block, Before;
    HostJob_EndingSignals(&Block);
    sigprocmask(SIG_BLOCK, &Block, &Before);
    SummaryOwed = 0;
    int32 Printed = !SummaryLine.empty();
    if (Printed) {
        fprintf(stdout, "%s\n", SummaryLine.c_str());
        fflush(stdout);
    }
    SummaryLine.clear();
    SummaryLine.shrink_to_fit();
    sigprocmask(SIG_SETMASK, &Before, nullptr);
    return Printed;
}

int32 HostJob_NoteFailure(const char *Text, int32 ExitCode) {
    Debug_CheckPointer(Text);
    if (SummaryLine.empty()) return ExitCode;
    HostProgress_Say((std::string("velmarsh: ") + Text).c_str());
    Kept.Successful = false;
    if (Kept.ExitCode == 0) Kept.ExitCode = 1;
    Kept.Errors.Append(Text);
    ComposeSummary();
    return Kept.ExitCode;
}

int32 HostJob_NoteInterrupt(int32 ExitCode) {
    if (SignalCount < 1 || SummaryLine.empty() || Kept.Errors.Contains("Host_Error_Interrupted")) return ExitCode;
    if (!InterruptTold) HostProgress_Say("velmarsh: Host_Error_Interrupted");
    InterruptTold = 1;
    Kept.Successful = false;
    Kept.ExitCode = HOSTJOB_EXIT_INTERRUPTED;
    Kept.Errors.Append("Host_Error_Interrupted");
    ComposeSummary();
    return Kept.ExitCode;
}

int32 HostJob_InstallSignals(void) {
    // The job that follows owes its summary from now on: a second signal
    // before its first pass still writes one.
    LastProgress = 0;
    SummaryOwed = 1;
    struct sigaction Action = {};
    Action.sa_handler = OnSignal;
    sigset_t Ending;
    HostJob_EndingSignals(&Ending);
    sigemptyset(&Action.sa_mask);
    for (int Each : EndingSignals)
        if (sigismember(&IgnoredAtStart, Each) != 1) sigaction(Each, &Action, nullptr);
    // Held since the program began (HostJob_HoldSignals): one that came
    // meanwhile is taken now, as any first signal.
    sigprocmask(SIG_UNBLOCK, &Ending, nullptr);
    return TRUE;
}

int32 HostJob_RemoveSignals(void) {
    for (int Each : EndingSignals)
        if (sigismember(&IgnoredAtStart, Each) != 1) signal(Each, SIG_DFL);
    return TRUE;
}

void HostJob_EndingSignals(sigset_t *Set) {
    sigemptyset(Set);
    for (int Each : EndingSignals)
        if (sigismember(&IgnoredAtStart, Each) != 1) sigaddset(Set, Each);
}

namespace {
void OnBrokenPipe(int) {}
} // namespace

void HostJob_HoldSignals(void) {
    sigemptyset(&IgnoredAtStart);
    for (int Each : EndingSignals) {
        struct sigaction Before = {};
        if (sigaction(Each, nullptr, &Before) == 0 && Before.sa_handler == SIG_IGN) sigaddset(&IgnoredAtStart, Each);
    }
    sigset_t Ending;
    HostJob_EndingSignals(&Ending);
    sigprocmask(SIG_BLOCK, &Ending, nullptr);
    // A reader that went away fails the write (EPIPE) rather than ending
    // the program, whose exit code stays the run's. A handler, not SIG_IGN:
    // a program the host starts gets the default again.
    struct sigaction Action = {};
    Action.sa_handler = OnBrokenPipe;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGPIPE, &Action, nullptr);
}

int32 HostJob_Run(const char *Url, const char *Tasks) {
    Debug_CheckPointer(Url);
    Job State;
    Current = &State;
    State.Url = Url;
    // Only while the run goes: whoever watched fatal stops before (the
    // native UI) is watching again before it goes itself.
    EarlierAbort = GlobalDebugAbortOverride;
    Debug_AbortOverride(OnFatalStop);
    EarlierTerminate = std::set_terminate(OnTerminate);
    if (Tasks != nullptr) {
        std::string Each;
        for (const char *Walk = Tasks;; Walk++) {
            if (*Walk == ',' || *Walk == 0) {
                if (!Each.empty()) State.Wanted.push_back(Each);
                Each.clear();
                if (*Walk == 0) break;
            } else {
                Each += *Walk;
            }
        }
    }
    // Documents beside the workflow count as the content's own.
    WorkflowApp_SetContentDocument(Url);

    for (const Observed &Each : Observers) NotificationCenter_AddObserver(Each.Type, Each.Name, &State, Each.Function);
    WorkflowManager_SetAutoUnload(FALSE);
    Dictionary *Request = nullptr;
    Dictionary_Create(&Request);
    Dictionary_SetStringByKey(Request, "url", Url);
    // The workflow itself answers to the application's stores whenever
    // security is on, wherever it is served from: naming the store makes its
    // fetch require a signature, which the content-beside rule would waive.
    Dictionary_SetStringByKey(Request, "store", "app");
    // Its completion is told apart from those of runs a page adds by this id.
    char Guid[64];
    String_Guid(Guid, (int32)sizeof(Guid), TRUE);
    State.RunId = Guid;
    Dictionary_SetStringByKey(Request, "id", Guid);
    int32 Added = WorkflowRun_Keep(Guid) && WorkflowManager_AddDictionary(Request, nullptr, nullptr);
    Dictionary_Release(&Request);
    bool WasActive = false;
    HostProgress_Begin(STDERR_FILENO);
    while (Added) {
        int32 Signals = SignalCount;
        if (Signals >= 1 && !State.Interrupted) {
            State.Interrupted = true;
            Log_Info("Host - Interrupted\n");
            AddUnique(State.Errors, "Host_Error_Interrupted");
            // The unload waits for what the workflows fetch, "load" too,
            // which cannot be cancelled: requests in flight end now, and
            // none starts (a retry included) until the program ends.
            WebGetPool_Stop();
            Unload("interrupted");
        }
        WorkflowApp_Process();
        WorkflowManager_Process();
        FollowRun();
        UnloadIfSettled();
        bool Active = WorkflowApp_IsActive() != 0;
        WasActive = WasActive || Active;
        // After a signal a document's delayed fire is dropped.
        bool Ended = (State.RunComplete || (WorkflowApp_IsSelfUpdate() && WasActive)) && !Active;
        if (Ended && (State.Interrupted || !HastenDelayedFires())) break;
        HostProgress_Update(State.HasProgress ? State.Progress : -1, State.Running.c_str());
        Host_MainLoopStep(TickMilliseconds);
    }
    HostProgress_End();
    WorkflowManager_CloseAdditions();
    // What is still queued for the next pass goes before the summary.
    for (int32 Pass = 0; Pass < 4; Pass++) WorkflowApp_Process();
    // Analytics events of the run go out before the program ends (bounded);
    // after a signal no request starts, so none is waited for.
    Analytics_Flush();
    for (int32 Pass = 0; Pass < 400 && !State.Interrupted && WorkflowApp_IsAnalyticsPending(); Pass++) {
        WorkflowApp_Process();
        Host_MainLoopStep(5);
    }
    for (const Observed &Each : Observers) NotificationCenter_RemoveObserver(Each.Type, Each.Name, &State, Each.Function);

    FollowRun();
    int32 Recorded = 0;
    WorkflowApp_GetExitCode(&Recorded);
    if (!Added) AddUnique(State.Errors, "WorkflowManager_Error_Add");
    bool Successful = Decide(Added != 0);
    // A run that never completed is not held past the job either.
    WorkflowRun_ReleaseKept(State.RunId.c_str());
    State.Run = nullptr;
    for (const auto &[Line, Reasons] : State.NotLoaded) {
        bool Carried = false;
        for (const std::string &Each : Reasons) Carried = Carried || State.Errors.Contains(Each);
        if (!Carried) AddUnique(State.Warnings, Line.c_str());
    }
    // Every error the summary carries is told on standard error, once: those
    // said in a line of their own context already are not said again.
    for (const TextList *List : {&State.Errors, &State.Noted})
        for (const std::string &Each : *List)
            if (State.Told.Add(Each.c_str())) {
                HostProgress_Say(("velmarsh: " + Each).c_str());
                if (Each == "Host_Error_Interrupted") InterruptTold = 1;
            }
    int32 ExitCode = Recorded != 0                 ? ExitStatusOf(Recorded, Successful)
                     : Successful                  ? 0
                     : State.Interrupted           ? HOSTJOB_EXIT_INTERRUPTED
                                                   : 1;
    PrintSummary(Successful, ExitCode);
    if (GlobalDebugAbortOverride == OnFatalStop) Debug_AbortOverride(EarlierAbort);
    if (std::get_terminate() == OnTerminate) std::set_terminate(EarlierTerminate);
    Current = nullptr;
    return ExitCode;
}
