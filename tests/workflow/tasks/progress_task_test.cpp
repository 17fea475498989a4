// Progress task: weights shared among unweighted tasks, the maximum
// percentage, skipped tasks giving their weight on, bounds past 1, a chain
// end, and an overall figure that never goes backwards or past the maximum.
#include "workflow/tasks/progress_task.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/notification/notification_center.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/workflow_event.h"

namespace {

std::vector<double> Overall;

int32 OnStatus(void *, const char *, const char *, const char *, Dictionary *Info) {
    float64 Value = 0;
    if (Info != nullptr && Dictionary_GetFloat64ByKey(Info, "overallProgress", &Value)) Overall.push_back(Value);
    return TRUE;
}

class ProgressTaskTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    void SetUp() override {
        WorkflowTest::SetUp();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadFile(Flow, (DataDir + "progress.yaml").c_str()));
        Workflow_RegisterTaskHandler(Flow, &TestTask_INTERFACE);
        Overall.clear();
        NotificationCenter_AddObserver("Task", "Status", this, OnStatus);
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Task", "Status", this, OnStatus);
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
};

void ExpectForwardWithin(const std::vector<double> &Values, double Ceiling) {
    for (size_t Index = 0; Index < Values.size(); Index++) {
        EXPECT_LE(Values[Index], Ceiling + 1e-12) << Index;
        if (Index > 0) {
            EXPECT_GE(Values[Index], Values[Index - 1]) << Index;
        }
    }
}

TEST_F(ProgressTaskTest, FiguresFollowTheWeights) {
    struct Case {
        const char *Name;
        std::vector<double> Expected;
        double Ceiling;
    } Cases[] = {
        {"shares", {0.5, 0.75, 1.0}, 1.0},          // 0.5 given, the rest split
        {"half", {0.25, 0.5}, 0.5},                 // maxPercentage 50
        {"skipFirst", {1.0}, 1.0},                  // eq skipped: ne takes its weight
        {"skipLast", {0.5, 1.0}, 1.0},              // ne skipped: marked at the end
        {"chainEnd", {0.0, 0.5, 1.0}, 1.0},         // the queue reports 0 first; "below" is not chained
    };
    for (const Case &Each : Cases) {
        Overall.clear();
        Outcome Out = Run(Each.Name);
        EXPECT_TRUE(Out.Successful) << Each.Name << Captured;
        std::string Seen;
        for (double Value : Overall) Seen += std::to_string(Value) + " ";
        ASSERT_EQ(Overall.size(), Each.Expected.size()) << Each.Name << ": " << Seen;
        for (size_t Index = 0; Index < Overall.size(); Index++)
            EXPECT_NEAR(Overall[Index], Each.Expected[Index], 1e-9) << Each.Name << " " << Index;
        ExpectForwardWithin(Overall, Each.Ceiling);
    }
}

TEST_F(ProgressTaskTest, OverweightChainAndBoundsPastOne) {
    // 0.7 + 0.6 leave nothing for "light" (weight 0). The second bound at
    // 1.0000001 counts as complete, not as 0.
    Outcome Out = Run("overweight");
    EXPECT_TRUE(Out.Successful);
    ASSERT_FALSE(Overall.empty());
    bool SawFirstShare = false;
    for (double Value : Overall)
        if (std::abs(Value - 0.7 / 1.3) < 1e-9) SawFirstShare = true;
    EXPECT_TRUE(SawFirstShare);
    EXPECT_NEAR(Overall.back(), 1.0, 1e-9);
    ExpectForwardWithin(Overall, 1.0);
}

TEST_F(ProgressTaskTest, MissingChainTaskFails) {
    Outcome Out = Run("missing");
    EXPECT_FALSE(Out.Successful);
    EXPECT_NE(Captured.find("Cannot find task nowhere"), std::string::npos);
    EXPECT_TRUE(TestTaskStarts().empty());
}

TEST_F(ProgressTaskTest, TimedProgressStepsOnTheTestClock) {
    Time_TestClockStart(1000);
    Outcome Out;
    Workflow_RunTask(Flow, "timed", &Out, Record);
    ASSERT_TRUE(RunMainLoopUntil([] { return TestTaskStarts().size() == 1; }));
    // Each simulated second adds limit x interval / time = 0.05 to the bound,
    // 0.025 overall (weight 0.5), up to the limit 0.5 of the bound.
    for (int Second = 0; Second < 15; Second++) {
        Time_TestClockAdvance(1000);
        RunMainLoopPasses(2);
    }
    ASSERT_EQ(Overall.size(), 10u);
    EXPECT_NEAR(Overall.front(), 0.025, 1e-9);
    EXPECT_NEAR(Overall.back(), 0.25, 1e-9);
    ExpectForwardWithin(Overall, 1.0);
    Task *Held = nullptr;
    ASSERT_TRUE(Workflow_FindTaskByName(Flow, "slow", &Held));
    Task_Complete(Held, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Out.Done; }));
    EXPECT_NEAR(Overall.back(), 1.0, 1e-9);
    Time_TestClockStop();
}

} // namespace

TEST_F(ProgressTaskTest, PrintsThroughCallbackOrLogAndGatesVerbose) {
    Task *Owner = nullptr;
    Task_Create(&Owner);
    Task_SetVerbose(Owner, 1);
    Progress *Self = nullptr;
    ASSERT_TRUE(Progress_CreateManual(&Self, Owner));
    int32 Verbose = 0;
    Progress_GetVerbose(Self, &Verbose);
    EXPECT_EQ(Verbose, 1); // taken over from its task

    // Without a callback the lines go to the log.
    Captured.clear();
    EXPECT_TRUE(Progress_Print(Self, "to the log %d", 7));
    EXPECT_NE(Captured.find("Progress."), std::string::npos) << Captured;
    EXPECT_NE(Captured.find(" - to the log 7"), std::string::npos) << Captured;

    std::vector<std::string> Lines;
    Progress_SetPrintCallback(Self, &Lines, CapturePrintLine);
    void *User = nullptr;
    ClassPrint_Func Function = nullptr;
    Progress_GetPrintCallback(Self, &User, &Function);
    EXPECT_EQ(User, &Lines);
    EXPECT_EQ(Function, &CapturePrintLine);
    Progress_SetPrintIdentifier(Self, "chain");
    Captured.clear();
    Progress_PrintTabbed(Self, 1, "tabbed");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].rfind("Progress.", 0), 0u) << Lines[0];
    EXPECT_NE(Lines[0].find(".chain -     tabbed"), std::string::npos) << Lines[0];
    EXPECT_EQ(Captured.find("tabbed"), std::string::npos);

    // Verbose on passes level 0; higher levels need the verbose list.
    struct { int32 Verbose, Level; bool Printed; } Rows[] = {{0, 0, false}, {1, 0, true}, {1, 1, false}};
    for (const auto &Row : Rows) {
        Lines.clear();
        Progress_SetVerbose(Self, Row.Verbose);
        EXPECT_EQ(Progress_IsVerboseLevel(Self, Row.Level) != 0, Row.Printed) << Row.Verbose << Row.Level;
        EXPECT_EQ(Progress_VerboseLog(Self, Row.Level, "gated") != 0, Row.Printed);
        EXPECT_EQ(Lines.size(), Row.Printed ? 1u : 0u) << Row.Verbose << Row.Level;
    }
    Progress_Release(reinterpret_cast<void **>(&Self));
    Task_Release(&Owner);
}
