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

namespace {

// Errors and warnings a running task gathers: each added once, in order,
// each addition announced by its message, the whole lists heard by the
// status observers once the loop turns and before the completion, and the
// completion reporting them all.
struct Lists {
    int32 Messages = 0;
    std::vector<std::string> LastErrors, LastWarnings, Completed;
};

void ReadList(Dictionary *Info, const char *Key, std::vector<std::string> *Into) {
    Dictionary *List = nullptr;
    if (Info == nullptr || !Dictionary_GetListByKey(Info, Key, &List)) return;
    Into->clear();
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
        const char *Text = nullptr;
        Dictionary_ItemGetStringPtr(List, Item, &Text);
        Into->emplace_back(Text != nullptr ? Text : "");
    }
}

int32 OnListStatus(void *User, const char *, const char *, const char *, Dictionary *Info) {
    ReadList(Info, "errors", &static_cast<Lists *>(User)->LastErrors);
    ReadList(Info, "warnings", &static_cast<Lists *>(User)->LastWarnings);
    return TRUE;
}

int32 OnListError(void *User, const char *, const char *, const char *, Dictionary *Info) {
    const char *Message = nullptr;
    if (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "message", &Message) && Message != nullptr)
        static_cast<Lists *>(User)->Messages++;
    return TRUE;
}

int32 OnListComplete(void *User, const char *, const char *, const char *, Dictionary *Info) {
    ReadList(Info, "errors", &static_cast<Lists *>(User)->Completed);
    return TRUE;
}

} // namespace

TEST_F(TaskStatusTest, ManyErrorsStayAllInOrderAndReachTheObservers) {
    constexpr int32 Count = 5000;
    Task *Owner = nullptr;
    Task_Create(&Owner);
    Task_Start(Owner);
    const char *Id = reinterpret_cast<ClassStruct *>(Owner)->InstanceId;
    Lists Heard;
    NotificationCenter_AddInstanceObserver("Task", "Status", Id, &Heard, OnListStatus);
    NotificationCenter_AddInstanceObserver("Task", "Error", Id, &Heard, OnListError);
    NotificationCenter_AddInstanceObserver("Task", "Complete", Id, &Heard, OnListComplete);
    std::vector<std::string> Expected;
    for (int32 Index = 0; Index < Count; Index++) {
        Expected.push_back("E" + std::to_string(Index));
        Task_AddError(Owner, "E%d", Index);
        // A repeat keeps its one entry, but is announced.
        if (Index % 1000 == 0) Task_AddError(Owner, "E%d", Index / 2);
        if (Index % 1000 == 0) Task_AddWarning(Owner, "W%d", Index);
    }
    EXPECT_EQ(Heard.Messages, Count + Count / 1000);
    int32 Held = 0;
    Task_GetErrorCount(Owner, &Held);
    ASSERT_EQ(Held, Count);
    for (int32 Index : {0, 1, Count / 2, Count - 1}) {
        const char *Text = nullptr;
        Task_GetErrorPtr(Owner, Index, &Text);
        EXPECT_STREQ(Text, Expected[Index].c_str());
    }
    EXPECT_TRUE(Task_HasError(Owner, "E4321"));
    NotificationCenter_Process();
    EXPECT_EQ(Heard.LastErrors, Expected);
    EXPECT_EQ(Heard.LastWarnings, (std::vector<std::string>{"W0", "W1000", "W2000", "W3000", "W4000"}));
    // A clear from outside is heard, and the next error starts the list anew.
    Task_ClearErrors(Owner);
    Task_AddError(Owner, "E1");
    Task_AddError(Owner, "E1");
    Task_Complete(Owner, nullptr);
    EXPECT_EQ(Heard.LastErrors, std::vector<std::string>{"E1"});
    NotificationCenter_Process();
    EXPECT_EQ(Heard.Completed, std::vector<std::string>{"E1"});
    NotificationCenter_RemoveInstanceObserver("Task", "Status", Id, &Heard, OnListStatus);
    NotificationCenter_RemoveInstanceObserver("Task", "Error", Id, &Heard, OnListError);
    NotificationCenter_RemoveInstanceObserver("Task", "Complete", Id, &Heard, OnListComplete);
    Task_Release(&Owner);
}
