// Named short-Weierstrass curves y^2 = x^3 + a·x + b over a prime field,
// chosen by dotted OID, with affine points (ECPoint) at the interface. The
// ground for ECDSA and ECDHE.
//
// Eight curves are built in: secp192k1, P-192, secp224k1, P-224, secp256k1,
// P-256, P-384 and P-521. Their constants are loaded as BigInts when a curve
// is chosen; the arithmetic itself runs on fixed-size words (Jacobian
// points, Montgomery field products) and only its results come back as
// BigInts. Scalar multiplication takes the same steps for every scalar of a
// curve, so a secret scalar does not show in its timing.
//
// An ECPoint is a plain record the caller owns: ECPoint_Init makes its two
// numbers, ECPoint_Release frees them.
#pragma once

#include "crypto/keys/big_int.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define EC_CLASSID 0x7d400fbfu

// Longest curve name (dotted OID) EC_InitParams takes, terminator excluded.
#define EC_MAX_CURVE_NAME 23

RUNTIME_EXTERN_C_BEGIN

typedef struct ECPoint {
    BigInt *X;
    BigInt *Y;
    uint32 AtInfinity; // 1 for the point at infinity
} ECPoint;

int32 ECPoint_Init(ECPoint *Point);
// Both coordinates zero, finite.
int32 ECPoint_Reset(ECPoint *Point);
int32 ECPoint_Release(ECPoint *Point);
// Two points at infinity are equal, one at infinity and one finite are not;
// otherwise both coordinates must be equal.
int32 ECPoint_Equal(const ECPoint *A, const ECPoint *B);

typedef struct EC EC;

int32 EC_Create(EC **Handle);
int32 EC_Delete(EC **Handle);
CLASS_DECLARE_REFERENCE(EC, EC)

// Chooses a curve by its dotted OID (compared exactly); 0 for an unknown
// OID or a name of 24 characters or more, which leaves the curve unusable.
int32 EC_InitParams(EC *Curve, const char *Oid);
// No curve: the name empty, all numbers zero, G finite zero.
int32 EC_Reset(EC *Curve);

// The curve's numbers and base point, borrowed (zero before a curve is
// chosen); the name is empty before then.
BigInt *EC_GetP(EC *Curve);
BigInt *EC_GetA(EC *Curve);
BigInt *EC_GetB(EC *Curve);
BigInt *EC_GetN(EC *Curve);
ECPoint *EC_GetG(EC *Curve);
const char *EC_GetCurveName(EC *Curve);

// Reads a SEC 1 point: 04 with x and y, or 02/03 with x (the format's low
// bit being the parity of y), each coordinate exactly ByteCount(p) bytes.
// 1 when the point was read and passes EC_ValidatePoint. Compressed points
// are refused on secp224k1 and P-224 (no square roots offered there).
int32 ECPoint_ImportBinary(ECPoint *Point, EC *Curve, const void *Bytes, int32 Size);
// 1 when 0 < x < p, 0 < y < p and the point lies on the curve. The
// at-infinity flag is not consulted.
int32 EC_ValidatePoint(EC *Curve, const ECPoint *Point);
// y from x with the given parity; 0 when x has no point on the curve or the
// curve offers no square roots.
int32 EC_DecompressPoint(EC *Curve, ECPoint *Point, int32 Odd);

// Result = P + Q and Result = K·P (K taken mod n, a negative K as its
// negation). Coordinates are taken mod p. Result must be a record distinct
// from the operands. 0 before a curve is chosen.
int32 EC_PointAdd(EC *Curve, ECPoint *Result, const ECPoint *P, const ECPoint *Q);
int32 EC_PointMultiply(EC *Curve, ECPoint *Result, const ECPoint *P, const BigInt *K);

RUNTIME_EXTERN_C_END
