// BigInt against Python's integers on thousands of seeded random operands up
// to 8,192 bits (every operation, with operands shaped to reach the rare
// steps of long division), the Montgomery powers against Python's pow, and
// the byte, text and sign rules of the type.
#include "crypto/keys/big_int.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using BigIntTest = RuntimeTest;
using BigIntDeathTest = BigIntTest;

// Operands: random lengths up to 8,192 bits, with runs of all-ones and
// all-zero words and powers of two near the ends, which drive the add-back
// step of long division and the carries.
const char *Generator = R"PY(
import random
random.seed(20261207)
def operand(bits):
    kind = random.random()
    if bits == 0: return 0
    if kind < 0.1: return (1 << bits) - 1
    if kind < 0.15: return 1 << (bits - 1)
    if kind < 0.3:
        words = [random.choice([0, 0xffffffff, 0x80000000, 1, random.getrandbits(32)]) for _ in range((bits + 31) // 32)]
        value = 0
        for w in words: value = (value << 32) | w
        return value & ((1 << bits) - 1) | (1 << (bits - 1))
    return random.getrandbits(bits) | (1 << (bits - 1))
def size(limit=8192):
    return random.choice([random.randint(0, 64), random.randint(1, 600), random.randint(1, limit),
                          random.choice([b for b in (32, 64, 512, 1024, 2048, 4096, 8192) if b <= limit])])
def signed(bits):
    value = operand(bits)
    return -value if random.random() < 0.5 else value
def h(x): return ('-' if x < 0 else '') + format(abs(x), 'X')
out = []
def emit(op, *values): out.append(op + ' ' + ' '.join(h(v) for v in values))
for _ in range(700):
    a, b = signed(size()), signed(size())
    emit('add', a, b, a + b)
    emit('sub', a, b, a - b)
    emit('mul', a, b, a * b)
    emit('sqr', a, a * a)
    s = random.randint(0, 300)
    emit('shl', a, s, (abs(a) << s) * (1 if a >= 0 else -1))
    emit('shr', a, s, (abs(a) >> s) * (1 if a >= 0 else -1))
for _ in range(600):
    a = operand(size())
    m = operand(random.randint(1, 8192)) or 1
    if random.random() < 0.2: a = m * operand(random.randint(0, 200)) + operand(random.randint(0, 64)) % m
    emit('mod', a, m, a % m)
    b = operand(size())
    emit('mulmod', a, b, m, a * b % m)
    emit('sqrmod', a, m, a * a % m)
    emit('cmp', a, b, (a > b) - (a < b))
for _ in range(60):
    m = operand(random.randint(1, 1024)) or 1
    a, e = operand(size(1024)), operand(random.randint(0, 256))
    emit('powmod', a, e, m, pow(a, e, m))
for _ in range(150):
    m = operand(random.randint(2, 8192)) | 1
    a, e = operand(size()), operand(random.choice([0, 1, 2, 17, random.randint(0, 600)]))
    emit('mont', a, e, m, pow(a, e, m))
    b = operand(size())
    emit('montmul', a, b, m, a * b % m)
    if m.bit_length() <= 2048:
        d = operand(random.randint(0, m.bit_length()))
        emit('secret', a, d, m, pow(a, d, m))
for _ in range(80):
    m = operand(random.randint(2, 8192)) | 1
    a = operand(random.randint(1, 8192)) or 1
    import math
    g = math.gcd(a, m)
    emit('inv', a, m, g)
print('\n'.join(out))
)PY";

void Import(BigInt *Number, const std::string &Text) { ASSERT_EQ(BigInt_ImportHex(Number, Text.c_str()), 1); }

std::string Hex(BigInt *Number) {
    std::vector<char> Text((size_t)BigInt_ByteCount(Number) * 2 + 1);
    EXPECT_EQ(BigInt_ExportHex(Number, Text.data(), (int32)Text.size()), 1);
    std::string Digits(Text.data());
    // Python writes no leading zero digit; the export writes whole bytes.
    if (Digits.size() > 1 && Digits[0] == '0') Digits.erase(0, 1);
    if (Digits.empty()) Digits = "0";
    return (BigInt_GetSign(Number) < 0 ? "-" : "") + Digits;
}

TEST_F(BigIntTest, EveryOperationMatchesPython) {
    const std::string Cases = RunPython(Generator);
    ASSERT_FALSE(Cases.empty());
    std::istringstream Lines(Cases);
    std::string Line;
    int Count = 0;
    while (std::getline(Lines, Line)) {
        std::istringstream Fields(Line);
        std::string Op;
        Fields >> Op;
        std::vector<std::string> Values;
        for (std::string Value; Fields >> Value;) Values.push_back(Value);
        BigIntLocal A, B, C, Result;
        Import(A, Values[0]);
        const std::string &Expected = Values.back();
        SCOPED_TRACE(Line.substr(0, 200));
        if (Op == "add") {
            Import(B, Values[1]);
            BigInt_Add(Result, A, B);
            // Also in place, over the first operand.
            BigInt_Add(A, A, B);
            EXPECT_EQ(Hex(A), Expected);
        } else if (Op == "sub") {
            Import(B, Values[1]);
            BigInt_Subtract(Result, A, B);
            BigInt_Subtract(B, A, B);
            EXPECT_EQ(Hex(B), Expected);
        } else if (Op == "mul") {
            Import(B, Values[1]);
            BigInt_Multiply(Result, A, B);
        } else if (Op == "sqr") {
            BigInt_Multiply(Result, A, A);
        } else if (Op == "shl" || Op == "shr") {
            const int32 Bits = (int32)std::stol(Values[1], nullptr, 16);
            (Op == "shl" ? BigInt_ShiftLeft : BigInt_ShiftRight)(Result, A, Bits);
        } else if (Op == "mod") {
            Import(B, Values[1]);
            BigInt_Modulo(Result, A, B);
            BigInt_Modulo(A, A, B);
            EXPECT_EQ(Hex(A), Expected);
        } else if (Op == "mulmod") {
            Import(B, Values[1]);
            Import(C, Values[2]);
            BigInt_ModuloMultiply(Result, A, B, C);
        } else if (Op == "sqrmod") {
            Import(B, Values[1]);
            BigInt_ModuloSquare(Result, A, B);
        } else if (Op == "cmp") {
            Import(B, Values[1]);
            const int32 Order = BigInt_Compare(A, B);
            BigInt_SetWord(Result, Order != 0);
            if (Order < 0) BigInt_Negate(Result);
            EXPECT_EQ(BigInt_Equal(A, B), Expected == "0");
        } else if (Op == "powmod") {
            Import(B, Values[1]);
            Import(C, Values[2]);
            BigInt_ModuloPower(Result, A, B, C);
        } else if (Op == "mont" || Op == "montmul" || Op == "secret") {
            Import(B, Values[1]);
            Import(C, Values[2]);
            Montgomery *Context = nullptr;
            ASSERT_EQ(BigInt_MontgomeryCreate(&Context, C), 1);
            if (Op == "mont") {
                BigInt_MontgomeryPower(Result, A, B, Context);
                // The plain power agrees on the smaller cases.
                if (BigInt_BitCount(C) <= 1024 && BigInt_BitCount(B) <= 64) {
                    BigIntLocal Plain;
                    BigInt_ModuloPower(Plain, A, B, C);
                    EXPECT_EQ(Hex(Plain), Expected);
                }
            } else if (Op == "montmul") {
                BigInt_MontgomeryMultiply(Result, A, B, Context);
            } else {
                ASSERT_EQ(BigInt_MontgomeryPowerSecret(Result, A, B, Context), 1);
            }
            BigInt_MontgomeryDestroy(&Context);
        } else if (Op == "inv") {
            // x * a = gcd(a, m) (mod m), the inverse itself when coprime.
            Import(B, Values[1]);
            BigIntLocal Product;
            ASSERT_EQ(BigInt_ModuloInverse(C, A, B), 1);
            EXPECT_LT(BigInt_Compare(C, B), 0);
            BigInt_ModuloMultiply(Product, C, A, B);
            BigIntLocal Gcd;
            Import(Gcd, Expected);
            BigInt_Modulo(Gcd, Gcd, B);
            EXPECT_EQ(Hex(Product), Hex(Gcd));
            Count++;
            continue;
        } else {
            FAIL() << "unknown operation " << Op;
        }
        EXPECT_EQ(Hex(Result), Expected);
        Count++;
    }
    EXPECT_GT(Count, 7000);
}

TEST_F(BigIntTest, BytesAndText) {
    BigIntLocal Number;
    uint8 Out[8] = {};
    int32 Written = -1;
    ASSERT_EQ(BigInt_ImportBinary(Number, nullptr, 0), 1);
    EXPECT_EQ(BigInt_IsZero(Number), 1);
    EXPECT_EQ(BigInt_ExportBinary(Number, Out, 8, &Written), 1);
    EXPECT_EQ(Written, 0);
    const uint8 One[] = {0, 0, 1};
    BigInt_ImportBinary(Number, One, 3);
    EXPECT_EQ(Number.get()->Used, 1);
    EXPECT_EQ(Number.get()->Words[0], 1u);
    EXPECT_EQ(BigInt_ExportBinaryFixedSize(Number, Out, 4), 1);
    EXPECT_EQ(std::string((char *)Out, 4), std::string("\0\0\0\1", 4));
    BigInt_SetWord(Number, 0x1ff);
    EXPECT_EQ(BigInt_ExportBinary(Number, Out, 1, &Written), 0);
    EXPECT_EQ(BigInt_ExportBinaryFixedSize(Number, Out, 1), 0);

    struct {
        const char *Text;
        int32 Result;
        const char *Value;
    } Hexes[] = {{"1f", 1, "1F"}, {"1F", 1, "1F"}, {"-1f", 1, "-1F"}, {"12xyz", 1, "12"},
                 {"", 0, "0"},    {"xyz", 1, "0"}, {"-", 1, "0"},     {"000000000000000000000001", 1, "1"}};
    for (const auto &Case : Hexes) {
        BigInt_SetWord(Number, 7);
        EXPECT_EQ(BigInt_ImportHex(Number, Case.Text), Case.Result) << Case.Text;
        if (Case.Result) {
            EXPECT_EQ(Hex(Number), Case.Value) << Case.Text;
        }
    }
    char Text[8];
    BigInt_SetWord(Number, 0xabc);
    EXPECT_EQ(BigInt_ExportHex(Number, Text, 5), 1);
    EXPECT_STREQ(Text, "0ABC");
    EXPECT_EQ(BigInt_ExportHex(Number, Text, 4), 0);
    BigInt_Reset(Number);
    EXPECT_EQ(BigInt_ExportHex(Number, Text, 1), 1);
    EXPECT_STREQ(Text, "");
}

TEST_F(BigIntTest, CountsSignsAndEquality) {
    BigIntLocal A, B, C;
    BigInt_SetWord(A, 1);
    EXPECT_EQ(BigInt_BitCount(A), 1);
    BigInt_ShiftLeft(A, A, 32);
    EXPECT_EQ(BigInt_BitCount(A), 33);
    EXPECT_EQ(BigInt_ByteCount(A), 5);
    EXPECT_EQ(BigInt_IsBitSet(A, 32), 1);
    EXPECT_EQ(BigInt_IsBitSet(A, -1), 0);
    EXPECT_EQ(BigInt_IsBitSet(A, 64), 0);
    BigInt_ImportHex(A, "-5");
    BigInt_SetWord(B, 3);
    BigInt_Add(C, A, B);
    EXPECT_EQ(Hex(C), "-2");
    BigInt_Subtract(C, B, A);
    EXPECT_EQ(Hex(C), "8");
    BigInt_ImportHex(A, "-2");
    BigInt_ImportHex(B, "-3");
    BigInt_Multiply(C, A, B);
    EXPECT_EQ(Hex(C), "6");
    EXPECT_EQ(BigInt_GetSign(A), -1);
    // Equal values in blocks of different sizes are equal; signs count.
    BigInt_ImportHex(A, "5");
    BigInt_ExpandInt(A, 500);
    BigInt_ImportHex(B, "-5");
    EXPECT_EQ(BigInt_Equal(A, B), 0);
    BigInt_Negate(B);
    EXPECT_EQ(BigInt_Equal(A, B), 1);
    // The remainder of zero; an inverse; a right shift of everything.
    BigInt_Reset(A);
    BigInt_SetWord(B, 7);
    BigInt_Modulo(C, A, B);
    EXPECT_EQ(BigInt_IsZero(C), 1);
    BigInt_SetWord(A, 3);
    ASSERT_EQ(BigInt_ModuloInverse(C, A, B), 1);
    EXPECT_EQ(Hex(C), "5");
    BigInt_ShiftRight(C, B, 3);
    EXPECT_EQ(BigInt_IsZero(C), 1);
    EXPECT_EQ(BigInt_GetSign(C), 0);
}

TEST_F(BigIntTest, EvenModuliAreRefused) {
    BigIntLocal A, M;
    Montgomery *Context = nullptr;
    BigInt_SetWord(A, 3);
    for (const char *Modulus : {"0", "2", "10000000000000000000000000000"}) {
        BigInt_ImportHex(M, Modulus);
        EXPECT_EQ(BigInt_MontgomeryCreate(&Context, M), 0) << Modulus;
        EXPECT_EQ(Context, nullptr);
        if (!BigInt_IsZero(M)) {
            EXPECT_EQ(BigInt_ModuloInverse(A, A, M), 0) << Modulus;
        }
    }
}

TEST_F(BigIntTest, MontgomeryEdgeCases) {
    BigIntLocal Base, Exponent, Modulus, Result, Plain;
    BigInt_ImportHex(Modulus, "F123456789ABCDEF0123456789ABCDEF1");
    Montgomery *Context = nullptr;
    ASSERT_EQ(BigInt_MontgomeryCreate(&Context, Modulus), 1);
    EXPECT_EQ(BigInt_MontgomeryGetModuloByteCount(Context), 17);
    const char *Cases[][2] = {{"1234", "0"}, {"0", "5"}, {"0", "0"}, {"F123456789ABCDEF0123456789ABCDEF1", "3"},
                              {"F123456789ABCDEF0123456789ABCDEF0", "2"}};
    for (const auto &Case : Cases) {
        BigInt_ImportHex(Base, Case[0]);
        BigInt_ImportHex(Exponent, Case[1]);
        BigInt_MontgomeryPower(Result, Base, Exponent, Context);
        BigInt_ModuloPower(Plain, Base, Exponent, Modulus);
        EXPECT_EQ(Hex(Result), Hex(Plain)) << Case[0] << "^" << Case[1];
        BigInt_MontgomeryPowerSecret(Result, Base, Exponent, Context);
        EXPECT_EQ(Hex(Result), Hex(Plain)) << Case[0] << "^" << Case[1];
    }
    // A secret exponent longer than the modulus is refused.
    BigInt_ShiftLeft(Exponent, Modulus, 1);
    EXPECT_EQ(BigInt_MontgomeryPowerSecret(Result, Base, Exponent, Context), 0);
    BigInt_MontgomeryDestroy(&Context);
    EXPECT_EQ(Context, nullptr);
}

TEST_F(BigIntTest, RandomBelowModulus) {
    BigIntLocal Modulus, Value;
    BigInt_SetWord(Modulus, 1);
    EXPECT_EQ(BigInt_ModuloRandom(Value, Modulus), 0);
    BigInt_SetWord(Modulus, 3);
    int Seen[3] = {};
    for (int Draw = 0; Draw < 200; Draw++) {
        ASSERT_EQ(BigInt_ModuloRandom(Value, Modulus), 1);
        ASSERT_FALSE(BigInt_IsZero(Value));
        ASSERT_LT(BigInt_Compare(Value, Modulus), 0);
        Seen[Value.get()->Words[0]]++;
    }
    EXPECT_GT(Seen[1], 0);
    EXPECT_GT(Seen[2], 0);
}

TEST_F(BigIntDeathTest, CallerErrorsStop) {
    BigIntLocal A, B, Zero;
    BigInt_ImportHex(A, "-5");
    BigInt_SetWord(B, 7);
    EXPECT_DEATH(BigInt_Modulo(B, B, Zero), "Modulo must not be zero");
    EXPECT_DEATH(BigInt_Modulo(B, A, B), "Argument must be zero or positive");
    EXPECT_DEATH(BigInt_Compare(A, B), "must not be negative");
    EXPECT_DEATH(BigInt_ModuloInverse(B, Zero, B), "Argument must not be zero");
    BigInt Foreign = {};
    EXPECT_DEATH(BigInt_Copy(A, &Foreign), "Class mismatch");
    EXPECT_DEATH(BigInt_Copy(A, nullptr), "NULL");
}

} // namespace
