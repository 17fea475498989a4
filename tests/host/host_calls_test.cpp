// A page's calls into the host through the built program: settings written
// by two hosts at once, a settings store that cannot be read, files a page
// names that are no regular files, what a launched process writes, the
// memory of released objects and the registry views a page may name. The
// checks themselves are in host_calls_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_calls_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostCalls : public testing::TestWithParam<const char *> {};

TEST_P(HostCalls, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostCalls, testing::Values("registry_two_hosts", "store_set_aside", "store_cannot_open",
                                                    "store_keeps_answers",
                                                    "special_files", "launched_output",
                                                    "released_objects", "registry_views"));

} // namespace
