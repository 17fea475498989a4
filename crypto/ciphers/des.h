// DES: single DES (FIPS 46-3) in ECB and CBC form behind DES_INTERFACE; no
// triple DES. Its user is NTLM, which enciphers 8-byte challenges with
// 8-byte keys. Subkeys are wiped when the context is deleted or rekeyed.
//
// ECB zero-fills a last piece shorter than 8 bytes and writes the whole
// block, so Out needs the length rounded up to a multiple of 8. CBC writes
// only the given bytes of a last partial block (the cipher works on the
// zero-filled block) and keeps them as the next IV.
#pragma once

#include "crypto/ciphers/crypt_symmetric.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define DES_CLASSID 0x1acb0abdu
#define DES_KEYSIZE 8
#define DES_BLOCKSIZE 8

RUNTIME_EXTERN_C_BEGIN

typedef struct DES DES;

extern const CryptSymmetricInterface DES_INTERFACE;

int32 DES_Create(DES **Handle);
int32 DES_Delete(DES **Handle);
CLASS_DECLARE_REFERENCE(DES, DES)

// 1, or 0 (logged, old subkeys kept) when the length is not 8.
int32 DES_SetKey(DES *Handle, const uint8 *Key, int32 Length);
int32 DES_Encrypt(DES *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 DES_Decrypt(DES *Handle, const uint8 *In, uint8 *Out, int32 Length);
// An IV shorter than 8 bytes is a fatal stop.
int32 DES_EncryptCBC(DES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
int32 DES_DecryptCBC(DES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
// Fatal stops "Not Supported - DES_SetAAD" / "Not Supported - DES_GetAuthTag".
int32 DES_SetAAD(DES *Handle, const uint8 *Data, int32 Length);
int32 DES_GetAuthTag(DES *Handle, uint8 *Tag, int32 TagLength);

RUNTIME_EXTERN_C_END
