// The elevated hand-over against another local user, through the built
// program: nothing secret where that user can read it, no subscription to a
// port that user took, no stream for a token that user was handed. The
// checks are in host_handover_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/requirement.h"

namespace {

int RunCase(const char *Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_handover_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST(HostHandOver, AgainstAnotherUser) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    for (const char *Case : {"secret", "port_taken", "stolen_token"}) EXPECT_EQ(RunCase(Case), 0) << Case;
}

// Another user's IPv6-only listeners on the parent's and the worker's ports
// neither fail nor hold up the run.
TEST(HostHandOver, OnlyTheListenerOfTheConnectionCounts) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    EXPECT_EQ(RunCase("v6only"), 0);
}

TEST(HostHandOver, CleanUpFollowsNoPlantedLink) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    EXPECT_EQ(RunCase("planted_link"), 0);
}

} // namespace
