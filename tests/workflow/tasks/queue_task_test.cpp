// Queue task: concurrency limits (-1 starts all, 1 serialises, 0 and below
// -1 run nothing), "currentAction" and progress in the status, and a failed
// action failing the queue while actions still running start the rest.
// Every progress report carries the action's result and the figures, as a
// report made afresh would, also where an earlier report serves again.
#include "workflow/tasks/queue_task.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "tests/support/json_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/workflow_event.h"

namespace {

std::vector<float64> CurrentActions, Progress;

int32 OnStatus(void *, const char *, const char *, const char *, Dictionary *Info) {
    float64 Value = 0;
    if (Info == nullptr) return TRUE;
    if (Dictionary_GetFloat64ByKey(Info, "currentAction", &Value)) CurrentActions.push_back(Value);
    if (Dictionary_ContainsKey(Info, "totalActions") && Dictionary_GetFloat64ByKey(Info, "progress", &Value))
        Progress.push_back(Value);
    return TRUE;
}

class QueueTaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "queue.yaml").c_str()));
        Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
        CurrentActions.clear();
        Progress.clear();
        NotificationCenter_AddObserver("Task", "Status", this, OnStatus);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Task", "Status", this, OnStatus);
        Workflow_CancelTasks(Flow);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
    }
    bool Printed(const std::string &Text) { return Captured.find(Text) != std::string::npos; }
    void CompleteHeld(const char *Name) {
        Task *Held = nullptr;
        ASSERT_TRUE(Workflow_FindTaskByName(Flow, Name, &Held)) << Name;
        Task_Complete(Held, nullptr);
    }
};

TEST_F(QueueTaskTest, SerialRunsInOrder) {
    Outcome Out;
    Workflow_RunTask(Flow, "serial", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_TRUE(Out.Successful);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(CurrentActions, (std::vector<float64>{1, 2, 3}));
    ASSERT_FALSE(Progress.empty());
    EXPECT_DOUBLE_EQ(Progress.back(), 1.0);
}

TEST_F(QueueTaskTest, MinusOneStartsAll) {
    Outcome Out;
    Workflow_RunTask(Flow, "all", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([&] { return TestTaskStarts().size() == 5; }));
    EXPECT_TRUE(Printed("Set 5 concurrent actions"));
    EXPECT_FALSE(Out.Done);
    for (const char *Name : {"h3", "h1", "h5", "h2", "h4"}) CompleteHeld(Name);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_TRUE(Out.Successful);
}

TEST_F(QueueTaskTest, FailureStopsTheRest) {
    Outcome Out;
    Workflow_RunTask(Flow, "stopAtFailure", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_FALSE(Out.Successful);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"a1", "bad"}));

    // With two at once, the held action's later success goes on starting the
    // rest, yet the queue stays failed.
    TestTaskStarts().clear();
    Outcome Second;
    Workflow_RunTask(Flow, "failureWhileOthersRun", &Second, Record);
    ASSERT_TRUE(RunMainLoopUntil([&] { return TestTaskStarts().size() == 2; }));
    RunMainLoopPasses(5);
    EXPECT_FALSE(Second.Done);
    CompleteHeld("h1");
    ASSERT_TRUE(RunMainLoopUntil([&] { return Second.Done; }));
    EXPECT_FALSE(Second.Successful);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"h1", "bad", "a2", "a3"}));
}

TEST_F(QueueTaskTest, LimitsThatRunNothing) {
    struct Case {
        const char *Name;
        bool Successful;
        const char *Error;
    } Cases[] = {
        {"zero", true, ""},
        {"belowMinusOne", false, "Task_Error_InvalidArg"},
        {"empty", true, ""},
        {"noActions", false, "Task_Error_MissingArg"},
    };
    for (const Case &Each : Cases) {
        Outcome Out;
        Workflow_RunTask(Flow, Each.Name, &Out, Record);
        ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; })) << Each.Name;
        EXPECT_EQ(Out.Successful, Each.Successful) << Each.Name;
        EXPECT_NE(Out.Errors.find(Each.Error), std::string::npos) << Each.Name;
        EXPECT_TRUE(TestTaskStarts().empty()) << Each.Name;
    }
}

} // namespace

namespace {

std::string Text(Dictionary *Change) { return JsonText(Change); }

struct Reports {
    std::vector<std::string> Seen;
    std::vector<std::pair<Dictionary *, std::string>> Kept; // with its text at the fire
    int Mode = 0;                                          // 1 keeps the report, 2 writes into it
};

int32 OnReport(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Reports *All = static_cast<Reports *>(User);
    All->Seen.push_back(Text(Info));
    if (All->Mode == 1) All->Kept.emplace_back(Dictionary_AddRef(Info), All->Seen.back());
    if (All->Mode == 2) Dictionary_SetBooleanByKey(Info, "successful", FALSE);
    return TRUE;
}

} // namespace

TEST_F(QueueTaskTest, ProgressReportsMatchFreshOnes) {
    struct Case {
        const char *Result; // JSON, or null for none
        int Actions;        // added before the report
        int Mode;
    };
    const std::vector<Case> Cases = {
        {nullptr, 0, 0},
        {nullptr, 2, 0},
        {"{\"successful\":true,\"cancelled\":false}", 0, 0},
        {"{\"successful\":true,\"cancelled\":false}", 1, 0},
        {"{\"successful\":true,\"cancelled\":false}", 0, 2},
        {"{\"successful\":true,\"cancelled\":false}", 0, 0},
        {"{\"cancelled\":false,\"successful\":true}", 0, 0},
        {"{\"successful\":false,\"cancelled\":false,\"errors\":[\"E\"]}", 0, 0},
        {"{\"successful\":false,\"cancelled\":false,\"errors\":[\"E\"]}", 0, 0},
        {"{\"successful\":false,\"cancelled\":false,\"errors\":[\"F\"]}", 0, 0},
        {"{\"a\":true}", 0, 0},
        {"{\"b\":true}", 0, 0},
        {"{\"n\":1.5,\"z\":null}", 0, 0},
        {"{\"n\":2.5,\"z\":null}", 0, 0},
        {"{\"n\":1.5,\"t\":\"x\",\"z\":null}", 0, 0},
        {"{\"n\":1.5,\"t\":\"y\",\"z\":null}", 0, 0},
        {"{\"n\":2,\"t\":\"y\",\"z\":null}", 0, 1},
        {"{\"n\":2,\"t\":\"y\",\"z\":null}", 3, 0},
        {"{\"progress\":5,\"successful\":true}", 0, 0},
        {"{\"progress\":5,\"successful\":true}", 0, 0},
        {"{}", 0, 0},
        {nullptr, 0, 0},
    };
    Task *Owner = nullptr;
    Task_Create(&Owner);
    Queue *Handle = nullptr;
    Queue_CreateManual(&Handle, Owner);
    Reports All;
    const char *Id = reinterpret_cast<ClassStruct *>(Owner)->InstanceId;
    NotificationCenter_AddInstanceObserver("Task", "Status", Id, &All, OnReport);
    int32 Total = 0;
    for (const Case &Each : Cases) {
        for (int Index = 0; Index < Each.Actions; Index++, Total++) Queue_ActionAdd(Handle, "t", nullptr);
        Dictionary *Loaded = nullptr, *Result = nullptr;
        if (Each.Result != nullptr) {
            Loaded = JsonRoot(Each.Result);
            ASSERT_NE(Loaded, nullptr);
            Dictionary_SkipRoot(Loaded, &Result);
        }
        // The report as made afresh.
        Dictionary *Fresh = nullptr;
        Dictionary_Create(&Fresh);
        if (Result != nullptr) Dictionary_Merge(Fresh, Result, DICTIONARY_MERGE_OVERWRITE);
        for (const char *Key : {"runningActions", "completeActions", "totalActions", "progress"})
            Dictionary_SetFloat64ByKey(Fresh, Key, String_Compare(Key, "totalActions") ? Total : 0);
        const std::string Expected = Text(Fresh);
        Dictionary_Release(&Fresh);
        All.Seen.clear();
        All.Mode = Each.Mode;
        Queue_UpdateProgress(Handle, Result);
        EXPECT_EQ(All.Seen, std::vector<std::string>{Expected}) << (Each.Result ? Each.Result : "none");
        if (Loaded != nullptr) Dictionary_Release(&Loaded);
    }
    NotificationCenter_RemoveInstanceObserver("Task", "Status", Id, &All, OnReport);
    ASSERT_EQ(All.Kept.size(), 1u);
    EXPECT_EQ(Text(All.Kept[0].first), All.Kept[0].second);
    Dictionary_Release(&All.Kept[0].first);
    Queue_Release(reinterpret_cast<void **>(&Handle));
    Task_Release(&Owner);
}

// Each action keeps its own name, and gives it back whole to a buffer large
// enough; a name longer than the queue keeps is refused, never cut (cut, it
// would run the task its first bytes name).
TEST_F(QueueTaskTest, ActionsKeepTheirNames) {
    const std::vector<std::string> Names = {"t", "", "q12t345", std::string(QUEUE_ACTION_NAME_SIZE - 1, 'a')};
    Task *Owner = nullptr;
    Task_Create(&Owner);
    Queue *Handle = nullptr;
    Queue_CreateManual(&Handle, Owner);
    for (const std::string &Name : Names) EXPECT_EQ(Queue_ActionAdd(Handle, Name.c_str(), nullptr), 1);
    EXPECT_EQ(Queue_ActionAdd(Handle, std::string(QUEUE_ACTION_NAME_SIZE, 'b').c_str(), nullptr), 0);
    QueueAction *Action = nullptr;
    size_t Index = 0;
    for (Queue_ActionGetFirst(Handle, &Action); Action != nullptr; Queue_ActionGetNext(Handle, Action, &Action), Index++) {
        char Name[400];
        Queue_ActionGetName(Handle, Action, Name, (int32)sizeof(Name));
        EXPECT_EQ(Name, Names[Index]);
        char Short[4];
        Queue_ActionGetName(Handle, Action, Short, (int32)sizeof(Short));
        EXPECT_EQ(Short, Names[Index].substr(0, 3));
    }
    EXPECT_EQ(Index, Names.size());
    Queue_Release(reinterpret_cast<void **>(&Handle));
    Task_Release(&Owner);
}
