// Memory stream: growth and the MaxCapacity bound, both access styles,
// discards and claims past the data, callback transfers, printing,
// transactions and pins (with their fatal stops), foreign blocks, locking
// between threads, and a seeded random run against a plain model.
#include "runtime/streams/memory_stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/runtime.h"

namespace {

class MemoryStreamTest : public RuntimeTest {
  protected:
    MemoryStream *Stream = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        MemoryStream_Create(&Stream);
    }
    void TearDown() override {
        if (Stream != nullptr) MemoryStream_Delete(&Stream);
        RuntimeTest::TearDown();
    }
    // The data bytes (the first Used bytes of the buffer).
    std::string Data() {
        uint8 *Pointer = nullptr;
        if (!MemoryStream_GetPointer(Stream, &Pointer)) return "";
        std::string Bytes(reinterpret_cast<char *>(Pointer), (size_t)MemoryStream_GetUsed(Stream));
        MemoryStream_ReleasePointer(Stream, &Pointer);
        return Bytes;
    }
    int64 Position() {
        int64 At = -1;
        MemoryStream_Tell(Stream, &At);
        return At;
    }
    uint32 Write(const std::string &Bytes) {
        uint32 Count = 0;
        MemoryStream_Write(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
        return Count;
    }
    uint32 Put(const std::string &Bytes) {
        uint32 Count = 0;
        MemoryStream_Put(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
        return Count;
    }
    void ExpectInvariants() {
        const int32 Used = MemoryStream_GetUsed(Stream), Size = MemoryStream_GetSize(Stream);
        EXPECT_LE(0, Used);
        EXPECT_LE(Used, Size);
        EXPECT_LE(Size, MemoryStream_GetCapacity(Stream));
        EXPECT_LE(0, Position());
        EXPECT_LE(Position(), Used);
    }
};
using MemoryStreamDeathTest = MemoryStreamTest;

std::string Pattern(size_t Size, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Size, '\0');
    for (char &Byte : Bytes) Byte = (char)('a' + Random() % 26);
    return Bytes;
}

TEST_F(MemoryStreamTest, NewStreamIsClosedAndEmpty) {
    EXPECT_EQ(MemoryStream_IsOpen(Stream), 0);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 0);
    EXPECT_EQ(MemoryStream_TransactionActive(Stream), 0);
    EXPECT_EQ(MemoryStream_GetAvailableCapacity(Stream), 0);
    int32 Flag = -1;
    MemoryStream_GetAutoGrow(Stream, &Flag);
    EXPECT_EQ(Flag, 0);
    MemoryStream_GetAllowLock(Stream, &Flag);
    EXPECT_EQ(Flag, 0);
    // Without AutoGrow nothing fits into a stream without a buffer.
    EXPECT_EQ(Write("abc"), 0u);
    uint32 Count = 7;
    EXPECT_EQ(MemoryStream_Write(Stream, "abc", 0, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(MemoryStream_Lock(Stream), 0);
    EXPECT_EQ(MemoryStream_Unlock(Stream), 0);
}

TEST_F(MemoryStreamTest, GrowthIsExactFirstThenGeometric) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    const std::string First = Pattern(10, 1), Second = Pattern(5000, 2);
    EXPECT_EQ(Write(First), 10u);
    EXPECT_EQ(MemoryStream_GetSize(Stream), 4096);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 4096);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 10);
    EXPECT_EQ(Position(), 10);
    EXPECT_EQ(MemoryStream_IsOpen(Stream), 1);

    EXPECT_EQ(Write(Second), 5000u);
    EXPECT_EQ(MemoryStream_GetSize(Stream), 8192);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 12288);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 5010);
    EXPECT_EQ(Position(), 5010);
    EXPECT_EQ(Data(), First + Second);
    EXPECT_EQ(MemoryStream_GetAvailable(Stream), 8192 - 5010);
}

TEST_F(MemoryStreamTest, WriteWithoutGrowthTakesWhatFits) {
    ASSERT_EQ(MemoryStream_Size(Stream, 8, 0, 0), 1);
    EXPECT_EQ(Write("abcdef"), 6u);
    EXPECT_EQ(Write("ghijkl"), 2u);
    EXPECT_EQ(Write("x"), 0u);
    EXPECT_EQ(Data(), "abcdefgh");
    // Overwriting in the middle does not extend the data.
    MemoryStream_Seek(Stream, 2, STREAM_SEEK_SET);
    EXPECT_EQ(Write("XY"), 2u);
    EXPECT_EQ(Data(), "abXYefgh");
    EXPECT_EQ(Position(), 4);
}

TEST_F(MemoryStreamTest, SizingKeepsOrDiscards) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Write("hello world");
    ASSERT_EQ(MemoryStream_Size(Stream, 100, 1, 0), 1);
    EXPECT_EQ(Data(), "hello world");
    EXPECT_EQ(Position(), 11);
    // Keeping the data in a smaller size keeps what fits.
    ASSERT_EQ(MemoryStream_Size(Stream, 5, 1, 0), 1);
    EXPECT_EQ(MemoryStream_GetSize(Stream), 5);
    EXPECT_EQ(Data(), "hello");
    EXPECT_EQ(Position(), 5);
    ExpectInvariants();
    // A new buffer on request, data kept.
    ASSERT_EQ(MemoryStream_Size(Stream, 5000, 1, 1), 1);
    EXPECT_EQ(Data(), "hello");
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 7500);
    // Without keeping, data and position go.
    ASSERT_EQ(MemoryStream_Size(Stream, 10, 0, 0), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
    EXPECT_EQ(Position(), 0);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 7500);
    // Size 0 closes.
    ASSERT_EQ(MemoryStream_Size(Stream, 0, 0, 0), 1);
    EXPECT_EQ(MemoryStream_IsOpen(Stream), 0);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 0);
    EXPECT_EQ(MemoryStream_Size(Stream, -1, 0, 0), 0);
}

// The capacity is cut to MaxCapacity and Size with it: a write near the bound
// takes what fits and never runs past the buffer (ASan watches the copy).
TEST_F(MemoryStreamTest, WritesAtTheBoundStayInsideTheBuffer) {
    constexpr int32 Bound = 0x100000;
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetMaxCapacity(Stream, Bound);
    ASSERT_EQ(MemoryStream_Size(Stream, Bound * 2, 0, 0), 1);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), Bound);
    EXPECT_EQ(MemoryStream_GetSize(Stream), Bound);
    MemoryStream_Close(Stream);

    const std::string Piece = Pattern(3000, 3);
    std::string Expected;
    uint32 Count = 0;
    for (;;) {
        Count = Put(Piece);
        if (Count == 0) break;
        Expected += Piece.substr(0, Count);
        ExpectInvariants();
    }
    EXPECT_EQ((int32)Expected.size(), Bound);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), Bound);
    EXPECT_EQ(MemoryStream_GetAvailableCapacity(Stream), 0);
    EXPECT_EQ(Data(), Expected);
    // The stream-style write at the end fails the same way.
    MemoryStream_Seek(Stream, 0, STREAM_SEEK_END);
    EXPECT_EQ(Write("z"), 0u);
    uint32 Ignored = 0;
    EXPECT_EQ(MemoryStream_Write(Stream, "z", 1, &Ignored), 0);
}

TEST_F(MemoryStreamTest, PrintGrowsWhenItMayAndKeepsTheTerminatorOutOfTheData) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    const std::string Filler = Pattern(4096, 4);
    Write(Filler);
    ASSERT_EQ(MemoryStream_GetAvailable(Stream), 0);
    const std::string Hundred(100, 'p');
    EXPECT_EQ(MemoryStream_Print(Stream, "%s", Hundred.c_str()), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 4196);
    EXPECT_EQ(Data(), Filler + Hundred);
    EXPECT_EQ(MemoryStream_Print(Stream, "%d-%s", 12, "ab"), 1);
    EXPECT_EQ(Data(), Filler + Hundred + "12-ab");
    EXPECT_EQ(MemoryStream_Print(Stream, "%s", ""), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 4201);

    // Without growth a text that does not fit (with its terminator) is refused.
    MemoryStream *Fixed = nullptr;
    MemoryStream_Create(&Fixed);
    MemoryStream_Size(Fixed, 6, 0, 0);
    EXPECT_EQ(MemoryStream_Print(Fixed, "%s", "abcdef"), 0);
    EXPECT_EQ(MemoryStream_GetUsed(Fixed), 0);
    EXPECT_EQ(MemoryStream_Print(Fixed, "%s", "abcde"), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Fixed), 5);
    MemoryStream_Delete(&Fixed);
}

TEST_F(MemoryStreamTest, SeekStaysWithinTheData) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Write("0123456789");
    EXPECT_EQ(MemoryStream_Seek(Stream, 3, STREAM_SEEK_SET), 1);
    EXPECT_EQ(MemoryStream_Seek(Stream, 5, STREAM_SEEK_END), 1);
    EXPECT_EQ(Position(), 10);
    EXPECT_EQ(MemoryStream_Seek(Stream, 11, STREAM_SEEK_SET), 0);
    EXPECT_EQ(MemoryStream_Seek(Stream, -1, STREAM_SEEK_SET), 0);
    EXPECT_EQ(MemoryStream_Seek(Stream, -4, STREAM_SEEK_CUR), 1);
    EXPECT_EQ(Position(), 6);
    EXPECT_EQ(MemoryStream_Seek(Stream, INT64_MAX, STREAM_SEEK_CUR), 0);
    EXPECT_EQ(MemoryStream_Seek(Stream, 0, 3), 0);
    EXPECT_EQ(Position(), 6);

    char Buffer[16];
    uint32 Count = 0;
    EXPECT_EQ(MemoryStream_Read(Stream, Buffer, 16, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "6789");
    EXPECT_EQ(MemoryStream_Read(Stream, Buffer, 16, &Count), 0);
    EXPECT_EQ(Count, 0u);
    int64 Length = 0;
    EXPECT_EQ(MemoryStream_Length(Stream, &Length), 1);
    EXPECT_EQ(Length, 10);
}

TEST_F(MemoryStreamTest, QueueStyleTakesFromTheFront) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    EXPECT_EQ(Put("abcdefghij"), 10u);
    EXPECT_EQ(Position(), 0);
    uint32 Count = 0;
    EXPECT_EQ(MemoryStream_Get(Stream, nullptr, 3, &Count), 1);
    EXPECT_EQ(Count, 3u);
    EXPECT_EQ(Data(), "defghij");
    char Buffer[4];
    EXPECT_EQ(MemoryStream_Get(Stream, Buffer, 4, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "defg");
    EXPECT_EQ(Data(), "hij");
    EXPECT_EQ(MemoryStream_DiscardBegin(Stream, 1), 1);
    EXPECT_EQ(MemoryStream_DiscardEnd(Stream, 1), 1);
    EXPECT_EQ(Data(), "i");
    EXPECT_EQ(MemoryStream_DiscardBegin(Stream, 1), 0);
    EXPECT_EQ(MemoryStream_Get(Stream, Buffer, 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
}

// Taking more than is held empties the stream instead of making Used negative.
TEST_F(MemoryStreamTest, DiscardsAndClaimsPastTheDataAreBounded) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Write("abcdef");
    EXPECT_EQ(MemoryStream_DiscardEnd(Stream, 100), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
    EXPECT_EQ(Position(), 0);
    Put("abcdef");
    EXPECT_EQ(MemoryStream_DiscardBegin(Stream, 100), 0);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
    Put("abcdef");
    uint32 Count = 0;
    EXPECT_EQ(MemoryStream_Get(Stream, nullptr, 100, &Count), 1);
    EXPECT_EQ(Count, 6u);
    EXPECT_EQ(MemoryStream_DiscardEnd(Stream, -5), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
    ExpectInvariants();

    // Claim counts bytes written behind the data, but not past Size.
    Put("ab");
    char *Room = nullptr;
    ASSERT_EQ(MemoryStream_GetAvailablePointer(Stream, &Room), 1);
    memcpy(Room, "cd", 2);
    MemoryStream_ReleasePointer(Stream, &Room);
    EXPECT_EQ(Room, nullptr);
    EXPECT_EQ(MemoryStream_Claim(Stream, 2), 1);
    EXPECT_EQ(Data(), "abcd");
    const int32 Available = MemoryStream_GetAvailable(Stream);
    EXPECT_EQ(MemoryStream_Claim(Stream, Available + 1), 0);
    EXPECT_EQ(MemoryStream_Claim(Stream, -1), 0);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 4);
    EXPECT_EQ(MemoryStream_Claim(Stream, Available), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), MemoryStream_GetSize(Stream));
}

TEST_F(MemoryStreamTest, FillRespectsTheDestinationBound) {
    MemoryStream *Source = nullptr;
    MemoryStream_Create(&Source);
    MemoryStream_SetAutoGrow(Source, TRUE);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetMaxCapacity(Stream, 10);
    uint32 Count = 0;
    MemoryStream_Put(Source, "0123456789abcdefghij", 20, &Count);
    Put("WXYZ");
    EXPECT_EQ(MemoryStream_Fill(Stream, Source), 1);
    EXPECT_EQ(Data(), "WXYZ012345");
    EXPECT_EQ(MemoryStream_GetUsed(Source), 14);
    // Full: nothing moves.
    EXPECT_EQ(MemoryStream_Fill(Stream, Source), 0);
    EXPECT_EQ(Data(), "WXYZ012345");
    EXPECT_EQ(MemoryStream_GetUsed(Source), 14);
    // From an empty source: 1, unless the destination is full.
    MemoryStream_DiscardAll(Source);
    EXPECT_EQ(MemoryStream_Fill(Stream, Source), 0);
    MemoryStream_DiscardAll(Stream);
    EXPECT_EQ(MemoryStream_Fill(Stream, Source), 1);
    // Without a bound everything moves.
    MemoryStream_SetMaxCapacity(Stream, 0);
    MemoryStream_Put(Source, "abc", 3, &Count);
    EXPECT_EQ(MemoryStream_Fill(Stream, Source), 1);
    EXPECT_EQ(Data(), "abc");
    EXPECT_EQ(MemoryStream_GetUsed(Source), 0);
    EXPECT_EQ(MemoryStream_Fill(Stream, Stream), 0);
    MemoryStream_Delete(&Source);
}

TEST_F(MemoryStreamTest, ForeignBlockNeverGrows) {
    std::vector<char> Block(120, '.');
    memcpy(Block.data(), "0123456789", 10);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    EXPECT_EQ(MemoryStream_SetPointer(Stream, Block.data(), 10, 100), 1);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 10);
    EXPECT_EQ(Position(), 0);
    const std::string Big = Pattern(200, 5);
    EXPECT_EQ(Write(Big), 100u);
    EXPECT_EQ(MemoryStream_GetCapacity(Stream), 100);
    EXPECT_EQ(std::string(Block.data(), 100), Big.substr(0, 100));
    EXPECT_EQ(std::string(Block.data() + 100, 20), std::string(20, '.'));
    EXPECT_EQ(MemoryStream_Size(Stream, 500, 1, 0), 0);
    EXPECT_EQ(MemoryStream_Print(Stream, "%s", "x"), 0);
    // Closing drops the block without freeing it (ASan would object).
    EXPECT_EQ(MemoryStream_Close(Stream), 1);
    EXPECT_EQ(MemoryStream_IsOpen(Stream), 0);
    EXPECT_EQ(MemoryStream_SetPointer(Stream, Block.data(), 101, 100), 0);
    EXPECT_EQ(MemoryStream_SetPointer(Stream, Block.data(), -1, 100), 0);
    EXPECT_EQ(MemoryStream_SetPointer(Stream, Block.data(), 3, 100), 1);
    EXPECT_EQ(MemoryStream_SetPointer(Stream, nullptr, 0, 0), 1);
    EXPECT_EQ(MemoryStream_IsOpen(Stream), 0);
    // The stream owns buffers again after a foreign one.
    EXPECT_EQ(Write("abc"), 3u);
    EXPECT_EQ(Data(), "abc");
}

TEST_F(MemoryStreamTest, ReadToWriteCallbackDropsWhatWasTaken) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    int32 Count = -1;
    int Calls = 0;
    auto Take3 = [](void *User, uint8 *Pointer, int32 Bytes, int32 *Done) -> int32 {
        ++*static_cast<int *>(User);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(Pointer), (size_t)Bytes), "abcdef");
        *Done = 3;
        return 1;
    };
    EXPECT_EQ(MemoryStream_ReadToWriteCallback(Stream, &Calls, Take3, &Count), 1);
    EXPECT_EQ(Calls, 0);
    EXPECT_EQ(Count, 0);
    Put("abcdef");
    EXPECT_EQ(MemoryStream_ReadToWriteCallback(Stream, &Calls, Take3, &Count), 1);
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(Data(), "def");

    auto Refuse = [](void *, uint8 *, int32, int32 *Done) -> int32 {
        *Done = 2;
        return 0;
    };
    EXPECT_EQ(MemoryStream_ReadToWriteCallback(Stream, nullptr, Refuse, &Count), 0);
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(Data(), "def");
    auto Overclaim = [](void *, uint8 *, int32, int32 *Done) -> int32 {
        *Done = 1000;
        return 1;
    };
    EXPECT_EQ(MemoryStream_ReadToWriteCallback(Stream, nullptr, Overclaim, &Count), 1);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 0);
}

// Produced bytes land behind the data: a queue's unconsumed bytes survive.
TEST_F(MemoryStreamTest, WriteFromReadCallbackAppendsWithinTheRoom) {
    MemoryStream_Size(Stream, 16, 0, 0);
    Put("12345");
    int32 Count = -1;
    auto Produce = [](void *, uint8 *Pointer, int32 Bytes, int32 *Done) -> int32 {
        EXPECT_EQ(Bytes, 11);
        memcpy(Pointer, "abc", 3);
        *Done = 3;
        return 1;
    };
    EXPECT_EQ(MemoryStream_WriteFromReadCallback(Stream, nullptr, Produce, &Count), 1);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(Data(), "12345abc");
    auto Overclaim = [](void *, uint8 *Pointer, int32 Bytes, int32 *Done) -> int32 {
        memset(Pointer, 'z', (size_t)Bytes);
        *Done = Bytes + 50;
        return 1;
    };
    EXPECT_EQ(MemoryStream_WriteFromReadCallback(Stream, nullptr, Overclaim, &Count), 1);
    EXPECT_EQ(Count, 8);
    EXPECT_EQ(Data(), "12345abczzzzzzzz");
    ExpectInvariants();
}

TEST_F(MemoryStreamTest, TransactionRollbackDropsWhatWasAdded) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetAllowLock(Stream, TRUE);
    const std::string Twenty = Pattern(20, 6);
    Put(Twenty);
    EXPECT_EQ(MemoryStream_TransactionStart(Stream), 1);
    EXPECT_EQ(MemoryStream_TransactionActive(Stream), 1);
    Put("12345");
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 25);
    EXPECT_EQ(MemoryStream_TransactionEnd(Stream, 1), 1);
    EXPECT_EQ(MemoryStream_TransactionActive(Stream), 0);
    EXPECT_EQ(Data(), Twenty);

    MemoryStream_TransactionStart(Stream);
    Put("12345");
    MemoryStream_TransactionEnd(Stream, 0);
    EXPECT_EQ(Data(), Twenty + "12345");

    // Bytes taken from the front during the transaction: the rollback keeps
    // no more than what is still there.
    MemoryStream_TransactionStart(Stream);
    MemoryStream_DiscardBegin(Stream, 24);
    MemoryStream_TransactionEnd(Stream, 1);
    EXPECT_EQ(Data(), "5");
    ExpectInvariants();
}

TEST_F(MemoryStreamDeathTest, TransactionMisuseIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MemoryStream_TransactionStart(Stream);
            MemoryStream_TransactionStart(Stream);
        },
        ::testing::KilledBySignal(SIGILL),
        "Assertion failed \\(MemoryStream->TransactionStart == -1\\)\nBuffer already in transaction");
    EXPECT_EXIT(MemoryStream_TransactionEnd(Stream, 0), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(MemoryStream->TransactionStart != -1\\)\nBuffer not in transaction");
}

TEST_F(MemoryStreamTest, PinsCountAndRelease) {
    void *Pointer = reinterpret_cast<void *>(1);
    EXPECT_EQ(MemoryStream_GetPointer(Stream, &Pointer), 0);
    EXPECT_EQ(Pointer, nullptr);
    EXPECT_EQ(MemoryStream_GetPointerAt(Stream, 10, &Pointer), 0);
    EXPECT_EQ(Pointer, nullptr);
    MemoryStream_Size(Stream, 64, 0, 0);
    uint8 *First = nullptr, *Second = nullptr;
    EXPECT_EQ(MemoryStream_GetPointer(Stream, &First), 1);
    EXPECT_EQ(MemoryStream_GetPointerAt(Stream, 10, &Second), 1);
    EXPECT_EQ(Second, First + 10);
    EXPECT_EQ(MemoryStream_GetPointerAt(Stream, 65, &Pointer), 0);
    EXPECT_EQ(MemoryStream_GetPointerAt(Stream, -1, &Pointer), 0);
    MemoryStream_ReleasePointer(Stream, &First);
    MemoryStream_ReleasePointer(Stream, &Second);
    EXPECT_EQ(First, nullptr);
    // A released null pointer changes no count.
    EXPECT_EQ(MemoryStream_ReleasePointer(Stream, &First), 1);
    EXPECT_EQ(MemoryStream_Close(Stream), 1);
}

TEST_F(MemoryStreamDeathTest, ResettingPinnedBufferIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Write("abc");
    uint8 *Pointer = nullptr;
    MemoryStream_GetPointer(Stream, &Pointer);
    const char *Message = "Assertion failed \\(MemoryStream->RefCount == 0\\)\n"
                          "Reference to buffer not released before being reset \\[1\\]";
    EXPECT_EXIT(MemoryStream_Close(Stream), ::testing::KilledBySignal(SIGILL), Message);
    // Growing moves the buffer: also a reset.
    EXPECT_EXIT(Write(Pattern(5000, 7)), ::testing::KilledBySignal(SIGILL), Message);
    EXPECT_EXIT(MemoryStream_Delete(&Stream), ::testing::KilledBySignal(SIGILL), Message);
    MemoryStream_ReleasePointer(Stream, &Pointer);
}

TEST_F(MemoryStreamTest, StreamRecordReachesTheSlots) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    StreamStruct *Record = nullptr;
    ASSERT_EQ(MemoryStream_GetStreamHandle(Stream, &Record), 1);
    EXPECT_EQ(Record->Handle, Stream);
    EXPECT_FALSE(Stream_CanPeek(Record) || Stream_CanFlush(Record) || Stream_CanReadAsync(Record) ||
                 Stream_CanWriteAsync(Record));
    uint32 Count = 0;
    EXPECT_EQ(Stream_Write(Record, "stream", 6, &Count), 1);
    EXPECT_EQ(Stream_Seek(Record, 1, STREAM_SEEK_SET), 1);
    char Buffer[8];
    EXPECT_EQ(Stream_Read(Record, Buffer, 8, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "tream");
    int64 Value = 0;
    EXPECT_EQ(Stream_Tell(Record, &Value), 1);
    EXPECT_EQ(Value, 6);
    EXPECT_EQ(Stream_Length(Record, &Value), 1);
    EXPECT_EQ(Value, 6);
    EXPECT_EQ(Stream_IsOpen(Record), 1);
    EXPECT_EQ(Stream_Close(Record), 1);
    EXPECT_EQ(Stream_IsOpen(Record), 0);
}

TEST_F(MemoryStreamTest, ReferencesDeleteOnLastRelease) {
    MemoryStream_SetAllowLock(Stream, TRUE);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Write("abc");
    EXPECT_EQ(MemoryStream_AddRef(Stream), Stream);
    MemoryStream *Other = Stream;
    MemoryStream_Release(&Other);
    EXPECT_EQ(MemoryStream_GetUsed(Stream), 3);
    MemoryStream_Release(&Stream);
    EXPECT_EQ(Stream, nullptr);
}

// Transactions hold the lock: a consumer never sees half of a record that
// the producer puts in two pieces.
TEST_F(MemoryStreamTest, TransactionsAreAtomicForOtherThreads) {
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetAllowLock(Stream, TRUE);
    constexpr int Records = 20000;
    std::atomic<bool> Done{false};
    std::thread Producer([&] {
        uint32 Count = 0;
        for (int Index = 0; Index < Records; Index++) {
            MemoryStream_TransactionStart(Stream);
            const uint32 Value = (uint32)Index;
            MemoryStream_Put(Stream, &Value, 2, &Count);
            MemoryStream_Put(Stream, reinterpret_cast<const uint8 *>(&Value) + 2, 2, &Count);
            MemoryStream_TransactionEnd(Stream, 0);
        }
        Done = true;
    });
    int Expected = 0;
    bool Torn = false;
    while (Expected < Records) {
        MemoryStream_Lock(Stream);
        const int32 Used = MemoryStream_GetUsed(Stream);
        if (Used % 4 != 0) Torn = true;
        std::vector<uint32> Values((size_t)Used / 4);
        uint32 Count = 0;
        if (Used >= 4) MemoryStream_Get(Stream, Values.data(), (uint32)Values.size() * 4, &Count);
        MemoryStream_Unlock(Stream);
        for (uint32 Value : Values) {
            if (Value != (uint32)Expected) Torn = true;
            Expected++;
        }
        if (Torn || (Done && MemoryStream_GetUsed(Stream) == 0 && Expected < Records)) break;
    }
    Producer.join();
    EXPECT_FALSE(Torn);
    EXPECT_EQ(Expected, Records);
}

// A seeded random run of both styles against a plain string model.
TEST_F(MemoryStreamTest, RandomOperationsMatchAModel) {
    std::mt19937 Random(1310);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    MemoryStream_SetMaxCapacity(Stream, 20000);
    std::string Model;
    int64 At = 0;
    for (int Step = 0; Step < 20000; Step++) {
        const uint32 Length = Random() % 700;
        const std::string Bytes = Pattern(Length, Random());
        uint32 Count = 0;
        switch (Random() % 7) {
        case 0: {
            MemoryStream_Write(Stream, Bytes.data(), Length, &Count);
            ASSERT_LE(Count, Length);
            Model.replace((size_t)At, std::min<size_t>(Count, Model.size() - (size_t)At), Bytes.substr(0, Count));
            At += Count;
            break;
        }
        case 1: {
            MemoryStream_Put(Stream, Bytes.data(), Length, &Count);
            Model += Bytes.substr(0, Count);
            break;
        }
        case 2: {
            std::string Buffer(Length, '\0');
            MemoryStream_Read(Stream, Buffer.data(), Length, &Count);
            ASSERT_EQ(Buffer.substr(0, Count), Model.substr((size_t)At, Count));
            ASSERT_EQ(Count, std::min<uint32>(Length, (uint32)(Model.size() - At)));
            At += Count;
            break;
        }
        case 3: {
            std::string Buffer(Length, '\0');
            MemoryStream_Get(Stream, Length % 2 ? Buffer.data() : nullptr, Length, &Count);
            ASSERT_EQ(Count, std::min<uint32>(Length, (uint32)Model.size()));
            if (Length % 2) {
                ASSERT_EQ(Buffer.substr(0, Count), Model.substr(0, Count));
            }
            Model.erase(0, Count);
            At = std::min<int64>(At, (int64)Model.size());
            break;
        }
        case 4: {
            const int64 Target = (int64)(Random() % (Model.size() + 10));
            const int32 Result = MemoryStream_Seek(Stream, Target, STREAM_SEEK_SET);
            ASSERT_EQ(Result, Target <= (int64)Model.size());
            if (Result) At = Target;
            break;
        }
        case 5: {
            const int32 Bytes32 = (int32)(Length % 50);
            MemoryStream_DiscardEnd(Stream, Bytes32);
            Model.resize(Model.size() - std::min<size_t>(Model.size(), (size_t)Bytes32));
            At = std::min<int64>(At, (int64)Model.size());
            break;
        }
        default: {
            const bool Rollback = Random() % 2;
            MemoryStream_TransactionStart(Stream);
            MemoryStream_Put(Stream, Bytes.data(), Length, &Count);
            MemoryStream_TransactionEnd(Stream, Rollback);
            if (!Rollback) Model += Bytes.substr(0, Count);
            break;
        }
        }
        ASSERT_EQ(Position(), At);
        ASSERT_EQ(MemoryStream_GetUsed(Stream), (int32)Model.size());
        ASSERT_LE(MemoryStream_GetCapacity(Stream), 20000);
        if (Step % 97 == 0) {
            ASSERT_EQ(Data(), Model);
        }
    }
    EXPECT_EQ(Data(), Model);
}

} // namespace
