// A hostile peer's answers and a hostile document's fetches, through the
// built program: memory that runs out wherever an answer is taken on, content
// codings named on several lines, a signal or memory refused while a document
// is read.
// The checks are in host_peer_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_peer_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostPeer : public testing::TestWithParam<const char *> {};

// 77: the case cannot be tried in this build (the script said why).
TEST_P(HostPeer, CaseHolds) {
    const int Status = RunCase(GetParam());
    if (Status == 77) GTEST_SKIP() << "a sanitized program cannot run under an address-space limit";
    EXPECT_EQ(Status, 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Cases, HostPeer,
                         testing::Values("standard_allocation", "codings", "signal_in_parse",
                                         "memory_in_parse"));

} // namespace
