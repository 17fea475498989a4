// Stream view: reads, peeks and writes bounded by the caller's block (the
// bytes around it stay untouched), seeks within the data, closing, and
// parsing a block in place through the generic operations.
#include "runtime/streams/stream_view.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tests/support/runtime.h"

namespace {

class StreamViewTest : public RuntimeTest {
  protected:
    StreamView *View = nullptr;
    StreamStruct *Record = nullptr;
    // The block sits between guard bytes that no operation may touch.
    std::vector<char> Memory = std::vector<char>(30, '#');
    char *Block = Memory.data() + 10;
    void SetUp() override {
        RuntimeTest::SetUp();
        StreamView_Create(&View);
        StreamView_GetStreamHandle(View, &Record);
        memcpy(Block, "abcd", 4);
        ASSERT_EQ(StreamView_SetPointer(View, Block, 4, 10), 1);
    }
    void TearDown() override {
        EXPECT_EQ(std::string(Memory.data(), 10), std::string(10, '#'));
        EXPECT_EQ(std::string(Memory.data() + 20, 10), std::string(10, '#'));
        if (View != nullptr) StreamView_Delete(&View);
        RuntimeTest::TearDown();
    }
};

TEST_F(StreamViewTest, ReadsDeliverTheUsedBytes) {
    EXPECT_EQ(StreamView_IsOpen(View), 1);
    char Buffer[10];
    uint32 Count = 0;
    EXPECT_EQ(Stream_Read(Record, Buffer, 10, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "abcd");
    EXPECT_EQ(Stream_Read(Record, Buffer, 10, &Count), 0);
    EXPECT_EQ(Count, 0u);
    int64 Value = 0;
    EXPECT_EQ(Stream_Tell(Record, &Value), 1);
    EXPECT_EQ(Value, 4);
    EXPECT_EQ(Stream_Length(Record, &Value), 1);
    EXPECT_EQ(Value, 4);
}

TEST_F(StreamViewTest, PeekDoesNotMove) {
    char First[3], Second[3];
    uint32 Count = 0;
    EXPECT_EQ(Stream_Peek(Record, First, 3, &Count), 1);
    EXPECT_EQ(Stream_Peek(Record, Second, 3, &Count), 1);
    EXPECT_EQ(std::string(First, 3), "abc");
    EXPECT_EQ(std::string(Second, 3), "abc");
    Stream_Seek(Record, 0, STREAM_SEEK_END);
    EXPECT_EQ(Stream_Peek(Record, First, 3, &Count), 0);
    EXPECT_EQ(Count, 0u);
}

TEST_F(StreamViewTest, WritesStopAtTheCapacity) {
    const std::string Twenty = "0123456789ABCDEFGHIJ";
    uint32 Count = 0;
    EXPECT_EQ(Stream_Write(Record, Twenty.data(), 20, &Count), 1);
    EXPECT_EQ(Count, 10u);
    EXPECT_EQ(std::string(Block, 10), "0123456789");
    int64 Length = 0;
    Stream_Length(Record, &Length);
    EXPECT_EQ(Length, 10);
    EXPECT_EQ(Stream_Write(Record, "x", 1, &Count), 0);
    EXPECT_EQ(Count, 0u);
    Stream_Seek(Record, 2, STREAM_SEEK_SET);
    EXPECT_EQ(Stream_Write(Record, "x", 0, &Count), 0);
    EXPECT_EQ(Stream_Write(Record, "xy", 2, &Count), 1);
    EXPECT_EQ(std::string(Block, 10), "01xy456789");
    Stream_Length(Record, &Length);
    EXPECT_EQ(Length, 10);
}

TEST_F(StreamViewTest, SeeksStayWithinTheData) {
    EXPECT_EQ(Stream_Seek(Record, 99, STREAM_SEEK_END), 1);
    int64 At = 0;
    Stream_Tell(Record, &At);
    EXPECT_EQ(At, 4);
    EXPECT_EQ(Stream_Seek(Record, 5, STREAM_SEEK_SET), 0);
    EXPECT_EQ(Stream_Seek(Record, -1, STREAM_SEEK_SET), 0);
    EXPECT_EQ(Stream_Seek(Record, -3, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Stream_Seek(Record, INT64_MIN, STREAM_SEEK_CUR), 0);
    EXPECT_EQ(Stream_Seek(Record, 0, 4), 0);
    Stream_Tell(Record, &At);
    EXPECT_EQ(At, 1);
    uint8 Byte = 0;
    uint32 Count = 0;
    EXPECT_EQ(Stream_ReadChar(Record, &Byte, &Count), 1);
    EXPECT_EQ(Byte, 'b');
}

TEST_F(StreamViewTest, ClosingForgetsTheBlock) {
    EXPECT_EQ(StreamView_SetPointer(View, Block, 11, 10), 0);
    EXPECT_EQ(StreamView_IsOpen(View), 1);
    EXPECT_EQ(StreamView_SetPointer(View, nullptr, 0, 0), 1);
    EXPECT_EQ(StreamView_IsOpen(View), 0);
    char Buffer[4];
    uint32 Count = 0;
    EXPECT_EQ(Stream_Read(Record, Buffer, 4, &Count), 0);
    EXPECT_EQ(Stream_Write(Record, "abc", 3, &Count), 0);
    int64 Length = 9;
    Stream_Length(Record, &Length);
    EXPECT_EQ(Length, 0);
    EXPECT_EQ(StreamView_SetPointer(View, Block, 2, 10), 1);
    EXPECT_EQ(Stream_Close(Record), 1);
    EXPECT_EQ(StreamView_IsOpen(View), 0);
    EXPECT_FALSE(Stream_CanFlush(Record));
}

TEST_F(StreamViewTest, TypedReadsParseTheBlockInPlace) {
    const uint8 Bytes[] = {0x01, 0x00, 0x00, 0x80, 0xff, 0xfe};
    memcpy(Block, Bytes, sizeof(Bytes));
    StreamView_SetPointer(View, Block, sizeof(Bytes), 10);
    uint32 Value = 0;
    int16 Small = 0;
    uint32 Count = 0;
    EXPECT_EQ(Stream_ReadUInt32(Record, &Value, &Count), 1);
    EXPECT_EQ(Value, 0x80000001u);
    EXPECT_EQ(Stream_ReadInt16(Record, &Small, &Count), 1);
    EXPECT_EQ(Small, -257);
}

} // namespace
