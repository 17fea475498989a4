// Fetches by a workflow's tasks against a peer that answers as told, through
// the built program: the body's hard cap, memory that runs out, a signal
// while a body is read, framing conflicts and answers that cannot be read,
// hosts that do not answer, a document's headers and URLs, and what passes the
// memory budget (bodies at once, what a Macro keeps).
// The checks are in host_fetch_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_fetch_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostFetch : public testing::TestWithParam<const char *> {};

// 77: the case cannot be tried in this build (the script said why).
TEST_P(HostFetch, CaseHolds) {
    const int Status = RunCase(GetParam());
    if (Status == 77) GTEST_SKIP() << "a sanitized program cannot run under an address-space limit";
    EXPECT_EQ(Status, 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Cases, HostFetch,
                         testing::Values("body_cap", "out_of_memory", "signal_in_body", "framing", "headers", "slow_hosts", "urls", "cuts", "ignored",
                                         "budget"));

} // namespace
