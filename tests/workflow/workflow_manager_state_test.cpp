// The manager's relay of task events: the record each relayed notification
// carries after a run of "Task" notifications of one task, as JSON. Payloads
// are merged into the record as they came and mended there (workflow, task,
// isRemote), or through a working copy where an entry must not reach it.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/time.h"
#include "tests/support/json_text.h"
#include "tests/support/workflow_loop.h"
#include "workflow/workflow_manager.h"
#include "workflow/workflow_manager_internal.h"

namespace {

struct Step {
    const char *Event;   // the "Task" notification
    const char *Payload; // its JSON payload
    const char *Relayed; // "Task" + event and the record it carries; "" when nothing is relayed
};

std::vector<std::string> Relayed;

std::string Text(Dictionary *Record) {
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_Merge(Copy, Record, DICTIONARY_MERGE_OVERWRITE);
    // The expiry is a clock reading: only its presence is compared.
    if (Dictionary_RemoveByKey(Copy, "expireTime")) Dictionary_SetBooleanByKey(Copy, "expireTime", TRUE);
    std::string Written = JsonText(Copy);
    Dictionary_Release(&Copy);
    return Written;
}

int32 OnRelayed(void *, const char *, const char *Name, const char *, Dictionary *Info) {
    Relayed.push_back(std::string(Name) + " " + (Info != nullptr ? Text(Info) : "none"));
    return TRUE;
}

const char *const Names[] = {"TaskStart", "TaskStatus", "TaskComplete", "TaskError", "TaskWarning"};

class RelayTest : public WorkflowTest {
  protected:
    // The relayed records of the events Fire makes, by the general steps
    // (first) and with the relay's shortcuts (second), each in a new manager.
    std::array<std::vector<std::string>, 2> BothWays(const std::function<void()> &Fire) {
        std::array<std::vector<std::string>, 2> Seen;
        for (const uint32 Shortcuts : {0u, 1u}) {
            WorkflowManager_Remove();
            WorkflowManager_Init();
            ManagerInt_SetRelayShortcuts(Shortcuts);
            Relayed.clear();
            Fire();
            RunMainLoopPasses(5);
            Seen[Shortcuts] = Relayed;
        }
        ManagerInt_SetRelayShortcuts(1);
        return Seen;
    }
    void SetUp() override {
        WorkflowTest::SetUp();
        WorkflowManager_Init();
        for (const char *Name : Names) NotificationCenter_AddObserver("WorkflowManager", Name, this, OnRelayed);
        Relayed.clear();
    }
    void TearDown() override {
        for (const char *Name : Names) NotificationCenter_RemoveObserver("WorkflowManager", Name, this, OnRelayed);
        WorkflowManager_Remove();
        WorkflowTest::TearDown();
    }
};

} // namespace

TEST_F(RelayTest, EachRelayedNotificationCarriesTheRecordAsItStoodAtItsFire) {
    const std::vector<Step> Steps = {
        {"Start", R"({"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","isRemote":true})",
         R"(TaskStart {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task"})"},
        {"Status", R"({"message":"hello","isRemote":true})",
         R"(TaskStatus {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task",)"
         R"("status":{"message":"hello"}})"},
        // The error's own "message" stays out; the status message stays in.
        {"Error", R"({"errors":["E1","Application_NotInstalled"],"message":"E1"})",
         R"(TaskError {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task",)"
         R"("status":{"message":"hello","errors":["E1"]}})"},
        {"Warning", R"({"warnings":["W1"],"message":"W1"})",
         R"(TaskWarning {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task",)"
         R"("status":{"message":"hello","errors":["E1"],"warnings":["W1"]}})"},
        {"Error", R"({"errors":["Application_RepairRequired"],"message":"Application_RepairRequired"})", ""},
        // A payload naming another workflow: the task's own stays, the other is the remote one.
        {"Status", R"({"workflow":"w2","progress":0.5})",
         R"(TaskStatus {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task",)"
         R"("status":{"message":"hello","errors":["E1"],"warnings":["W1"],"workflow":"w1","progress":0.5,)"
         R"("remoteWorkflow":"w2","task":"relay-task"}})"},
        {"Complete", R"({"successful":true,"workflow":"w3","isRemote":false})",
         R"(TaskComplete {"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1","task":"relay-task",)"
         R"("status":{"message":"hello","errors":["E1"],"warnings":["W1"],"workflow":"w1","progress":0.5,)"
         R"("remoteWorkflow":"w2","task":"relay-task"},"successful":true,"remoteWorkflow":"w3","expireTime":true})"},
    };
    // Every step's notification waits for delivery while the next ones
    // change the record: each must still carry what its own fire saw.
    std::vector<std::string> Expected;
    for (const Step &Each : Steps) {
        NotificationCenter_FireWithJSON("Task", Each.Event, "relay-task", "%s", Each.Payload);
        if (Each.Relayed[0] != 0) Expected.push_back(Each.Relayed);
    }
    RunMainLoopPasses(5);
    EXPECT_EQ(Relayed, Expected);
}

// The relay's shortcuts (a cached "status", a payload's keys read in one
// walk, steering removal and the "task" fix-up left out where they change
// nothing) against the general steps: the same events give the
// same relayed records, whether every relayed notification is observed (the
// record is copied while one waits) or only the last (it is changed in place).
TEST_F(RelayTest, ShortcutsRelayWhatTheGeneralStepsRelay) {
    const char *const Start = R"({"t":{"type":"Log"},"type":"Log","name":"t","workflow":"w1")";
    const std::vector<std::vector<std::pair<const char *, std::string>>> Runs = {
        {{"Start", std::string(Start) + "}"},
         {"Status", R"({"runningActions":1})"},
         {"Status", R"({"currentAction":1})"},
         {"Status", R"({"message":""})"},
         {"Status", R"({"successful":true,"cancelled":false,"runningActions":0,"completeActions":1,"progress":0.5})"},
         {"Complete", R"({"successful":true,"cancelled":false})"}},
        // A "status" at the top replaces the cached one, then brings steering errors.
        {{"Status", R"({"progress":0.1})"},
         {"Start", std::string(Start) + R"(,"status":"Starting"})"},
         {"Status", R"({"progress":0.2})"},
         {"Start", std::string(Start) + R"(,"task":"task-","status":{"errors":["Application_NotInstalled","E0"]}})"},
         {"Status", R"({"progress":0.3})"},
         {"Complete", R"({"successful":false,"errors":["Application_RepairRequired","E1"]})"}},
        // Keys in other cases, the task's own workflow again, a remote one, errors and messages.
        {{"Start", std::string(Start) + R"(,"isRemote":true})"},
         {"Status", R"({"Workflow":"w9","IsRemote":true,"ERRORS":["Application_NotInstalled"]})"},
         {"Status", R"({"workflow":"w1","task":"task-","isRemote":false})"},
         {"Status", R"({"workflow":"w1-longer","errors":["Application_UpdateRequired","E2"]})"},
         {"Error", R"({"errors":["E2","E3"],"message":"E3"})"},
         {"Warning", R"({"message":"W1"})"},
         {"Status", R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9,"j":10,"k":11,"l":12,"m":13,)"
                    R"("n":14,"o":15,"p":16,"q":17,"workflow":"w1","isRemote":1,"errors":["Application_NotInstalled"]})"},
         {"Start", std::string(Start) + R"(,"status":"again"})"},
         {"Status", R"({"workflow":"w1"})"},
         {"Complete", R"({"workflow":"w1","successful":true})"}},
    };
    for (const bool Every : {true, false}) {
        std::vector<std::string> Seen[2];
        for (const uint32 Shortcuts : {0u, 1u}) {
            WorkflowManager_Remove();
            WorkflowManager_Init();
            ManagerInt_SetRelayShortcuts(Shortcuts);
            for (const char *Name : Names) NotificationCenter_RemoveObserver("WorkflowManager", Name, this, OnRelayed);
            for (const char *Name : Names)
                if (Every || std::string(Name) == "TaskComplete")
                    NotificationCenter_AddObserver("WorkflowManager", Name, this, OnRelayed);
            Relayed.clear();
            for (const auto &Run : Runs) {
                const std::string Task = "task-" + std::to_string(&Run - Runs.data());
                for (const auto &[Event, Payload] : Run)
                    NotificationCenter_FireWithJSON("Task", Event, Task.c_str(), "%s", Payload.c_str());
            }
            // A payload whose keys are looked up without case.
            Dictionary *Folded = nullptr;
            Dictionary_Create(&Folded);
            Dictionary_SetCaseSensitive(Folded, FALSE);
            Dictionary_SetStringByKey(Folded, "WorkFlow", "w7");
            Dictionary_SetBooleanByKey(Folded, "IsRemote", TRUE);
            NotificationCenter_Fire("Task", "Complete", "task-2", Folded);
            Dictionary_Release(&Folded);
            RunMainLoopPasses(5);
            Seen[Shortcuts] = Relayed;
        }
        ManagerInt_SetRelayShortcuts(1);
        EXPECT_EQ(Seen[1], Seen[0]) << (Every ? "every relay observed" : "only completions observed");
        EXPECT_EQ(Seen[0].size(), Every ? 23u : 4u);
    }
}

// Events of several tasks interleaved, an unknown task's error among them:
// each lands in its own task's record whether the last relay's entry is
// reused or every id is looked up.
TEST_F(RelayTest, InterleavedTasksKeepTheirOwnRecords) {
    const std::vector<std::pair<const char *, const char *>> Steps = {
        {"a", "Start"}, {"a", "Status"}, {"b", "Start"}, {"b", "Status"}, {"a", "Status"}, {"c", "Error"},
        {"a", "Complete"}, {"b", "Status"}, {"b", "Complete"}, {"a", "Status"},
    };
    const auto Seen = BothWays([&] {
        for (const auto &[Task, Event] : Steps) {
            const std::string Payload = std::string(R"({"name":")") + Task + R"(","workflow":"w","step":")" + Event + "\"}";
            NotificationCenter_FireWithJSON("Task", Event, Task, "%s", Payload.c_str());
        }
    });
    EXPECT_EQ(Seen[1], Seen[0]);
    ASSERT_EQ(Seen[0].size(), 9u);
    EXPECT_EQ(Seen[0][8], R"(TaskStatus {"name":"a","workflow":"w","step":"Complete","task":"a",)"
                          R"("status":{"name":"a","workflow":"w","step":"Status","task":"a"},"expireTime":true})");
}

// A completed task's record waits packed: late events of the task (a status,
// an error, a warning, a steering error that relays nothing) find all that
// it held, as the general steps, which never pack, relay it, but the copy of
// its definition: its completion's relay is the last to carry that, charged
// to the memory budget from the start until then, as each status is; the
// packed record stays charged, at its own small size.
TEST_F(RelayTest, LateEventsOfACompletedTaskFindItsWholeRecord) {
    const std::vector<std::pair<const char *, const char *>> Steps = {
        {"Start", R"({"t":{"type":"Log","n":[1,2.5,null]},"type":"Log","name":"t","workflow":"w"})"},
        {"Status", R"({"message":"m","progress":0.25})"},
        {"Complete", R"({"successful":true,"cancelled":false})"},
        {"Status", R"({"late":true})"},
        {"Error", R"({"errors":["E1"],"message":"E1"})"},
        {"Error", R"({"errors":["Application_NotInstalled"],"message":"Application_NotInstalled"})"},
        {"Warning", R"({"warnings":["W1"],"message":"W1"})"},
    };
    // Each relayed notification is delivered before the next event: the
    // packed record is then all that is left of it.
    std::vector<int64> Held;
    const auto Seen = BothWays([&] {
        const int64 Before = MemoryBudget_GetUsed();
        for (const auto &[Event, Payload] : Steps) {
            NotificationCenter_FireWithJSON("Task", Event, "late-task", "%s", Payload);
            RunMainLoopPasses(1);
            Held.push_back(MemoryBudget_GetUsed() - Before);
        }
    });
    EXPECT_EQ(Seen[1], Seen[0]);
    EXPECT_TRUE(Held[0] > 0 && Held[1] > Held[0] && Held.back() > 0 && Held.back() < 1024)
        << Held[0] << " " << Held.back();
    ASSERT_EQ(Seen[1].size(), 6u);
    EXPECT_NE(Seen[1][2].find(R"(TaskComplete {"t":{"type":"Log")"), std::string::npos);
    EXPECT_EQ(Seen[1][5], R"(TaskWarning {"type":"Log","name":"t","workflow":"w",)"
                          R"("task":"late-task","status":{"message":"m","progress":0.25,"late":true,"errors":["E1"],)"
                          R"("warnings":["W1"]},"successful":true,"cancelled":false,"expireTime":true})");
}

// A completed task's record is kept 30 s from its last completion, however
// often and whenever it completed: a late event until then finds it, one
// after that starts a new record.
TEST_F(RelayTest, ARecordLastsThirtySecondsFromItsTasksLastCompletion) {
    Time_TestClockStart(1000);
    auto Fire = [](const char *Task, const char *Event, const char *Payload) {
        WorkflowManager_Process(); // expires what is due
        Relayed.clear();
        NotificationCenter_FireWithJSON("Task", Event, Task, "%s", Payload);
        RunMainLoopPasses(1);
        return Relayed.empty() ? std::string() : Relayed.back();
    };
    const char *Named = R"({"name":"n","workflow":"w"})";
    for (const char *Task : {"x", "y"}) Fire(Task, "Start", Named), Fire(Task, "Complete", Named);
    Fire("x", "Complete", Named); // a second expiry of x at the same reading
    Time_TestClockAdvance(20000);
    Fire("y", "Complete", Named); // y's record now expires at 50 s
    Time_TestClockAdvance(15000);
    EXPECT_EQ(Fire("x", "Status", R"({"late":1})"), R"(TaskStatus {"status":{"late":1}})");
    EXPECT_NE(Fire("y", "Status", R"({"late":1})").find(R"("name":"n")"), std::string::npos);
    Time_TestClockAdvance(20000);
    EXPECT_EQ(Fire("y", "Status", R"({"late":2})"), R"(TaskStatus {"status":{"late":2}})");
    Time_TestClockStop();
}
