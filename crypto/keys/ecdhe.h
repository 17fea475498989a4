// Ephemeral elliptic-curve Diffie-Hellman on the built-in curves (ec.h), as
// the TLS client runs it against a server's point: choose the curve, set the
// peer's point, then ECDHE_CalculateSecret draws a fresh private scalar,
// returns the own public point and the shared secret (the x coordinate of
// the common point, as many bytes as the field). The private scalar lives
// only inside that call and is wiped before it returns.
#pragma once

#include "crypto/keys/ec.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define ECDHE_CLASSID 0xdadc1ad4u

RUNTIME_EXTERN_C_BEGIN

typedef struct ECDHE ECDHE;

int32 ECDHE_Create(ECDHE **Handle);
int32 ECDHE_Delete(ECDHE **Handle);
CLASS_DECLARE_REFERENCE(ECDHE, ECDHE)

int32 ECDHE_InitParams(ECDHE *Handle, const char *Oid);
// The peer's encoded point; 0 when it is malformed or off the curve.
int32 ECDHE_SetPublicKey(ECDHE *Handle, const void *Bytes, int32 Size);
// Writes the own public point (04, x, y: 1 + 2·ByteCount(p) bytes) and the
// secret (ByteCount(p) bytes) and reports both sizes. A public buffer of
// 2·ByteCount(p) bytes or less, a secret buffer below ByteCount(p) bytes or
// a missing size pointer is a fatal stop (callers size them from the
// curve). 0 without a peer point or when no scalar could be drawn.
int32 ECDHE_CalculateSecret(ECDHE *Handle, void *PublicKey, int32 PublicKeyMaxSize, int32 *PublicKeySize,
                            void *Secret, int32 SecretMaxSize, int32 *SecretSize);
int32 ECDHE_GetECHandle(ECDHE *Handle, EC **Curve);

RUNTIME_EXTERN_C_END
