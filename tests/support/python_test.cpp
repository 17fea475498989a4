// The Python reference runner with a TMPDIR the shell would split, and when
// only one of its two scratch files can be made.
#include "tests/support/python.h"

#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/system.h"

namespace {

TEST(RunPython, TmpdirWithShellCharacters) {
    TempDirectory Parent;
    const std::string Odd = Parent / "a b'c;$(false)";
    ASSERT_TRUE(std::filesystem::create_directory(Odd));
    ScopedEnv Tmp("TMPDIR", Odd.c_str());
    EXPECT_EQ(RunPython("import sys\nprint(sys.stdin.read())", "in"), "in\n");
    EXPECT_TRUE(std::filesystem::is_empty(Odd));
}

TEST(RunPython, SecondScratchFileFailingLeavesNoFirst) {
    TempDirectory Folder;
    ScopedEnv Tmp("TMPDIR", Folder.Path.c_str());
    struct rlimit Saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &Saved), 0);
    const int Probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(Probe);
    struct rlimit OneMore = Saved;
    OneMore.rlim_cur = (rlim_t)Probe + 1;
    EXPECT_NONFATAL_FAILURE(
        {
            setrlimit(RLIMIT_NOFILE, &OneMore);
            RunPython("print(1)");
            setrlimit(RLIMIT_NOFILE, &Saved);
        },
        "cannot create temporary files");
    EXPECT_TRUE(std::filesystem::is_empty(Folder.Path));
}

} // namespace
