// Runs that fail where nothing can cancel them end by themselves, and a
// nested run ends with its child's outcome, through the built program. The
// checks are in host_outcome_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_outcome_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostOutcome : public testing::TestWithParam<const char *> {};

TEST_P(HostOutcome, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostOutcome, testing::Values("failing_runs_end", "unload_runs_child_start"));

} // namespace
