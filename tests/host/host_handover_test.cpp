// The elevated hand-over against another local user, through the built
// program: nothing secret where that user can read it, no subscription to a
// port that user took, no stream for a token that user was handed. The
// checks are in host_handover_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(HostHandOver, AgainstAnotherUser) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root");
    // The other users reach neither the build nor, it may be, TMPDIR: the
    // program goes where they can, which is their TMPDIR too, as /tmp is.
    SharedDirectory Shared;
    const std::string Program = Shared.CopyProgram();
    ASSERT_EQ(chmod(Shared.Path.c_str(), 01777), 0);
    ScopedEnv Tmp("TMPDIR", Shared.Path.c_str());
    for (const char *Case : {"secret", "port_taken", "stolen_token"}) EXPECT_EQ(RunCase(Program, Case), 0) << Case;
}

} // namespace
