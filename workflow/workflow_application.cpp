// The application's hooks into the engine (see workflow_application.h).
#include "workflow/workflow_application.h"

namespace {

// Set before the workflows that read it run (see the header).
WorkflowApplication Hooks{};

} // namespace

int32 WorkflowApplication_Set(const WorkflowApplication *Application) {
    Hooks = Application != nullptr ? *Application : WorkflowApplication{};
    return TRUE;
}

int32 WorkflowApplication_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    auto Expand = Hooks.ExpandKey;
    return Expand != nullptr ? Expand(User, Name, Argument, Output, Size) : FALSE;
}

int32 WorkflowApplication_GetVerbose(void) {
    auto Get = Hooks.GetVerbose;
    return Get != nullptr ? Get() : 0;
}

int32 WorkflowApplication_IsShuttingDown(void) {
    auto Is = Hooks.IsShuttingDown;
    return Is != nullptr ? Is() : FALSE;
}

int32 WorkflowApplication_IsWorker(void) {
    auto Is = Hooks.IsWorker;
    return Is != nullptr ? Is() : FALSE;
}

int32 WorkflowApplication_IsTaskInWorkflow(const char *TaskId, const char *WorkflowId, uint32 Recursive) {
    auto Is = Hooks.IsTaskInWorkflow;
    return Is != nullptr ? Is(TaskId, WorkflowId, Recursive) : FALSE;
}

TaskTypeList *WorkflowApplication_GetTaskTypeListHandle(void) {
    auto Get = Hooks.GetTaskTypeListHandle;
    return Get != nullptr ? Get() : nullptr;
}

int32 WorkflowApplication_GetContentPlace(char *Output, int32 Size) {
    if (Size > 0) Output[0] = 0;
    auto Get = Hooks.GetContentPlace;
    return Get != nullptr ? Get(Output, Size) : FALSE;
}
