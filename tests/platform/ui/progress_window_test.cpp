// The progress window on the headless model: its contents, the update
// throttle on the test clock, and the event pump on the notification
// center's tick.
#include "platform/ui/progress_window.h"

#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/native_ui.h"

namespace {

class ProgressWindowTest : public NativeUITest {
  protected:
    void SetUp() override {
        Time_TestClockStart(5000);
        NativeUITest::SetUp();
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
    }
    void TearDown() override {
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
        NativeUITest::TearDown();
        Time_TestClockStop();
    }
};

} // namespace

TEST_F(ProgressWindowTest, ShowsTitleAndText) {
    ProgressWindow *Window = nullptr;
    ASSERT_EQ(ProgressWindow_Create(&Window, "Updating", "Downloading the update..."), 1);
    ASSERT_EQ(Model->ProgressWindows.size(), 1u);
    EXPECT_EQ(Model->ProgressWindows[0]->Title, "Updating");
    EXPECT_EQ(Model->ProgressWindows[0]->Text, "Downloading the update...");
    EXPECT_EQ(Model->ProgressWindows[0]->Fraction, 0);
    ASSERT_EQ(ProgressWindow_Delete(&Window), 1);
    EXPECT_EQ(Window, nullptr);
    EXPECT_TRUE(Model->ProgressWindows.empty());
}

TEST_F(ProgressWindowTest, ShowsAboutEveryFourthFractionAt10Milliseconds) {
    ProgressWindow *Window = nullptr;
    ProgressWindow_Create(&Window, "t", "x");
    NativeModelProgressWindow *Shown = Model->ProgressWindows[0];
    // Calls at 0, 10, ..., 990 ms: shown at 0, 40, 80, ... = 25 of 100.
    for (int Call = 0; Call < 100; Call++) {
        ProgressWindow_SetProgress(Window, Call / 100.0);
        Time_TestClockAdvance(10);
    }
    EXPECT_EQ(Shown->Updates, 25);
    EXPECT_DOUBLE_EQ(Shown->Fraction, 0.96);
    // 1.0 always shows, even right after another update.
    ProgressWindow_SetProgress(Window, 1.0);
    ProgressWindow_SetProgress(Window, 1.0);
    EXPECT_EQ(Shown->Updates, 27);
    EXPECT_DOUBLE_EQ(Shown->Fraction, 1.0);
    ProgressWindow_Delete(&Window);
}

TEST_F(ProgressWindowTest, ScheduleAdvancesFromItsOwnTime) {
    ProgressWindow *Window = nullptr;
    ProgressWindow_Create(&Window, "t", "x");
    NativeModelProgressWindow *Shown = Model->ProgressWindows[0];
    // After a 200 ms pause the schedule catches up 40 ms a step, so the
    // next calls all show until it has passed now.
    Time_TestClockAdvance(200);
    for (int Call = 0; Call < 6; Call++) ProgressWindow_SetProgress(Window, 0.5);
    EXPECT_EQ(Shown->Updates, 6);
    ProgressWindow_SetProgress(Window, 0.5);
    EXPECT_EQ(Shown->Updates, 6);
    ProgressWindow_Delete(&Window);
}

TEST_F(ProgressWindowTest, PumpsOneEventPerTick) {
    ProgressWindow *Window = nullptr;
    ProgressWindow_Create(&Window, "t", "x");
    int32 Before = Model->EventsPumped;
    NotificationCenter_Process();
    NotificationCenter_Process();
    EXPECT_EQ(Model->EventsPumped, Before + 2);
    ProgressWindow_Delete(&Window);
    NotificationCenter_Process();
    EXPECT_EQ(Model->EventsPumped, Before + 2);
}
