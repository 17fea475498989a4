// Named curves and affine points over the curve engine. See ec.h.
//
// The BigInt constants exist for callers (EC_GetP ... EC_GetG); every
// computation converts its operands to fixed-size bytes and runs in the
// engine (ec_engine.cpp), whose results come back as BigInts.
#include "crypto/keys/ec.h"

#include <string.h>

#include <vector>

#include "crypto/keys/ec_internal.h"
#include "runtime/memory.h"

struct EC {
    ClassStruct Class;
    char CurveName[EC_MAX_CURVE_NAME + 1];
    BigInt *P, *A, *B, *N;
    ECPoint G;
    int32 SqrtKind;
    const ec::Engine *Engine; // null until a curve is chosen
};

#define EC_Check(Handle) Class_CheckHandle((Handle), EC_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return EC_Delete(static_cast<EC **>(HandleAddress)); }

// A coordinate reduced mod p (a negative one to its residue) as FieldBytes
// bytes.
void Coordinate(EC *Curve, const BigInt *Value, uint8 *Out) {
    BigIntLocal Reduced;
    BigInt_Copy(Reduced, Value);
    const bool Negative = BigInt_GetSign(Reduced) < 0;
    if (Negative) BigInt_Negate(Reduced);
    BigInt_Modulo(Reduced, Reduced, Curve->P);
    if (Negative && !BigInt_IsZero(Reduced)) BigInt_Subtract(Reduced, Curve->P, Reduced);
    BigInt_ExportBinaryFixedSize(Reduced, Out, Curve->Engine->FieldBytes);
}

void SetResult(ECPoint *Result, const uint8 *X, const uint8 *Y, int32 Size, bool Finite) {
    if (!Finite) {
        BigInt_Reset(Result->X);
        BigInt_Reset(Result->Y);
        Result->AtInfinity = 1;
        return;
    }
    BigInt_ImportBinary(Result->X, X, Size);
    BigInt_ImportBinary(Result->Y, Y, Size);
    Result->AtInfinity = 0;
}

} // namespace

namespace ec {

const Engine *EngineOf(::EC *Curve) {
    EC_Check(Curve);
    return Curve->Engine;
}

bool ToFixed(const ::BigInt *Number, uint8 *Out, int32 Size) {
    if (BigInt_GetSign(Number) < 0) return false;
    return BigInt_ExportBinaryFixedSize(Number, Out, Size) == TRUE;
}

} // namespace ec

int32 ECPoint_Init(ECPoint *Point) {
    Debug_CheckPointer(Point);
    BigInt_Create(&Point->X);
    BigInt_Create(&Point->Y);
    Point->AtInfinity = 0;
    return TRUE;
}

int32 ECPoint_Reset(ECPoint *Point) {
    Debug_CheckPointer(Point);
    BigInt_Reset(Point->X);
    BigInt_Reset(Point->Y);
    Point->AtInfinity = 0;
    return TRUE;
}

int32 ECPoint_Release(ECPoint *Point) {
    Debug_CheckPointer(Point);
    if (Point->X != nullptr) BigInt_Delete(&Point->X);
    if (Point->Y != nullptr) BigInt_Delete(&Point->Y);
    Point->AtInfinity = 0;
    return TRUE;
}

int32 ECPoint_Equal(const ECPoint *A, const ECPoint *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    if (A->AtInfinity || B->AtInfinity) return A->AtInfinity && B->AtInfinity ? TRUE : FALSE;
    return BigInt_Equal(A->X, B->X) && BigInt_Equal(A->Y, B->Y) ? TRUE : FALSE;
}

CLASS_DEFINE_REFERENCE(EC, EC, EC_CLASSID)

int32 EC_Create(EC **Handle) {
    Debug_CheckPointer(Handle);
    EC *Object = Memory_New(EC);
    Class_InitHeader(Object, EC_CLASSID, DeleteThroughClass);
    BigInt_Create(&Object->P);
    BigInt_Create(&Object->A);
    BigInt_Create(&Object->B);
    BigInt_Create(&Object->N);
    ECPoint_Init(&Object->G);
    *Handle = Object;
    return TRUE;
}

int32 EC_Delete(EC **Handle) {
    Debug_CheckPointer(Handle);
    EC *Object = *Handle;
    EC_Check(Object);
    BigInt_Delete(&Object->P);
    BigInt_Delete(&Object->A);
    BigInt_Delete(&Object->B);
    BigInt_Delete(&Object->N);
    ECPoint_Release(&Object->G);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 EC_InitParams(EC *Curve, const char *Oid) {
    EC_Check(Curve);
    Debug_CheckPointer(Oid);
    EC_Reset(Curve);
    if (strlen(Oid) > EC_MAX_CURVE_NAME) return FALSE;
    strcpy(Curve->CurveName, Oid);
    const ec::CurveParams *Params = ec::FindCurve(Oid);
    if (Params == nullptr) return FALSE;
    const int32 Read = BigInt_ImportHex(Curve->P, Params->P) + BigInt_ImportHex(Curve->A, Params->A) +
                       BigInt_ImportHex(Curve->B, Params->B) + BigInt_ImportHex(Curve->G.X, Params->Gx) +
                       BigInt_ImportHex(Curve->G.Y, Params->Gy) + BigInt_ImportHex(Curve->N, Params->N);
    if (Read != 6) return FALSE;
    Curve->SqrtKind = Params->SqrtKind;
    Curve->Engine = ec::EngineFor(Params);
    return TRUE;
}

int32 EC_Reset(EC *Curve) {
    EC_Check(Curve);
    Curve->CurveName[0] = '\0';
    BigInt_Reset(Curve->P);
    BigInt_Reset(Curve->A);
    BigInt_Reset(Curve->B);
    BigInt_Reset(Curve->N);
    ECPoint_Reset(&Curve->G);
    Curve->SqrtKind = 0;
    Curve->Engine = nullptr;
    return TRUE;
}

BigInt *EC_GetP(EC *Curve) {
    EC_Check(Curve);
    return Curve->P;
}

BigInt *EC_GetA(EC *Curve) {
    EC_Check(Curve);
    return Curve->A;
}

BigInt *EC_GetB(EC *Curve) {
    EC_Check(Curve);
    return Curve->B;
}

BigInt *EC_GetN(EC *Curve) {
    EC_Check(Curve);
    return Curve->N;
}

ECPoint *EC_GetG(EC *Curve) {
    EC_Check(Curve);
    return &Curve->G;
}

const char *EC_GetCurveName(EC *Curve) {
    EC_Check(Curve);
    return Curve->CurveName;
}

int32 ECPoint_ImportBinary(ECPoint *Point, EC *Curve, const void *Bytes, int32 Size) {
    Debug_CheckPointer(Point);
    EC_Check(Curve);
    if (Curve->Engine == nullptr || Bytes == nullptr || Size < 3) return FALSE;
    const uint8 *Input = static_cast<const uint8 *>(Bytes);
    const int32 F = Curve->Engine->FieldBytes;
    ECPoint_Reset(Point);
    switch (Input[0]) {
    case 4:
        if (Size != 1 + 2 * F) return FALSE;
        BigInt_ImportBinary(Point->X, Input + 1, F);
        BigInt_ImportBinary(Point->Y, Input + 1 + F, F);
        break;
    case 2:
    case 3:
        if (Size != 1 + F) return FALSE;
        BigInt_ImportBinary(Point->X, Input + 1, F);
        if (!EC_DecompressPoint(Curve, Point, Input[0] & 1)) return FALSE;
        break;
    default:
        return FALSE;
    }
    return EC_ValidatePoint(Curve, Point);
}

int32 EC_ValidatePoint(EC *Curve, const ECPoint *Point) {
    EC_Check(Curve);
    Debug_CheckPointer(Point);
    if (Curve->Engine == nullptr) return FALSE;
    if (BigInt_GetSign(Point->X) <= 0 || BigInt_GetSign(Point->Y) <= 0) return FALSE;
    const int32 F = Curve->Engine->FieldBytes;
    std::vector<uint8> X((size_t)F), Y((size_t)F);
    // The engine refuses coordinates of p or more.
    if (!ec::ToFixed(Point->X, X.data(), F) || !ec::ToFixed(Point->Y, Y.data(), F)) return FALSE;
    return Curve->Engine->IsOnCurve(X.data(), Y.data()) ? TRUE : FALSE;
}

int32 EC_DecompressPoint(EC *Curve, ECPoint *Point, int32 Odd) {
    EC_Check(Curve);
    Debug_CheckPointer(Point);
    if (Curve->Engine == nullptr) return FALSE;
    const int32 F = Curve->Engine->FieldBytes;
    std::vector<uint8> X((size_t)F), Y((size_t)F);
    if (!ec::ToFixed(Point->X, X.data(), F)) return FALSE;
    if (!Curve->Engine->Decompress(X.data(), Odd, Y.data())) return FALSE;
    BigInt_ImportBinary(Point->Y, Y.data(), F);
    return TRUE;
}

int32 EC_PointAdd(EC *Curve, ECPoint *Result, const ECPoint *P, const ECPoint *Q) {
    EC_Check(Curve);
    Debug_CheckPointer(Result);
    Debug_CheckPointer(P);
    Debug_CheckPointer(Q);
    Debug_Assert(Result != P && Result != Q, "Result must not be an operand!");
    if (Curve->Engine == nullptr) return FALSE;
    const int32 F = Curve->Engine->FieldBytes;
    std::vector<uint8> Px((size_t)F), Py((size_t)F), Qx((size_t)F), Qy((size_t)F), X((size_t)F), Y((size_t)F);
    if (!P->AtInfinity) {
        Coordinate(Curve, P->X, Px.data());
        Coordinate(Curve, P->Y, Py.data());
    }
    if (!Q->AtInfinity) {
        Coordinate(Curve, Q->X, Qx.data());
        Coordinate(Curve, Q->Y, Qy.data());
    }
    const int32 Infinite = Curve->Engine->Add(Px.data(), Py.data(), (int32)P->AtInfinity, Qx.data(), Qy.data(),
                                              (int32)Q->AtInfinity, X.data(), Y.data());
    SetResult(Result, X.data(), Y.data(), F, Infinite == 0);
    return TRUE;
}

int32 EC_PointMultiply(EC *Curve, ECPoint *Result, const ECPoint *P, const BigInt *K) {
    EC_Check(Curve);
    Debug_CheckPointer(Result);
    Debug_CheckPointer(P);
    Debug_Assert(Result != P, "Result must not be an operand!");
    if (Curve->Engine == nullptr) return FALSE;
    const int32 F = Curve->Engine->FieldBytes, S = Curve->Engine->ScalarBytes;
    std::vector<uint8> Px((size_t)F), Py((size_t)F), X((size_t)F), Y((size_t)F), Scalar((size_t)S);
    BigIntLocal Reduced;
    BigInt_Copy(Reduced, K);
    const bool Negative = BigInt_GetSign(Reduced) < 0;
    if (Negative) BigInt_Negate(Reduced);
    BigInt_Modulo(Reduced, Reduced, Curve->N);
    if (Negative && !BigInt_IsZero(Reduced)) BigInt_Subtract(Reduced, Curve->N, Reduced);
    BigInt_ExportBinaryFixedSize(Reduced, Scalar.data(), S);
    bool Finite = false;
    if (!P->AtInfinity && !BigInt_IsZero(Reduced)) {
        Coordinate(Curve, P->X, Px.data());
        Coordinate(Curve, P->Y, Py.data());
        Finite = Curve->Engine->Multiply(Scalar.data(), Px.data(), Py.data(), true, X.data(), Y.data());
    }
    ec::Wipe(Scalar.data(), Scalar.size());
    SetResult(Result, X.data(), Y.data(), F, Finite);
    return TRUE;
}
