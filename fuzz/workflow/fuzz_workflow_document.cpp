// The workflow document loader on arbitrary bytes: the first byte picks JSON
// from memory or a file read as JSON or YAML by its extension. Whatever
// loads, every top-level task is then created (names expanded as macros,
// templates followed as paths) and its arguments read and expanded. Checks:
//   - a failed load leaves the workflow's document unchanged (empty);
//   - no load, creation or expansion reads or writes out of bounds, and
//     document text never acts as a format.
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

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
#include "tests/support/temp_root.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

bool Start() {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/fuzz-workflow.log", nullptr, 0);
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    return true;
}

bool LoadFromFile(Workflow *Flow, const char *Extension, const char *Text, size_t Length) {
    std::string Path = TempRoot() + "/fuzz-workflow-" + std::to_string(getpid()) + Extension;
    FILE *Out = fopen(Path.c_str(), "wb");
    if (Out == nullptr) return false;
    fwrite(Text, 1, Length, Out);
    fclose(Out);
    bool Loaded = Workflow_LoadFile(Flow, Path.c_str()) != 0;
    unlink(Path.c_str());
    return Loaded;
}

void ExerciseTasks(Workflow *Flow) {
    Dictionary *Document = nullptr;
    Workflow_GetDictionaryHandle(Flow, &Document);
    DictionaryItem *Item = nullptr;
    int32 Budget = 64;
    for (Dictionary_ItemGetFirst(Document, &Item); Item != nullptr && Budget-- > 0;
         Dictionary_ItemGetNext(Document, Item, &Item)) {
        const char *Name = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Document, Item, &Name) || Name == nullptr) continue;
        Task *Made = nullptr;
        if (!Workflow_CreateTask(Flow, Name, nullptr, nullptr, &Made)) continue;
        char Buffer[1024];
        uint32 Flag = 0;
        float64 Number = 0;
        for (const char *Argument : {"url", "title", "status", "template", "store", "ignoreError"}) {
            Task_GetStringArgument(Made, Argument, Buffer, (int32)sizeof(Buffer));
            Task_GetMultiStringArgument(Made, Argument, Buffer, (int32)sizeof(Buffer));
            Task_GetBooleanArgument(Made, Argument, &Flag);
            Task_GetNumberArgument(Made, Argument, &Number);
        }
        Task_IsAuthenticationRequired(Made);
    }
    Workflow_ClearTasks(Flow);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Start();
    (void)Started;
    if (Size < 1 || Size > 1 << 18) return 0;
    const char *Text = reinterpret_cast<const char *>(Data + 1);
    const size_t Length = Size - 1;
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    Workflow_SetPrintCallback(Flow, nullptr, Quiet);
    Workflow_AddMacro(Flow, "which", "%s%n{which}"); // not a format: the value proves macros are never formats
    bool Loaded = false;
    switch (Data[0] % 3) {
    case 0: Loaded = Workflow_LoadBuffer(Flow, Text, (int32)Length) != 0; break;
    case 1: Loaded = LoadFromFile(Flow, ".json", Text, Length); break;
    default: Loaded = LoadFromFile(Flow, ".yaml", Text, Length); break;
    }
    Dictionary *Document = nullptr;
    Workflow_GetDictionaryHandle(Flow, &Document);
    int32 Count = 0;
    Dictionary_ItemGetCount(Document, &Count);
    Check(Loaded || Count == 0);
    if (Loaded) ExerciseTasks(Flow);
    Workflow_Release(&Flow);
    EventQueue_Flush(nullptr);
    NotificationCenter_Process();
    return 0;
}
