// The workflow manager over real runs of YAML documents: the flow, limits
// and priorities of the queue, availability rows, dependencies between
// workflows, progress and the status notification.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "platform/posix/platform_process_session.h"
#include "runtime/class.h"
#include "runtime/files/path.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "workflow/task_type_list.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_facts.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager.h"

namespace {

struct Seen {
    std::vector<Dictionary *> Statuses;
    std::vector<std::string> Queued; // workflow ids told {"queued":true}
    int Activate = 0, Deactivate = 0;
    std::map<std::string, std::string> Workflows; // caller's id -> workflow id
};

Seen *Notes = nullptr;

int32 OnStatus(void *, const char *, const char *, const char *, Dictionary *Info) {
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_Merge(Copy, Info, DICTIONARY_MERGE_OVERWRITE);
    Notes->Statuses.push_back(Copy);
    return TRUE;
}

int32 OnWorkflowStatus(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    uint32 Queued = 0;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "queued", &Queued) && Queued) Notes->Queued.push_back(Instance);
    return TRUE;
}

int32 OnActivate(void *, const char *, const char *Name, const char *, Dictionary *) {
    (std::string(Name) == "Activate" ? Notes->Activate : Notes->Deactivate)++;
    return TRUE;
}

int32 OnAdded(void *, Dictionary *Payload) {
    const char *Id = nullptr, *Flow = nullptr;
    Dictionary_GetStringPtrByPath(Payload, "info\\id", &Id);
    Dictionary_GetStringPtrByPath(Payload, "info\\workflow", &Flow);
    if (Id != nullptr && Flow != nullptr) Notes->Workflows[Id] = Flow;
    return TRUE;
}

class ManagerTest : public WorkflowTest {
  protected:
    TempDirectory Directory;
    Seen Notes_;

    void SetUp() override {
        WorkflowTest::SetUp();
        Notes = &Notes_;
        Authenticate_SetEnabled(0);
        TaskTypeList_Add(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
        WorkflowManager_Init();
        NotificationCenter_AddObserver("WorkflowManager", "Status", this, OnStatus);
        NotificationCenter_AddObserver("WorkflowManager", "Activate", this, OnActivate);
        NotificationCenter_AddObserver("WorkflowManager", "Deactivate", this, OnActivate);
        NotificationCenter_AddObserver("Workflow", "Status", this, OnWorkflowStatus);
        SetMainLoopTick([] { WorkflowManager_Process(); });
        TestTaskStarts().clear();
        TestTaskCompletions().clear();
    }
    void TearDown() override {
        WorkflowManager_Unload(nullptr, nullptr);
        EXPECT_TRUE(RunMainLoopUntil([] {
            int32 Count = 0;
            WorkflowManager_GetLoadedCount(&Count);
            return Count == 0;
        })) << "workflows stayed loaded";
        RunMainLoopPasses(20);
        SetMainLoopTick(nullptr);
        NotificationCenter_RemoveObserver("WorkflowManager", "Status", this, OnStatus);
        NotificationCenter_RemoveObserver("WorkflowManager", "Activate", this, OnActivate);
        NotificationCenter_RemoveObserver("WorkflowManager", "Deactivate", this, OnActivate);
        NotificationCenter_RemoveObserver("Workflow", "Status", this, OnWorkflowStatus);
        for (Dictionary *Each : Notes_.Statuses) Dictionary_Release(&Each);
        WorkflowManager_Remove();
        TaskTypeList_Remove(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
        Notes = nullptr;
        WorkflowTest::TearDown();
    }
    std::string Write(const std::string &Name, const std::string &Text) {
        std::ofstream(Directory / Name) << Text;
        return "file://" + (Directory / Name);
    }
    void Add(const std::string &Url, const std::string &Id, int Priority = 0, const char *DependsOn = nullptr) {
        std::string Json = "{\"url\":\"" + Url + "\",\"id\":\"" + Id + "\",\"priority\":" + std::to_string(Priority);
        if (DependsOn != nullptr) Json += std::string(",\"dependencies\":[\"") + DependsOn + "\"]";
        ASSERT_TRUE(WorkflowManager_AddJSON((Json + "}").c_str(), nullptr, OnAdded));
    }
    bool Loaded(size_t Count) {
        return RunMainLoopUntil([&] { return Notes_.Workflows.size() >= Count; });
    }
    Workflow *Flow(const std::string &Id) {
        return static_cast<Workflow *>(Class_ConvertFromInstanceId(Notes_.Workflows[Id].c_str()));
    }
    std::string Available(const std::string &Id) {
        Dictionary *Last = Notes_.Statuses.empty() ? nullptr : Notes_.Statuses.back();
        Dictionary *List = nullptr;
        std::string Path = "available\\" + Notes_.Workflows[Id];
        std::string Joined;
        if (Last == nullptr || !Dictionary_GetDictionaryByPath(Last, "available", &List)) return "";
        Dictionary *Names = nullptr;
        if (!Dictionary_GetListByKey(List, Notes_.Workflows[Id].c_str(), &Names) || Names == nullptr) return "";
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Names, &Item); Item != nullptr; Dictionary_ItemGetNext(Names, Item, &Item)) {
            const char *Text = nullptr;
            Dictionary_ItemGetStringPtr(Names, Item, &Text);
            Joined += (Joined.empty() ? "" : ",") + std::string(Text != nullptr ? Text : "");
        }
        return Joined;
    }
    int LastProgress() {
        int32 Percent = -100;
        if (!Notes_.Statuses.empty()) Dictionary_GetInt32ByKey(Notes_.Statuses.back(), "progress", &Percent);
        return Percent;
    }
};

const char StateDocument[] =
    "state:\n  type: Test\n  outcome: '%s'\n"
    "install:\n  type: Test\n  outcome: hold\n"
    "uninstall:\n  type: Test\n"
    "repair:\n  type: Test\n"
    "launch:\n  type: Test\n"
    "unload:\n  type: Log\n  message: bye\n";

std::string StateDoc(const char *Outcome) {
    char Text[512];
    snprintf(Text, sizeof(Text), StateDocument, Outcome);
    return Text;
}

TEST_F(ManagerTest, StateLimitStartsFourOfFiveAndTheFifthAfterOneEnds) {
    for (int Index = 0; Index < 5; Index++)
        Add(Write("w" + std::to_string(Index) + ".yaml", StateDoc("hold")), "w" + std::to_string(Index));
    ASSERT_TRUE(Loaded(5));
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() >= 4; }));
    RunMainLoopPasses(50);
    EXPECT_EQ(TestTaskStarts().size(), 4u);
    // One finishes: the fifth starts on a later step.
    Task *Running = nullptr;
    for (auto &Each : Notes_.Workflows)
        if (Workflow_FindTaskByName(Flow(Each.first), "state", &Running) && Running != nullptr) break;
    ASSERT_NE(Running, nullptr);
    Task_Complete(Running, nullptr);
    EXPECT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 5; }, 5.0));
    for (auto &Each : Notes_.Workflows)
        for (Task *Held = nullptr; Workflow_FindTaskByName(Flow(Each.first), "state", &Held) && Held != nullptr;) {
            Task_Complete(Held, nullptr);
            RunMainLoopPasses(5);
            Held = nullptr;
        }
}

TEST_F(ManagerTest, AvailabilityFollowsTheStateOutcome) {
    struct Row {
        const char *Outcome;
        const char *Available;
    } Rows[] = {{"success", "uninstall,repair,launch"}, {"fail", "state"}};
    int Index = 0;
    for (const Row &Each : Rows) {
        std::string Id = "a" + std::to_string(Index++);
        Add(Write(Id + ".yaml", StateDoc(Each.Outcome)), Id);
        ASSERT_TRUE(Loaded((size_t)Index));
        EXPECT_TRUE(RunMainLoopUntil([&] { return Available(Id) == Each.Available; }, 5.0))
            << Each.Outcome << ": " << Available(Id);
    }
    // A state that reports "Application_NotInstalled" leaves only install.
    Add(Write("n.yaml", "state:\n  type: Error\n  message: Application_NotInstalled\n"
                        "install:\n  type: Test\n  outcome: hold\nrepair:\n  type: Test\n"),
        "n");
    ASSERT_TRUE(Loaded(3));
    EXPECT_TRUE(RunMainLoopUntil([&] { return Available("n") == "install"; }, 5.0)) << Available("n");
    EXPECT_TRUE(WorkflowManager_IsTaskAvailable(Notes_.Workflows["n"].c_str(), "install"));
    // Queuing an offered task runs it and activates the manager.
    EXPECT_TRUE(WorkflowManager_QueueTask(Flow("n"), "install"));
    EXPECT_TRUE(RunMainLoopUntil([&] { return Notes_.Activate == 1; }));
    EXPECT_FALSE(WorkflowManager_QueueTask(Flow("n"), "install")) << "already the running scheduled task";
    Task *Install = nullptr;
    ASSERT_TRUE(RunMainLoopUntil([&] { return Workflow_FindTaskByName(Flow("n"), "install", &Install) && Install; }));
    Task_Complete(Install, nullptr);
    EXPECT_TRUE(RunMainLoopUntil([&] { return Available("n") == "repair"; }, 5.0)) << Available("n");
    EXPECT_TRUE(RunMainLoopUntil([&] { return Notes_.Deactivate == 1; }));
}

TEST_F(ManagerTest, LimitOneServesHigherPriorityFirstAndDependenciesBeforeDependents) {
    WorkflowManager_SetMaximumActiveTasks(1);
    const std::string Doc =
        "state:\n  type: Error\n  message: Application_NotInstalled\ninstall:\n  type: Test\n  outcome: hold\n";
    Add(Write("base.yaml", Doc), "base");
    Add(Write("low.yaml", Doc), "low", 1);
    Add(Write("high.yaml", Doc), "high", 5);
    Add(Write("app.yaml", Doc), "app", 0, "base");
    ASSERT_TRUE(Loaded(4));
    for (const char *Id : {"base", "low", "high", "app"})
        ASSERT_TRUE(RunMainLoopUntil([&] { return Available(Id).find("install") != std::string::npos; }, 5.0)) << Id;
    TestTaskStarts().clear();
    // "app" depends on "base": its install puts base's first.
    EXPECT_TRUE(WorkflowManager_QueueTask(Flow("app"), "install"));
    EXPECT_TRUE(WorkflowManager_QueueTask(Flow("low"), "install"));
    EXPECT_TRUE(WorkflowManager_QueueTask(Flow("high"), "install"));
    std::vector<std::string> Order;
    for (int Step = 0; Step < 4; Step++) {
        ASSERT_TRUE(RunMainLoopUntil([&] { return TestTaskStarts().size() == (size_t)Step + 1; }, 5.0)) << Step;
        RunMainLoopPasses(20);
        EXPECT_EQ(TestTaskStarts().size(), (size_t)Step + 1) << "limit 1";
        for (auto &Each : Notes_.Workflows) {
            Task *Held = nullptr;
            if (Workflow_FindTaskByName(Flow(Each.first), "install", &Held) && Held != nullptr && !Task_IsCompleted(Held)) {
                Order.push_back(Each.first);
                Task_Complete(Held, nullptr);
            }
        }
    }
    // The dependency first; then by priority, "app" (0) after "high" (5)
    // and "low" (1).
    EXPECT_EQ(Order, (std::vector<std::string>{"base", "high", "low", "app"}));
    EXPECT_FALSE(Notes_.Queued.empty()) << "waiting workflows are told they are queued";
    // The status lists the dependency.
    Dictionary *Dependencies = nullptr;
    ASSERT_TRUE(Dictionary_GetListByKey(Notes_.Statuses.back(), "dependencies", &Dependencies));
    Dictionary *Entry = nullptr;
    const char *Target = nullptr;
    ASSERT_TRUE(Dictionary_GetDictionaryByIndex(Dependencies, 0, &Entry));
    EXPECT_TRUE(Dictionary_GetStringPtrByKey(Entry, "app", &Target));
    EXPECT_STREQ(Target, "base");
}

TEST_F(ManagerTest, ProgressOfRunningTasksIsAveragedIntoTheStatus) {
    Add(Write("p.yaml", "start:\n  type: Test\n  outcome: hold\n"), "p");
    ASSERT_TRUE(Loaded(1));
    Task *Start = nullptr;
    ASSERT_TRUE(RunMainLoopUntil([&] { return Workflow_FindTaskByName(Flow("p"), "start", &Start) && Start; }));
    EXPECT_TRUE(RunMainLoopUntil([&] { return LastProgress() == 0; })) << LastProgress();
    EXPECT_TRUE(WorkflowManager_SetProgress(Flow("p"), "start", 0.5));
    EXPECT_FALSE(WorkflowManager_SetProgress(Flow("p"), "state", 0.5)) << "not a progress task name";
    EXPECT_TRUE(RunMainLoopUntil([&] { return LastProgress() == 50; }, 3.0)) << LastProgress();
    Dictionary *Status = nullptr;
    Dictionary_Create(&Status);
    Dictionary_SetFloat64ByKey(Status, "overallProgress", 0.25);
    NotificationCenter_Fire("Task", "Status", ((ClassStruct *)Start)->InstanceId, Status);
    Dictionary_Release(&Status);
    EXPECT_TRUE(RunMainLoopUntil([&] { return LastProgress() == 25; }, 3.0)) << LastProgress();
    Task_Complete(Start, nullptr);
    EXPECT_TRUE(RunMainLoopUntil([&] { return LastProgress() == -2; }, 3.0)) << "no progress task runs";
}

TEST_F(ManagerTest, RunningTaskKeepsTheSystemAwakeOnlyWhileTheApplicationAsks) {
    Platform_PreventSystemSleep(0);
    Add(Write("awake.yaml", "start:\n  type: Test\n  outcome: hold\n"), "awake");
    ASSERT_TRUE(Loaded(1));
    Task *Start = nullptr;
    ASSERT_TRUE(RunMainLoopUntil([&] { return Workflow_FindTaskByName(Flow("awake"), "start", &Start) && Start; }));
    const struct {
        uint32 Prevent;
        bool Awake;
    } Rows[] = {{1, true}, {0, false}, {1, true}};
    for (const auto &Each : Rows) {
        WorkflowApp_SetPreventSystemShutdown(Each.Prevent);
        EXPECT_TRUE(RunMainLoopUntil([&] { return (Platform_IsSleepPrevented() != 0) == Each.Awake; }, 3.0))
            << "prevent " << Each.Prevent;
    }
    Task_Complete(Start, nullptr);
    EXPECT_TRUE(RunMainLoopUntil([] { return !Platform_IsSleepPrevented(); }, 3.0)) << "no task runs";
    WorkflowApp_SetPreventSystemShutdown(1);
}

TEST_F(ManagerTest, UnloadWithNothingLoadedAnswersAtOnce) {
    static bool Called = false;
    WorkflowManager_Unload(nullptr, [](void *, Dictionary *Payload) {
        const char *Type = nullptr;
        Dictionary_GetStringPtrByKey(Payload, "type", &Type);
        Called = Type != nullptr && std::string(Type) == "WorkflowManager";
        return TRUE;
    });
    EXPECT_TRUE(Called);
    EXPECT_FALSE(WorkflowManager_IsUnloading());
    EXPECT_FALSE(WorkflowManager_AddJSON("{not json", nullptr, nullptr));
    EXPECT_FALSE(WorkflowManager_AddJSON("{\"noUrl\":1}", nullptr, nullptr));
}


// The engine ends while a run is alive: its workflow's "state" task is
// completing and "launch" waits behind it. The events, the task and the
// workflow go with the engine.
class EngineEndTest : public WorkflowTest {};

TEST_F(EngineEndTest, EventsAndWorkflowGoWhenItEndsMidRun) {
    TempDirectory Directory;
    std::ofstream(Directory / "w.yaml") << "state:\n  type: Test\n  outcome: hold\nlaunch:\n  type: Test\n";
    static std::vector<std::string> Ids; // the workflow's, each queued event's, the task's
    Ids.clear();
    auto OnWait = [](void *, const char *, const char *, const char *Event, Dictionary *) -> int32 {
        Ids.emplace_back(Event);
        return TRUE;
    };
    auto OnAdd = [](void *, Dictionary *Payload) -> int32 {
        const char *Flow = nullptr;
        if (Dictionary_GetStringPtrByPath(Payload, "info\\workflow", &Flow) && Flow != nullptr)
            Ids.insert(Ids.begin(), Flow);
        return TRUE;
    };
    Authenticate_SetEnabled(0);
    WorkflowManager_Init();
    NotificationCenter_AddObserver("WorkflowEvent", "Wait", this, OnWait);
    SetMainLoopTick([] { WorkflowManager_Process(); });
    ASSERT_TRUE(WorkflowManager_Add(("file://" + (Directory / "w.yaml")).c_str(), nullptr, OnAdd));
    ASSERT_TRUE(RunMainLoopUntil([] { return !TestTaskStarts().empty(); }));
    Workflow *Flow = static_cast<Workflow *>(Class_ConvertFromInstanceId(Ids[0].c_str()));
    ASSERT_NE(Flow, nullptr);
    Workflow_QueueTask(Flow, "launch", nullptr, nullptr);
    RunMainLoopPasses(5);
    NotificationCenter_RemoveObserver("WorkflowEvent", "Wait", this, OnWait);
    SetMainLoopTick(nullptr);
    ASSERT_EQ(Ids.size(), 3u) << "the workflow, its state and launch events";
    Task *State = nullptr;
    ASSERT_TRUE(Workflow_FindTaskByName(Flow, "state", &State) && State != nullptr);
    Ids.emplace_back(((ClassStruct *)State)->InstanceId);
    Task_Complete(State, nullptr);
    WorkflowManager_Remove();
    WorkflowApp_Remove();
    for (const std::string &Each : Ids) EXPECT_EQ(Class_ConvertFromInstanceId(Each.c_str()), nullptr) << Each;
}

} // namespace

// Relayed task events share the manager's record instead of copying it; two
// events fired before either is delivered still carry what each one saw.
TEST_F(ManagerTest, RelayedEventsCarryTheRecordAsItWasAtTheirFire) {
    static std::vector<std::string> Progress;
    Progress.clear();
    auto OnTaskStatus = [](void *, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        const char *Text = nullptr;
        Dictionary_GetStringPtrByPath(Info, "status\\progress", &Text);
        Progress.push_back(Text != nullptr ? Text : "none");
        return TRUE;
    };
    NotificationCenter_AddObserver("WorkflowManager", "TaskStatus", this, OnTaskStatus);
    const char *Task = "relay-test-task";
    NotificationCenter_FireWithJSON("Task", "Start", Task, "{\"name\":\"t\",\"workflow\":\"w\"}");
    for (const char *Each : {"{\"progress\":\"1\"}", "{\"progress\":\"2\"}", "{\"progress\":\"3\"}"})
        NotificationCenter_FireWithJSON("Task", "Status", Task, Each);
    RunMainLoopPasses(5);
    EXPECT_EQ(Progress, (std::vector<std::string>{"1", "2", "3"}));
    NotificationCenter_RemoveObserver("WorkflowManager", "TaskStatus", this, OnTaskStatus);
}
