// One script call through the bridge (the JSON request parsed, the selector
// hashed, the dispatcher run, the answer written as JSON) for the workflow
// family's classes beside the core family's stateless "TQX.Platform": a
// "TQX.WorkflowApp" getter, a "TQX.WorkflowApp" configuration read and a
// "TQX.Task" argument read on a task of a loaded workflow.
#include <benchmark/benchmark.h>

#include "crypto/trust/authenticate.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/tasks/script_task.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_interop.h"

namespace {

constexpr char Document[] = R"({"job": {"type": "Held", "who": "{AppVersion} and more"}})";

Workflow *Flow = nullptr;
Task *Job = nullptr;

void StartRuntime() {
    static const bool Started = [] {
        Crypto_Register();
        PlatformServices_Register();
        Content_Register();
        Net_Register();
        Debug_Init("/tmp/workflow-script-bench.log", nullptr, 0);
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
        Authenticate_Init();
        WorkflowApp_Init();
        Interop_Init();
        WorkflowApp_InitInterop();
        ScriptTaskHandler_Register("Held");
        Workflow_Create(&Flow);
        Workflow_LoadBuffer(Flow, Document, (int32)sizeof(Document) - 1);
        Workflow_CreateTask(Flow, "job", nullptr, nullptr, &Job);
        return true;
    }();
    (void)Started;
}

void Call(benchmark::State &State, const char *ClassName, const char *GivenId, const char *Request) {
    StartRuntime();
    char Id[INTEROP_ID_SIZE] = "";
    if (GivenId != nullptr) Class_CopyInstanceId(GivenId, Id, (int32)sizeof(Id));
    if (!Interop_DispatchCreateInstance(ClassName, Id, (int32)sizeof(Id), nullptr, nullptr, nullptr)) {
        State.SkipWithError("no instance");
        return;
    }
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    if (Interop_DispatchInvokeJSON(Id, Request, Stream) != 1) State.SkipWithError("call failed");
    for (auto _ : State) benchmark::DoNotOptimize(Interop_DispatchInvokeJSON(Id, Request, Stream));
    MemoryStream_Release(&Stream);
    Interop_DispatchReleaseInstance(Id);
    Interop_Process();
}

void BM_PlatformGetBitness(benchmark::State &State) {
    Call(State, "TQX.Platform", nullptr, R"({"method":"getBitness"})");
}
void BM_WorkflowAppGetExitCode(benchmark::State &State) {
    Call(State, "TQX.WorkflowApp", nullptr, R"({"method":"getExitCode"})");
}
void BM_WorkflowAppGetConfig(benchmark::State &State) {
    Call(State, "TQX.WorkflowApp", nullptr, R"({"method":"getConfig","key":"storage.requests","defaultValue":""})");
}
void BM_TaskGetStringArgument(benchmark::State &State) {
    StartRuntime();
    Call(State, "TQX.Task", reinterpret_cast<const char *>(Job), R"({"method":"getStringArgument","name":"who"})");
}

BENCHMARK(BM_PlatformGetBitness)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkflowAppGetExitCode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkflowAppGetConfig)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TaskGetStringArgument)->Unit(benchmark::kMicrosecond);

} // namespace
