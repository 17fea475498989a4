// HashFile: digests of real files against Python's hashlib, the slices per
// tick at the 64 KiB edge, and the runs that must end: a missing path, an
// empty path, a file the user may not read (as nobody), a directory (the read
// fails), a file that shrinks while it is hashed, and no algorithm bound.
#include "crypto/digests/hash_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "crypto/digests/md5.h"
#include "crypto/digests/sha256.h"
#include "runtime/posix/platform.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using HashFileTest = RuntimeTest;

struct Calls {
    int Starts = 0;
    int Completes = 0;
    int32 LastResult = -1;
};

int32 OnStart(HashFile *, void *User) {
    static_cast<Calls *>(User)->Starts++;
    return 1;
}

int32 OnComplete(HashFile *, void *User, int32 Result) {
    static_cast<Calls *>(User)->Completes++;
    static_cast<Calls *>(User)->LastResult = Result;
    return 1;
}

std::string WriteRandomFile(const std::string &Path, size_t Size, uint32 Seed) {
    std::string Bytes(Size, '\0');
    std::mt19937 Random(Seed);
    for (char &Byte : Bytes) Byte = (char)Random();
    std::ofstream(Path, std::ios::binary) << Bytes;
    return Bytes;
}

std::string PythonFileDigest(const std::string &Algorithm, const std::string &Path) {
    return RunPython("import hashlib\nprint(hashlib.new('" + Algorithm + "', open('" + Path +
                     "', 'rb').read()).hexdigest(), end='')\n");
}

HashFile *MakeHashFile(const HashInterface *Record, const std::string &Path, Calls &Seen) {
    HashFile *Handle = nullptr;
    HashFile_Create(&Handle);
    HashFile_SetInterface(Handle, Record);
    HashFile_SetPath(Handle, Path.c_str());
    HashFile_SetStartCallback(Handle, &Seen, OnStart);
    HashFile_SetCompleteCallback(Handle, &Seen, OnComplete);
    return Handle;
}

// Drives the run to its end; answers the number of Process calls.
int Drive(HashFile *Handle) {
    int Ticks = 0;
    while (HashFile_IsRunning(Handle) && Ticks < 100000) {
        HashFile_Process(Handle);
        Ticks++;
    }
    return Ticks;
}

TEST_F(HashFileTest, DigestsFilesASliceAtATime) {
    TempDirectory Folder;
    struct Row {
        size_t Size;
        int Ticks;
    };
    const Row Rows[] = {{0, 1}, {1, 1}, {65535, 1}, {65536, 1}, {65537, 2}, {1000000, 16}};
    for (const Row &One : Rows) {
        SCOPED_TRACE(One.Size);
        const std::string Path = Folder / ("file" + std::to_string(One.Size));
        WriteRandomFile(Path, One.Size, (uint32)One.Size);
        Calls Seen;
        HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Path, Seen);
        EXPECT_EQ(HashFile_Start(Handle), 1);
        EXPECT_EQ(Seen.Starts, 1);
        EXPECT_EQ(HashFile_IsRunning(Handle), 1);
        int64 Size = -1, Left = -1, Read = -1;
        HashFile_GetFileSize(Handle, &Size);
        EXPECT_EQ(Size, (int64)One.Size);
        if (One.Size == 65537) {
            EXPECT_EQ(HashFile_Process(Handle), 1);
            HashFile_GetBytesLeft(Handle, &Left);
            EXPECT_EQ(Left, 1) << "the second read asks for one byte";
            EXPECT_EQ(Seen.Completes, 0);
        }
        EXPECT_EQ(Drive(Handle) + (One.Size == 65537 ? 1 : 0), One.Ticks);
        EXPECT_EQ(Seen.Completes, 1);
        EXPECT_EQ(Seen.LastResult, 1);
        HashFile_GetBytesLeft(Handle, &Left);
        HashFile_GetBytesRead(Handle, &Read);
        EXPECT_EQ(Left, 0);
        EXPECT_EQ(Read, (int64)One.Size);
        char Text[65];
        EXPECT_EQ(HashFile_GetString(Handle, 0, Text, sizeof(Text)), 1);
        EXPECT_EQ(Text, PythonFileDigest("sha256", Path));
        EXPECT_EQ(HashFile_Process(Handle), 0) << "not running any more";
        EXPECT_EQ(HashFile_GetLastFileError(Handle), 0);
        HashFile_Delete(&Handle);
    }
}

TEST_F(HashFileTest, StartingARunningHashChangesNothingAndResetAllowsReuse) {
    TempDirectory Folder;
    const std::string Path = Folder / "data";
    WriteRandomFile(Path, 150000, 7);
    Calls Seen;
    HashFile *Handle = MakeHashFile(&MD5_INTERFACE, Path, Seen);
    HashFile_Start(Handle);
    HashFile_Process(Handle);
    EXPECT_EQ(HashFile_Start(Handle), 1);
    EXPECT_EQ(Seen.Starts, 1);
    int64 Read = 0;
    HashFile_GetBytesRead(Handle, &Read);
    EXPECT_EQ(Read, 65536);
    Drive(Handle);
    char First[33], Second[33];
    HashFile_GetString(Handle, 0, First, sizeof(First));
    EXPECT_EQ(First, PythonFileDigest("md5", Path));

    HashFile_Reset(Handle);
    char Kept[16] = "x";
    HashFile_GetPath(Handle, Kept, sizeof(Kept));
    EXPECT_STREQ(Kept, "");
    HashFile_SetPath(Handle, Path.c_str());
    EXPECT_EQ(HashFile_Start(Handle), 1);
    Drive(Handle);
    HashFile_GetString(Handle, 0, Second, sizeof(Second));
    EXPECT_STREQ(First, Second);
    HashFile_Delete(&Handle);
}

TEST_F(HashFileTest, MissingAndEmptyPathsComplete) {
    TempDirectory Folder;
    Calls Seen;
    HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Folder / "absent", Seen);
    EXPECT_EQ(HashFile_Start(Handle), 0);
    EXPECT_EQ(Seen.Completes, 1);
    EXPECT_EQ(Seen.LastResult, 0);
    EXPECT_EQ(Seen.Starts, 0);
    EXPECT_EQ(HashFile_IsRunning(Handle), 0);
    EXPECT_EQ(Platform_ErrorMissing(HashFile_GetLastFileError(Handle)), 1);

    HashFile_SetPath(Handle, "");
    EXPECT_EQ(HashFile_Start(Handle), 1);
    EXPECT_EQ(Seen.Completes, 2);
    EXPECT_EQ(Seen.LastResult, 0);
    EXPECT_EQ(HashFile_GetLastFileError(Handle), 0);
    HashFile_Delete(&Handle);
}

TEST_F(HashFileTest, ADirectoryEndsWithTheReadError) {
    TempDirectory Folder;
    Calls Seen;
    HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Folder.Path, Seen);
    // Only regular files open: a directory ends the run at the start.
    EXPECT_EQ(HashFile_Start(Handle), 0);
    EXPECT_EQ(HashFile_IsRunning(Handle), 0);
    EXPECT_EQ(Seen.Completes, 1);
    EXPECT_EQ(Seen.LastResult, 0);
    EXPECT_EQ(HashFile_GetLastFileError(Handle), PLATFORM_ERROR_ERRNO_BASE + EISDIR);
    HashFile_Delete(&Handle);
}

TEST_F(HashFileTest, AShrinkingFileEndsTheRun) {
    TempDirectory Folder;
    const std::string Path = Folder / "shrinks";
    WriteRandomFile(Path, 300000, 11);
    Calls Seen;
    HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Path, Seen);
    HashFile_Start(Handle);
    EXPECT_EQ(HashFile_Process(Handle), 1);
    ASSERT_EQ(truncate(Path.c_str(), 100000), 0);
    EXPECT_EQ(Drive(Handle), 2) << "one partial slice, then a read of nothing ends it";
    EXPECT_EQ(Seen.Completes, 1);
    EXPECT_EQ(Seen.LastResult, 0);
    int64 Read = 0, Left = 0;
    HashFile_GetBytesRead(Handle, &Read);
    HashFile_GetBytesLeft(Handle, &Left);
    EXPECT_EQ(Read, 100000);
    EXPECT_EQ(Left, 200000);
    EXPECT_EQ(HashFile_GetLastFileError(Handle), 0) << "the end of a file is no error";
    HashFile_Delete(&Handle);
}

TEST_F(HashFileTest, AGrowingFileIsHashedToItsStartSize) {
    TempDirectory Folder;
    const std::string Path = Folder / "grows";
    const std::string Bytes = WriteRandomFile(Path, 100000, 12);
    Calls Seen;
    HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Path, Seen);
    HashFile_Start(Handle);
    std::ofstream(Path, std::ios::binary | std::ios::app) << "more bytes";
    Drive(Handle);
    EXPECT_EQ(Seen.LastResult, 1);
    char Text[65];
    HashFile_GetString(Handle, 0, Text, sizeof(Text));
    char Expected[65];
    Hash_QuickString(&SHA256_INTERFACE, Bytes.data(), (uint32)Bytes.size(), 0, Expected, sizeof(Expected));
    EXPECT_STREQ(Text, Expected);
    HashFile_Delete(&Handle);
}

TEST_F(HashFileTest, WithoutAnAlgorithmTheRunEnds) {
    TempDirectory Folder;
    const std::string Path = Folder / "data";
    WriteRandomFile(Path, 10000, 13);
    Calls Seen;
    HashFile *Handle = MakeHashFile(nullptr, Path, Seen);
    HashFile_Start(Handle);
    EXPECT_EQ(HashFile_Process(Handle), 0);
    EXPECT_EQ(HashFile_IsRunning(Handle), 0);
    EXPECT_EQ(Seen.LastResult, 0);
    HashFile_Delete(&Handle);
}

// As nobody, a file only root may read cannot be opened: the run completes
// with 0 at once (no retries) and keeps the access error.
TEST_F(HashFileTest, AnUnreadableFileCompletesWithTheAccessError) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Folder; // root-owned 0755
    const std::string Path = Folder / "secret";
    WriteRandomFile(Path, 1000, 14);
    ASSERT_EQ(chmod(Path.c_str(), 0600), 0);
    const pid_t Child = fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        Calls Seen;
        HashFile *Handle = MakeHashFile(&SHA256_INTERFACE, Path, Seen);
        const int32 Started = HashFile_Start(Handle);
        const int32 Denied = Platform_ErrorAccessDenied(HashFile_GetLastFileError(Handle));
        const bool Good = Started == 0 && Seen.Completes == 1 && Seen.LastResult == 0 && Denied == 1 &&
                          !HashFile_IsRunning(Handle);
        _exit(Good ? 0 : 1);
    }
    int Status = 0;
    waitpid(Child, &Status, 0);
    ASSERT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 0);
}

} // namespace
