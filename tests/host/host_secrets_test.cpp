// No secret in any log, stderr line or summary, through the built program at
// its most verbose: credentials a page sets and reads, a fetch's
// Authorization and Cookie headers, a URL's password and query token. The
// checks are in host_secrets_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_secrets_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostSecrets : public testing::TestWithParam<const char *> {};

TEST_P(HostSecrets, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostSecrets, testing::Values("traced_calls", "failed_fetch", "whole_values", "odd_passwords"));

} // namespace
