// Task base and completion: argument getters and macro expansion (object
// paths, the lower-cased retry, parent macros seen downward only), errors
// and warnings with "ignoreError" and "errorMap", the start payload, and the
// completion protocol: sub-action chains in order, a "success" naming a
// missing task, a failing "complete", cancels that "ignoreError" never
// turns into a success, and the process's task budgets.
#include "workflow/task.h"

#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/text/url.h"
#include "runtime/event_queue.h"
#include "runtime/script/interop.h"
#include "runtime/thread.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "tests/support/json_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/workflow_loop.h"
#include "crypto/trust/authenticate.h"
#include "net/web_get.h"
#include "workflow/task_arguments.h"
#include "workflow/task_internal.h"
#include "workflow/task_type_object.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_config.h"

namespace {

const std::string DataFile = std::string(RUNTIME_SOURCE_DIR) + "/tests/workflow/data/basic.json";

// Every "Task" notification of interest, as "Name:payload name" or "Name".
std::vector<std::string> Seen;

int32 RecordTask(void *, const char *, const char *Name, const char *Instance, Dictionary *Info) {
    const char *Label = nullptr;
    if (strcmp(Name, "Complete") == 0) Label = Task_GetNamePtr(static_cast<Task *>(Class_ConvertFromInstanceId(Instance)));
    else if (Info != nullptr) Dictionary_GetStringPtrByKey(Info, "name", &Label);
    Seen.push_back(std::string(Name) + (Label != nullptr ? ":" + std::string(Label) : ""));
    return TRUE;
}

class TaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    Dictionary *LastResult = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Seen.clear();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, DataFile.c_str()));
        for (const char *Name : {"SubActionStart", "SubActionComplete", "Complete"})
            NotificationCenter_AddObserver("Task", Name, &Seen, RecordTask);
        NotificationCenter_AddObserver("Task", "Complete", this, KeepResult);
    }
    void TearDown() override {
        for (const char *Name : {"SubActionStart", "SubActionComplete", "Complete"})
            NotificationCenter_RemoveObserver("Task", Name, &Seen, RecordTask);
        NotificationCenter_RemoveObserver("Task", "Complete", this, KeepResult);
        if (LastResult != nullptr) Dictionary_Release(&LastResult);
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
    }
    static int32 KeepResult(void *User, const char *, const char *, const char *, Dictionary *Info) {
        TaskTest *Self = static_cast<TaskTest *>(User);
        if (Self->LastResult == nullptr) Dictionary_Create(&Self->LastResult);
        Dictionary_Reset(Self->LastResult);
        if (Info != nullptr) Dictionary_Merge(Self->LastResult, Info, DICTIONARY_MERGE_OVERWRITE);
        return TRUE;
    }
    Task *Make(const char *Name, Task *Parent = nullptr, Dictionary *Arguments = nullptr) {
        Task *Made = nullptr;
        EXPECT_TRUE(Workflow_CreateTask(Flow, Name, Arguments, Parent, &Made)) << Name;
        return Made;
    }
    Task *RunToEnd(const char *Name) {
        Task *Made = Make(Name);
        if (Made == nullptr) return nullptr;
        Task_Start(Made);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
        RunMainLoopPasses(4);
        return Made;
    }
    uint32 ResultFlag(const char *Key) {
        uint32 Flag = 2;
        if (LastResult != nullptr) Dictionary_GetBooleanByKey(LastResult, Key, &Flag);
        return Flag;
    }
};

std::string Expand(Task *Handle, const char *Text) {
    char Buffer[1024];
    snprintf(Buffer, sizeof(Buffer), "%s", Text);
    Task_ExpandString(Handle, Buffer, (int32)sizeof(Buffer));
    return Buffer;
}

TEST_F(TaskTest, NumbersAreReadAsTheyAre) {
    // A stored number as it is, a text with an exponent too; what is no
    // finite number is refused (the task is marked; its errors are told to a
    // started task), except to a reader that asks quietly.
    Dictionary *Given = nullptr;
    Dictionary_Create(&Given);
    Dictionary_SetStringByKey(Given, "exponent", "2.5e2");
    Dictionary_SetFloat64ByKey(Given, "stored", 1e3);
    Dictionary_SetFloat64ByKey(Given, "infinite", INFINITY);
    Dictionary_SetStringByKey(Given, "nan", "nan");
    Task *Quiet = Make("arguments", nullptr, Given);
    float64 Value = 99;
    EXPECT_EQ(TaskInt_ReadNumber(Quiet, "bad", &Value, false), 0);
    EXPECT_EQ(TaskInt_ReadNumber(Quiet, "infinite", &Value, false), 0);
    EXPECT_EQ(Value, 0);
    EXPECT_FALSE(Task_IsArgumentRefused(Quiet));
    const std::pair<const char *, float64> Read[] = {{"exponent", 250}, {"stored", 1000}, {"number", -12.5}};
    for (const auto &[Name, Expected] : Read) {
        EXPECT_TRUE(Task_GetNumberArgument(Quiet, Name, &Value)) << Name;
        EXPECT_EQ(Value, Expected) << Name;
    }
    EXPECT_FALSE(Task_IsArgumentRefused(Quiet));
    for (const char *Name : {"infinite", "nan", "bad"}) {
        Task *Loud = Make("arguments", nullptr, Given);
        EXPECT_FALSE(Task_GetNumberArgument(Loud, Name, &Value)) << Name;
        EXPECT_TRUE(Task_IsArgumentRefused(Loud)) << Name;
    }
    Dictionary_Release(&Given);
}

TEST_F(TaskTest, Arguments) {
    Task *Args = Make("arguments");
    char Text[256];
    EXPECT_TRUE(Task_GetStringArgument(Args, "url", Text, (int32)sizeof(Text)));
    EXPECT_STREQ(Text, "http://example.invalid/arguments");
    const char *Raw = nullptr;
    EXPECT_TRUE(Task_GetArgumentPtr(Args, "url", &Raw));
    EXPECT_STREQ(Raw, "http://example.invalid/{this.name}");
    EXPECT_FALSE(Task_GetStringArgument(Args, "absent", Text, (int32)sizeof(Text)));
    EXPECT_STREQ(Text, "");
    EXPECT_TRUE(Task_GetMultiStringArgument(Args, "items", Text, (int32)sizeof(Text)));
    EXPECT_STREQ(Text, "\"one\" \"arguments\" ");

    struct NumberCase {
        const char *Name;
        int32 Result;
        float64 Value;
    } Numbers[] = {{"number", 1, -12.5}, {"bad", 0, 0}, {"empty", 1, 0}, {"absent", 0, 0}, {"url", 0, 0}};
    for (const NumberCase &Each : Numbers) {
        float64 Value = 99;
        EXPECT_EQ(Task_GetNumberArgument(Args, Each.Name, &Value), Each.Result) << Each.Name;
        EXPECT_EQ(Value, Each.Value) << Each.Name;
    }
    struct BooleanCase {
        const char *Name;
        int32 Result;
        uint32 Value;
    } Booleans[] = {{"flag", 1, 1}, {"url", 1, 0}, {"empty", 1, 0}, {"absent", 0, 0}};
    for (const BooleanCase &Each : Booleans) {
        uint32 Value = 7;
        EXPECT_EQ(Task_GetBooleanArgument(Args, Each.Name, &Value), Each.Result) << Each.Name;
        EXPECT_EQ(Value, Each.Value) << Each.Name;
    }
    Dictionary *Target = nullptr;
    Dictionary_Create(&Target);
    Dictionary *Definition = nullptr;
    Task_GetDictionaryHandle(Args, &Definition);
    Dictionary_SetStringByKey(Definition, "json", "{\"k\": \"{this.name}\"}");
    EXPECT_TRUE(Task_GetDictionaryArgument(Args, "json", Target));
    char Value[64];
    Dictionary_GetStringByKey(Target, "k", Value, (int32)sizeof(Value));
    EXPECT_STREQ(Value, "arguments");
    Dictionary_Release(&Target);
}

TEST_F(TaskTest, ObjectsAreReadAsChecked) {
    // Pairs, a JSON text and a list are read as the check read them: a macro
    // set after it changes nothing.
    static const char Text[] = R"({"env": {"type": "Environment", "keyValuePairs": {"K": "{who}"}},
        "sum": {"type": "Aggregate", "content": "{\"k\": \"{who}\"}"}, "q": {"type": "Queue", "actions": ["{who}"]}})";
    Workflow *Own = nullptr;
    Workflow_Create(&Own);
    ASSERT_TRUE(Workflow_LoadBuffer(Own, Text, (int32)sizeof(Text) - 1));
    Workflow_AddMacro(Own, "who", "checked");
    const char *Names[] = {"env", "sum", "q"};
    Task *Made[3] = {};
    for (int Index = 0; Index < 3; Index++)
        ASSERT_TRUE(Workflow_CreateTask(Own, Names[Index], nullptr, nullptr, &Made[Index]) &&
                    TaskInt_CheckArguments(Made[Index]));
    Workflow_AddMacro(Own, "who", "set after the check");
    const char *Pair = nullptr, *K = nullptr, *Action = nullptr;
    Task_EnumerateKeyValuePairs(Made[0], &Pair, [](void *User, const char *, Dictionary *Owner, DictionaryItem *Item) {
        Dictionary_ItemGetStringPtr(Owner, Item, static_cast<const char **>(User));
        return 0;
    });
    Dictionary *Content = nullptr, *Actions = TaskInt_GetCheckedList(Made[2], "actions");
    Dictionary_Create(&Content);
    DictionaryItem *First = nullptr;
    EXPECT_TRUE(Task_GetDictionaryArgument(Made[1], "content", Content) &&
                Dictionary_GetStringPtrByKey(Content, "k", &K));
    EXPECT_TRUE(Actions != nullptr && Dictionary_ItemGetFirst(Actions, &First) &&
                Dictionary_ItemGetStringPtr(Actions, First, &Action));
    for (const char *Read : {Pair, K, Action}) EXPECT_STREQ(Read, "checked");
    Dictionary_Release(&Content);
    for (Task *Each : Made) Task_Complete(Each, nullptr);
    Workflow_Release(&Own);
}

TEST_F(TaskTest, ObjectPathMacros) {
    Task *Args = Make("arguments");
    Workflow_SetStatusString(Flow, "progress", "42");
    struct Case {
        const char *Text;
        const char *Expected;
    } Cases[] = {
        // A value's own macros are expanded in turn.
        {"{this.args.url}", "http://example.invalid/arguments"},
        {"{this.args.Url}", "http://example.invalid/arguments"},
        {"{this.name}", "arguments"},
        {"{this.NAME}", "arguments"},
        {"{workflow.status.progress}", "42"},
        {"{this.args.items.[1]}", "arguments"},
        {"{this.args.nothing}", "{this.args.nothing}"},
        {"{parent.name}", "{parent.name}"},
    };
    for (const Case &Each : Cases) EXPECT_EQ(Expand(Args, Each.Text), Each.Expected) << Each.Text;
    // A path that names only an object is no value.
    char Output[64] = "";
    EXPECT_FALSE(Task_ExpandKey(Args, "this", nullptr, Output, (int32)sizeof(Output)));
    EXPECT_FALSE(Task_ExpandKey(Args, "this.args", nullptr, Output, (int32)sizeof(Output)));
}

TEST_F(TaskTest, ParentMacrosSeenDownwardOnly) {
    Task *Outer = Make("outer");
    Task *Inner = Make("inner", Outer);
    Dictionary *Macros = nullptr;
    Task_GetMacroDictionaryHandle(Outer, &Macros);
    Dictionary_SetStringByKey(Macros, "fromOuter", "down");
    Task_GetMacroDictionaryHandle(Inner, &Macros);
    Dictionary_SetStringByKey(Macros, "fromInner", "up");
    EXPECT_EQ(Expand(Inner, "{fromOuter}"), "down");
    EXPECT_EQ(Expand(Outer, "{fromInner}"), "{fromInner}");
    EXPECT_EQ(Expand(Inner, "{this.parent.name}"), "outer");
    Task *Found = nullptr;
    int32 Kind = -1;
    void *Object = nullptr;
    EXPECT_TRUE(Task_EvaluatePathToObject(Inner, "this.parent:OUTER", &Kind, &Object));
    EXPECT_EQ(Kind, TASK_OBJECT_TASK);
    EXPECT_EQ(Object, Outer);
    (void)Found;
}

TEST_F(TaskTest, StartPayloadAndStatusSteps) {
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    auto Keep = [](void *User, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        Dictionary_Merge(static_cast<Dictionary *>(User), Info, DICTIONARY_MERGE_OVERWRITE);
        return TRUE;
    };
    NotificationCenter_AddObserver("Task", "Start", Payload, Keep);
    Task *Args = RunToEnd("arguments");
    NotificationCenter_RemoveObserver("Task", "Start", Payload, Keep);
    char Text[256];
    Dictionary_GetStringByKey(Payload, "type", Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "Test");
    Dictionary_GetStringByKey(Payload, "status", Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "starting arguments");
    Dictionary_GetStringByKey(Payload, "title", Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "http://example.invalid/arguments");
    EXPECT_TRUE(Dictionary_ContainsPath(Payload, "arguments.url"));
    Dictionary *Status = nullptr;
    Task_GetStatusDictionaryHandle(Args, &Status);
    Dictionary_GetStringByKey(Status, "status", Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "done arguments");
    Dictionary_Release(&Payload);
}

TEST_F(TaskTest, ErrorsWarningsAndMaps) {
    Task *Held = Make("outer");
    Task_Start(Held);
    RunMainLoopPasses(2);
    Dictionary *Definition = nullptr;
    Task_GetDictionaryHandle(Held, &Definition);
    Task_AddError(Held, "%s", "One");
    Task_AddError(Held, "%s", "One");
    Task_AddWarning(Held, "%s", "Careful %s");
    int32 Count = 0;
    Task_GetErrorCount(Held, &Count);
    EXPECT_EQ(Count, 1);
    EXPECT_TRUE(Task_HasWarning(Held, "Careful %s"));

    Dictionary *Ignore = nullptr;
    Dictionary_AddList(Definition, "ignoreError", &Ignore, nullptr);
    Dictionary_AddString(Ignore, nullptr, "Task_Error_MissingArg", nullptr);
    Task_AddError(Held, "%s", "Task_Error_MissingArg");
    Task_AddError(Held, "%s", "Two");
    EXPECT_FALSE(Task_HasError(Held, "Task_Error_MissingArg"));
    EXPECT_TRUE(Task_HasError(Held, "Two"));

    Dictionary *Map = nullptr;
    Dictionary_AddDictionary(Definition, "errorMap", &Map, nullptr);
    Dictionary_SetStringByKey(Map, "5", "Mapped_Five");
    EXPECT_FALSE(Task_AddErrorFromMap(Held, 6, "Default"));
    Task_AddErrorFromMap(Held, 5, "Default");
    EXPECT_TRUE(Task_HasError(Held, "Mapped_Five"));
    EXPECT_FALSE(Task_HasError(Held, "Default"));

    Task_AddErrorFromCode(Held, 987, 3);
    char Expected[128];
    snprintf(Expected, sizeof(Expected), "Json_Error_%s", JSON_TranslateError(3));
    EXPECT_TRUE(Task_HasError(Held, Expected)) << Expected;
    EXPECT_TRUE(Task_HasError(Held, "WebGet_Error_JSON"));
    Task_AddErrorFromCode(Held, 964, 2);
    const char *Name = Platform_TranslateError(2);
    if (strcmp(Name, "Unknown") == 0 || strcmp(Name, "None") == 0) snprintf(Expected, sizeof(Expected), "Platform_Error_2");
    else snprintf(Expected, sizeof(Expected), "Platform_Error_%s", Name);
    EXPECT_TRUE(Task_HasError(Held, Expected)) << Expected;
    Task_AddErrorFromCode(Held, 956, 0);
    EXPECT_TRUE(Task_HasError(Held, "WebGet_Error_UserAbort"));
    Task_AddErrorFromCode(Held, 992, 0);
    EXPECT_TRUE(Task_HasError(Held, "WebGet_Error_992"));

    const char *Text = nullptr;
    EXPECT_TRUE(Task_GetErrorPtr(Held, 0, &Text));
    EXPECT_STREQ(Text, "One");
    EXPECT_FALSE(Task_GetErrorPtr(Held, 99, &Text));
    EXPECT_STREQ(Text, "");
    Task_ClearErrors(Held);
    EXPECT_FALSE(Task_HasError(Held, nullptr));
    Task_Complete(Held, nullptr);
}

TEST_F(TaskTest, IgnoredErrorPrintsButRecordsNothing) {
    Task *Held = Make("held");
    Task_Start(Held);
    RunMainLoopPasses(2);
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    Task_AddError(Held, "%s", "Something");
    EXPECT_NE(Captured.find("Error - Something (Ignored)"), std::string::npos) << Captured;
    EXPECT_FALSE(Task_HasError(Held, nullptr));
    Task_Complete(Held, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Held) != 0; }));
}

TEST_F(TaskTest, BudgetsRefuseSubTasksWhateverIgnoreErrorSays) {
    // Each limit lowered to what is spent: "held" ignores every error, yet
    // its "success" step is refused and it fails, saying which limit; its
    // workflow then refuses sub-tasks with the limits restored.
    struct Case {
        int64 TaskBudget::*Limit;
        std::atomic<int64> TaskBudget::*Count;
        const char *Line;
    };
    const Case Cases[] = {{&TaskBudget::LiveLimit, &TaskBudget::Live, "a process holds at most "},
                          {&TaskBudget::RunningLimit, &TaskBudget::Running, "a process runs at most "},
                          {&TaskBudget::StartLimit, &TaskBudget::Started, "a process starts at most "}};
    TaskBudget &Budget = TaskInt_Budget();
    for (const Case &Each : Cases) {
        Workflow_Release(&Flow);
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, DataFile.c_str()));
        Task *Held = Make("held");
        Task_Start(Held);
        RunMainLoopPasses(2);
        {
            // The limit comes back whatever happens below.
            std::unique_ptr<int64, std::function<void(int64 *)>> Restore(
                &(Budget.*Each.Limit), [Kept = Budget.*Each.Limit](int64 *Slot) { *Slot = Kept; });
            *Restore = (Budget.*Each.Count).load();
            Task_Complete(Held, nullptr);
            ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Held) != 0; }));
        }
        RunMainLoopPasses(3);
        EXPECT_EQ(ResultFlag("successful"), 0u) << Each.Line;
        EXPECT_TRUE(Task_HasError(Held, TASK_ERROR_TOO_MANY)) << Each.Line;
        const char *Why = "";
        Task_GetErrorPtr(Held, 1, &Why);
        EXPECT_EQ(std::string(Why).rfind(std::string("task \"step1\" not run: ") + Each.Line, 0), 0u) << Why;
        Task *After = RunToEnd("chain");
        Task_GetErrorPtr(After, 1, &Why);
        EXPECT_STREQ(Why, "task \"step1\" not run: its workflow ran past a task budget");
        EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"held", "chain"}));
        TestTaskStarts().clear();
    }
}

TEST_F(TaskTest, DocumentTextIsNeverAFormat) {
    Task *Held = Make("outer");
    Task_Start(Held);
    RunMainLoopPasses(2);
    Task_AddError(Held, "%s", "%n%s%x%s");
    EXPECT_TRUE(Task_HasError(Held, "%n%s%x%s"));
    Task_Complete(Held, nullptr);
}

TEST_F(TaskTest, SubActionChainOrder) {
    RunToEnd("chain");
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskCompletions().size() >= 3; }));
    RunMainLoopPasses(5);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"chain", "step1", "step2"}));
    // Each step starts and ends on a later notification step than the one
    // that asked for it: the completion of "chain" waits for its "success"
    // sub-task and then its "complete" sub-task.
    std::vector<std::string> Expected = {
        "SubActionStart:chain",      "SubActionStart:step1",      "SubActionStart:step1",
        "SubActionStart:success",    "SubActionComplete:success", "SubActionStart:complete",
        "Complete:step1",            "SubActionComplete:complete", "SubActionComplete:step1",
        "SubActionComplete:step1",   "SubActionStart:step2",      "SubActionStart:step2",
        "SubActionStart:success",    "SubActionComplete:success", "SubActionStart:complete",
        "Complete:step2",            "SubActionComplete:complete", "Complete:chain",
        "SubActionComplete:step2",   "SubActionComplete:step2",   "SubActionComplete:chain",
    };
    EXPECT_EQ(Seen, Expected);
    // The completion of "chain" itself is fired at its end.
    std::vector<std::string> Completes;
    for (const std::string &Each : Seen)
        if (Each.rfind("Complete:", 0) == 0) Completes.push_back(Each);
    EXPECT_EQ(Completes, (std::vector<std::string>{"Complete:step1", "Complete:step2", "Complete:chain"}));
    // Every sub-action that started also completed.
    int32 Starts = 0, Ends = 0;
    for (const std::string &Each : Seen) {
        Starts += Each.rfind("SubActionStart:", 0) == 0;
        Ends += Each.rfind("SubActionComplete:", 0) == 0;
    }
    EXPECT_EQ(Starts, Ends);
    EXPECT_EQ(ResultFlag("successful"), 1u);
}

TEST_F(TaskTest, SuccessNamingMissingTask) {
    Task *Made = RunToEnd("missingSuccess");
    EXPECT_TRUE(Task_HasError(Made, "Task_Error_MissingSubTask"));
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"missingSuccess", "step2"}));
    EXPECT_EQ(ResultFlag("successful"), 1u);
    Dictionary *Errors = nullptr;
    ASSERT_TRUE(Dictionary_GetListByKey(LastResult, "errors", &Errors));
    EXPECT_TRUE(Dictionary_ContainsString(Errors, "Task_Error_MissingSubTask"));
}

TEST_F(TaskTest, FailingCompleteTurnsSuccessFalse) {
    RunToEnd("failingComplete");
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"failingComplete", "step2"}));
    EXPECT_EQ(ResultFlag("successful"), 0u);
}

TEST_F(TaskTest, SucceedingCompleteLeavesFailureFalse) {
    RunToEnd("errorWithLog");
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"errorWithLog", "step2"}));
    EXPECT_EQ(ResultFlag("successful"), 0u);
}

TEST_F(TaskTest, CancelIsNeverIgnored) {
    Task *Held = Make("held");
    Task_Start(Held);
    RunMainLoopPasses(2);
    // Cancelled through its workflow although it ignores every error.
    EXPECT_TRUE(Workflow_CancelTasks(Flow));
    EXPECT_FALSE(Task_Cancel(Held));
    RunMainLoopPasses(5);
    EXPECT_TRUE(Task_IsCompleted(Held));
    EXPECT_TRUE(Task_IsCancelled(Held));
    EXPECT_EQ(ResultFlag("successful"), 0u);
    EXPECT_EQ(ResultFlag("cancelled"), 1u);
    // Neither "success" nor "failure" ran.
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"held"}));
}

TEST_F(TaskTest, CancelBeforeStartIsStillACancel) {
    Task *Made = Make("chain");
    EXPECT_TRUE(Task_Cancel(Made));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
    RunMainLoopPasses(3);
    EXPECT_TRUE(Task_IsCancelled(Made));
    EXPECT_EQ(ResultFlag("successful"), 0u);
    EXPECT_TRUE(TestTaskStarts().empty());
}

TEST_F(TaskTest, ResultCannotClaimSuccessOverErrors) {
    Task *Held = Make("outer");
    Task_Start(Held);
    RunMainLoopPasses(2);
    Task_AddError(Held, "%s", "Broken");
    Dictionary *Claim = nullptr;
    Dictionary_Create(&Claim);
    Dictionary_SetBooleanByKey(Claim, "successful", TRUE);
    Task_Complete(Held, Claim);
    Dictionary_Release(&Claim);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Held) != 0; }));
    EXPECT_EQ(ResultFlag("successful"), 0u);
    EXPECT_FALSE(Task_Complete(Held, nullptr));
    EXPECT_FALSE(Task_Cancel(Held));
}

TEST_F(TaskTest, SubTaskDuringShutdownOnlyUnderUnload) {
    WorkflowApp_SetShuttingDown(TRUE);
    Task *Made = RunToEnd("chain");
    WorkflowApp_SetShuttingDown(FALSE);
    EXPECT_TRUE(Task_IsCancelled(Made));
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"chain"}));
}

TEST_F(TaskTest, AuthenticationDecision) {
    struct Case {
        const char *Url;
        const char *Store;
        uint32 SecurityOn;
        int32 Required;
    } Cases[] = {
        {"https://host/doc.json", nullptr, 1, 0},  {"https://host/doc.json", "app", 1, 1},
        {"http://host/doc.json", nullptr, 1, 1},   {"http://host/doc.json", nullptr, 0, 0},
        {"http://trusted/a/doc.json", nullptr, 1, 0}, {"http://trusted/a/datastore", nullptr, 1, 1},
        // Beside the content as the server serves it: the path with case, no
        // ";" segment, the data store in no spelling.
        {"HTTP://TRUSTED:80/a/b/../doc.json", nullptr, 1, 0}, {"http://trusted/A/doc.json", nullptr, 1, 1},
        {"http://trusted/a/..;/b/doc.json", nullptr, 1, 1},  {"http://trusted/a/x;y/doc.json", nullptr, 1, 1},
        {"http://trusted/ab/doc.json", nullptr, 1, 1},       {"http://trusted/a/DataStore", nullptr, 1, 1},
        {"http://trusted/a/datastore;x", nullptr, 1, 1},     {"http://trusted/a/datastore%20", nullptr, 1, 1},
        {"http://trusted/a/datastore.", nullptr, 1, 1},      {"http://trusted/a/datastore/x", nullptr, 1, 1},
        {"http://trusted/a/datastores", nullptr, 1, 0},
    };
    WebGet_WhitelistAdd("trusted");
    WorkflowApp_SetContentUrl("http://trusted/a");
    // A "contentUrl" macro that a task or data sets widens nothing.
    Workflow_AddMacro(Flow, "contentUrl", "http://trusted/");
    WorkflowApp_AddMacro("contentUrl", "http://trusted/");
    for (const Case &Each : Cases) {
        Authenticate_SetEnabled(Each.SecurityOn);
        Dictionary *Arguments = nullptr;
        Dictionary_Create(&Arguments);
        Dictionary_SetStringByKey(Arguments, "url", Each.Url);
        if (Each.Store != nullptr) Dictionary_SetStringByKey(Arguments, "store", Each.Store);
        Task *Made = Make("step1", nullptr, Arguments);
        EXPECT_EQ(Task_IsAuthenticationRequired(Made), Each.Required) << Each.Url << " " << Each.SecurityOn;
        Dictionary_Release(&Arguments);
    }
    Authenticate_SetEnabled(1);
    WebGet_WhitelistReset();
    WorkflowApp_SetContentUrl("");
}

// "/", "\\", ".", "%", "@", "?", "#", ";", blanks, raw or encoded, in each path segment and a password; Python's
// urllib as the server: beside only in the signed folder decoded and normalized (a plain spelling there always),
// no line shows the password, the fetch reads no URL apart.
TEST_F(TaskTest, EveryUrlSpellingIsReadOneWay) {
    std::string Input;
    for (std::string Mark : {"/", "\\", ".", "..", "%", "@", "?", "#", ";", " ", "%2F", "%2f", "%5C", "%2E", "%2e%2e",
                             "%25", "%40", "%3F", "%23", "%20", "%2E%2E%2F"})
        for (const char *Leaf : {"main.jws", "child.json"})
            for (std::string Path : {"/" + Mark + "signed/", "/signed" + Mark + "/", "/signed/" + Mark, "/signed" + Mark,
                                     "/other/" + Mark + Mark + "/signed/"})
                Input += "http://trusted" + Path + Leaf + "\n";
    std::istringstream Folders(RunPython(R"(
import posixpath, sys, urllib.parse
for url in sys.stdin.read().splitlines():
    path = urllib.parse.unquote(urllib.parse.urlsplit(url.replace("\\", "/")).path)
    path = posixpath.normpath("/" + path.lstrip("/") + ("/x" if path.endswith(("/.", "/..")) else "x"))
    print(path[:path.rfind("/") + 1])
)", Input)), Spelled(Input);
    WebGet_WhitelistAdd("trusted");
    Task *Made = Make("step1");
    for (std::string Url, Folder; std::getline(Spelled, Url) && std::getline(Folders, Folder);) {
        std::string Masked, Secret = "http://u:PW1" + Url.substr(Url.find("/signed") + 7) + "PW2@127.0.0.1:8/x";
        const bool Signed = Url.find("main.jws") != std::string::npos, Plain = Url.find_first_of("%\\;?# ") == std::string::npos;
        WorkflowApp_SetContentDocument(Signed ? Url.c_str() : "http://trusted/signed/main.jws");
        for (std::string Other : {"/signed/child.json", "/other/child.json"}) {
            const bool Beside = !Task_IsAuthenticationRequiredFor(Made, (Signed ? "http://trusted" + Other : Url).c_str());
            const bool Inside = Signed ? Other.rfind(Folder, 0) == 0 : Folder.rfind("/signed/", 0) == 0;
            EXPECT_TRUE(Beside ? Inside : !(Plain && Inside)) << Url << " in " << Folder << " for " << Other;
        }
        UrlParts Parts;
        const char *Why = "";
        const bool Read = URL_Read(Secret, &Parts, &Why);
        EXPECT_TRUE(!WebGet_CheckURL(Secret.c_str()) || (Read && Parts.Password == Secret.substr(9, Secret.rfind('@') - 9)));
        for (std::string Line : {"cannot load " + Secret + ": malformed URL", "Request failed (" + Secret + ") Connect",
                                 std::string("not a usable URL (") + (Read ? "" : Why) + "): " + Secret})
            EXPECT_TRUE(Log_Redact(Line.c_str(), Masked) && Masked.find("PW") == std::string::npos) << Masked;
    }
    WebGet_WhitelistReset();
    WorkflowApp_SetContentUrl("");
}

} // namespace

namespace {

std::string PageBatches;

int32 CollectBatch(void *, const char *, const char *Batch, void *) {
    PageBatches += Batch;
    return TRUE;
}

TEST_F(TaskTest, ScriptSubActionRaisesThePagesCallback) {
    Interop_Init();
    InteropExecuteCallback *Page = nullptr;
    Interop_AddExecuteCallback(&Page, nullptr, CollectBatch);
    PageBatches.clear();
    Task *Held = Make("outer");
    EXPECT_TRUE(Task_RunSubActionInterop(Held, "nothing", "cb-17"));
    EXPECT_TRUE(RunMainLoopUntil([] {
        Interop_Process();
        return PageBatches.find("cb-17") != std::string::npos;
    }));
    EXPECT_NE(PageBatches.find("\"type\":\"Task\""), std::string::npos) << PageBatches;
    EXPECT_NE(PageBatches.find("\"info\":{}"), std::string::npos) << PageBatches;
    char Id[40];
    Task_GetInstanceId(Held, Id, (int32)sizeof(Id));
    EXPECT_NE(PageBatches.find(Id), std::string::npos);
    Interop_RemoveExecuteCallback(&Page);
    Interop_Remove();
}

} // namespace

namespace {

// The services a bare task needs, from set-up to tear-down.
struct BareTaskScope {
    RuntimeScope Scope;
    BareTaskScope() {
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
    }
    ~BareTaskScope() {
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
    }
};

TEST(TaskDeathTest, TypeOfATaskWithoutRecordIsAFatalStop) {
    BareTaskScope Scope;
    Task *Made = nullptr;
    Task_Create(&Made);
    EXPECT_DEATH(Task_GetType(Made), "Task interface is not set");
    EXPECT_DEATH(Task_GetType(nullptr), "Pointer is NULL");
    Task_Release(&Made);
}

// A task's name, type name and default store keep every text up to their
// documented sizes (less the terminator) and cut longer ones there, whatever
// texts came before; a pointer read before a change stays readable.
TEST(TaskTextTest, TextsKeepTheirDocumentedSizesInAnyOrder) {
    BareTaskScope Scope;
    Task *Made = nullptr;
    Task_Create(&Made);
    char Buffer[512];
    EXPECT_STREQ(Task_GetNamePtr(Made), "");
    Task_GetDefaultCertStore(Made, Buffer, (int32)sizeof(Buffer));
    EXPECT_STREQ(Buffer, "app");
    // Lengths around each inline area and documented size, short ones again
    // after long ones; each text differs from the one before.
    std::vector<std::string> Texts;
    for (size_t Length : {0, 3, 15, 16, 23, 24, 31, 32, 63, 64, 119, 120, 300, 5, 40, 2}) {
        std::string Text(Length, ' ');
        for (size_t At = 0; At < Length; At++) Text[At] = (char)('a' + (At + Texts.size()) % 26);
        Texts.push_back(Text);
    }
    for (const std::string &Text : Texts) {
        SCOPED_TRACE(Text.size());
        const char *Earlier = Task_GetNamePtr(Made);
        Task_SetName(Made, Text.c_str());
        EXPECT_GE(strlen(Earlier), 0u);
        EXPECT_EQ(Task_GetNamePtr(Made), Text.substr(0, TASK_NAME_SIZE - 1));
        Task_GetName(Made, Buffer, (int32)sizeof(Buffer));
        EXPECT_EQ(Buffer, Text.substr(0, TASK_NAME_SIZE - 1));
        const TaskInterface Record = {Text.c_str(), nullptr, nullptr, nullptr};
        Task_SetInterface(Made, &Record);
        EXPECT_EQ(Task_GetType(Made), Text.substr(0, TASK_NAME_SIZE - 1));
        Task_SetDefaultCertStore(Made, Text.c_str());
        Task_GetDefaultCertStore(Made, Buffer, (int32)sizeof(Buffer));
        EXPECT_EQ(Buffer, Text.substr(0, TASK_CERTSTORE_NAME_SIZE - 1));
    }
    Task_Release(&Made);
}

} // namespace

// Cancels its task when the task's status "done" is reported.
int32 CancelOnDone(void *User, const char *, const char *, const char *, Dictionary *Info) {
    const char *Text = nullptr;
    if (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "status", &Text) && Text != nullptr &&
        strcmp(Text, "done") == 0)
        Task_AddError(static_cast<Task *>(User), "%s", "Task_Error_Cancelled");
    return TRUE;
}

// A completion without a result builds its result directly; it must carry
// what the same completion with an empty result gives, key for key.
TEST_F(TaskTest, CompletionWithoutResultMatchesAnEmptyOne) {
    struct Case {
        const char *Arguments; // merged over "outer"
        const char *Error;     // added before the completion, or null
        bool CancelOnStatus;   // an observer cancels the task when its final status is set
    };
    const std::vector<Case> Cases = {
        {"{}", nullptr, false},
        {"{}", "Broken", false},
        {"{\"status\":[\"going\",\"done\"]}", nullptr, false},
        {"{\"status\":[\"going\",\"done\"]}", "Task_Error_Cancelled", false},
        {"{\"status\":[\"going\",\"done\"]}", nullptr, true},
        {"{\"ignoreError\":true}", "Broken", false},
    };
    for (const Case &Each : Cases) {
        std::string Results[2];
        for (int WithEmpty = 0; WithEmpty < 2; WithEmpty++) {
            Dictionary *Loaded = JsonRoot(Each.Arguments), *Arguments = nullptr;
            ASSERT_NE(Loaded, nullptr);
            Dictionary_SkipRoot(Loaded, &Arguments);
            Task *Held = Make("outer", nullptr, Arguments);
            Dictionary_Release(&Loaded);
            Task_Start(Held);
            RunMainLoopPasses(2);
            const char *Id = reinterpret_cast<ClassStruct *>(Held)->InstanceId;
            if (Each.CancelOnStatus) NotificationCenter_AddInstanceObserver("Task", "Status", Id, Held, CancelOnDone);
            if (Each.Error != nullptr) Task_AddError(Held, "%s", Each.Error);
            Dictionary *Empty = nullptr;
            if (WithEmpty) Dictionary_Create(&Empty);
            Task_Complete(Held, Empty);
            if (Empty != nullptr) Dictionary_Release(&Empty);
            ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Held) != 0; }));
            RunMainLoopPasses(3);
            if (Each.CancelOnStatus) NotificationCenter_RemoveInstanceObserver("Task", "Status", Id, Held, CancelOnDone);
            Results[WithEmpty] = JsonText(LastResult);
        }
        EXPECT_EQ(Results[0], Results[1]) << Each.Arguments;
        EXPECT_NE(Results[0].find("\"cancelled\""), std::string::npos);
    }
}

namespace {

// What an observer of one task's "Task"/"Complete" does with the result
// after it has seen it: nothing, turn both flags, turn them and keep the
// result, or keep it and add a key before letting it go at the next
// completion.
enum class Grip { None, Flip, Hold, Late };

struct Witness {
    Grip Mode = Grip::None;
    std::string Text; // the result as delivered
    std::vector<std::pair<Dictionary *, std::string>> *Held = nullptr; // with their text when kept
    std::vector<Dictionary *> *Late = nullptr;
};

int32 WatchComplete(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Witness *Self = static_cast<Witness *>(User);
    Self->Text = JsonText(Info);
    if (Self->Mode == Grip::Flip || Self->Mode == Grip::Hold) {
        Dictionary_SetBooleanByKey(Info, "successful", FALSE);
        Dictionary_SetBooleanByKey(Info, "cancelled", TRUE);
    }
    if (Self->Mode == Grip::Hold) Self->Held->push_back({Dictionary_AddRef(Info), JsonText(Info)});
    if (Self->Mode == Grip::Late) Self->Late->push_back(Dictionary_AddRef(Info));
    return TRUE;
}

} // namespace

// Completions without a result take the results of ended ones again. Each
// scenario starts with none kept and runs its completions in turn; each must
// carry what the same completion with an empty result gives, whatever an
// observer did to the result it may take, and a result an observer still
// holds must stay as the observer left it.
TEST_F(TaskTest, KeptResultsCarryWhatAFreshOneWould) {
    struct Step {
        const char *Error; // added before the completion, or null
        Grip Mode;
    };
    const std::vector<std::vector<Step>> Scenarios = {
        {{nullptr, Grip::Flip}, {nullptr, Grip::None}},
        {{nullptr, Grip::Flip}, {"Broken", Grip::None}},
        {{nullptr, Grip::Hold}, {nullptr, Grip::None}},
        {{nullptr, Grip::Late}, {nullptr, Grip::None}},
    };
    std::vector<std::pair<Dictionary *, std::string>> Held;
    std::vector<Dictionary *> Late;
    auto Run = [&](const Step &Each, bool WithEmpty) {
        for (Dictionary *Result : Late) {
            Dictionary_SetBooleanByKey(Result, "extra", TRUE);
            Dictionary_Release(&Result);
        }
        Late.clear();
        Task *Made = Make("outer");
        Task_Start(Made);
        RunMainLoopPasses(2);
        Witness Watch{Each.Mode, "", &Held, &Late};
        const char *Id = reinterpret_cast<ClassStruct *>(Made)->InstanceId;
        NotificationCenter_AddInstanceObserver("Task", "Complete", Id, &Watch, WatchComplete);
        if (Each.Error != nullptr) Task_AddError(Made, "%s", Each.Error);
        Dictionary *Empty = nullptr;
        if (WithEmpty) Dictionary_Create(&Empty);
        Task_Complete(Made, Empty);
        if (Empty != nullptr) Dictionary_Release(&Empty);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
        RunMainLoopPasses(3);
        NotificationCenter_RemoveInstanceObserver("Task", "Complete", Id, &Watch, WatchComplete);
        return Watch.Text;
    };
    const std::string Plain = Run({nullptr, Grip::None}, true), Failed = Run({"Broken", Grip::None}, true);
    for (size_t Index = 0; Index < Scenarios.size(); Index++) {
        TaskInt_ForgetCompletionResults();
        for (const Step &Each : Scenarios[Index])
            EXPECT_EQ(Run(Each, false), Each.Error != nullptr ? Failed : Plain) << "scenario " << Index;
        Run({nullptr, Grip::None}, false);
        for (auto &[Result, Text] : Held) {
            EXPECT_EQ(JsonText(Result), Text) << "scenario " << Index;
            Dictionary_Release(&Result);
        }
        Held.clear();
    }
}

namespace {

// A task type whose start handler counts its runs.
struct Counted {
    ClassStruct Class;
    Task *Owner;
};
int32 CountedStarts = 0;
int32 OnCountedStart(void *, const char *, const char *, const char *, Dictionary *) {
    CountedStarts++;
    return TRUE;
}
void FreeCounted(Counted *) {}

} // namespace

TASKTYPE_OBJECT_DEFINE(Counted, Counted, 0x7e57c047u, OnCountedStart, FreeCounted)
TASKTYPE_INTERFACE_DEFINE(CountedType, Counted)

// "Task"/"Start" fired by anyone else with a running task's id (a page, a
// document's Notification task) does not run its type's start again; a
// start of the task does, each time.
TEST_F(TaskTest, TheTypeStartsOnceForEachStartOfItsTask) {
    CountedStarts = 0;
    Task *Made = nullptr;
    Task_Create(&Made);
    Task_SetInterface(Made, &CountedType_INTERFACE);
    const char *Id = reinterpret_cast<ClassStruct *>(Made)->InstanceId;
    Task_Start(Made);
    NotificationCenter_Process();
    EXPECT_EQ(CountedStarts, 1);
    for (int32 Forged = 0; Forged < 3; Forged++) NotificationCenter_Fire("Task", "Start", Id, nullptr);
    NotificationCenter_FireAfterDelay("Task", "Start", Id, 0, nullptr);
    NotificationCenter_Process();
    EXPECT_EQ(CountedStarts, 1);
    Task_Start(Made);
    NotificationCenter_Process();
    EXPECT_EQ(CountedStarts, 2);
    Task_Release(&Made);
}
