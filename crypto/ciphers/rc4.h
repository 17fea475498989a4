// RC4: the stream cipher (published key scheduling and output steps) behind
// RC4_INTERFACE, whose AEAD and CBC slots are empty. Users: the enciphering
// stream of the notification end point and PKCS#12's RC4 bags. The state
// carries over between calls, so a message may be processed in pieces;
// SetKey always restarts the key stream. State and key length are wiped on
// delete.
#pragma once

#include "crypto/ciphers/crypt_symmetric.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define RC4_CLASSID 0x4d6f4aaau

RUNTIME_EXTERN_C_BEGIN

typedef struct RC4 RC4;

extern const CryptSymmetricInterface RC4_INTERFACE;

// A context in the reset state (i = j = 0, S the identity).
int32 RC4_Create(RC4 **Handle);
int32 RC4_Delete(RC4 **Handle);
CLASS_DECLARE_REFERENCE(RC4, RC4)

// Keys are 1 to 255 bytes: 256 or more is a fatal stop, an empty key
// answers 0 (the state is then reset without a key).
int32 RC4_SetKey(RC4 *Handle, const uint8 *Key, int32 Length);
// XORs the key stream into the bytes; In and Out may be the same buffer.
int32 RC4_Encrypt(RC4 *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 RC4_Decrypt(RC4 *Handle, const uint8 *In, uint8 *Out, int32 Length);

RUNTIME_EXTERN_C_END
