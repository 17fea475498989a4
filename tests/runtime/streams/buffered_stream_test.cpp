// Buffered stream: reads and writes in odd chunk sizes through odd buffer
// sizes against the direct bytes of a memory stream, the base-call pattern
// of the documented cases (counted by a recording base), flush failures
// (whole and partial), direction switches, seeks inside and outside the
// buffers, Tell, Close and the trace texts.
#include "runtime/streams/buffered_stream.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "runtime/command_line.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string_print.h"
#include "tests/support/runtime.h"

namespace {

std::string Pattern(size_t Size, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Size, '\0');
    for (char &Byte : Bytes) Byte = (char)(Random() & 0xff);
    return Bytes;
}

// A memory stream behind a record that counts and can refuse base calls.
struct RecordingBase {
    MemoryStream *Memory = nullptr;
    StreamStruct *Inner = nullptr;
    StreamStruct Record{};
    std::vector<uint32> Reads;  // bytes received per read
    std::vector<uint32> Writes; // bytes taken per write
    uint32 WriteBudget = UINT32_MAX; // bytes the base still takes before failing
    std::string BytesAtClose;

    explicit RecordingBase(const std::string &Bytes = "") {
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, TRUE);
        uint32 Count = 0;
        if (!Bytes.empty()) MemoryStream_Write(Memory, Bytes.data(), (uint32)Bytes.size(), &Count);
        MemoryStream_Seek(Memory, 0, STREAM_SEEK_SET);
        MemoryStream_GetStreamHandle(Memory, &Inner);
        Record = *Inner;
        Record.Handle = this;
        Record.Read = [](void *H, void *B, uint32 L, uint32 *C) -> int32 {
            auto *Self = static_cast<RecordingBase *>(H);
            const int32 Result = Stream_Read(Self->Inner, B, L, C);
            Self->Reads.push_back(*C);
            return Result;
        };
        Record.Write = [](void *H, const void *B, uint32 L, uint32 *C) -> int32 {
            auto *Self = static_cast<RecordingBase *>(H);
            const uint32 Allowed = std::min(L, Self->WriteBudget);
            if (Allowed == 0) return 0;
            const int32 Result = Stream_Write(Self->Inner, B, Allowed, C);
            Self->WriteBudget -= *C;
            Self->Writes.push_back(*C);
            return Result;
        };
        Record.Seek = [](void *H, int64 O, int32 W) {
            return Stream_Seek(static_cast<RecordingBase *>(H)->Inner, O, W);
        };
        Record.Tell = [](void *H, int64 *P) { return Stream_Tell(static_cast<RecordingBase *>(H)->Inner, P); };
        Record.Length = [](void *H, int64 *L) { return Stream_Length(static_cast<RecordingBase *>(H)->Inner, L); };
        Record.IsOpen = [](void *H) { return Stream_IsOpen(static_cast<RecordingBase *>(H)->Inner); };
        Record.Close = [](void *H) {
            auto *Self = static_cast<RecordingBase *>(H);
            Self->BytesAtClose = Self->Bytes();
            return Stream_Close(Self->Inner);
        };
    }
    ~RecordingBase() { MemoryStream_Delete(&Memory); }
    std::string Bytes() {
        char *Data = nullptr;
        if (!MemoryStream_GetPointer(Memory, &Data)) return "";
        std::string Copy(Data, (size_t)MemoryStream_GetUsed(Memory));
        MemoryStream_ReleasePointer(Memory, &Data);
        return Copy;
    }
    int64 Position() {
        int64 At = 0;
        MemoryStream_Tell(Memory, &At);
        return At;
    }
};

class BufferedStreamTest : public RuntimeTest {
  protected:
    BufferedStream *Stream = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        BufferedStream_Create(&Stream);
    }
    void TearDown() override {
        if (Stream != nullptr) BufferedStream_Delete(&Stream);
        RuntimeTest::TearDown();
    }
    std::string Read(uint32 Length, int32 *Result = nullptr) {
        std::string Buffer(Length, '\0');
        uint32 Count = 0;
        const int32 Answer = BufferedStream_Read(Stream, Buffer.data(), Length, &Count);
        if (Result != nullptr) *Result = Answer;
        return Buffer.substr(0, Count);
    }
    int32 Write(const std::string &Bytes) {
        uint32 Count = 0;
        const int32 Result = BufferedStream_Write(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
        if (Result) {
            EXPECT_EQ(Count, Bytes.size());
        }
        return Result;
    }
    int64 Tell() {
        int64 At = -1;
        EXPECT_EQ(BufferedStream_Tell(Stream, &At), 1);
        return At;
    }
};

TEST_F(BufferedStreamTest, OddChunksThroughOddBuffersReadTheDirectBytes) {
    const std::string Data = Pattern(50000, 1330);
    std::mt19937 Random(1331);
    for (int32 BufferSize : {1, 7, 1000, 4096, 4097, 65536}) {
        SCOPED_TRACE(BufferSize);
        RecordingBase Base(Data);
        BufferedStream_SetReadBufferSize(Stream, BufferSize);
        BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
        std::string Collected;
        int32 Result = 1;
        while (Result) {
            static const uint32 Chunks[] = {1, 2, 3, 17, 255, 4095, 4097, 9999};
            const uint32 Chunk = Chunks[Random() % 8];
            const std::string Piece = Read(Chunk, &Result);
            Collected += Piece;
            if (Result) {
                ASSERT_EQ(Piece.size(), Chunk);
            }
            ASSERT_LE(Collected.size(), Data.size());
            if (Result) {
                ASSERT_EQ(Tell(), (int64)Collected.size());
            }
        }
        EXPECT_EQ(Collected, Data);
        // Each base read filled the free room (bar the last ones at the end).
        EXPECT_LE(Base.Reads.size(), Data.size() / (size_t)BufferSize + 3);
        BufferedStream_Delete(&Stream);
        BufferedStream_Create(&Stream);
    }
}

TEST_F(BufferedStreamTest, OddChunksThroughOddBuffersWriteTheDirectBytes) {
    const std::string Data = Pattern(50000, 1332);
    std::mt19937 Random(1333);
    for (int32 BufferSize : {1, 7, 1000, 4096, 4097}) {
        SCOPED_TRACE(BufferSize);
        RecordingBase Base;
        BufferedStream_SetWriteBufferSize(Stream, BufferSize);
        BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
        size_t At = 0;
        while (At < Data.size()) {
            const size_t Chunk = std::min<size_t>(Data.size() - At, 1 + Random() % 9000);
            ASSERT_EQ(Write(Data.substr(At, Chunk)), 1);
            At += Chunk;
            ASSERT_EQ(Tell(), (int64)At);
        }
        EXPECT_EQ(BufferedStream_Flush(Stream), 1);
        EXPECT_EQ(Base.Bytes(), Data);
        for (uint32 Taken : Base.Writes) EXPECT_LE(Taken, (uint32)BufferSize);
        BufferedStream_Delete(&Stream);
        BufferedStream_Create(&Stream);
    }
}

TEST_F(BufferedStreamTest, ReadingAFileSizedBaseTakesThreeBaseReads) {
    const std::string Data = Pattern(10000, 1334);
    RecordingBase Base(Data);
    BufferedStream_SetReadBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    int32 Result = 0;
    EXPECT_EQ(Read(10000, &Result), Data);
    EXPECT_EQ(Result, 1);
    EXPECT_EQ(Base.Reads, (std::vector<uint32>{4096, 4096, 1808}));
}

TEST_F(BufferedStreamTest, ReadingPastTheEndGivesThePartialCount) {
    RecordingBase Base("0123456789");
    BufferedStream_SetReadBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    int32 Result = 0;
    EXPECT_EQ(Read(6, &Result), "012345");
    EXPECT_EQ(Result, 1);
    EXPECT_EQ(Read(10, &Result), "6789");
    EXPECT_EQ(Result, 0);
    EXPECT_EQ(Read(10, &Result), "");
    EXPECT_EQ(Result, 0);
    EXPECT_EQ(Read(0, &Result), "");
    EXPECT_EQ(Result, 1);
}

TEST_F(BufferedStreamTest, WritingFlushesFullBuffersAndKeepsTheRest) {
    const std::string Data = Pattern(10000, 1335);
    RecordingBase Base;
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    EXPECT_EQ(Write(Data), 1);
    EXPECT_EQ(Base.Writes, (std::vector<uint32>{4096, 4096}));
    EXPECT_EQ(Base.Bytes(), Data.substr(0, 8192));
    EXPECT_EQ(BufferedStream_Flush(Stream), 1);
    EXPECT_EQ(Base.Bytes(), Data);
    EXPECT_EQ(BufferedStream_Flush(Stream), 0);
}

TEST_F(BufferedStreamTest, TellCountsBufferedBytes) {
    RecordingBase Base;
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    Write(Pattern(100, 1336));
    EXPECT_EQ(Tell(), 100);
    EXPECT_EQ(Base.Position(), 0);
}

TEST_F(BufferedStreamTest, FailedFlushKeepsWhatTheBaseDidNotTake) {
    const std::string Data = Pattern(150, 1337);
    RecordingBase Base;
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    Write(Data);
    Base.WriteBudget = 0;
    EXPECT_EQ(BufferedStream_Flush(Stream), 0);
    EXPECT_EQ(Base.Bytes(), "");
    // The base takes 100 bytes and then fails: a second flush sends only the
    // rest, so nothing arrives twice.
    Base.WriteBudget = 100;
    EXPECT_EQ(BufferedStream_Flush(Stream), 0);
    EXPECT_EQ(Base.Bytes(), Data.substr(0, 100));
    EXPECT_EQ(Tell(), 150);
    Base.WriteBudget = UINT32_MAX;
    EXPECT_EQ(BufferedStream_Flush(Stream), 1);
    EXPECT_EQ(Base.Bytes(), Data);
}

TEST_F(BufferedStreamTest, StreamsWithoutBuffersOrBaseCannotMoveBytes) {
    uint32 Count = 9;
    EXPECT_EQ(BufferedStream_Write(Stream, "abc", 3, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(BufferedStream_Read(Stream, &Count, 1, &Count), 0);
    EXPECT_EQ(BufferedStream_IsOpen(Stream), 0);
    EXPECT_EQ(BufferedStream_Close(Stream), 0);
    int64 Value = 5;
    EXPECT_EQ(BufferedStream_Tell(Stream, &Value), 0);
    EXPECT_EQ(Value, 0);

    RecordingBase Base("abc");
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    EXPECT_EQ(BufferedStream_Write(Stream, "abc", 3, &Count), 0);
    EXPECT_EQ(Count, 0u);
    char Byte = 0;
    EXPECT_EQ(BufferedStream_Read(Stream, &Byte, 1, &Count), 0);
    EXPECT_TRUE(Base.Reads.empty());
    EXPECT_EQ(BufferedStream_IsOpen(Stream), 1);
    EXPECT_EQ(BufferedStream_Length(Stream, &Value), 1);
    EXPECT_EQ(Value, 3);
}

TEST_F(BufferedStreamTest, WriteAfterReadGoesToTheLogicalPosition) {
    RecordingBase Base("0123456789abcdefghij");
    BufferedStream_SetReadBufferSize(Stream, 4096);
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    EXPECT_EQ(Read(5), "01234");
    EXPECT_EQ(Base.Position(), 20);
    EXPECT_EQ(Write("XY"), 1);
    EXPECT_EQ(Tell(), 7);
    EXPECT_EQ(BufferedStream_Flush(Stream), 1);
    EXPECT_EQ(Base.Bytes(), "01234XY789abcdefghij");
}

TEST_F(BufferedStreamTest, SeeksInsideAndOutsideTheBuffers) {
    const std::string Data = Pattern(20000, 1338);
    RecordingBase Base(Data);
    BufferedStream_SetReadBufferSize(Stream, 4096);
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    Read(100);
    // Inside the read buffer: no base call.
    EXPECT_EQ(BufferedStream_Seek(Stream, 10, STREAM_SEEK_SET), 1);
    EXPECT_EQ(Read(5), Data.substr(10, 5));
    EXPECT_EQ(BufferedStream_Seek(Stream, 100, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Read(5), Data.substr(115, 5));
    EXPECT_EQ(BufferedStream_Seek(Stream, -20, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Read(5), Data.substr(100, 5));
    EXPECT_EQ(Base.Reads.size(), 1u);
    // Outside: the base stream moves and the next read starts there.
    EXPECT_EQ(BufferedStream_Seek(Stream, 15000, STREAM_SEEK_SET), 1);
    EXPECT_EQ(Read(7), Data.substr(15000, 7));
    EXPECT_EQ(Tell(), 15007);
    EXPECT_EQ(BufferedStream_Seek(Stream, -5000, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Read(3), Data.substr(10007, 3));
    // A memory-stream base goes to its end whatever the offset.
    EXPECT_EQ(BufferedStream_Seek(Stream, -4, STREAM_SEEK_END), 1);
    EXPECT_EQ(Tell(), 20000);
    EXPECT_EQ(Read(10), "");
    EXPECT_EQ(BufferedStream_Seek(Stream, -4, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Read(10), Data.substr(19996));
    EXPECT_EQ(BufferedStream_Seek(Stream, -1, STREAM_SEEK_SET), 0);
    EXPECT_EQ(BufferedStream_Seek(Stream, 0, 9), 0);

    // Inside the write buffer, then writing over buffered bytes.
    BufferedStream_Seek(Stream, 0, STREAM_SEEK_SET);
    Write("ABCDEFGH");
    EXPECT_EQ(BufferedStream_Seek(Stream, 2, STREAM_SEEK_SET), 1);
    Write("cd");
    EXPECT_EQ(BufferedStream_Seek(Stream, 0, STREAM_SEEK_END), 1);
    EXPECT_EQ(Tell(), 8);
    Write("!");
    // Outside the write buffer: pending bytes are written first.
    EXPECT_EQ(BufferedStream_Seek(Stream, 100, STREAM_SEEK_SET), 1);
    Write("@");
    BufferedStream_Flush(Stream);
    const std::string Bytes = Base.Bytes();
    EXPECT_EQ(Bytes.substr(0, 9), "ABcdEFGH!");
    EXPECT_EQ(Bytes.substr(9, 91), Data.substr(9, 91));
    EXPECT_EQ(Bytes[100], '@');
}

std::string Captured;
int32 Capture(void *, const char *Format, ...) {
    char Line[1024];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Line, sizeof(Line), Format, Arguments);
    va_end(Arguments);
    Captured += Line;
    return 1;
}

TEST_F(BufferedStreamTest, CloseFlushesReportsAndClosesTheBase) {
    Captured.clear();
    RecordingBase Base("0123456789");
    BufferedStream_SetReadBufferSize(Stream, 4);
    BufferedStream_SetWriteBufferSize(Stream, 4096);
    BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
    BufferedStream_SetPrintCallback(Stream, nullptr, Capture);
    BufferedStream_SetVerbose(Stream, TRUE);
    int32 Verbose = 0;
    BufferedStream_GetVerbose(Stream, &Verbose);
    EXPECT_EQ(Verbose, 1);
    // The verbose level comes from the verbose switch; without it only level
    // 0 passes, so the level-11 traces are checked through VerboseLog's
    // answer and the Close line is captured.
    EXPECT_EQ(Read(6), "012345");
    EXPECT_EQ(Write("ab"), 1);
    EXPECT_EQ(BufferedStream_Close(Stream), 1);
    EXPECT_EQ(BufferedStream_IsOpen(Stream), 0);
    EXPECT_EQ(Base.BytesAtClose, "012345ab89");
    EXPECT_NE(Captured.find("BufferedStream."), std::string::npos) << Captured;
    EXPECT_NE(Captured.find(" - Close\n"), std::string::npos) << Captured;
}

// With the verbose switch naming the class at level 11 every step is traced.
TEST(BufferedStreamTrace, TracesNameEachStep) {
    ASSERT_EQ(CommandLine_Init("test --verbose=11BufferedStream"), 1);
    {
        RuntimeScope Scope;
        Captured.clear();
        BufferedStream *Stream = nullptr;
        BufferedStream_Create(&Stream);
        RecordingBase Base(Pattern(10000, 1339));
        BufferedStream_SetReadBufferSize(Stream, 4096);
        BufferedStream_SetBaseStreamHandle(Stream, &Base.Record);
        BufferedStream_SetPrintCallback(Stream, nullptr, Capture);
        std::string Buffer(10000, '\0');
        uint32 Count = 0;
        EXPECT_EQ(BufferedStream_Read(Stream, Buffer.data(), 10000, &Count), 1);
        BufferedStream_Close(Stream);
        for (const char *Line : {" - Read [Size 10000 Pos 0]\n", " - Filled [Read 4096/4096 Buf 0:4096 Pos 4096]\n",
                                 " - Emptied [Copied 4096 Remaining 5904 Buf 4096:4096 Pos 4096]\n",
                                 " - Filled [Read 1808/4096 Buf 0:1808 Pos 10000]\n",
                                 " - Emptied [Copied 1808 Remaining 0 Buf 1808:1808 Pos 10000]\n", " - Close\n",
                                 " - Read efficiency 50.00%\n"})
            EXPECT_NE(Captured.find(Line), std::string::npos) << Line << Captured;
        EXPECT_EQ(Captured.find("Write efficiency"), std::string::npos);
        BufferedStream_Delete(&Stream);
    }
    CommandLine_Remove();
}

} // namespace
