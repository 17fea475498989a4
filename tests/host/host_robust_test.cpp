// What a document or a page fires, asks for or piles up cannot end the host
// by a signal, hold it, or cost more than its size, through the built
// program. The checks are in host_robust_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_robust_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostRobust : public testing::TestWithParam<const char *> {};

TEST_P(HostRobust, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostRobust, testing::Values("forged_references", "fired_events", "deep_walks",
                                                                  "fractional_arguments", "many_errors"));

} // namespace
