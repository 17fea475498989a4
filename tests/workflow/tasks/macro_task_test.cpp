// Macro and Aggregate: literal keys and expanded values, pairs in order with
// containers skipped, global macros seen by a later workflow; aggregate runs
// per keyed entry and per "target" entry (under the target's path), empty
// content, and content missing altogether.
#include "workflow/tasks/macro_task.h"

#include <gtest/gtest.h>

#include "runtime/time.h"

#include <string>
#include <vector>

#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "tests/support/log_capture.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/workflow_event.h"

namespace {

std::vector<std::string> Labels;

int32 OnStart(void *, const char *, const char *, const char *, Dictionary *Info) {
    char Name[64] = "", Path[128], Label[64] = "";
    Dictionary_GetStringByKey(Info, "name", Name, (int32)sizeof(Name));
    if (std::string(Name) != "job" && std::string(Name) != "other") return TRUE;
    snprintf(Path, sizeof(Path), "%s.label", Name);
    Dictionary_GetStringByPath(Info, Path, Label, (int32)sizeof(Label));
    snprintf(Path, sizeof(Path), "%s.settings.label", Name);
    char Nested[64] = "";
    if (Dictionary_GetStringByPath(Info, Path, Nested, (int32)sizeof(Nested))) {
        uint32 Keep = FALSE;
        snprintf(Path, sizeof(Path), "%s.settings.keep", Name);
        Dictionary_GetBooleanByPath(Info, Path, &Keep);
        Labels.push_back(std::string(Name) + ":" + Label + "/" + Nested + (Keep ? "+keep" : ""));
    } else {
        Labels.push_back(std::string(Name) + ":" + Label);
    }
    return TRUE;
}

class MacroTaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "macro.yaml").c_str()));
        Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
        Workflow_AddMacro(Flow, "who", "tester");
        Labels.clear();
        NotificationCenter_AddObserver("Task", "Start", this, OnStart);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Task", "Start", this, OnStart);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        WorkflowTest::TearDown();
    }
    Outcome Run(const char *Name) {
        Outcome Out;
        Workflow_RunTask(Flow, Name, &Out, Record);
        EXPECT_TRUE(RunMainLoopUntil([&] { return Out.Done; })) << Name;
        return Out;
    }
    std::string Expand(Workflow *Where, const char *Text) {
        char Buffer[256];
        String_CopyLength(Buffer, Text, (int32)sizeof(Buffer));
        Workflow_ExpandString(Where, Buffer, (int32)sizeof(Buffer));
        return Buffer;
    }
};

TEST_F(MacroTaskTest, MacrosFromKeyAndPairs) {
    EXPECT_TRUE(Run("single").Successful);
    Dictionary *Macros = nullptr;
    Workflow_GetMacroDictionaryHandle(Flow, &Macros);
    char Value[64] = "";
    EXPECT_TRUE(Dictionary_GetStringByKey(Macros, "{literal}", Value, (int32)sizeof(Value)));
    EXPECT_STREQ(Value, "v-tester");
    EXPECT_EQ(Expand(Flow, "{first}|{second}"), "one|one-two");
    EXPECT_FALSE(Dictionary_ContainsKey(Macros, "nested"));
    // The single pair goes in before the pairs.
    DictionaryItem *Item = nullptr;
    const char *Key = nullptr;
    Dictionary_ItemFindByKey(Macros, "{literal}", nullptr, &Item);
    ASSERT_NE(Item, nullptr);
    Dictionary_ItemGetNext(Macros, Item, &Item);
    ASSERT_NE(Item, nullptr);
    Dictionary_ItemGetKeyPtr(Macros, Item, &Key);
    EXPECT_STREQ(Key, "first");
}

TEST_F(MacroTaskTest, GlobalMacrosReachLaterWorkflows) {
    EXPECT_TRUE(Run("global").Successful);
    EXPECT_NE(Captured.find("Adding macro shared=everywhere (global)"), std::string::npos);
    Workflow *Later = nullptr;
    Workflow_Create(&Later);
    EXPECT_EQ(Expand(Later, "{shared}"), "everywhere");
    Workflow_Release(&Later);
}

TEST_F(MacroTaskTest, MissingArgumentsAndUrls) {
    Outcome Nothing = Run("nothing");
    EXPECT_FALSE(Nothing.Successful);
    EXPECT_NE(Nothing.Errors.find("Task_Error_MissingArg"), std::string::npos);
    // An unreachable document: four attempts on the test clock, then the
    // task completes with the request's error.
    Time_TestClockStart(1000);
    Outcome Url;
    Workflow_RunTask(Flow, "fromUrl", &Url, Record);
    for (int Pass = 0; Pass < 4000 && !Url.Done; Pass++) {
        RunMainLoopPasses(1);
        if (Pass % 20 == 19) Time_TestClockAdvance(61000);
    }
    Time_TestClockStop();
    ASSERT_TRUE(Url.Done);
    EXPECT_FALSE(Url.Successful);
    EXPECT_NE(Url.Errors.find("WebGet_Error_Connect"), std::string::npos);
    Outcome NoContent = Run("noContent");
    EXPECT_FALSE(NoContent.Successful);
    EXPECT_NE(Captured.find("\"content\" argument not defined"), std::string::npos);
}

TEST_F(MacroTaskTest, AggregateRunsPerEntry) {
    EXPECT_TRUE(Run("keyed").Successful) << Captured;
    EXPECT_EQ(Labels, (std::vector<std::string>{"job:a", "job:b", "job:c", "other:d"}));
    Labels.clear();
    EXPECT_TRUE(Run("targeted").Successful) << Captured;
    EXPECT_EQ(Labels, (std::vector<std::string>{"job:base/x+keep", "job:base/y+keep"}));
    Labels.clear();
    EXPECT_TRUE(Run("emptyContent").Successful);
    EXPECT_TRUE(Labels.empty());
}

} // namespace
