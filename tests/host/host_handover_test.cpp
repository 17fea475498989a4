// The elevated hand-over against another local user, through the built
// program: nothing secret where that user can read it, no subscription to a
// port that user took, no stream for a token that user was handed. The
// checks are in host_handover_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <initializer_list>
#include <string>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

namespace {

int RunCase(const std::string &Program, const char *Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_handover_check.py' '" + Program + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// The other users reach neither the build nor, it may be, TMPDIR: the
// program goes where they can, which is their TMPDIR too, as /tmp is.
void RunShared(std::initializer_list<const char *> Cases) {
    SharedDirectory Shared;
    const std::string Program = Shared.CopyProgram();
    ASSERT_EQ(chmod(Shared.Path.c_str(), 01777), 0);
    ScopedEnv Tmp("TMPDIR", Shared.Path.c_str());
    for (const char *Case : Cases) EXPECT_EQ(RunCase(Program, Case), 0) << Case;
}

TEST(HostHandOver, AgainstAnotherUser) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root");
    RunShared({"secret", "port_taken", "stolen_token"});
}

// Another user's IPv6-only listeners on the parent's and the worker's ports
// neither fail nor hold up the run.
TEST(HostHandOver, OnlyTheListenerOfTheConnectionCounts) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root");
    RunShared({"v6only"});
}

TEST(HostHandOver, CleanUpFollowsNoPlantedLink) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root");
    RunShared({"planted_link", "planted_names"});
}

} // namespace
