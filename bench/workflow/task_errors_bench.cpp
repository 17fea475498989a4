// Errors a running task gathers: N distinct errors added to one task, then
// its completion, with the workflow manager observing and relaying every
// task event as in the host.
//
//   BM_AddErrors/N
//
// Counter per_error: processor time per error, adding and completing (the
// loop never waits). For a flat cost, per_error at 100,000 stays near its
// figure at 1,000; an add that copied the list it had made it grow with N.
#include <benchmark/benchmark.h>

#include "crypto/trust/authenticate.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/task.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_manager.h"

namespace {

int32 Quiet(const char *) { return 1; }

void BM_AddErrors(benchmark::State &State) {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/task-errors-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    WorkflowManager_Init();
    const int32 Count = (int32)State.range(0);
    for (auto _ : State) {
        Task *Owner = nullptr;
        Task_Create(&Owner);
        Task_Start(Owner);
        for (int32 Index = 0; Index < Count; Index++) Task_AddError(Owner, "Bench_Error_%d", Index);
        Task_Complete(Owner, nullptr);
        WorkflowApp_Process();
        WorkflowManager_Process();
        int32 Held = 0;
        Task_GetErrorCount(Owner, &Held);
        if (Held != Count) State.SkipWithError("errors were lost");
        Task_Release(&Owner);
    }
    State.counters["per_error"] = benchmark::Counter((double)State.iterations() * Count,
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    WorkflowManager_Remove();
    WorkflowApp_Remove();
    Authenticate_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    Debug_Remove();
}

} // namespace

BENCHMARK(BM_AddErrors)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
