// AsyncFile: concurrent random-offset reads and writes against files written
// and checked by Python, appending, short reads, close and module stop
// waiting for outstanding work, release while requests run, open rules and
// retries on the test clock, metering, and the fatal stops.
#include "platform/async_file.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/io_worker.h"
#include "runtime/posix/platform.h"
#include "runtime/streams/meter.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// Counts completions and wakes a waiter when all expected have arrived.
struct Completions {
    std::mutex Lock;
    std::condition_variable Done;
    int Count = 0;
    int Failures = 0;
    void Add(bool Good) {
        std::lock_guard Guard(Lock);
        Count++;
        if (!Good) Failures++;
        Done.notify_all();
    }
    void WaitFor(int Expected) {
        std::unique_lock Guard(Lock);
        Done.wait(Guard, [&] { return Count >= Expected; });
    }
};

struct Slice {
    Completions *Sink;
    std::vector<char> Buffer;
    int64 Offset;
    uint32 BytesDone = 0;
    int32 Error = -1;
};

int32 Record(AsyncFile *, void *User, int64 Offset, void *Buffer, uint32 BytesDone, int32 Error) {
    auto *Work = static_cast<Slice *>(User);
    Work->BytesDone = BytesDone;
    Work->Error = Error;
    Work->Sink->Add(Offset == Work->Offset && Buffer == Work->Buffer.data());
    return 1;
}

class AsyncFileTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Meter_Init();
        AsyncFile_Init();
        AsyncFile_Create(&Subject);
    }
    void TearDown() override {
        if (Subject != nullptr) AsyncFile_Release(&Subject);
        EXPECT_EQ(AsyncFile_Remove(), 1);
        Meter_Remove();
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
    // Issues one request and waits for it.
    Slice Run(bool Write, int64 Offset, std::vector<char> Buffer) {
        Completions Sink;
        Slice Work{&Sink, std::move(Buffer), Offset};
        if (Write) AsyncFile_Write(Subject, Offset, Work.Buffer.data(), (uint32)Work.Buffer.size(), &Work, Record);
        else AsyncFile_Read(Subject, Offset, Work.Buffer.data(), (uint32)Work.Buffer.size(), &Work, Record);
        Sink.WaitFor(1);
        return Work;
    }
    TempDirectory Temp;
    AsyncFile *Subject = nullptr;
};

TEST_F(AsyncFileTest, ConcurrentRandomReadsEqualSlicesOfAPythonWrittenFile) {
    const std::string Path = Temp / "data.bin";
    RunPython("import random\nopen('" + Path + "','wb').write(random.Random(7).randbytes(16 << 20))\n");
    const std::string Expected = ReadFile(Path);
    ASSERT_EQ(Expected.size(), 16u << 20);
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ), 1);

    std::mt19937_64 Random(11);
    Completions Sink;
    std::vector<Slice> Reads;
    Reads.reserve(1000);
    for (int Index = 0; Index < 1000; Index++) {
        const uint32 Length = 1 + (uint32)(Random() % 65536);
        const int64 Offset = (int64)(Random() % (Expected.size() + 1000)); // some past the end
        Reads.push_back(Slice{&Sink, std::vector<char>(Length), Offset});
    }
    for (Slice &Work : Reads)
        AsyncFile_Read(Subject, Work.Offset, Work.Buffer.data(), (uint32)Work.Buffer.size(), &Work, Record);
    Sink.WaitFor(1000);
    EXPECT_EQ(Sink.Failures, 0);
    int64 Total = 0;
    for (Slice &Work : Reads) {
        const size_t Start = std::min((size_t)Work.Offset, Expected.size());
        const std::string Want = Expected.substr(Start, Work.Buffer.size());
        ASSERT_EQ(Work.Error, 0);
        ASSERT_EQ(Work.BytesDone, Want.size());
        ASSERT_EQ(std::string(Work.Buffer.data(), Work.BytesDone), Want) << Work.Offset;
        Total += Work.BytesDone;
    }
    int64 Read = 0, Written = 0;
    AsyncFile_GetOverallUsage(Subject, &Read, &Written);
    EXPECT_EQ(Read, Total);
    EXPECT_EQ(Written, 0);
    EXPECT_FALSE(AsyncFile_HasPendingReads(Subject));
    EXPECT_EQ(AsyncFile_Close(Subject), 1);
}

TEST_F(AsyncFileTest, ConcurrentRandomWritesMatchAModelHashedByPython) {
    const std::string Path = Temp / "sub/written.bin";
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ | FILE_WRITE), 1); // parents made
    std::string Model(4 << 20, '\0');
    std::mt19937_64 Random(5);
    // Non-overlapping blocks, so the model does not depend on the order.
    std::vector<int> Blocks(1024);
    for (int Index = 0; Index < 1024; Index++) Blocks[Index] = Index;
    std::shuffle(Blocks.begin(), Blocks.end(), Random);
    Completions Sink;
    std::vector<Slice> Writes;
    Writes.reserve(600);
    for (int Index = 0; Index < 600; Index++) {
        const int64 Offset = (int64)Blocks[Index] * 4096;
        std::vector<char> Data(4096);
        for (char &Byte : Data) Byte = (char)Random();
        Model.replace((size_t)Offset, Data.size(), Data.data(), Data.size());
        Writes.push_back(Slice{&Sink, std::move(Data), Offset});
    }
    // The file ends where the highest block ends; holes read as zeros.
    int MaxBlock = 0;
    for (int Index = 0; Index < 600; Index++) MaxBlock = std::max(MaxBlock, Blocks[Index]);
    Model.resize((size_t)(MaxBlock + 1) * 4096);
    for (Slice &Work : Writes)
        AsyncFile_Write(Subject, Work.Offset, Work.Buffer.data(), (uint32)Work.Buffer.size(), &Work, Record);
    EXPECT_EQ(AsyncFile_Close(Subject), 1); // waits for every write
    EXPECT_EQ(Sink.Count, 600);
    for (Slice &Work : Writes) ASSERT_EQ(Work.BytesDone, 4096u);
    int64 Read = 0, Written = 0;
    AsyncFile_GetOverallUsage(Subject, &Read, &Written);
    EXPECT_EQ(Written, 600 * 4096);

    std::string Digest = RunPython("import hashlib\nprint(hashlib.sha256(open('" + Path + "','rb').read()).hexdigest())\n");
    std::string Model64 = RunPython("import hashlib,sys\nprint(hashlib.sha256(bytes.fromhex(sys.stdin.read())).hexdigest())\n",
                                    ToHex(Model));
    EXPECT_EQ(Digest, Model64);
}

TEST_F(AsyncFileTest, AppendedWritesLandAtTheEndAndKeepTheStart) {
    const std::string Path = Temp / "log.txt";
    std::ofstream(Path) << "first line\n";
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ | FILE_WRITE | FILE_APPEND), 1);
    int64 End = 0;
    ASSERT_EQ(AsyncFile_Tell(Subject, &End), 1);
    EXPECT_EQ(End, 11);
    std::string Line = "second line\n";
    EXPECT_EQ(Run(true, End, std::vector<char>(Line.begin(), Line.end())).BytesDone, Line.size());
    Slice Head = Run(false, 0, std::vector<char>(5));
    EXPECT_EQ(std::string(Head.Buffer.data(), Head.BytesDone), "first");
    AsyncFile_Close(Subject);
    EXPECT_EQ(RunPython("print(open('" + Path + "').read(), end='')"), "first line\nsecond line\n");

    // Write-only empties an existing file, unless appending.
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_WRITE | FILE_APPEND), 1);
    AsyncFile_Close(Subject);
    EXPECT_EQ(ReadFile(Path).size(), 23u);
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_WRITE), 1);
    AsyncFile_Close(Subject);
    EXPECT_EQ(ReadFile(Path), "");
}

TEST_F(AsyncFileTest, ReadsPastTheEndCompleteShortWithoutError) {
    const std::string Path = Temp / "ten";
    std::ofstream(Path) << "0123456789";
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ), 1);
    const struct {
        int64 Offset;
        uint32 Length;
        uint32 Done;
    } Cases[] = {{0, 100, 10}, {5, 100, 5}, {10, 4, 0}, {1000, 4, 0}, {0, 0, 0}};
    for (const auto &Case : Cases) {
        Slice Work = Run(false, Case.Offset, std::vector<char>(Case.Length));
        EXPECT_EQ(Work.BytesDone, Case.Done) << Case.Offset;
        EXPECT_EQ(Work.Error, 0);
    }
    // A read on a write-only file reports the system's error.
    AsyncFile_Close(Subject);
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "wo").c_str(), FILE_WRITE), 1);
    EXPECT_EQ(Run(false, 0, std::vector<char>(4)).Error, EBADF);
    EXPECT_EQ(Run(true, -1, std::vector<char>(4)).Error, EINVAL);
}

struct Gate {
    std::promise<void> Entered;
    std::shared_future<void> Open;
    std::atomic<int> Finished{0};
};

int32 HoldUntilOpen(AsyncFile *, void *User, int64, void *, uint32, int32) {
    auto *Hold = static_cast<Gate *>(User);
    if (Hold->Finished.load() == 0) Hold->Entered.set_value();
    Hold->Open.wait();
    Hold->Finished++;
    return 1;
}

TEST_F(AsyncFileTest, CloseReturnsOnlyAfterPendingCallbacksRan) {
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "w").c_str(), FILE_READ | FILE_WRITE), 1);
    std::promise<void> Release;
    Gate Hold;
    Hold.Open = Release.get_future().share();
    static const char Data[] = "abcd";
    AsyncFile_Write(Subject, 0, Data, 4, &Hold, HoldUntilOpen);
    Hold.Entered.get_future().wait();
    EXPECT_TRUE(AsyncFile_HasPendingWrites(Subject));
    auto Closed = std::async(std::launch::async, [this] { return AsyncFile_Close(Subject); });
    EXPECT_EQ(Closed.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    Release.set_value();
    EXPECT_EQ(Closed.get(), 1);
    EXPECT_EQ(Hold.Finished.load(), 1);
    EXPECT_FALSE(AsyncFile_IsOpen(Subject));
}

int32 CloseFromCallback(AsyncFile *File, void *User, int64, void *, uint32, int32) {
    EXPECT_EQ(AsyncFile_Close(File), 1);
    static_cast<std::promise<void> *>(User)->set_value();
    return 1;
}

TEST_F(AsyncFileTest, ACallbackMayCloseItsOwnFile) {
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "c").c_str(), FILE_READ | FILE_WRITE), 1);
    std::promise<void> Done;
    static const char Data[] = "x";
    AsyncFile_Write(Subject, 0, Data, 1, &Done, CloseFromCallback);
    Done.get_future().wait();
    EXPECT_FALSE(AsyncFile_IsOpen(Subject));
}

TEST_F(AsyncFileTest, ReleasedWhileRequestsRunTheFileLivesUntilTheLastCompletion) {
    const std::string Path = Temp / "r";
    std::ofstream(Path) << std::string(1 << 20, 'q');
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ), 1);
    Completions Sink;
    std::vector<Slice> Reads;
    for (int Index = 0; Index < 64; Index++) Reads.push_back(Slice{&Sink, std::vector<char>(1 << 16), Index * 1000});
    for (Slice &Work : Reads) AsyncFile_Read(Subject, Work.Offset, Work.Buffer.data(), 1 << 16, &Work, Record);
    AsyncFile_Close(Subject); // a close before the release, as owners do
    AsyncFile_Release(&Subject);
    EXPECT_EQ(Subject, nullptr);
    Sink.WaitFor(64);
    EXPECT_EQ(Sink.Failures, 0);
    for (Slice &Work : Reads) EXPECT_EQ(Work.BytesDone, 1u << 16);
}

TEST_F(AsyncFileTest, RemoveReturnsOnlyAfterEveryCleanUpRan) {
    std::vector<AsyncFile *> Files(20);
    for (size_t Index = 0; Index < Files.size(); Index++) {
        AsyncFile_Create(&Files[Index]);
        ASSERT_EQ(AsyncFile_Open(Files[Index], (Temp / std::to_string(Index)).c_str(), FILE_WRITE), 1);
        AsyncFile_Close(Files[Index]);
        AsyncFile_Release(&Files[Index]);
    }
    EXPECT_EQ(AsyncFile_Remove(), 1);
    // Every descriptor is closed: none of ours is left on the folder.
    std::string Open = RunPython("import os\nprint(sum(os.readlink('/proc/" + std::to_string(getpid()) +
                                 "/fd/'+f).startswith('" + Temp.Path + "') for f in os.listdir('/proc/" +
                                 std::to_string(getpid()) + "/fd')))");
    EXPECT_EQ(Open, "0\n");
    AsyncFile_Init(); // for TearDown
}

TEST_F(AsyncFileTest, OpenRulesRetriesAndMessages) {
    // A directory cannot be opened for writing, even by root: 20 attempts, 20 waits of 100 ms, one message.
    Time_TestClockStart(5000);
    EXPECT_EQ(AsyncFile_Open(Subject, Temp.Path.c_str(), FILE_WRITE), 0);
    EXPECT_EQ(AsyncFile_GetLastError(Subject), 100000 + EISDIR);
    EXPECT_EQ(Time_GetCycleCount(), 5000u + 20 * 100);
    EXPECT_NE(Captured.find("Unable to open file [" + Temp.Path + "][00000241](100021 : 000186B5)"), std::string::npos)
        << Captured;
    Captured.clear();
    EXPECT_EQ(AsyncFile_Open(Subject, (Temp / "none").c_str(), FILE_READ | FILE_QUIETMISSING), 0);
    EXPECT_EQ(AsyncFile_GetLastError(Subject), 100000 + ENOENT);
    EXPECT_EQ(Captured, "");
    EXPECT_EQ(Time_GetCycleCount(), 5000u + 20 * 100); // a missing file is not retried
    EXPECT_EQ(AsyncFile_Open(Subject, (Temp / std::string(400, 'a')).c_str(), FILE_WRITE), 0);
    EXPECT_EQ(AsyncFile_GetLastError(Subject), 100000 + ENAMETOOLONG);

    // Without automatic directories a missing parent fails.
    AsyncFile_SetAutoCreateDirectories(Subject, 0);
    EXPECT_EQ(AsyncFile_Open(Subject, (Temp / "no/file").c_str(), FILE_WRITE), 0);
    AsyncFile_SetAutoCreateDirectories(Subject, 1);
    EXPECT_EQ(AsyncFile_Open(Subject, (Temp / "yes/file").c_str(), FILE_WRITE | FILE_NOBUFFER), 1);
    char Path[320];
    AsyncFile_GetPath(Subject, Path, sizeof(Path));
    EXPECT_EQ(std::string(Path), Temp / "yes/file");
    uint32 Flags = 0;
    AsyncFile_GetOpenFlags(Subject, &Flags);
    EXPECT_EQ(Flags, (uint32)(FILE_WRITE | FILE_NOBUFFER));
    std::string Text = "uncached";
    EXPECT_EQ(Run(true, 3, std::vector<char>(Text.begin(), Text.end())).BytesDone, 8u);
    int64 Size = 0;
    EXPECT_EQ(AsyncFile_GetFilesizeBytes(Subject, &Size), 1);
    EXPECT_EQ(Size, 11);
    EXPECT_EQ(AsyncFile_TruncateAt(Subject, 4), 1);
    EXPECT_EQ(AsyncFile_EnableSparseMode(Subject), 0);
    EXPECT_EQ(AsyncFile_Rename(Subject, (Temp / "moved").c_str()), 1);
    AsyncFile_Close(Subject);
    EXPECT_EQ(ReadFile(Temp / "moved"), std::string("\0\0\0u", 4));
}

TEST_F(AsyncFileTest, TimesAndAttributesOfTheOpenFile) {
    const std::string Path = Temp / "t";
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ | FILE_WRITE), 1);
    EXPECT_EQ(AsyncFile_SetModifiedTime(Subject, 1000000000.0), 1);
    float64 Modified = 0;
    EXPECT_EQ(AsyncFile_GetModifiedTime(Subject, &Modified), 1);
    EXPECT_EQ(Modified, 1000000000.0);
    EXPECT_EQ(RunPython("import os\nprint(int(os.stat('" + Path + "').st_mtime))"), "1000000000\n");
    uint32 Attributes = 0;
    EXPECT_EQ(AsyncFile_SetAttributes(Subject, PLATFORM_ATTRIBUTE_EXECUTABLE), 1);
    EXPECT_EQ(AsyncFile_GetAttributes(Subject, &Attributes), 1);
    EXPECT_TRUE(Attributes & PLATFORM_ATTRIBUTE_EXECUTABLE);
    float64 Used = 0;
    AsyncFile_GetLastUsedTime(Subject, &Used);
    EXPECT_GT(Used, 0);
    AsyncFile_Close(Subject);
}

TEST_F(AsyncFileTest, MeterHangsUnderAnOwnersMeter) {
    MeterRW *Owner = nullptr, *Own = nullptr;
    MeterRW_Create(&Owner);
    AsyncFile_GetMeterRWHandle(Subject, &Own);
    MeterRW_SetParentHandle(Own, Owner);
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "m").c_str(), FILE_READ | FILE_WRITE), 1);
    Run(true, 0, std::vector<char>(3 << 20, 'm'));
    Run(false, 0, std::vector<char>(1 << 20));
    int64 Read = 0, Written = 0;
    MeterRW_GetOverallUsage(Owner, &Read, &Written);
    EXPECT_EQ(Read, 1 << 20);
    EXPECT_EQ(Written, 3 << 20);
    AsyncFile_SetLimitBandwidth(Subject, 4096, 8192);
    int32 ReadLimit = 0, WriteLimit = 0;
    AsyncFile_GetLimitBandwidth(Subject, &ReadLimit, &WriteLimit);
    EXPECT_EQ(ReadLimit, 4096);
    EXPECT_EQ(WriteLimit, 8192);
    AsyncFile_Close(Subject);
    MeterRW_SetParentHandle(Own, nullptr);
    MeterRW_Release(&Owner);
}

TEST_F(AsyncFileTest, StreamSlotsReachTheFile) {
    StreamStruct *Stream = nullptr;
    AsyncFile_GetStreamHandle(Subject, &Stream);
    EXPECT_TRUE(Stream_CanReadAsync(Stream) && Stream_CanWriteAsync(Stream));
    EXPECT_FALSE(Stream_CanRead(Stream) || Stream_CanWrite(Stream) || Stream_CanLength(Stream));
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "s").c_str(), FILE_READ | FILE_WRITE), 1);
    Completions Sink;
    Slice Work{&Sink, std::vector<char>{'h', 'i'}, 0};
    Stream_WriteAsync(Stream, 0, Work.Buffer.data(), 2, (void *)Record, &Work);
    Sink.WaitFor(1);
    EXPECT_EQ(Work.BytesDone, 2u);
    EXPECT_EQ(Stream->Close(Stream->Handle), 1);
    EXPECT_EQ(ReadFile(Temp / "s"), "hi");
}

struct WaitingJob {
    IOWorkerJob Job;
    AsyncFile *File;
    char Byte = 0;
    int32 Error = -1;
};

int32 ReadAndWait(void *, IOWorkerJob *Job) {
    auto *Self = reinterpret_cast<WaitingJob *>(Job);
    std::promise<int32> Done;
    AsyncFile_Read(Self->File, 3, &Self->Byte, 1, &Done, [](AsyncFile *, void *User, int64, void *, uint32, int32 Error) {
        static_cast<std::promise<int32> *>(User)->set_value(Error);
        return (int32)1;
    });
    Self->Error = Done.get_future().get();
    return 1;
}

// More worker jobs than either pool has threads, each blocked on a file
// completion: the file pool is its own, so every completion still arrives.
TEST_F(AsyncFileTest, WorkerJobsWaitingForFileCompletionsDoNotStarveThem) {
    const std::string Path = Temp / "shared";
    std::ofstream(Path) << "abcdef";
    ASSERT_EQ(AsyncFile_Open(Subject, Path.c_str(), FILE_READ), 1);
    IOWorker_Init();
    std::vector<WaitingJob> Jobs(200);
    for (WaitingJob &Job : Jobs) {
        Job.Job.Function = ReadAndWait;
        Job.File = Subject;
        IOWorker_Post(nullptr, nullptr, &Job.Job);
    }
    EXPECT_EQ(IOWorker_Remove(), 1);
    for (WaitingJob &Job : Jobs) {
        EXPECT_EQ(Job.Error, 0);
        EXPECT_EQ(Job.Byte, 'd');
    }
    AsyncFile_Close(Subject);
}

using AsyncFileDeathTest = AsyncFileTest;

TEST_F(AsyncFileDeathTest, MisuseIsAFatalStop) {
    char Buffer[4];
    EXPECT_DEATH(AsyncFile_Read(Subject, 0, Buffer, 4, nullptr, Record), "Attempted to use an invalid handle");
    EXPECT_DEATH(AsyncFile_Open(Subject, (Temp / "x").c_str(), FILE_TEXT), "Unknown mode \\[4\\]");
    EXPECT_DEATH(AsyncFile_Init(), "AsyncFile already initialized");
    ASSERT_EQ(AsyncFile_Open(Subject, (Temp / "x").c_str(), FILE_WRITE), 1);
    EXPECT_DEATH(AsyncFile_Open(Subject, (Temp / "y").c_str(), FILE_WRITE), "must be closed before opening");
    AsyncFile_Close(Subject);
    EXPECT_DEATH(AsyncFile_Write(Subject, 0, Buffer, 4, nullptr, Record), "Attempted to use an invalid handle");
}

} // namespace
