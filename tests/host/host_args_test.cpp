// Task arguments read as written through the built program: a text that does
// not fit is refused, never cut. The checks are in host_args_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_args_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostArgs : public testing::TestWithParam<const char *> {};

TEST_P(HostArgs, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostArgs, testing::Values("text_limits", "this_as_written", "numbers_as_written", "declared_table", "refusals_are_errors", "macro_stores",
                                                          "failing_branches_fail", "documents_said_where", "paths_before_check",
                                                          "acts_as_checked"));

} // namespace
