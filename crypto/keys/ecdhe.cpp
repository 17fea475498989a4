// ECDHE over the curve engine. See ecdhe.h.
//
// Both products with the private scalar (the own public point and the
// shared point) take the engine's scalar-independent walk.
#include "crypto/keys/ecdhe.h"

#include <string.h>

#include <vector>

#include "crypto/keys/ec_internal.h"
#include "runtime/memory.h"

struct ECDHE {
    ClassStruct Class;
    EC *Curve;
    ECPoint Peer;
    int32 HasPeer;
};

#define ECDHE_Check(Handle) Class_CheckHandle((Handle), ECDHE_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return ECDHE_Delete(static_cast<ECDHE **>(HandleAddress)); }

// Checks the caller's buffers against the curve; fatal stops for caller
// errors, as the sizes follow from the curve alone.
void CheckBuffers(const ec::Engine *E, int32 PublicKeyMaxSize, int32 *PublicKeySize, int32 SecretMaxSize,
                  int32 *SecretSize) {
    Debug_CheckPointer(PublicKeySize);
    Debug_CheckPointer(SecretSize);
    if (PublicKeyMaxSize <= 2 * E->FieldBytes) Debug_Abort("Too small |PublicKeyMaxSize|\n");
    if (SecretMaxSize < E->FieldBytes) Debug_Abort("Too small |CommonSecretMaxSize|\n");
}

} // namespace

CLASS_DEFINE_REFERENCE(ECDHE, ECDHE, ECDHE_CLASSID)

int32 ECDHE_Create(ECDHE **Handle) {
    Debug_CheckPointer(Handle);
    ECDHE *Object = Memory_New(ECDHE);
    Class_InitHeader(Object, ECDHE_CLASSID, DeleteThroughClass);
    EC_Create(&Object->Curve);
    ECPoint_Init(&Object->Peer);
    *Handle = Object;
    return TRUE;
}

int32 ECDHE_Delete(ECDHE **Handle) {
    Debug_CheckPointer(Handle);
    ECDHE *Object = *Handle;
    ECDHE_Check(Object);
    EC_Delete(&Object->Curve);
    ECPoint_Release(&Object->Peer);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 ECDHE_InitParams(ECDHE *Handle, const char *Oid) {
    ECDHE_Check(Handle);
    Handle->HasPeer = FALSE;
    return EC_InitParams(Handle->Curve, Oid);
}

int32 ECDHE_SetPublicKey(ECDHE *Handle, const void *Bytes, int32 Size) {
    ECDHE_Check(Handle);
    Handle->HasPeer = ECPoint_ImportBinary(&Handle->Peer, Handle->Curve, Bytes, Size);
    return Handle->HasPeer;
}

int32 ECDHE_CalculateSecret(ECDHE *Handle, void *PublicKey, int32 PublicKeyMaxSize, int32 *PublicKeySize,
                            void *Secret, int32 SecretMaxSize, int32 *SecretSize) {
    ECDHE_Check(Handle);
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    if (E == nullptr) return FALSE;
    CheckBuffers(E, PublicKeyMaxSize, PublicKeySize, SecretMaxSize, SecretSize);
    *PublicKeySize = 0;
    *SecretSize = 0;
    BigIntLocal Scalar;
    if (!BigInt_ModuloRandom(Scalar, EC_GetN(Handle->Curve))) return FALSE;
    return ECDHE_CalculateSecretWithScalar(Handle, Scalar, PublicKey, PublicKeyMaxSize, PublicKeySize, Secret,
                                           SecretMaxSize, SecretSize);
}

int32 ECDHE_CalculateSecretWithScalar(ECDHE *Handle, const BigInt *Scalar, void *PublicKey, int32 PublicKeyMaxSize,
                                      int32 *PublicKeySize, void *Secret, int32 SecretMaxSize, int32 *SecretSize) {
    ECDHE_Check(Handle);
    const ec::Engine *E = ec::EngineOf(Handle->Curve);
    if (E == nullptr) return FALSE;
    CheckBuffers(E, PublicKeyMaxSize, PublicKeySize, SecretMaxSize, SecretSize);
    Debug_CheckPointer(PublicKey);
    Debug_CheckPointer(Secret);
    *PublicKeySize = 0;
    *SecretSize = 0;
    if (!Handle->HasPeer) return FALSE;
    const int32 F = E->FieldBytes, S = E->ScalarBytes;
    std::vector<uint8> K((size_t)S), Px((size_t)F), Py((size_t)F), X((size_t)F), Y((size_t)F);
    if (!ec::ToFixed(Scalar, K.data(), S) || !E->ScalarInRange(K.data())) return FALSE;
    ec::ToFixed(Handle->Peer.X, Px.data(), F);
    ec::ToFixed(Handle->Peer.Y, Py.data(), F);
    uint8 *Public = static_cast<uint8 *>(PublicKey);
    memset(Public, 0, (size_t)PublicKeyMaxSize);
    memset(Secret, 0, (size_t)F);
    int32 Result = FALSE;
    if (E->Multiply(K.data(), nullptr, nullptr, true, X.data(), Y.data())) {
        Public[0] = 4;
        memcpy(Public + 1, X.data(), (size_t)F);
        memcpy(Public + 1 + F, Y.data(), (size_t)F);
        *PublicKeySize = 1 + 2 * F;
        // The peer point passed validation, so on these prime-order curves
        // the common point is finite; the check stays for safety.
        if (E->Multiply(K.data(), Px.data(), Py.data(), true, X.data(), Y.data())) {
            memcpy(Secret, X.data(), (size_t)F);
            *SecretSize = F;
            Result = TRUE;
        }
    }
    ec::Wipe(K.data(), K.size());
    ec::Wipe(X.data(), X.size());
    ec::Wipe(Y.data(), Y.size());
    return Result;
}

int32 ECDHE_GetECHandle(ECDHE *Handle, EC **Curve) {
    ECDHE_Check(Handle);
    Debug_CheckPointer(Curve);
    *Curve = Handle->Curve;
    return Handle->Curve != nullptr;
}
