// The host program as built: its help text and the log a run leaves.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/system.h"

namespace {

const std::string Program = std::string(RUNTIME_BINARY_DIR) + "/host/velmarsh";

struct RunResult {
    int ExitCode = -1;
    std::string Output;
};

// Runs the program with the arguments (a shell word list); stdout only.
RunResult RunHost(const std::string &Arguments) {
    RunResult Result;
    std::string Command = "'" + Program + "' " + Arguments + " 2>/dev/null";
    FILE *Pipe = popen(Command.c_str(), "r");
    if (Pipe == nullptr) return Result;
    char Buffer[4096];
    size_t Count;
    while ((Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Result.Output.append(Buffer, Count);
    int Status = pclose(Pipe);
    Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return Result;
}

std::string ReadFile(const std::string &Path) {
    std::ifstream Stream(Path, std::ios::binary);
    std::stringstream Text;
    Text << Stream.rdbuf();
    return Text.str();
}


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
