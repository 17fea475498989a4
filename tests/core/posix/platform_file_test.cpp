// File primitives: opening with creation permissions, status without
// following links, existence, and one-level directory creation.
#include "core/posix/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/system.h"

namespace {

class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t Mask) : Saved(umask(Mask)) {}
    ~ScopedUmask() { umask(Saved); }

  private:
    mode_t Saved;
};

mode_t ModeOf(const std::string &Path) {
    struct stat Status;
    return stat(Path.c_str(), &Status) == 0 ? (Status.st_mode & 07777) : 0xFFFF;
}

} // namespace

TEST(PlatformFile, OpenCreatesWithPermissionsLessTheMask) {
    TempDirectory Temp;
    ScopedUmask Mask(022);
    struct Case {
        int32 Permissions;
        mode_t Expected;
    } Cases[] = {{0x100 | 0x80, 0644}, {0x100, 0444}, {0x100 | 0x80 | 0x40, 0755}, {0, 0}};
    int Index = 0;
    for (const Case &C : Cases) {
        std::string Path = Temp.Path + "/f" + std::to_string(Index++);
        int32 Descriptor = Platform_Open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0, C.Permissions);
        ASSERT_GE(Descriptor, 0);
        // Descriptors never leak into launched programs.
        EXPECT_TRUE(fcntl(Descriptor, F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ(write(Descriptor, "abc", 3), 3);
        EXPECT_EQ(fsync(Descriptor), 0);
        close(Descriptor);
        EXPECT_EQ(ModeOf(Path), C.Expected) << C.Permissions;
    }
    {
        ScopedUmask Open(0);
        std::string Path = Temp.Path + "/open";
        int32 Descriptor = Platform_Open(Path.c_str(), O_WRONLY | O_CREAT, 0, 0x180);
        ASSERT_GE(Descriptor, 0);
        close(Descriptor);
        EXPECT_EQ(ModeOf(Path), 0666u);
    }
}

TEST(PlatformFile, OpenAppendsAndResolvesTheHome) {
    TempDirectory Temp;
    const char *OldHome = getenv("HOME");
    std::string SavedHome = OldHome ? OldHome : "";
    setenv("HOME", Temp.Path.c_str(), 1);
    for (int Round = 0; Round < 2; Round++) {
        int32 Descriptor = Platform_Open("~/sub/../log.txt", O_WRONLY | O_CREAT | O_APPEND, 0, 0x180);
        ASSERT_GE(Descriptor, 0);
        EXPECT_EQ(write(Descriptor, "line\n", 5), 5);
        close(Descriptor);
    }
    if (OldHome) setenv("HOME", SavedHome.c_str(), 1);
    else unsetenv("HOME");
    struct stat Status;
    ASSERT_EQ(stat((Temp.Path + "/log.txt").c_str(), &Status), 0);
    EXPECT_EQ(Status.st_size, 10);

    errno = 0;
    EXPECT_EQ(Platform_Open((Temp.Path + "/missing/x").c_str(), O_RDONLY, 0, 0), -1);
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENOENT);
    std::string Long = Temp.Path + "/" + std::string(1100, 'n');
    EXPECT_EQ(Platform_Open(Long.c_str(), O_WRONLY | O_CREAT, 0, 0x180), -1);
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENAMETOOLONG);
}

TEST(PlatformFile, StatExistsAndCreateDirectory) {
    TempDirectory Temp;
    std::string Link = Temp.Path + "/link";
    ASSERT_EQ(symlink("/nonexistent", Link.c_str()), 0);
    struct stat Status;
    memset(&Status, 0xAB, sizeof(Status));
    EXPECT_EQ(Platform_Stat(Link.c_str(), &Status), 1);
    EXPECT_TRUE(S_ISLNK(Status.st_mode));
    EXPECT_EQ(Platform_FileExists(Link.c_str()), 1);
    memset(&Status, 0xAB, sizeof(Status));
    EXPECT_EQ(Platform_Stat((Temp.Path + "/none").c_str(), &Status), 0);
    EXPECT_EQ(Status.st_size, 0); // zeroed first
    EXPECT_EQ(Platform_FileExists((Temp.Path + "/none").c_str()), 0);

    ScopedUmask Mask(027);
    std::string Directory = Temp.Path + "/dir";
    EXPECT_EQ(Platform_CreateDirectory(Directory.c_str()), 1);
    EXPECT_EQ(ModeOf(Directory), 0750u);
    EXPECT_EQ(Platform_CreateDirectory(Directory.c_str()), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EEXIST);
    EXPECT_EQ(Platform_CreateDirectory((Temp.Path + "/a/b").c_str()), 0); // one level only
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENOENT);
}
