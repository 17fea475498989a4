// Control-flow task types, run in process through workflow events from a
// YAML workflow: comparison branches, Log lines in the captured print,
// Environment read back with getenv, a fired Notification, Status set on an
// ancestor by "parent:", End/Error/Shutdown exit codes and errors, Sleep
// finished and cancelled, and Singleton against a mark another process holds.
#include "workflow/tasks/control_task.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/app_mark.h"
#include "runtime/debug.h"
#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/json_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/workflow_event.h"

namespace {

std::map<std::string, std::string> StartedNames; // task id -> name
std::multimap<std::string, std::string> StatusByName;
std::string FiredPayload;
int FiredCount = 0;

std::string Json(Dictionary *Source) {
    std::string Text(16384, '\0');
    if (Source != nullptr) Dictionary_ConvertToString(Source, Text.data(), (int32)Text.size(), 0x3d, 0x26);
    Text.resize(strlen(Text.c_str()));
    return Text;
}

int32 OnAnyStart(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    char Name[256] = "";
    if (Info != nullptr) Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
    StartedNames[Instance] = Name;
    return TRUE;
}

int32 OnAnyStatus(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    StatusByName.emplace(StartedNames[Instance], Json(Info));
    return TRUE;
}

int32 OnFired(void *, const char *, const char *, const char *, Dictionary *Info) {
    FiredCount++;
    FiredPayload = Json(Info);
    return TRUE;
}

class ControlTaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "control.yaml").c_str()));
        Workflow_AddMacro(Flow, "who", "tester");
        // Marks are machine-wide: a name of this process's own keeps
        // concurrent runs of the test apart.
        Workflow_AddMacro(Flow, "mark", Mark.c_str());
        StartedNames.clear();
        StatusByName.clear();
        NotificationCenter_AddObserver("Task", "Start", this, OnAnyStart);
        NotificationCenter_AddObserver("Task", "Status", this, OnAnyStatus);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Task", "Start", this, OnAnyStart);
        NotificationCenter_RemoveObserver("Task", "Status", this, OnAnyStatus);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
        // What outside holders left of the marks: marker files and mailboxes.
        for (const std::string &Name : {Mark + "-tester", Mark + "-held"}) {
            char Path[APPMARK_PATH_SIZE];
            if (!AppMark_GetMarkerPath(Name.c_str(), Path, (int32)sizeof(Path))) continue;
            unlink(Path);
            shm_unlink(strrchr(Path, '/'));
        }
    }
    const std::string Mark = "control-test-" + std::to_string(getpid());
    Outcome Run(const char *Name) {
        Outcome Out;
        Workflow_RunTask(Flow, Name, &Out, Record);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Out.Done; })) << Name;
        RunMainLoopPasses(3);
        return Out;
    }
    bool Printed(const std::string &Text) { return Captured.find(Text) != std::string::npos; }
};

TEST_F(ControlTaskTest, ComparisonsTakeTheirBranches) {
    struct Case {
        const char *Name;
        const char *Line;
        std::vector<const char *> Branches, NotBranches;
    } Cases[] = {
        {"numbers", "Compare number 2.0", {"notEqualTo", "lessThan"}, {"greaterThan", "equalTo"}},
        {"strings", "Compare string 2 to 10 = 1", {"notEqualTo", "greaterThan"}, {"lessThan", "equalTo"}},
        {"versions", "Compare version 1.2 to 1.2.0.0 = 0", {"equalTo"}, {"notEqualTo"}},
        {"versionsNewer", "Compare version 1.10.0 to 1.9 = 1", {"notEqualTo", "greaterThan"}, {"lessThan"}},
        {"contains", "String Hello World contains WORLD = 1", {"found"}, {"notFound"}},
        {"containsCase", "String Hello World contains WORLD = 0", {"notFound"}, {"branch found"}},
        {"noBranch", "Compare number 1.0", {}, {"branch"}},
    };
    for (const Case &Each : Cases) {
        Captured.clear();
        Outcome Out = Run(Each.Name);
        EXPECT_TRUE(Out.Successful) << Each.Name << Captured;
        EXPECT_TRUE(Printed(Each.Line)) << Each.Name << Captured;
        size_t Last = 0;
        for (const char *Branch : Each.Branches) {
            size_t At = Captured.find(std::string("branch ") + Branch);
            EXPECT_NE(At, std::string::npos) << Each.Name << " " << Branch << Captured;
            EXPECT_GE(At, Last) << "branches out of order in " << Each.Name;
            Last = At;
        }
        for (const char *Branch : Each.NotBranches)
            EXPECT_FALSE(Printed(std::string(Branch).find("branch") == 0 ? Branch : std::string("branch ") + Branch))
                << Each.Name << " " << Branch;
    }
}

TEST_F(ControlTaskTest, BadArgumentsFail) {
    struct Case {
        const char *Name, *Line, *Error;
    } Cases[] = {
        {"badNumber", "\"numberOne\" of task \"badNumber\" is not a finite number", "Task_Error_InvalidArg"},
        {"missingNumber", "\"numberOne\" argument not defined", "Task_Error_MissingArg"},
        {"badVersion", "\"versionOne\" of task \"badVersion\" is no version", "Task_Error_InvalidArg"},
        {"logMissing", "\"message\" argument not defined", "Task_Error_MissingArg"},
        {"sleepMissing", "\"seconds\" argument not defined", "Task_Error_MissingArg"},
        {"envNothing", "key/keyValuePairs argument not defined", "Task_Error_MissingArg"},
        {"statusNowhere", "Cannot locate target", "Task_Error_InvalidArg"},
        {"branchFails", "Compare number", "Branch_Error_Failed"},
    };
    for (const Case &Each : Cases) {
        Captured.clear();
        Outcome Out = Run(Each.Name);
        EXPECT_FALSE(Out.Successful) << Each.Name;
        EXPECT_TRUE(Printed(Each.Line)) << Each.Name << Captured;
        if (std::string(Each.Name) != "branchFails") {
            EXPECT_NE(Out.Errors.find(Each.Error), std::string::npos) << Each.Name;
        }
    }
}

TEST_F(ControlTaskTest, LogPrintsEachMessageLiterally) {
    Outcome Out = Run("logList");
    EXPECT_TRUE(Out.Successful);
    EXPECT_TRUE(Printed("first tester\n")) << Captured;
    EXPECT_TRUE(Printed("second %s%s%n\n")) << Captured;
    auto Range = StatusByName.equal_range("logList");
    ASSERT_NE(Range.first, Range.second);
    EXPECT_NE(std::prev(Range.second)->second.find("second %s%s%n"), std::string::npos);
}

// An empty message makes no line at all, alone or in a list.
TEST_F(ControlTaskTest, EmptyMessagesPrintNoLine) {
    for (const std::string Name : {"logEmpty", "logEmptyList"}) {
        Captured.clear();
        EXPECT_TRUE(Run(Name.c_str()).Successful) << Name;
        EXPECT_FALSE(Printed("." + Name + " - \n")) << Captured;
        EXPECT_EQ(Printed("." + Name + " - after\n"), Name == "logEmptyList") << Captured;
    }
}

TEST_F(ControlTaskTest, EnvironmentSetsAndReads) {
    unsetenv("I16_TEST_VARIABLE");
    EXPECT_TRUE(Run("envSet").Successful);
    ASSERT_NE(getenv("I16_TEST_VARIABLE"), nullptr);
    EXPECT_STREQ(getenv("I16_TEST_VARIABLE"), "set by tester");
    EXPECT_TRUE(Printed("Set environment variable I16_TEST_VARIABLE = set by tester"));
    EXPECT_TRUE(Run("envPairs").Successful);
    EXPECT_STREQ(getenv("I16_PAIR_A"), "a tester");
    EXPECT_STREQ(getenv("I16_PAIR_B"), "b");
    EXPECT_TRUE(Run("envGet").Successful);
    EXPECT_TRUE(Printed("Get environment variable I16_TEST_VARIABLE"));
    auto Range = StatusByName.equal_range("envGet");
    ASSERT_NE(Range.first, Range.second);
    EXPECT_NE(Range.first->second.find("set by tester"), std::string::npos) << Range.first->second;
    // A value longer than the first buffer is read whole, not cut.
    const std::string Long = std::string(5000, 'v') + "end";
    setenv("I16_TEST_VARIABLE", Long.c_str(), 1);
    StatusByName.clear();
    EXPECT_TRUE(Run("envGet").Successful);
    Range = StatusByName.equal_range("envGet");
    ASSERT_NE(Range.first, Range.second);
    EXPECT_NE(Range.first->second.find(Long), std::string::npos) << Range.first->second.size();
    unsetenv("I16_TEST_VARIABLE");
}

TEST_F(ControlTaskTest, NotificationFires) {
    FiredCount = 0;
    NotificationCenter_AddObserver("TestEvents", "Fired", this, OnFired);
    NotificationCenter_AddObserver("Bare", "Bare", this, OnFired);
    EXPECT_TRUE(Run("notify").Successful);
    EXPECT_TRUE(RunMainLoopUntil([] { return FiredCount == 1; }));
    EXPECT_NE(FiredPayload.find("tester"), std::string::npos) << FiredPayload;
    EXPECT_TRUE(Printed("Firing event TestEvents.Fired after 0.00ms"));
    EXPECT_TRUE(Run("notifyBare").Successful);
    EXPECT_TRUE(RunMainLoopUntil([] { return FiredCount == 2; }));
    NotificationCenter_RemoveObserver("TestEvents", "Fired", this, OnFired);
    NotificationCenter_RemoveObserver("Bare", "Bare", this, OnFired);
}

TEST_F(ControlTaskTest, StatusReachesTheNamedAncestor) {
    EXPECT_TRUE(Run("statusParent").Successful) << Captured;
    bool Found = false;
    auto Range = StatusByName.equal_range("statusParent");
    for (auto It = Range.first; It != Range.second; ++It)
        if (It->second.find("done") != std::string::npos) Found = true;
    EXPECT_TRUE(Found);
    EXPECT_EQ(StatusByName.count("statusChild"), 0u);
}

TEST_F(ControlTaskTest, EndErrorAndShutdown) {
    Debug_SetExitCode(0);
    EXPECT_TRUE(Run("endWithCode").Successful);
    int32 Code = 0;
    WorkflowApp_GetExitCode(&Code);
    EXPECT_EQ(Code, 3);
    Outcome Failed = Run("endWithError");
    EXPECT_FALSE(Failed.Successful);
    EXPECT_NE(Failed.Errors.find("End_Error_Custom"), std::string::npos);
    EXPECT_EQ(Debug_ExitCode(), 4);
    EXPECT_TRUE(Run("errorWithoutMessage").Successful);
    Outcome Literal = Run("errorWithMessage");
    EXPECT_FALSE(Literal.Successful);
    EXPECT_NE(Literal.Errors.find("%n%s%x"), std::string::npos) << Literal.Errors;

    EXPECT_TRUE(Run("implodePath").Successful);
    char Path[WORKFLOWAPP_PATH_SIZE];
    WorkflowApp_GetImplodePath(Path, (int32)sizeof(Path));
    EXPECT_STREQ(Path, "/nonexistent/i16-implode");
    WorkflowApp_SetImplodePath("");
    // Last: once the application shuts down, no event of the workflow runs.
    FiredCount = 0;
    NotificationCenter_AddObserver("WorkflowApp", "Shutdown", this, OnFired);
    EXPECT_TRUE(Run("shutdown").Successful);
    EXPECT_TRUE(RunMainLoopUntil([] { return FiredCount >= 1; }));
    NotificationCenter_RemoveObserver("WorkflowApp", "Shutdown", this, OnFired);
    EXPECT_TRUE(Printed("Initiating shutdown"));
    EXPECT_NE(FiredPayload.find("tester"), std::string::npos) << FiredPayload;
    EXPECT_TRUE(WorkflowApp_IsShuttingDown());
    EXPECT_EQ(Debug_ExitCode(), 5);
    Debug_SetExitCode(0);

}

TEST_F(ControlTaskTest, SleepCompletesOrIsCancelled) {
    EXPECT_TRUE(Run("sleepShort").Successful);
    EXPECT_TRUE(Printed("Waiting 0.01 seconds - "));
    EXPECT_TRUE(Printed("Wait completed - "));
    Outcome Out;
    Workflow_RunTask(Flow, "sleepLong", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Printed("Waiting 600.00 seconds"); }));
    EXPECT_TRUE(Workflow_CancelTasks(Flow));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_FALSE(Out.Successful);
    EXPECT_TRUE(Printed("Wait cancelled - ")) << Captured;
}

TEST_F(ControlTaskTest, SingletonSeesAMarkHeldByAnotherProcess) {
    EXPECT_TRUE(Run("singleton").Successful);
    EXPECT_TRUE(Printed("Lock does not exist (" + Mark + "-tester)")) << Captured;
    EXPECT_TRUE(Printed("branch notFound"));

    // An independent holder: python takes the same flock on the marker file
    // named by the MD5 of the lower-cased name.
    TempDirectory Temp;
    std::string Ready = Temp / "ready";
    std::string Command = "/usr/bin/python3 -c \"import fcntl,hashlib,sys,time\n"
                          "p='/tmp/'+hashlib.md5(b'" + Mark + "-tester').hexdigest()\n"
                          "f=open(p,'a'); fcntl.flock(f, fcntl.LOCK_EX); open('" + Ready + "','w').close()\n"
                          "sys.stdin.read()\"";
    FILE *Holder = popen(Command.c_str(), "w");
    ASSERT_NE(Holder, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return access(Ready.c_str(), F_OK) == 0; }, 10));
    Captured.clear();
    EXPECT_TRUE(Run("singleton").Successful);
    EXPECT_TRUE(Printed("Lock already exists (" + Mark + "-tester)")) << Captured;
    EXPECT_TRUE(Printed("branch found"));
    pclose(Holder);
}

TEST_F(ControlTaskTest, SingletonHoldsTheMarkWhileItsBranchRuns) {
    Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
    Outcome Out;
    Workflow_RunTask(Flow, "singletonHeld", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 1; }));
    // Another process cannot take the mark while the branch runs ...
    const std::string Probe = "/usr/bin/python3 -c \"import fcntl,hashlib,sys\n"
                              "p='/tmp/'+hashlib.md5(b'" + Mark + "-held').hexdigest()\n"
                              "f=open(p,'a')\n"
                              "try:\n fcntl.flock(f, fcntl.LOCK_EX|fcntl.LOCK_NB)\nexcept OSError:\n sys.exit(3)\n"
                              "sys.exit(0)\"";
    EXPECT_EQ(WEXITSTATUS(system(Probe.c_str())), 3);
    Task *Held = nullptr;
    ASSERT_TRUE(Workflow_FindTaskByName(Flow, "holdInside", &Held));
    Task_Complete(Held, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_TRUE(Out.Successful);
    // ... and can once the Singleton task has completed.
    EXPECT_EQ(WEXITSTATUS(system(Probe.c_str())), 0);
}

} // namespace

namespace {

int32 KeepMessage(void *User, const char *, const char *, const char *, Dictionary *Info) {
    const char *Text = nullptr;
    if (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "message", &Text) && Text != nullptr)
        static_cast<std::vector<std::string> *>(User)->push_back(Text);
    return TRUE;
}

} // namespace

// An empty message is set without being read through the argument getter;
// every message must set the status the getter's text gives.
TEST_F(ControlTaskTest, LogSetsTheMessageTheGetterGives) {
    const char *const Messages[] = {"\"\"", "\"x\"", "\"first {who}\"", "0", "false"};
    for (const char *Message : Messages) {
        const std::string Json = std::string("{\"message\":") + Message + "}";
        Dictionary *Loaded = JsonRoot(Json.c_str()), *Arguments = nullptr;
        ASSERT_NE(Loaded, nullptr) << Json;
        Dictionary_SkipRoot(Loaded, &Arguments);
        Task *Made = nullptr;
        ASSERT_TRUE(Workflow_CreateTask(Flow, "logEmpty", Arguments, nullptr, &Made)) << Json;
        Dictionary_Release(&Loaded);
        char Expected[1024] = "";
        Task_GetStringArgument(Made, "message", Expected, (int32)sizeof(Expected));
        std::vector<std::string> Seen;
        const char *Id = reinterpret_cast<ClassStruct *>(Made)->InstanceId;
        NotificationCenter_AddInstanceObserver("Task", "Status", Id, &Seen, KeepMessage);
        Task_Start(Made);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; })) << Json;
        NotificationCenter_RemoveInstanceObserver("Task", "Status", Id, &Seen, KeepMessage);
        EXPECT_EQ(Seen, std::vector<std::string>{Expected}) << Json;
        Workflow_ClearTasksByHandle(Flow, Made);
    }
}
