// VCDiff decoder: deltas made by xdelta3 (converted to the decoder's window
// form by a Python script that also counts RUN instructions and overlapping
// target copies) rebuild their targets byte for byte; hand-made windows
// exercise every bound: oversize integers, section sizes, addresses at or
// beyond "here", wrapped here/near addresses, source overruns and capacity.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "formats/vcdiff_decoder.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"

namespace {

using VCDiffTest = RuntimeTest;
using Bytes = std::vector<uint8>;

// Makes each case with xdelta3 -e, checks it with xdelta3 -d, and converts
// it to the decoder's window form (tests/support/xdelta_convert.py).
const std::string Converter = std::string("import random, shutil, sys\n"
                                          "if shutil.which('xdelta3') is None:\n"
                                          "    print('SKIP xdelta3 not installed'); sys.exit(0)\n"
                                          "lib = {'__name__': 'xdelta_convert'}\n"
                                          "exec(open('" RUNTIME_SOURCE_DIR "/tests/support/xdelta_convert.py').read(), lib)\n"
                                          "convert, encode = lib['convert'], lib['encode']\n") +
                              R"PY(
r = random.Random(3284)
def rb(n): return bytes(r.randrange(256) for _ in range(n))
src = rb(20000)
cases = [
    ('mixed', src, src[100:2000] + b'\0' * 300 + rb(200) + b'abc' * 200 + src[3000:9000], None),
    ('no-source', b'', b'abc' * 300 + b'xy' * 50 + rb(64) + b'\x07' * 90, None),
    ('random', b'', rb(3000), None),
    ('identical', src, src, None),
    ('edited', src, src[:5000] + b'inserted text' + src[5100:15000] + b'Z' * 40 + src[15000:], (7, 3)),
    ('large', rb(150000), None, None),
]
for name, s, t, pieces in cases:
    if t is None:
        t = s[:40000] + b'\xff' * 5000 + s[60000:]
    delta, spos, runs, tcopies, overlaps = convert(encode(s, t), pieces)
    print(name, s.hex() or '-', t.hex(), delta.hex(), spos, runs, tcopies, overlaps,
          pieces[0] if pieces else 0, pieces[1] if pieces else 0)
)PY";

Bytes FromHexBytes(const std::string &Hex) {
    if (Hex == "-") return {};
    const std::string Raw = FromHex(Hex);
    return Bytes(Raw.begin(), Raw.end());
}

void PutVarInt(Bytes &Out, uint64 Value) {
    uint8 Groups[10];
    int32 Count = 0;
    do {
        Groups[Count++] = (uint8)(Value & 0x7F);
        Value >>= 7;
    } while (Value != 0);
    while (Count > 1) Out.push_back(Groups[--Count] | 0x80);
    Out.push_back(Groups[0]);
}

// A window in the decoder's form with its three sections.
Bytes Window(uint64 SourceSize, const Bytes &Data, const Bytes &Instructions, const Bytes &Addresses) {
    Bytes Out{0};
    PutVarInt(Out, SourceSize);
    PutVarInt(Out, 0);
    PutVarInt(Out, 0);
    PutVarInt(Out, 0);
    PutVarInt(Out, Data.size());
    PutVarInt(Out, Instructions.size());
    PutVarInt(Out, Addresses.size());
    Out.insert(Out.end(), Data.begin(), Data.end());
    Out.insert(Out.end(), Instructions.begin(), Instructions.end());
    Out.insert(Out.end(), Addresses.begin(), Addresses.end());
    return Out;
}

struct Outcome {
    int32 Initialised = 0;
    int32 Decoded = 0;
    Bytes Target;
};

// Decodes Delta against Source into a target of Capacity bytes.
Outcome Decode(const Bytes &Delta, const Bytes &Source, uint32 Capacity, uint64 Offset = 0) {
    Outcome Result;
    VCDiffDecoder *Decoder = nullptr;
    VCDiffDecoder_Create(&Decoder);
    VCDiffDecoder_SetDeltaBuffer(Decoder, Delta.data(), (uint32)Delta.size());
    VCDiffDecoder_SetSourceBuffer(Decoder, Source.data(), (uint32)Source.size());
    VCDiffDecoder_SetSourceWindowOffset(Decoder, Offset);
    Result.Initialised = VCDiffDecoder_Init(Decoder);
    // Room behind the capacity shows a write past it under the sanitizers.
    Result.Target.assign(Capacity, 0xEE);
    uint32 Length = 0;
    if (Result.Initialised) Result.Decoded = VCDiffDecoder_Decode(Decoder, Result.Target.data(), Capacity, &Length);
    Result.Target.resize(Length);
    VCDiffDecoder_Delete(&Decoder);
    return Result;
}

// Opcodes of the default table.
constexpr uint8 OpRun = 0;
constexpr uint8 OpAddSized = 1;            // ADD, size follows
constexpr uint8 OpCopySizedMode0 = 19;     // COPY mode 0 (self), size follows
constexpr uint8 OpCopySizedHere = 19 + 16; // COPY mode 1 (here), size follows
constexpr uint8 OpCopySizedNear0 = 19 + 32;
constexpr uint8 OpCopySizedSame0 = 19 + 16 * 6;

TEST_F(VCDiffTest, XdeltaDeltasRebuildTheirTargets) {
    std::istringstream Lines(RunPython(Converter));
    std::string Name, Source, Target, Delta;
    uint64 Offset = 0;
    int32 Runs = 0, TargetCopies = 0, Overlaps = 0, Cases = 0, TotalRuns = 0, TotalOverlaps = 0;
    uint32 Index = 0, Count = 0;
    while (Lines >> Name) {
        SKIP_UNLESS(Name != "SKIP", "xdelta3 is not installed");
        Lines >> Source >> Target >> Delta >> Offset >> Runs >> TargetCopies >> Overlaps >> Index >> Count;
        const Bytes Src = FromHexBytes(Source), Tgt = FromHexBytes(Target), Del = FromHexBytes(Delta);
        VCDiffDecoder *Decoder = nullptr;
        VCDiffDecoder_Create(&Decoder);
        VCDiffDecoder_SetSourceWindowPieceIndex(Decoder, 99);
        VCDiffDecoder_SetSourceWindowPieceCount(Decoder, 98);
        VCDiffDecoder_SetDeltaBuffer(Decoder, Del.data(), (uint32)Del.size());
        ASSERT_EQ(VCDiffDecoder_Init(Decoder), 1) << Name;
        uint32 GotIndex = 0, GotCount = 0;
        VCDiffDecoder_GetSourceWindowPieceIndex(Decoder, &GotIndex);
        VCDiffDecoder_GetSourceWindowPieceCount(Decoder, &GotCount);
        EXPECT_EQ(GotIndex, Count ? Index : 99u) << Name;
        EXPECT_EQ(GotCount, Count ? Count : 98u) << Name;
        // The whole source with the segment's offset, as the storage layer
        // hands over the pieces it loaded.
        VCDiffDecoder_SetSourceBuffer(Decoder, Src.data(), (uint32)Src.size());
        VCDiffDecoder_SetSourceWindowOffset(Decoder, Offset);
        // Appends behind what the caller already holds.
        Bytes Out(3 + Tgt.size(), 0);
        Out[0] = 'p', Out[1] = 'r', Out[2] = 'e';
        uint32 Length = 3;
        EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out.data(), (uint32)Out.size(), &Length), 1) << Name;
        EXPECT_EQ(Length, Out.size()) << Name;
        EXPECT_TRUE(Bytes(Out.begin() + 3, Out.end()) == Tgt) << Name;
        // One byte of capacity short fails.
        VCDiffDecoder_SetDeltaBuffer(Decoder, Del.data(), (uint32)Del.size());
        ASSERT_EQ(VCDiffDecoder_Init(Decoder), 1);
        Length = 0;
        if (!Tgt.empty()) {
            EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out.data(), (uint32)Tgt.size() - 1, &Length), 0);
        }
        VCDiffDecoder_Delete(&Decoder);
        Cases++;
        TotalRuns += Runs;
        TotalOverlaps += Overlaps;
        (void)TargetCopies;
    }
    EXPECT_EQ(Cases, 6);
    // The set must really contain RUN instructions and overlapping copies.
    EXPECT_GT(TotalRuns, 0);
    EXPECT_GT(TotalOverlaps, 0);
}

TEST_F(VCDiffTest, HandMadeWindowsDecode) {
    const Bytes Source{'s', 'o', 'u', 'r', 'c', 'e'};
    struct Case {
        const char *Name;
        Bytes Delta;
        std::string Expected;
    };
    const Case Cases[] = {
        // ADD "ab", RUN 5 × 'x' (byte in the instructions section).
        {"add and run", Window(0, {'a', 'b'}, {OpAddSized, 2, OpRun, 5, 'x'}, {}), "abxxxxx"},
        // A target copy one byte before here, size 10, repeats that byte.
        {"overlap", Window(0, {'q'}, {OpAddSized, 1, OpCopySizedHere, 10}, {1}), std::string(11, 'q')},
        // Source copy of the whole source, then its last two bytes via near.
        {"source", Window(6, {}, {OpCopySizedMode0, 6, OpCopySizedNear0, 2}, {0, 4}), "sourcece"},
        // The same cache finds address 2 again at slot 2.
        {"same", Window(6, {}, {OpCopySizedMode0, 3, OpCopySizedSame0, 3}, {2, 2}), "urcurc"},
        {"empty", Window(0, {}, {}, {}), ""},
    };
    for (const Case &Each : Cases) {
        const Outcome Result = Decode(Each.Delta, Source, 64);
        EXPECT_EQ(Result.Initialised, 1) << Each.Name;
        EXPECT_EQ(Result.Decoded, 1) << Each.Name;
        EXPECT_EQ(std::string(Result.Target.begin(), Result.Target.end()), Each.Expected) << Each.Name;
    }
}

TEST_F(VCDiffTest, BadWindowsFailAtInit) {
    Bytes TooLong64{0, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    Bytes Wide64{0, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}; // 2^64
    Bytes Indicator{0, 0, 0, 0, 1, 0, 0, 0};
    Bytes TooLong32{0, 0, 0, 0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00};
    Bytes Wide32{0, 0, 0, 0, 0, 0, 0x90, 0x80, 0x80, 0x80, 0x00, 0}; // 2^32
    Bytes HugeData{0, 0, 0, 0, 0};
    PutVarInt(HugeData, (uint64)1 << 31);
    HugeData.insert(HugeData.end(), {0, 0});
    // Each section fits alone; together they exceed the buffer.
    Bytes Sections{0, 0, 0, 0, 0, 3, 3, 3, 1, 2, 3, 4, 5, 6, 7};
    Bytes Short = Window(0, {1, 2}, {OpAddSized, 2}, {});
    Short.pop_back();
    Bytes Pieces{VCDIFF_WINDOW_PIECES, 0, 0, 0, 0, 0, 0, 0, 7};
    const std::pair<const char *, Bytes> Cases[] = {
        {"empty", {}},
        {"11-byte 64-bit integer", TooLong64},
        {"64-bit integer above 2^64", Wide64},
        {"delta indicator", Indicator},
        {"6-byte 32-bit integer", TooLong32},
        {"32-bit integer above 2^32", Wide32},
        {"data section of 2^31", HugeData},
        {"sections together too long", Sections},
        {"section cut", Short},
        {"piece count missing", Pieces},
    };
    for (const auto &[Name, Delta] : Cases) EXPECT_EQ(Decode(Delta, {}, 64).Initialised, 0) << Name;
    // The longest integers that fit their width still read.
    uint32 Position = 0;
    uint64 Value = 0;
    const uint8 Max64[] = {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(AddrCache_ReadVarInt64(Max64, sizeof(Max64), &Position, &Value), 1);
    EXPECT_EQ(Value, ~(uint64)0);
    const uint8 Max32[] = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};
    uint32 Value32 = 0;
    Position = 0;
    EXPECT_EQ(AddrCache_ReadVarInt32(Max32, sizeof(Max32), &Position, &Value32), 1);
    EXPECT_EQ(Value32, 0xFFFFFFFFu);
    EXPECT_EQ(Position, 5u);
}

TEST_F(VCDiffTest, BadAddressesAndBoundsFailTheDecode) {
    const Bytes Source{'s', 'o', 'u', 'r', 'c', 'e'};
    Bytes NearWrap{};
    PutVarInt(NearWrap, 5);
    PutVarInt(NearWrap, ~(uint64)0 - 4); // 5 + that wraps to 0
    Bytes Huge{};
    PutVarInt(Huge, ~(uint64)0);
    struct Case {
        const char *Name;
        Bytes Delta;
        uint32 Capacity;
        uint64 Offset;
    };
    const Case Cases[] = {
        {"address at here", Window(0, {'a'}, {OpAddSized, 1, OpCopySizedMode0, 1}, {1}), 64, 0},
        {"address beyond here", Window(6, {}, {OpCopySizedMode0, 1}, {7}), 64, 0},
        {"here distance above here", Window(6, {}, {OpCopySizedHere, 1}, {7}), 64, 0},
        {"here distance zero", Window(6, {}, {OpCopySizedHere, 1}, {0}), 64, 0},
        {"near wraps", Window(6, {}, {OpCopySizedMode0, 1, OpCopySizedNear0, 1}, NearWrap), 64, 0},
        {"huge self address", Window(6, {}, {OpCopySizedMode0, 1}, Huge), 64, 0},
        {"source overrun by one", Window(6, {}, {OpCopySizedMode0, 4}, {3}), 64, 0},
        {"source offset overrun", Window(6, {}, {OpCopySizedMode0, 6}, {0}), 64, 1},
        {"source offset wraps", Window(6, {}, {OpCopySizedMode0, 1}, {0}), 64, ~(uint64)0},
        {"segment beyond source", Window(100, {}, {OpCopySizedMode0, 1}, {50}), 64, 0},
        {"add beyond capacity", Window(0, {1, 2, 3}, {OpAddSized, 3}, {}), 2, 0},
        {"add beyond data", Window(0, {1, 2}, {OpAddSized, 3}, {}), 64, 0},
        {"run beyond capacity", Window(0, {}, {OpRun, 9, 'x'}, {}), 8, 0},
        {"run byte missing", Window(0, {}, {OpRun, 9}, {}), 64, 0},
        {"copy beyond capacity", Window(0, {'a'}, {OpAddSized, 1, OpCopySizedHere, 9}, {1}), 9, 0},
        {"size missing", Window(0, {}, {OpAddSized}, {}), 64, 0},
        {"address missing", Window(6, {}, {OpCopySizedMode0, 1}, {}), 64, 0},
        {"size above 32 bits", Window(0, {}, {OpAddSized, 0x90, 0x80, 0x80, 0x80, 0x00}, {}), 64, 0},
    };
    for (const Case &Each : Cases) {
        const Outcome Result = Decode(Each.Delta, Source, Each.Capacity, Each.Offset);
        EXPECT_EQ(Result.Initialised, 1) << Each.Name;
        EXPECT_EQ(Result.Decoded, 0) << Each.Name;
        EXPECT_LE(Result.Target.size(), Each.Capacity) << Each.Name;
    }
    // The same copies inside the bounds succeed.
    EXPECT_EQ(Decode(Window(6, {}, {OpCopySizedMode0, 3}, {3}), Source, 3).Decoded, 1);
    EXPECT_EQ(Decode(Window(6, {}, {OpCopySizedMode0, 5}, {0}), Source, 5, 1).Decoded, 1);
}

TEST_F(VCDiffTest, DecodeNeedsAReadHeaderAndRunsOnce) {
    VCDiffDecoder *Decoder = nullptr;
    VCDiffDecoder_Create(&Decoder);
    uint8 Out[8];
    uint32 Length = 0;
    EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out, sizeof(Out), &Length), 0);
    const Bytes Delta = Window(0, {'a'}, {OpAddSized, 1}, {});
    VCDiffDecoder_SetDeltaBuffer(Decoder, Delta.data(), (uint32)Delta.size());
    ASSERT_EQ(VCDiffDecoder_Init(Decoder), 1);
    Length = 9;
    EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out, sizeof(Out), &Length), 0); // start beyond capacity
    ASSERT_EQ(VCDiffDecoder_Init(Decoder), 1);
    Length = 0;
    EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out, sizeof(Out), &Length), 1);
    EXPECT_EQ(VCDiffDecoder_Decode(Decoder, Out, sizeof(Out), &Length), 0);
    EXPECT_EQ(Length, 1u);
    VCDiffDecoder_Delete(&Decoder);
}

TEST_F(VCDiffTest, CodeTableHoldsTheDefaultEntries) {
    CodeTable *Table = nullptr;
    CodeTable_Create(&Table);
    EXPECT_EQ(CodeTable_GetSize(Table), 256);
    struct Row {
        int32 Opcode, Half;
        CodeTableEntry Expected;
    };
    const Row Rows[] = {
        {0, 0, {VCDIFF_RUN, 0, 0}},     {0, 1, {VCDIFF_NOOP, 0, 0}},    {1, 0, {VCDIFF_ADD, 0, 0}},
        {18, 0, {VCDIFF_ADD, 17, 0}},   {19, 0, {VCDIFF_COPY, 0, 0}},   {20, 0, {VCDIFF_COPY, 4, 0}},
        {162, 0, {VCDIFF_COPY, 18, 8}}, {163, 0, {VCDIFF_ADD, 1, 0}},   {163, 1, {VCDIFF_COPY, 4, 0}},
        {234, 1, {VCDIFF_COPY, 6, 5}},  {235, 1, {VCDIFF_COPY, 4, 6}},  {246, 0, {VCDIFF_ADD, 4, 0}},
        {247, 0, {VCDIFF_COPY, 4, 0}},  {255, 0, {VCDIFF_COPY, 4, 8}},  {255, 1, {VCDIFF_ADD, 1, 0}},
    };
    for (const Row &Each : Rows) {
        CodeTableEntry Entry{};
        ASSERT_EQ(CodeTable_GetEntry(Table, Each.Opcode, Each.Half, &Entry), 1);
        EXPECT_EQ(Entry.Type, Each.Expected.Type) << Each.Opcode;
        EXPECT_EQ(Entry.Size, Each.Expected.Size) << Each.Opcode;
        EXPECT_EQ(Entry.Mode, Each.Expected.Mode) << Each.Opcode;
    }
    CodeTableEntry Entry{};
    EXPECT_EQ(CodeTable_GetEntry(Table, 256, 0, &Entry), 0);
    EXPECT_EQ(CodeTable_GetEntry(Table, -1, 0, &Entry), 0);
    EXPECT_EQ(CodeTable_GetEntry(Table, 0, 2, &Entry), 0);
    CodeTable_Delete(&Table);
}

} // namespace
