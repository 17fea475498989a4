// Worker tasks: the run happens on a thread named "WorkerTask" and the
// completion on the main thread; a refused start runs no thread; cancels
// taken over by the type or not; joins before delete.
#include "workflow/tasks/worker_task.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "runtime/class.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "tests/support/workflow_loop.h"
#include "workflow/workflow.h"

namespace {

// A type object built on a worker: the behaviour comes from the test.
struct Blocking {
    ClassStruct Class;
    Task *Owner;
    WorkerTask *Worker;
    std::atomic<bool> Release{false};
    std::atomic<bool> RunStarted{false};
    std::string ThreadName;
    uint32 RunThread = 0;
    uint32 CompleteThread = 0;
    bool Refuse = false;
    bool TakeOverCancel = true;
    int32 Completions = 0;
};

Blocking *Current = nullptr;

std::string ReadThreadName(uint32 ThreadId) {
    char Path[64];
    snprintf(Path, sizeof(Path), "/proc/self/task/%u/comm", ThreadId);
    FILE *In = fopen(Path, "r");
    if (In == nullptr) return "";
    char Name[32] = {};
    if (fgets(Name, sizeof(Name), In) == nullptr) Name[0] = 0;
    fclose(In);
    std::string Text(Name);
    while (!Text.empty() && Text.back() == '\n') Text.pop_back();
    return Text;
}

int32 StartWork(WorkerTask *, void *User) { return static_cast<Blocking *>(User)->Refuse ? 0 : 1; }

int32 RunWork(WorkerTask *Worker, void *User) {
    Blocking *Self = static_cast<Blocking *>(User);
    Self->RunThread = Thread_GetCurrentId();
    Self->ThreadName = ReadThreadName(Self->RunThread);
    Self->RunStarted = true;
    while (!Self->Release) usleep(1000);
    WorkerTask_SetError(Worker, "%s", "Work_Error_Done");
    return TRUE;
}

int32 CancelWork(WorkerTask *, void *User) {
    Blocking *Self = static_cast<Blocking *>(User);
    if (!Self->TakeOverCancel) return 0;
    Task_AddErrorAlways(Self->Owner, TASK_ERROR_CANCELLED);
    Self->Release = true;
    return 1;
}

int32 CompleteWork(WorkerTask *Worker, void *User) {
    Blocking *Self = static_cast<Blocking *>(User);
    Self->CompleteThread = Thread_GetCurrentId();
    Self->Completions++;
    char Error[WORKERTASK_ERROR_SIZE];
    if (!Task_IsCancelled(Self->Owner) && WorkerTask_GetError(Worker, Error, (int32)sizeof(Error)))
        Task_AddError(Self->Owner, "%s", Error);
    Task_Complete(Self->Owner, nullptr);
    return TRUE;
}

int32 DeleteBlocking(void *HandleAddress) {
    Blocking *Self = *static_cast<Blocking **>(HandleAddress);
    Self->Release = true;
    WorkerTask_Join(Self->Worker);
    WorkerTask_Release(&Self->Worker);
    if (Current == Self) Current = nullptr;
    Self->~Blocking();
    Memory_Free(Self, (int32)sizeof(Blocking));
    *static_cast<Blocking **>(HandleAddress) = nullptr;
    return TRUE;
}

int32 BlockingCreate(void **Handle, Task *Owner) {
    Blocking *Self = new (Memory_AllocZero((int32)sizeof(Blocking))) Blocking();
    Class_InitHeader(Self, 0xb10c4000u, DeleteBlocking);
    Self->Owner = Owner;
    WorkerTask_Create(&Self->Worker);
    WorkerTask_SetTaskHandle(Self->Worker, Owner);
    WorkerTask_SetStartCallback(Self->Worker, Self, StartWork);
    WorkerTask_SetRunCallback(Self->Worker, Self, RunWork);
    WorkerTask_SetCancelCallback(Self->Worker, Self, CancelWork);
    WorkerTask_SetCompleteCallback(Self->Worker, Self, CompleteWork);
    Current = Self;
    *Handle = Self;
    return TRUE;
}

void *BlockingAddRef(void *Handle) { return Class_AddRef(Handle); }
int32 BlockingRelease(void **Handle) { return Class_Release(Handle); }

const TaskInterface Blocking_INTERFACE = {"Blocking", BlockingCreate, BlockingAddRef, BlockingRelease};

class WorkerTaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    Task *Made = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        Workflow_RegisterTaskHandler(Flow, &Blocking_INTERFACE);
        const char Text[] = "{\"work\": {\"type\": \"Blocking\", \"ignoreError\": true}}";
        Workflow_LoadBuffer(Flow, Text, (int32)sizeof(Text) - 1);
        ASSERT_TRUE(Workflow_CreateTask(Flow, "work", nullptr, nullptr, &Made));
        ASSERT_NE(Current, nullptr);
    }
    void TearDown() override {
        Workflow_Release(&Flow);
        // Pending sub-action events hold the task until they are delivered.
        EXPECT_TRUE(RunMainLoopUntil([] { return Current == nullptr; }));
        WorkflowTest::TearDown();
    }
};

TEST_F(WorkerTaskTest, RunsOnNamedThreadAndCompletesOnMain) {
    Task_Start(Made);
    ASSERT_TRUE(RunMainLoopUntil([] { return Current->RunStarted.load(); }));
    EXPECT_FALSE(Task_IsCompleted(Made));
    Current->Release = true;
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
    EXPECT_EQ(Current->ThreadName, "WorkerTask");
    EXPECT_NE(Current->RunThread, Thread_GetMainId());
    EXPECT_EQ(Current->CompleteThread, Thread_GetMainId());
    // The run's error is ignored by the definition: the task succeeded.
    EXPECT_FALSE(Task_HasError(Made, nullptr));
}

TEST_F(WorkerTaskTest, RefusedStartRunsNoThread) {
    Current->Refuse = true;
    Task_Start(Made);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
    EXPECT_EQ(Current->RunThread, 0u);
    EXPECT_EQ(Current->Completions, 1);
}

TEST_F(WorkerTaskTest, CancelTakenOverCompletesAsCancelled) {
    Task_Start(Made);
    ASSERT_TRUE(RunMainLoopUntil([] { return Current->RunStarted.load(); }));
    EXPECT_TRUE(Task_Cancel(Made));
    EXPECT_FALSE(Task_Cancel(Made));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
    EXPECT_TRUE(Task_IsCancelled(Made));
    EXPECT_FALSE(Task_HasError(Made, "Work_Error_Done"));
}

TEST_F(WorkerTaskTest, CancelNotTakenOverCompletesAtOnce) {
    Current->TakeOverCancel = false;
    Task_Start(Made);
    ASSERT_TRUE(RunMainLoopUntil([] { return Current->RunStarted.load(); }));
    EXPECT_TRUE(Task_Cancel(Made));
    EXPECT_TRUE(Task_IsCompleted(Made));
    EXPECT_TRUE(Task_IsCancelled(Made));
    Current->Release = true;
    EXPECT_TRUE(RunMainLoopUntil([] { return Current->Completions == 1; }));
}

using WorkerTaskDeathTest = WorkerTaskTest;

TEST_F(WorkerTaskDeathTest, DeleteBeforeJoinIsAFatalStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Task_Start(Made);
            ASSERT_TRUE(RunMainLoopUntil([] { return Current->RunStarted.load(); }));
            WorkerTask_Delete(&Current->Worker);
        },
        "Worker task requires join before delete");
    Task_Complete(Made, nullptr);
}

TEST(WorkerTaskError, TranslateForms) {
    RuntimeScope Scope;
    WorkerTask *Worker = nullptr;
    WorkerTask_Create(&Worker);
    auto Translate = [](int32 Code) -> const char * { return Code == 0 ? "None" : Code == 5 ? "Five" : "Unknown"; };
    struct Case {
        int32 Code;
        const char *Expected;
    } Cases[] = {{0, "Mod_None"}, {5, "Mod_Five"}, {7, "Mod_7"}};
    for (const Case &Each : Cases) {
        WorkerTask_SetErrorFromTranslate(Worker, "Mod", Each.Code, Translate);
        char Text[64];
        EXPECT_TRUE(WorkerTask_GetError(Worker, Text, (int32)sizeof(Text)));
        EXPECT_STREQ(Text, Each.Expected);
    }
    WorkerTask_Release(&Worker);
}

} // namespace
