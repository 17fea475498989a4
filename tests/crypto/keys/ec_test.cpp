// Curves and points through the EC interface: choosing curves by OID, the
// SEC 1 point encodings with their exact sizes, validation (coordinates
// below p, zero coordinates refused, points off the curve refused; on
// secp224k1, whose order exceeds p, an x of p or more is refused), and the
// group laws at the affine interface, with points found by Python.
#include "crypto/keys/ec.h"

#include <gtest/gtest.h>

#include <sstream>

#include "crypto/keys/ecdsa.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using EcTest = RuntimeTest;

constexpr const char *P256 = "1.2.840.10045.3.1.7";
constexpr const char *P224 = "1.3.132.0.33";
constexpr const char *Secp224k1 = "1.3.132.0.32";

struct Curve {
    EC *Handle = nullptr;
    explicit Curve(const char *Oid) {
        EC_Create(&Handle);
        EXPECT_EQ(EC_InitParams(Handle, Oid), 1) << Oid;
    }
    ~Curve() { EC_Delete(&Handle); }
};

struct Point {
    ECPoint Value;
    Point() { ECPoint_Init(&Value); }
    ~Point() { ECPoint_Release(&Value); }
    ECPoint *operator&() { return &Value; }
};

std::string Bytes(const BigInt *Number, int32 Size) {
    std::string Out((size_t)Size, '\0');
    BigInt_ExportBinaryFixedSize(Number, Out.data(), Size);
    return Out;
}

bool Import(Point &P, Curve &C, const std::string &Encoded) {
    return ECPoint_ImportBinary(&P, C.Handle, Encoded.data(), (int32)Encoded.size()) == 1;
}

TEST_F(EcTest, ChoosesCurvesByOid) {
    Curve C(P256);
    EXPECT_STREQ(EC_GetCurveName(C.Handle), P256);
    EXPECT_EQ(ToHex(Bytes(EC_GetG(C.Handle)->X, 32)),
              ToHex(FromHex("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296")));
    EXPECT_EQ(BigInt_BitCount(EC_GetN(C.Handle)), 256);
    EXPECT_EQ(EC_InitParams(C.Handle, "1.2.840.10045.3.1.8"), 0);
    EXPECT_EQ(EC_InitParams(C.Handle, "1.2.840.10045.3.1.7.1.2.3"), 0); // 24 characters
    Point P;
    const std::string G = FromHex("046B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C2964FE342E2FE1A"
                                  "7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5");
    EXPECT_FALSE(Import(P, C, G)); // unusable until chosen again
    EXPECT_EQ(EC_Reset(C.Handle), 1);
    EXPECT_EQ(BigInt_IsZero(EC_GetP(C.Handle)), 1);
}

TEST_F(EcTest, PointEncodings) {
    Curve C(P256);
    const std::string X = FromHex("6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296");
    const std::string Y = FromHex("4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5");
    Point P;
    ASSERT_TRUE(Import(P, C, "\x04" + X + Y));
    EXPECT_EQ(ECPoint_Equal(&P, EC_GetG(C.Handle)), 1);
    std::string Changed = "\x04" + X + Y;
    Changed.back() ^= 1;
    EXPECT_FALSE(Import(P, C, Changed));
    EXPECT_FALSE(Import(P, C, ("\x04" + X + Y).substr(0, 64)));
    EXPECT_FALSE(Import(P, C, "\x04" + X + Y + std::string(1, '\0')));
    EXPECT_FALSE(Import(P, C, "\x04" + X + Y.substr(1)));
    // Y is odd: 03 gives G, 02 gives -G.
    ASSERT_TRUE(Import(P, C, "\x03" + X));
    EXPECT_EQ(ECPoint_Equal(&P, EC_GetG(C.Handle)), 1);
    ASSERT_TRUE(Import(P, C, "\x02" + X));
    EXPECT_EQ(Bytes(P.Value.X, 32), X);
    BigIntLocal Sum;
    BigInt_Add(Sum, P.Value.Y, EC_GetG(C.Handle)->Y);
    EXPECT_EQ(BigInt_Equal(Sum, EC_GetP(C.Handle)), 1);
    EXPECT_FALSE(Import(P, C, "\x02" + X + std::string(1, '\0')));
    EXPECT_FALSE(Import(P, C, std::string("\x05", 1) + X + Y));
    EXPECT_FALSE(Import(P, C, std::string("\x00", 1) + X + Y));
    EXPECT_FALSE(Import(P, C, std::string("\x04\x01", 2)));
    // No square roots on P-224 and secp224k1: their compressed points fail.
    for (const char *Oid : {P224, Secp224k1}) {
        Curve Other(Oid);
        const std::string Gx = Bytes(EC_GetG(Other.Handle)->X, 28);
        const bool Odd = BigInt_IsBitSet(EC_GetG(Other.Handle)->Y, 0);
        EXPECT_FALSE(Import(P, Other, std::string(1, Odd ? '\x03' : '\x02') + Gx)) << Oid;
        EXPECT_TRUE(Import(P, Other, "\x04" + Gx + Bytes(EC_GetG(Other.Handle)->Y, 28))) << Oid;
    }
}

// Python finds points the tests need: on P-256 one with x = 0 and one with
// n <= x < p; on secp224k1 one whose x + p is still below n.
TEST_F(EcTest, ValidationBounds) {
    const std::string Found = RunPython(R"(
p = 2**256 - 2**224 + 2**192 + 2**96 - 1
b = 0x5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B
n = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
def root(t): y = pow(t, (p + 1) // 4, p); return y if y * y % p == t else None
print('%064x' % root(b))
x = n
while root((x**3 - 3 * x + b) % p) is None: x += 1
print('%064x %064x' % (x, root((x**3 - 3 * x + b) % p)))
q = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFE56D
def root5(t):
    # p = 5 mod 8 (Atkin).
    v = pow(2 * t, (q - 5) // 8, q); i = 2 * t * v * v % q; y = t * v * (i - 1) % q
    return y if y * y % q == t else None
x = 1
while root5((x**3 + 5) % q) is None: x += 1
print('%x %x' % (x, root5((x**3 + 5) % q)))
)");
    std::istringstream Lines(Found);
    std::string ZeroY, Big, SmallX, SmallY, BigX, BigY;
    Lines >> ZeroY >> BigX >> BigY >> SmallX >> SmallY;
    Curve C(P256);
    Point P;
    // x = 0 lies on P-256 but is refused; so is a point with y = 0 faked in.
    EXPECT_FALSE(Import(P, C, "\x04" + std::string(32, '\0') + FromHex(ZeroY)));
    BigInt_ImportHex(P.Value.X, BigX.c_str());
    BigInt_Reset(P.Value.Y);
    EXPECT_EQ(EC_ValidatePoint(C.Handle, &P), 0);
    // A genuine point with n <= x < p is accepted.
    EXPECT_TRUE(Import(P, C, "\x04" + FromHex(BigX) + FromHex(BigY)));
    // x + p on secp224k1 (still below n) names no other point.
    ECDSA *Key = nullptr;
    ECDSA_Create(&Key);
    ASSERT_TRUE(ECDSA_InitParams(Key, Secp224k1));
    BigIntLocal X, Y, Shifted;
    BigInt_ImportHex(X, SmallX.c_str());
    BigInt_ImportHex(Y, SmallY.c_str());
    EXPECT_EQ(ECDSA_SetPublicKeyPair(Key, X, Y), 1);
    EC *Curve224 = nullptr;
    ECDSA_GetECHandle(Key, &Curve224);
    BigInt_Add(Shifted, X, EC_GetP(Curve224));
    ASSERT_LT(BigInt_Compare(Shifted, EC_GetN(Curve224)), 0);
    EXPECT_EQ(ECDSA_SetPublicKeyPair(Key, Shifted, Y), 0);
    ECDSA_Delete(&Key);
}

TEST_F(EcTest, GroupLaws) {
    Curve C(P256);
    ECPoint *G = EC_GetG(C.Handle);
    Point Negative, Sum, Twice, Result;
    BigInt_Copy(Negative.Value.X, G->X);
    BigInt_Subtract(Negative.Value.Y, EC_GetP(C.Handle), G->Y);
    ASSERT_TRUE(EC_PointAdd(C.Handle, &Sum, G, &Negative));
    EXPECT_EQ(Sum.Value.AtInfinity, 1u);
    ASSERT_TRUE(EC_PointAdd(C.Handle, &Sum, G, G));
    BigIntLocal K;
    BigInt_SetWord(K, 2);
    ASSERT_TRUE(EC_PointMultiply(C.Handle, &Twice, G, K));
    EXPECT_EQ(ECPoint_Equal(&Sum, &Twice), 1);
    EXPECT_EQ(EC_ValidatePoint(C.Handle, &Twice), 1);
    BigInt_SetWord(K, 0);
    EC_PointMultiply(C.Handle, &Result, G, K);
    EXPECT_EQ(Result.Value.AtInfinity, 1u);
    EC_PointMultiply(C.Handle, &Result, G, EC_GetN(C.Handle));
    EXPECT_EQ(Result.Value.AtInfinity, 1u);
    BigInt_SetWord(K, 1);
    EC_PointMultiply(C.Handle, &Result, G, K);
    EXPECT_EQ(ECPoint_Equal(&Result, G), 1);
    // -1·G is the negative; infinity added to a point gives the point.
    BigInt_Negate(K);
    EC_PointMultiply(C.Handle, &Result, G, K);
    EXPECT_EQ(ECPoint_Equal(&Result, &Negative), 1);
    Sum.Value.AtInfinity = 1;
    EC_PointAdd(C.Handle, &Result, &Sum, G);
    EXPECT_EQ(ECPoint_Equal(&Result, G), 1);
}

} // namespace
