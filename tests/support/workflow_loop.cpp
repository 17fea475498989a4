#include "tests/support/workflow_loop.h"

#include <chrono>

#include "crypto/trust/authenticate.h"
#include "runtime/class.h"
#include "runtime/event_queue.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "workflow/app/workflow_app.h"

namespace {

std::function<void()> ExtraTick;
std::vector<std::string> Starts;
std::vector<std::string> Completions;

void OnePass() {
    EventQueue_Flush(nullptr);
    NotificationCenter_Process();
    if (ExtraTick) ExtraTick();
}

struct TestTaskObject {
    ClassStruct Class;
    Task *Owner;
};

constexpr uint32 TestTaskClassId = 0x7e57ba5eu;

int32 OnTestStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<TestTaskObject *>(User)->Owner;
    Starts.emplace_back(Task_GetNamePtr(Owner));
    char Outcome[64];
    if (!Task_GetStringArgument(Owner, "outcome", Outcome, (int32)sizeof(Outcome))) String_Copy(Outcome, "success");
    if (String_CompareWithoutCase(Outcome, "hold")) return TRUE;
    if (String_CompareWithoutCase(Outcome, "fail")) Task_AddError(Owner, "%s", "Test_Error_Failed");
    Task_Complete(Owner, nullptr);
    return TRUE;
}

int32 OnTestComplete(void *User, const char *, const char *, const char *, Dictionary *) {
    Completions.emplace_back(Task_GetNamePtr(static_cast<TestTaskObject *>(User)->Owner));
    return TRUE;
}

int32 DeleteTestTask(void *HandleAddress) {
    TestTaskObject *Self = *static_cast<TestTaskObject **>(HandleAddress);
    const char *Id = ((ClassStruct *)Self->Owner)->InstanceId;
    NotificationCenter_RemoveInstanceObserver("Task", "Start", Id, Self, OnTestStart);
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", Id, Self, OnTestComplete);
    Memory_Delete(Self);
    *static_cast<TestTaskObject **>(HandleAddress) = nullptr;
    return TRUE;
}

int32 TestTaskCreate(void **Handle, Task *Owner) {
    TestTaskObject *Self = Memory_New(TestTaskObject);
    Class_InitHeader(Self, TestTaskClassId, DeleteTestTask);
    Self->Owner = Owner;
    const char *Id = ((ClassStruct *)Owner)->InstanceId;
    NotificationCenter_AddInstanceObserver("Task", "Start", Id, Self, OnTestStart);
    NotificationCenter_AddInstanceObserver("Task", "Complete", Id, Self, OnTestComplete);
    *Handle = Self;
    return TRUE;
}

void *TestTaskAddRef(void *Handle) { return Class_AddRef(Handle); }
int32 TestTaskRelease(void **Handle) { return Class_Release(Handle); }

} // namespace

const TaskInterface TestTask_INTERFACE = {"Test", TestTaskCreate, TestTaskAddRef, TestTaskRelease};

std::vector<std::string> &TestTaskStarts() { return Starts; }
std::vector<std::string> &TestTaskCompletions() { return Completions; }

bool RunMainLoopUntil(const std::function<bool()> &Condition, double TimeoutSeconds) {
    // Real time, not Time_GetCurrent: while a test holds its test clock
    // still, that deadline would never come.
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(TimeoutSeconds);
    for (;;) {
        OnePass();
        if (Condition()) return true;
        if (std::chrono::steady_clock::now() >= Deadline) return false;
        Thread_Wait(2);
    }
}

void RunMainLoopPasses(int Passes) {
    for (int Pass = 0; Pass < Passes; Pass++) OnePass();
}

void SetMainLoopTick(std::function<void()> Tick) { ExtraTick = std::move(Tick); }

void WorkflowTest::SetUp() {
    RuntimeTest::SetUp();
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    WorkflowApp_Init();
    TaskTypeList_Add(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
    Starts.clear();
    Completions.clear();
}

void WorkflowTest::TearDown() {
    RunMainLoopPasses(3);
    SetMainLoopTick(nullptr);
    WorkflowApp_Remove();
    Authenticate_Remove();
    NotificationCenter_Remove();
    EventQueue_Remove();
    Thread_Remove();
    Time_TestClockStop();
    RuntimeTest::TearDown();
}
