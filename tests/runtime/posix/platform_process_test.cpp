// Launches and queries against real children: exit codes and signals,
// arguments and working directory as the child sees them (a Python child
// reports sys.argv, os.getcwd() and its open descriptors), the start as the
// console user checked by the child's uid, and the /proc queries checked
// against ps and os.readlink.
#include "runtime/posix/platform_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <atomic>
#include <map>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/posix/platform.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void WriteScript(const std::string &Path, const std::string &Text) {
    std::ofstream(Path) << Text;
    chmod(Path.c_str(), 0755);
}

// Waits for the child's end through the record, as the Process tick does.
int32 WaitExit(PlatformProcess *Process) {
    int32 Code = 0;
    for (int Attempt = 0; Attempt < 20000; Attempt++) {
        if (Platform_ProcessGetExitCode(Process, &Code)) return Code;
        usleep(1000);
    }
    ADD_FAILURE() << "child did not end";
    return -1000;
}

int32 RunToEnd(const char *Path, const std::vector<const char *> &Arguments, const char *Directory = nullptr) {
    PlatformProcess *Process = nullptr;
    if (!Platform_ExecuteVector(Path, (int32)Arguments.size(), Arguments.data(), Directory,
                                PLATFORM_EXECUTE_ASINVOKER, nullptr, nullptr, nullptr, &Process))
        return -1000;
    const int32 Code = WaitExit(Process);
    Platform_ProcessDelete(&Process);
    return Code;
}

class PlatformProcessTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    void TearDown() override {
        Platform_SetConsoleUser(-1, -1);
        Platform_SetOpener(nullptr);
        RuntimeTest::TearDown();
    }
    TempDirectory Folder;
};

TEST(CommandLine, SplitsAsTheLauncherExpects) {
    RuntimeScope Runtime;
    const struct {
        const char *Line;
        std::vector<std::string> Expected;
    } Cases[] = {
        {"a \"b c\" d\\ e", {"a", "b c", "d\\ e"}},
        {"", {}},
        {" \t\r\n", {}},
        {"\"\" x", {"", "x"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"\"a\"b", {"a", "b"}},
        {"x\\\"y z", {"x\\\"y", "z"}},
        {"\"a\\\"b", {"a\\", "b"}},
        {"one\ttwo\nthree", {"one", "two", "three"}},
        {"\"unterminated run", {"unterminated run"}},
    };
    for (const auto &Case : Cases) {
        char **Arguments = nullptr;
        int32 Count = -1;
        ASSERT_EQ(CommandLineToMutableArray(Case.Line, &Arguments, &Count), 1);
        std::vector<std::string> Got(Arguments, Arguments + Count);
        EXPECT_EQ(Got, Case.Expected) << Case.Line;
        CommandLineArray_Delete(&Arguments, Count);
        EXPECT_EQ(Arguments, nullptr);
    }
    // An argument reaching 8,192 bytes ends the parsing.
    std::string Long(9000, 'x');
    char **Arguments = nullptr;
    int32 Count = 0;
    CommandLineToMutableArray((Long + " tail").c_str(), &Arguments, &Count);
    ASSERT_EQ(Count, 1);
    EXPECT_EQ(strlen(Arguments[0]), (size_t)PLATFORM_ARGUMENT_SIZE - 1);
    CommandLineArray_Delete(&Arguments, Count);
}

TEST_F(PlatformProcessTest, ExitCodesAndSignals) {
    EXPECT_EQ(RunToEnd("/bin/true", {}), 0);
    EXPECT_EQ(RunToEnd("/bin/false", {}), 1);
    EXPECT_EQ(RunToEnd("/bin/sh", {"-c", "exit 3"}), 3);
    EXPECT_EQ(RunToEnd("/bin/sh", {"-c", "kill -9 $$"}), -9);
    EXPECT_EQ(RunToEnd("/bin/sh", {"-c", "kill -TERM $$"}), -SIGTERM);
}

TEST_F(PlatformProcessTest, ChildSeesArgumentsDirectoryAndOnlyStandardDescriptors) {
    // A descriptor of ours without close-on-exec must still stay out.
    const int Leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(Leaky, 3);
    const std::string Report = Folder / "report.json";
    const std::string Script =
        "import json, os, sys\n"
        "def ok(fd):\n"
        "    try:\n        os.fstat(fd)\n        return True\n"
        "    except OSError:\n        return False\n"
        "fds = [fd for fd in range(1024) if ok(fd)]\n"
        "json.dump({'argv': sys.argv[1:], 'cwd': os.getcwd(), 'fds': fds}, open(os.environ['REPORT'], 'w'))\n";
    WriteScript(Folder / "child.py", Script);
    ScopedEnv Target("REPORT", Report.c_str());
    const std::string Line = "first \"with blank\" \"\" tab\\\ttail quote\\\"d";
    PlatformProcess *Process = nullptr;
    ASSERT_TRUE(Platform_Execute(RUNTIME_PYTHON, ((Folder / "child.py") + " " + Line).c_str(),
                                 Folder.Path.c_str(), PLATFORM_EXECUTE_ASINVOKER, nullptr, nullptr, nullptr,
                                 &Process));
    EXPECT_EQ(WaitExit(Process), 0);
    Platform_ProcessDelete(&Process);
    close(Leaky);
    const std::string Check = RunPython(
        "import json\nr = json.load(open('" + Report + "'))\n"
        "print(json.dumps(r['argv']))\nprint(r['cwd'])\nprint(r['fds'])\n");
    EXPECT_EQ(Check, "[\"first\", \"with blank\", \"\", \"tab\\\\\\ttail\", \"quote\\\\\\\"d\"]\n" + Folder.Path +
                         "\n[0, 1, 2]\n");
    EXPECT_EQ(Captured.find("Working path"), std::string::npos);
}

TEST_F(PlatformProcessTest, MissingProgramIsAFailedStartWithOneLine) {
    PlatformProcess *Process = nullptr;
    const std::string Missing = Folder / "no-such-program";
    EXPECT_EQ(Platform_ExecuteVector(Missing.c_str(), 0, nullptr, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr,
                                     nullptr, nullptr, &Process),
              0);
    EXPECT_EQ(Process, nullptr);
    const std::string Expected = "Platform_ExecuteNormal failed to execute (" + Missing + ") [LE: " +
                                 std::to_string(PLATFORM_ERROR_ERRNO_BASE + ENOENT) + "]";
    EXPECT_NE(Captured.find(Expected), std::string::npos) << Captured;
    EXPECT_EQ(Captured.find("failed to execute"), Captured.rfind("failed to execute"));
}

TEST_F(PlatformProcessTest, RootStartsOrdinaryProgramsOnlyAsTheConsoleUser) {
    SKIP_UNLESS_RUN(RunAsRoot(), "starting a program as another user needs root");
    SharedDirectory Shared; // the console user writes here
    chmod(Shared.Path.c_str(), 0777);
    const std::string Report = Shared / "uid";
    WriteScript(Shared / "who.sh", "#!/bin/sh\nid -u > \"$1\"\nid -g >> \"$1\"\n");
    const std::string Script = Shared / "who.sh";
    const char *Arguments[] = {Report.c_str()};
    PlatformProcess *Process = nullptr;
    // Nobody at the console: refused, never run as root.
    Platform_SetConsoleUser(-1, -1);
    ScopedEnv NoSudo("SUDO_UID", nullptr), NoPkexec("PKEXEC_UID", nullptr);
    int32 User = 0, Group = 0;
    if (!Platform_GetConsoleUser(&User, &Group)) {
        EXPECT_EQ(Platform_ExecuteVector(Script.c_str(), 1, Arguments, nullptr, 0, nullptr, nullptr, nullptr,
                                         &Process),
                  0);
        EXPECT_NE(Captured.find("Platform_ExecuteDowngrade failed to execute"), std::string::npos);
        EXPECT_NE(access(Report.c_str(), F_OK), 0);
    }
    Platform_SetConsoleUser(65534, 65534);
    ASSERT_TRUE(Platform_ExecuteVector(Script.c_str(), 1, Arguments, "/", 0, nullptr, nullptr, nullptr, &Process));
    EXPECT_EQ(WaitExit(Process), 0);
    Platform_ProcessDelete(&Process);
    EXPECT_EQ(ReadFile(Report), "65534\n65534\n");
    EXPECT_NE(Captured.find("Working path is not respected for this platform"), std::string::npos);
}

TEST_F(PlatformProcessTest, ShellOpenHandsTheTargetAsOneArgument) {
    if (geteuid() == 0) Platform_SetConsoleUser(65534, 65534);
    SharedDirectory Shared; // the console user writes here
    chmod(Shared.Path.c_str(), 0777);
    const std::string Record = Shared / "opened";
    WriteScript(Shared / "opener", "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > " + Record + "\n");
    Platform_SetOpener((Shared / "opener").c_str());
    ASSERT_TRUE(Platform_ShellOpen("x\" -a O \""));
    for (int Attempt = 0; Attempt < 5000 && ReadFile(Record).empty(); Attempt++) usleep(1000);
    EXPECT_EQ(ReadFile(Record), "1|x\" -a O \"|");
}

TEST_F(PlatformProcessTest, QueriesAgreeWithProcAndPs) {
    // A program named "a) b", as a name may hold ")" and blanks.
    const std::string Copy = Folder / "a) b";
    std::ifstream Source("/bin/sleep", std::ios::binary);
    std::ofstream(Copy, std::ios::binary) << Source.rdbuf();
    chmod(Copy.c_str(), 0755);
    const char *Arguments[] = {"30"};
    PlatformProcess *Process = nullptr;
    ASSERT_TRUE(Platform_ExecuteVector(Copy.c_str(), 1, Arguments, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr,
                                       nullptr, nullptr, &Process));
    const int32 Child = Platform_ProcessGetId(Process);
    EXPECT_TRUE(Platform_ProcessIsRunning(Process));
    PlatformProcessEntry Entry;
    ASSERT_TRUE(Platform_ProcessFindFill(Child, &Entry));
    EXPECT_EQ(Entry.ParentProcessId, (int32)getpid());
    EXPECT_STREQ(Entry.Name, "a) b");
    EXPECT_EQ(std::string(Entry.Path), Copy);
    char Path[4096];
    ASSERT_TRUE(Platform_ProcessGetPathById(Child, Path, (int32)sizeof(Path)));
    EXPECT_EQ(std::string(Path) + "\n", RunPython("import os\nprint(os.readlink('/proc/" + std::to_string(Child) +
                                                  "/exe'))\n"));
    int32 Found = 0;
    EXPECT_TRUE(Platform_FindProcess("A) B", &Found)); // the file name alone, without case
    EXPECT_EQ(Found, Child);
    EXPECT_TRUE(Platform_FindProcess((Folder.Path + "/*").c_str(), &Found));
    EXPECT_EQ(Found, Child);
    EXPECT_FALSE(Platform_FindProcess("no-process-has-this-name-*", &Found));
    EXPECT_EQ(Found, -1);

    // The whole list against ps: every process both saw has the same parent.
    // Processes outside the test come and go, and one whose parent exits is
    // re-parented between the listing and ps; such a race does not survive
    // a second look, a real disagreement does.
    std::map<int32, int32> Listed;
    std::string Differ;
    int Compared = 0;
    for (int Attempt = 0; Attempt < 3; Attempt++) {
        Listed.clear();
        Differ.clear();
        PlatformProcessFind *Find = nullptr;
        ASSERT_TRUE(Platform_ProcessFindFirst(&Entry, &Find));
        do Listed[Entry.ProcessId] = Entry.ParentProcessId;
        while (Platform_ProcessFindNext(Find, &Entry));
        EXPECT_EQ(Platform_ProcessFindClose(&Find), 1);
        EXPECT_EQ(Find, nullptr);
        const std::string Ps = RunPython("import subprocess\nprint(subprocess.run(['ps', '-eo', 'pid=,ppid='],"
                                         " capture_output=True, text=True).stdout)\n");
        std::istringstream Lines(Ps);
        int Pid = 0, Parent = 0;
        Compared = 0;
        while (Lines >> Pid >> Parent) {
            auto At = Listed.find(Pid);
            if (At == Listed.end()) continue;
            if (At->second != Parent)
                Differ += std::to_string(Pid) + ": " + std::to_string(At->second) + " vs " + std::to_string(Parent) + "\n";
            Compared++;
        }
        if (Differ.empty()) break;
    }
    EXPECT_EQ(Differ, "");
    EXPECT_GT(Compared, 2);
    EXPECT_EQ(Listed.count(Child), 1u);

    EXPECT_TRUE(Platform_ProcessTerminateById(Child));
    EXPECT_EQ(WaitExit(Process), -SIGTERM);
    EXPECT_FALSE(Platform_ProcessIsRunning(Process));
    Platform_ProcessDelete(&Process);
    int32 None = 7;
    EXPECT_FALSE(Platform_FindWindow(nullptr, nullptr, 0, &None));
    EXPECT_EQ(None, 0);
}

TEST_F(PlatformProcessTest, QueriesReadTheProcTreeOfTheStandInSeam) {
    // A made-up tree: one process "x) y" (id 4242, parent 77) whose program
    // was replaced, so the kernel's link carries " (deleted)".
    const std::string Proc = Folder / "proc";
    ASSERT_EQ(system(("mkdir -p '" + Proc + "/4242' '" + Proc + "/self'").c_str()), 0);
    std::ofstream(Proc + "/4242/stat") << "4242 (x) y) S 77 4242 4242 0 -1 4194560\n";
    std::ofstream(Proc + "/4242/comm") << "x) y\n";
    ASSERT_EQ(symlink("/opt/made-up/x) y (deleted)", (Proc + "/4242/exe").c_str()), 0);
    PlatformStandIn_Set("PROC_ROOT", Proc.c_str());
    PlatformProcessEntry Entry;
    const bool Filled = Platform_ProcessFindFill(4242, &Entry);
    const std::string Name = Entry.Name, Path = Entry.Path;
    const int32 EntryParent = Entry.ParentProcessId;
    int32 Found = 0;
    const bool Matched = Platform_FindProcess("/opt/made-up/*", &Found);
    const int32 Parent = Platform_GetParentProcessId(4242);
    int32 Count = 0;
    PlatformProcessFind *Find = nullptr;
    if (Platform_ProcessFindFirst(&Entry, &Find)) {
        do Count++;
        while (Platform_ProcessFindNext(Find, &Entry));
        Platform_ProcessFindClose(&Find);
    }
    PlatformStandIn_Set("PROC_ROOT", nullptr);
    ASSERT_TRUE(Filled);
    EXPECT_EQ(Name, "x) y");
    EXPECT_EQ(Path, "/opt/made-up/x) y");
    EXPECT_EQ(EntryParent, 77);
    EXPECT_TRUE(Matched);
    EXPECT_EQ(Found, 4242);
    EXPECT_EQ(Parent, 77);
    EXPECT_EQ(Count, 1) << "only the made-up process is listed";
    ASSERT_TRUE(Platform_ProcessFindFill(4242, &Entry) == FALSE || Entry.ParentProcessId != 77)
        << "the real /proc is read again once the stand-in is cleared";
}

TEST_F(PlatformProcessTest, DeletedRecordsLeaveNoZombie) {
    const char *Arguments[] = {"-c", "exit 0"};
    PlatformProcess *Process = nullptr;
    ASSERT_TRUE(Platform_ExecuteVector("/bin/sh", 2, Arguments, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr,
                                       nullptr, nullptr, &Process));
    const int32 Child = Platform_ProcessGetId(Process);
    Platform_ProcessDelete(&Process);
    // Reaped by a later launch or query once it has ended.
    for (int Attempt = 0; Attempt < 5000; Attempt++) {
        int32 Code = 0;
        PlatformProcess *Other = nullptr;
        Platform_ProcessGetById(1, &Other);
        PlatformProcess *Probe = nullptr;
        ASSERT_TRUE(Platform_ExecuteVector("/bin/true", 0, nullptr, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr,
                                           nullptr, nullptr, &Probe));
        WaitExit(Probe);
        Platform_ProcessGetExitCode(Probe, &Code);
        Platform_ProcessDelete(&Probe);
        if (access(("/proc/" + std::to_string(Child)).c_str(), F_OK) != 0) break;
        usleep(1000);
    }
    EXPECT_NE(access(("/proc/" + std::to_string(Child)).c_str(), F_OK), 0) << "zombie left";
}

} // namespace

namespace {

// Launches, exit-code queries and deletes from several threads at once share
// the list of unwatched children; every child is collected.
TEST_F(PlatformProcessTest, ThreadsLaunchAndCollectTogether) {
    std::vector<std::thread> Threads;
    std::atomic<int> Failures{0};
    std::vector<int32> Abandoned[4];
    for (int Index = 0; Index < 4; Index++)
        Threads.emplace_back([&, Index] {
            for (int Round = 0; Round < 10; Round++) {
                PlatformProcess *Process = nullptr;
                if (!Platform_ExecuteVector("/bin/true", 0, nullptr, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr,
                                            nullptr, nullptr, &Process)) {
                    Failures++;
                    continue;
                }
                if (Round % 2 == 0) {
                    Abandoned[Index].push_back(Platform_ProcessGetId(Process));
                } else if (WaitExit(Process) != 0) {
                    Failures++;
                }
                Platform_ProcessDelete(&Process);
            }
        });
    for (std::thread &Thread : Threads) Thread.join();
    EXPECT_EQ(Failures.load(), 0);
    for (const auto &List : Abandoned)
        for (int32 Child : List) {
            const std::string Proc = "/proc/" + std::to_string(Child);
            for (int Attempt = 0; Attempt < 5000 && access(Proc.c_str(), F_OK) == 0; Attempt++) {
                PlatformProcess *Probe = nullptr;
                Platform_ExecuteVector("/bin/true", 0, nullptr, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr, nullptr,
                                       nullptr, &Probe);
                WaitExit(Probe);
                Platform_ProcessDelete(&Probe);
            }
            EXPECT_NE(access(Proc.c_str(), F_OK), 0) << "zombie " << Child;
        }
}

} // namespace
