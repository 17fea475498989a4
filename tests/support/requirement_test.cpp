// A missing tool or vector skips a test on a developer's machine and fails it
// under CI=true; the Wycheproof files the crypto tests read are in the tree.
#include "tests/support/requirement.h"

#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>
#include <unistd.h>

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

} // namespace
