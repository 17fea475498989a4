// A workflow whose "start" is a Queue of 10,000 (and 1,000) Status tasks (no Log lines)
// run through a workflow event to completion on the tick loop; the figure
// is reported per task.
#include <benchmark/benchmark.h>

#include <string>

#include "core/crypto/authenticate.h"
#include "core/debug.h"
#include "core/event_queue.h"
#include "core/notification_center.h"
#include "core/thread.h"
#include "workflow/workflow.h"
#include "workflow/workflow_app.h"
#include "workflow/workflow_event.h"

namespace {

int32 Quiet(const char *) { return 1; }

int32 OnDone(Workflow *, void *User, Dictionary *Result) {
    uint32 Flag = 0;
    Dictionary_GetBooleanByKey(Result, "successful", &Flag);
    *static_cast<int *>(User) = Flag ? 1 : -1;
    return TRUE;
}

std::string Document(int TaskCount) {
    std::string Text = "{\"start\":{\"type\":\"Queue\",\"actions\":[";
    for (int Index = 0; Index < TaskCount; Index++) Text += (Index ? ",\"t" : "\"t") + std::to_string(Index) + "\"";
    Text += "]}";
    for (int Index = 0; Index < TaskCount; Index++)
        Text += ",\"t" + std::to_string(Index) + "\":{\"type\":\"Status\",\"step\":" + std::to_string(Index) + "}";
    return Text + "}";
}

void BM_QueueOfStatusTasks(benchmark::State &State) {
    const int TaskCount = (int)State.range(0);
    Debug_Init("/tmp/queue-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    std::string Text = Document(TaskCount);
    for (auto _ : State) {
        Workflow *Flow = nullptr;
        Workflow_Create(&Flow);
        Workflow_LoadBuffer(Flow, Text.data(), (int32)Text.size());
        int Done = 0;
        Workflow_RunTask(Flow, "start", &Done, OnDone);
        while (Done == 0) {
            EventQueue_Flush(nullptr);
            NotificationCenter_Process();
        }
        if (Done != 1) State.SkipWithError("the queue failed");
        Workflow_Release(&Flow);
    }
    State.SetItemsProcessed(State.iterations() * TaskCount);
    State.counters["per_task"] =
        benchmark::Counter((double)State.iterations() * TaskCount, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    WorkflowApp_Remove();
    Authenticate_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    Debug_Remove();
}

} // namespace

BENCHMARK(BM_QueueOfStatusTasks)->Arg(10000)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
