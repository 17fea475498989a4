// Failures of HandOverFile_Write part way: a folder made but not opened, and
// a file cut short. Each leaves nothing behind and names the error of the
// call that failed.
#include "workflow/handover_file.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// The lowest descriptor a new open would get.
rlim_t LowestFreeDescriptor() {
    const int Probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(Probe);
    return (rlim_t)Probe;
}

TEST(HandOverFile, WriteThatFailsPartWayLeavesNothingAndSaysWhy) {
    struct Case {
        const char *Name;
        int Resource;
        rlim_t Limit; // 0: one descriptor more than are open
        int Error;
    };
    const Case Cases[] = {
        // The place opens, the folder made in it does not.
        {"folder not opened", RLIMIT_NOFILE, 0, EMFILE},
        // The first write stops at the limit, the next one fails.
        {"short write", RLIMIT_FSIZE, 10, EFBIG},
    };
    RuntimeScope Runtime;
    const std::string Text(100, 'u');
    sighandler_t Earlier = signal(SIGXFSZ, SIG_IGN);
    for (const Case &Each : Cases) {
        TempDirectory Place;
        ScopedEnv Tmp("TMPDIR", Place.Path.c_str());
        struct rlimit Saved {};
        ASSERT_EQ(getrlimit(Each.Resource, &Saved), 0);
        struct rlimit Lower = Saved;
        Lower.rlim_cur = Each.Limit != 0 ? Each.Limit : LowestFreeDescriptor() + 1;
        HandOverFile *File = nullptr;
        char Reason[512] = "";
        ASSERT_EQ(setrlimit(Each.Resource, &Lower), 0);
        const int32 Result = HandOverFile_Write(Text.c_str(), &File, Reason, (int32)sizeof(Reason));
        ASSERT_EQ(setrlimit(Each.Resource, &Saved), 0);
        EXPECT_EQ(Result, 0) << Each.Name;
        EXPECT_EQ(File, nullptr) << Each.Name;
        EXPECT_NE(strstr(Reason, strerror(Each.Error)), nullptr) << Each.Name << ": " << Reason;
        EXPECT_TRUE(std::filesystem::is_empty(Place.Path)) << Each.Name;
    }
    signal(SIGXFSZ, Earlier);
}

} // namespace
