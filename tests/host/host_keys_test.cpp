// Task arguments read as written through the built program: a text that does
// not fit is refused, never cut. The checks are in host_keys_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_keys_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostKeys : public testing::TestWithParam<const char *> {};

TEST_P(HostKeys, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostKeys, testing::Values("keys_refused_where_read", "names_past_the_limit",
                                                          "texts_read_whole", "exit_codes_whole",
                                                          "counts_whole", "page_keys", "lookups_past_the_limit",
                                                          "errors_stay_errors"));

} // namespace
