// The application's shutdown handshake and exit record: a graceful shutdown
// waits while a task other than "global" runs and then repeats itself with
// "force"; a forced one ends at once; a second request while one waits is
// ignored; restart arguments and the implode path.
#include "workflow/app/workflow_app_life.h"

#include <gtest/gtest.h>

#include "workflow/notification_end_point.h"
#include "workflow/workflow_run_internal.h"
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include <string>
#include <vector>

#include "runtime/command_line.h"
#include "runtime/debug.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/app/workflow_app.h"
#include "workflow/workflow_event.h"

namespace {

std::vector<bool> Forced;

int32 OnShutdown(void *, const char *, const char *, const char *, Dictionary *Info) {
    uint32 Force = FALSE;
    if (Info != nullptr) Dictionary_GetBooleanByKey(Info, "force", &Force);
    Forced.push_back(Force != 0);
    return TRUE;
}

class AppLifeTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "queue.yaml").c_str()));
        Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
        Forced.clear();
        NotificationCenter_AddObserver("WorkflowApp", "Shutdown", this, OnShutdown);
        Debug_SetExitCode(0);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("WorkflowApp", "Shutdown", this, OnShutdown);
        Workflow_CancelTasks(Flow);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        Debug_SetExitCode(0);
        WorkflowTest::TearDown();
    }
    void CompleteHeld(const char *Name) {
        Task *Held = nullptr;
        ASSERT_TRUE(Workflow_FindTaskByName(Flow, Name, &Held)) << Name;
        Task_Complete(Held, nullptr);
    }
};

TEST_F(AppLifeTest, GracefulShutdownWaitsForRunningTasks) {
    Workflow_RunTask(Flow, "h1", nullptr, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([] { return WorkflowApp_IsBusy() != 0; }));
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{\"exitCode\":7}");
    EXPECT_TRUE(WorkflowApp_IsShuttingDown());
    EXPECT_EQ(Debug_ExitCode(), 7);
    // A second request while the first waits changes nothing.
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{\"exitCode\":9}");
    EXPECT_EQ(Debug_ExitCode(), 7);
    RunMainLoopPasses(20);
    EXPECT_EQ(Forced, (std::vector<bool>{false, false}));
    CompleteHeld("h1");
    ASSERT_TRUE(RunMainLoopUntil([] { return Forced.size() == 3; }));
    EXPECT_TRUE(Forced.back());
    EXPECT_FALSE(WorkflowApp_IsBusy());
}

// A task the other process relayed never completes here once that process
// is gone: its end point's disconnect drops it, and shutdown proceeds.
TEST_F(AppLifeTest, RelayedTasksEndWithTheirProcess) {
    NotificationCenter_FireWithJSON("Task", "Start", "relayed-1", "{\"name\":\"install\",\"isRemote\":true}");
    NotificationCenter_FireWithJSON("Task", "Start", "local-1", "{\"name\":\"global\"}");
    EXPECT_TRUE(WorkflowApp_IsBusy());
    char EndPoint[40] = "";
    NotificationEndPoint_GetInstanceId(static_cast<NotificationEndPoint *>(WorkflowRunInt_GetEndPoint()), EndPoint,
                                       (int32)sizeof(EndPoint));
    NotificationCenter_Fire("NotificationEndPoint", "Disconnected", EndPoint, nullptr);
    EXPECT_FALSE(WorkflowApp_IsBusy());
    int32 Running = 0;
    WorkflowApp_GetRunningTaskCount(&Running);
    EXPECT_EQ(Running, 1);
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{}");
    ASSERT_TRUE(RunMainLoopUntil([] { return Forced.size() == 2; }));
}

TEST_F(AppLifeTest, OnlyGlobalTasksDoNotHoldShutdown) {
    Dictionary *Extra = nullptr;
    Dictionary_Create(&Extra);
    Dictionary_SetStringByPath(Extra, "global.type", "Test");
    Dictionary_SetStringByPath(Extra, "global.outcome", "hold");
    Workflow_LoadDictionary(Flow, Extra, 1);
    Dictionary_Release(&Extra);
    Workflow_RunTask(Flow, "global", nullptr, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 1; }));
    int32 Running = 0;
    WorkflowApp_GetRunningTaskCount(&Running);
    EXPECT_EQ(Running, 1);
    EXPECT_FALSE(WorkflowApp_IsBusy());
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{}");
    ASSERT_TRUE(RunMainLoopUntil([] { return Forced.size() == 2; }));
    EXPECT_TRUE(Forced.back());
}

TEST_F(AppLifeTest, ForcedShutdownEndsAtOnce) {
    Workflow_RunTask(Flow, "h1", nullptr, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([] { return WorkflowApp_IsBusy() != 0; }));
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{\"force\":true,\"exitCode\":2}");
    RunMainLoopPasses(20);
    EXPECT_EQ(Forced, (std::vector<bool>{true}));
    EXPECT_EQ(Debug_ExitCode(), 2);
}

TEST_F(AppLifeTest, TasksAreTrackedToTheirWorkflowUntilTheEventEnds) {
    std::string TaskId;
    Workflow_RunTask(Flow, "h1", nullptr, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([] { return WorkflowApp_IsBusy() != 0; }));
    Task *Held = nullptr;
    ASSERT_TRUE(Workflow_FindTaskByName(Flow, "h1", &Held));
    char Id[64], FlowId[64], Found[64] = "";
    Task_GetInstanceId(Held, Id, (int32)sizeof(Id));
    Workflow_GetInstanceId(Flow, FlowId, (int32)sizeof(FlowId));
    ASSERT_TRUE(WorkflowApp_GetWorkflowByTaskId(Id, FALSE, Found, (int32)sizeof(Found)));
    EXPECT_STREQ(Found, FlowId);
    // A run of this workflow started by a task of an outer workflow.
    NotificationCenter_FireWithJSON("Task", "Start", "outerTask", "{\"name\":\"run\",\"workflow\":\"outerFlow\"}");
    NotificationCenter_FireWithJSON("WorkflowRun", "Run", "tester", "{\"task\":\"outerTask\",\"workflow\":\"%s\"}",
                                    FlowId);
    ASSERT_TRUE(WorkflowApp_GetWorkflowByTaskId(Id, TRUE, Found, (int32)sizeof(Found)));
    EXPECT_STREQ(Found, "outerFlow");
    NotificationCenter_Fire("Task", "Complete", "outerTask", nullptr);
    Task_Complete(Held, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([] { return WorkflowApp_IsBusy() == 0; }));
    RunMainLoopPasses(5);
    EXPECT_FALSE(WorkflowApp_GetWorkflowByTaskId(Id, FALSE, Found, (int32)sizeof(Found)));
}

TEST_F(AppLifeTest, WorkerActsOnlyOnItsOwnUnrelayedShutdown) {
    WorkflowApp_Remove();
    CommandLine_Init("host --wfworker --wfendpoint=http://127.0.0.1:1/token");
    WorkflowApp_Init();
    EXPECT_TRUE(WorkflowApp_IsWorker());
    EXPECT_FALSE(WorkflowApp_IsSelfUpdate());
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{\"exitCode\":4}");
    EXPECT_TRUE(WorkflowApp_IsShuttingDown());
    EXPECT_EQ(Debug_ExitCode(), 0);
    WorkflowApp_SetShuttingDown(FALSE);
    NotificationCenter_FireWithJSON("WorkflowApp", "Shutdown", "tester", "{\"exitCode\":5,\"canRemote\":false}");
    EXPECT_EQ(Debug_ExitCode(), 5);
    RunMainLoopPasses(3);
    EXPECT_TRUE(Forced.size() >= 3 && Forced.back());
    WorkflowApp_Remove();
    CommandLine_Remove();
    CommandLine_Init("workflow_app_life_test");
    WorkflowApp_Init();
    TaskTypeList_Add(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
    EXPECT_FALSE(WorkflowApp_IsWorker());
    CommandLine_Remove();
}

TEST_F(AppLifeTest, RestartArgumentsAndImplode) {
    WorkflowApp_SetRestartArguments("");
    WorkflowApp_AppendRestartArguments("--one");
    WorkflowApp_AppendRestartArguments("--two");
    char Text[256];
    WorkflowApp_GetRestartArguments(Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "--one --two");
    char Expanded[256] = "{RestartArguments}";
    Workflow_ExpandString(Flow, Expanded, (int32)sizeof(Expanded));
    EXPECT_STREQ(Expanded, "--one --two");
    WorkflowApp_GetRestartPath(Text, (int32)sizeof(Text));
    EXPECT_NE(std::string(Text).find("workflow_app_life_test"), std::string::npos);
    // Implode records the program's own path; the host deletes it at exit,
    // so the test only reads it back.
    EXPECT_TRUE(WorkflowApp_Implode());
    WorkflowApp_GetImplodePath(Text, (int32)sizeof(Text));
    EXPECT_NE(std::string(Text).find("workflow_app_life_test"), std::string::npos);
    WorkflowApp_SetImplodePath("");
}

// Birth times as stat(1) reports them (%W; mtime %Y where it has none).
long long Born(const std::string &Path) {
    FILE *Pipe = popen(("stat -c '%W %Y' " + Path).c_str(), "r");
    long long Birth = 0, Modified = 0;
    if (Pipe != nullptr) {
        if (fscanf(Pipe, "%lld %lld", &Birth, &Modified) != 2) Birth = Modified = 0;
        pclose(Pipe);
    }
    return Birth > 0 ? Birth : Modified;
}

TEST_F(AppLifeTest, ExpiredLogsGoAndOthersStay) {
    TempDirectory Temp;
    std::string Dir = Temp.Path + "/";
    const char *Names[] = {"app.log", "app-2026-11-01.log", "app.old.log", "other.log", "app.txt"};
    for (const char *Name : Names) fclose(fopen((Dir + Name).c_str(), "w"));
    mkdir((Dir + "app-dir.log").c_str(), 0755);
    // The files may be born on either side of a second's boundary.
    long long Oldest = LLONG_MAX, Newest = 0;
    for (const char *Name : Names) {
        Oldest = std::min(Oldest, Born(Dir + Name));
        Newest = std::max(Newest, Born(Dir + Name));
    }
    ASSERT_GT(Oldest, 0);
    auto Exists = [&](const char *Name) { return access((Dir + Name).c_str(), F_OK) == 0; };
    // Exactly maxdays days old at most: not yet expired.
    WorkflowApp_ExpireLogsIn((Dir + "app.log").c_str(), 2, Oldest + 2 * 86400);
    for (const char *Name : Names) EXPECT_TRUE(Exists(Name)) << Name;
    WorkflowApp_ExpireLogsIn((Dir + "app.log").c_str(), 2, Newest + 2 * 86400 + 1);
    EXPECT_FALSE(Exists("app.log"));
    EXPECT_FALSE(Exists("app-2026-11-01.log"));
    EXPECT_FALSE(Exists("app.old.log"));
    EXPECT_TRUE(Exists("other.log"));
    EXPECT_TRUE(Exists("app.txt"));
    EXPECT_TRUE(Exists("app-dir.log"));
    // Without per-day logs or the switch nothing is walked.
    EXPECT_FALSE(WorkflowApp_ExpireLogs());
}

} // namespace
