// Page scripts given to the built program (--script): releases the page
// does not hold, pages that fail to load, the checks of the script file, a
// handler that throws, what "complete" takes, the manager's task limits and
// a page that spins when the run is interrupted. The checks themselves are
// in host_script_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_script_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostScript : public testing::TestWithParam<const char *> {};

TEST_P(HostScript, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostScript,
                         testing::Values("double_release", "load_failures", "file_checks", "handler_fails",
                                         "complete_outcomes", "maximum_active_tasks", "interrupt_busy_page",
                                         "callback_ids", "queued_names"));

} // namespace
