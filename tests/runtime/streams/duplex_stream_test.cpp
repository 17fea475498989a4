// Duplex stream: the 1 MiB bound per side (filled to the last byte under
// ASan), fills between streams, transactions rolled back after a failed put,
// formatted puts, pointers, and the independence of the two sides' locks.
#include "runtime/streams/duplex_stream.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <random>
#include <string>
#include <thread>

#include "tests/support/runtime.h"

namespace {

constexpr int32 Bound = 1048576;

class DuplexStreamTest : public RuntimeTest {
  protected:
    DuplexStream *Stream = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        DuplexStream_Create(&Stream);
    }
    void TearDown() override {
        if (Stream != nullptr) DuplexStream_Delete(&Stream);
        RuntimeTest::TearDown();
    }
};

std::string Pattern(size_t Size, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Size, '\0');
    for (char &Byte : Bytes) Byte = (char)(Random() & 0xff);
    return Bytes;
}

int32 Used(DuplexStream *Stream, bool ReadSide) {
    int32 Bytes = -1;
    if (ReadSide)
        DuplexStream_ReadGetBufferUsed(Stream, &Bytes);
    else
        DuplexStream_WriteGetBufferUsed(Stream, &Bytes);
    return Bytes;
}

int32 Left(DuplexStream *Stream, bool ReadSide) {
    int32 Bytes = -1;
    if (ReadSide)
        DuplexStream_ReadGetBufferLeft(Stream, &Bytes);
    else
        DuplexStream_WriteGetBufferLeft(Stream, &Bytes);
    return Bytes;
}

std::string ReadSideBytes(DuplexStream *Stream) {
    char *Pointer = nullptr;
    int32 Count = 0;
    if (!DuplexStream_ReadGetPointer(Stream, &Pointer, &Count)) return "";
    std::string Bytes(Pointer, (size_t)Count);
    DuplexStream_ReadReleasePointer(Stream, &Pointer);
    return Bytes;
}

TEST_F(DuplexStreamTest, FreshStreamHasTheWholeBoundOnEachSide) {
    EXPECT_EQ(Left(Stream, true), Bound);
    EXPECT_EQ(Left(Stream, false), Bound);
    EXPECT_EQ(Used(Stream, true), 0);
    EXPECT_EQ(Used(Stream, false), 0);
    int32 Allow = 0;
    DuplexStream_GetAllowLock(Stream, &Allow);
    EXPECT_EQ(Allow, 1);
    EXPECT_EQ(DuplexStream_ReadLock(Stream), 1);
    EXPECT_EQ(DuplexStream_ReadUnlock(Stream), 1);
    MemoryStream *Read = nullptr, *Write = nullptr;
    EXPECT_EQ(DuplexStream_GetReadMemoryStreamHandle(Stream, &Read), 1);
    EXPECT_EQ(DuplexStream_GetWriteMemoryStreamHandle(Stream, &Write), 1);
    EXPECT_NE(Read, Write);
}

TEST_F(DuplexStreamTest, PutsAndGetsStayOnTheirSide) {
    EXPECT_EQ(DuplexStream_WritePut(Stream, "abc", 0), 0);
    EXPECT_EQ(DuplexStream_WritePut(Stream, "request", 7), 1);
    EXPECT_EQ(DuplexStream_ReadPut(Stream, "reply", 5), 1);
    EXPECT_EQ(Used(Stream, false), 7);
    EXPECT_EQ(Used(Stream, true), 5);
    EXPECT_EQ(Left(Stream, false), Bound - 7);
    char Buffer[16];
    uint32 Count = 0;
    EXPECT_EQ(DuplexStream_WriteGet(Stream, Buffer, 3, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "req");
    EXPECT_EQ(DuplexStream_ReadGet(Stream, nullptr, 2, &Count), 1);
    EXPECT_EQ(ReadSideBytes(Stream), "ply");
    EXPECT_EQ(DuplexStream_ReadPutFormat(Stream, "%s %d", "x", 7), 1);
    EXPECT_EQ(DuplexStream_WritePutFormat(Stream, "|%04d", 12), 1);
    EXPECT_EQ(ReadSideBytes(Stream), "plyx 7");
    EXPECT_EQ(DuplexStream_WriteGet(Stream, Buffer, 16, &Count), 1);
    EXPECT_EQ(std::string(Buffer, Count), "uest|0012");
    EXPECT_EQ(DuplexStream_Reset(Stream), 1);
    EXPECT_EQ(Used(Stream, true) + Used(Stream, false), 0);
}

// Puts up to the bound take exactly what is left and never write past the
// side's buffer, whatever the piece size.
TEST_F(DuplexStreamTest, PutsAtTheBoundTakeWhatIsLeft) {
    for (uint32 PieceSize : {1000u, 4096u, 65537u, 300000u}) {
        SCOPED_TRACE(PieceSize);
        DuplexStream_Reset(Stream);
        MemoryStream *Side = nullptr;
        DuplexStream_GetReadMemoryStreamHandle(Stream, &Side);
        const std::string Piece = Pattern(PieceSize, PieceSize);
        std::string Expected;
        while (Left(Stream, true) > 0) {
            const int32 Before = Used(Stream, true);
            ASSERT_EQ(DuplexStream_ReadPut(Stream, Piece.data(), PieceSize), 1);
            Expected += Piece.substr(0, (size_t)(Used(Stream, true) - Before));
            ASSERT_LE(MemoryStream_GetSize(Side), MemoryStream_GetCapacity(Side));
        }
        EXPECT_EQ(Used(Stream, true), Bound);
        EXPECT_EQ(DuplexStream_ReadPut(Stream, Piece.data(), PieceSize), 0);
        EXPECT_EQ(DuplexStream_ReadPutFormat(Stream, "%s", "more"), 0);
        EXPECT_LE(MemoryStream_GetCapacity(Side), Bound);
        EXPECT_EQ(ReadSideBytes(Stream), Expected);
    }
}

TEST_F(DuplexStreamTest, FillIntoAFullSideLeavesBothUnchanged) {
    DuplexStream *Other = nullptr;
    DuplexStream_Create(&Other);
    const std::string Full = Pattern(Bound, 1);
    ASSERT_EQ(DuplexStream_ReadPut(Stream, Full.data(), Bound), 1);
    ASSERT_EQ(Used(Stream, true), Bound);
    DuplexStream_ReadPut(Other, "pending", 7);
    EXPECT_EQ(DuplexStream_ReadFill(Stream, Other), 0);
    EXPECT_EQ(Used(Other, true), 7);
    EXPECT_EQ(ReadSideBytes(Stream), Full);

    // With room, the other side's bytes move over.
    DuplexStream_WritePut(Other, "out", 3);
    EXPECT_EQ(DuplexStream_WriteFill(Stream, Other), 1);
    EXPECT_EQ(Used(Other, false), 0);
    EXPECT_EQ(Used(Stream, false), 3);
    DuplexStream_Delete(&Other);
}

TEST_F(DuplexStreamTest, RollbackAfterAFailedPutRestoresTheSide) {
    const std::string Before = Pattern(Bound - 5, 2);
    ASSERT_EQ(DuplexStream_WritePut(Stream, Before.data(), (uint32)Before.size()), 1);
    EXPECT_EQ(DuplexStream_WriteTransactionStart(Stream), 1);
    EXPECT_EQ(DuplexStream_WriteTransactionActive(Stream), 1);
    EXPECT_EQ(DuplexStream_ReadTransactionActive(Stream), 0);
    EXPECT_EQ(DuplexStream_WritePut(Stream, "head:", 5), 1);
    EXPECT_EQ(DuplexStream_WritePut(Stream, "body", 4), 0);
    EXPECT_EQ(DuplexStream_WriteTransactionEnd(Stream, 1), 1);
    EXPECT_EQ(DuplexStream_WriteTransactionActive(Stream), 0);
    EXPECT_EQ(Used(Stream, false), Bound - 5);
    MemoryStream *Side = nullptr;
    DuplexStream_GetWriteMemoryStreamHandle(Stream, &Side);
    char *Pointer = nullptr;
    int32 Count = 0;
    ASSERT_EQ(DuplexStream_WriteGetPointer(Stream, &Pointer, &Count), 1);
    EXPECT_EQ(std::string(Pointer, (size_t)Count), Before);
    DuplexStream_WriteReleasePointer(Stream, &Pointer);

    EXPECT_EQ(DuplexStream_ReadTransactionStart(Stream), 1);
    DuplexStream_ReadPut(Stream, "kept", 4);
    EXPECT_EQ(DuplexStream_ReadTransactionEnd(Stream, 0), 1);
    EXPECT_EQ(ReadSideBytes(Stream), "kept");
}

// One thread holds the write side's lock (a transaction) while another fills
// the read side: the sides never wait for each other.
TEST_F(DuplexStreamTest, SidesLockIndependently) {
    std::promise<void> Holding, Release;
    std::shared_future<void> ReleaseSignal = Release.get_future().share();
    std::thread Writer([&] {
        DuplexStream_WriteTransactionStart(Stream);
        DuplexStream_WritePut(Stream, "partial", 7);
        Holding.set_value();
        ReleaseSignal.wait();
        DuplexStream_WriteTransactionEnd(Stream, 0);
    });
    Holding.get_future().wait();
    EXPECT_EQ(DuplexStream_ReadPut(Stream, "incoming", 8), 1);
    EXPECT_EQ(ReadSideBytes(Stream), "incoming");
    EXPECT_EQ(DuplexStream_ReadLock(Stream), 1);
    DuplexStream_ReadUnlock(Stream);
    Release.set_value();
    Writer.join();
    EXPECT_EQ(Used(Stream, false), 7);
}

// The network side asks how much room is left before each put while the
// protocol side takes bytes from the front: the room query reads the side
// under its lock (ThreadSanitizer reports the unlocked read), every byte
// arrives once and in order, and the room never exceeds the bound.
TEST_F(DuplexStreamTest, RoomQueriesRaceNeitherPutsNorGets) {
    constexpr int32 Total = 1 << 20;
    const std::string Bytes = Pattern(Total, 3);
    std::atomic<bool> RoomTooLarge{false};
    std::thread Network([&] {
        int32 Sent = 0;
        while (Sent < Total) {
            const int32 Room = Left(Stream, true);
            if (Room > Bound) RoomTooLarge = true;
            const int32 Piece = std::min({Room, Total - Sent, 3000});
            if (Piece > 0 && DuplexStream_ReadPut(Stream, Bytes.data() + Sent, (uint32)Piece)) Sent += Piece;
        }
    });
    std::string Received;
    char Buffer[4096];
    while ((int32)Received.size() < Total) {
        uint32 Count = 0;
        if (Left(Stream, true) > Bound) RoomTooLarge = true;
        if (DuplexStream_ReadGet(Stream, Buffer, sizeof(Buffer), &Count)) Received.append(Buffer, Count);
    }
    Network.join();
    EXPECT_FALSE(RoomTooLarge);
    EXPECT_TRUE(Received == Bytes);
}

TEST_F(DuplexStreamTest, LockSettingReachesBothSides) {
    DuplexStream_SetAllowLock(Stream, FALSE);
    int32 Allow = -1;
    DuplexStream_GetAllowLock(Stream, &Allow);
    EXPECT_EQ(Allow, 0);
    EXPECT_EQ(DuplexStream_ReadLock(Stream), 0);
    EXPECT_EQ(DuplexStream_WriteLock(Stream), 0);
    EXPECT_EQ(DuplexStream_WriteUnlock(Stream), 0);
    DuplexStream_SetAllowLock(Stream, TRUE);
    EXPECT_EQ(DuplexStream_WriteLock(Stream), 1);
    EXPECT_EQ(DuplexStream_WriteUnlock(Stream), 1);
    DuplexStream *Extra = DuplexStream_AddRef(Stream);
    DuplexStream_Release(&Extra);
    EXPECT_EQ(Extra, nullptr);
    EXPECT_EQ(DuplexStream_ReadPut(Stream, "x", 1), 1);
}

} // namespace
