// Debug flags from switches, start and end of the runtime, hooks, fork and
// the fatal stop.
#include "runtime/debug.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "runtime/command_line.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"
#include "tests/support/temp_root.h"

namespace {

class DebugDeathTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

uint32 FlagsOf(const char *Line) {
    uint32 Flags = 0xDEADBEEF;
    EXPECT_EQ(Debug_BuildInitFlags(&Flags, Line), 1);
    return Flags;
}

int32 AbortSeen(const char *File, int32 Line, const char *Message) {
    char Text[4400];
    snprintf(Text, sizeof(Text), "override got [%s:%d] %s", strrchr(File, '/') + 1, Line, Message);
    ssize_t Ignored = write(2, Text, strlen(Text));
    (void)Ignored;
    return 1;
}

int32 AbortAgain(const char *, int32, const char *) { Debug_Abort("second stop\n"); }

uint32 FixedFlags() { return 0x1234; }

} // namespace

TEST(Debug, FlagsFromEachSwitch) {
    const std::pair<const char *, uint32> Cases[] = {
        {"prog", 0},
        {"prog --debug", 0x2},
        {"prog --debugfile", 0x40002},
        {"prog --perday", 0x8A},
        {"prog --perthread", 0x10A},
        {"prog --perprocess", 0x20A},
        {"prog --cmdline", 0x10},
        {"prog --window", 0x1},
        {"prog --commit", 0x10000},
        {"prog --append", 0x8},
        {"prog --externalprint", 0x800},
        {"prog --memorytracking", 0x20000},
        {"prog --memorytest", 0x4000},
        {"prog --memoryreport", 0x400},
        {"prog --debugdir=/tmp --debugfileid=7 --verbose=x", 0},
        {"prog --WINDOW --CmdLine", 0x11},
        {"prog --debugfile=x --perday", 0x4008A},
        {"prog --window --debug --memorytracking --memorytest", 0x24003},
        {"prog --debugger --windows", 0},
    };
    for (auto [Line, Expected] : Cases) EXPECT_EQ(FlagsOf(Line), Expected) << Line;
}

TEST(Debug, DebugValueSetsTheLevelAndInitKeepsIt) {
    Log_SetLevel(LOG_ERROR);
    EXPECT_EQ(FlagsOf("prog --debug"), 0x2u);
    EXPECT_EQ(Log_Level(), LOG_ERROR) << "no value leaves the level alone";
    {
        // Without a level from the switch, the two lowest flag bits decide.
        RuntimeScope Scope(0x2);
        EXPECT_EQ(Log_Level(), LOG_DEBUG);
    }
    {
        RuntimeScope Scope(0x1);
        EXPECT_EQ(Log_Level(), LOG_INFO);
    }
    const std::pair<const char *, int32> Cases[] = {
        {"prog --window --DEBUG=info", LOG_INFO},
        {"prog --debug=Warning", LOG_WARNING},
        {"prog --debug=ERROR", LOG_ERROR},
        {"prog --debug=iNfO", LOG_INFO},
        {"prog --debug=debug", LOG_DEBUG},
    };
    for (auto [Line, Level] : Cases) {
        // The level the switch named holds through Debug_Init, whatever the
        // two lowest flag bits say.
        for (uint32 Flags : {0x1u, 0x2u}) {
            FlagsOf(Line);
            EXPECT_EQ(Log_Level(), Level) << Line;
            RuntimeScope Scope(Flags);
            EXPECT_EQ(Log_Level(), Level) << Line << " flags " << Flags;
        }
    }
    {
        // A start after Debug_Remove decides by the flags again.
        RuntimeScope Scope(0x1);
        EXPECT_EQ(Log_Level(), LOG_INFO);
    }
}

TEST(Debug, StateBetweenInitAndRemove) {
    EXPECT_EQ(GlobalCore, nullptr);
    EXPECT_EQ(Debug_Flags(), 0u);
    EXPECT_EQ(Debug_SetExitCode(3), 0);
    {
        RuntimeScope Scope(DEBUG_FLAG_CMDLINE);
        EXPECT_EQ(Debug_Flags(), (uint32)(DEBUG_FLAG_CMDLINE | DEBUG_FLAG_EXTERNALPRINT));
        EXPECT_EQ(Debug_ProcessId(), (uint32)getpid());
        EXPECT_EQ(Debug_MainThreadId(), (uint32)syscall(SYS_gettid));
        EXPECT_EQ(Debug_SetFlags(0x8 | 0x100 | 0x200), 1);
        EXPECT_EQ(Debug_Flags(), 0x308u);
        Debug_FlagsOverride(FixedFlags);
        EXPECT_EQ(Debug_Flags(), 0x1234u);
        Debug_FlagsOverride(nullptr);
        EXPECT_EQ(Debug_ExitCode(), 0);
    }
    EXPECT_EQ(GlobalCore, nullptr);
    EXPECT_EQ(GlobalLog, nullptr);
    EXPECT_EQ(GlobalMemory, nullptr);

    Debug_Init("/tmp/debug-test.log", nullptr, 0);
    Debug_SetExitCode(42);
    EXPECT_EQ(Debug_ExitCode(), 42);
    EXPECT_EQ(Debug_Remove(), 42);

    char Revision[8];
    EXPECT_EQ(Debug_GetRevision(Revision, sizeof(Revision)), 1);
    EXPECT_STREQ(Revision, "0.53");
    EXPECT_EQ(Debug_GetRevision(Revision, 3), 1);
    EXPECT_STREQ(Revision, "0.");
    EXPECT_EQ(Debug_IsBigEndian(), 0);
}

TEST(Debug, ForkRecordsTheChildAndWritesTheHeaderAgain) {
    std::string Template = TempRoot() + "/debug_fork_XXXXXX";
    std::string Directory = mkdtemp(Template.data());
    std::string Path = Directory + "/fork.log";
    Debug_Init(Path.c_str(), "9.9", DEBUG_FLAG_FILE | DEBUG_FLAG_APPEND);
    EXPECT_EQ(Debug_Fork(nullptr), 1) << "same process: nothing to do";
    Log_Info("before fork\n");
    pid_t Child = fork();
    if (Child == 0) {
        Debug_Fork(nullptr);
        bool Ok = Debug_ProcessId() == (uint32)getpid() && Debug_MainThreadId() == (uint32)syscall(SYS_gettid);
        Log_Info("in the child\n");
        Debug_Remove();
        _exit(Ok ? 0 : 1);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0);
    Debug_Remove();
    std::string Text = ReadFile(Path);
    size_t Child1 = Text.find("INFO - in the child\n");
    ASSERT_NE(Child1, std::string::npos) << Text;
    // The second header (without version) comes before the child's line.
    size_t Second = Text.find("Log Level: DEBUG", Text.find("INFO - before fork"));
    EXPECT_LT(Second, Child1) << Text;
    EXPECT_EQ(Text.find("Version: 9.9", Text.find("INFO - before fork")), std::string::npos) << Text;
    unlink(Path.c_str());
    rmdir(Directory.c_str());
}

TEST_F(DebugDeathTest, AbortLogsFileAndLineAndTraps) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            Debug_Abort("Boom %d\n", 7);
        },
        ::testing::KilledBySignal(SIGILL), "^ABORT - Boom 7\n \\(.*debug_test\\.cpp/[0-9]+\\)\n");
}

TEST_F(DebugDeathTest, AbortBeforeInitStillReachesStderr) {
    EXPECT_EXIT(Debug_Abort("Pointer is NULL\n"), ::testing::KilledBySignal(SIGILL),
                "ABORT - Pointer is NULL\n \\(.*debug_test\\.cpp/[0-9]+\\)");
}

TEST_F(DebugDeathTest, AssertionTextCarriesTheCondition) {
    EXPECT_EXIT(
        {
            int Value = 3;
            Debug_Assert(Value == 4, "Value was %d", Value);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Assertion failed \\(Value == 4\\)\nValue was 3 \\(");
}

TEST_F(DebugDeathTest, AbortOverrideReceivesTheMessage) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            Debug_AbortOverride(AbortSeen);
            Debug_Abort("Hooked\n");
        },
        ::testing::KilledBySignal(SIGILL), "override got \\[debug_test\\.cpp:[0-9]+\\] ABORT - Hooked\n");
}

TEST_F(DebugDeathTest, StopInsideAStopTrapsAtOnce) {
    EXPECT_EXIT(
        {
            Debug_AbortOverride(AbortAgain);
            Debug_Abort("first stop\n");
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - first stop\n.*ABORT - \\(during a fatal stop\\) second stop");
}

TEST_F(DebugDeathTest, StartingTwiceStops) {
    EXPECT_EXIT(
        {
            Debug_Init("/tmp/debug-test.log", nullptr, 0);
            Debug_Init("/tmp/debug-test.log", nullptr, 0);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Assertion failed \\(GlobalCore == NULL\\)\nCore already initialized");
    EXPECT_EXIT(Debug_Remove(), ::testing::KilledBySignal(SIGILL), "ABORT - Pointer is NULL\n");
}

TEST_F(DebugDeathTest, ThreadAndProcessLoggingNeedAppend) {
    EXPECT_EXIT(
        {
            RuntimeScope Scope(0);
            Debug_SetFlags(DEBUG_FLAG_PERTHREAD);
        },
        ::testing::KilledBySignal(SIGILL), "ABORT - Threaded logging requires append to be on\n");
    EXPECT_EXIT(Debug_Init("/tmp/debug-test.log", nullptr, DEBUG_FLAG_PERPROCESS | DEBUG_FLAG_FILE),
                ::testing::KilledBySignal(SIGILL), "ABORT - Process logging requires append to be on\n");
}

TEST_F(DebugDeathTest, LogFileReceivesTheStop) {
    // The child makes the log a folder of its user's alone (a log goes
    // nowhere else), named by the parent's id.
    static std::string Folder, Path;
    if (Path.empty()) {
        Folder = TempRoot() + "/debug_test_stop_" + std::to_string(getpid());
        Path = Folder + "/stop.log";
    }
    EXPECT_EXIT(
        {
            std::string ChildFolder = TempRoot() + "/debug_test_stop_" + std::to_string(getppid());
            mkdir(ChildFolder.c_str(), 0700);
            std::string ChildPath = ChildFolder + "/stop.log";
            Debug_Init(ChildPath.c_str(), nullptr, DEBUG_FLAG_FILE);
            Log_Info("line before\n");
            Debug_Abort("into the file\n");
        },
        ::testing::KilledBySignal(SIGILL), "into the file");
    std::string Text = ReadFile(Path);
    unlink(Path.c_str());
    rmdir(Folder.c_str());
    EXPECT_NE(Text.find("INFO - line before\n"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" ABORT - into the file\n ("), std::string::npos) << Text;
}
