// The workflow-worker role of the host (see host_worker.h).
#include "host/host_worker.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "runtime/class.h"
#include "runtime/command_line.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_network.h"
#include "host/host_job.h"
#include "workflow/handover_file.h"
#include "workflow/workflow.h"
#include "workflow/workflow_event.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_run.h"

// The parent tells a refusal from any other early end by this code.
static_assert(HOSTJOB_EXIT_USAGE == WORKFLOWRUN_WORKER_EXIT_REFUSED);

namespace {

volatile sig_atomic_t WorkerSignals = 0;
void OnWorkerSignal(int) { WorkerSignals = WorkerSignals + 1; }
int32 ObserverToken = 0;

// The parent named by --wfparent=<pid>.<start time>.
bool ReadParent(int32 *Id, uint64 *Start) {
    char Value[64] = "";
    char *End = nullptr;
    if (!CommandLine_GetFieldByName(nullptr, "wfparent", Value, (int32)sizeof(Value))) return false;
    long Pid = strtol(Value, &End, 10);
    if (End == Value || *End != '.' || Pid <= 0 || Pid > 0x7fffffff) return false;
    const char *Digits = End + 1;
    unsigned long long Ticks = strtoull(Digits, &End, 10);
    if (End == Digits || *End != 0 || Ticks == 0) return false;
    *Id = (int32)Pid;
    *Start = (uint64)Ticks;
    return true;
}

// A run whose document could not be fetched waits for a retry that only
// the parent could ask for: it ends now, and its completion carries the
// reason to the parent.
int32 OnWorkflowStatus(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    uint32 Retry = 0, Remote = 0;
    if (!NotificationCenter_IsOwnFire() || Instance == nullptr || Info == nullptr ||
        !Dictionary_GetBooleanByKey(Info, "canRetry", &Retry) || !Retry ||
        (Dictionary_GetBooleanByKey(Info, "isRemote", &Remote) && Remote))
        return TRUE;
    void *Object = Class_ConvertFromInstanceId(Instance);
    if (Object == nullptr || ((ClassStruct *)Object)->ClassId != WORKFLOW_CLASSID) return TRUE;
    Workflow *Flow = static_cast<Workflow *>(Object);
    if (!Workflow_IsTaskQueued(Flow, "unload") && !Workflow_IsTaskRunning(Flow, "unload"))
        Workflow_QueueTask(Flow, "unload", nullptr, nullptr);
    return TRUE;
}

} // namespace

int32 HostWorker_IsRequested(void) { return CommandLine_IsFieldSet(nullptr, "wfworker"); }

int32 HostWorker_TakeHandOver(char *Reason, int32 Size) {
    char Path[512] = "";
    std::vector<char> Arguments(COMMAND_LINE_SIZE);
    if (!HostWorker_IsRequested() || !CommandLine_GetFieldByName(nullptr, "wfendpoint", Path, (int32)sizeof(Path)) ||
        Path[0] == 0 || !HandOverFile_Claim(Path, Platform_GetLauncherUid()) ||
        !HandOverFile_GetClaimed(nullptr, 0, Arguments.data(), (int32)Arguments.size()) || Arguments[0] == 0)
        return TRUE;
    if (CommandLine_Append(Arguments.data())) return TRUE;
    snprintf(Reason, (size_t)Size, "the elevated run's arguments do not fit the command line");
    return FALSE;
}

int32 HostWorker_CheckParent(char *Reason, int32 Size) {
    int32 Parent = 0;
    uint64 Start = 0;
    if (ReadParent(&Parent, &Start)) return TRUE;
    snprintf(Reason, (size_t)Size, "--wfworker needs --wfparent=<the parent's process id>.<its start time>");
    return FALSE;
}

int32 HostWorker_Run(void) {
    struct sigaction Action {};
    Action.sa_handler = OnWorkerSignal;
    sigemptyset(&Action.sa_mask);
    // The signals that end the host's run end the worker's alike.
    sigset_t Ending;
    HostJob_EndingSignals(&Ending);
    for (int Each = 1; Each < NSIG; Each++)
        if (sigismember(&Ending, Each) == 1) sigaction(Each, &Action, nullptr);
    int32 Parent = 0;
    uint64 ParentStart = 0;
    ReadParent(&Parent, &ParentStart);
    Log_Info("Workflow worker started\n");
    NotificationCenter_AddObserver("Workflow", "Status", &ObserverToken, OnWorkflowStatus);
    // A parent that is gone, already before the first tick or at any later
    // one, ends the worker at once: nothing more runs for it, and whoever
    // listens on its port now is not subscribed to. A killed parent is seen
    // either way: its connection drops (before the run it asked for had
    // completed), or it is no longer the process it was (once reaped). The
    // parent's disconnect after the run completed is the worker's normal
    // end; the run's end is still ticked before the loop stops.
    bool Orphaned = false, Dropped = false;
    while (!WorkflowApp_IsDisconnected() && WorkerSignals < 2) {
        if (Platform_GetProcessStartTime(Parent) != ParentStart) {
            Orphaned = true;
            break;
        }
        WorkflowApp_Process();
        if (WorkflowApp_IsRunInterrupted()) {
            Orphaned = Dropped = true;
            break;
        }
        WorkflowManager_Process();
        usleep(15000);
    }
    NotificationCenter_RemoveObserver("Workflow", "Status", &ObserverToken, OnWorkflowStatus);
    if (Orphaned) {
        if (Dropped)
            Log_Error("The connection to the parent process %d dropped before its run completed: the worker ends\n",
                      Parent);
        else Log_Error("The parent process %d has ended: the worker ends\n", Parent);
        WorkflowApp_SetExitCode(HOSTWORKER_EXIT_ORPHANED);
        // Its URL serves no one now, but the file that carries it should not
        // outlive both processes: it goes through the same owner checks as a
        // read (this process may be root; the path came from a command line).
        char Path[512] = "", Url[512] = "";
        if (CommandLine_GetFieldByName(nullptr, "wfendpoint", Path, (int32)sizeof(Path)) && Path[0] == '/' &&
            access(Path, F_OK) == 0)
            HandOverFile_Read(Path, Platform_GetLauncherUid(), Url, (int32)sizeof(Url));
    } else {
        for (int32 Pass = 0; Pass < 4; Pass++) WorkflowApp_Process();
    }
    for (int Each = 1; Each < NSIG; Each++)
        if (sigismember(&Ending, Each) == 1) signal(Each, SIG_DFL);
    Log_Info("Workflow worker ends\n");
    int32 Code = 0;
    WorkflowApp_GetExitCode(&Code);
    return Code;
}
