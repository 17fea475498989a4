// Runs that fail where nothing can cancel them end by themselves, and a
// nested run ends with its child's outcome, through the built program. The
// checks are in host_outcome_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "runtime/notification/notification_center.h"

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_outcome_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    // The loop's own notifications, from the engine's list.
    if (Name == "loop_only_page")
        for (const NotificationCenterLoopName &Each : NotificationCenter_LoopNames)
            Command += std::string(" ") + Each.Type + "." + Each.Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostOutcome : public testing::TestWithParam<const char *> {};

TEST_P(HostOutcome, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostOutcome, testing::Values("failing_runs_end", "unload_runs_child_start", "loop_only_page",
                                                           "shut_down_runs_nothing", "second_signal_says_it",
                                                           "page_shuts_down_loading"));

} // namespace
