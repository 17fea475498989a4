// AESGCM: AES in Galois/Counter Mode (SP 800-38D) behind AESGCM_INTERFACE,
// built on an AES context of its own. A message runs SetAAD, then
// EncryptCBC or DecryptCBC with the IV (which starts the message), then any
// number of Encrypt or Decrypt pieces, then GetAuthTag once.
//
// Every Encrypt or Decrypt call starts on a fresh counter block and a fresh
// GHASH block, so only the last call of a message may end in a partial
// block: a message split elsewhere gives results that differ from the
// standard's. A message started without SetAAD has no additional data: the
// GHASH state of an earlier message is never carried into it.
//
// Deciphering writes plaintext before the tag is known: the caller compares
// the tag (in constant time) and discards the plaintext on a mismatch.
#pragma once

#include "crypto/ciphers/crypt_symmetric.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define AESGCM_CLASSID 0x11ee79d4u

RUNTIME_EXTERN_C_BEGIN

typedef struct AESGCM AESGCM;

extern const CryptSymmetricInterface AESGCM_INTERFACE;

int32 AESGCM_Create(AESGCM **Handle);
// Wipes key, tables and message state, frees the context, clears the handle.
int32 AESGCM_Delete(AESGCM **Handle);
CLASS_DECLARE_REFERENCE(AESGCM, AESGCM)

// The AES key (as AES_SetKey; 0 for under 16 bytes) and H = AES(K, 0).
int32 AESGCM_SetKey(AESGCM *Handle, const uint8 *Key, int32 Length);
// Starts the GHASH of a message with its additional data.
int32 AESGCM_SetAAD(AESGCM *Handle, const uint8 *Data, int32 Length);
// Start a message with the IV (12 bytes: IV || 1; other lengths through
// GHASH), then as Encrypt / Decrypt. The IV is not changed. 0 for an
// empty or negative IV, which the standard forbids.
int32 AESGCM_EncryptCBC(AESGCM *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
int32 AESGCM_DecryptCBC(AESGCM *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
// Continue the current message.
int32 AESGCM_Encrypt(AESGCM *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 AESGCM_Decrypt(AESGCM *Handle, const uint8 *In, uint8 *Out, int32 Length);
// The first min(TagLength, 16) bytes of the tag; ends the message.
int32 AESGCM_GetAuthTag(AESGCM *Handle, uint8 *Tag, int32 TagLength);

// GHASH of Length bytes (a last partial block zero-padded) into the 16-byte
// accumulator, and one multiplication of the accumulator by H.
void GCM_Hash(AESGCM *Handle, uint8 *Accumulator, const uint8 *Data, int32 Length);
void GCM_Mult(AESGCM *Handle, uint8 *Accumulator);

RUNTIME_EXTERN_C_END
