// The workflow-worker role of the host (see host_worker.h).
#include "host/host_worker.h"

#include <signal.h>
#include <unistd.h>

#include "runtime/command_line.h"
#include "runtime/log.h"
#include "workflow/workflow_app.h"
#include "workflow/workflow_app_life.h"
#include "workflow/workflow_app_tick.h"
#include "workflow/workflow_manager.h"

namespace {

volatile sig_atomic_t WorkerSignals = 0;
void OnWorkerSignal(int) { WorkerSignals = WorkerSignals + 1; }

} // namespace

int32 HostWorker_IsRequested(void) { return CommandLine_IsFieldSet(nullptr, "wfworker"); }

int32 HostWorker_Run(void) {
    struct sigaction Action {};
    Action.sa_handler = OnWorkerSignal;
    sigemptyset(&Action.sa_mask);
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    Log_Info("Workflow worker started\n");
    // The parent's disconnect ends the runs it asked for; their ends are
    // still ticked before the loop stops.
    while (!WorkflowApp_IsDisconnected() && WorkerSignals < 2) {
        WorkflowApp_Process();
        WorkflowManager_Process();
        usleep(15000);
    }
    for (int32 Pass = 0; Pass < 4; Pass++) WorkflowApp_Process();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    Log_Info("Workflow worker ends\n");
    int32 Code = 0;
    WorkflowApp_GetExitCode(&Code);
    return Code;
}
