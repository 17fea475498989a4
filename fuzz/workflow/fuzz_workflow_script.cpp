// The workflow family's script classes on what a page sends them: arbitrary
// bytes as the JSON request of a method call to "TQX.WorkflowApp",
// "TQX.Workflow", "TQX.Task", "TQX.WorkflowManager" or
// "TQX.ScriptTaskHandler" (the first byte picks the class). Methods that end
// the process or load libraries by path are left out. Checks: answers are 1
// or 0, an answered call leaves exactly one JSON object in the result stream,
// and nothing stops the process.
#include <stdint.h>
#include <string.h>

#include <string>

#include "crypto/trust/authenticate.h"
#include "runtime/debug.h"
#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/documents/json.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_interop.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/workflow_manager.h"

namespace {

constexpr char Document[] = R"({"job": {"type": "Log", "message": "{AppVersion}", "success": "done"}, "done": {"type": "Log", "message": "done"}})";

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

// The request's method, as the bridge will read it; "" when none.
std::string MethodOf(const std::string &Text) {
    JSON *Reader = nullptr;
    Dictionary *Tree = nullptr, *Inner = nullptr;
    JSON_Create(&Reader);
    JSON_SetPrintCallback(Reader, nullptr, Quiet);
    Dictionary_Create(&Tree);
    JSON_SetDictionaryHandle(Reader, Tree);
    std::string Method;
    const char *Name = nullptr;
    if (JSON_LoadBuffer(Reader, Text.c_str(), (int32)Text.size()) == 1 && Dictionary_SkipRoot(Tree, &Inner) &&
        Inner != nullptr && Dictionary_GetStringPtrByKey(Inner, "method", &Name) && Name != nullptr)
        Method = Name;
    JSON_Release(&Reader);
    Dictionary_Release(&Tree);
    return Method;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/fuzz-workflow-script.log", nullptr, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
    if (Length < 1 || Length > 1 << 16) return 0;
    std::string Text(reinterpret_cast<const char *>(Data + 1), Length - 1);
    Text.resize(strnlen(Text.c_str(), Text.size()));
    for (const char *Left : {"crash", "loadInterop", "unloadInterop", "implode"})
        if (String_CompareWithoutCase(MethodOf(Text).c_str(), Left)) return 0;

    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    Interop_Init();
    WorkflowApp_InitInterop();
    WorkflowManager_Init();
    Workflow *Flow = nullptr;
    Task *Job = nullptr;
    Workflow_Create(&Flow);
    Workflow_LoadBuffer(Flow, Document, (int32)sizeof(Document) - 1);
    Workflow_CreateTask(Flow, "job", nullptr, nullptr, &Job);

    static const char *const Classes[] = {"TQX.WorkflowApp", "TQX.Workflow", "TQX.Task", "TQX.WorkflowManager",
                                          "TQX.ScriptTaskHandler"};
    int Pick = Data[0] % 5;
    char Id[INTEROP_ID_SIZE] = "";
    if (Pick == 1) Class_CopyInstanceId(Flow, Id, (int32)sizeof(Id));
    if (Pick == 2) Class_CopyInstanceId(Job, Id, (int32)sizeof(Id));
    Check(Interop_DispatchCreateInstance(Classes[Pick], Id, (int32)sizeof(Id), nullptr, nullptr, nullptr) == 1);
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    int32 Answer = Interop_DispatchInvokeJSON(Id, Text.c_str(), Stream);
    Check(Answer == 0 || Answer == 1);
    if (Answer == 1) {
        const char *Pointer = nullptr;
        MemoryStream_GetPointer(Stream, &Pointer);
        Check(MemoryStream_GetUsed(Stream) > 1 && Pointer[0] == '{');
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);

    for (int Pass = 0; Pass < 3; Pass++) {
        EventQueue_Flush(nullptr);
        NotificationCenter_Process();
        Interop_Process();
    }
    Interop_RemoveInstancesActiveInRequester(nullptr);
    Interop_Process();
    Workflow_CancelTasks(Flow);
    EventQueue_Flush(nullptr);
    NotificationCenter_Process();
    Workflow_Release(&Flow);
    WorkflowManager_Remove();
    Interop_Remove();
    WorkflowApp_Remove();
    WorkflowApp_SetExitCode(0);
    Authenticate_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    return 0;
}
