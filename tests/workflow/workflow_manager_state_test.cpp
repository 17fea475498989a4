// The manager's relay of task events: the record each relayed notification
// carries after a run of "Task" notifications of one task, as JSON. Payloads
// are merged into the record as they came and mended there (workflow, task,
// isRemote), or through a working copy where an entry must not reach it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/formats/json.h"
#include "core/notification_center.h"
#include "tests/support/json_text.h"
#include "tests/support/workflow_loop.h"
#include "workflow/workflow_manager.h"

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
