// Path examination and changes: erasing (never through a link), copying and
// moving files and trees (metadata against os.stat, extended attributes and
// content hashes), moves across volumes through /dev/shm, retries on the
// test clock, permission failures as an unprivileged user, and paths that do
// not fit their buffer.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>

#include "runtime/files/path.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void Write(const std::string &Path, const std::string &Data, mode_t Mode = 0644) {
    int Descriptor = open(Path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, Mode);
    ASSERT_GE(Descriptor, 0) << Path;
    ASSERT_EQ(write(Descriptor, Data.data(), Data.size()), (ssize_t)Data.size());
    close(Descriptor);
}

std::string Read(const std::string &Path) {
    std::string Data;
    if (FILE *File = fopen(Path.c_str(), "rb")) {
        char Buffer[4096];
        size_t Count;
        while ((Count = fread(Buffer, 1, sizeof(Buffer), File)) > 0) Data.append(Buffer, Count);
        fclose(File);
    }
    return Data;
}

bool Exists(const std::string &Path) {
    struct stat Status;
    return lstat(Path.c_str(), &Status) == 0;
}

class PathChangeTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    TempDirectory Temp;
};

// Progress callbacks for copies and moves: go on, or stop after the first report.
int32 KeepGoing(void *User, const char *, const char *, int64 Copied, int64 Total) {
    *static_cast<int64 *>(User) = Copied;
    (void)Total;
    return 1;
}
int32 Cancel(void *, const char *, const char *, int64, int64) { return 0; }

} // namespace

TEST_F(PathChangeTest, EraseFile) {
    int32 Error = -1;
    EXPECT_EQ(Path_EraseFile((Temp / "missing").c_str(), 1, &Error), 1);
    EXPECT_EQ(Error, 0);
    Write(Temp / "f", "x", 0444);
    EXPECT_EQ(Path_EraseFile((Temp / "f").c_str(), 0, &Error), 0); // no attempt allowed
    EXPECT_TRUE(Exists(Temp / "f"));
    EXPECT_NE(Captured.find("EraseFile(" + Temp / "f" + ") failed [LE: 0]"), std::string::npos);
    EXPECT_EQ(Path_EraseFile((Temp / "f").c_str(), 1, &Error), 1); // read-only is no obstacle
    EXPECT_FALSE(Exists(Temp / "f"));
    ASSERT_EQ(mkdir((Temp / "d").c_str(), 0755), 0);
    Captured.clear();
    EXPECT_EQ(Path_EraseFile((Temp / "d").c_str(), 1, &Error), 0);
    EXPECT_EQ(Error, 0);
    EXPECT_NE(Captured.find("Unable to erase path that is not a file (" + Temp / "d" + ")"), std::string::npos);
    // A link to a directory is a file here: the link goes, the target stays.
    Write(Temp / "d/keep", "k");
    ASSERT_EQ(symlink((Temp / "d").c_str(), (Temp / "l").c_str()), 0);
    EXPECT_EQ(Path_EraseFile((Temp / "l").c_str(), 1, &Error), 1);
    EXPECT_FALSE(Exists(Temp / "l"));
    EXPECT_EQ(Read(Temp / "d/keep"), "k");
}

TEST_F(PathChangeTest, EraseDirectoryNeverEmptiesALinkedTarget) {
    std::string Outside = Temp / "outside";
    ASSERT_EQ(mkdir(Outside.c_str(), 0755), 0);
    Write(Outside + "/sentinel", "s");
    std::string Tree = Temp / "tree";
    ASSERT_EQ(mkdir(Tree.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((Tree + "/a").c_str(), 0755), 0);
    Write(Tree + "/a/ro", "r", 0400);
    ASSERT_EQ(mkdir((Tree + "/a/b").c_str(), 0755), 0);
    ASSERT_EQ(symlink(Outside.c_str(), (Tree + "/a/b/out").c_str()), 0);
    ASSERT_EQ(chmod((Tree + "/a").c_str(), 0555), 0); // read-only once filled (for any user)
    ASSERT_EQ(symlink((Outside + "/sentinel").c_str(), (Tree + "/file-link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (Tree + "/dangling").c_str()), 0);

    // The root itself a link to a directory: the link is removed, nothing else.
    ASSERT_EQ(symlink(Outside.c_str(), (Temp / "root-link").c_str()), 0);
    int32 Error = -1;
    EXPECT_EQ(Path_EraseDirectory((Temp / "root-link").c_str(), 1, &Error), 1);
    EXPECT_EQ(Error, 0);
    EXPECT_FALSE(Exists(Temp / "root-link"));
    EXPECT_EQ(Read(Outside + "/sentinel"), "s");
    // Also when named with a trailing separator, which would name the target.
    ASSERT_EQ(symlink(Outside.c_str(), (Temp / "root-link").c_str()), 0);
    EXPECT_EQ(Path_EraseDirectory((Temp / "root-link/").c_str(), 1, &Error), 1);
    EXPECT_FALSE(Exists(Temp / "root-link"));
    EXPECT_EQ(Read(Outside + "/sentinel"), "s");

    EXPECT_EQ(Path_EraseDirectory(Tree.c_str(), 2, &Error), 1) << Captured;
    EXPECT_EQ(Error, 0);
    EXPECT_FALSE(Exists(Tree));
    EXPECT_EQ(Read(Outside + "/sentinel"), "s");

    // A missing root: success, with the "missing" error.
    EXPECT_EQ(Path_EraseDirectory(Tree.c_str(), 1, &Error), 1);
    EXPECT_EQ(Error, 100000 + ENOENT);
}

TEST_F(PathChangeTest, RetriesRunOnTheTestClock) {
    // Root may delete anything here; an unprivileged child cannot delete a
    // file in a root-owned directory, and retries without waiting.
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755
    Write(Shared / "stuck", "x", 0666);
    std::string Output = RunChildTest("PathChangeChild.DISABLED_Erase", "PATH_TEST_FILE='" + Shared / "stuck" + "' " + Nobody);
    std::string Path = Shared / "stuck";
    int32 Denied = 100000 + EACCES;
    EXPECT_NE(Output.find("result=0 error=" + std::to_string(Denied) + " waited=2000"), std::string::npos) << Output;
    EXPECT_NE(Output.find("Retrying EraseFile(" + Path + ") [LE: " + std::to_string(Denied) + " Try: 0/3]"),
              std::string::npos)
        << Output;
    EXPECT_NE(Output.find("Retrying EraseFile(" + Path + ") [LE: " + std::to_string(Denied) + " Try: 1/3]"),
              std::string::npos);
    EXPECT_EQ(Output.find("Try: 2/3"), std::string::npos);
    EXPECT_NE(Output.find("EraseFile(" + Path + ") failed [LE: " + std::to_string(Denied) + "]"), std::string::npos);
    EXPECT_TRUE(Exists(Path));
}

TEST(PathChangeChild, DISABLED_Erase) {
    RuntimeScope Runtime(DEBUG_FLAG_EXTERNALPRINT);
    Time_TestClockStart(0);
    int32 Error = 0;
    int32 Result = Path_EraseFile(getenv("PATH_TEST_FILE"), 3, &Error);
    printf("result=%d error=%d waited=%llu\n", Result, Error, (unsigned long long)Time_GetCurrent() * 1000);
    Time_TestClockStop();
}

TEST_F(PathChangeTest, CopyFileCarriesDataAndMetadata) {
    std::string Source = Temp / "source.bin";
    std::string Data;
    for (int Index = 0; Index < 300000; Index++) Data += (char)(Index * 7 % 251);
    Write(Source, Data, 0640);
    ASSERT_EQ(setxattr(Source.c_str(), "user.note", "hello", 5, 0), 0);
    struct timespec Times[2] = {{1500000000, 0}, {1600000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Source.c_str(), Times, 0), 0);

    std::string Target = Temp / "x/y/z.bin";
    int32 Error = -1;
    int64 Copied = 0;
    ASSERT_EQ(Path_CopyFile(Source.c_str(), Target.c_str(), 0, 1, &Error, &Copied, KeepGoing), 1) << Captured;
    EXPECT_EQ(Error, 0);
    EXPECT_EQ(Copied, (int64)Data.size());
    std::string Report = RunPython(R"(
import hashlib, os, sys
for p in sys.argv[1:] if len(sys.argv) > 1 else sys.stdin.read().split():
    s = os.stat(p)
    print(oct(s.st_mode), s.st_size, int(s.st_mtime), os.getxattr(p, 'user.note'), hashlib.sha256(open(p, 'rb').read()).hexdigest())
)",
                                   Source + "\n" + Target + "\n");
    size_t Newline = Report.find('\n');
    ASSERT_NE(Newline, std::string::npos);
    EXPECT_EQ(Report.substr(0, Newline + 1), Report.substr(Newline + 1)) << Report;
    EXPECT_NE(Report.find("0o100640 300000 1600000000 b'hello'"), std::string::npos) << Report;

    // FailIfExists keeps the target; a cancelled copy leaves it as it was.
    Write(Target, "old");
    EXPECT_EQ(Path_CopyFile(Source.c_str(), Target.c_str(), 1, 1, &Error, nullptr, nullptr), 0);
    EXPECT_EQ(Error, 100000 + EEXIST);
    EXPECT_EQ(Path_CopyFile(Source.c_str(), Target.c_str(), 0, 1, &Error, nullptr, Cancel), 0);
    EXPECT_EQ(Read(Target), "old");
    EXPECT_EQ(RunPython("import os,sys\nprint(sorted(os.listdir(sys.stdin.read().strip())))", Temp / "x/y"),
              "['z.bin']\n");
}

TEST_F(PathChangeTest, MovesAcrossVolumesThroughDevShm) {
    TempDirectory Unused; // keeps the naming of this program's directories apart
    char Template[] = "/dev/shm/path_change_test_XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    std::string Shm = Template;
    std::string Source = Temp / "moved.bin", Target = Shm + "/sub/moved.bin";
    std::string Data(1 << 20, 'm');
    Write(Source, Data);

    // Without a progress function the move is a rename, which cannot cross.
    int32 Error = 0;
    EXPECT_EQ(Path_MoveFile(Source.c_str(), Target.c_str(), 0, 1, &Error, nullptr, nullptr), 0);
    EXPECT_EQ(Error, 100000 + EXDEV);
    EXPECT_EQ(Read(Source), Data);

    // Cancelled: the source stays, no partial file, an old target stays whole.
    Write(Target, "old target");
    EXPECT_EQ(Path_MoveFile(Source.c_str(), Target.c_str(), 1, 1, &Error, nullptr, Cancel), 0);
    EXPECT_EQ(Read(Source), Data);
    EXPECT_EQ(Read(Target), "old target");
    EXPECT_EQ(RunPython("import os,sys\nprint(sorted(os.listdir(sys.stdin.read().strip())))", Shm + "/sub"),
              "['moved.bin']\n");

    // Without replacing, an existing target fails the move.
    int64 Copied = 0;
    EXPECT_EQ(Path_MoveFile(Source.c_str(), Target.c_str(), 0, 1, &Error, &Copied, KeepGoing), 0);
    EXPECT_EQ(Read(Target), "old target");
    // Replacing with progress: the data crosses, then the source goes.
    EXPECT_EQ(Path_MoveFile(Source.c_str(), Target.c_str(), 1, 1, &Error, &Copied, KeepGoing), 1) << Captured;
    EXPECT_EQ(Error, 0);
    EXPECT_EQ(Read(Target), Data);
    EXPECT_FALSE(Exists(Source));

    // A rename on one volume replaces the target; a missing source fails.
    Write(Temp / "a", "A");
    Write(Temp / "b", "B");
    EXPECT_EQ(Path_RenameFile((Temp / "a").c_str(), (Temp / "b").c_str(), 1, &Error), 1);
    EXPECT_EQ(Read(Temp / "b"), "A");
    Captured.clear();
    EXPECT_EQ(Path_RenameFile((Temp / "a").c_str(), (Temp / "b").c_str(), 1, &Error), 0);
    EXPECT_EQ(Error, 100000 + ENOENT);
    EXPECT_NE(Captured.find("source does not exist"), std::string::npos);
    system(("rm -rf '" + Shm + "'").c_str());
}

TEST_F(PathChangeTest, CopyDirectoryRecreatesLinksWithoutTouchingTheirTargets) {
    std::string Secret = Temp / "secret";
    Write(Secret, "private", 0600);
    struct timespec Times[2] = {{1400000000, 0}, {1400000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Secret.c_str(), Times, 0), 0);
    std::string Source = Temp / "src", Target = Temp / "dst";
    ASSERT_EQ(mkdir(Source.c_str(), 0750), 0);
    ASSERT_EQ(mkdir((Source + "/sub").c_str(), 0700), 0);
    Write(Source + "/sub/data", "nested", 0604);
    Write(Source + "/top", "top", 0755);
    Write(Source + "/.hidden", "h", 0644);
    ASSERT_EQ(symlink(Secret.c_str(), (Source + "/link").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", (Source + "/sub/dangling").c_str()), 0);

    EXPECT_EQ(Path_CopyDirectory(Source.c_str(), Target.c_str(), 0, 1), 1) << Captured;
    struct stat Status;
    ASSERT_EQ(stat(Secret.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 0600u);
    EXPECT_EQ(Status.st_mtim.tv_sec, 1400000000);
    char Text[MAX_PATH_SIZE] = "";
    EXPECT_GT(readlink((Target + "/link").c_str(), Text, sizeof(Text)), 0);
    EXPECT_EQ(std::string(Text), Secret);
    std::string Compare = R"(
import hashlib, os, sys
src, dst = sys.stdin.read().split()
def facts(root):
    out = []
    for d, dirs, files in os.walk(root):
        for n in sorted(dirs + files):
            p = os.path.join(d, n)
            s = os.lstat(p)
            data = os.readlink(p) if os.path.islink(p) else (open(p, 'rb').read().hex() if os.path.isfile(p) else '')
            out.append((os.path.relpath(p, root), oct(s.st_mode), data))
    return sorted(out)
a, b = facts(src), facts(dst)
print('same' if a == b else repr(a) + '\n' + repr(b))
)";
    EXPECT_EQ(RunPython(Compare, Source + " " + Target), "same\n");

    // Existing targets stay unless overwriting; non-recursive copies take the first level.
    Write(Target + "/top", "changed", 0644);
    EXPECT_EQ(Path_CopyDirectory(Source.c_str(), Target.c_str(), 0, 1), 1);
    EXPECT_EQ(Read(Target + "/top"), "changed");
    EXPECT_EQ(Path_CopyDirectory(Source.c_str(), Target.c_str(), 1, 1), 1) << Captured;
    EXPECT_EQ(Read(Target + "/top"), "top");
    std::string Flat = Temp / "flat";
    EXPECT_EQ(Path_CopyDirectory(Source.c_str(), Flat.c_str(), 0, 0), 1) << Captured;
    EXPECT_TRUE(Exists(Flat + "/top"));
    EXPECT_FALSE(Exists(Flat + "/sub"));

    EXPECT_EQ(Path_MoveDirectory(Target.c_str(), (Temp / "moved").c_str()), 1);
    EXPECT_EQ(Read(Temp / "moved/sub/data"), "nested");
    EXPECT_EQ(Path_MoveDirectory(Target.c_str(), (Temp / "again").c_str()), 0);
}

TEST_F(PathChangeTest, PathsThatDoNotFitTouchNothing) {
    // A 400-byte path whose first 319 bytes name an existing file.
    std::string Directory = Temp.Path + "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(Directory.c_str(), 0755), 0);
    std::string Victim = Directory + "/" + std::string(319 - Directory.size() - 1, 'p');
    ASSERT_EQ(Victim.size(), 319u);
    Write(Victim, "intact", 0640);
    std::string Long = Victim + std::string(81, 'q');
    int32 Error = 0;
    EXPECT_EQ(Path_EraseFile(Long.c_str(), 1, &Error), 0);
    EXPECT_EQ(Error, 100000 + ENAMETOOLONG);
    EXPECT_EQ(Path_SetMode(Long.c_str(), 0777, &Error), 0);
    EXPECT_EQ(Error, 100000 + ENAMETOOLONG);
    EXPECT_EQ(Path_CopyFile((Temp / "missing-source").c_str(), Long.c_str(), 0, 1, &Error, nullptr, nullptr), 0);
    EXPECT_EQ(Error, 100000 + ENAMETOOLONG);
    Write(Temp / "s", "new");
    EXPECT_EQ(Path_CopyFile((Temp / "s").c_str(), Long.c_str(), 0, 1, &Error, nullptr, nullptr), 0);
    EXPECT_EQ(Path_MoveFile((Temp / "s").c_str(), Long.c_str(), 1, 1, &Error, nullptr, nullptr), 0);
    EXPECT_EQ(Error, 100000 + ENAMETOOLONG);
    EXPECT_EQ(Path_EraseDirectory(Long.c_str(), 1, &Error), 0);
    EXPECT_EQ(Path_SetModifiedTime(Long.c_str(), &Error, 1.0), 0);
    EXPECT_EQ(Path_SetAttributes(Long.c_str(), 1, &Error), 0);
    EXPECT_EQ(Path_EnsureWritable(Long.c_str()), 0);
    struct stat Status;
    ASSERT_EQ(stat(Victim.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 07777, 0640u);
    EXPECT_EQ(Read(Victim), "intact");
    EXPECT_EQ(Read(Temp / "s"), "new");
}

TEST_F(PathChangeTest, ExaminationAndMetadata) {
    std::string File = Temp / "f";
    Write(File, "12345", 0444);
    uint64 Size = 0;
    EXPECT_EQ(Path_GetFileSize(File.c_str(), &Size), 1);
    EXPECT_EQ(Size, 5u);
    EXPECT_EQ(Path_GetFileSize((Temp / "none").c_str(), &Size), 0);
    EXPECT_EQ(Size, 0u);

    // Times against os.stat.
    int32 Error = -1;
    EXPECT_EQ(Path_SetModifiedTime(File.c_str(), &Error, 1234567890.0), 1);
    float64 Modified = 0;
    EXPECT_EQ(Path_GetModifiedTime(File.c_str(), &Modified, &Error), 1);
    EXPECT_EQ(Modified, 1234567890.0);
    EXPECT_EQ(RunPython("import os,sys\nprint(int(os.stat(sys.stdin.read().strip()).st_mtime))", File),
              "1234567890\n");
    float64 Created = 0;
    EXPECT_EQ(Path_GetCreationTime(File.c_str(), &Created, &Error), 1);
    EXPECT_GT(Created, 1.7e9);
    Captured.clear();
    EXPECT_EQ(Path_GetModifiedTime((Temp / "none").c_str(), &Modified, &Error), 0);
    EXPECT_EQ(Error, 100000 + ENOENT);
    EXPECT_EQ(Modified, 0.0);
    EXPECT_NE(Captured.find("GetModifiedTime(" + Temp / "none" + ") failed [LE: 100002]"), std::string::npos);

    // Writable again: the owner's write bit comes back.
    uint32 Mode = 0, Attributes = 0;
    EXPECT_EQ(Path_GetAttributes(File.c_str(), &Attributes, &Error), 1);
    EXPECT_TRUE(Attributes & PLATFORM_ATTRIBUTE_READONLY);
    EXPECT_EQ(Path_EnsureWritable(File.c_str()), 1);
    EXPECT_EQ(Path_GetMode(File.c_str(), &Mode, &Error), 1);
    EXPECT_EQ(Mode, 0100644u);
    EXPECT_EQ(Path_SetMode(File.c_str(), 0600, &Error), 1);
    EXPECT_EQ(Path_GetMode(File.c_str(), &Mode, &Error), 1);
    EXPECT_EQ(Mode & 0777, 0600u);

    // A link's mode is never changed (that would change its target).
    ASSERT_EQ(symlink(File.c_str(), (Temp / "l").c_str()), 0);
    EXPECT_EQ(Path_SetMode((Temp / "l").c_str(), 0777, &Error), 0);
    EXPECT_EQ(Path_GetMode(File.c_str(), &Mode, &Error), 1);
    EXPECT_EQ(Mode & 0777, 0600u);
    EXPECT_EQ(Path_IsSymLink((Temp / "l").c_str()), 1);
    EXPECT_EQ(Path_IsSymLink(File.c_str()), 0);

    struct stat A, B;
    ASSERT_EQ(Path_Stat(File.c_str(), &A), 1);
    B = A;
    EXPECT_EQ(Path_HasChanged(&A, &B), 0);
    B.st_size++;
    EXPECT_EQ(Path_HasChanged(&A, &B), 1);
    Path_ResetChanged(&B);
    EXPECT_EQ(B.st_ino, 0u);

    EXPECT_EQ(Path_IsDirectoryEmpty(Temp.Path.c_str()), 0);
    ASSERT_EQ(mkdir((Temp / "empty").c_str(), 0755), 0);
    EXPECT_EQ(Path_IsDirectoryEmpty((Temp / "empty").c_str()), 1);
    EXPECT_EQ(Path_IsDirectoryEmpty((Temp / "missing").c_str()), 1);
}

TEST_F(PathChangeTest, FollowingLinks) {
    Write(Temp / "end", "e");
    ASSERT_EQ(mkdir((Temp / "d").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../end", (Temp / "d/rel").c_str()), 0);
    ASSERT_EQ(symlink((Temp / "d/rel").c_str(), (Temp / "abs").c_str()), 0);
    char Out[MAX_PATH_SIZE];
    EXPECT_EQ(Path_FollowLink((Temp / "abs").c_str(), Out, sizeof(Out)), 1);
    EXPECT_EQ(std::string(Out), Temp / "end");
    EXPECT_EQ(Path_ReadLink((Temp / "abs").c_str(), Out, sizeof(Out)), 1);
    EXPECT_EQ(std::string(Out), Temp / "d/rel");
    EXPECT_EQ(Path_FollowLink((Temp / "end").c_str(), Out, sizeof(Out)), 1);
    EXPECT_EQ(std::string(Out), Temp / "end");
    // A loop ends after 25 links with nothing.
    ASSERT_EQ(symlink("loop2", (Temp / "loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (Temp / "loop2").c_str()), 0);
    EXPECT_EQ(Path_FollowLink((Temp / "loop1").c_str(), Out, sizeof(Out)), 0);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(Path_ReadLink((Temp / "abs").c_str(), Out, 1), 0);

    // A link and its parents are made; the target is kept as given.
    EXPECT_EQ(Path_CreateSymLink((Temp / "p/q/link").c_str(), "../../end", 0), 1);
    EXPECT_EQ(Read(Temp / "p/q/link"), "e");
}

TEST(PathChangeDeathTest, CopyArgumentChecksStop) {
    EXPECT_DEATH(Path_CopyFile("/a", "/b", 2, 1, nullptr, nullptr, nullptr),
                 "Assertion failed .*\nVariable 'FailIfExists' is not boolean");
    EXPECT_DEATH(Path_CopyFile("/a", "/b", 0, 0, nullptr, nullptr, nullptr),
                 "Number of attempts must be at least 1");
}
