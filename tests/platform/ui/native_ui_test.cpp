// The native UI's start and stop, the message box on the headless model (the
// answer for every type word and button, titles, icon styles, the override)
// and the fatal-stop hook, which shows its box and never blocks a process
// without a display.
#include "platform/ui/native_ui.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <stdio.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "platform/ui/native_window.h"
#include "runtime/debug.h"
#include "tests/support/log_capture.h"
#include "tests/support/native_ui.h"

namespace {

using MessageBoxTest = NativeUITest;

int32 OverrideCalls = 0;
int32 Override(void *Window, const char *Text, const char *Caption, uint32 Type) {
    OverrideCalls++;
    EXPECT_EQ(Window, nullptr);
    EXPECT_STREQ(Text, "text");
    EXPECT_STREQ(Caption, "caption");
    EXPECT_EQ(Type, 0x1034u);
    return 42;
}

} // namespace

TEST(NativeUI, StartsOnTheModelAndLogsIt) {
    RuntimeScope Runtime;
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    EXPECT_STREQ(NativeUI_BackendName(), "");
    ASSERT_EQ(NativeUI_Init(), 1);
    EXPECT_NE(Captured.find("Native UI backend: headless model"), std::string::npos);
    EXPECT_STREQ(NativeUI_BackendName(), "headless model");
    EXPECT_EQ(GlobalDebugAbortOverride, NativeUI_AbortOverride);
    EXPECT_NE(GlobalNativeUI->NotificationCentreClass, nullptr);
    EXPECT_EQ(GlobalNativeUI->AlertNotificationTable, nullptr);
    EXPECT_NE(GlobalNativeUI->DockTileView, nullptr);
    EXPECT_EQ(NativeUI_Process(), 1);
    EXPECT_EQ(NativeUIModel_State()->EventsPumped, 1);
    EXPECT_EQ(NativeUI_Remove(), 1);
    EXPECT_EQ(GlobalNativeUI, nullptr);
    EXPECT_EQ(GlobalDebugAbortOverride, nullptr);
    Debug_PrintCallback(nullptr);

    // Without a centre the alert table stands in for it.
    NativeUIModel_SetNotificationCentre(0);
    NativeUI_Init();
    EXPECT_EQ(GlobalNativeUI->NotificationCentreClass, nullptr);
    EXPECT_NE(GlobalNativeUI->AlertNotificationTable, nullptr);
    NativeUI_Remove();
    NativeUIModel_SetNotificationCentre(1);
}

TEST_F(MessageBoxTest, AnswersEveryTypeAndButton) {
    struct Row {
        uint32 Buttons;
        std::vector<std::string> Titles;
        std::vector<int32> Answers;
    };
    const Row Rows[] = {
        {0, {"Ok"}, {1}},
        {1, {"Ok", "Cancel"}, {1, 2}},
        {3, {"Yes", "No", "Cancel"}, {6, 7, 2}},
        {4, {"Yes", "No"}, {6, 7}},
    };
    int32 Button = 0;
    Model->AlertResponder = [&](const NativeAlertRequest &) { return 1000 + Button; };
    for (const Row &Case : Rows) {
        for (Button = 0; Button < (int32)Case.Answers.size(); Button++) {
            Model->Alerts.clear();
            EXPECT_EQ(NativeWindow_MessageBox(nullptr, "text", "caption", Case.Buttons | 0x2000),
                      Case.Answers[Button])
                << Case.Buttons << " button " << Button;
            ASSERT_EQ(Model->Alerts.size(), 1u);
            EXPECT_EQ(Model->Alerts[0].Buttons, Case.Titles);
            EXPECT_EQ(Model->Alerts[0].Headline, "caption");
            EXPECT_EQ(Model->Alerts[0].Informative, "text");
        }
    }
    // Any other button value: the single default button, answering 6 when
    // bit 0x4 is set, else 1.
    Button = 0;
    for (uint32 Buttons : {2u, 5u, 6u, 7u, 8u, 12u, 15u}) {
        Model->Alerts.clear();
        EXPECT_EQ(NativeWindow_MessageBox(nullptr, "t", "c", Buttons), (Buttons & 0x4) ? 6 : 1) << Buttons;
        ASSERT_EQ(Model->Alerts.size(), 1u);
        EXPECT_EQ(Model->Alerts[0].Buttons, std::vector<std::string>{"Ok"});
    }
}

TEST_F(MessageBoxTest, IconBitsChooseTheStyle) {
    struct { uint32 Type; int32 Style; } Rows[] = {
        {0x10, 0}, {0x30, 2}, {0x00, 3}, {0x20, 3}, {0x40, 3}, {0xF0, 3}, {0x1010, 0}, {0x2033, 2}};
    for (auto &Row : Rows) {
        Model->Alerts.clear();
        NativeWindow_MessageBox(nullptr, "t", "c", Row.Type);
        ASSERT_EQ(Model->Alerts.size(), 1u);
        EXPECT_EQ(Model->Alerts[0].Style, Row.Style) << Row.Type;
    }
    // The skin's failure: a critical alert with one "Ok" button, answered 1.
    Model->Alerts.clear();
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "Unable to load skin", "Error", 0x10), 1);
    EXPECT_EQ(Model->Alerts[0].Style, 0);
    EXPECT_EQ(Model->Alerts[0].Informative, "Unable to load skin");
}

TEST_F(MessageBoxTest, LegacyAndStrayAnswers) {
    struct { int32 Item, Type, Answer; } Rows[] = {
        {1, 4, 6}, {1000, 4, 6}, {1001, 4, 7}, {1002, 4, 6}, {999, 3, 6}, {1002, 3, 2}, {1001, 0, 1}};
    for (auto &Row : Rows) {
        Model->AlertResponder = [&](const NativeAlertRequest &) { return Row.Item; };
        EXPECT_EQ(NativeWindow_MessageBox(nullptr, "t", "c", Row.Type), Row.Answer) << Row.Item;
    }
}

TEST_F(MessageBoxTest, StandardAlertParameters) {
    NativeAlertParameters Parameters{};
    Parameters.DefaultText = "One";
    Parameters.OtherText = "Three";
    void *Alert = nullptr;
    int16 Item = 0;
    EXPECT_EQ(CreateStandardAlert(1, "head", "info", &Parameters, &Alert), 0);
    EXPECT_EQ(RunStandardAlert(Alert, nullptr, &Item), 0);
    EXPECT_EQ(Item, 1000);
    ASSERT_EQ(Model->Alerts.size(), 1u);
    EXPECT_EQ(Model->Alerts[0].Style, 2);
    EXPECT_EQ(Model->Alerts[0].Buttons, (std::vector<std::string>{"One", "Three"}));
}

TEST_F(MessageBoxTest, OverrideTakesEveryBox) {
    ASSERT_EQ(NativeUI_MessageBoxOverride(Override), 1);
    OverrideCalls = 0;
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "text", "caption", 0x1034), 42);
    EXPECT_EQ(OverrideCalls, 1);
    EXPECT_TRUE(Model->Alerts.empty());
    NativeUI_MessageBoxOverride(nullptr);
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "text", "caption", 0x1034), 6);
    EXPECT_EQ(Model->Alerts.size(), 1u);
}

TEST(NativeUIDeathTest, FatalStopShowsItsBoxWithoutBlocking) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child's responder writes what the box showed; the model never
    // waits, so the stop goes on to its trap.
    EXPECT_EXIT(
        {
            RuntimeScope Runtime;
            NativeUI_Init();
            NativeUIModel_State()->AlertResponder = [](const NativeAlertRequest &Alert) {
                fprintf(stderr, "BOX [%s] [%s] %zu %s style %d\n", Alert.Headline.c_str(), Alert.Informative.c_str(),
                        Alert.Buttons.size(), Alert.Buttons[0].c_str(), Alert.Style);
                return 1000;
            };
            Debug_Abort("Broken invariant %d\n", 7);
        },
        testing::KilledBySignal(SIGILL),
        "BOX \\[Internal error\\.\\.\\.\\] \\[ABORT - Broken invariant 7.*\\] 1 Ok style 0");
}

TEST(NativeUIDeathTest, CommandLineModeShowsNoBox) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Runtime(DEBUG_FLAG_CMDLINE);
            NativeUI_Init();
            NativeUIModel_State()->AlertResponder = [](const NativeAlertRequest &) {
                fprintf(stderr, "BOX SHOWN\n");
                return 1000;
            };
            Debug_Abort("Quiet stop\n");
        },
        testing::KilledBySignal(SIGILL),
        testing::AllOf(testing::HasSubstr("ABORT - Quiet stop"), testing::Not(testing::HasSubstr("BOX SHOWN"))));
}

TEST(NativeUI, MessageBoxBeforeStartTakesTheFirstButton) {
    RuntimeScope Runtime;
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "text", "caption", 0x4), 6);
    EXPECT_EQ(NativeWindow_MessageBox(nullptr, "text", "caption", 0x1), 1);
}

TEST_F(MessageBoxTest, PollWaitsForTheDescriptor) {
    int Descriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(Descriptor, 0);
    EXPECT_EQ(NativeUI_Poll(Descriptor, 0), 0);
    uint64_t One = 1;
    ASSERT_EQ(write(Descriptor, &One, sizeof(One)), (ssize_t)sizeof(One));
    EXPECT_EQ(NativeUI_Poll(Descriptor, -1), 1);
    close(Descriptor);
}
