// CryptStream over memory streams with RC4: a round trip through two
// streams keyed alike; piece sizes not changing the enciphered bytes;
// rekeying between writes; the caller's buffer left as it was; moving to a
// new base keeping the key stream; the pass-through slots and a base
// without Tell; reads and writes before a key.
#include "crypto/ciphers/crypt_stream.h"

#include <gtest/gtest.h>

#include "crypto/ciphers/rc4.h"
#include "runtime/streams/memory_stream.h"
#include "tests/crypto/ciphers/cipher_test_util.h"

namespace {

class CryptStreamTest : public RuntimeTest {
  protected:
    CryptStream *Stream = nullptr;
    StreamStruct *Record = nullptr;
    MemoryStream *Base = nullptr;
    StreamStruct *BaseRecord = nullptr;
    const Bytes Key = Hex("6b6579");

    void SetUp() override {
        RuntimeTest::SetUp();
        Stream = Keyed();
        CryptStream_GetStreamHandle(Stream, &Record);
        MemoryStream_Create(&Base);
        MemoryStream_SetAutoGrow(Base, TRUE);
        MemoryStream_GetStreamHandle(Base, &BaseRecord);
        CryptStream_SetBaseStreamHandle(Stream, BaseRecord);
    }
    void TearDown() override {
        CryptStream_Delete(&Stream);
        MemoryStream_Delete(&Base);
        RuntimeTest::TearDown();
    }
    CryptStream *Keyed() {
        CryptStream *S = nullptr;
        CryptStream_Create(&S);
        EXPECT_EQ(CryptStream_Reset(S, &RC4_INTERFACE), 1);
        EXPECT_EQ(CryptStream_SetKey(S, Key.data(), (int32)Key.size()), 1);
        return S;
    }
    std::string BaseBytes() {
        uint8 *Data = nullptr;
        MemoryStream_GetPointer(Base, &Data);
        std::string Text(reinterpret_cast<char *>(Data), (size_t)MemoryStream_GetUsed(Base));
        MemoryStream_ReleasePointer(Base, &Data);
        return Text;
    }
    void Write(const std::string &Text) {
        uint32 Count = 0;
        EXPECT_EQ(Stream_Write(Record, Text.data(), (uint32)Text.size(), &Count), 1);
        EXPECT_EQ(Count, Text.size());
    }
};

TEST_F(CryptStreamTest, RoundTripThroughAStreamKeyedAlike) {
    Write("abc");
    EXPECT_EQ(BaseBytes().size(), 3u);
    EXPECT_NE(BaseBytes(), "abc");
    // The RC4 key stream of "key": XOR known from the cipher itself.
    RC4 *Rc4 = nullptr;
    RC4_Create(&Rc4);
    RC4_SetKey(Rc4, Key.data(), 3);
    uint8 Expected[3] = {'a', 'b', 'c'};
    RC4_Encrypt(Rc4, Expected, Expected, 3);
    RC4_Delete(&Rc4);
    EXPECT_EQ(BaseBytes(), std::string(reinterpret_cast<char *>(Expected), 3));

    CryptStream *Reader = Keyed();
    StreamStruct *ReaderRecord = nullptr;
    CryptStream_GetStreamHandle(Reader, &ReaderRecord);
    CryptStream_SetBaseStreamHandle(Reader, BaseRecord);
    Stream_Seek(BaseRecord, 0, STREAM_SEEK_SET);
    char Back[8] = {0};
    uint32 Count = 0;
    EXPECT_EQ(Stream_Read(ReaderRecord, Back, sizeof(Back), &Count), 1);
    EXPECT_EQ(std::string(Back, Count), "abc");
    CryptStream_Delete(&Reader);
}

TEST_F(CryptStreamTest, PieceSizesDoNotChangeTheBytes) {
    const std::string Text = "12345678";
    Write(Text);
    const std::string Whole = BaseBytes();
    CryptStream_SetKey(Stream, Key.data(), 3); // restart the key stream
    MemoryStream_DiscardAll(Base);
    Write(Text.substr(0, 1));
    Write(Text.substr(1, 2));
    Write(Text.substr(3, 5));
    EXPECT_EQ(BaseBytes(), Whole);
    // The caller's bytes were not enciphered in place.
    EXPECT_EQ(Text, "12345678");
}

TEST_F(CryptStreamTest, RekeyingBetweenWritesRestartsTheKeyStream) {
    Write("abc");
    CryptStream_SetKey(Stream, Key.data(), 3);
    Write("abc");
    const std::string Bytes = BaseBytes();
    EXPECT_EQ(Bytes.substr(0, 3), Bytes.substr(3, 3));
    // Without rekeying the stream runs on.
    Write("abc");
    EXPECT_NE(BaseBytes().substr(6, 3), Bytes.substr(0, 3));
}

TEST_F(CryptStreamTest, NewBaseKeepsTheKeyStream) {
    Write("abc");
    MemoryStream *Second = nullptr;
    StreamStruct *SecondRecord = nullptr;
    MemoryStream_Create(&Second);
    MemoryStream_SetAutoGrow(Second, TRUE);
    MemoryStream_GetStreamHandle(Second, &SecondRecord);
    CryptStream_SetBaseStreamHandle(Stream, SecondRecord);
    uint32 Count = 0;
    Stream_Write(Record, "def", 3, &Count);
    CryptStream_SetBaseStreamHandle(Stream, BaseRecord);
    // Together they are what "abcdef" in one stream gives.
    CryptStream *Reference = Keyed();
    MemoryStream *All = nullptr;
    StreamStruct *AllRecord = nullptr, *ReferenceRecord = nullptr;
    MemoryStream_Create(&All);
    MemoryStream_SetAutoGrow(All, TRUE);
    MemoryStream_GetStreamHandle(All, &AllRecord);
    CryptStream_SetBaseStreamHandle(Reference, AllRecord);
    CryptStream_GetStreamHandle(Reference, &ReferenceRecord);
    Stream_Write(ReferenceRecord, "abcdef", 6, &Count);
    uint8 *A = nullptr, *B = nullptr, *C = nullptr;
    MemoryStream_GetPointer(All, &A);
    MemoryStream_GetPointer(Base, &B);
    MemoryStream_GetPointer(Second, &C);
    EXPECT_EQ(HexOf(A, 6), HexOf(B, 3) + HexOf(C, 3));
    MemoryStream_ReleasePointer(All, &A);
    MemoryStream_ReleasePointer(Base, &B);
    MemoryStream_ReleasePointer(Second, &C);
    CryptStream_Delete(&Reference);
    MemoryStream_Delete(&All);
    MemoryStream_Delete(&Second);
}

TEST_F(CryptStreamTest, PassThroughSlots) {
    Write("abcdef");
    int64 Value = -1;
    EXPECT_EQ(Stream_Tell(Record, &Value), 1);
    EXPECT_EQ(Value, 6);
    EXPECT_EQ(Stream_Length(Record, &Value), 1);
    EXPECT_EQ(Value, 6);
    EXPECT_EQ(Stream_Seek(Record, 2, STREAM_SEEK_SET), 1);
    EXPECT_EQ(Stream_IsOpen(Record), 1);
    // A base without Tell, Seek or Write: Tell answers 0 with position 0.
    StreamStruct Bare = *BaseRecord;
    Bare.Tell = nullptr;
    Bare.Seek = nullptr;
    Bare.Write = nullptr;
    CryptStream_SetBaseStreamHandle(Stream, &Bare);
    Value = 5;
    EXPECT_EQ(Stream_Tell(Record, &Value), 0);
    EXPECT_EQ(Value, 0);
    EXPECT_EQ(Stream_Seek(Record, 0, STREAM_SEEK_SET), 0);
    EXPECT_EQ(Stream_Flush(Record), 0);
    uint32 Count = 9;
    EXPECT_EQ(Stream_Write(Record, "x", 1, &Count), 0);
    EXPECT_EQ(Count, 0u);
    CryptStream_SetBaseStreamHandle(Stream, BaseRecord);
    EXPECT_EQ(Stream_Close(Record), 1);
    EXPECT_EQ(Stream_IsOpen(BaseRecord), 0);
}

TEST_F(CryptStreamTest, NothingMovesBeforeAKey) {
    CryptStream *Unkeyed = nullptr;
    StreamStruct *UnkeyedRecord = nullptr;
    CryptStream_Create(&Unkeyed);
    CryptStream_GetStreamHandle(Unkeyed, &UnkeyedRecord);
    CryptStream_SetBaseStreamHandle(Unkeyed, BaseRecord);
    uint32 Count = 9;
    EXPECT_EQ(Stream_Write(UnkeyedRecord, "abc", 3, &Count), 0);
    EXPECT_EQ(Count, 0u);
    CryptStream_Reset(Unkeyed, &RC4_INTERFACE);
    EXPECT_EQ(Stream_Write(UnkeyedRecord, "abc", 3, &Count), 0);
    char Buffer[4];
    EXPECT_EQ(Stream_Read(UnkeyedRecord, Buffer, 4, &Count), 0);
    EXPECT_EQ(MemoryStream_GetUsed(Base), 0);
    CryptStream_Delete(&Unkeyed);
}

} // namespace
