// The host program as built: its help text and the log a run leaves.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

namespace {

const std::string Program = std::string(RUNTIME_BINARY_DIR) + "/host/velmarsh";

struct RunResult {
    int ExitCode = -1;
    std::string Output;
};

// Runs the program (or a copy) with the arguments (a shell word list);
// stdout only, stderr into the file when one is named. A prefix runs it
// through another command (setpriv).
RunResult RunHost(const std::string &Arguments, const std::string &Errors = "/dev/null",
                  const std::string &Prefix = "", const std::string &Copy = Program) {
    RunResult Result;
    std::string Command = Prefix + "'" + Copy + "' " + Arguments + " 2>'" + Errors + "'";
    FILE *Pipe = popen(Command.c_str(), "r");
    if (Pipe == nullptr) return Result;
    char Buffer[4096];
    size_t Count;
    while ((Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Result.Output.append(Buffer, Count);
    int Status = pclose(Pipe);
    Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return Result;
}

const std::regex StampedLine("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d .*");


} // namespace

TEST(Host, HelpListsTheRuntimeSwitches) {
    RunResult Result = RunHost("--help");
    EXPECT_EQ(Result.ExitCode, 0);
    for (const char *Switch : {"append", "cmdline", "commit", "debug", "debugfile", "debugfileid", "debugdir",
                               "externalprint", "memoryreport", "memorytest", "memorytracking", "perday",
                               "perprocess", "perthread", "verbose", "window"})
        EXPECT_NE(Result.Output.find("--" + std::string(Switch)), std::string::npos) << Switch;
    EXPECT_NE(Result.Output.find("Usage: velmarsh"), std::string::npos);
}

TEST(Host, RunWritesTheHeaderAndItsArgumentsIntoTheLog) {
    TempDirectory Directory;
    RunResult Result = RunHost("--debug --debugdir='" + Directory.Path + "/logs' --skin=\"a b\" --flag input.txt");
    EXPECT_EQ(Result.ExitCode, 0);
    std::string Text = ReadFile(Directory.Path + "/logs/host.developer.log");
    EXPECT_NE(Text.find(" Log Level: DEBUG\n"), std::string::npos) << Text;
    // The version lines come from the program's own ".version.json" section.
    EXPECT_NE(Text.find(" File Version: 0."), std::string::npos) << Text;
    EXPECT_NE(Text.find(" Product Version: velmarsh 0."), std::string::npos) << Text;
    EXPECT_NE(Text.find(" Company: velmarsh\n"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" Version: 0.1.0\n"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" Command Line: " + Program + " --debug --debugdir="), std::string::npos) << Text;
    EXPECT_NE(Text.find(" INFO - Switch skin = a b\n"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" INFO - Switch flag\n"), std::string::npos) << Text;
    EXPECT_NE(Text.find(" INFO - Argument 5: input.txt\n"), std::string::npos) << Text;
    EXPECT_EQ(Text.find("Not all memory"), std::string::npos) << Text;
}

TEST(Host, ConsoleRunWithTrackingEndsClean) {
    RunResult Result = RunHost("--window --cmdline --memorytracking");
    EXPECT_EQ(Result.ExitCode, 0);
    EXPECT_NE(Result.Output.find(" Log Level: INFO\n"), std::string::npos) << Result.Output;
    EXPECT_NE(Result.Output.find(" INFO - Switch memorytracking\n"), std::string::npos) << Result.Output;
    EXPECT_NE(Result.Output.find(" DEBUG - Maximum Memory in use ("), std::string::npos) << Result.Output;
    EXPECT_EQ(Result.Output.find("Not all memory"), std::string::npos) << Result.Output;
}

TEST(Host, DebugLevelFromTheSwitchHolds) {
    TempDirectory Directory;
    for (const char *Level : {"ERROR", "WARNING", "INFO", "DEBUG"}) {
        std::string Lower = Level;
        for (char &Ch : Lower) Ch = (char)tolower(Ch);
        RunResult Result = RunHost("--debug=" + Lower + " --debugdir='" + Directory.Path + "'");
        EXPECT_EQ(Result.ExitCode, 0);
        std::string Text = ReadFile(Directory.Path + "/host.developer.log");
        EXPECT_NE(Text.find(" Log Level: " + std::string(Level) + "\n"), std::string::npos) << Text;
    }
}

// A log folder the program cannot use costs one line on stderr naming the
// path and the reason; the run goes on and ends well.
TEST(Host, UnusableLogFolderIsToldOnceOnStderr) {
    SharedDirectory Directory; // user 65534 runs a copy of the program from here
    std::string Blocker = Directory.Path + "/a-file";
    std::ofstream(Blocker) << "in the way\n";
    std::string Locked = Directory.Path + "/locked";
    ASSERT_EQ(mkdir(Locked.c_str(), 0755), 0);
    ASSERT_EQ(chmod(Locked.c_str(), 0755), 0);
    struct Case {
        std::string Folder, Reason, Prefix;
    };
    // A FIFO at the log's name would hold the open until a reader came.
    std::string Piped = Directory.Path + "/piped";
    ASSERT_EQ(mkdir(Piped.c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((Piped + "/host.developer.log").c_str(), 0644), 0);
    std::vector<Case> Cases = {
        {Blocker, "Not a directory", ""},
        {"/proc/self/no/such", "No such file or directory", ""},
        {Piped, "not a regular file", ""},
    };
    // Root owns the folder: refused to an ordinary user, whose own log
    // folder it is not.
    // A folder that cannot be made below it names the same reason.
    if (RunAsRoot()) {
        Cases.push_back({Locked, "its folder belongs to another user",
                         "setpriv --reuid=65534 --regid=65534 --clear-groups "});
        Cases.push_back({Locked + "/state/velmarsh", "Permission denied",
                         "setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_STATE_HOME='" + Locked +
                             "/state' "});
    }
    std::string Errors = Directory.Path + "/stderr.txt", Copy = Directory.CopyProgram();
    for (const Case &Each : Cases) {
        // The default folder when the prefix names it.
        bool Default = Each.Prefix.find("XDG_STATE_HOME") != std::string::npos;
        std::string Folder = Default ? "" : " --debugdir='" + Each.Folder + "'";
        RunResult Result = RunHost("--debug" + Folder + " --window", Errors, Each.Prefix, Copy);
        EXPECT_EQ(Result.ExitCode, 0) << Each.Folder;
        EXPECT_NE(Result.Output.find(" INFO - Switch window\n"), std::string::npos) << Result.Output;
        EXPECT_EQ(ReadFile(Errors), "Unable to open log file (" + Each.Folder + "/host.developer.log): " +
                                        Each.Reason + "\n");
    }
    EXPECT_EQ(ReadFile(Blocker), "in the way\n");
}

// A command line that fills the 4,095 bytes of the process line gives log
// lines longer than a log line's buffer: cut, they still end their line. One
// longer than that would run without its tail: a usage error naming the cut.
TEST(Host, LongCommandLineIsRefusedAndAFullOneKeepsTheLogWhole) {
    TempDirectory Directory;
    std::string Arguments = "--debug --debugdir='" + Directory.Path + "'";
    size_t Joined = Program.size() + 1 + Arguments.size() - 2; // the quotes are the shell's
    // Filled to within one field of the limit, leaving room for " --window".
    for (int Index = 1000; Joined + 21 + 9 < 4095; Index++) {
        std::string Field = " --argument" + std::to_string(Index) + "=value";
        Arguments += Field;
        Joined += Field.size();
    }
    std::string Errors = Directory.Path + "/stderr.txt";
    RunResult Over = RunHost(Arguments + " --lastswitch=" + std::string(40, 'v'), Errors);
    EXPECT_EQ(Over.ExitCode, 2);
    EXPECT_EQ(Over.Output, "");
    EXPECT_EQ(ReadFile(Errors), "velmarsh: the command line is longer than 4095 bytes: 1 argument(s) from "
                                "\"--lastswitch=vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv\" on are left out\n");
    EXPECT_NE(access((Directory.Path + "/host.developer.log").c_str(), F_OK), 0);

    RunResult Result = RunHost(Arguments + " --window", Errors);
    EXPECT_EQ(Result.ExitCode, 0) << ReadFile(Errors).substr(0, 400);
    std::string Text = ReadFile(Directory.Path + "/host.developer.log");
    ASSERT_FALSE(Text.empty());
    ASSERT_EQ(Text.back(), '\n');
    std::istringstream Stream(Text);
    std::string Line;
    int Cut = 0;
    while (std::getline(Stream, Line)) {
        EXPECT_TRUE(std::regex_match(Line, StampedLine)) << "glued or unstamped: " << Line.substr(0, 200);
        EXPECT_LE(Line.size(), 20u + 4095u);
        if (Line.size() >= 4000) Cut++;
    }
    EXPECT_GE(Cut, 1) << "no log line was cut";
    EXPECT_NE(Text.find("INFO - Switch window\n"), std::string::npos) << "the last argument was lost";
}

// GTK comes as a module beside the program, mapped only once a display is
// named: the loader's own trace (LD_DEBUG=files) tells which libraries a run
// opened. A display that does not answer leaves the headless model, with the
// module's warning written through the program's log.
TEST(Host, GtkIsMappedOnlyWhenADisplayIsNamed) {
    SKIP_UNLESS(access((std::string(RUNTIME_BINARY_DIR) + "/host/velmarsh_gtk.so").c_str(), R_OK) == 0,
                "built without GTK (libgtk-3-dev, libnotify-dev)");
    TempDirectory Directory;
    const std::string Errors = Directory.Path + "/stderr";
    // GTK and the libraries it loads make their caches under the home: one
    // of the test's own.
    const std::string Home = "env -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME HOME='" +
                             Directory.Path + "' ";
    struct Case {
        std::string Environment;
        bool Mapped;
        const char *Warning;
    };
    const std::vector<Case> Cases = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY", false, nullptr},
        {"env -u WAYLAND_DISPLAY DISPLAY=:59999", true, "No display could be opened for GTK (:59999)"},
    };
    for (const Case &Each : Cases) {
        RunResult Result =
            RunHost("--window", Errors, Home + Each.Environment + " ASAN_OPTIONS=detect_leaks=0 LD_DEBUG=files ");
        EXPECT_EQ(Result.ExitCode, 0) << Each.Environment;
        EXPECT_EQ(ReadFile(Errors).find("libgtk-3.so") != std::string::npos, Each.Mapped) << Each.Environment;
        EXPECT_NE(Result.Output.find(" INFO - Native UI backend: headless model\n"), std::string::npos) << Result.Output;
        if (Each.Warning != nullptr) {
            EXPECT_NE(Result.Output.find(Each.Warning), std::string::npos) << Result.Output;
        }
    }
}

// A Log task's {Temp} and {PipePath}, with TMPDIR unset and TMPDIR=/tmp, for
// root and for user 65534: a folder of that user's that no other user may
// write in, a different one for each user.
TEST(Host, TemporaryFolderIsTheUsersOwn) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing a second user (setpriv) needs root");
    SharedDirectory Directory;
    const std::string Copy = Directory.CopyProgram(), Document = Directory.Path + "/temp.yaml";
    std::ofstream(Document) << "start: {type: Log, message: \"temp=({Temp}) pipe=({PipePath})\"}\n";
    ASSERT_EQ(chmod(Document.c_str(), 0644), 0);
    const std::regex Said("temp=\\((.*)\\) pipe=\\((.*)\\)");
    for (const char *Tmpdir : {"", "TMPDIR=/tmp "}) {
        std::string Answers[2];
        for (uid_t User : {0u, 65534u}) {
            // Each user's home, where the cache folder goes.
            const std::string Home = Directory.Path + "/home-" + std::to_string(User) + (Tmpdir[0] ? "-tmp" : "");
            ASSERT_EQ(mkdir(Home.c_str(), 0700), 0);
            ASSERT_EQ(chown(Home.c_str(), User, User), 0);
            const std::string Prefix = "env -u TMPDIR -u XDG_RUNTIME_DIR -u XDG_CACHE_HOME HOME='" + Home + "' " +
                                       Tmpdir + (User != 0 ? Nobody + " " : "");
            RunResult Result = RunHost("--workflow='" + Document + "' --disablesecurity --window", "/dev/null",
                                       Prefix, Copy);
            std::smatch Match;
            ASSERT_TRUE(std::regex_search(Result.Output, Match, Said)) << Prefix << "\n" << Result.Output;
            const std::string Temp = Match[1];
            EXPECT_EQ(Match[2], Temp);
            ASSERT_FALSE(Temp.empty());
            EXPECT_EQ(Temp.back(), '/');
            struct stat Info {};
            ASSERT_EQ(lstat(Temp.substr(0, Temp.size() - 1).c_str(), &Info), 0) << Temp;
            EXPECT_TRUE(S_ISDIR(Info.st_mode)) << Temp;
            EXPECT_EQ(Info.st_uid, User) << Temp;
            EXPECT_EQ(Info.st_mode & 022, 0u) << Temp;
            Answers[User != 0] = Temp;
        }
        EXPECT_NE(Answers[0], Answers[1]);
    }
}
