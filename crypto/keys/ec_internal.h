// Shared by the elliptic-curve modules only (ec.cpp, ecdsa.cpp, ecdhe.cpp,
// ec_engine.cpp) and their tests: the table of built-in curves and the
// arithmetic engine behind EC, ECDSA and ECDHE.
//
// The engine works on fixed-size words, never on BigInt: field elements are
// Montgomery residues in 64-bit limbs, points are Jacobian inside, and every
// value crosses the engine's boundary as fixed-size big-endian bytes
// (coordinates FieldBytes long, scalars ScalarBytes long). Secret scalars go
// through a walk whose sequence of operations and memory accesses does not
// depend on the scalar; public scalars (verification) take the faster
// variable-time walk.
#pragma once

#include "runtime/types.h"

namespace ec {

// Square roots: 1 for p = 3 mod 4 (one power), 0 where none is offered.
constexpr int32 SqrtPower = 1;
constexpr int32 SqrtSecp224k1 = 2;
constexpr int32 SqrtP224 = 3;

// A built-in curve with its published constants as hexadecimal text.
struct CurveParams {
    const char *Oid;
    const char *Name;
    int32 SqrtKind;
    const char *P, *A, *B, *Gx, *Gy, *N;
};

// The curves in the order EC_InitParams tries them; null for an unknown OID.
const CurveParams *FindCurve(const char *Oid);
int32 CurveCount();
const CurveParams *CurveAt(int32 Index);

class Engine {
public:
    virtual ~Engine() = default;
    int32 FieldBytes = 0;  // ByteCount(p)
    int32 ScalarBytes = 0; // ByteCount(n)
    int32 OrderBits = 0;   // BitCount(n)

    // x < p, y < p and y^2 = x^3 + ax + b.
    virtual bool IsOnCurve(const uint8 *X, const uint8 *Y) const = 0;
    // y from x with the given parity; false when x is not below p or x^3 +
    // ax + b has no square root. Only for square-root kind 1.
    virtual bool Decompress(const uint8 *X, int32 Odd, uint8 *Y) const = 0;
    // K·P for a scalar below n (K is reduced first when it is not); false
    // when the result is the point at infinity. Secret selects the
    // scalar-independent walk. A null P means the base point.
    virtual bool Multiply(const uint8 *K, const uint8 *Px, const uint8 *Py, bool Secret, uint8 *OutX,
                          uint8 *OutY) const = 0;
    // U1·G + U2·Q, variable time (both scalars public); false at infinity.
    virtual bool MultiplyTwo(const uint8 *U1, const uint8 *U2, const uint8 *Qx, const uint8 *Qy, uint8 *OutX,
                             uint8 *OutY) const = 0;
    // P + Q on affine points with infinity flags; returns the result's flag
    // (1 at infinity).
    virtual int32 Add(const uint8 *Px, const uint8 *Py, int32 PInfinity, const uint8 *Qx, const uint8 *Qy,
                      int32 QInfinity, uint8 *OutX, uint8 *OutY) const = 0;

    // Arithmetic modulo n on ScalarBytes-long numbers below n, constant time.
    // Reduce takes a number below 2^OrderBits (or x below p) to its value mod n.
    virtual void ScalarReduce(const uint8 *A, int32 Size, uint8 *Out) const = 0;
    virtual void ScalarMultiply(const uint8 *A, const uint8 *B, uint8 *Out) const = 0;
    virtual void ScalarAdd(const uint8 *A, const uint8 *B, uint8 *Out) const = 0;
    // A^(n-2): the inverse of a non-zero A by Fermat.
    virtual void ScalarInvert(const uint8 *A, uint8 *Out) const = 0;
    // 1 when 0 < A < n.
    virtual bool ScalarInRange(const uint8 *A) const = 0;
};

// The engine of a built-in curve, built on first use and kept for the life
// of the process (thread-safe).
const Engine *EngineFor(const CurveParams *Curve);

// Fixed-size big-endian text of a hex constant; false when it does not fit.
bool HexToBytes(const char *Hex, uint8 *Out, int32 Size);

// Wipes secrets so that the compiler cannot drop the stores.
void Wipe(void *Buffer, size_t Size);

} // namespace ec

struct EC;
struct ECPoint;
struct BigInt;

namespace ec {

// The engine of the chosen curve, null before one is chosen.
const Engine *EngineOf(::EC *Curve);
// A non-negative number below 2^(8·Size) as exactly Size big-endian bytes;
// false for a negative or longer one.
bool ToFixed(const ::BigInt *Number, uint8 *Out, int32 Size);

} // namespace ec

struct ECDHE;

// ECDHE_CalculateSecret with the private scalar given instead of drawn
// (1 ... n - 1): the seam through which tests replay published exchanges.
int32 ECDHE_CalculateSecretWithScalar(::ECDHE *Handle, const ::BigInt *Scalar, void *PublicKey,
                                      int32 PublicKeyMaxSize, int32 *PublicKeySize, void *Secret,
                                      int32 SecretMaxSize, int32 *SecretSize);
