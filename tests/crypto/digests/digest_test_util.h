// Shared checks for the digest tests: a digest must equal its reference
// through a heap context and a stack context, on every split of its input,
// and when copied in the middle of a message.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/digests/hash.h"
#include "tests/support/python.h"

namespace digest_test {

inline std::string Hex(const std::string &Bytes) { return ToHex(Bytes); }

// Digest of Data fed in pieces of the given sizes (the last piece repeats
// until the data ends), through a heap context.
inline std::string DigestInPieces(const HashInterface *Record, const std::string &Data,
                                  const std::vector<size_t> &Pieces) {
    void *Context = nullptr;
    Record->Create(&Context);
    size_t At = 0, Index = 0;
    while (At < Data.size()) {
        const size_t Piece = std::min(Pieces[std::min(Index++, Pieces.size() - 1)], Data.size() - At);
        EXPECT_EQ(Record->Process(Context, Data.data() + At, (uint32)Piece), 1);
        At += Piece;
    }
    EXPECT_EQ(Record->IsGenerated(Context), 0);
    EXPECT_EQ(Record->Generate(Context), 1);
    EXPECT_EQ(Record->IsGenerated(Context), 1);
    std::string Digest(Record->DigestSize, '\0');
    EXPECT_EQ(Record->GetDigest(Context, Digest.data(), (int32)Digest.size()), 1);
    Record->Delete(&Context);
    EXPECT_EQ(Context, nullptr);
    return Hex(Digest);
}

inline std::string QuickHex(const HashInterface *Record, const std::string &Data) {
    char Text[2 * HASH_MAX_DIGEST_SIZE + 1];
    EXPECT_EQ(Hash_QuickString(Record, Data.data(), (uint32)Data.size(), 0, Text, sizeof(Text)), 1);
    return Text;
}

// Feeds Prefix, copies the running state into a second context, then
// finishes both with Rest: each must give Expected.
inline void CheckCopyMidMessage(const HashInterface *Record, const std::string &Data, size_t Split,
                                const std::string &Expected) {
    void *Source = nullptr, *Copy = nullptr;
    Record->Create(&Source);
    Record->Create(&Copy);
    Record->Process(Copy, "noise", 5);
    Record->Process(Source, Data.data(), (uint32)Split);
    EXPECT_EQ(Record->CopyTo(Source, Copy), 1);
    for (void *Context : {Source, Copy}) {
        Record->Process(Context, Data.data() + Split, (uint32)(Data.size() - Split));
        Record->Generate(Context);
        std::string Digest(Record->DigestSize, '\0');
        Record->GetDigest(Context, Digest.data(), (int32)Digest.size());
        EXPECT_EQ(Hex(Digest), Expected) << "copy at " << Split;
    }
    Record->Delete(&Source);
    Record->Delete(&Copy);
}

// Every form of feeding the same data gives Expected.
inline void CheckAllSplits(const HashInterface *Record, const std::string &Data, const std::string &Expected) {
    EXPECT_EQ(QuickHex(Record, Data), Expected) << "stack context";
    EXPECT_EQ(DigestInPieces(Record, Data, {Data.size() + 1}), Expected) << "whole";
    const size_t Block = Record->BlockSize;
    for (size_t Piece : {(size_t)1, (size_t)7, Block - 1, Block, Block + 1, 2 * Block - 1, 2 * Block + 1})
        EXPECT_EQ(DigestInPieces(Record, Data, {Piece}), Expected) << "pieces of " << Piece;
    for (size_t Split : {(size_t)0, Data.size() / 3, Data.size() / 2, Data.size()})
        CheckCopyMidMessage(Record, Data, Split, Expected);
}

// Random messages of random lengths (some across many blocks).
inline std::vector<std::string> RandomMessages(uint32 Seed, int Count) {
    std::mt19937 Random(Seed);
    std::vector<std::string> Messages;
    for (int Index = 0; Index < Count; Index++) {
        const size_t Length = Index < 300 ? (size_t)Index : Random() % (Index % 7 == 0 ? 70000 : 2000);
        std::string Bytes(Length, '\0');
        for (char &Byte : Bytes) Byte = (char)(Random() & 0xff);
        Messages.push_back(Bytes);
    }
    return Messages;
}

// Python's hashlib digests (hex) of the messages.
inline std::vector<std::string> PythonDigests(const std::string &Algorithm, const std::vector<std::string> &Messages) {
    std::string Input;
    for (const std::string &Bytes : Messages) Input += ToHex(Bytes) + "\n";
    std::istringstream Lines(RunPython("import sys, hashlib\n"
                                       "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                       "    print(hashlib.new('" + Algorithm + "', bytes.fromhex(line)).hexdigest())\n",
                                       Input));
    std::vector<std::string> Digests;
    for (std::string Line; std::getline(Lines, Line);) Digests.push_back(Line);
    return Digests;
}

// Each message, whole and at random split points, against References.
inline void CheckRandomSplits(const HashInterface *Record, const std::vector<std::string> &Messages,
                              const std::vector<std::string> &References, uint32 Seed) {
    ASSERT_EQ(References.size(), Messages.size());
    std::mt19937 Random(Seed);
    for (size_t Index = 0; Index < Messages.size(); Index++) {
        const std::string &Data = Messages[Index];
        SCOPED_TRACE(Data.size());
        EXPECT_EQ(QuickHex(Record, Data), References[Index]);
        std::vector<size_t> Pieces;
        for (int Count = 0; Count < 8; Count++) Pieces.push_back(1 + Random() % (Data.size() / 3 + 1));
        EXPECT_EQ(DigestInPieces(Record, Data, Pieces), References[Index]);
        if (Index % 5 == 0) CheckCopyMidMessage(Record, Data, Random() % (Data.size() + 1), References[Index]);
    }
}

} // namespace digest_test
