// The curve table and the arithmetic engine of the elliptic-curve modules.
// See ec_internal.h.
//
// One template per limb count (3, 4, 6, 9 limbs of 64 bits) serves every
// curve of that size: fields are Montgomery residues (CIOS multiplication,
// R = 2^(64·limbs)), fully reduced after each operation. All eight curves
// have a = 0 or a = -3, so doubling takes the formula for its a. Points are
// Jacobian (X/Z^2, Y/Z^3), infinity being Z = 0; one inversion (by Fermat)
// turns a result affine.
//
// Secret scalars: a fixed window of 4 bits over all ceil(OrderBits / 4)
// windows of the scalar, whatever its value (for the base point, one table
// row per window, built once, so that no doublings are needed). Every table
// entry is read for each window (masked select) and the addition folds its
// special cases (either operand at infinity) in with masks, so the sequence
// of operations and memory accesses is the same for every scalar. With K
// below n the running sum is 16·m·P with 16·m < n, so it never equals
// ±(table entry) and the addition's doubling case cannot arise.
//
// Public scalars (verification): width-5 NAF, the two products of u1·G +
// u2·Q sharing their doublings.
#include <string.h>

#include <memory>
#include <mutex>

#include "crypto/keys/ec_internal.h"
#include "runtime/debug.h"

namespace ec {

namespace {

// Published constants (SEC 2 version 2, FIPS 186-4 D.1.2).
constexpr CurveParams Table[] = {
    {"1.3.132.0.31", "secp192k1", SqrtPower, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFEE37", "0", "3",
     "DB4FF10EC057E9AE26B07D0280B7F4341DA5D1B1EAE06C7D", "9B2F2F6D9C5628A7844163D015BE86344082AA88D95E2F9D",
     "FFFFFFFFFFFFFFFFFFFFFFFE26F2FC170F69466A74DEFD8D"},
    {"1.2.840.10045.3.1.1", "P-192", SqrtPower, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFFFFFFFFFF",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFFFFFFFFFC", "64210519E59C80E70FA7E9AB72243049FEB8DEECC146B9B1",
     "188DA80EB03090F67CBF20EB43A18800F4FF0AFD82FF1012", "07192B95FFC8DA78631011ED6B24CDD573F977A11E794811",
     "FFFFFFFFFFFFFFFFFFFFFFFF99DEF836146BC9B1B4D22831"},
    {"1.3.132.0.32", "secp224k1", SqrtSecp224k1, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFE56D", "0",
     "5", "A1455B334DF099DF30FC28A169A467E9E47075A90F7E650EB6B7A45C",
     "7E089FED7FBA344282CAFBD6F7E319F7C0B0BD59E2CA4BDB556D61A5",
     "010000000000000000000000000001DCE8D2EC6184CAF0A971769FB1F7"},
    {"1.3.132.0.33", "P-224", SqrtP224, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF000000000000000000000001",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFE",
     "B4050A850C04B3ABF54132565044B0B7D7BFD8BA270B39432355FFB4",
     "B70E0CBD6BB4BF7F321390B94A03C1D356C21122343280D6115C1D21",
     "BD376388B5F723FB4C22DFE6CD4375A05A07476444D5819985007E34",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFF16A2E0B8F03E13DD29455C5C2A3D"},
    {"1.3.132.0.10", "secp256k1", SqrtPower, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC2F", "0",
     "7", "79BE667EF9DCBBAC55A06295CE870B07029BFCDB2DCE28D959F2815B16F81798",
     "483ADA7726A3C4655DA4FBFC0E1108A8FD17B448A68554199C47D08FFB10D4B8",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141"},
    {"1.2.840.10045.3.1.7", "P-256", SqrtPower, "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF",
     "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFC",
     "5AC635D8AA3A93E7B3EBBD55769886BC651D06B0CC53B0F63BCE3C3E27D2604B",
     "6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296",
     "4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5",
     "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551"},
    {"1.3.132.0.34", "P-384", SqrtPower,
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFF0000000000000000FFFFFFFF",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFF0000000000000000FFFFFFFC",
     "B3312FA7E23EE7E4988E056BE3F82D19181D9C6EFE8141120314088F5013875AC656398D8A2ED19D2A85C8EDD3EC2AEF",
     "AA87CA22BE8B05378EB1C71EF320AD746E1D3B628BA79B9859F741E082542A385502F25DBF55296C3A545E3872760AB7",
     "3617DE4A96262C6F5D9E98BF9292DC29F8F41DBD289A147CE9DA3113B5F0B8C00A60B1CE1D7E819D7A431D7C90EA0E5F",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77AECEC196ACCC52973"},
    {"1.3.132.0.35", "P-521", SqrtPower,
     "01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF",
     "01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC",
     "0051953EB9618E1C9A1F929A21A0B68540EEA2DA725B99B315F3B8B489918EF109"
     "E156193951EC7E937B1652C0BD3BB1BF073573DF883D2C34F1EF451FD46B503F00",
     "00C6858E06B70404E9CD9E3ECB662395B4429C648139053FB521F828AF606B4D3D"
     "BAA14B5E77EFE75928FE1DC127A2FFA8DE3348B3C1856A429BF97E7E31C2E5BD66",
     "011839296A789A3BC0045C8A5FB42C7D1BD998F54449579B446817AFBD17273E66"
     "2C97EE72995EF42640C550B9013FAD0761353C7086A272C24088BE94769FD16650",
     "01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
     "FA51868783BF2F966B7FCC0148F709A5D03BB5C9B8899C47AEBB6FB71E91386409"},
};
constexpr int32 TableCount = (int32)(sizeof(Table) / sizeof(Table[0]));

typedef unsigned __int128 uint128;

int32 HexDigit(char Digit) {
    if (Digit >= '0' && Digit <= '9') return Digit - '0';
    if (Digit >= 'a' && Digit <= 'f') return Digit - 'a' + 10;
    if (Digit >= 'A' && Digit <= 'F') return Digit - 'A' + 10;
    return -1;
}

// All-ones when Flag is 1, zero when 0.
inline uint64 MaskOf(uint64 Flag) { return (uint64)0 - Flag; }

// Modulus of a Montgomery field of L limbs.
template <int L> struct Modulus {
    uint64 M[L];
    uint64 Inv;   // -M^-1 mod 2^64
    uint64 One[L]; // R mod M
    uint64 RR[L];  // R^2 mod M
    int32 Bits;
};

template <int L> inline void Copy(uint64 *Out, const uint64 *A) { memcpy(Out, A, sizeof(uint64) * L); }

template <int L> inline uint64 IsZero(const uint64 *A) {
    uint64 Any = 0;
    #pragma GCC unroll 9
    for (int I = 0; I < L; I++) Any |= A[I];
    return 1 ^ ((Any | (0 - Any)) >> 63);
}

template <int L> inline bool Less(const uint64 *A, const uint64 *B) {
    #pragma GCC unroll 9
    for (int I = L - 1; I >= 0; I--)
        if (A[I] != B[I]) return A[I] < B[I];
    return false;
}

// Out = A when Flag is 1, B when 0.
template <int L> inline void Select(uint64 *Out, uint64 Flag, const uint64 *A, const uint64 *B) {
    const uint64 Mask = MaskOf(Flag);
    #pragma GCC unroll 9
    for (int I = 0; I < L; I++) Out[I] = (A[I] & Mask) | (B[I] & ~Mask);
}

// Out = A - B over L limbs; returns the borrow (0 or 1).
template <int L> inline uint64 SubBorrow(uint64 *Out, const uint64 *A, const uint64 *B) {
    uint64 Borrow = 0;
    #pragma GCC unroll 9
    for (int I = 0; I < L; I++) {
        const uint128 D = (uint128)A[I] - B[I] - Borrow;
        Out[I] = (uint64)D;
        Borrow = (uint64)(D >> 64) & 1;
    }
    return Borrow;
}

template <int L> inline uint64 AddCarry(uint64 *Out, const uint64 *A, const uint64 *B) {
    uint64 Carry = 0;
    #pragma GCC unroll 9
    for (int I = 0; I < L; I++) {
        const uint128 S = (uint128)A[I] + B[I] + Carry;
        Out[I] = (uint64)S;
        Carry = (uint64)(S >> 64);
    }
    return Carry;
}

template <int L> inline void ModAdd(uint64 *Out, const uint64 *A, const uint64 *B, const Modulus<L> &M) {
    uint64 Sum[L], Reduced[L];
    const uint64 Carry = AddCarry<L>(Sum, A, B);
    const uint64 Borrow = SubBorrow<L>(Reduced, Sum, M.M);
    // Keep the sum only when it was below M (borrow and no carry out).
    Select<L>(Out, Borrow & (Carry ^ 1), Sum, Reduced);
}

template <int L> inline void ModSub(uint64 *Out, const uint64 *A, const uint64 *B, const Modulus<L> &M) {
    uint64 Difference[L], Fixed[L];
    const uint64 Borrow = SubBorrow<L>(Difference, A, B);
    AddCarry<L>(Fixed, Difference, M.M);
    Select<L>(Out, Borrow, Fixed, Difference);
}

// Out = A·B·R^-1 mod M (CIOS). A, B below M; Out may alias either.
template <int L> void ModMul(uint64 *Out, const uint64 *A, const uint64 *B, const Modulus<L> &M) {
    uint64 T[L + 2] = {};
    #pragma GCC unroll 9
    for (int I = 0; I < L; I++) {
        uint64 Carry = 0;
        #pragma GCC unroll 9
        for (int J = 0; J < L; J++) {
            const uint128 S = (uint128)A[I] * B[J] + T[J] + Carry;
            T[J] = (uint64)S;
            Carry = (uint64)(S >> 64);
        }
        uint128 S = (uint128)T[L] + Carry;
        T[L] = (uint64)S;
        T[L + 1] = (uint64)(S >> 64);
        const uint64 Q = T[0] * M.Inv;
        S = (uint128)Q * M.M[0] + T[0];
        Carry = (uint64)(S >> 64);
        #pragma GCC unroll 9
        for (int J = 1; J < L; J++) {
            S = (uint128)Q * M.M[J] + T[J] + Carry;
            T[J - 1] = (uint64)S;
            Carry = (uint64)(S >> 64);
        }
        S = (uint128)T[L] + Carry;
        T[L - 1] = (uint64)S;
        T[L] = T[L + 1] + (uint64)(S >> 64);
    }
    uint64 Reduced[L];
    const uint64 Borrow = SubBorrow<L>(Reduced, T, M.M);
    Select<L>(Out, Borrow & (T[L] ^ 1), T, Reduced);
}

template <int L> inline void ModSqr(uint64 *Out, const uint64 *A, const Modulus<L> &M) { ModMul<L>(Out, A, A, M); }

// Out = Base^E (Montgomery form in and out) for a public exponent E, with a
// fixed window of 4 bits: the same steps for every base.
template <int L> void ModPow(uint64 *Out, const uint64 *Base, const uint64 *E, const Modulus<L> &M) {
    uint64 Powers[16][L];
    Copy<L>(Powers[0], M.One);
    Copy<L>(Powers[1], Base);
    for (int I = 2; I < 16; I++) ModMul<L>(Powers[I], Powers[I - 1], Base, M);
    uint64 Result[L];
    Copy<L>(Result, M.One);
    for (int Window = L * 16 - 1; Window >= 0; Window--) {
        for (int S = 0; S < 4; S++) ModSqr<L>(Result, Result, M);
        const uint64 Digit = (E[Window / 16] >> ((Window % 16) * 4)) & 15;
        uint64 Entry[L] = {};
        for (uint64 I = 0; I < 16; I++) {
            const uint64 Mask = MaskOf((uint64)(I == Digit));
            for (int J = 0; J < L; J++) Entry[J] |= Powers[I][J] & Mask;
        }
        ModMul<L>(Result, Result, Entry, M);
    }
    Copy<L>(Out, Result);
    Wipe(Powers, sizeof(Powers));
}

template <int L> void ModInvert(uint64 *Out, const uint64 *A, const Modulus<L> &M) {
    uint64 Two[L] = {2}, E[L];
    SubBorrow<L>(E, M.M, Two);
    ModPow<L>(Out, A, E, M);
}

template <int L> void BuildModulus(Modulus<L> &M, const uint64 *Value) {
    Copy<L>(M.M, Value);
    // Newton's iteration doubles the correct low bits of the inverse each step.
    uint64 Inverse = 1;
    for (int I = 0; I < 6; I++) Inverse *= 2 - M.M[0] * Inverse;
    M.Inv = (uint64)0 - Inverse;
    M.Bits = 0;
    for (int I = L - 1; I >= 0; I--)
        if (M.M[I] != 0) {
            M.Bits = 64 * I + 64 - __builtin_clzll(M.M[I]);
            break;
        }
    // R mod M and R^2 mod M by doubling 1 modulo M.
    uint64 Value1[L] = {1};
    if (!Less<L>(Value1, M.M)) memset(Value1, 0, sizeof(Value1));
    for (int I = 0; I < 64 * L; I++) ModAdd<L>(Value1, Value1, Value1, M);
    Copy<L>(M.One, Value1);
    for (int I = 0; I < 64 * L; I++) ModAdd<L>(Value1, Value1, Value1, M);
    Copy<L>(M.RR, Value1);
}

// Big-endian bytes (Size of them) into limbs; false when they do not fit.
template <int L> bool FromBytes(uint64 *Out, const uint8 *In, int32 Size) {
    memset(Out, 0, sizeof(uint64) * L);
    for (int32 I = 0; I < Size; I++) {
        const int32 Position = Size - 1 - I; // byte index from the least significant
        const uint8 Byte = In[I];
        if (Position >= 8 * L) {
            if (Byte != 0) return false;
            continue;
        }
        Out[Position / 8] |= (uint64)Byte << (8 * (Position % 8));
    }
    return true;
}

template <int L> void ToBytes(uint8 *Out, int32 Size, const uint64 *In) {
    for (int32 I = 0; I < Size; I++) {
        const int32 Position = Size - 1 - I;
        Out[I] = Position < 8 * L ? (uint8)(In[Position / 8] >> (8 * (Position % 8))) : 0;
    }
}

template <int L> bool FromHex(uint64 *Out, const char *Hex) {
    memset(Out, 0, sizeof(uint64) * L);
    const int32 Length = (int32)strlen(Hex);
    for (int32 I = 0; I < Length; I++) {
        const int32 Digit = HexDigit(Hex[Length - 1 - I]);
        if (Digit < 0) return false;
        if (I >= 16 * L) {
            if (Digit != 0) return false;
            continue;
        }
        Out[I / 16] |= (uint64)Digit << (4 * (I % 16));
    }
    return true;
}

template <int L> struct Jacobian {
    uint64 X[L], Y[L], Z[L];
};

template <int L> class Curve final : public Engine {
public:
    explicit Curve(const CurveParams &Params) {
        uint64 Value[L];
        FromHex<L>(Value, Params.P);
        BuildModulus<L>(Field, Value);
        FromHex<L>(Value, Params.N);
        BuildModulus<L>(Order, Value);
        FieldBytes = (Field.Bits + 7) / 8;
        OrderBits = Order.Bits;
        ScalarBytes = (Order.Bits + 7) / 8;
        uint64 A[L];
        FromHex<L>(A, Params.A);
        AIsZero = IsZero<L>(A) == 1;
        FromHex<L>(Value, Params.B);
        ToMont(B, Value);
        FromHex<L>(Value, Params.Gx);
        ToMont(G.X, Value);
        FromHex<L>(Value, Params.Gy);
        ToMont(G.Y, Value);
        Copy<L>(G.Z, Field.One);
        // Odd multiples of G for the variable-time walk, built once.
        BuildTable(GTable, G);
        // (p + 1) / 4 for square roots.
        uint64 One[L] = {1};
        AddCarry<L>(SqrtExponent, Field.M, One);
        for (int I = 0; I < L; I++)
            SqrtExponent[I] = (SqrtExponent[I] >> 2) | (I + 1 < L ? SqrtExponent[I + 1] << 62 : 0);
        Sqrt = Params.SqrtKind == SqrtPower;
    }

    bool IsOnCurve(const uint8 *X, const uint8 *Y) const override {
        uint64 Xm[L], Ym[L];
        if (!Import(Xm, X) || !Import(Ym, Y)) return false;
        uint64 Left[L], Right[L];
        ModSqr<L>(Left, Ym, Field);
        RightSide(Right, Xm);
        return memcmp(Left, Right, sizeof(Left)) == 0;
    }

    bool Decompress(const uint8 *X, int32 Odd, uint8 *Y) const override {
        if (!Sqrt) return false;
        uint64 Xm[L], Right[L], Root[L], Check[L];
        if (!Import(Xm, X)) return false;
        RightSide(Right, Xm);
        ModPow<L>(Root, Right, SqrtExponent, Field);
        ModSqr<L>(Check, Root, Field);
        if (memcmp(Check, Right, sizeof(Check)) != 0) return false;
        uint64 Plain[L];
        FromMont(Plain, Root);
        if ((int32)(Plain[0] & 1) != (Odd & 1)) {
            uint64 Zero[L] = {};
            ModSub<L>(Plain, Zero, Plain, Field);
        }
        ToBytes<L>(Y, FieldBytes, Plain);
        return true;
    }

    bool Multiply(const uint8 *K, const uint8 *Px, const uint8 *Py, bool Secret, uint8 *OutX,
                  uint8 *OutY) const override {
        uint64 Scalar[L];
        LoadScalar(Scalar, K);
        Jacobian<L> P;
        if (Px == nullptr) {
            P = G;
        } else {
            if (!Import(P.X, Px) || !Import(P.Y, Py)) return false;
            Copy<L>(P.Z, Field.One);
        }
        Jacobian<L> Result;
        if (Secret && Px == nullptr)
            MultiplyBase(Result, Scalar);
        else if (Secret)
            MultiplyFixed(Result, Scalar, P);
        else
            MultiplyVariable(Result, Scalar, P);
        Wipe(Scalar, sizeof(Scalar));
        const bool Finite = Export(Result, OutX, OutY);
        Wipe(&Result, sizeof(Result));
        return Finite;
    }

    bool MultiplyTwo(const uint8 *U1, const uint8 *U2, const uint8 *Qx, const uint8 *Qy, uint8 *OutX,
                     uint8 *OutY) const override {
        uint64 S1[L], S2[L];
        LoadScalar(S1, U1);
        LoadScalar(S2, U2);
        Jacobian<L> Q;
        if (!Import(Q.X, Qx) || !Import(Q.Y, Qy)) return false;
        Copy<L>(Q.Z, Field.One);
        Jacobian<L> QTable[8];
        BuildTable(QTable, Q);
        // Interleaved sliding windows over both scalars with shared doublings.
        Jacobian<L> Result{};
        bool Infinite = true;
        int32 Digits1[64 * L + 1], Digits2[64 * L + 1];
        Recode(Digits1, S1);
        Recode(Digits2, S2);
        for (int32 Bit = 64 * L; Bit >= 0; Bit--) {
            if (!Infinite) Double(Result, Result);
            for (int Which = 0; Which < 2; Which++) {
                const int32 Digit = Which == 0 ? Digits1[Bit] : Digits2[Bit];
                if (Digit == 0) continue;
                const Jacobian<L> *Table = Which == 0 ? GTable : QTable;
                Jacobian<L> Entry = Table[(Digit < 0 ? -Digit : Digit) / 2];
                if (Digit < 0) Negate(Entry);
                if (Infinite) {
                    Result = Entry;
                    Infinite = false;
                } else {
                    AddVariable(Result, Result, Entry);
                    Infinite = IsZero<L>(Result.Z) == 1;
                }
            }
        }
        if (Infinite) return false;
        return Export(Result, OutX, OutY);
    }

    int32 Add(const uint8 *Px, const uint8 *Py, int32 PInfinity, const uint8 *Qx, const uint8 *Qy,
              int32 QInfinity, uint8 *OutX, uint8 *OutY) const override {
        Jacobian<L> P{}, Q{};
        if (!PInfinity) {
            if (!Import(P.X, Px) || !Import(P.Y, Py)) return 1;
            Copy<L>(P.Z, Field.One);
        }
        if (!QInfinity) {
            if (!Import(Q.X, Qx) || !Import(Q.Y, Qy)) return 1;
            Copy<L>(Q.Z, Field.One);
        }
        Jacobian<L> Result;
        AddVariable(Result, P, Q);
        return Export(Result, OutX, OutY) ? 0 : 1;
    }

    void ScalarReduce(const uint8 *A, int32 Size, uint8 *Out) const override {
        uint64 Value[L + 1] = {};
        // Numbers arrive below 2·n (a digest cut to the order's bit length,
        // or a coordinate below p < 2·n): one conditional subtraction.
        for (int32 I = 0; I < Size; I++) {
            const int32 Position = Size - 1 - I;
            if (Position < 8 * (L + 1)) Value[Position / 8] |= (uint64)A[I] << (8 * (Position % 8));
        }
        uint64 Reduced[L];
        uint64 Borrow = SubBorrow<L>(Reduced, Value, Order.M);
        Borrow = Borrow & (Value[L] == 0 ? 1 : 0);
        Select<L>(Value, Borrow, Value, Reduced);
        ToBytes<L>(Out, ScalarBytes, Value);
        Wipe(Value, sizeof(Value));
        Wipe(Reduced, sizeof(Reduced));
    }

    void ScalarMultiply(const uint8 *A, const uint8 *B, uint8 *Out) const override {
        uint64 X[L], Y[L];
        FromBytes<L>(X, A, ScalarBytes);
        FromBytes<L>(Y, B, ScalarBytes);
        // (A·R)·B·R^-1 = A·B.
        ModMul<L>(X, X, Order.RR, Order);
        ModMul<L>(X, X, Y, Order);
        ToBytes<L>(Out, ScalarBytes, X);
        Wipe(X, sizeof(X));
        Wipe(Y, sizeof(Y));
    }

    void ScalarAdd(const uint8 *A, const uint8 *B, uint8 *Out) const override {
        uint64 X[L], Y[L];
        FromBytes<L>(X, A, ScalarBytes);
        FromBytes<L>(Y, B, ScalarBytes);
        ModAdd<L>(X, X, Y, Order);
        ToBytes<L>(Out, ScalarBytes, X);
        Wipe(X, sizeof(X));
        Wipe(Y, sizeof(Y));
    }

    void ScalarInvert(const uint8 *A, uint8 *Out) const override {
        uint64 X[L], One[L] = {1};
        FromBytes<L>(X, A, ScalarBytes);
        ModMul<L>(X, X, Order.RR, Order);
        ModInvert<L>(X, X, Order);
        ModMul<L>(X, X, One, Order);
        ToBytes<L>(Out, ScalarBytes, X);
        Wipe(X, sizeof(X));
    }

    bool ScalarInRange(const uint8 *A) const override {
        uint64 X[L];
        FromBytes<L>(X, A, ScalarBytes);
        const bool Result = IsZero<L>(X) == 0 && Less<L>(X, Order.M);
        Wipe(X, sizeof(X));
        return Result;
    }

private:
    Modulus<L> Field{}, Order{};
    uint64 B[L]{};
    bool AIsZero = false;
    bool Sqrt = false;
    uint64 SqrtExponent[L]{};
    Jacobian<L> G{};
    Jacobian<L> GTable[8]{}; // G, 3G, 5G, ..., 15G
    // d·16^w·G for every 4-bit window w of a scalar and every digit d, built
    // on the first secret product with G.
    mutable std::once_flag CombOnce;
    mutable std::unique_ptr<Jacobian<L>[]> Comb;

    void BuildComb() const {
        const int32 Windows = (OrderBits + 3) / 4;
        Comb.reset(new Jacobian<L>[(size_t)Windows * 16]());
        Jacobian<L> Base = G;
        for (int32 Window = 0; Window < Windows; Window++) {
            Jacobian<L> *Row = &Comb[(size_t)Window * 16];
            Row[1] = Base;
            for (int D = 2; D < 16; D++) AddVariable(Row[D], Row[D - 1], Base);
            for (int S = 0; S < 4; S++) Double(Base, Base);
        }
    }

    // K·G for a secret K below n: one addition per window of a table entry
    // chosen by masks. The partial sums are below 16^w while the entry is
    // d·16^w, so the addition meets neither equal nor opposite points.
    void MultiplyBase(Jacobian<L> &Out, const uint64 *Scalar) const {
        std::call_once(CombOnce, [this] { BuildComb(); });
        const int32 Windows = (OrderBits + 3) / 4;
        Jacobian<L> Result{}, Entry;
        for (int32 Window = 0; Window < Windows; Window++) {
            const uint64 Digit = (Scalar[Window / 16] >> ((Window % 16) * 4)) & 15;
            Lookup(Entry, &Comb[(size_t)Window * 16], Digit);
            AddFixed(Result, Result, Entry);
        }
        Out = Result;
        Wipe(&Entry, sizeof(Entry));
        Wipe(&Result, sizeof(Result));
    }

    // Entry = Table[Digit], reading every entry.
    void Lookup(Jacobian<L> &Entry, const Jacobian<L> *Table, uint64 Digit) const {
        memset(&Entry, 0, sizeof(Entry));
        for (uint64 I = 0; I < 16; I++) {
            const uint64 Mask = MaskOf((uint64)((I ^ Digit) == 0));
            for (int J = 0; J < L; J++) {
                Entry.X[J] |= Table[I].X[J] & Mask;
                Entry.Y[J] |= Table[I].Y[J] & Mask;
                Entry.Z[J] |= Table[I].Z[J] & Mask;
            }
        }
    }

    void ToMont(uint64 *Out, const uint64 *Plain) const { ModMul<L>(Out, Plain, Field.RR, Field); }
    void FromMont(uint64 *Out, const uint64 *Mont) const {
        uint64 One[L] = {1};
        ModMul<L>(Out, Mont, One, Field);
    }

    // A coordinate of FieldBytes bytes into Montgomery form; false when it is
    // not below p.
    bool Import(uint64 *Out, const uint8 *Bytes) const {
        uint64 Plain[L];
        FromBytes<L>(Plain, Bytes, FieldBytes);
        if (!Less<L>(Plain, Field.M)) return false;
        ToMont(Out, Plain);
        return true;
    }

    // A scalar of ScalarBytes bytes, reduced below n.
    void LoadScalar(uint64 *Out, const uint8 *K) const {
        FromBytes<L>(Out, K, ScalarBytes);
        // ScalarBytes bytes may hold up to 2^(8·ScalarBytes) - 1, a few times
        // n at most when OrderBits is not a whole number of bytes.
        for (int I = 0; I < 256 && !Less<L>(Out, Order.M); I++) SubBorrow<L>(Out, Out, Order.M);
    }

    // x^3 + ax + b in Montgomery form.
    void RightSide(uint64 *Out, const uint64 *X) const {
        uint64 T[L];
        ModSqr<L>(T, X, Field);
        if (!AIsZero) {
            // a = -3: x^2 - 3.
            uint64 Three[L];
            ModAdd<L>(Three, Field.One, Field.One, Field);
            ModAdd<L>(Three, Three, Field.One, Field);
            ModSub<L>(T, T, Three, Field);
        }
        ModMul<L>(T, T, X, Field);
        ModAdd<L>(Out, T, B, Field);
    }

    bool Export(const Jacobian<L> &P, uint8 *OutX, uint8 *OutY) const {
        if (IsZero<L>(P.Z)) return false;
        uint64 ZInverse[L], Z2[L], Value[L];
        ModInvert<L>(ZInverse, P.Z, Field);
        ModSqr<L>(Z2, ZInverse, Field);
        ModMul<L>(Value, P.X, Z2, Field);
        FromMont(Value, Value);
        ToBytes<L>(OutX, FieldBytes, Value);
        ModMul<L>(Z2, Z2, ZInverse, Field);
        ModMul<L>(Value, P.Y, Z2, Field);
        FromMont(Value, Value);
        ToBytes<L>(OutY, FieldBytes, Value);
        return true;
    }

    void Negate(Jacobian<L> &P) const {
        uint64 Zero[L] = {};
        ModSub<L>(P.Y, Zero, P.Y, Field);
    }

    // Doubling; infinity (Z = 0) stays infinity without a branch.
    void Double(Jacobian<L> &Out, const Jacobian<L> &P) const {
        uint64 T1[L], T2[L], T3[L], T4[L];
        if (!AIsZero) {
            // a = -3 (dbl-2001-b).
            uint64 Delta[L], Gamma[L], Beta[L], Alpha[L];
            ModSqr<L>(Delta, P.Z, Field);
            ModSqr<L>(Gamma, P.Y, Field);
            ModMul<L>(Beta, P.X, Gamma, Field);
            ModSub<L>(T1, P.X, Delta, Field);
            ModAdd<L>(T2, P.X, Delta, Field);
            ModMul<L>(T3, T1, T2, Field);
            ModAdd<L>(Alpha, T3, T3, Field);
            ModAdd<L>(Alpha, Alpha, T3, Field);
            // Z3 = (Y + Z)^2 - gamma - delta, before X and Y are overwritten.
            ModAdd<L>(T1, P.Y, P.Z, Field);
            ModSqr<L>(T1, T1, Field);
            ModSub<L>(T1, T1, Gamma, Field);
            ModSub<L>(Out.Z, T1, Delta, Field);
            // X3 = alpha^2 - 8·beta.
            ModAdd<L>(T4, Beta, Beta, Field);
            ModAdd<L>(T4, T4, T4, Field); // 4·beta
            ModAdd<L>(T2, T4, T4, Field); // 8·beta
            ModSqr<L>(T1, Alpha, Field);
            ModSub<L>(Out.X, T1, T2, Field);
            // Y3 = alpha·(4·beta - X3) - 8·gamma^2.
            ModSub<L>(T1, T4, Out.X, Field);
            ModMul<L>(T1, Alpha, T1, Field);
            ModSqr<L>(T2, Gamma, Field);
            ModAdd<L>(T2, T2, T2, Field);
            ModAdd<L>(T2, T2, T2, Field);
            ModAdd<L>(T2, T2, T2, Field);
            ModSub<L>(Out.Y, T1, T2, Field);
        } else {
            // a = 0 (dbl-2009-l).
            uint64 A[L], Bq[L], C[L], D[L], E[L];
            ModSqr<L>(A, P.X, Field);
            ModSqr<L>(Bq, P.Y, Field);
            ModSqr<L>(C, Bq, Field);
            ModAdd<L>(T1, P.X, Bq, Field);
            ModSqr<L>(T1, T1, Field);
            ModSub<L>(T1, T1, A, Field);
            ModSub<L>(T1, T1, C, Field);
            ModAdd<L>(D, T1, T1, Field);
            ModAdd<L>(E, A, A, Field);
            ModAdd<L>(E, E, A, Field);
            // Z3 = 2·Y·Z before Y is overwritten.
            ModMul<L>(T3, P.Y, P.Z, Field);
            ModAdd<L>(Out.Z, T3, T3, Field);
            ModSqr<L>(T2, E, Field);
            ModAdd<L>(T4, D, D, Field);
            ModSub<L>(Out.X, T2, T4, Field);
            ModSub<L>(T1, D, Out.X, Field);
            ModMul<L>(T1, E, T1, Field);
            ModAdd<L>(C, C, C, Field);
            ModAdd<L>(C, C, C, Field);
            ModAdd<L>(C, C, C, Field);
            ModSub<L>(Out.Y, T1, C, Field);
        }
    }

    // The generic addition (add-2007-bl) of two points, neither at infinity
    // and not equal; also reports H = 0 and r = 0 so that callers can fold
    // in the special cases. Out may alias P or Q.
    void AddCore(Jacobian<L> &Out, const Jacobian<L> &P, const Jacobian<L> &Q, uint64 &HZero,
                 uint64 &RZero) const {
        uint64 Z1Z1[L], Z2Z2[L], U1[L], U2[L], S1[L], S2[L], H[L], I[L], J[L], R[L], V[L], T[L];
        ModSqr<L>(Z1Z1, P.Z, Field);
        ModSqr<L>(Z2Z2, Q.Z, Field);
        ModMul<L>(U1, P.X, Z2Z2, Field);
        ModMul<L>(U2, Q.X, Z1Z1, Field);
        ModMul<L>(S1, P.Y, Q.Z, Field);
        ModMul<L>(S1, S1, Z2Z2, Field);
        ModMul<L>(S2, Q.Y, P.Z, Field);
        ModMul<L>(S2, S2, Z1Z1, Field);
        ModSub<L>(H, U2, U1, Field);
        ModSub<L>(R, S2, S1, Field);
        HZero = IsZero<L>(H);
        RZero = IsZero<L>(R);
        ModAdd<L>(I, H, H, Field);
        ModSqr<L>(I, I, Field);
        ModMul<L>(J, H, I, Field);
        ModAdd<L>(R, R, R, Field);
        ModMul<L>(V, U1, I, Field);
        // Z3 = ((Z1 + Z2)^2 - Z1Z1 - Z2Z2)·H
        ModAdd<L>(T, P.Z, Q.Z, Field);
        ModSqr<L>(T, T, Field);
        ModSub<L>(T, T, Z1Z1, Field);
        ModSub<L>(T, T, Z2Z2, Field);
        ModMul<L>(Out.Z, T, H, Field);
        // X3 = r^2 - J - 2·V
        ModSqr<L>(T, R, Field);
        ModSub<L>(T, T, J, Field);
        ModSub<L>(T, T, V, Field);
        ModSub<L>(Out.X, T, V, Field);
        // Y3 = r·(V - X3) - 2·S1·J
        ModSub<L>(T, V, Out.X, Field);
        ModMul<L>(T, R, T, Field);
        ModMul<L>(S1, S1, J, Field);
        ModAdd<L>(S1, S1, S1, Field);
        ModSub<L>(Out.Y, T, S1, Field);
    }

    // Addition for public points, with branches for every special case.
    void AddVariable(Jacobian<L> &Out, const Jacobian<L> &P, const Jacobian<L> &Q) const {
        if (IsZero<L>(P.Z)) {
            Out = Q;
            return;
        }
        if (IsZero<L>(Q.Z)) {
            Out = P;
            return;
        }
        uint64 HZero, RZero;
        Jacobian<L> Sum;
        AddCore(Sum, P, Q, HZero, RZero);
        if (HZero && RZero) {
            Double(Out, P);
            return;
        }
        Out = Sum; // H = 0 and r != 0: P = -Q, and Z3 = 0 says infinity
    }

    // Addition whose steps do not depend on which operand is at infinity.
    // The doubling case cannot arise in the fixed walk (see the file's
    // comment); should it ever, the branch keeps the result right.
    void AddFixed(Jacobian<L> &Out, const Jacobian<L> &P, const Jacobian<L> &Q) const {
        const uint64 PInfinite = IsZero<L>(P.Z), QInfinite = IsZero<L>(Q.Z);
        uint64 HZero, RZero;
        Jacobian<L> Sum;
        AddCore(Sum, P, Q, HZero, RZero);
        if (HZero & RZero & (PInfinite ^ 1) & (QInfinite ^ 1)) Double(Sum, P);
        Jacobian<L> Chosen;
        SelectPoint(Chosen, QInfinite, P, Sum);
        SelectPoint(Out, PInfinite, Q, Chosen);
    }

    void SelectPoint(Jacobian<L> &Out, uint64 Flag, const Jacobian<L> &A, const Jacobian<L> &B) const {
        Select<L>(Out.X, Flag, A.X, B.X);
        Select<L>(Out.Y, Flag, A.Y, B.Y);
        Select<L>(Out.Z, Flag, A.Z, B.Z);
    }

    // Table[i] = (2i + 1)·P.
    void BuildTable(Jacobian<L> *Table, const Jacobian<L> &P) const {
        Jacobian<L> Twice;
        Double(Twice, P);
        Table[0] = P;
        for (int I = 1; I < 8; I++) AddVariable(Table[I], Table[I - 1], Twice);
    }

    // Width-5 non-adjacent form: odd digits in -15 … 15, at most one non-zero
    // digit in any 5 consecutive positions.
    void Recode(int32 *Digits, const uint64 *Scalar) const {
        uint64 K[L + 1];
        Copy<L>(K, Scalar);
        K[L] = 0;
        for (int32 Bit = 0; Bit <= 64 * L; Bit++) {
            int32 Digit = 0;
            if (K[0] & 1) {
                Digit = (int32)(K[0] & 31);
                if (Digit > 16) Digit -= 32;
                // K -= Digit
                uint64 Change[L + 1] = {};
                Change[0] = (uint64)(Digit < 0 ? -Digit : Digit);
                if (Digit > 0)
                    SubBorrow<L + 1>(K, K, Change);
                else
                    AddCarry<L + 1>(K, K, Change);
            }
            Digits[Bit] = Digit;
            for (int I = 0; I <= L; I++) K[I] = (K[I] >> 1) | (I < L ? K[I + 1] << 63 : 0);
        }
    }

    void MultiplyVariable(Jacobian<L> &Out, const uint64 *Scalar, const Jacobian<L> &P) const {
        Jacobian<L> Table[8];
        BuildTable(Table, P);
        int32 Digits[64 * L + 1];
        Recode(Digits, Scalar);
        Jacobian<L> Result{};
        bool Started = false;
        for (int32 Bit = 64 * L; Bit >= 0; Bit--) {
            if (Started) Double(Result, Result);
            const int32 Digit = Digits[Bit];
            if (Digit == 0) continue;
            Jacobian<L> Entry = Table[(Digit < 0 ? -Digit : Digit) / 2];
            if (Digit < 0) Negate(Entry);
            AddVariable(Result, Result, Entry);
            Started = true;
        }
        Out = Result;
    }

    void MultiplyFixed(Jacobian<L> &Out, const uint64 *Scalar, const Jacobian<L> &P) const {
        // Table[i] = i·P, Table[0] at infinity. P is public, so building the
        // table may branch.
        Jacobian<L> Table[16];
        memset(&Table[0], 0, sizeof(Table[0]));
        Table[1] = P;
        for (int I = 2; I < 16; I++) {
            if (I % 2 == 0)
                Double(Table[I], Table[I / 2]);
            else
                AddVariable(Table[I], Table[I - 1], P);
        }
        const int32 Windows = (OrderBits + 3) / 4;
        Jacobian<L> Result{}, Entry;
        for (int32 Window = Windows - 1; Window >= 0; Window--) {
            for (int S = 0; S < 4; S++) Double(Result, Result);
            const uint64 Digit = (Scalar[Window / 16] >> ((Window % 16) * 4)) & 15;
            Lookup(Entry, Table, Digit);
            AddFixed(Result, Result, Entry);
        }
        Out = Result;
        Wipe(&Entry, sizeof(Entry));
        Wipe(&Result, sizeof(Result));
    }
};

template <int L> Engine *Build(const CurveParams &Params) { return new Curve<L>(Params); }

} // namespace

void Wipe(void *Buffer, size_t Size) {
    if (Size != 0) explicit_bzero(Buffer, Size);
}

bool HexToBytes(const char *Hex, uint8 *Out, int32 Size) {
    memset(Out, 0, (size_t)Size);
    const int32 Length = (int32)strlen(Hex);
    for (int32 I = 0; I < Length; I++) {
        const int32 Digit = HexDigit(Hex[Length - 1 - I]);
        if (Digit < 0) return false;
        const int32 Position = Size - 1 - I / 2;
        if (Position < 0) {
            if (Digit != 0) return false;
            continue;
        }
        Out[Position] |= (uint8)(Digit << (4 * (I % 2)));
    }
    return true;
}

const CurveParams *FindCurve(const char *Oid) {
    if (Oid == nullptr) return nullptr;
    for (const CurveParams &Curve : Table)
        if (strcmp(Curve.Oid, Oid) == 0) return &Curve;
    return nullptr;
}

int32 CurveCount() { return TableCount; }

const CurveParams *CurveAt(int32 Index) { return Index >= 0 && Index < TableCount ? &Table[Index] : nullptr; }

const Engine *EngineFor(const CurveParams *Curve) {
    static std::once_flag Once[TableCount];
    static Engine *Engines[TableCount];
    const int32 Index = (int32)(Curve - Table);
    Debug_Assert(Index >= 0 && Index < TableCount);
    std::call_once(Once[Index], [&] {
        const size_t Bits = strlen(Curve->P) * 4;
        if (Bits <= 192)
            Engines[Index] = Build<3>(*Curve);
        else if (Bits <= 256)
            Engines[Index] = Build<4>(*Curve);
        else if (Bits <= 384)
            Engines[Index] = Build<6>(*Curve);
        else
            Engines[Index] = Build<9>(*Curve);
    });
    return Engines[Index];
}

} // namespace ec
