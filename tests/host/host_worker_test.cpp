// The notification end point across processes with the built program: the
// elevated hand-over, and a local process's request the end point refuses.
// The checks are in host_worker_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/requirement.h"

namespace {

int RunCase(const char *Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_worker_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

TEST(HostWorker, ElevatedRunGoesThroughTheWorker) { EXPECT_EQ(RunCase("elevated"), 0); }

TEST(HostWorker, RefusedRequestOfALocalPeerChangesNothing) { EXPECT_EQ(RunCase("hostile_peer"), 0); }

TEST(HostWorker, SignedRunsTrustWhatTheParentTrusts) { EXPECT_EQ(RunCase("signed_config"), 0); }

TEST(HostWorker, OneSignalAtTheHandOverEndsBoth) { EXPECT_EQ(RunCase("signal_at_handover"), 0); }

TEST(HostWorker, WorkerThatIsNotElevatedFailsTheRun) { EXPECT_EQ(RunCase("not_elevated"), 0); }

TEST(HostWorker, WorkerEndsWithItsParent) { EXPECT_EQ(RunCase("parent_killed"), 0); }

TEST(HostWorker, WorkerRefusesSwitchesItCannotTrust) { EXPECT_EQ(RunCase("worker_switches"), 0); }

TEST(HostWorker, HandOverHasADeadline) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    EXPECT_EQ(RunCase("handover_deadline"), 0);
}

TEST(HostWorker, HandOverFolderGoesWhereNoOtherUserMovesIt) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    EXPECT_EQ(RunCase("handover_place"), 0);
}

TEST(HostWorker, WorkerTakesOnlyAHandOverFile) {
    SKIP_UNLESS(getuid() == 0, "playing another user needs root");
    EXPECT_EQ(RunCase("endpoint_files"), 0);
}

} // namespace
