// What another local user can reach of a run of the built program: files it
// removes at names a user or a document gives. The checks are in
// host_reach_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

namespace {

int RunCase(const std::string &Program, const char *Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_reach_check.py' '" + Program + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostReach : public testing::TestWithParam<const char *> {};

// The other users reach neither the build nor, it may be, TMPDIR: the
// program and the case's folders go where they can.
TEST_P(HostReach, CaseHolds) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing other users needs root");
    SharedDirectory Shared;
    const std::string Program = Shared.CopyProgram();
    ASSERT_EQ(chmod(Shared.Path.c_str(), 01777), 0);
    ScopedEnv Tmp("TMPDIR", Shared.Path.c_str());
    EXPECT_EQ(RunCase(Program, GetParam()), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Cases, HostReach, testing::Values("log_expiry", "erase_swap", "log_walk", "checked_program",
                                                           "interop_foreign", "mark_planted"));

} // namespace
