// Null stream: counting writes with seeks before, inside and past the end,
// reads that deliver nothing (so copies from it end), reuse after Close, the
// fatal seek origin, and measuring formatted output.
#include "runtime/streams/null_stream.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "runtime/streams/memory_stream.h"
#include "tests/support/runtime.h"

namespace {

class NullStreamTest : public RuntimeTest {
  protected:
    NullStream *Stream = nullptr;
    StreamStruct *Record = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        NullStream_Create(&Stream);
        NullStream_GetStreamHandle(Stream, &Record);
    }
    void TearDown() override {
        if (Stream != nullptr) NullStream_Delete(&Stream);
        RuntimeTest::TearDown();
    }
    uint32 Write(const std::string &Bytes) {
        uint32 Count = 0;
        EXPECT_EQ(Stream_Write(Record, Bytes.data(), (uint32)Bytes.size(), &Count), 1);
        return Count;
    }
    int64 Position() {
        int64 At = -1;
        EXPECT_EQ(Stream_Tell(Record, &At), 1);
        return At;
    }
};
using NullStreamDeathTest = NullStreamTest;

TEST_F(NullStreamTest, CountsWhatIsWritten) {
    EXPECT_EQ(Write("abc"), 3u);
    EXPECT_EQ(Write("12345"), 5u);
    EXPECT_EQ(NullStream_GetUsed(Stream), 8);
    EXPECT_EQ(Stream_Seek(Record, 2, STREAM_SEEK_SET), 1);
    Write("xyz");
    EXPECT_EQ(NullStream_GetUsed(Stream), 8);
    EXPECT_EQ(Position(), 5);
    // Overwriting across the end extends it.
    Write("0123456");
    EXPECT_EQ(NullStream_GetUsed(Stream), 12);
    int64 Length = 0;
    EXPECT_EQ(Stream_Length(Record, &Length), 1);
    EXPECT_EQ(Length, 12);
}

TEST_F(NullStreamTest, WritingPastTheEndOnlyMovesThePosition) {
    Write("abcdef");
    EXPECT_EQ(Stream_Seek(Record, 100, STREAM_SEEK_SET), 1);
    Write("0123456789");
    EXPECT_EQ(NullStream_GetUsed(Stream), 6);
    EXPECT_EQ(Position(), 110);
    EXPECT_EQ(Stream_Seek(Record, 99, STREAM_SEEK_END), 1);
    EXPECT_EQ(Position(), 6);
    EXPECT_EQ(Stream_Seek(Record, -2, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Position(), 4);
    EXPECT_EQ(Stream_Seek(Record, -5, STREAM_SEEK_CUR), 0);
    EXPECT_EQ(Position(), 4);
    EXPECT_EQ(Stream_Seek(Record, INT64_MAX, STREAM_SEEK_SET), 1);
    uint32 Count = 7;
    EXPECT_EQ(Stream_Write(Record, "ab", 2, &Count), 0);
    EXPECT_EQ(Count, 0u);
}

TEST_F(NullStreamTest, ReadsDeliverNothing) {
    Write("data");
    char Buffer[4] = {'q', 'q', 'q', 'q'};
    uint32 Count = 9;
    EXPECT_EQ(Stream_Read(Record, Buffer, 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(std::string(Buffer, 4), "qqqq");
    // So a copy out of a null stream ends at once.
    MemoryStream *Sink = nullptr;
    MemoryStream_Create(&Sink);
    MemoryStream_SetAutoGrow(Sink, TRUE);
    StreamStruct *SinkRecord = nullptr;
    MemoryStream_GetStreamHandle(Sink, &SinkRecord);
    EXPECT_EQ(Stream_Copy(SinkRecord, Record), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Sink), 0);
    EXPECT_EQ(Stream_CopyLength(SinkRecord, Record, 4), 0);
    MemoryStream_Delete(&Sink);
}

TEST_F(NullStreamTest, CloseStartsANewMeasurement) {
    EXPECT_EQ(Stream_IsOpen(Record), 1);
    EXPECT_EQ(Stream_Flush(Record), 1);
    Write("first body");
    EXPECT_EQ(Stream_Close(Record), 1);
    EXPECT_EQ(NullStream_GetUsed(Stream), 0);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(Stream_IsOpen(Record), 1);
    EXPECT_EQ(Stream_WritePrint(Record, "{\"count\":%d,\"name\":\"%s\"}", 12345, "abc"), 1);
    EXPECT_EQ(NullStream_GetUsed(Stream), (int64)std::string("{\"count\":12345,\"name\":\"abc\"}").size());
}

TEST_F(NullStreamTest, SharesItsClassIdWithBufferedStream) {
    EXPECT_EQ(NULLSTREAM_CLASSID, 0xfe7794fau);
    NullStream *Extra = NullStream_AddRef(Stream);
    EXPECT_EQ(NullStream_Release(&Extra), 1);
    char Id[40];
    EXPECT_EQ(NullStream_GetInstanceId(Stream, Id, sizeof(Id)), 1);
}

TEST_F(NullStreamDeathTest, UnknownSeekOriginIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(NullStream_Seek(Stream, 0, 3), ::testing::KilledBySignal(SIGILL), "Invalid seek origin \\(3\\)");
}

} // namespace
