// One-key status changes: every "Task"/"Status" fire carries the one key and
// value asked for, as a change made afresh would, whatever went before: the
// same key again, more keys than are kept, a key changing its type, an
// observer that keeps a change (it must stay as it was fired) or writes into
// it (nothing of that may reach a later change).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/json_text.h"
#include "tests/support/workflow_loop.h"

namespace {

std::string Text(Dictionary *Change) { return JsonText(Change); }

enum Observer { Reads, Keeps, Writes };

struct Seen {
    Observer Mode = Reads;
    std::vector<std::string> Fired;
    std::vector<std::pair<Dictionary *, std::string>> Kept; // with its text at the fire
};

int32 OnStatus(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Seen *Each = static_cast<Seen *>(User);
    Each->Fired.push_back(Text(Info));
    if (Each->Mode == Keeps) Each->Kept.emplace_back(Dictionary_AddRef(Info), Each->Fired.back());
    if (Each->Mode == Writes) Dictionary_SetStringByKey(Info, "written", "by an observer");
    return TRUE;
}

class TaskStatusTest : public WorkflowTest {};

} // namespace

TEST_F(TaskStatusTest, OneKeyChangesCarryOnlyTheirKey) {
    struct Case {
        const char *Key;
        const char *Text; // null: the number
        float64 Number;
        Observer Mode;
        const char *Expected;
    };
    const std::vector<Case> Cases = {
        {"runningActions", nullptr, 1, Reads, "{\"runningActions\":1}"},
        {"runningActions", nullptr, 2.5, Reads, "{\"runningActions\":2.5}"},
        {"message", "one", 0, Reads, "{\"message\":\"one\"}"},
        {"message", "", 0, Reads, "{\"message\":\"\"}"},
        {"Message", "case", 0, Reads, "{\"Message\":\"case\"}"},
        {"message", nullptr, 7, Reads, "{\"message\":7}"},
        {"message", "back to text", 0, Reads, "{\"message\":\"back to text\"}"},
        {"a", "1", 0, Reads, "{\"a\":\"1\"}"},
        {"b", "2", 0, Reads, "{\"b\":\"2\"}"},
        {"c", "3", 0, Reads, "{\"c\":\"3\"}"},
        {"d", "4", 0, Reads, "{\"d\":\"4\"}"},
        {"e", "5", 0, Reads, "{\"e\":\"5\"}"},
        {"a", "6", 0, Reads, "{\"a\":\"6\"}"},
        {"ab", "7", 0, Reads, "{\"ab\":\"7\"}"},
        {"a", "8", 0, Reads, "{\"a\":\"8\"}"},
        {"kept", "first", 0, Keeps, "{\"kept\":\"first\"}"},
        {"kept", "second", 0, Reads, "{\"kept\":\"second\"}"},
        {"written", "mine", 0, Writes, "{\"written\":\"mine\"}"},
        {"status", "x", 0, Writes, "{\"status\":\"x\"}"},
        {"status", "y", 0, Reads, "{\"status\":\"y\"}"},
        {"written", "again", 0, Reads, "{\"written\":\"again\"}"},
    };
    Task *Owner = nullptr;
    Task_Create(&Owner);
    Task_Start(Owner);
    Seen Each;
    const char *Id = reinterpret_cast<ClassStruct *>(Owner)->InstanceId;
    NotificationCenter_AddInstanceObserver("Task", "Status", Id, &Each, OnStatus);
    for (const Case &One : Cases) {
        Each.Mode = One.Mode;
        Each.Fired.clear();
        if (One.Text != nullptr) Task_SetStatusString(Owner, One.Key, One.Text);
        else Task_SetStatusNumber(Owner, One.Key, One.Number);
        EXPECT_EQ(Each.Fired, std::vector<std::string>{One.Expected}) << One.Key;
    }
    NotificationCenter_RemoveInstanceObserver("Task", "Status", Id, &Each, OnStatus);
    for (auto &Kept : Each.Kept) {
        EXPECT_EQ(Text(Kept.first), Kept.second);
        Dictionary_Release(&Kept.first);
    }
    // The task's own record took every change as it was fired.
    const char *Status = nullptr;
    Dictionary *Record = nullptr;
    Task_GetStatusDictionaryHandle(Owner, &Record);
    Dictionary_GetStringPtrByKey(Record, "kept", &Status);
    EXPECT_STREQ(Status, "second");
    Task_Release(&Owner);
}
