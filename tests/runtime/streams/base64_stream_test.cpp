// Base64Stream over a real MemoryStream: reads and writes in odd chunk sizes
// across the 1,024-byte buffer compared with Python's base64, groups split
// between Write calls, short and refused base writes, the seek to the start,
// the end of the text ending Stream_Copy in both directions, and the slots
// that pass through to the base.
#include "runtime/streams/base64_stream.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/streams/memory_stream.h"
#include "runtime/streams/null_stream.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

// Lengths around the buffer's edges (1,024 bytes = 341 groups and 1 byte).
const std::vector<size_t> Lengths = {0, 1, 2, 3, 4, 5, 1021, 1022, 1023, 1024, 1025, 1026, 2047, 2048, 3071, 3072, 5000};

std::string RandomBytes(size_t Length, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Length, '\0');
    for (char &Byte : Bytes) Byte = (char)Random();
    return Bytes;
}

// Python's answers, one line each, for one line of hex input each.
std::vector<std::string> PythonLines(const std::string &Body, const std::vector<std::string> &Inputs) {
    std::string Input;
    for (const std::string &Bytes : Inputs) Input += ToHex(Bytes) + "\n";
    const std::string Output = RunPython("import base64, sys\n"
                                         "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                         "    b = bytes.fromhex(line)\n" +
                                             Body,
                                         Input);
    std::vector<std::string> Lines;
    std::istringstream Stream(Output);
    for (std::string Line; std::getline(Stream, Line);) Lines.push_back(Line);
    return Lines;
}

class Base64StreamTest : public RuntimeTest {
  protected:
    Base64Stream *Stream = nullptr;
    MemoryStream *Base = nullptr;
    StreamStruct *Record = nullptr;
    StreamStruct *BaseRecord = nullptr;

    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_EQ(Base64Stream_Create(&Stream), 1);
        Base64Stream_GetStreamHandle(Stream, &Record);
        MemoryStream_Create(&Base);
        MemoryStream_SetAutoGrow(Base, 1);
        MemoryStream_GetStreamHandle(Base, &BaseRecord);
        Base64Stream_SetBaseStreamHandle(Stream, BaseRecord);
    }
    void TearDown() override {
        if (Stream != nullptr) Base64Stream_Release(&Stream);
        if (Base != nullptr) MemoryStream_Release(&Base);
        RuntimeTest::TearDown();
    }
    // Makes the base hold Bytes, positioned at the start.
    void Fill(const std::string &Bytes) {
        MemoryStream_Close(Base);
        uint32 Count = 0;
        if (!Bytes.empty()) MemoryStream_Write(Base, Bytes.data(), (uint32)Bytes.size(), &Count);
        ASSERT_EQ(Count, Bytes.size());
        MemoryStream_Seek(Base, 0, STREAM_SEEK_SET);
    }
    std::string BaseData() {
        uint8 *Pointer = nullptr;
        if (!MemoryStream_GetPointer(Base, &Pointer)) return "";
        std::string Bytes(reinterpret_cast<char *>(Pointer), (size_t)MemoryStream_GetUsed(Base));
        MemoryStream_ReleasePointer(Base, &Pointer);
        return Bytes;
    }
    // Reads the whole text in chunks of the sizes Next gives; every answer
    // must be whole groups within the size asked for.
    template <typename Sizes> std::string ReadAll(Sizes &&Next) {
        std::string Text;
        std::vector<char> Chunk(8192);
        for (int32 Pass = 0; Pass < 100000; Pass++) {
            const uint32 Size = Next();
            uint32 Count = 12345;
            const int32 Result = Base64Stream_Read(Stream, Chunk.data(), Size, &Count);
            EXPECT_EQ(Count % 4, 0u);
            EXPECT_LE(Count, Size);
            EXPECT_EQ(Result, Count > 0 ? 1 : 0);
            Text.append(Chunk.data(), Count);
            if (!Result && Size >= 4) return Text;
        }
        ADD_FAILURE() << "the read never ended";
        return Text;
    }
    // Writes Text in chunks of the sizes Next gives; each call must succeed
    // and consume its whole chunk.
    template <typename Sizes> void WriteAll(const std::string &Text, Sizes &&Next) {
        for (size_t At = 0; At < Text.size();) {
            const size_t Size = std::min<size_t>(Next(), Text.size() - At);
            uint32 Count = 0;
            ASSERT_EQ(Base64Stream_Write(Stream, Text.data() + At, (uint32)Size, &Count), 1) << "at " << At;
            ASSERT_EQ(Count, Size);
            At += Size;
        }
    }
};
using Base64StreamDeathTest = Base64StreamTest;

TEST_F(Base64StreamTest, FillsTheSlotsOfAStreamOverItsBase) {
    EXPECT_EQ(Record->Handle, Stream);
    EXPECT_EQ(Record->BaseStreamHandle, BaseRecord);
    EXPECT_EQ(Stream_CanWrite(Record) && Stream_CanRead(Record) && Stream_CanSeek(Record) &&
                  Stream_CanFlush(Record) && Stream_CanTell(Record) && Stream_CanLength(Record) &&
                  Stream_CanIsOpen(Record) && Stream_CanClose(Record),
              1);
    EXPECT_EQ(Stream_CanPeek(Record) || Stream_CanWriteAsync(Record) || Stream_CanReadAsync(Record), 0);
    char Id[40] = {};
    EXPECT_EQ(Base64Stream_GetInstanceId(Stream, Id, (int32)sizeof(Id)), 1);
    EXPECT_EQ(strlen(Id), 32u);
    EXPECT_EQ(Base64Stream_AddRef(Stream), Stream);
    Base64Stream *Second = Stream;
    EXPECT_EQ(Base64Stream_Release(&Second), 1);
    EXPECT_EQ(Second, nullptr);
}

TEST_F(Base64StreamTest, ReadsAsPythonEncodesInOddChunks) {
    std::vector<std::string> Inputs;
    for (size_t Length : Lengths) Inputs.push_back(RandomBytes(Length, (uint32)Length + 1));
    const std::vector<std::string> Expected = PythonLines("    print(base64.b64encode(b).decode())\n", Inputs);
    ASSERT_EQ(Expected.size(), Inputs.size());
    std::mt19937 Random(7);
    for (size_t Index = 0; Index < Inputs.size(); Index++) {
        SCOPED_TRACE(Inputs[Index].size());
        // Small odd sizes (some below one group), then sizes beyond the
        // buffer's 1,024 bytes, then exactly one group at a time.
        Fill(Inputs[Index]);
        EXPECT_EQ(ReadAll([&] { return 1 + Random() % 199; }), Expected[Index]);
        Fill(Inputs[Index]);
        Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET);
        EXPECT_EQ(ReadAll([&] { return 1000 + Random() % 7000; }), Expected[Index]);
        Fill(Inputs[Index]);
        Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET);
        EXPECT_EQ(ReadAll([] { return 4u; }), Expected[Index]);
    }
}

TEST_F(Base64StreamTest, ReadBelowOneGroupDeliversNothingAndLosesNothing) {
    Fill("ABCDE");
    char Text[8] = {};
    uint32 Count = 9;
    for (uint32 Size : {0u, 1u, 3u}) {
        EXPECT_EQ(Base64Stream_Read(Stream, Text, Size, &Count), 0);
        EXPECT_EQ(Count, 0u);
    }
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 7, &Count), 1);
    EXPECT_EQ(std::string(Text, Count), "QUJD");
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 8, &Count), 1);
    EXPECT_EQ(std::string(Text, Count), "REU=");
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 8, &Count), 0);
    EXPECT_EQ(Count, 0u);
}

TEST_F(Base64StreamTest, WritesAsPythonDecodesWithGroupsSplitAcrossCalls) {
    std::vector<std::string> Inputs;
    for (size_t Length : Lengths) Inputs.push_back(RandomBytes(Length, (uint32)Length + 101));
    // Plain text, and MIME text with a line feed every 76 characters (the
    // stream skips the line breaks).
    const std::vector<std::string> Plain = PythonLines("    print(base64.b64encode(b).decode())\n", Inputs);
    const std::vector<std::string> Mime =
        PythonLines("    print(base64.encodebytes(b).decode().replace('\\n', '\\\\n'))\n", Inputs);
    ASSERT_EQ(Plain.size(), Inputs.size());
    ASSERT_EQ(Mime.size(), Inputs.size());
    std::mt19937 Random(8);
    for (size_t Index = 0; Index < Inputs.size(); Index++) {
        SCOPED_TRACE(Inputs[Index].size());
        std::string Lines = Mime[Index];
        for (size_t At = Lines.find("\\n"); At != std::string::npos; At = Lines.find("\\n", At + 1))
            Lines.replace(At, 2, "\r\n");
        for (const std::string &Text : {Plain[Index], Lines}) {
            Fill("");
            WriteAll(Text, [&] { return 1 + Random() % 7; });
            EXPECT_EQ(BaseData(), Inputs[Index]);
            // Chunks larger than the buffer fill it inside one call.
            Fill("");
            WriteAll(Text, [&] { return 1 + Random() % 5000; });
            EXPECT_EQ(BaseData(), Inputs[Index]);
        }
    }
}

TEST_F(Base64StreamTest, WriteSkipsForeignCharactersAndEndsGroupsAtPadding) {
    const struct {
        std::vector<std::string> Pieces;
        std::string Bytes;
    } Cases[] = {
        {{"Q", "U", "J", "D"}, "ABC"},
        {{"QU JD\t\r\n", "\x80\xffQUJD"}, "ABCABC"},
        {{"QQ", "=="}, "A"},
        {{"QUI="}, "AB"},
        {{"QQ==QUI=", "QUJD"}, "AABABC"},
        // A lone character carries no whole byte.
        {{"Q="}, ""},
        {{"QUJDQ", "=QUJD"}, "ABCABC"},
        {{"QUJ"}, ""},
    };
    for (const auto &Case : Cases) {
        Fill("");
        Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET);
        for (const std::string &Piece : Case.Pieces) {
            uint32 Count = 0;
            EXPECT_EQ(Base64Stream_Write(Stream, Piece.data(), (uint32)Piece.size(), &Count), 1);
            EXPECT_EQ(Count, Piece.size());
        }
        EXPECT_EQ(BaseData(), Case.Bytes) << Case.Pieces[0];
    }
}

TEST_F(Base64StreamTest, FailsWithoutABaseOrWhenTheBaseTakesLess) {
    char Text[8];
    uint32 Count = 7;
    Base64Stream_SetBaseStreamHandle(Stream, nullptr);
    EXPECT_EQ(Base64Stream_Write(Stream, "QUJD", 4, &Count), 0);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 8, &Count), 0);
    EXPECT_EQ(Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET), 0);
    int64 Value = 5;
    EXPECT_EQ(Base64Stream_Tell(Stream, &Value), 0);
    EXPECT_EQ(Value, 0);
    EXPECT_EQ(Base64Stream_Length(Stream, &Value), 0);
    EXPECT_EQ(Base64Stream_IsOpen(Stream) || Base64Stream_Flush(Stream) || Base64Stream_Close(Stream), 0);

    // A base without a Write slot refuses, one without Read cannot be read.
    StreamStruct ReadOnly = *BaseRecord;
    ReadOnly.Write = nullptr;
    Base64Stream_SetBaseStreamHandle(Stream, &ReadOnly);
    EXPECT_EQ(Base64Stream_Write(Stream, "QUJD", 4, &Count), 0);
    StreamStruct WriteOnly = *BaseRecord;
    WriteOnly.Read = nullptr;
    Base64Stream_SetBaseStreamHandle(Stream, &WriteOnly);
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 8, &Count), 0);

    // A base bounded to 1,500 bytes takes part of the second buffer load.
    Base64Stream_SetBaseStreamHandle(Stream, BaseRecord);
    MemoryStream_SetAutoGrow(Base, 0);
    MemoryStream_Size(Base, 1500, 0, 0);
    const std::string Bytes = RandomBytes(3000, 3);
    const std::vector<std::string> Text64 = PythonLines("    print(base64.b64encode(b).decode())\n", {Bytes});
    ASSERT_EQ(Text64.size(), 1u);
    EXPECT_EQ(Base64Stream_Write(Stream, Text64[0].data(), (uint32)Text64[0].size(), &Count), 0);
    // The second full buffer goes out when byte 2,049 arrives: with the
    // character that completes group 682 (bytes 2,046 to 2,048).
    EXPECT_EQ(Count, 682u * 4 + 3);
    EXPECT_EQ(BaseData(), Bytes.substr(0, 1500));

    // A short write of the last, partly filled buffer fails the call too.
    MemoryStream_Size(Base, 2, 0, 0);
    EXPECT_EQ(Base64Stream_Write(Stream, "QUJD", 4, &Count), 0);
    EXPECT_EQ(Count, 4u);
    EXPECT_EQ(BaseData(), "AB");
}

TEST_F(Base64StreamTest, SeeksOnlyToTheStartAndForgetsBufferedState) {
    Fill("ABCDEFGHI");
    char Text[16];
    uint32 Count = 0;
    ASSERT_EQ(Base64Stream_Read(Stream, Text, 4, &Count), 1);
    EXPECT_EQ(std::string(Text, Count), "QUJD");
    for (auto [Offset, Origin] : {std::pair<int64, int32>{1, 0}, {0, 1}, {0, 2}, {-1, 0}})
        EXPECT_EQ(Base64Stream_Seek(Stream, Offset, Origin), 0);
    // The rejected seeks moved nothing; the read-ahead continues.
    ASSERT_EQ(Base64Stream_Read(Stream, Text, 4, &Count), 1);
    EXPECT_EQ(std::string(Text, Count), "REVG");
    ASSERT_EQ(Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET), 1);
    ASSERT_EQ(Base64Stream_Read(Stream, Text, 16, &Count), 1);
    EXPECT_EQ(std::string(Text, Count), "QUJDREVGR0hJ");

    // An unfinished group is forgotten too.
    Fill("");
    ASSERT_EQ(Base64Stream_Write(Stream, "QU", 2, &Count), 1);
    ASSERT_EQ(Base64Stream_Seek(Stream, 0, STREAM_SEEK_SET), 1);
    ASSERT_EQ(Base64Stream_Write(Stream, "QUJD", 4, &Count), 1);
    EXPECT_EQ(BaseData(), "ABC");
}

TEST_F(Base64StreamTest, EndOfTheTextEndsStreamCopyBothWays) {
    const std::string Bytes = RandomBytes(10000, 11);
    const std::vector<std::string> Expected = PythonLines("    print(base64.b64encode(b).decode())\n", {Bytes});
    ASSERT_EQ(Expected.size(), 1u);

    // Encoding: the Base64 stream is the source.
    Fill(Bytes);
    MemoryStream *Text = nullptr;
    MemoryStream_Create(&Text);
    MemoryStream_SetAutoGrow(Text, 1);
    StreamStruct *TextRecord = nullptr;
    MemoryStream_GetStreamHandle(Text, &TextRecord);
    EXPECT_EQ(Stream_Copy(TextRecord, Record), 1);
    uint8 *Pointer = nullptr;
    MemoryStream_GetPointer(Text, &Pointer);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(Pointer), (size_t)MemoryStream_GetUsed(Text)), Expected[0]);
    MemoryStream_ReleasePointer(Text, &Pointer);

    // Decoding: the Base64 stream is the destination.
    Fill("");
    MemoryStream_Seek(Text, 0, STREAM_SEEK_SET);
    EXPECT_EQ(Stream_Copy(Record, TextRecord), 1);
    EXPECT_EQ(BaseData(), Bytes);
    MemoryStream_Release(&Text);
}

TEST_F(Base64StreamTest, FlushTellLengthIsOpenAndClosePassThrough) {
    Fill("ABCDEF");
    int64 Value = -1;
    EXPECT_EQ(Base64Stream_Length(Stream, &Value), 1);
    EXPECT_EQ(Value, 6);
    char Text[4];
    uint32 Count = 0;
    Base64Stream_Read(Stream, Text, 4, &Count);
    // The base's byte position: the read-ahead took all six bytes.
    EXPECT_EQ(Base64Stream_Tell(Stream, &Value), 1);
    EXPECT_EQ(Value, 6);
    EXPECT_EQ(Base64Stream_IsOpen(Stream), 1);
    // The memory stream has no Flush slot; a null stream has one.
    EXPECT_EQ(Base64Stream_Flush(Stream), 0);
    EXPECT_EQ(Base64Stream_Close(Stream), 1);
    EXPECT_EQ(MemoryStream_IsOpen(Base), 0);
    EXPECT_EQ(Base64Stream_IsOpen(Stream), 0);
    EXPECT_EQ(Base64Stream_Read(Stream, Text, 4, &Count), 0);

    NullStream *Sink = nullptr;
    NullStream_Create(&Sink);
    StreamStruct *SinkRecord = nullptr;
    NullStream_GetStreamHandle(Sink, &SinkRecord);
    Base64Stream_SetBaseStreamHandle(Stream, SinkRecord);
    EXPECT_EQ(Base64Stream_Write(Stream, "QUJDREVG", 8, &Count), 1);
    EXPECT_EQ(Base64Stream_Flush(Stream), 1);
    EXPECT_EQ(Base64Stream_Tell(Stream, &Value), 1);
    EXPECT_EQ(Value, 6);
    NullStream_Release(&Sink);
}

TEST_F(Base64StreamDeathTest, NullOrForeignHandlesAreFatalStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    uint32 Count = 0;
    EXPECT_EXIT(Base64Stream_Write(nullptr, "QUJD", 4, &Count), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EXIT(Base64Stream_Read(reinterpret_cast<Base64Stream *>(Base), nullptr, 4, &Count),
                ::testing::KilledBySignal(SIGILL), "Class mismatch pointer .*expected 0x2448faa3");
}

} // namespace
