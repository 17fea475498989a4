// What a page script cannot do to the host's run, through the built program:
// the runs it adds, a bridge it cannot reach, the manager's flow switched off,
// a signal while the page loads or matches, and what it leaves at exit. The checks themselves are in
// host_page_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_page_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostPage : public testing::TestWithParam<const char *> {};

TEST_P(HostPage, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostPage,
                         testing::Values("added_runs", "too_many_runs", "bridge_out_of_reach", "flow_control_off",
                                         "signal_while_busy", "nothing_left_behind"));

} // namespace
