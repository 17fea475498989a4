// A page's calls into the host tried as an attacker would, through the built
// program: places that change between a page's calls, released objects and
// settings written through every path at once. The checks themselves are in
// host_tries_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_tries_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostTries : public testing::TestWithParam<const char *> {};

TEST_P(HostTries, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostTries, testing::Values("swapped_pipe", "nul_text", "long_setting",
                                                               "observer_churn", "large_certificate",
                                                               "pipe_over_file", "deep_batches", "bounded_entries",
                                                               "delayed_bytes", "budgeted_calls", "task_records"));

} // namespace
