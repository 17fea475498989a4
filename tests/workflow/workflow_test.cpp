// Workflow object: documents from JSON and YAML files (the YAML twin written
// by PyYAML from the JSON file must load alike), tasks created on demand
// with macro-named names and templates, the type lookup order, cancelling,
// macros without case, errors, and a type this build does not carry.
#include "workflow/workflow.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <string>
#include <vector>

#include "runtime/documents/json.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/app/workflow_app.h"

namespace {

std::string ToJson(Dictionary *Document) {
    JSON *Writer = nullptr;
    JSON_Create(&Writer);
    JSON_SetDictionaryHandle(Writer, Document);
    JSON_SetMinify(Writer, TRUE);
    int32 Size = 0;
    JSON_SaveBufferEstimate(Writer, &Size);
    std::string Text((size_t)Size + 1, '\0');
    int32 Written = 0;
    JSON_SaveBuffer(Writer, Text.data(), Size + 1, &Written);
    JSON_Release(&Writer);
    Text.resize((size_t)Written);
    return Text;
}

std::string Argument(Task *Handle, const char *Name) {
    char Buffer[1024];
    Task_GetStringArgument(Handle, Name, Buffer, (int32)sizeof(Buffer));
    return Buffer;
}

class WorkflowObjectTest : public WorkflowTest, public ::testing::WithParamInterface<const char *> {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + GetParam()).c_str()));
    }
    void TearDown() override {
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
    }
    // Creates and starts a task, then runs the loop until it completed.
    Task *RunToEnd(const char *Name) {
        Task *Made = nullptr;
        EXPECT_TRUE(Workflow_CreateTask(Flow, Name, nullptr, nullptr, &Made));
        if (Made == nullptr) return nullptr;
        Task_Start(Made);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(Made) != 0; }));
        RunMainLoopPasses(3);
        return Made;
    }
};

TEST_P(WorkflowObjectTest, SetsPathMacros) {
    char Text[512] = "{WORKFLOWPATH}|{workflowdirectory}";
    Workflow_ExpandString(Flow, Text, (int32)sizeof(Text));
    EXPECT_EQ(std::string(Text), DataDir + GetParam() + "|" + DataDir.substr(0, DataDir.size() - 1));
}

TEST_P(WorkflowObjectTest, TaskNameFromMacro) {
    Workflow_AddMacro(Flow, "which", "chosen");
    Task *Made = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "{which}", nullptr, nullptr, &Made));
    EXPECT_STREQ(Task_GetNamePtr(Made), "chosen");
    EXPECT_EQ(Argument(Made, "title"), "picked by chosen");
}

TEST_P(WorkflowObjectTest, TemplatesInOrderUnderTheDefinition) {
    Workflow_AddMacro(Flow, "secondTemplate", "second");
    Task *Made = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "templated", nullptr, nullptr, &Made));
    EXPECT_EQ(Argument(Made, "x"), "first");
    EXPECT_EQ(Argument(Made, "y"), "second");
    EXPECT_EQ(Argument(Made, "z"), "own");
    EXPECT_EQ(Argument(Made, "outcome"), "success");
}

TEST_P(WorkflowObjectTest, CreationFailures) {
    struct Case {
        const char *Name;
        const char *Message;
    } Cases[] = {
        {"absent", "Cannot find task absent"},
        {"untyped", "Task has no type property (untyped)"},
        {"unknownType", "Cannot find task handler for task type (NoSuchType)"},
    };
    for (const Case &Each : Cases) {
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
        Task *Made = reinterpret_cast<Task *>(1);
        EXPECT_FALSE(Workflow_CreateTask(Flow, Each.Name, nullptr, nullptr, &Made)) << Each.Name;
        EXPECT_EQ(Made, nullptr);
        EXPECT_NE(Captured.find(Each.Message), std::string::npos) << Captured;
    }
    int32 Count = -1;
    Workflow_GetTaskCount(Flow, &Count);
    EXPECT_EQ(Count, 0);
}

TEST_P(WorkflowObjectTest, DefaultTypesOnlyWhileUsed) {
    Task *Made = nullptr;
    EXPECT_TRUE(Workflow_CreateTask(Flow, "step1", nullptr, nullptr, &Made));
    Workflow_SetUseDefaultTaskTypes(Flow, FALSE);
    EXPECT_FALSE(Workflow_CreateTask(Flow, "step1", nullptr, nullptr, &Made));
    Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
    EXPECT_TRUE(Workflow_CreateTask(Flow, "step1", nullptr, nullptr, &Made));
    // Removing the type removes the tasks made with it.
    int32 Count = 0;
    Workflow_GetTaskCount(Flow, &Count);
    EXPECT_EQ(Count, 2);
    const TaskInterface *Record = nullptr;
    ASSERT_TRUE(Workflow_FindTaskHandler(Flow, "TEST", &Record));
    Workflow_UnregisterTaskHandler(Flow, &TestTask_INTERFACE);
    Workflow_GetTaskCount(Flow, &Count);
    EXPECT_EQ(Count, 1);
}

TEST_P(WorkflowObjectTest, UnavailableTypeFailsClearly) {
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    uint32 Successful = 2;
    auto Keep = [](void *User, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        Dictionary_GetBooleanByKey(Info, "successful", static_cast<uint32 *>(User));
        return TRUE;
    };
    NotificationCenter_AddObserver("Task", "Complete", &Successful, Keep);
    Task *Made = RunToEnd("copy");
    NotificationCenter_RemoveObserver("Task", "Complete", &Successful, Keep);
    EXPECT_EQ(Successful, 0u);
    ASSERT_NE(Made, nullptr);
    EXPECT_NE(Captured.find("Task type FileCopy is not available in this build"), std::string::npos);
    // Recorded although the definition asks to ignore errors.
    EXPECT_TRUE(Task_HasError(Made, "FileCopy_Error_NotAvailable"));
    EXPECT_FALSE(Task_IsCancelled(Made));
}

TEST_P(WorkflowObjectTest, CancelSkipsLoadAndUnloadAndRunsOnce) {
    Dictionary *Extra = nullptr;
    Dictionary_Create(&Extra);
    Dictionary *Unload = nullptr;
    Dictionary_AddDictionary(Extra, "unload", &Unload, nullptr);
    Dictionary_SetStringByKey(Unload, "type", "Test");
    Dictionary_SetStringByKey(Unload, "outcome", "hold");
    Workflow_LoadDictionary(Flow, Extra, 1);
    Dictionary_Release(&Extra);

    Task *Held = nullptr, *UnloadTask = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "outer", nullptr, nullptr, &Held));
    ASSERT_TRUE(Workflow_CreateTask(Flow, "unload", nullptr, nullptr, &UnloadTask));
    Task_Start(Held);
    Task_Start(UnloadTask);
    RunMainLoopPasses(3);
    EXPECT_FALSE(Workflow_CancelTasks(Flow));
    EXPECT_FALSE(Task_IsCompleted(Held));
    Task_Complete(UnloadTask, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Task_IsCompleted(UnloadTask) != 0; }));
    EXPECT_TRUE(Workflow_CancelTasks(Flow));
    EXPECT_TRUE(Task_IsCancelled(Held));
    EXPECT_TRUE(Workflow_CancelTasks(Flow));
}

TEST_P(WorkflowObjectTest, ErrorsKeepOneEntryButFireTwice) {
    int32 Fired = 0;
    auto Count = [](void *User, const char *, const char *, const char *, Dictionary *) -> int32 {
        ++*static_cast<int32 *>(User);
        return TRUE;
    };
    char Id[40];
    Workflow_GetInstanceId(Flow, Id, (int32)sizeof(Id));
    NotificationCenter_AddInstanceObserver("Workflow", "Error", Id, &Fired, Count);
    Workflow_AddError(Flow, "%s", "%n%s%x");
    Workflow_AddError(Flow, "%s", "%n%s%x");
    int32 Errors = 0;
    Workflow_GetErrorCount(Flow, &Errors);
    EXPECT_EQ(Errors, 1);
    EXPECT_EQ(Fired, 2);
    Dictionary *Status = nullptr;
    Workflow_GetStatusDictionaryHandle(Flow, &Status);
    char Text[64];
    Dictionary_GetStringByPath(Status, "errors[0]", Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "%n%s%x");
    NotificationCenter_RemoveInstanceObserver("Workflow", "Error", Id, &Fired, Count);
}

INSTANTIATE_TEST_SUITE_P(Documents, WorkflowObjectTest, ::testing::Values("basic.json", "basic.yaml"));

TEST_F(WorkflowTest, JsonAndYamlTwinsLoadAlike) {
    Workflow *FromJson = nullptr, *FromYaml = nullptr;
    Workflow_Create(&FromJson);
    Workflow_Create(&FromYaml);
    ASSERT_TRUE(Workflow_LoadFile(FromJson, (DataDir + "basic.json").c_str()));
    ASSERT_TRUE(Workflow_LoadFile(FromYaml, (DataDir + "basic.yaml").c_str()));
    Dictionary *A = nullptr, *B = nullptr;
    Workflow_GetDictionaryHandle(FromJson, &A);
    Workflow_GetDictionaryHandle(FromYaml, &B);
    EXPECT_EQ(ToJson(A), ToJson(B));
    Workflow_Release(&FromJson);
    Workflow_Release(&FromYaml);
}

// PyYAML, as an independent reader, sees the same document in both twins.
TEST_F(WorkflowTest, TwinsAgreeUnderPyYaml) {
    std::string Answer = RunPython("import json, sys\n"
                                   "try:\n    import yaml\nexcept ImportError:\n    print('skip'); sys.exit(0)\n"
                                   "j = json.load(open('" + DataDir + "basic.json'))\n"
                                   "y = yaml.safe_load(open('" + DataDir + "basic.yaml'))\n"
                                   "print('same' if j == y else 'differ')\n");
    SKIP_UNLESS(Answer != "skip\n", "python3-yaml is not installed");
    EXPECT_EQ(Answer, "same\n");
}

TEST_F(WorkflowTest, LoadFileChoosesParserByExtension) {
    TempDirectory Temp;
    const std::string &Dir = Temp.Path;
    struct Case {
        const char *Name;
        const char *Text;
        bool Loads;
    } Cases[] = {
        {"wf.JSON", "{\"a\": {\"type\": \"Test\"}}", true},
        {"wf.Json", "{\"a\": {\"type\": \"Test\"}}", true},
        {"wf.yml", "a:\n  type: Test\n", true},
        {"wf", "a:\n  type: Test\n", true},
        {"wf2.json", "a:\n  type: Test\n", false},
        {"wf3.json", "[1, 2]", false},
        {"wf4.json", "{\"a\": ", false},
    };
    for (const Case &Each : Cases) {
        std::string Path = Dir + "/" + Each.Name;
        FILE *Out = fopen(Path.c_str(), "wb");
        ASSERT_NE(Out, nullptr);
        fputs(Each.Text, Out);
        fclose(Out);
        Workflow *Flow = nullptr;
        Workflow_Create(&Flow);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
        EXPECT_EQ(Workflow_LoadFile(Flow, Path.c_str()) != 0, Each.Loads) << Each.Name << Captured;
        EXPECT_EQ(Workflow_CanCreateTask(Flow, "a") != 0, Each.Loads) << Each.Name;
        Workflow_Release(&Flow);
        remove(Path.c_str());
    }
}

TEST_F(WorkflowTest, BufferAndDictionaryLoads) {
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    const char Text[] = "{\"a\": {\"type\": \"Test\", \"k\": 1}}";
    EXPECT_TRUE(Workflow_LoadBuffer(Flow, Text, (int32)sizeof(Text) - 1));
    EXPECT_FALSE(Workflow_LoadBuffer(Flow, "{oops", 5));
    EXPECT_TRUE(Workflow_CanCreateTask(Flow, "a"));
    // A merge replaces a task of the same name whole.
    const char Second[] = "{\"a\": {\"type\": \"Test\"}, \"b\": {\"type\": \"Test\"}}";
    EXPECT_TRUE(Workflow_LoadBuffer(Flow, Second, (int32)sizeof(Second) - 1));
    Dictionary *Document = nullptr;
    Workflow_GetDictionaryHandle(Flow, &Document);
    EXPECT_FALSE(Dictionary_ContainsPath(Document, "a.k"));
    EXPECT_TRUE(Workflow_CanCreateTask(Flow, "b"));
    Workflow_Release(&Flow);
}

// A first document is read into the workflow's own and lifted from under
// its root, not merged; the document must come out as the merge into an
// empty one makes it, repeated keys (which the merge folds) included, and
// every task must be found by name, through the key table of a large one.
TEST_F(WorkflowTest, AFirstDocumentLoadsAsTheMergeMakesIt) {
    std::string Large = "{", Repeating;
    for (int Index = 0; Index < 100; Index++)
        Large += (Index ? ",\"t" : "\"t") + std::to_string(Index) + "\":{\"type\":\"Log\",\"n\":" + std::to_string(Index) + "}";
    Repeating = Large + ",\"t5\":{\"x\":[1]}}";
    Large += "}";
    const std::vector<std::string> Documents = {
        "{\"start\":{\"type\":\"Queue\",\"actions\":[\"a\"]},\"a\":{\"type\":\"Log\",\"b\":true,\"z\":null,\"f\":1.50}}",
        "{\"a\":{\"x\":1,\"l\":[2]},\"b\":{},\"a\":{\"y\":2,\"l\":[3]}}",
        "{\"a\":{\"x\":1,\"x\":{\"deep\":2}}}",
        "{\"a\":{\"l\":[{\"k\":1,\"k\":2}],\"m\":[[],{}]}}",
        Large,
        Repeating,
        "[1,2]",
        "{\"a\":1,",
        "7"};
    for (const std::string &Text : Documents) {
        Dictionary *Parsed = nullptr, *Merged = nullptr, *Inner = nullptr;
        Dictionary_Create(&Parsed);
        Dictionary_Create(&Merged);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Parsed);
        const bool Reads = JSON_LoadBuffer(Reader, Text.data(), (int32)Text.size()) != 0;
        JSON_Release(&Reader);
        Dictionary_SkipRoot(Parsed, &Inner);
        const bool Loads = Reads && Inner != Parsed;
        if (Loads) Dictionary_Merge(Merged, Inner, DICTIONARY_MERGE_OVERWRITE);

        Workflow *Flow = nullptr;
        Workflow_Create(&Flow);
        Dictionary *Document = nullptr;
        Workflow_GetDictionaryHandle(Flow, &Document);
        EXPECT_EQ(Workflow_LoadBuffer(Flow, Text.data(), (int32)Text.size()) != 0, Loads) << Text;
        EXPECT_EQ(ToJson(Document), ToJson(Merged)) << Text;
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Merged, &Item); Item != nullptr; Dictionary_ItemGetNext(Merged, Item, &Item)) {
            const char *Key = nullptr;
            Dictionary_ItemGetKeyPtr(Merged, Item, &Key);
            EXPECT_TRUE(Dictionary_ContainsKey(Document, Key)) << Key;
        }
        // A failed first load leaves the document empty for the next.
        const char Next[] = "{\"c\":{\"type\":\"Test\"}}";
        if (!Loads) {
            EXPECT_TRUE(Workflow_LoadBuffer(Flow, Next, (int32)sizeof(Next) - 1));
        }
        Workflow_Release(&Flow);
        Dictionary_Release(&Parsed);
        Dictionary_Release(&Merged);
    }
}

TEST_F(WorkflowTest, MacrosAndCompletionNotification) {
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    Workflow_AddMacro(Flow, "workflowPath", "/x");
    char Text[64] = "{WorkflowPATH}";
    Workflow_ExpandString(Flow, Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "/x");
    EXPECT_TRUE(Workflow_AddMacroJSON(Flow, "{\"one\": \"1\", \"two\": {\"x\": 1}}"));
    EXPECT_FALSE(Workflow_AddMacroJSON(Flow, "{"));
    char Two[64] = "{one}{two}";
    Workflow_ExpandString(Flow, Two, (int32)sizeof(Two));
    EXPECT_STREQ(Two, "1{two}");

    bool Completed = false;
    auto OnComplete = [](void *User, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        uint32 CanRemote = 1;
        Dictionary_GetBooleanByKey(Info, "canRemote", &CanRemote);
        *static_cast<bool *>(User) = CanRemote == 0;
        return TRUE;
    };
    char Id[40];
    Workflow_GetInstanceId(Flow, Id, (int32)sizeof(Id));
    NotificationCenter_AddInstanceObserver("Workflow", "Complete", Id, &Completed, OnComplete);
    Workflow_Complete(Flow, nullptr);
    EXPECT_FALSE(Completed);
    EXPECT_TRUE(RunMainLoopUntil([&] { return Completed; }));
    NotificationCenter_RemoveInstanceObserver("Workflow", "Complete", Id, &Completed, OnComplete);
    Workflow_Release(&Flow);
}

// A kept macro holds its cost of the memory budget: an overwrite moves it to
// the new value's, a value the budget cannot hold is not stored, and the
// table gives all of it back when it goes.
TEST_F(WorkflowTest, MacrosHoldTheirCostOfTheBudget) {
    const int64 Held = MemoryBudget_GetUsed(), Limit = MemoryBudget_GetLimit();
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    const std::string Long(8000, 'v'), Short(10, 's');
    int64 LongCost = 0, ShortCost = 0;
    Workflow_GetMacroCost("k", 8000, &LongCost);
    Workflow_GetMacroCost("k", 10, &ShortCost);
    for (const auto &[Value, Expected] : {std::pair{&Long, LongCost}, {&Short, ShortCost}, {&Long, LongCost}}) {
        EXPECT_TRUE(Workflow_AddMacro(Flow, "k", Value->c_str()));
        EXPECT_EQ(MemoryBudget_GetUsed() - Held, Expected);
    }
    MemoryBudget_SetLimit(MemoryBudget_GetUsed() + LongCost - 1);
    EXPECT_FALSE(Workflow_AddMacro(Flow, "other", Long.c_str()));
    char Text[16] = "{other}";
    Workflow_ExpandString(Flow, Text, (int32)sizeof(Text));
    EXPECT_STREQ(Text, "{other}");
    MemoryBudget_SetLimit(Limit);
    Workflow_Release(&Flow);
    EXPECT_EQ(MemoryBudget_GetUsed(), Held);
}

} // namespace

namespace {

// Events still hold a task after its workflow, with the workflow's own type
// list, is gone: the task's type must still release cleanly.
TEST_F(WorkflowTest, TaskOutlivesItsWorkflowsTypeList) {
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    Workflow_SetUseDefaultTaskTypes(Flow, FALSE);
    Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
    const char Text[] = "{\"a\": {\"type\": \"Test\", \"outcome\": \"hold\", \"complete\": \"a2\"}, "
                        "\"a2\": {\"type\": \"Test\"}}";
    ASSERT_TRUE(Workflow_LoadBuffer(Flow, Text, (int32)sizeof(Text) - 1));
    Task *Made = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "a", nullptr, nullptr, &Made));
    Task_Start(Made);
    ASSERT_TRUE(RunMainLoopUntil([] { return !TestTaskStarts().empty(); }));
    Task_Complete(Made, nullptr);
    Workflow_Release(&Flow);
    RunMainLoopPasses(10);
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"a"}));
}

TEST_F(WorkflowTest, TaskRecordsKeepParentLinksAcrossRemovals) {
    Workflow *Flow = nullptr;
    Workflow_Create(&Flow);
    Workflow_SetUseDefaultTaskTypes(Flow, FALSE);
    Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
    const char Text[] = "{\"t\": {\"type\": \"Test\", \"outcome\": \"hold\"}}";
    ASSERT_TRUE(Workflow_LoadBuffer(Flow, Text, (int32)sizeof(Text) - 1));
    // a -> (b -> c, d), e; f names a parent that is not in the list.
    Task *A = nullptr, *B = nullptr, *C = nullptr, *D = nullptr, *E = nullptr, *F = nullptr, *Stray = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, nullptr, &A));
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, A, &B));
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, B, &C));
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, A, &D));
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, nullptr, &E));
    Task_Create(&Stray);
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, Stray, &F));
    auto Children = [&](Task *Parent) {
        int32 Count = -1;
        Workflow_GetChildTaskCount(Flow, Parent, &Count);
        return Count;
    };
    auto ParentOf = [&](Task *Child) {
        Task *Parent = nullptr;
        Workflow_GetParentTaskHandle(Flow, Child, &Parent);
        return Parent;
    };
    EXPECT_EQ(Children(A), 2);
    EXPECT_EQ(Children(B), 1);
    EXPECT_EQ(ParentOf(F), nullptr);
    Task *Root = nullptr;
    EXPECT_TRUE(Workflow_GetRootTaskHandle(Flow, C, &Root));
    EXPECT_EQ(Root, A);

    // A subtree goes with its root; the rest keeps its links.
    ASSERT_TRUE(Workflow_ClearTasksByHandle(Flow, B));
    int32 Count = 0;
    Workflow_GetTaskCount(Flow, &Count);
    EXPECT_EQ(Count, 4);
    EXPECT_EQ(Children(A), 1);
    EXPECT_EQ(ParentOf(D), A);
    // A new child of a parent that lost one is linked and removed alike.
    Task *G = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, A, &G));
    EXPECT_EQ(Children(A), 2);
    ASSERT_TRUE(Workflow_ClearTasksByHandle(Flow, D));
    EXPECT_EQ(ParentOf(G), A);
    EXPECT_FALSE(Workflow_ClearTasksByHandle(Flow, D));
    // Clearing from the first record removes parents before their children:
    // no child may keep a link to a freed record (ASan checks this run).
    Task *H = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "t", nullptr, G, &H));
    ASSERT_TRUE(Workflow_ClearTasks(Flow));
    Workflow_GetTaskCount(Flow, &Count);
    EXPECT_EQ(Count, 0);
    Task_Release(&Stray);
    Workflow_Release(&Flow);
}

TEST_F(WorkflowTest, TaskFoundByInstanceIdOnlyInItsOwnWorkflow) {
    Workflow *Flows[2] = {nullptr, nullptr};
    Task *Tasks[2] = {nullptr, nullptr};
    const char Text[] = "{\"t\": {\"type\": \"Test\", \"outcome\": \"hold\"}}";
    for (int Index = 0; Index < 2; Index++) {
        Workflow_Create(&Flows[Index]);
        Workflow_SetUseDefaultTaskTypes(Flows[Index], FALSE);
        Workflow_RegisterTaskHandler(Flows[Index], &TestTask_INTERFACE);
        ASSERT_TRUE(Workflow_LoadBuffer(Flows[Index], Text, (int32)sizeof(Text) - 1));
        ASSERT_TRUE(Workflow_CreateTask(Flows[Index], "t", nullptr, nullptr, &Tasks[Index]));
    }
    Task *Loose = nullptr;
    Task_Create(&Loose);
    auto Id = [](void *Object) { return std::string(reinterpret_cast<ClassStruct *>(Object)->InstanceId); };
    auto Upper = [](std::string Text) {
        for (char &Letter : Text) Letter = (char)toupper((unsigned char)Letter);
        return Text;
    };
    // Each workflow holds one task: the one whose id matches without case.
    auto Expected = [&](int Flow, const std::string &Wanted) -> Task * {
        return strcasecmp(Id(Tasks[Flow]).c_str(), Wanted.c_str()) == 0 ? Tasks[Flow] : nullptr;
    };
    const std::vector<std::string> Wanted = {
        Id(Tasks[0]), Upper(Id(Tasks[0])), Id(Tasks[1]), Upper(Id(Tasks[1])), Id(Loose), Id(Flows[0]), "", "nothing",
    };
    for (int Flow = 0; Flow < 2; Flow++)
        for (const std::string &Each : Wanted) {
            Task *Found = reinterpret_cast<Task *>(1);
            const int32 Result = Workflow_FindTaskByInstanceId(Flows[Flow], Each.c_str(), &Found);
            EXPECT_EQ(Found, Expected(Flow, Each)) << Flow << " " << Each;
            EXPECT_EQ(Result, Found != nullptr ? TRUE : FALSE);
        }
    // A task the workflow no longer lists is not its own, though it lives on.
    Task *Kept = Task_AddRef(Tasks[0]);
    Workflow_ClearTasks(Flows[0]);
    Task *Found = nullptr;
    EXPECT_FALSE(Workflow_FindTaskByInstanceId(Flows[0], Id(Kept).c_str(), &Found));
    EXPECT_FALSE(Workflow_ClearTasksByHandle(Flows[0], Kept));
    Task_Release(&Kept);
    Task_Release(&Loose);
    for (Workflow *&Flow : Flows) Workflow_Release(&Flow);
}

} // namespace
