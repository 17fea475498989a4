// The privileged task through a test elevator (a script that execs its
// command, as pkexec does): the id line, refusal and cancel statuses, exit
// codes and signals, arguments passed whole, a tool whose output is far
// larger than a pipe holds, and the launch that does not wait for the
// elevator's prompt.
#include "runtime/posix/privileged_task.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/posix/platform_process.h"
#include "runtime/posix/platform_spawn.h"
#include "runtime/posix/platform_stand_in.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void WriteScript(const std::string &Path, const std::string &Text) {
    std::ofstream(Path) << Text;
    chmod(Path.c_str(), 0755);
}

class PrivilegedTaskTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Elevator = Folder / "elevator";
        WriteScript(Elevator, "#!/bin/sh\nexec \"$@\"\n");
        Platform_SetElevator(Elevator.c_str());
        PrivilegedTask_Create(&Task);
    }
    void TearDown() override {
        if (Task != nullptr) PrivilegedTask_Release(&Task);
        Platform_SetElevator(nullptr);
        RuntimeTest::TearDown();
    }
    int32 WaitEnd() {
        for (int Attempt = 0; Attempt < 20000; Attempt++) {
            if (!PrivilegedTask_IsRunning(Task)) {
                int32 Code = 0;
                PrivilegedTask_GetExitCode(Task, &Code);
                return Code;
            }
            usleep(1000);
        }
        ADD_FAILURE() << "tool did not end";
        return -1000;
    }
    int32 Launch(const char *Tool, std::initializer_list<const char *> Arguments, bool Async = false) {
        PrivilegedTask_SetLaunchPath(Task, Tool);
        std::vector<const char *> List(Arguments);
        PrivilegedTask_SetArguments(Task, (int32)List.size(), List.data());
        const int32 Result = Async ? PrivilegedTask_LaunchAsync(Task) : PrivilegedTask_Launch(Task);
        int32 Error = 0;
        PrivilegedTask_GetErrorCode(Task, &Error);
        return Result ? 0 : Error;
    }
    TempDirectory Folder;
    std::string Elevator;
    PrivilegedTask *Task = nullptr;
};

TEST(PrivilegedTaskPidLine, AcceptsOnlyAPositiveNumber) {
    RuntimeScope Runtime;
    const struct {
        const char *Line;
        int32 Accepted, Id;
    } Cases[] = {{"1234", 1, 1234}, {"0", 0, 0},        {"-5", 0, 0},          {"12a", 0, 0},
                 {"", 0, 0},        {" 12", 0, 0},      {"2147483647", 1, 2147483647}, {"2147483648", 0, 0},
                 {"99999999999", 0, 0}};
    for (const auto &Case : Cases) {
        int32 Id = -1;
        EXPECT_EQ(PrivilegedTask_ParsePidLine(Case.Line, (int32)strlen(Case.Line), &Id), Case.Accepted) << Case.Line;
        EXPECT_EQ(Id, Case.Id) << Case.Line;
    }
}

TEST_F(PrivilegedTaskTest, WithoutAPathNothingIsAsked) {
    EXPECT_EQ(PrivilegedTask_Launch(Task), 0);
    int32 Error = 0;
    PrivilegedTask_GetErrorCode(Task, &Error);
    EXPECT_EQ(Error, PRIVILEGEDTASK_ERROR_NOPATH);
}

TEST_F(PrivilegedTaskTest, ExitCodesSignalsAndTheReportedId) {
    const std::string Record = Folder / "pid";
    ASSERT_EQ(Launch("/bin/sh", {"-c", ("echo $$ > " + Record + "; exit 3").c_str()}), 0);
    const int32 Id = PrivilegedTask_GetPID(Task);
    EXPECT_EQ(WaitEnd(), 3);
    std::ifstream Stream(Record);
    int32 Printed = 0;
    Stream >> Printed;
    EXPECT_EQ(Id, Printed);
    EXPECT_FALSE(PrivilegedTask_IsRunning(Task));

    ASSERT_EQ(Launch("/bin/sh", {"-c", "kill -9 $$"}), 0);
    EXPECT_EQ(WaitEnd(), -9);
}

TEST_F(PrivilegedTaskTest, ArgumentsArriveWhole) {
    const std::string Report = Folder / "argv";
    ASSERT_EQ(Launch(RUNTIME_PYTHON, {"-c", "import json,sys; open(sys.argv[1],'w').write(json.dumps(sys.argv[2:]))",
                                      Report.c_str(), "a b", "\"c\"", "", "$HOME;x"}),
              0);
    EXPECT_EQ(WaitEnd(), 0);
    std::ifstream Stream(Report);
    std::stringstream Text;
    Text << Stream.rdbuf();
    EXPECT_EQ(Text.str(), "[\"a b\", \"\\\"c\\\"\", \"\", \"$HOME;x\"]");
}

TEST_F(PrivilegedTaskTest, RefusalCancelAndBrokenIdLines) {
    const struct {
        const char *Elevator;
        int32 Error;
    } Cases[] = {
        {"#!/bin/sh\nexit 127\n", PRIVILEGEDTASK_ERROR_DENIED},
        {"#!/bin/sh\nexit 126\n", PRIVILEGEDTASK_ERROR_CANCELED},
        {"#!/bin/sh\nprintf 123\n", PRIVILEGEDTASK_ERROR_INTERNAL},
        {"#!/bin/sh\necho abc\nexec \"$@\"\n", PRIVILEGEDTASK_ERROR_INTERNAL},
        {"#!/bin/sh\necho 0\nexec \"$@\"\n", PRIVILEGEDTASK_ERROR_INTERNAL},
    };
    for (const auto &Case : Cases) {
        WriteScript(Elevator, Case.Elevator);
        EXPECT_EQ(Launch("/bin/true", {}), Case.Error) << Case.Elevator;
        // The launch that does not wait learns the same on its running tests.
        ASSERT_EQ(Launch("/bin/true", {}, true), 0) << Case.Elevator;
        WaitEnd();
        int32 Error = 0;
        PrivilegedTask_GetErrorCode(Task, &Error);
        EXPECT_EQ(Error, Case.Error) << Case.Elevator;
        EXPECT_EQ(PrivilegedTask_GetPID(Task), 0) << Case.Elevator;
    }
    Platform_SetElevator((Folder / "missing").c_str());
    EXPECT_EQ(Launch("/bin/true", {}), PRIVILEGEDTASK_ERROR_DENIED);
    EXPECT_EQ(Launch("/bin/true", {}, true), PRIVILEGEDTASK_ERROR_DENIED);
}

// The elevator "asks for the password" until the file go appears: the
// launch returns at once, and the id comes once the user has answered; a
// task deleted while the elevator asks ends it, and the tool never runs.
TEST_F(PrivilegedTaskTest, AnAsynchronousLaunchDoesNotWaitForThePrompt) {
    const std::string Go = Folder / "go", Ran = Folder / "ran", Asking = Folder / "asking";
    WriteScript(Elevator, "#!/bin/sh\necho $$ > " + Asking + ".new; mv " + Asking + ".new " + Asking +
                              "\nwhile [ ! -e " + Go + " ]; do sleep 0.01; done\nexec \"$@\"\n");
    const std::string Script = "echo $$ > " + Ran + "; exit 6";
    auto ReadId = [](const std::string &Path) {
        int32 Id = 0;
        std::ifstream(Path) >> Id;
        return Id;
    };
    for (bool Answered : {true, false}) {
        std::filesystem::remove(Go);
        std::filesystem::remove(Asking);
        ASSERT_EQ(Launch("/bin/sh", {"-c", Script.c_str()}, true), 0);
        for (int Attempt = 0; Attempt < 20000 && !std::filesystem::exists(Asking); Attempt++) usleep(1000);
        const int32 Asker = ReadId(Asking);
        ASSERT_GT(Asker, 0);
        EXPECT_TRUE(PrivilegedTask_IsRunning(Task));
        EXPECT_EQ(PrivilegedTask_GetPID(Task), 0);
        if (Answered) {
            std::ofstream{Go};
            EXPECT_EQ(WaitEnd(), 6);
            EXPECT_EQ(PrivilegedTask_GetPID(Task), ReadId(Ran));
            std::filesystem::remove(Ran);
            continue;
        }
        PrivilegedTask_Release(&Task);
        int Attempt = 0;
        for (; Attempt < 20000 && kill(Asker, 0) == 0; Attempt++) {
            Platform_ReapPending();
            usleep(1000);
        }
        EXPECT_LT(Attempt, 20000) << "the elevator still asks";
        std::ofstream{Go};
        EXPECT_FALSE(std::filesystem::exists(Ran));
    }
}

TEST_F(PrivilegedTaskTest, AMebibyteOfOutputDoesNotHang) {
    ASSERT_EQ(Launch("/bin/sh", {"-c", "head -c 1048576 /dev/zero; exit 4"}), 0);
    EXPECT_EQ(WaitEnd(), 4);
}

TEST_F(PrivilegedTaskTest, AForkingElevatorIsWatchedFromOutside) {
    // Like sudo: the tool is a grandchild, so its status cannot be collected.
    WriteScript(Elevator, "#!/bin/sh\n\"$@\"\n");
    ASSERT_EQ(Launch("/bin/sh", {"-c", "exit 5"}), 0);
    EXPECT_EQ(WaitEnd(), -1);
}

} // namespace

namespace {

TEST_F(PrivilegedTaskTest, ABrokenIdLineNeverCollectsAnotherChild) {
    PlatformProcess *Other = nullptr;
    const char *Arguments[] = {"-c", "exit 2"};
    ASSERT_TRUE(Platform_ExecuteVector("/bin/sh", 2, Arguments, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr, nullptr,
                                       nullptr, &Other));
    WriteScript(Elevator, "#!/bin/sh\necho abc\nexec \"$@\"\n");
    EXPECT_EQ(Launch("/bin/true", {}), PRIVILEGEDTASK_ERROR_INTERNAL);
    EXPECT_FALSE(PrivilegedTask_IsRunning(Task)); // no id: nothing is waited for
    int32 Code = -1;
    for (int Attempt = 0; Attempt < 20000 && !Platform_ProcessGetExitCode(Other, &Code); Attempt++) usleep(1000);
    EXPECT_EQ(Code, 2);
    Platform_ProcessDelete(&Other);
}

} // namespace
