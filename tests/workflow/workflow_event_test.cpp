// Workflow events: queued events start one at a time in queue order, a run
// event does not wait, "unload" queued during "start" cancels the running
// leaves (a cancelled Sleep says "Wait cancelled") and runs after "start",
// an event without a task completes with "exists" false, and the workflow
// activates and deactivates once however many events overlap.
#include "workflow/workflow_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/notification/notification_center.h"
#include "tests/support/log_capture.h"
#include "tests/support/workflow_loop.h"

namespace {

const std::string DataDir = std::string(RUNTIME_SOURCE_DIR) + "/tests/workflow/data/";

std::vector<std::string> Finished;
std::vector<std::string> Activity;

int32 Record(Workflow *, void *User, Dictionary *Result) {
    uint32 Flag = 0;
    Dictionary_GetBooleanByKey(Result, "successful", &Flag);
    Finished.push_back(std::string(static_cast<const char *>(User)) + (Flag ? ":ok" : ":failed"));
    return TRUE;
}

int32 OnActivity(void *, const char *, const char *Name, const char *, Dictionary *) {
    Activity.emplace_back(Name);
    return TRUE;
}

int32 OnEventComplete(void *User, const char *, const char *, const char *, Dictionary *Info) {
    uint32 Exists = TRUE;
    Dictionary_GetBooleanByKey(Info, "exists", &Exists);
    char Name[64] = "";
    Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
    static_cast<std::vector<std::string> *>(User)->push_back(std::string(Name) + (Exists ? "" : ":missing"));
    return TRUE;
}

class WorkflowEventTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    std::vector<std::string> Completed;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "queue.yaml").c_str()));
        Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
        Finished.clear();
        Activity.clear();
        NotificationCenter_AddObserver("Workflow", "Activate", this, OnActivity);
        NotificationCenter_AddObserver("Workflow", "Deactivate", this, OnActivity);
        NotificationCenter_AddObserver("WorkflowEvent", "Complete", &Completed, OnEventComplete);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Workflow", "Activate", this, OnActivity);
        NotificationCenter_RemoveObserver("Workflow", "Deactivate", this, OnActivity);
        NotificationCenter_RemoveObserver("WorkflowEvent", "Complete", &Completed, OnEventComplete);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
    }
    void CompleteHeld(const char *Name) {
        Task *Held = nullptr;
        ASSERT_TRUE(Workflow_FindTaskByName(Flow, Name, &Held)) << Name;
        Task_Complete(Held, nullptr);
    }
};

TEST_F(WorkflowEventTest, QueuedEventsRunOneAtATimeInOrder) {
    Workflow_QueueTask(Flow, "h1", (void *)"h1", Record);
    Workflow_QueueTask(Flow, "a1", (void *)"a1", Record);
    Workflow_QueueTask(Flow, "a2", (void *)"a2", Record);
    EXPECT_TRUE(Workflow_IsTaskQueued(Flow, "a2"));
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 1; }));
    // A run event does not wait for the held queued one.
    Workflow_RunTask(Flow, "a3", (void *)"a3", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return Finished.size() == 1; }));
    EXPECT_EQ(Finished[0], "a3:ok");
    RunMainLoopPasses(10);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"h1", "a3"}));
    CompleteHeld("h1");
    ASSERT_TRUE(RunMainLoopUntil([] { return Finished.size() == 4; }, 10));
    EXPECT_EQ(Finished, (std::vector<std::string>{"a3:ok", "h1:ok", "a1:ok", "a2:ok"}));
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"h1", "a3", "a1", "a2"}));
    EXPECT_FALSE(Workflow_IsTaskQueued(Flow, "a2"));
    RunMainLoopPasses(5);
    // Overlapping events: one Activate, one Deactivate per idle-to-idle span.
    ASSERT_GE(Activity.size(), 2u);
    for (size_t Index = 0; Index < Activity.size(); Index++)
        EXPECT_EQ(Activity[Index], Index % 2 == 0 ? "Activate" : "Deactivate") << Index;
    EXPECT_EQ(Activity.size() % 2, 0u);
}

TEST_F(WorkflowEventTest, UnloadQueuedDuringStartCancelsTheLeaves) {
    Workflow_QueueTask(Flow, "start", (void *)"start", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 1; }));
    Workflow_QueueTask(Flow, "unload", (void *)"unload", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return Finished.size() == 2; }, 10));
    EXPECT_EQ(Finished, (std::vector<std::string>{"start:failed", "unload:ok"}));
    // The held leaf was cancelled, so the queue stopped before a1.
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"h1", "unload"}));
}

TEST_F(WorkflowEventTest, UnloadCancelsASleep) {
    Workflow_QueueTask(Flow, "sleeper", (void *)"sleeper", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return Captured.find("Waiting 600.00 seconds") != std::string::npos; }));
    Workflow_QueueTask(Flow, "unload", (void *)"unload", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return Finished.size() == 2; }, 10));
    EXPECT_EQ(Finished, (std::vector<std::string>{"sleeper:failed", "unload:ok"}));
    EXPECT_NE(Captured.find("Wait cancelled - "), std::string::npos);
}

TEST_F(WorkflowEventTest, MissingTaskCompletesUnsuccessfully) {
    Workflow_RunTask(Flow, "nothingHere", (void *)"nothingHere", Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return Finished.size() == 1; }));
    EXPECT_EQ(Finished[0], "nothingHere:failed");
    ASSERT_TRUE(RunMainLoopUntil([&] { return Completed.size() == 1; }));
    EXPECT_EQ(Completed[0], "nothingHere:missing");
}

} // namespace
