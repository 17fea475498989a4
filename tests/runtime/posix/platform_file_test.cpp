// File primitives: opening with creation permissions, status without
// following links, existence, access tests (also as an unprivileged user),
// links, attribute bits, times and owners (never through a link), the
// immutable flag, directories and free space against Python's os module.
#include "runtime/posix/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
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
    {
        ScopedEnv Home("HOME", Temp.Path.c_str());
        for (int Round = 0; Round < 2; Round++) {
            int32 Descriptor = Platform_Open("~/sub/../log.txt", O_WRONLY | O_CREAT | O_APPEND, 0, 0x180);
            ASSERT_GE(Descriptor, 0);
            EXPECT_EQ(write(Descriptor, "line\n", 5), 5);
            close(Descriptor);
        }
    }
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

// What is no regular file is refused at once, whatever the mode: a FIFO
// without a writer (or a reader) never holds the open. An alarm bounds an
// open that would block.
TEST(PlatformFile, OnlyRegularFilesOpen) {
    TempDirectory Temp;
    const std::string Fifo = Temp.Path + "/fifo", Plain = Temp.Path + "/plain";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    struct Row {
        std::string Path;
        int Flags;
        int Error;
    };
    alarm(30);
    for (const Row &Case : {Row{Fifo, O_RDONLY, EINVAL}, Row{Fifo, O_RDWR, EINVAL}, Row{Fifo, O_WRONLY, EINVAL},
                            Row{"/dev/zero", O_RDONLY, EINVAL}, Row{Temp.Path, O_RDONLY, EISDIR}}) {
        EXPECT_EQ(Platform_Open(Case.Path.c_str(), Case.Flags, 0, 0), -1) << Case.Path << " " << Case.Flags;
        EXPECT_EQ(Platform_GetLastError(), 100000 + Case.Error) << Case.Path << " " << Case.Flags;
    }
    alarm(0);
    // A regular file's descriptor blocks as the caller asked.
    int32 Descriptor = Platform_Open(Plain.c_str(), O_RDWR | O_CREAT, 0, 0x180);
    ASSERT_GE(Descriptor, 0);
    EXPECT_EQ(fcntl(Descriptor, F_GETFL) & O_NONBLOCK, 0);
    close(Descriptor);
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

namespace {

void Touch(const std::string &Path, const char *Text = "x") {
    FILE *Output = fopen(Path.c_str(), "w");
    fputs(Text, Output);
    fclose(Output);
}

class PlatformFileTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    TempDirectory Temp;
};

} // namespace

TEST_F(PlatformFileTest, AccessTestsAndTheNearestExistingDirectory) {
    Touch(Temp / "file");
    struct Case {
        std::string Path;
        int32 Access, Nearest, Expected;
    } Cases[] = {
        {Temp / "file", 0, 0, 1},
        {Temp / "file", 1 | 2, 0, 1},
        {Temp / "none", 0, 0, 0},
        {Temp / "none/deeper/still", 2, 1, 1}, // tested at Temp
        {Temp / "file/below", 2, 1, 1},        // a file is no directory: cut to Temp
        {"relative-none", 0, 1, 0},            // nothing remains
    };
    for (const Case &C : Cases) EXPECT_EQ(Platform_Access(C.Path.c_str(), C.Access, C.Nearest), C.Expected) << C.Path;

    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755
    Touch(Shared / "file");
    ASSERT_EQ(chmod((Shared / "file").c_str(), 0644), 0);
    std::string Output = RunChildTest("PlatformFileChild.DISABLED_Access", "PLATFORM_TEST_DIR='" + Shared.Path + "' " + Nobody);
    // Readable, not writable; the folder neither takes new files.
    EXPECT_NE(Output.find("read=1 write=0 nearest=0 error=100013"), std::string::npos) << Output;
}

TEST(PlatformFileChild, DISABLED_Access) {
    std::string Directory = getenv("PLATFORM_TEST_DIR");
    int32 Read = Platform_Access((Directory + "/file").c_str(), 1, 0);
    int32 Write = Platform_Access((Directory + "/file").c_str(), 2, 0);
    int32 Nearest = Platform_Access((Directory + "/new/file").c_str(), 2, 1);
    printf("read=%d write=%d nearest=%d error=%d\n", Read, Write, Nearest, Platform_GetLastError());
}

TEST_F(PlatformFileTest, LinksAreMadeWithTheirParentsAndReadBackCut) {
    std::string Link = Temp / "made/for/link/";
    ASSERT_EQ(Platform_CreateSymLink(Link.c_str(), "../target-text", 0), 1);
    char Buffer[64];
    ASSERT_EQ(Platform_GetSymLink((Temp / "made/for/link").c_str(), Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "../target-text");
    EXPECT_EQ(RunPython("import os;print(os.readlink('" + Temp.Path + "/made/for/link'))"), "../target-text\n");
    ASSERT_EQ(Platform_GetSymLink((Temp / "made/for/link").c_str(), Buffer, 2), 1);
    EXPECT_STREQ(Buffer, ".");
    EXPECT_EQ(Platform_CreateSymLink((Temp / "made/for/link").c_str(), "other", 0), 0);
    EXPECT_NE(Captured.find("Unable to create symbolic link [" + Temp.Path + "/made/for/link][17]"), std::string::npos);
    EXPECT_EQ(Platform_GetSymLink((Temp / "made").c_str(), Buffer, sizeof(Buffer)), 0);
    EXPECT_NE(Captured.find("Unable to read symbolic link [" + Temp.Path + "/made][22]"), std::string::npos);
    Touch(Temp / "plain");
    EXPECT_EQ(Platform_CreateSymLink((Temp / "plain/link").c_str(), "x", 0), 0);
    EXPECT_NE(Captured.find("Unable to create symlink parent directory [" + Temp.Path + "/plain/link (100017)]"),
              std::string::npos)
        << Captured;
    EXPECT_DEATH(Platform_GetSymLink((Temp / "made/for/link").c_str(), Buffer, 1), "MaxTarget > 1");
}

TEST_F(PlatformFileTest, AttributeBitsReadAndOnlyAdded) {
    Touch(Temp / "plain");
    Touch(Temp / ".hidden");
    ASSERT_EQ(chmod((Temp / "plain").c_str(), 0644), 0);
    ASSERT_EQ(symlink("plain", (Temp / "link").c_str()), 0);
    ASSERT_EQ(mkdir((Temp / "dir").c_str(), 0755), 0);
    struct Case {
        std::string Name;
        uint32 Expected;
    } Cases[] = {{"plain", 0}, {".hidden", 0x2}, {"link", 0x20}, {"dir", 0x10 | 0x8}, {".missing", 0x2}, {"missing", 0}};
    for (const Case &C : Cases) {
        uint32 Attributes = 0xFFFF;
        EXPECT_EQ(Platform_GetFileAttributes(nullptr, (Temp / C.Name).c_str(), &Attributes), 1);
        EXPECT_EQ(Attributes, C.Expected) << C.Name;
    }
    // Hidden on a name without a dot: refused, and nothing else applied.
    EXPECT_EQ(Platform_SetFileAttributes(nullptr, (Temp / "plain").c_str(), 0x2 | 0x1), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EACCES);
    EXPECT_NE(Captured.find("Hidden attribute not applied (file does not begin with dot) [" + Temp.Path + "/plain]"),
              std::string::npos);
    EXPECT_EQ(ModeOf(Temp / "plain"), 0644u);
    EXPECT_EQ(Platform_SetFileAttributes(nullptr, (Temp / "plain").c_str(), 0x8), 1);
    EXPECT_EQ(ModeOf(Temp / "plain"), 0755u);
    EXPECT_EQ(Platform_SetFileAttributes(nullptr, (Temp / "plain").c_str(), 0x1), 1);
    EXPECT_EQ(ModeOf(Temp / "plain"), 0555u);
    uint32 Attributes = 0;
    Platform_GetFileAttributes(nullptr, (Temp / "plain").c_str(), &Attributes);
    EXPECT_EQ(Attributes, 0x1u | 0x8u);
    // Through a link nothing changes the target.
    ASSERT_EQ(chmod((Temp / ".hidden").c_str(), 0600), 0);
    ASSERT_EQ(symlink(".hidden", (Temp / ".link").c_str()), 0);
    EXPECT_EQ(Platform_SetFileAttributes(nullptr, (Temp / ".link").c_str(), 0x2 | 0x8 | 0x1), 1);
    EXPECT_EQ(ModeOf(Temp / ".hidden"), 0600u);
}

TEST_F(PlatformFileTest, ModeGroupAndTimeChangesNeverGoThroughALink) {
    std::string Outside = Temp / "outside";
    Touch(Outside);
    ASSERT_EQ(chmod(Outside.c_str(), 0600), 0);
    struct timespec Old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Outside.c_str(), Old, 0), 0);
    std::string Link = Temp / "link";
    ASSERT_EQ(symlink(Outside.c_str(), Link.c_str()), 0);

    EXPECT_EQ(Platform_ChangeMode(nullptr, Link.c_str(), 0777), 0);
    EXPECT_EQ(Platform_SetFileGroup(Link.c_str(), "Everyone"), 0);
    EXPECT_EQ(Platform_SetFileGroup(Link.c_str(), "users-and-more"), 0); // no such user or group
    struct tm Time;
    float64 Encoded = 1500000000;
    Time_ConvertEncodedToTm(&Time, Encoded);
    EXPECT_EQ(Platform_SetFileTime(Link.c_str(), 0, nullptr, &Time, &Time, &Time), 1);
    // The link's own times changed, the target's did not.
    EXPECT_EQ(RunPython("import os;s=os.stat('" + Outside + "');l=os.lstat('" + Link +
                        "');print(oct(s.st_mode&0o777),int(s.st_mtime),int(s.st_atime),int(l.st_mtime),int(l.st_atime))"),
              "0o600 1000000000 1000000000 1500000000 1500000000\n");

    // On the file itself: modes, owner and group, times with their fraction.
    EXPECT_EQ(Platform_ChangeMode(nullptr, Outside.c_str(), 0640), 1);
    EXPECT_EQ(ModeOf(Outside), 0640u);
    EXPECT_EQ(Platform_SetFileGroup(Outside.c_str(), "users"), 1);
    EXPECT_EQ(ModeOf(Outside), 0775u);
    EXPECT_EQ(Platform_SetFileGroup(Outside.c_str(), "EVERYONE"), 1);
    EXPECT_EQ(ModeOf(Outside), 0777u);
    if (getuid() == 0) {
        EXPECT_EQ(Platform_SetFileGroup(Outside.c_str(), "nobody"), 1);
        EXPECT_EQ(Platform_SetFileGroup(Outside.c_str(), "nogroup"), 1);
        EXPECT_EQ(RunPython("import os;s=os.stat('" + Outside + "');print(s.st_uid,s.st_gid)"), "65534 65534\n");
    }
    struct tm Access, Modified, Creation;
    Time_ConvertEncodedToTm(&Access, 1600000000);
    Time_ConvertEncodedToTm(&Modified, 1700000000);
    EXPECT_EQ(Platform_SetFileTime(Outside.c_str(), 0, nullptr, nullptr, &Access, nullptr), 1);
    EXPECT_EQ(Platform_SetFileTime(Outside.c_str(), 0, nullptr, nullptr, nullptr, &Modified), 1);
    EXPECT_EQ(RunPython("import os;s=os.stat('" + Outside + "');print(int(s.st_atime),int(s.st_mtime))"),
              "1600000000 1700000000\n");
    memset(&Access, 0, sizeof(Access));
    ASSERT_EQ(Platform_GetFileTime(Outside.c_str(), 0, nullptr, &Creation, &Access, &Modified), 1);
    float64 Value = 0;
    Time_ConvertTmToEncoded(&Access, &Value);
    EXPECT_EQ(Value, 1600000000);
    Time_ConvertTmToEncoded(&Modified, &Value);
    EXPECT_EQ(Value, 1700000000);
    EXPECT_EQ(Platform_GetFileTime((Temp / "none").c_str(), 0, nullptr, nullptr, nullptr, &Modified), 0);
}

TEST_F(PlatformFileTest, TheImmutableFlagIsClearedWhenSet) {
    std::string Path = Temp / "frozen";
    Touch(Path);
    EXPECT_EQ(Platform_EnsurePathMutable(Path.c_str()), 1); // nothing to clear
    EXPECT_EQ(Platform_EnsurePathMutable((Temp / "none").c_str()), 0);
    SKIP_UNLESS(HaveCommand("chattr"), "chattr (e2fsprogs) is not installed");
    SKIP_UNLESS_RUN(RunAsRoot(), "setting the immutable flag needs root");
    SKIP_UNLESS_RUN(system(("chattr +i '" + Path + "' 2>/dev/null").c_str()) == 0,
                    "the file system cannot set the immutable flag");
    uint32 Attributes = 0;
    Platform_GetFileAttributes(nullptr, Path.c_str(), &Attributes);
    EXPECT_EQ(Attributes & 0x1, 0x1u); // read-only while immutable
    EXPECT_NE(unlink(Path.c_str()), 0);
    EXPECT_EQ(Platform_EnsurePathMutable(Path.c_str()), 1);
    EXPECT_EQ(CommandOutput("lsattr -d '" + Path + "'").substr(0, 20).find('i'), std::string::npos);
    EXPECT_EQ(Platform_DeleteFile(nullptr, Path.c_str()), 1);
}

TEST_F(PlatformFileTest, DeletingALinkToADirectoryKeepsTheDirectory) {
    ASSERT_EQ(mkdir((Temp / "dir").c_str(), 0755), 0);
    Touch(Temp / "dir/sentinel");
    ASSERT_EQ(symlink((Temp / "dir").c_str(), (Temp / "link").c_str()), 0);
    EXPECT_EQ(Platform_DeleteFile(nullptr, (Temp / "link").c_str()), 1);
    EXPECT_EQ(access((Temp / "dir/sentinel").c_str(), F_OK), 0);
    EXPECT_EQ(Platform_DeleteFile(nullptr, (Temp / "dir").c_str()), 0); // never a directory
    EXPECT_EQ(Platform_RemoveDirectory((Temp / "dir").c_str()), 0);     // not empty
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENOTEMPTY);
    EXPECT_EQ(Platform_DeleteFileOnReboot((Temp / "dir/sentinel").c_str()), 1);
    EXPECT_EQ(Platform_RemoveDirectory((Temp / "dir").c_str()), 1);
    EXPECT_EQ(access((Temp / "dir").c_str(), F_OK), -1);
}

TEST_F(PlatformFileTest, FreeSpaceIsWhatStatvfsReports) {
    for (const std::string &Directory : {std::string("/tmp/"), std::string("/dev/shm/"), Temp.Path + "/"}) {
        EXPECT_TRUE(FreeSpaceMatchesStatvfs(Directory, [&] {
            uint64 Bytes = 0;
            EXPECT_EQ(Platform_GetFreeDiskSpace(Directory.c_str(), &Bytes), 1) << Directory;
            return (uint64_t)Bytes;
        })) << Directory;
    }
    uint64 Bytes = 7;
    EXPECT_EQ(Platform_GetFreeDiskSpace("/tmp", &Bytes), 0);
    EXPECT_EQ(Bytes, 0u);
    EXPECT_NE(Captured.find("Path is invalid (/tmp)"), std::string::npos);
}

TEST_F(PlatformFileTest, PathsThatDoNotFitTouchNothing) {
    // 1,100 bytes in folders of 100: each primitive refuses before acting.
    std::string Long = Temp.Path;
    while (Long.size() < 1100) Long += "/" + std::string(100, 'd');
    struct stat Status;
    for (int32 Result : {Platform_CreateDirectory(Long.c_str()), Platform_DeleteFile(nullptr, Long.c_str()),
                         Platform_Stat(Long.c_str(), &Status), Platform_Access(Long.c_str(), 0, 1),
                         Platform_SetFileAttributes(nullptr, Long.c_str(), 1), Platform_RemoveDirectory(Long.c_str()),
                         Platform_SetFileGroup(Long.c_str(), "Everyone")}) {
        EXPECT_EQ(Result, 0);
        EXPECT_EQ(Platform_GetLastError(), 100000 + ENAMETOOLONG);
    }
}
