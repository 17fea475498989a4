// Workflows of trivial tasks run through the whole engine: the workflow
// manager observes and relays every task event, as in the host, and the loop
// steps the application and the manager as the host's loop does.
//
//   BM_Queue/N/kind            one "start" Queue of N tasks
//   BM_QueueOfQueues/Q/N       one "start" Queue of Q Queues of N Log tasks
//
// kind 0 is Log with empty text, 1 Macro with one key, 2 StringCompare, 3
// one Log task that the Queue names N times (each start checks its
// definition again). Goal for kinds 0, 1 and 3: the check of a task's
// arguments costs at most 2% of its instructions over an engine without it
// (valgrind --tool=callgrind, instructions being what a busy machine keeps).
// Counters: per_task (processor time per leaf task: the loop never waits,
// and the figure holds on a busy machine) and peak_MB (the process's peak
// resident set during the run; the peak is reset before each run, Linux's
// clear_refs 5; the allocator keeps what an earlier, larger run freed, so
// run one size per process for its own peak). For a flat cost, per_task at 100,000 stays near its figure
// at 1,000. On a virtual machine whose kernel hands freed memory back to its
// host, a run that follows another within seconds reuses memory the host
// still backs; for the figure a user meets, run each size in its own process
// after a few seconds' pause.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "crypto/trust/authenticate.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager.h"

namespace {

int32 Quiet(const char *) { return 1; }

int32 OnDone(Workflow *, void *User, Dictionary *Result) {
    uint32 Flag = 0;
    Dictionary_GetBooleanByKey(Result, "successful", &Flag);
    *static_cast<int *>(User) = Flag ? 1 : -1;
    return TRUE;
}

std::string Leaf(int Kind) {
    switch (Kind) {
        case 1: return "{\"type\":\"Macro\",\"key\":\"k\",\"value\":\"v\"}";
        case 2: return "{\"type\":\"StringCompare\",\"stringOne\":\"a\",\"stringTwo\":\"a\"}";
        default: return "{\"type\":\"Log\",\"message\":\"\"}";
    }
}

std::string Names(const char *Prefix, int Count) {
    std::string Text;
    for (int Index = 0; Index < Count; Index++)
        Text += (Index ? ",\"" : "\"") + std::string(Prefix) + std::to_string(Index) + "\"";
    return Text;
}

// "start": a Queue of Queues q0.. of Each leaves (Queues 0: of the leaves).
std::string Document(int Queues, int Each, int Kind) {
    std::string Text = "{";
    if (Queues == 0 && Kind == 3) {
        std::string Same;
        for (int Index = 0; Index < Each; Index++) Same += Index ? ",\"t\"" : "\"t\"";
        return Text + "\"start\":{\"type\":\"Queue\",\"actions\":[" + Same + "]},\"t\":" + Leaf(0) + "}";
    }
    if (Queues == 0) {
        Text += "\"start\":{\"type\":\"Queue\",\"actions\":[" + Names("t", Each) + "]}";
        for (int Index = 0; Index < Each; Index++) Text += ",\"t" + std::to_string(Index) + "\":" + Leaf(Kind);
        return Text + "}";
    }
    Text += "\"start\":{\"type\":\"Queue\",\"actions\":[" + Names("q", Queues) + "]}";
    for (int Queue = 0; Queue < Queues; Queue++) {
        std::string Prefix = "q" + std::to_string(Queue) + "t";
        Text += ",\"q" + std::to_string(Queue) + "\":{\"type\":\"Queue\",\"actions\":[" + Names(Prefix.c_str(), Each) + "]}";
        for (int Index = 0; Index < Each; Index++) Text += ",\"" + Prefix + std::to_string(Index) + "\":" + Leaf(Kind);
    }
    return Text + "}";
}

void ResetPeak() {
    if (FILE *File = fopen("/proc/self/clear_refs", "w")) {
        fputs("5", File);
        fclose(File);
    }
}

double PeakMegabytes() {
    double Peak = 0;
    if (FILE *File = fopen("/proc/self/status", "r")) {
        char Line[256];
        while (fgets(Line, sizeof(Line), File))
            if (strncmp(Line, "VmHWM:", 6) == 0) Peak = atof(Line + 6) / 1024.0;
        fclose(File);
    }
    return Peak;
}

void Run(benchmark::State &State, int Queues, int Each, int Kind) {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/queue-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    WorkflowManager_Init();
    const std::string Text = Document(Queues, Each, Kind);
    const double Leaves = (double)Each * (Queues > 0 ? Queues : 1);
    double Peak = 0;
    for (auto _ : State) {
        State.PauseTiming();
        ResetPeak();
        State.ResumeTiming();
        Workflow *Flow = nullptr;
        Workflow_Create(&Flow);
        Workflow_LoadBuffer(Flow, Text.data(), (int32)Text.size());
        int Done = 0;
        Workflow_RunTask(Flow, "start", &Done, OnDone);
        while (Done == 0) {
            WorkflowApp_Process();
            WorkflowManager_Process();
        }
        if (Done != 1) State.SkipWithError("the queue failed");
        Workflow_Release(&Flow);
        State.PauseTiming();
        double Now = PeakMegabytes();
        if (Now > Peak) Peak = Now;
        State.ResumeTiming();
    }
    State.counters["per_task"] =
        benchmark::Counter((double)State.iterations() * Leaves, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    State.counters["peak_MB"] = Peak;
    WorkflowManager_Remove();
    WorkflowApp_Remove();
    Authenticate_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    Debug_Remove();
}

void BM_Queue(benchmark::State &State) { Run(State, 0, (int)State.range(0), (int)State.range(1)); }
void BM_QueueOfQueues(benchmark::State &State) { Run(State, (int)State.range(0), (int)State.range(1), 0); }

} // namespace

BENCHMARK(BM_Queue)
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({100000, 0})
    ->Args({10000, 1})
    ->Args({10000, 2})
    ->Args({10000, 3})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_QueueOfQueues)->Args({10, 100})->Args({100, 100})->Args({300, 100})->Args({1000, 100})->Unit(benchmark::kMillisecond)->Iterations(1);
