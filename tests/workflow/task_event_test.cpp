// Task events: each completion reaches its own event's callback, with its
// own result, in the order the completions were asked for; a completion
// fired for an id no event waits on changes nothing; and events keep
// completing after the application and its notification center start again
// while an event of the old ones still waits. Every event's sub-action
// notifications carry {"task", "name"} of that event, also when an earlier
// event's payload serves it again, and a payload an observer keeps stays as
// it was fired.
#include "workflow/task_event.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/json_text.h"
#include "tests/support/workflow_loop.h"
#include "workflow/app/workflow_app.h"

namespace {

std::vector<std::string> Calls;

int32 OnDone(Task *, void *User, Dictionary *Result) {
    const char *Text = nullptr;
    if (Result != nullptr) Dictionary_GetStringPtrByKey(Result, "n", &Text);
    Calls.push_back(*static_cast<const std::string *>(User) + "=" + (Text != nullptr ? Text : "none"));
    return TRUE;
}

// The callback's user value is the event's name, kept here.
const std::string Labels[] = {"a", "b", "c", "left", "fresh", "after"};

TaskEvent *Started(Task *Owner, const char *Name) {
    const std::string *Label = std::find(std::begin(Labels), std::end(Labels), Name);
    TaskEvent *Event = nullptr;
    TaskEvent_Create(&Event);
    TaskEvent_SetTaskHandle(Event, Owner);
    TaskEvent_SetCompleteCallback(Event, const_cast<std::string *>(Label), OnDone);
    TaskEvent_Start(Event, Name);
    return Event;
}

void Complete(TaskEvent *Event, const char *Number) {
    Dictionary *Result = nullptr;
    if (Number != nullptr) {
        Dictionary_Create(&Result);
        Dictionary_SetStringByKey(Result, "n", Number);
    }
    TaskEvent_Complete(Event, Result);
    if (Result != nullptr) Dictionary_Release(&Result);
}

class TaskEventTest : public WorkflowTest {
  protected:
    Task *Owner = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Task_Create(&Owner);
        Calls.clear();
    }
    void TearDown() override {
        Task_Release(&Owner);
        WorkflowTest::TearDown();
    }
};

} // namespace

TEST_F(TaskEventTest, CompletionsReachTheirOwnEventsInOrder) {
    struct Case {
        std::vector<int> Order; // which of three events completes when
        std::vector<std::string> Expected;
    };
    const std::vector<Case> Cases = {
        {{0, 1, 2}, {"a=0", "b=1", "c=2"}},
        {{2, 0, 1}, {"c=2", "a=0", "b=1"}},
        {{1, 2}, {"b=1", "c=2"}},
    };
    const char *const Names[] = {"a", "b", "c"};
    for (const Case &Each : Cases) {
        Calls.clear();
        TaskEvent *Events[3];
        std::vector<std::string> Ids;
        for (int Index = 0; Index < 3; Index++) {
            Events[Index] = Started(Owner, Names[Index]);
            Ids.push_back(reinterpret_cast<ClassStruct *>(Events[Index])->InstanceId);
        }
        NotificationCenter_FireAfterDelay("TaskEvent", "Complete", "no-such-event", 0, nullptr);
        for (int Index : Each.Order) Complete(Events[Index], std::to_string(Index).c_str());
        RunMainLoopPasses(5);
        // Nobody waits on an id whose event has gone.
        for (int Index : Each.Order) NotificationCenter_Fire("TaskEvent", "Complete", Ids[(size_t)Index].c_str(), nullptr);
        EXPECT_EQ(Calls, Each.Expected);
        for (int Index = 0; Index < 3; Index++)
            if (std::find(Each.Order.begin(), Each.Order.end(), Index) == Each.Order.end())
                TaskEvent_Release(&Events[Index]);
    }
}

TEST_F(TaskEventTest, EventsCompleteAfterTheApplicationStartsAgain) {
    TaskEvent *Left = Started(Owner, "left");
    RunMainLoopPasses(2);
    WorkflowApp_Remove();
    NotificationCenter_Remove();
    NotificationCenter_Init();
    WorkflowApp_Init();
    Complete(Started(Owner, "fresh"), nullptr);
    RunMainLoopPasses(5);
    EXPECT_EQ(Calls, (std::vector<std::string>{"fresh=none"}));
    TaskEvent_Release(&Left);
    Complete(Started(Owner, "after"), "1");
    RunMainLoopPasses(5);
    EXPECT_EQ(Calls, (std::vector<std::string>{"fresh=none", "after=1"}));
}

TEST_F(TaskEventTest, EventsCompleteOnANewCenterWithoutTheApplication) {
    WorkflowApp_Remove();
    Complete(Started(Owner, "a"), "1");
    RunMainLoopPasses(5);
    NotificationCenter_Remove();
    NotificationCenter_Init();
    Complete(Started(Owner, "b"), "2");
    RunMainLoopPasses(5);
    WorkflowApp_Init();
    Complete(Started(Owner, "c"), "3");
    RunMainLoopPasses(5);
    EXPECT_EQ(Calls, (std::vector<std::string>{"a=1", "b=2", "c=3"}));
}

namespace {

struct Payloads {
    std::vector<std::string> Seen;
    std::vector<std::pair<Dictionary *, std::string>> Kept; // with its text at delivery
    bool Keep = false;
};

std::string Text(Dictionary *Payload) { return JsonText(Payload); }

int32 OnSubAction(void *User, const char *, const char *Name, const char *, Dictionary *Info) {
    Payloads *All = static_cast<Payloads *>(User);
    All->Seen.push_back(std::string(Name) + " " + Text(Info));
    if (All->Keep) All->Kept.emplace_back(Dictionary_AddRef(Info), Text(Info));
    return TRUE;
}

} // namespace

TEST_F(TaskEventTest, PayloadsCarryTheirOwnEvent) {
    struct Case {
        int Owner; // 0 the fixture's task, 1 another
        const char *Name;
        bool Keep; // an observer keeps the payloads of this event
    };
    const std::vector<Case> Cases = {
        {0, "a", false}, {1, "b", false}, {0, "c", true}, {1, "a", false}, {1, "fresh", false},
        {0, "left", false}, {0, "b", false}, {1, "after", true}, {0, "c", false},
    };
    Task *Other = nullptr;
    Task_Create(&Other);
    Task *Owners[] = {Owner, Other};
    Payloads All;
    NotificationCenter_AddObserver("Task", "SubActionStart", &All, OnSubAction);
    NotificationCenter_AddObserver("Task", "SubActionComplete", &All, OnSubAction);
    for (int Round = 0; Round < 3; Round++)
        for (const Case &Each : Cases) {
            All.Seen.clear();
            All.Keep = Each.Keep;
            Complete(Started(Owners[Each.Owner], Each.Name), nullptr);
            RunMainLoopPasses(3);
            const std::string Payload = std::string("{\"task\":\"") +
                                        reinterpret_cast<ClassStruct *>(Owners[Each.Owner])->InstanceId +
                                        "\",\"name\":\"" + Each.Name + "\"}";
            EXPECT_EQ(All.Seen, (std::vector<std::string>{"SubActionStart " + Payload, "SubActionComplete " + Payload}))
                << Each.Name;
        }
    NotificationCenter_RemoveObserver("Task", "SubActionStart", &All, OnSubAction);
    NotificationCenter_RemoveObserver("Task", "SubActionComplete", &All, OnSubAction);
    EXPECT_EQ(All.Kept.size(), 12u);
    for (auto &Kept : All.Kept) {
        EXPECT_EQ(Text(Kept.first), Kept.second);
        Dictionary_Release(&Kept.first);
    }
    Task_Release(&Other);
}

namespace {

std::vector<int> Finished;
int Numbers[300]; // the callbacks' user values: each event's own number

int32 OnNumbered(Task *, void *User, Dictionary *) {
    Finished.push_back(*static_cast<int *>(User));
    return TRUE;
}

} // namespace

// Many events wait at once and leave in every order: each completion still
// finds its own event, once, however the waiting events were stored.
TEST_F(TaskEventTest, ManyWaitingEventsEachCompleteOnce) {
    struct Case {
        int Count;
        int Stride;   // completion order: index * Stride modulo Count
        int Interval; // complete the earliest waiting one after every this many starts; 0 never
    };
    const std::vector<Case> Cases = {{300, 1, 0}, {300, 299, 0}, {257, 7, 0}, {200, 13, 3}, {40, 1, 1}};
    for (const Case &Each : Cases) {
        Finished.clear();
        std::vector<TaskEvent *> Events((size_t)Each.Count);
        std::vector<int> Expected;
        size_t Early = 0;
        for (int Index = 0; Index < Each.Count; Index++) {
            TaskEvent_Create(&Events[(size_t)Index]);
            TaskEvent_SetTaskHandle(Events[(size_t)Index], Owner);
            Numbers[Index] = Index;
            TaskEvent_SetCompleteCallback(Events[(size_t)Index], &Numbers[Index], OnNumbered);
            TaskEvent_Start(Events[(size_t)Index], "n");
            if (Each.Interval > 0 && Index % Each.Interval == Each.Interval - 1) {
                TaskEvent_Complete(Events[Early], nullptr);
                Expected.push_back((int)Early++);
            }
        }
        std::vector<bool> Done((size_t)Each.Count);
        for (size_t Index = 0; Index < Early; Index++) Done[Index] = true;
        for (int Step = 0; Step < Each.Count; Step++) {
            const size_t Index = (size_t)((int64)Step * Each.Stride % Each.Count);
            if (Done[Index]) continue;
            Done[Index] = true;
            TaskEvent_Complete(Events[Index], nullptr);
            Expected.push_back((int)Index);
        }
        RunMainLoopPasses(4);
        EXPECT_EQ(Finished, Expected) << Each.Count << "/" << Each.Stride;
    }
}

// An event's id names it in its own notifications only: it is made like every
// id, unique among the events, but no script can turn it into the event.
TEST_F(TaskEventTest, EventIdsStayOutOfTheInstanceTable) {
    std::vector<TaskEvent *> Events(50);
    std::vector<std::string> Ids;
    for (TaskEvent *&Event : Events) {
        TaskEvent_Create(&Event);
        const char *Id = reinterpret_cast<ClassStruct *>(Event)->InstanceId;
        EXPECT_EQ(strlen(Id), 32u);
        EXPECT_EQ(Class_ConvertFromInstanceId(Id), nullptr) << Id;
        Ids.push_back(Id);
    }
    EXPECT_EQ(Class_ConvertFromInstanceId(reinterpret_cast<ClassStruct *>(Owner)->InstanceId), (void *)Owner);
    std::sort(Ids.begin(), Ids.end());
    EXPECT_EQ(std::unique(Ids.begin(), Ids.end()), Ids.end());
    for (TaskEvent *&Event : Events) TaskEvent_Release(&Event);
}
