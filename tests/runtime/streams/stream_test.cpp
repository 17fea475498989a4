// Stream interface: empty slots, the handle passed to slots, null-pointer
// stops, typed writes and reads against Python's struct, formatted writes,
// and the two copies (including sources that never run out and sources that
// deliver their last bytes with a failing read).
#include "runtime/streams/stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/streams/memory_stream.h"
#include "runtime/streams/stream_view.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

// A stream with scripted slots: reads hand out Data in pieces of at most
// ReadLimit bytes; writes append to Written up to WriteLimit bytes per call.
struct ScriptedStream {
    StreamStruct Record{};
    std::string Data;
    size_t ReadAt = 0;
    uint32 ReadLimit = UINT32_MAX;
    bool AlwaysEmptySuccess = false; // every read answers 1 with count 0
    bool FailLastPiece = false;      // the piece that reaches the end answers 0
    std::vector<uint32> ReadRequests;
    std::string Written;
    uint32 WriteLimit = UINT32_MAX;
    int32 Calls = 0;

    ScriptedStream() {
        Record.Handle = this;
        Record.Read = [](void *Handle, void *Buffer, uint32 Length, uint32 *Count) -> int32 {
            auto *Self = static_cast<ScriptedStream *>(Handle);
            Self->Calls++;
            Self->ReadRequests.push_back(Length);
            if (Self->AlwaysEmptySuccess) return 1;
            const size_t Bytes = std::min<size_t>({Length, Self->ReadLimit, Self->Data.size() - Self->ReadAt});
            memcpy(Buffer, Self->Data.data() + Self->ReadAt, Bytes);
            Self->ReadAt += Bytes;
            *Count = (uint32)Bytes;
            if (Self->FailLastPiece && Self->ReadAt == Self->Data.size()) return 0;
            return Bytes > 0;
        };
        Record.Write = [](void *Handle, const void *Buffer, uint32 Length, uint32 *Count) -> int32 {
            auto *Self = static_cast<ScriptedStream *>(Handle);
            const uint32 Bytes = std::min(Length, Self->WriteLimit);
            Self->Written.append(static_cast<const char *>(Buffer), Bytes);
            *Count = Bytes;
            return 1;
        };
    }
};

std::string RandomBytes(size_t Size, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Size, '\0');
    for (char &Byte : Bytes) Byte = (char)(Random() & 0xff);
    return Bytes;
}

// A memory stream holding Bytes, positioned at 0.
MemoryStream *MemoryWith(const std::string &Bytes) {
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    uint32 Count = 0;
    if (!Bytes.empty()) MemoryStream_Write(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
    MemoryStream_Seek(Stream, 0, STREAM_SEEK_SET);
    return Stream;
}

std::string Contents(MemoryStream *Stream) {
    uint8 *Data = nullptr;
    if (!MemoryStream_GetPointer(Stream, &Data)) return "";
    std::string Bytes(reinterpret_cast<char *>(Data), (size_t)MemoryStream_GetUsed(Stream));
    MemoryStream_ReleasePointer(Stream, &Data);
    return Bytes;
}

StreamStruct *RecordOf(MemoryStream *Stream) {
    StreamStruct *Record = nullptr;
    MemoryStream_GetStreamHandle(Stream, &Record);
    return Record;
}

class StreamTest : public RuntimeTest {};
using StreamDeathTest = StreamTest;

TEST_F(StreamTest, EmptySlotsAnswerZeroAndChangeNothing) {
    StreamStruct Empty{};
    for (auto Can : {Stream_CanPeek, Stream_CanWrite, Stream_CanWriteAsync, Stream_CanRead, Stream_CanReadAsync,
                     Stream_CanSeek, Stream_CanFlush, Stream_CanTell, Stream_CanLength, Stream_CanIsOpen,
                     Stream_CanClose})
        EXPECT_EQ(Can(&Empty), 0);
    EXPECT_EQ(Stream_Seek(&Empty, 5, STREAM_SEEK_SET), 0);
    EXPECT_EQ(Stream_Flush(&Empty), 0);
    EXPECT_EQ(Stream_IsOpen(&Empty), 0);
    EXPECT_EQ(Stream_Close(&Empty), 0);
    int64 Position = 77, Length = 77;
    EXPECT_EQ(Stream_Tell(&Empty, &Position), 0);
    EXPECT_EQ(Position, 0);
    EXPECT_EQ(Stream_Length(&Empty, &Length), 0);
    EXPECT_EQ(Length, 0);
    char Buffer[4] = {'x', 'x', 'x', 'x'};
    uint32 Count = 9;
    EXPECT_EQ(Stream_Read(&Empty, Buffer, 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
    Count = 9;
    EXPECT_EQ(Stream_Peek(&Empty, Buffer, 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
    Count = 9;
    EXPECT_EQ(Stream_Write(&Empty, Buffer, 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(Stream_WriteAsync(&Empty, 0, Buffer, 4, nullptr, nullptr), 0);
    EXPECT_EQ(Stream_ReadAsync(&Empty, 0, Buffer, 4, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(Buffer, 4), "xxxx");
}

// Every slot receives the record's Handle first and the caller's arguments
// unchanged, and the generic operation answers what the slot answered.
TEST_F(StreamTest, SlotsReceiveTheHandleAndArguments) {
    struct Seen {
        void *Handle = nullptr;
        int64 Offset = 0;
        int32 Origin = 0;
        void *Callback = nullptr;
        void *User = nullptr;
    } Last;
    StreamStruct Record{};
    Record.Handle = &Last;
    Record.Seek = [](void *H, int64 Offset, int32 Origin) -> int32 {
        auto *S = static_cast<Seen *>(H);
        S->Handle = H;
        S->Offset = Offset;
        S->Origin = Origin;
        return 7;
    };
    Record.Tell = [](void *, int64 *Position) -> int32 {
        *Position = -12345678901234;
        return 1;
    };
    Record.ReadAsync = [](void *H, int64 Offset, void *, uint32, void *Callback, void *User) -> int32 {
        auto *S = static_cast<Seen *>(H);
        S->Offset = Offset;
        S->Callback = Callback;
        S->User = User;
        return 1;
    };
    EXPECT_EQ(Stream_Seek(&Record, -40, STREAM_SEEK_END), 7);
    EXPECT_EQ(Last.Handle, &Last);
    EXPECT_EQ(Last.Offset, -40);
    EXPECT_EQ(Last.Origin, 2);
    int64 Position = 0;
    EXPECT_EQ(Stream_Tell(&Record, &Position), 1);
    EXPECT_EQ(Position, -12345678901234);
    char Buffer[1];
    int Marker = 0;
    EXPECT_EQ(Stream_ReadAsync(&Record, 1LL << 40, Buffer, 1, &Marker, &Last), 1);
    EXPECT_EQ(Last.Offset, 1LL << 40);
    EXPECT_EQ(Last.Callback, &Marker);
    EXPECT_EQ(Last.User, &Last);
}

TEST_F(StreamDeathTest, NullBuffersAndOutValuesAreFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    StreamStruct Empty{};
    char Buffer[4];
    uint32 Count = 0;
    int32 Value = 0;
    EXPECT_EXIT(Stream_Read(&Empty, nullptr, 4, &Count), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_Read(&Empty, Buffer, 4, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_Write(&Empty, nullptr, 4, &Count), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_Peek(&Empty, Buffer, 4, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_WriteAsync(&Empty, 0, nullptr, 4, nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EXIT(Stream_ReadAsync(&Empty, 0, nullptr, 4, nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EXIT(Stream_Tell(&Empty, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_Length(&Empty, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(Stream_ReadInt32(&Empty, &Value, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

TEST_F(StreamTest, TypedWritesMatchPythonStruct) {
    std::mt19937_64 Random(130);
    MemoryStream *Stream = MemoryWith("");
    StreamStruct *Record = RecordOf(Stream);
    std::ostringstream Values;
    uint32 Count = 0;
    for (int Round = 0; Round < 50; Round++) {
        const uint64 Bits = Random();
        ASSERT_EQ(Stream_WriteInt16(Record, (int16)Bits, &Count), 1);
        EXPECT_EQ(Count, 2u);
        Stream_WriteUInt16(Record, (uint16)(Bits >> 16), &Count);
        ASSERT_EQ(Stream_WriteInt32(Record, (int32)Bits, &Count), 1);
        EXPECT_EQ(Count, 4u);
        Stream_WriteUInt32(Record, (uint32)(Bits >> 8), &Count);
        ASSERT_EQ(Stream_WriteInt64(Record, (int64)Bits, &Count), 1);
        EXPECT_EQ(Count, 8u);
        Stream_WriteUInt64(Record, ~Bits, &Count);
        Stream_WriteChar(Record, (int32)(Bits & 0xfff), &Count);
        EXPECT_EQ(Count, 1u);
        Values << (int16)Bits << ' ' << (uint16)(Bits >> 16) << ' ' << (int32)Bits << ' ' << (uint32)(Bits >> 8)
               << ' ' << (int64)Bits << ' ' << ~Bits << ' ' << (Bits & 0xff) << '\n';
    }
    const std::string Expected = RunPython("import struct, sys\n"
                                           "out = b''\n"
                                           "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                           "    v = [int(x) for x in line.split()]\n"
                                           "    out += struct.pack('<hHiIqQB', *v)\n"
                                           "print(out.hex())\n",
                                           Values.str());
    EXPECT_EQ(ToHex(Contents(Stream)) + "\n", Expected);
    MemoryStream_Delete(&Stream);
}

TEST_F(StreamTest, WriteInt16PutsTheLowByteFirst) {
    MemoryStream *Stream = MemoryWith("");
    uint32 Count = 0;
    EXPECT_EQ(Stream_WriteInt16(RecordOf(Stream), 0x1234, &Count), 1);
    EXPECT_EQ(ToHex(Contents(Stream)), "3412");
    EXPECT_EQ(Stream_WriteString(RecordOf(Stream), "ab\x01", &Count), 1);
    EXPECT_EQ(Count, 3u);
    EXPECT_EQ(ToHex(Contents(Stream)), "3412616201");
    MemoryStream_Delete(&Stream);
}

TEST_F(StreamTest, TypedReadsNeedTheWholeValue) {
    MemoryStream *Stream = MemoryWith(std::string("\x78\x56\x34\x12\xaa\xbb\xcc", 7));
    StreamStruct *Record = RecordOf(Stream);
    int32 Value = 0;
    uint32 Count = 0;
    EXPECT_EQ(Stream_ReadInt32(Record, &Value, &Count), 1);
    EXPECT_EQ(Value, 0x12345678);
    EXPECT_EQ(Count, 4u);
    // Three bytes left: not an Int32.
    EXPECT_EQ(Stream_ReadInt32(Record, &Value, &Count), 0);
    EXPECT_EQ(Count, 3u);
    EXPECT_EQ(Stream_ReadInt32(Record, &Value, &Count), 0);
    EXPECT_EQ(Count, 0u);

    MemoryStream_Seek(Stream, 4, STREAM_SEEK_SET);
    uint16 Half = 0;
    uint8 Byte = 0;
    EXPECT_EQ(Stream_ReadUInt16(Record, &Half, &Count), 1);
    EXPECT_EQ(Half, 0xbbaa);
    EXPECT_EQ(Stream_ReadChar(Record, &Byte, &Count), 1);
    EXPECT_EQ(Byte, 0xcc);
    EXPECT_EQ(Stream_ReadChar(Record, &Byte, &Count), 0);
    EXPECT_EQ(Count, 0u);
    MemoryStream_Delete(&Stream);
}

TEST_F(StreamTest, WritePrintWritesEveryPiece) {
    MemoryStream *Stream = MemoryWith("");
    EXPECT_EQ(Stream_WritePrint(RecordOf(Stream), "%s=%d;%lld|%05.1f", "key", -42, 1LL << 40, 2.5), 1);
    EXPECT_EQ(Contents(Stream), "key=-42;1099511627776|002.5");
    MemoryStream_Delete(&Stream);
}

// A text cut by a full stream is not reported as written.
TEST_F(StreamTest, WritePrintFailsWhenTheStreamFallsShort) {
    StreamView *View = nullptr;
    StreamView_Create(&View);
    char Block[8];
    StreamView_SetPointer(View, Block, 0, sizeof(Block));
    StreamStruct *Record = nullptr;
    StreamView_GetStreamHandle(View, &Record);
    EXPECT_EQ(Stream_WritePrint(Record, "%s%s", "1234", ""), 1);
    EXPECT_EQ(Stream_WritePrint(Record, "[%d]", 12345), 0);
    EXPECT_EQ(std::string(Block, 8), "1234[123");
    StreamView_Delete(&View);
}

TEST_F(StreamTest, CopyMovesEverythingFromThePosition) {
    const std::string Data = RandomBytes(50000, 131);
    MemoryStream *Source = MemoryWith(Data);
    MemoryStream *Destination = MemoryWith("");
    MemoryStream_Seek(Source, 1000, STREAM_SEEK_SET);
    EXPECT_EQ(Stream_Copy(RecordOf(Destination), RecordOf(Source)), 1);
    EXPECT_EQ(Contents(Destination), Data.substr(1000));
    MemoryStream_Delete(&Source);
    MemoryStream_Delete(&Destination);
}

TEST_F(StreamTest, CopyWithoutReadOrWriteSlots) {
    StreamStruct Empty{};
    ScriptedStream Sink;
    EXPECT_EQ(Stream_Copy(&Sink.Record, &Empty), 1);
    EXPECT_TRUE(Sink.Written.empty());
    ScriptedStream Source;
    Source.Data = "abc";
    EXPECT_EQ(Stream_Copy(&Empty, &Source.Record), 0);
    // An empty source is fine even without a destination Write.
    ScriptedStream Drained;
    EXPECT_EQ(Stream_Copy(&Empty, &Drained.Record), 1);
}

TEST_F(StreamTest, CopyFailsOnShortWrite) {
    ScriptedStream Source, Sink;
    Source.Data = RandomBytes(10000, 132);
    Sink.WriteLimit = 100;
    EXPECT_EQ(Stream_Copy(&Sink.Record, &Source.Record), 0);
    EXPECT_EQ(Sink.Written, Source.Data.substr(0, 100));
}

// A source whose reads succeed without bytes would keep both copies going
// forever: Stream_Copy treats it as the end, Stream_CopyLength as a failure.
TEST_F(StreamTest, SourceThatNeverDeliversEndsBothCopies) {
    ScriptedStream Source, Sink;
    Source.AlwaysEmptySuccess = true;
    EXPECT_EQ(Stream_Copy(&Sink.Record, &Source.Record), 1);
    EXPECT_EQ(Source.Calls, 1);
    Source.Calls = 0;
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Source.Record, 100), 0);
    EXPECT_EQ(Source.Calls, 1);
    EXPECT_TRUE(Sink.Written.empty());
}

// A buffered stream reports its last piece with result 0; those bytes are
// part of the source and must arrive.
TEST_F(StreamTest, CopyKeepsBytesOfAFailingLastRead) {
    ScriptedStream Source, Sink;
    Source.Data = RandomBytes(5000, 133);
    Source.FailLastPiece = true;
    EXPECT_EQ(Stream_Copy(&Sink.Record, &Source.Record), 1);
    EXPECT_EQ(Sink.Written, Source.Data);
}

TEST_F(StreamTest, CopyLengthReadsInPiecesOf16384) {
    ScriptedStream Source, Sink;
    Source.Data = RandomBytes(30000, 134);
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Source.Record, 20000), 1);
    EXPECT_EQ(Source.ReadRequests, (std::vector<uint32>{16384, 3616}));
    EXPECT_EQ(Sink.Written, Source.Data.substr(0, 20000));

    // A source that hands out less than asked is read again for the rest.
    ScriptedStream Slow, SlowSink;
    Slow.Data = Source.Data;
    Slow.ReadLimit = 1000;
    EXPECT_EQ(Stream_CopyLength(&SlowSink.Record, &Slow.Record, 2500), 1);
    EXPECT_EQ(Slow.ReadRequests, (std::vector<uint32>{2500, 1500, 500}));
    EXPECT_EQ(SlowSink.Written, Source.Data.substr(0, 2500));
}

TEST_F(StreamTest, CopyLengthEdges) {
    ScriptedStream Source, Sink;
    Source.Data = "0123456789";
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Source.Record, 0), 1);
    EXPECT_EQ(Source.Calls, 0);
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Source.Record, -1), 0);
    // More than the source holds.
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Source.Record, 11), 0);
    EXPECT_EQ(Sink.Written, "0123456789");

    StreamStruct Empty{};
    ScriptedStream Other;
    Other.Data = "abc";
    EXPECT_EQ(Stream_CopyLength(&Sink.Record, &Empty, 3), 0);
    EXPECT_EQ(Stream_CopyLength(&Empty, &Other.Record, 3), 0);

    ScriptedStream Short, ShortSink;
    Short.Data = "abcdef";
    ShortSink.WriteLimit = 2;
    EXPECT_EQ(Stream_CopyLength(&ShortSink.Record, &Short.Record, 6), 0);
}

TEST_F(StreamTest, CopyLengthIntoAViewStopsAtItsCapacity) {
    MemoryStream *Source = MemoryWith(RandomBytes(100, 135));
    StreamView *View = nullptr;
    StreamView_Create(&View);
    char Block[40];
    StreamView_SetPointer(View, Block, 0, sizeof(Block));
    StreamStruct *Record = nullptr;
    StreamView_GetStreamHandle(View, &Record);
    EXPECT_EQ(Stream_CopyLength(Record, RecordOf(Source), 100), 0);
    MemoryStream_Seek(Source, 0, STREAM_SEEK_SET);
    StreamView_SetPointer(View, Block, 0, sizeof(Block));
    EXPECT_EQ(Stream_CopyLength(Record, RecordOf(Source), 40), 1);
    EXPECT_EQ(std::string(Block, 40), Contents(Source).substr(0, 40));
    StreamView_Delete(&View);
    MemoryStream_Delete(&Source);
}

TEST_F(StreamTest, ErrorStateAndBase) {
    StreamStruct Record{}, Base{};
    EXPECT_EQ(Stream_HasError(&Record), 0);
    EXPECT_EQ(Stream_SetLastError(&Record, -5), 1);
    EXPECT_EQ(Stream_HasError(&Record), 0);
    EXPECT_EQ(Stream_GetLastError(&Record), -5);
    Stream_SetLastError(&Record, 13);
    EXPECT_EQ(Stream_HasError(&Record), 1);
    EXPECT_EQ(Stream_ClearLastError(&Record), 1);
    EXPECT_EQ(Stream_GetLastError(&Record), 0);
    EXPECT_EQ(Stream_SetBaseStreamHandle(&Record, &Base), 1);
    EXPECT_EQ(Record.BaseStreamHandle, &Base);
}

} // namespace
