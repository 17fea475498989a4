// A missing tool or vector skips a test on a developer's machine and fails it
// under CI=true, a property the run lacks skips it either way; the Wycheproof
// files the crypto tests read are in the tree. A SharedDirectory reaches
// another user from behind a private TMPDIR.
#include "tests/support/requirement.h"

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/system.h"

namespace {

TEST(Requirement, AnAbsenceFailsUnderCi) {
    ScopedEnv Ci("CI", "true");
    EXPECT_TRUE(MissingRequirementFails());
    EXPECT_FATAL_FAILURE(SKIP_UNLESS(HaveCommand("no-such-tool-here"), "no-such-tool-here is missing"),
                         "no-such-tool-here is missing (with CI=true");
    EXPECT_NONFATAL_FAILURE(RequirePart(HavePythonModule("no_such_module_here"), "no_such_module_here"),
                            "no_such_module_here is missing");
    SKIP_UNLESS(HaveCommand("sh") && HavePythonModule("json"), "sh or Python");
    EXPECT_TRUE(RequirePart(true, "nothing"));
    for (const char *Name : {"LICENSE", "COMMIT", "aes_gcm_test.json.gz", "rsa_pkcs1_2048_test.json.gz"})
        EXPECT_EQ(access((WycheproofDirectory() + "/" + Name).c_str(), R_OK), 0) << Name;
}

TEST(Requirement, AnAbsenceIsNotedElsewhere) {
    ScopedEnv Ci("CI", "false");
    EXPECT_FALSE(MissingRequirementFails());
    EXPECT_FALSE(RequirePart(false, "a part's tool"));
}

TEST(RequirementChild, DISABLED_RunWithoutTheProperty) {
    SKIP_UNLESS_RUN(false, "this run is not of the kind");
    ADD_FAILURE() << "went on";
}

TEST(Requirement, APropertyOfTheRunSkipsAlsoUnderCi) {
    ScopedEnv Ci("CI", "true");
    const std::string Output = RunChildTest("RequirementChild.DISABLED_RunWithoutTheProperty");
    EXPECT_NE(Output.find("Skipped\nthis run is not of the kind\n"), std::string::npos) << Output;
    EXPECT_NE(Output.find("[  SKIPPED ] 1 test"), std::string::npos) << Output;
}

TEST(SharedDirectory, AnotherUserRunsCopiesMadeFromBehindAPrivateFolder) {
    SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root");
    TempDirectory Private; // 0700, as a mktemp -d folder or /root is
    const std::string Open = Private / "tmp", Tool = Private / "tool";
    ASSERT_EQ(mkdir(Open.c_str(), 01777), 0);
    ASSERT_EQ(chmod(Open.c_str(), 01777), 0);
    std::ofstream(Tool) << "#!/bin/sh\nid -u\n";
    ASSERT_EQ(chmod(Tool.c_str(), 0700), 0);
    std::string Copy;
    for (const std::string &Tmpdir : {Open, std::string("/dev/shm")}) {
        ScopedEnv Tmp("TMPDIR", Tmpdir.c_str());
        {
            SharedDirectory Shared;
            // An open TMPDIR holds it, where the run's check for leftovers looks.
            EXPECT_EQ(Shared.Path.rfind(Tmpdir == Open ? "/tmp/" : "/dev/shm/", 0), 0u) << Shared.Path;
            Copy = Shared.Copy(Tool);
            EXPECT_EQ(CommandOutput(Nobody + " sh -c '" + Copy + "'"), "65534\n") << Tmpdir;
        }
        EXPECT_NE(access(Copy.c_str(), F_OK), 0);
    }
}

} // namespace
