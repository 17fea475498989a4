// The session services: restart through the sink, the shortcut calls this
// platform does not offer, and the sleep hold on the test clock.
#include "platform/posix/platform_process_session.h"

#include <gtest/gtest.h>

#include "runtime/posix/platform_stand_in.h"
#include "runtime/time.h"
#include "tests/support/runtime.h"

namespace {

class PlatformProcessTest : public RuntimeTest {};

int32 Reboots = 0;
int32 RecordReboot(void) {
    Reboots++;
    return TRUE;
}

TEST_F(PlatformProcessTest, RebootGoesToTheSinkAndShortcutsAreNotOffered) {
    Platform_SetRebootSink(RecordReboot);
    EXPECT_EQ(Platform_Reboot(), 1);
    EXPECT_EQ(Reboots, 1);
    Platform_SetRebootSink(nullptr);
    EXPECT_EQ(Platform_CreateShortcut("a", "b", 0, "c", "d", "e", 0), 0);
    EXPECT_EQ(Platform_RemoveShortcut("c", "d"), 0);
    EXPECT_EQ(Platform_EnablePrivilege("x"), 1);
}

TEST_F(PlatformProcessTest, SleepIsHeldOffForThreeHundredSecondsAfterTheLastRequest) {
    Time_TestClockStart(1000);
    EXPECT_EQ(Platform_SleepCallBack(PLATFORM_POWER_CAN_SLEEP), PLATFORM_POWER_ALLOW);
    EXPECT_TRUE(Platform_PreventSystemSleep(1));
    EXPECT_TRUE(Platform_IsSleepPrevented());
    EXPECT_EQ(Platform_SleepCallBack(PLATFORM_POWER_CAN_SLEEP), PLATFORM_POWER_NO_ANSWER);
    EXPECT_EQ(Platform_SleepCallBack(PLATFORM_POWER_WILL_SLEEP), PLATFORM_POWER_CANCEL);
    Time_TestClockAdvance(200000);
    EXPECT_TRUE(Platform_PreventSystemSleep(1)); // moves the deadline to 500 s
    Time_TestClockAdvance(299000);
    EXPECT_TRUE(Platform_IsSleepPrevented());
    Time_TestClockAdvance(2000);
    EXPECT_FALSE(Platform_IsSleepPrevented()); // the hold is released, not kept for the process's life
    EXPECT_EQ(Platform_SleepCallBack(PLATFORM_POWER_WILL_SLEEP), PLATFORM_POWER_ALLOW);
    EXPECT_TRUE(Platform_PreventSystemSleep(1));
    EXPECT_TRUE(Platform_PreventSystemSleep(0));
    EXPECT_FALSE(Platform_IsSleepPrevented());
    EXPECT_EQ(Platform_SleepCallBack(PLATFORM_POWER_CAN_SLEEP), PLATFORM_POWER_ALLOW);
    Time_TestClockStop();
}

} // namespace
