// The stand-in seam: for every provider a value set here wins over the
// "VELMARSH_" environment variable a child process would inherit, which wins
// over the production default; clearing the setter brings back the layer
// below. Malformed console-user text falls back to the default.
#include "runtime/posix/platform_stand_in.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <string>

#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class StandInTest : public RuntimeTest {};

std::string Path(int32 (*Get)(char *, int32)) {
    char Buffer[256] = "";
    Get(Buffer, (int32)sizeof(Buffer));
    return Buffer;
}

std::string ConsoleUser() {
    int32 User = -2, Group = -2;
    const int32 Found = Platform_GetConsoleUser(&User, &Group);
    return std::to_string(Found) + "/" + std::to_string(User) + ":" + std::to_string(Group);
}

int32 Reboot() { return 7; }

} // namespace

TEST_F(StandInTest, SetterWinsOverEnvironmentWinsOverDefault) {
    const std::string DefaultElevator = access("/usr/bin/pkexec", X_OK) == 0 ? "/usr/bin/pkexec" : "";
    const std::string DefaultUser = ConsoleUser();
    struct Case {
        const char *Key;
        std::function<void(const char *)> Set; // null: clear
        std::function<std::string()> Read;
        const char *FromSetter, *FromEnvironment, *SetterAnswer, *EnvironmentAnswer;
        std::string Default;
    } Cases[] = {
        {"PROC_ROOT", [](const char *V) { PlatformStandIn_Set("PROC_ROOT", V); },
         [] { return PlatformStandIn_Value("PROC_ROOT", "/proc"); }, "/a", "/b", "/a", "/b", "/proc"},
        {"ELEVATOR", [](const char *V) { Platform_SetElevator(V); }, [] { return Path(Platform_GetElevator); },
         "/bin/a", "/bin/b", "/bin/a", "/bin/b", DefaultElevator},
        {"OPENER", [](const char *V) { Platform_SetOpener(V); }, [] { return Path(Platform_GetOpener); }, "/bin/a",
         "/bin/b", "/bin/a", "/bin/b", "/usr/bin/xdg-open"},
        {"CONSOLE_USER",
         [](const char *V) { V != nullptr ? Platform_SetConsoleUser(atoi(V), 44) : Platform_SetConsoleUser(-1, 7); },
         ConsoleUser, "33", "55:66", "1/33:44", "1/55:66", DefaultUser},
    };
    for (const Case &Each : Cases) {
        const std::string Variable = std::string("VELMARSH_") + Each.Key;
        ScopedEnv Clean(Variable.c_str(), nullptr);
        EXPECT_EQ(Each.Read(), Each.Default) << Each.Key;
        {
            ScopedEnv Steered(Variable.c_str(), Each.FromEnvironment);
            EXPECT_EQ(Each.Read(), Each.EnvironmentAnswer) << Each.Key;
            Each.Set(Each.FromSetter);
            EXPECT_EQ(Each.Read(), Each.SetterAnswer) << Each.Key;
            Each.Set(nullptr);
            EXPECT_EQ(Each.Read(), Each.EnvironmentAnswer) << Each.Key;
        }
        EXPECT_EQ(Each.Read(), Each.Default) << Each.Key;
    }
}

TEST_F(StandInTest, KeyedGetCopiesAndTellsWhetherSteered) {
    ScopedEnv Clean("VELMARSH_SYS_ROOT", nullptr);
    char Buffer[5] = "";
    EXPECT_EQ(PlatformStandIn_Get("SYS_ROOT", "/sys", Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "/sys");
    PlatformStandIn_Set("SYS_ROOT", "/tmp/machine");
    EXPECT_EQ(PlatformStandIn_Get("SYS_ROOT", "/sys", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "/tmp") << "cut to the buffer";
    PlatformStandIn_Set("SYS_ROOT", nullptr);
    EXPECT_EQ(PlatformStandIn_Value("SYS_ROOT", "/sys"), "/sys");
}

TEST_F(StandInTest, ConsoleUserFromEnvironmentMustBeAPair) {
    ScopedEnv Clean("VELMARSH_CONSOLE_USER", nullptr);
    const std::string Default = ConsoleUser();
    for (const char *Text : {"abc", "12", "12:", ":5", "12:5x", "99999999999:1", "1:99999999999", "-3:4"}) {
        ScopedEnv Steered("VELMARSH_CONSOLE_USER", Text);
        EXPECT_EQ(ConsoleUser(), Default) << Text;
    }
    ScopedEnv NoGroup("VELMARSH_CONSOLE_USER", "12:-1");
    EXPECT_EQ(ConsoleUser(), "0/-1:-1") << "a user without a group is no console user";
}

TEST_F(StandInTest, RebootSinkSetAndRestored) {
    Platform_RebootFunc Default = Platform_GetRebootSink();
    ASSERT_NE(Default, nullptr);
    Platform_SetRebootSink(Reboot);
    EXPECT_EQ(Platform_GetRebootSink()(), 7);
    Platform_SetRebootSink(nullptr);
    EXPECT_EQ(Platform_GetRebootSink(), Default);
}

// The files read here may be the user's (proxy.conf): a FIFO with no writer,
// a folder or a device there is refused at once, never waited on.
TEST_F(StandInTest, ReadFileRefusesWhatIsNoRegularFile) {
    TempDirectory Temp;
    const std::string Fifo = Temp / "fifo", Plain = Temp / "plain";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    std::ofstream(Plain) << "text";
    std::string Text;
    EXPECT_TRUE(PlatformStandIn_ReadFile(Plain, Text, 64));
    EXPECT_EQ(Text, "text");
    for (const std::string &Path : {Temp.Path, std::string("/dev/zero")})
        EXPECT_FALSE(PlatformStandIn_ReadFile(Path, Text, 64)) << Path;
    auto Read = std::async(std::launch::async, [&Fifo] {
        std::string Ignored;
        return PlatformStandIn_ReadFile(Fifo, Ignored, 64);
    });
    if (Read.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the read waits on the FIFO";
        close(open(Fifo.c_str(), O_WRONLY | O_NONBLOCK)); // lets it go
    }
    EXPECT_FALSE(Read.get());
}
