// The notification end point across processes with the built program: the
// elevated hand-over, and a local process's request the end point refuses.
// The checks are in host_worker_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <optional>
#include <string>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

namespace {

// The cases marked Shared run the program as user 65534 (setpriv), which
// needs root, and which reaches neither the build nor, it may be, TMPDIR: a
// copy of the program goes where it can, which is its TMPDIR too, as /tmp is.
int RunCase(const char *Name, bool Shared = false) {
    std::optional<SharedDirectory> Folder;
    std::optional<ScopedEnv> Tmp;
    std::string Program = RUNTIME_BINARY_DIR "/host/velmarsh";
    if (Shared) {
        Program = Folder.emplace().CopyProgram();
        if (chmod(Folder->Path.c_str(), 01777) != 0) return -1;
        Tmp.emplace("TMPDIR", Folder->Path.c_str());
    }
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_worker_check.py' '" + Program + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

#define SKIP_UNLESS_ROOT() SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root")

TEST(HostWorker, ElevatedRunGoesThroughTheWorker) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("elevated", true), 0);
}

TEST(HostWorker, RefusedRequestOfALocalPeerChangesNothing) { EXPECT_EQ(RunCase("hostile_peer"), 0); }

TEST(HostWorker, SignedRunsTrustWhatTheParentTrusts) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("signed_config", true), 0);
}

TEST(HostWorker, OneSignalAtTheHandOverEndsBoth) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("signal_at_handover", true), 0);
}

TEST(HostWorker, WorkerThatIsNotElevatedFailsTheRun) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("not_elevated", true), 0);
}

TEST(HostWorker, WorkerEndsWithItsParent) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("parent_killed", true), 0);
}

TEST(HostWorker, WorkerRefusesSwitchesItCannotTrust) { EXPECT_EQ(RunCase("worker_switches"), 0); }

TEST(HostWorker, HandOverHasADeadline) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("handover_deadline", true), 0);
}

TEST(HostWorker, HandOverFolderGoesWhereNoOtherUserMovesIt) {
    SKIP_UNLESS_ROOT();
    EXPECT_EQ(RunCase("handover_place", true), 0);
}

TEST(HostWorker, WorkerTakesOnlyAHandOverFile) {
    SKIP_UNLESS_RUN(RunAsRoot(), "a worker as an elevator starts it needs root");
    EXPECT_EQ(RunCase("endpoint_files"), 0);
}

} // namespace
