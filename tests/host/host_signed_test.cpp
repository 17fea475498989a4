// What a signed workflow lets through unsigned, tried from outside: another
// folder of its content host, or a document that is not signed, through the
// built program. The checks are in host_signed_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_signed_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' '" +
                          RUNTIME_SOURCE_DIR + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostSigned : public testing::TestWithParam<const char *> {};

TEST_P(HostSigned, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostSigned, testing::Values("fetched_url", "encoded_dots", "redirects", "claims_twice"));

} // namespace
