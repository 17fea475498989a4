// What counts as beside a signed workflow, as the server resolves the path
// and from the application's own content URL, through the built program.
// The checks are in host_beside_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_beside_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' '" +
                          RUNTIME_SOURCE_DIR + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostBeside : public testing::TestWithParam<const char *> {};

TEST_P(HostBeside, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostBeside, testing::Values("place", "loaded_data", "encoded_name", "claim_times"));

} // namespace
