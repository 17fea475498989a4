// BitField: random operation sequences checked against Python integers
// (bit 0 is the most significant bit of byte 0), the text forms against
// Python's hex and base64, the edge cases of the bit order, and the stops.
#include "runtime/containers/bit_field.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "tests/support/python.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

class BitFieldTest : public RuntimeTest {
  protected:
    void SetUp() override {
        Flags = DEBUG_FLAG_EXTERNALPRINT;
        RuntimeTest::SetUp();
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
        BitField_Create(&Field);
    }
    void TearDown() override {
        if (Field) BitField_Release(&Field);
        RuntimeTest::TearDown();
    }

    std::vector<uint8> Bytes(BitField *Handle = nullptr) {
        if (!Handle) Handle = Field;
        int32 Count = 0;
        BitField_GetTotalBytes(Handle, &Count);
        std::vector<uint8> Result(Count);
        BitField_BufferWrite(Handle, Result.data(), Count);
        return Result;
    }
    std::string Hex(BitField *Handle = nullptr) {
        if (!Handle) Handle = Field;
        int32 Length = 0;
        BitField_ToHexStringLength(Handle, &Length);
        std::string Text(Length, '?');
        EXPECT_EQ(BitField_ToHexString(Handle, Text.data(), Length), 1);
        return Text.c_str();
    }
    std::string Base64(BitField *Handle = nullptr) {
        if (!Handle) Handle = Field;
        int32 Length = 0;
        BitField_ToBase64StringLength(Handle, &Length);
        std::string Text(Length, '?');
        EXPECT_EQ(BitField_ToBase64String(Handle, Text.data(), Length), 1);
        return Text.c_str();
    }
    int32 NonZero(BitField *Handle = nullptr) {
        int32 Count = -1;
        BitField_GetNonZeroBits(Handle ? Handle : Field, &Count);
        return Count;
    }

    BitField *Field = nullptr;
};

using BitFieldDeathTest = BitFieldTest;

// Python's model: the field is an integer of n bits whose most significant
// bit is bit 0. It writes random operation sequences with the expected state
// after each step.
const char *ReferenceScript = R"PY(
import base64, random
random.seed(136)
def field_bytes(v, n):
    nb = (n + 7) // 8
    return (v << (nb * 8 - n)).to_bytes(nb, 'big')
def first(v, n):
    return n - v.bit_length() if v else -1
def last(v, n):
    return n - (v & -v).bit_length() if v else -1
out = []
for trial in range(400):
    n = random.choice([0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65]) if trial < 60 else random.randint(0, 300)
    full = (1 << n) - 1
    v = 0
    out.append('F %d' % n)
    for step in range(random.randint(1, 30)):
        ops = 'SCRKIAZONEQB' if n else 'IAZONEQ'
        op = random.choice(ops)
        if op in 'SC':
            i = random.randrange(n)
            v = v | (1 << (n - 1 - i)) if op == 'S' else v & ~(1 << (n - 1 - i))
            out.append('%s %d' % (op, i))
        elif op in 'RKQ':
            s = random.randint(0, n)
            c = random.randint(-2, n + 3)
            m = min(n - s, c)
            mask = ((1 << m) - 1) << (n - s - m) if m >= 1 else 0
            if op == 'R': v |= mask
            if op == 'K': v &= ~mask
            if op == 'Q':
                out.append('Q %d %d %d %d' % (s, c, int(v & mask == mask), int(v & mask == 0)))
            else:
                out.append('%s %d %d' % (op, s, c))
        elif op == 'I':
            v ^= full; out.append('I')
        elif op == 'A':
            v = full; out.append('A')
        elif op == 'Z':
            v = 0; out.append('Z')
        elif op == 'B':
            i = random.randrange(n)
            out.append('B %d %d' % (i, (v >> (n - 1 - i)) & 1))
        else:
            nb = (n + 7) // 8
            raw = bytes(random.randrange(256) for _ in range(nb))  # overflow bits too
            o = int.from_bytes(raw, 'big') >> (nb * 8 - n) if nb else 0
            if random.random() < 0.5:
                text = raw.hex().upper() if random.random() < 0.5 else raw.hex()
                if nb and random.random() < 0.3: text = random.choice(['0x', '0X']) + text
                form = 'h'
            else:
                text = base64.b64encode(raw).decode()
                form = 'b'
            if op == 'O': v |= o
            if op == 'N': v &= o
            if op == 'E': v &= ~o & full
            out.append('%s %s %s' % (op, form, text or '-'))
        c = full ^ v
        b = field_bytes(v, n)
        pct = repr(bin(v).count('1') / n * 100) if n else '100.0'
        out.append('X %d %d %d %d %d %s %s %s' % (bin(v).count('1'), first(v, n), first(c, n), last(v, n),
                   last(c, n), b.hex().upper() or '-', base64.b64encode(b).decode() or '-', pct))
print('\n'.join(out))
)PY";

} // namespace

TEST_F(BitFieldTest, RandomOperationsMatchPythonIntegers) {
    const std::string Script = RunPython(ReferenceScript);
    ASSERT_FALSE(Script.empty());
    std::istringstream Lines(Script);
    std::string Line;
    BitField *Other = nullptr, *Copy = nullptr;
    BitField_Create(&Other);
    BitField_Create(&Copy);
    int32 Total = 0, Checked = 0;
    while (std::getline(Lines, Line)) {
        std::istringstream Words(Line);
        std::string Op;
        Words >> Op;
        SCOPED_TRACE(Line);
        if (Op == "F") {
            Words >> Total;
            BitField_SetTotalBits(Field, -1);
            BitField_SetTotalBits(Field, Total);
            ASSERT_EQ(NonZero(), 0);
        } else if (Op == "S" || Op == "C") {
            int32 Index;
            Words >> Index;
            ASSERT_EQ(Op == "S" ? BitField_Set(Field, Index) : BitField_Clear(Field, Index), 1);
        } else if (Op == "R" || Op == "K") {
            int32 Start, Count;
            Words >> Start >> Count;
            ASSERT_EQ(Op == "R" ? BitField_SetRange(Field, Start, Count) : BitField_ClearRange(Field, Start, Count), 1);
        } else if (Op == "Q") {
            int32 Start, Count, IsSet, IsClear;
            Words >> Start >> Count >> IsSet >> IsClear;
            EXPECT_EQ(BitField_IsRangeSet(Field, Start, Count), IsSet);
            EXPECT_EQ(BitField_IsRangeClear(Field, Start, Count), IsClear);
        } else if (Op == "B") {
            int32 Index, Value;
            Words >> Index >> Value;
            EXPECT_EQ(BitField_IsSet(Field, Index), Value);
            EXPECT_EQ(BitField_IsClear(Field, Index), !Value);
        } else if (Op == "I") {
            BitField_Invert(Field);
        } else if (Op == "A") {
            BitField_SetAll(Field);
        } else if (Op == "Z") {
            BitField_ClearAll(Field);
        } else if (Op == "O" || Op == "N" || Op == "E") {
            std::string Form, Text;
            Words >> Form >> Text;
            if (Text == "-") Text.clear();
            BitField_SetTotalBits(Other, Total);
            BitField_SetAll(Other); // the readers must overwrite every byte
            ASSERT_EQ(Form == "h" ? BitField_FromHexString(Other, Text.c_str())
                                  : BitField_FromBase64String(Other, Text.c_str()),
                      1);
            if (Op == "O") BitField_Combine(Field, Other);
            if (Op == "N") BitField_And(Field, Other);
            if (Op == "E") BitField_Except(Field, Other);
        } else if (Op == "X") {
            int32 Count, FirstSet, FirstClear, LastSet, LastClear, Index;
            std::string HexText, Base64Text, PercentText;
            Words >> Count >> FirstSet >> FirstClear >> LastSet >> LastClear >> HexText >> Base64Text >> PercentText;
            if (HexText == "-") HexText.clear();
            if (Base64Text == "-") Base64Text.clear();
            EXPECT_EQ(NonZero(), Count);
            int32 Zero = -1;
            BitField_GetZeroBits(Field, &Zero);
            EXPECT_EQ(Zero, Total - Count);
            EXPECT_EQ(BitField_IsEmpty(Field), Count == 0);
            EXPECT_EQ(BitField_IsFull(Field), Count == Total);
            EXPECT_EQ(BitField_GetFirstSet(Field, &Index), FirstSet >= 0);
            EXPECT_EQ(Index, FirstSet);
            EXPECT_EQ(BitField_GetFirstClear(Field, &Index), FirstClear >= 0);
            EXPECT_EQ(Index, FirstClear);
            EXPECT_EQ(BitField_GetLastSet(Field, &Index), LastSet >= 0);
            EXPECT_EQ(Index, LastSet);
            EXPECT_EQ(BitField_GetLastClear(Field, &Index), LastClear >= 0);
            EXPECT_EQ(Index, LastClear);
            EXPECT_EQ(Hex(), HexText);
            EXPECT_EQ(Base64(), Base64Text);
            float64 Percent = -1;
            EXPECT_EQ(BitField_GetPercentFull(Field, &Percent), Total > 0);
            EXPECT_EQ(Percent, strtod(PercentText.c_str(), nullptr));
            // A copy, and a field read back from each text form, are equal.
            BitField_Copy(Copy, Field);
            EXPECT_EQ(Hex(Copy), HexText);
            EXPECT_EQ(NonZero(Copy), Count);
            BitField_SetTotalBits(Other, Total);
            EXPECT_EQ(BitField_FromBase64String(Other, Base64Text.c_str()), 1);
            EXPECT_EQ(Hex(Other), HexText);
            EXPECT_EQ(NonZero(Other), Count);
            Checked++;
        } else {
            FAIL() << "unknown step";
        }
    }
    EXPECT_GT(Checked, 3000);
    BitField_Release(&Other);
    BitField_Release(&Copy);
}

TEST_F(BitFieldTest, TenBitFieldEdgeCases) {
    BitField_SetTotalBits(Field, 10);
    int32 Bytes = 0;
    BitField_GetTotalBytes(Field, &Bytes);
    EXPECT_EQ(Bytes, 2);
    BitField_Set(Field, 0);
    BitField_Set(Field, 9);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0x80, 0x40}));
    EXPECT_EQ(Hex(), "8040");

    BitField_SetAll(Field);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0xFF, 0xC0}));
    EXPECT_EQ(NonZero(), 10);
    BitField_Invert(Field);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0x00, 0x00}));
    EXPECT_EQ(NonZero(), 0);

    BitField_SetRange(Field, 8, 5);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0x00, 0xC0}));
    EXPECT_EQ(NonZero(), 2);
    EXPECT_EQ(BitField_IsRangeSet(Field, 10, 3), 1);
    EXPECT_EQ(BitField_IsRangeClear(Field, 10, 3), 1);
    EXPECT_EQ(BitField_IsValidRange(Field, 9), 1);
    EXPECT_EQ(BitField_IsValidRange(Field, 10), 0);
    EXPECT_EQ(BitField_IsValidRange(Field, -1), 0);

    // Overflow bits from a text are cleared and not counted.
    EXPECT_EQ(BitField_FromHexString(Field, "0xFFFF"), 1);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0xFF, 0xC0}));
    EXPECT_EQ(NonZero(), 10);
    uint8 Raw[2] = {0x12, 0x3F};
    EXPECT_EQ(BitField_BufferRead(Field, Raw, 2), 1);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0x12, 0x00}));
    EXPECT_EQ(NonZero(), 2);
    EXPECT_EQ(BitField_BufferRead(Field, Raw, 1), 0);
    EXPECT_EQ(this->Bytes(), (std::vector<uint8>{0x12, 0x00}));
}

TEST_F(BitFieldTest, SizingAndPercentages) {
    float64 Percent = -1;
    EXPECT_EQ(BitField_IsFull(Field), 1); // no bits: full and empty
    EXPECT_EQ(BitField_IsEmpty(Field), 1);
    EXPECT_EQ(BitField_GetPercentFull(Field, &Percent), 0);
    EXPECT_EQ(Percent, 100.0);
    EXPECT_EQ(BitField_GetPercentEmpty(Field, &Percent), 0);
    EXPECT_EQ(Percent, 100.0);
    int32 Index = 0;
    EXPECT_EQ(BitField_GetFirstSet(Field, &Index), 0);
    EXPECT_EQ(Index, -1);
    EXPECT_EQ(BitField_GetLastClear(Field, &Index), 0);
    EXPECT_EQ(Index, -1);
    EXPECT_EQ(Hex(), "");
    EXPECT_EQ(Base64(), "");

    BitField_SetTotalBits(Field, 8);
    BitField_SetRange(Field, 2, 3);
    EXPECT_EQ(BitField_GetPercentFull(Field, &Percent), 1);
    EXPECT_EQ(Percent, 37.5);
    EXPECT_EQ(BitField_GetPercentEmpty(Field, &Percent), 1);
    EXPECT_EQ(Percent, 62.5);

    // The same size keeps the bits; another size clears them; negative is 0.
    BitField_SetTotalBits(Field, 8);
    EXPECT_EQ(Hex(), "38");
    BitField_SetTotalBits(Field, 9);
    EXPECT_EQ(Hex(), "0000");
    EXPECT_EQ(NonZero(), 0);
    BitField_SetTotalBits(Field, -5);
    int32 Bits = -1;
    BitField_GetTotalBits(Field, &Bits);
    EXPECT_EQ(Bits, 0);
}

TEST_F(BitFieldTest, TextReadersRejectBadInputAndKeepTheField) {
    BitField_SetTotalBits(Field, 24);
    BitField_FromHexString(Field, "A1B2C3");
    // Decodes to 4 bytes for a 3-byte field.
    EXPECT_EQ(BitField_FromBase64String(Field, "AAECAw=="), 0);
    EXPECT_EQ(Hex(), "A1B2C3");
    for (const char *Bad : {"AAE", "AA$A", "AAEC\nAw==", "A"}) {
        EXPECT_EQ(BitField_FromBase64String(Field, Bad), 0) << Bad;
        EXPECT_EQ(Hex(), "A1B2C3") << Bad;
    }
    EXPECT_EQ(BitField_FromBase64String(Field, "AAEC"), 1);
    EXPECT_EQ(Hex(), "000102");

    // A counted text is read only up to its length, terminator or not (ASan).
    const char Exact[] = {'/', '/', '/', '/'};
    std::vector<char> Heap(Exact, Exact + 4);
    EXPECT_EQ(BitField_FromBase64StringLength(Field, Heap.data(), 4), 1);
    EXPECT_EQ(Hex(), "FFFFFF");
    EXPECT_EQ(BitField_FromBase64StringLength(Field, "AAECxxxx", 4), 1);
    EXPECT_EQ(Hex(), "000102");

    // Hex stops at the first character that is not a digit.
    EXPECT_EQ(BitField_FromHexString(Field, "12zz56"), 0);
    EXPECT_EQ(BitField_FromHexStringLength(Field, "abcdef99", 6), 1);
    EXPECT_EQ(Hex(), "ABCDEF");

    // Writers need room for the whole text.
    char Small[4];
    EXPECT_EQ(BitField_ToBase64String(Field, Small, sizeof(Small)), 0);
    int32 Length = 0;
    BitField_ToBase64StringLength(Field, &Length);
    EXPECT_EQ(Length, 5);
    BitField_ToHexStringLength(Field, &Length);
    EXPECT_EQ(Length, 7);
}

TEST_F(BitFieldTest, VerboseFieldLogsDecodeFailures) {
    BitField_SetTotalBits(Field, 24);
    EXPECT_EQ(BitField_FromBase64String(Field, "AA$A"), 0);
    EXPECT_EQ(Captured.find("Unable to decode"), std::string::npos);
    BitField_SetVerbose(Field, 1);
    EXPECT_EQ(BitField_FromBase64String(Field, "AA$A"), 0);
    EXPECT_NE(Captured.find("Error: Unable to decode bitfield (13 / "), std::string::npos) << Captured;
    EXPECT_EQ(BitField_FromBase64String(Field, "AAECAw=="), 0);
    EXPECT_NE(Captured.find("Error: Unable to read bitfield"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("BitField."), std::string::npos) << Captured;
}

TEST_F(BitFieldTest, DumpsWriteOneLine) {
    BitField_SetTotalBits(Field, 10);
    BitField_Set(Field, 0);
    BitField_Set(Field, 9);
    BitField_Dump(Field, "mask");
    EXPECT_NE(Captured.find("mask:8040\n"), std::string::npos) << Captured;
    BitField_DumpBase64(Field, "mask");
    EXPECT_NE(Captured.find("mask                :gEA=\n"), std::string::npos) << Captured;
    // A label longer than the line's spare room is cut, never overrun (ASan).
    const std::string Long(500, 'L');
    BitField_Dump(Field, Long.c_str());
    EXPECT_NE(Captured.find(std::string(117, 'L') + ":8040\n"), std::string::npos);
    BitField_DumpBase64(Field, Long.c_str());
    EXPECT_NE(Captured.find(std::string(117, 'L') + ":gEA=\n"), std::string::npos);
}

TEST_F(BitFieldTest, ReferencesAndHandles) {
    EXPECT_EQ(BitField_ValidHandle(Field), 1);
    EXPECT_EQ(BitField_ValidHandle(nullptr), 0);
    BitField *Second = BitField_AddRef(Field);
    EXPECT_EQ(Second, Field);
    EXPECT_EQ(BitField_Release(&Second), 1);
    EXPECT_EQ(Second, nullptr);
    EXPECT_EQ(BitField_ValidHandle(Field), 1);
    char Id[37] = "x";
    EXPECT_EQ(BitField_GetInstanceId(Field, Id, sizeof(Id)), 1);
    EXPECT_STREQ(Id, "");
    EXPECT_EQ(BitField_Release(&Field), 0);
    EXPECT_EQ(Field, nullptr);
}

TEST_F(BitFieldDeathTest, IndexOutsideTheFieldStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BitField_SetTotalBits(Field, 10);
    EXPECT_EXIT(BitField_Set(Field, 10), ::testing::KilledBySignal(SIGILL), "Bit outside boundary 10 >= 10");
    EXPECT_EXIT(BitField_Clear(Field, -1), ::testing::KilledBySignal(SIGILL), "Bit outside boundary -1 >= 10");
    EXPECT_EXIT(BitField_IsSet(Field, 11), ::testing::KilledBySignal(SIGILL), "Bit outside boundary 11 >= 10");
    EXPECT_EXIT(BitField_SetRange(Field, -2, 5), ::testing::KilledBySignal(SIGILL), "Bit outside boundary -2 >= 10");
}

TEST_F(BitFieldDeathTest, MismatchedFieldsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    BitField *Other = nullptr;
    BitField_Create(&Other);
    BitField_SetTotalBits(Field, 10);
    BitField_SetTotalBits(Other, 12);
    EXPECT_EXIT(BitField_Combine(Field, Other), ::testing::KilledBySignal(SIGILL),
                "Bit mismatch on combine \\(10 != 12\\)");
    EXPECT_EXIT(BitField_And(Field, Other), ::testing::KilledBySignal(SIGILL), "Bit mismatch on and \\(10 != 12\\)");
    EXPECT_EXIT(BitField_Except(Field, Other), ::testing::KilledBySignal(SIGILL),
                "Bit mismatch on except \\(10 != 12\\)");
    uint8 Buffer[3];
    EXPECT_EXIT(BitField_BufferWrite(Field, Buffer, 3), ::testing::KilledBySignal(SIGILL),
                "Buffer mismatch on except \\(2 != 3\\)");
    BitField_Release(&Other);
}
