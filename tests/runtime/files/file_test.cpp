// File: open flags and their effects, open retries on the test clock,
// permission failures as an unprivileged user, writes past a size limit,
// 64-bit locks against a Python lockf child, times against the system's
// status, the stream interface and the memory map.
#include "runtime/files/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "runtime/posix/platform.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void WriteAll(const std::string &Path, const std::string &Content) {
    std::ofstream Output(Path, std::ios::binary | std::ios::trunc);
    Output << Content;
}

size_t CountOf(const std::string &Text, const std::string &Piece) {
    size_t Count = 0;
    for (size_t At = Text.find(Piece); At != std::string::npos; At = Text.find(Piece, At + 1)) Count++;
    return Count;
}

class FileTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        File_Create(&Subject);
    }
    void TearDown() override {
        if (Subject != nullptr) {
            File_Close(Subject);
            File_Delete(&Subject);
        }
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
    // The descriptor the File holds on Path, found through /proc (-1: none).
    int DescriptorOn(const std::string &Path) {
        DIR *Directory = opendir("/proc/self/fd");
        int Found = -1;
        while (struct dirent *Entry = readdir(Directory)) {
            char Target[4096];
            std::string Link = std::string("/proc/self/fd/") + Entry->d_name;
            ssize_t Count = readlink(Link.c_str(), Target, sizeof(Target) - 1);
            if (Count > 0 && std::string(Target, (size_t)Count) == Path) Found = atoi(Entry->d_name);
        }
        closedir(Directory);
        return Found;
    }
    TempDirectory Temp;
    File *Subject = nullptr;
};

} // namespace

TEST_F(FileTest, FlagWordsDecideCreationTruncationAndPosition) {
    struct Case {
        const char *Name;
        uint32 Flags;
        bool Exists;       // the file holds "0123456789" before the open
        int32 Opened;
        int64 Position;    // after the open
        int64 Length;      // after the open
        int64 SizeAtOpen;  // File_GetFilesizeBytes
    } Cases[] = {
        {"read missing", FILE_READ, false, 0, 0, 0, 0},
        {"write missing creates", FILE_WRITE, false, 1, 0, 0, 0},
        {"read write missing creates", FILE_READ | FILE_WRITE, false, 1, 0, 0, 0},
        {"read write append missing fails", FILE_READ | FILE_WRITE | FILE_APPEND, false, 0, 0, 0, 0},
        {"write append missing creates", FILE_WRITE | FILE_APPEND, false, 1, 0, 0, 0},
        {"read existing", FILE_READ, true, 1, 0, 10, 10},
        {"write existing keeps content", FILE_WRITE, true, 1, 0, 10, 10},
        {"append goes to the end", FILE_READ | FILE_WRITE | FILE_APPEND, true, 1, 10, 10, 10},
        {"truncate cuts, size at open stays", FILE_WRITE | FILE_TRUNCATE, true, 1, 0, 0, 10},
        {"text mode changes nothing", FILE_READ | FILE_TEXT | FILE_SHAREREAD | FILE_SHAREWRITE, true, 1, 0, 10, 10},
    };
    int Index = 0;
    for (const Case &C : Cases) {
        SCOPED_TRACE(C.Name);
        std::string Path = Temp / ("f" + std::to_string(Index++));
        if (C.Exists) WriteAll(Path, "0123456789");
        ASSERT_EQ(File_Open(Subject, Path.c_str(), C.Flags), C.Opened);
        EXPECT_EQ(File_IsOpen(Subject), C.Opened);
        EXPECT_STREQ(File_GetPathPtr(Subject), Path.c_str());
        if (!C.Opened) {
            EXPECT_EQ(File_GetLastError(Subject), 100000 + ENOENT);
            EXPECT_EQ(access(Path.c_str(), F_OK), -1);
            continue;
        }
        int64 Value = -1;
        EXPECT_EQ(File_Tell(Subject, &Value), 1);
        EXPECT_EQ(Value, C.Position);
        EXPECT_EQ(File_Length(Subject, &Value), 1);
        EXPECT_EQ(Value, C.Length);
        EXPECT_EQ(File_GetFilesizeBytes(Subject, &Value), 1);
        EXPECT_EQ(Value, C.SizeAtOpen);
        // Every descriptor is close-on-exec.
        int Descriptor = DescriptorOn(Path);
        ASSERT_GT(Descriptor, 0);
        EXPECT_TRUE(fcntl(Descriptor, F_GETFD) & FD_CLOEXEC);
        EXPECT_EQ(File_Close(Subject), 1);
        EXPECT_EQ(File_IsOpen(Subject), 0);
    }
}

TEST_F(FileTest, NewFilesAreReadableAndWritableForEveryoneLessTheMask) {
    mode_t Saved = umask(027);
    std::string Path = Temp / "new";
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 1);
    umask(Saved);
    struct stat Status;
    ASSERT_EQ(stat(Path.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0640u);
}

TEST_F(FileTest, MissingFileFailsAtOnceAndQuietlyWhenAsked) {
    Time_TestClockStart(1000);
    std::string Path = Temp / "none";
    EXPECT_EQ(File_Open(Subject, Path.c_str(), FILE_READ | FILE_QUIETMISSING), 0);
    EXPECT_EQ(File_GetLastError(Subject), 100000 + ENOENT);
    EXPECT_EQ(Captured.find("Unable to open file"), std::string::npos) << Captured;
    EXPECT_EQ(File_Open(Subject, Path.c_str(), FILE_READ), 0);
    EXPECT_NE(Captured.find("Unable to open file [" + Path + "][00008000](100002 : 000186A2)"), std::string::npos)
        << Captured;
    EXPECT_EQ(Captured.find("Retrying"), std::string::npos);
    EXPECT_EQ(Time_GetCycleCount(), 1000u); // no wait for a missing file
}

TEST_F(FileTest, AnExistingFileThatCannotBeOpenedIsRetriedOnTheTestClock) {
    // Root too cannot open a directory for writing: 20 attempts, 19 waits.
    Time_TestClockStart(5000);
    std::string Path = Temp.Path;
    EXPECT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 0);
    EXPECT_EQ(File_GetLastError(Subject), 100000 + EISDIR);
    EXPECT_EQ(Time_GetCycleCount(), 5000u + 19 * 1000);
    EXPECT_EQ(CountOf(Captured, "Retrying open file (" + Path + ")"), 19u) << Captured;
    EXPECT_NE(Captured.find("Retrying open file (" + Path + ") (0) [Err: 100021]"), std::string::npos);
    EXPECT_NE(Captured.find("Retrying open file (" + Path + ") (18) [Err: 100021]"), std::string::npos);
    EXPECT_EQ(Captured.find("(19) [Err"), std::string::npos);
    EXPECT_EQ(CountOf(Captured, "Unable to open file [" + Path + "][00008041](100021 : 000186B5)"), 1u);

    Captured.clear();
    File_SetRetries(Subject, 1);
    EXPECT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 0);
    EXPECT_EQ(Time_GetCycleCount(), 5000u + 19 * 1000);
    EXPECT_EQ(Captured.find("Retrying"), std::string::npos);
    File_SetRetries(Subject, 0);
    EXPECT_EQ(File_Open(Subject, (Temp / "x").c_str(), FILE_WRITE), 0);
    EXPECT_EQ(access((Temp / "x").c_str(), F_OK), -1);
}

TEST_F(FileTest, PermissionFailuresAsAnUnprivilegedUser) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755
    std::string Secret = Shared / "secret";
    WriteAll(Secret, "root only");
    ASSERT_EQ(chmod(Secret.c_str(), 0600), 0);
    std::string Output = RunChildTest("FileChild.DISABLED_Open", "FILE_TEST_PATH='" + Secret + "' FILE_TEST_FLAGS=1 " + Nobody);
    EXPECT_NE(Output.find("uid=65534 result=0 error=" + std::to_string(100000 + EACCES) + " waited=2000"),
              std::string::npos)
        << Output;
    EXPECT_EQ(CountOf(Output, "Retrying open file (" + Secret + ")"), 2u) << Output;
    EXPECT_NE(Output.find("Unable to open file [" + Secret + "]"), std::string::npos) << Output;
    // Creating in a directory the user may not write to fails, and makes
    // nothing: neither the file nor missing parents.
    Output = RunChildTest("FileChild.DISABLED_Open", "FILE_TEST_PATH='" + (Shared / "new.txt") + "' FILE_TEST_FLAGS=2 " + Nobody);
    EXPECT_NE(Output.find("result=0 error=" + std::to_string(100000 + EACCES) + " waited=0"), std::string::npos)
        << Output;
    Output = RunChildTest("FileChild.DISABLED_Open",
                          "FILE_TEST_PATH='" + (Shared / "sub/new.txt") + "' FILE_TEST_FLAGS=2 " + Nobody);
    EXPECT_NE(Output.find("Unable to create directory (" + Shared.Path + "/sub) [LE: 100013"), std::string::npos) << Output;
    EXPECT_NE(Output.find("result=0 error=" + std::to_string(100000 + ENOENT)), std::string::npos) << Output;
    EXPECT_EQ(access((Shared / "new.txt").c_str(), F_OK), -1);
    EXPECT_EQ(access((Shared / "sub").c_str(), F_OK), -1);
}

TEST(FileChild, DISABLED_Open) {
    RuntimeScope Runtime;
    Time_TestClockStart(0);
    File *Subject = nullptr;
    File_Create(&Subject);
    File_SetRetries(Subject, 3);
    int32 Result = File_Open(Subject, getenv("FILE_TEST_PATH"), (uint32)atoi(getenv("FILE_TEST_FLAGS")));
    printf("uid=%d result=%d error=%d waited=%llu\n", (int)getuid(), Result, File_GetLastError(Subject),
           (unsigned long long)Time_GetCycleCount());
    File_Close(Subject);
    File_Delete(&Subject);
    Time_TestClockStop();
}

TEST_F(FileTest, WritingOpensMissingParentsOnlyWhenAllowed) {
    std::string Deep = Temp / "a/b/c.txt";
    File_SetAutoCreateDirectories(Subject, 0);
    EXPECT_EQ(File_Open(Subject, Deep.c_str(), FILE_WRITE), 0);
    EXPECT_EQ(access((Temp / "a").c_str(), F_OK), -1);
    File_SetAutoCreateDirectories(Subject, 1);
    ASSERT_EQ(File_Open(Subject, Deep.c_str(), FILE_WRITE), 1);
    struct stat Status;
    EXPECT_EQ(stat((Temp / "a/b").c_str(), &Status), 0);
    EXPECT_TRUE(S_ISDIR(Status.st_mode));
}

TEST_F(FileTest, HomeRelativePathsAndPathsThatDoNotFit) {
    ScopedEnv Home("HOME", Temp.Path.c_str());
    ASSERT_EQ(File_Open(Subject, "~/sub/../in-home.txt", FILE_WRITE), 1);
    EXPECT_STREQ(File_GetPathPtr(Subject), (Temp / "in-home.txt").c_str());
    File_Close(Subject);
    EXPECT_EQ(access((Temp / "in-home.txt").c_str(), F_OK), 0);

    // A 400-byte path whose first 319 bytes name a real file: cutting it would
    // truncate that file.
    std::string Folder = Temp / std::string(150, 'd');
    ASSERT_EQ(mkdir(Folder.c_str(), 0755), 0);
    std::string Prefix = Folder + "/";
    Prefix += std::string(319 - Prefix.size(), 'p');
    WriteAll(Prefix, "keep me");
    ASSERT_EQ(ReadFile(Prefix), "keep me");
    std::string Long = Prefix + std::string(400 - Prefix.size(), 'q');
    EXPECT_EQ(File_Open(Subject, Long.c_str(), FILE_WRITE | FILE_TRUNCATE), 0);
    EXPECT_EQ(File_GetLastError(Subject), 100000 + ENAMETOOLONG);
    EXPECT_EQ(ReadFile(Prefix), "keep me");
}

TEST_F(FileTest, ReadWriteSeekTruncateThroughTheStream) {
    std::string Path = Temp / "data";
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_READ | FILE_WRITE), 1);
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Subject, &Stream);
    ASSERT_EQ(Stream->Handle, Subject);
    EXPECT_EQ(Stream->Peek, nullptr);
    EXPECT_EQ(Stream->ReadAsync, nullptr);

    // 100,000 bytes from a memory stream copied in, then hashed by Python.
    std::string Content;
    for (int i = 0; i < 100000; i++) Content.push_back((char)(i * 7 + i / 251));
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    MemoryStream_SetAutoGrow(Memory, 1);
    uint32 Count = 0;
    MemoryStream_Write(Memory, Content.data(), (uint32)Content.size(), &Count);
    MemoryStream_Seek(Memory, 0, STREAM_SEEK_SET);
    StreamStruct *Source = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Source);
    EXPECT_EQ(Stream_Copy(Stream, Source), 1);
    MemoryStream_Delete(&Memory);
    EXPECT_EQ(Stream_Flush(Stream), 1);
    std::string Hash = RunPython("import hashlib;print(hashlib.sha256(open('" + Path + "','rb').read()).hexdigest())");
    std::string Expected = RunPython("import hashlib,sys;print(hashlib.sha256(bytes.fromhex(sys.stdin.read())).hexdigest())",
                                     ToHex(Content));
    EXPECT_EQ(Hash, Expected);

    char Buffer[16];
    EXPECT_EQ(Stream_Seek(Stream, -10, STREAM_SEEK_END), 1);
    EXPECT_EQ(Stream_Read(Stream, Buffer, sizeof(Buffer), &Count), 1);
    EXPECT_EQ(Count, 10u);
    EXPECT_EQ(std::string(Buffer, 10), Content.substr(99990));
    // At the end: 0, no error, nothing logged.
    Captured.clear();
    EXPECT_EQ(Stream_Read(Stream, Buffer, sizeof(Buffer), &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(File_GetLastError(Subject), 0);
    EXPECT_EQ(Captured, "");

    EXPECT_EQ(File_Seek(Subject, 5, STREAM_SEEK_SET), 1);
    EXPECT_EQ(File_Seek(Subject, 5, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(File_Truncate(Subject), 1);
    int64 Length = 0;
    EXPECT_EQ(File_Length(Subject, &Length), 1);
    EXPECT_EQ(Length, 10);
    EXPECT_EQ(File_TruncateAt(Subject, 3), 1);
    EXPECT_EQ(File_Length(Subject, &Length), 1);
    EXPECT_EQ(Length, 3);
    EXPECT_EQ(File_Seek(Subject, -1, STREAM_SEEK_SET), 0);
    EXPECT_EQ(File_GetLastError(Subject), 100000 + EINVAL);
    EXPECT_NE(Captured.find("Failed to seek [" + Path + "] (0:-1) [Err: 100022]"), std::string::npos) << Captured;
    File_Close(Subject);
    EXPECT_EQ(ReadFile(Path), Content.substr(0, 3));
}

TEST_F(FileTest, OperationsWithoutAnOpenFileSayWhy) {
    char Buffer[4];
    uint32 Count = 7;
    int64 Position = 7;
    EXPECT_EQ(File_Read(Subject, Buffer, 4, &Count), 0);
    EXPECT_EQ(File_Write(Subject, Buffer, 4, &Count), 0);
    EXPECT_EQ(File_Seek(Subject, 0, 0), 0);
    EXPECT_EQ(File_Tell(Subject, &Position), 0);
    EXPECT_EQ(Position, 0);
    EXPECT_EQ(File_Flush(Subject), 0);
    EXPECT_EQ(File_Close(Subject), 1);
    EXPECT_EQ(File_EnableSparseMode(Subject), 0);
    for (const char *Line : {"cannot read [] (4)", "cannot write [] (4)", "cannot seek", "cannot tell", "cannot flush"})
        EXPECT_NE(Captured.find(std::string("No file handle is open - ") + Line), std::string::npos) << Line;
}

TEST_F(FileTest, DeleteClosesAFileLeftOpen) {
    std::string Path = Temp / "left";
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 1);
    File_Delete(&Subject);
    EXPECT_EQ(Subject, nullptr);
    EXPECT_NE(Captured.find("File not properly closed on delete [" + Path + "]"), std::string::npos);
    EXPECT_EQ(DescriptorOn(Path), -1);
}

TEST_F(FileTest, WritesPastASizeLimitReportTheBytesThatLanded) {
    std::string Path = Temp / "limited";
    std::string Output = RunChildTest("FileChild.DISABLED_WriteOverLimit", "FILE_TEST_PATH='" + Path + "'");
    EXPECT_NE(Output.find("result=0 count=4096 error=" + std::to_string(100000 + EFBIG)), std::string::npos) << Output;
    EXPECT_NE(Output.find("Failed to write [" + Path + "] 10000 (100027)"), std::string::npos) << Output;
    std::string Python = RunPython("import os;print(os.stat('" + Path + "').st_size)");
    EXPECT_EQ(Python, "4096\n");
}

TEST(FileChild, DISABLED_WriteOverLimit) {
    RuntimeScope Runtime;
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit Limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &Limit);
    File *Subject = nullptr;
    File_Create(&Subject);
    File_Open(Subject, getenv("FILE_TEST_PATH"), FILE_WRITE);
    std::string Data(10000, 'w');
    uint32 Count = 0;
    int32 Result = File_Write(Subject, Data.data(), (uint32)Data.size(), &Count);
    printf("result=%d count=%u error=%d\n", Result, Count, File_GetLastError(Subject));
    File_Close(Subject);
    File_Delete(&Subject);
}

TEST_F(FileTest, LocksCoverSixtyFourBitRangesAgainstOtherProcesses) {
    std::string Path = Temp / "sparse";
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_READ | FILE_WRITE), 1);
    const int64 FiveGiB = 5ll << 30;
    ASSERT_EQ(File_TruncateAt(Subject, FiveGiB + 4096), 1);
    ASSERT_EQ(File_Seek(Subject, 123, STREAM_SEEK_SET), 1);
    ASSERT_EQ(File_Lock(Subject, 0, FiveGiB), 1);
    int64 Position = 0;
    File_Tell(Subject, &Position);
    EXPECT_EQ(Position, 123); // the position is kept

    // Another descriptor of the same file, closed: the lock stays.
    int Other = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    close(Other);

    const std::string Probe = "import fcntl,os,sys\n"
                              "fd=os.open('" + Path + "',os.O_RDWR)\n"
                              "for at in [int(x) for x in sys.argv[1:]] or [0, 9*2**29, 5*2**30]:\n"
                              "    try:\n"
                              "        fcntl.lockf(fd, fcntl.LOCK_EX|fcntl.LOCK_NB, 1, at)\n"
                              "        print(at,'free');fcntl.lockf(fd, fcntl.LOCK_UN, 1, at)\n"
                              "    except OSError:\n"
                              "        print(at,'locked')\n";
    EXPECT_EQ(RunPython(Probe), "0 locked\n4831838208 locked\n5368709120 free\n");

    // The same range is refused to a second File of this process too, since
    // each open file carries its own locks.
    File *Second = nullptr;
    File_Create(&Second);
    ASSERT_EQ(File_Open(Second, Path.c_str(), FILE_READ | FILE_WRITE), 1);
    EXPECT_EQ(File_Lock(Second, 9ll << 29, (9ll << 29) + 1), 0);
    EXPECT_EQ(File_GetLastError(Second), 100000 + EAGAIN);
    EXPECT_EQ(File_Lock(Second, FiveGiB, FiveGiB + 1), 1);
    File_Close(Second);
    File_Delete(&Second);

    ASSERT_EQ(File_Unlock(Subject, 0, FiveGiB), 1);
    EXPECT_EQ(RunPython(Probe), "0 free\n4831838208 free\n5368709120 free\n");
    EXPECT_EQ(File_Lock(Subject, 10, 10), 0); // an empty range locks nothing
}

TEST_F(FileTest, TimesMatchTheSystemStatus) {
    std::string Path = Temp / "timed";
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 1);
    float64 Time = 0;
    ASSERT_EQ(File_SetModifiedTime(Subject, 1234567890.0), 1);
    ASSERT_EQ(File_GetModifiedTime(Subject, &Time), 1);
    EXPECT_EQ(Time, 1234567890.0);
    EXPECT_EQ(RunPython("import os;print(int(os.stat('" + Path + "').st_mtime))"), "1234567890\n");
    ASSERT_EQ(File_GetCreationTime(Subject, &Time), 1);
    std::string Birth = RunPython("import subprocess;print(subprocess.run(['stat','-c','%W','" + Path +
                                  "'],capture_output=True,text=True).stdout.strip())");
    if (Birth != "0\n") {
        EXPECT_EQ(std::to_string((int64)Time) + "\n", Birth);
    }
    // The birth time cannot be set here; the modification time stays.
    EXPECT_EQ(File_SetCreationTime(Subject, 1000.0), 1);
    ASSERT_EQ(File_GetModifiedTime(Subject, &Time), 1);
    EXPECT_EQ(Time, 1234567890.0);
}

TEST_F(FileTest, SparseModeIsNotSupported) {
    ASSERT_EQ(File_Open(Subject, (Temp / "s").c_str(), FILE_WRITE), 1);
    EXPECT_EQ(File_EnableSparseMode(Subject), 0);
    EXPECT_EQ(File_GetLastError(Subject), 100000 + EOPNOTSUPP);
}

TEST_F(FileTest, MapsTheFileAsOpened) {
    std::string Path = Temp / "mapped";
    WriteAll(Path, "mapped bytes");
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_READ), 1);
    FileMap *Map = nullptr;
    FileMap_Create(&Map);
    void *Address = nullptr;
    uint64 Size = 9;
    EXPECT_EQ(FileMap_GetPointer(Map, &Address, &Size), 0);
    EXPECT_EQ(Size, 0u);
    EXPECT_EQ(FileMap_UnmapViewOfFile(Map), 1);
    ASSERT_EQ(FileMap_MapViewOfFile(Map, Subject), 1);
    EXPECT_EQ(FileMap_IsViewMapped(Map), 1);
    ASSERT_EQ(FileMap_GetPointer(Map, &Address, &Size), 1);
    EXPECT_EQ(std::string(static_cast<char *>(Address), Size), "mapped bytes");
    // The pointer holds the map: releasing the creator's reference keeps it.
    FileMap *Creator = Map;
    FileMap_Release(&Creator);
    EXPECT_EQ(FileMap_IsViewMapped(Map), 1);
    FileMap_ReleasePointer(Map, &Address);
    EXPECT_EQ(Address, nullptr);
    EXPECT_NE(Captured.find("View not properly unmapped on delete"), std::string::npos);

    // An empty file has nothing to map.
    File_Close(Subject);
    WriteAll(Path, "");
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_READ), 1);
    FileMap_Create(&Map);
    EXPECT_EQ(FileMap_MapViewOfFile(Map, Subject), 0);
    FileMap_Delete(&Map);
}

TEST_F(FileTest, ProgrammingErrorsStop) {
    std::string Path = Temp / "f";
    EXPECT_DEATH(File_Open(Subject, Path.c_str(), FILE_READ | FILE_NOBUFFER), "Unbuffered I/O not supported");
    EXPECT_DEATH(File_Open(Subject, Path.c_str(), FILE_TEXT), "Unknown mode \\[4\\]");
    ASSERT_EQ(File_Open(Subject, Path.c_str(), FILE_WRITE), 1);
    EXPECT_DEATH(File_Open(Subject, Path.c_str(), FILE_WRITE), "Previous file \\[.*\\] must be closed");
    EXPECT_DEATH(File_Open(nullptr, Path.c_str(), FILE_WRITE), "Pointer is NULL");
    EXPECT_DEATH(File_Read(Subject, nullptr, 1, nullptr), "Pointer is NULL");
}
