// The test command's guard against tests that leave files behind
// (tools/fresh-tmp.sh, around each stage of ./test.sh): the command runs with
// TMPDIR set to a fresh folder, and what it leaves there fails the stage by
// name and is removed.
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

namespace {

const std::string Script = RUNTIME_SOURCE_DIR "/tools/fresh-tmp.sh";

} // namespace

TEST(TestCommandTest, AStageFailsOnWhatItsTestsLeaveInTmpdir) {
    TempDirectory Scripts;
    // As /tmp, the parent lets every user through to the fresh folder.
    SharedDirectory Parent;
    chmod(Parent.Path.c_str(), 0711);
    ScopedEnv Tmp("TMPDIR", Parent.Path.c_str());
    struct Case {
        std::string Commands;
        int Status;
        std::vector<std::string> Named;
    };
    std::vector<Case> Cases = {
        {"touch \"$TMPDIR/key.pem\"; mkdir \"$TMPDIR/certs\"; touch \"$TMPDIR/certs/c.der\"", 1,
         {"key.pem", "certs", "certs/c.der"}},
        {"f=$(mktemp); rm \"$f\"", 0, {}},
        {"touch \"$TMPDIR/left\"; exit 3", 3, {"left"}},
    };
    // Tests run children as nobody, who must be able to write there too.
    if (RunAsRoot()) Cases.push_back({Nobody + " sh -c 'touch \"$TMPDIR/x\" && rm \"$TMPDIR/x\"'", 0, {}});
    for (const Case &Each : Cases) {
        std::ofstream(Scripts / "stage") << Each.Commands << "\n";
        const std::string Output = CommandOutput(Script + " sh '" + (Scripts / "stage") + "' 2>&1; echo status $?");
        EXPECT_NE(Output.find("status " + std::to_string(Each.Status) + "\n"), std::string::npos)
            << Each.Commands << "\n" << Output;
        EXPECT_EQ(Output.find("left in the temporary folder") != std::string::npos, !Each.Named.empty()) << Output;
        for (const std::string &Name : Each.Named) EXPECT_NE(Output.find("  " + Name + "\n"), std::string::npos) << Output;
        // The folder itself is gone, whatever was in it.
        EXPECT_EQ(CommandOutput("ls -A '" + Parent.Path + "'"), "") << Each.Commands;
    }
}
