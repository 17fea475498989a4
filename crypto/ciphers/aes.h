// AES: the FIPS 197 block cipher with 128-, 192- and 256-bit keys in ECB and
// CBC form, as a context type behind AES_INTERFACE. One context holds one
// key's round keys (encryption and the equivalent-inverse decryption set);
// CBC chaining lives in the caller's IV buffer, which every call updates so
// that consecutive calls continue one chain. Key and round keys are wiped
// when the context is deleted or rekeyed.
//
// The round tables are one shared read-only set built at compile time. Where
// the processor has AES-NI, a context created afterwards uses it; the results
// are the same, partial CBC blocks included.
//
// Key lengths: 32 bytes run 14 rounds, 24 run 12, any other length of 16
// bytes or more runs 10 rounds on the first 16 bytes; shorter keys are
// refused. ECB takes whole blocks only. CBC takes any length: a trailing
// partial block is XORed with the IV into an otherwise zero block, and only
// its own bytes are written and kept as the next IV.
#pragma once

#include "crypto/ciphers/crypt_symmetric.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define AES_CLASSID 0x505c4ff2u
#define AES_BLOCKSIZE 16

RUNTIME_EXTERN_C_BEGIN

typedef struct AES AES;

extern const CryptSymmetricInterface AES_INTERFACE;

int32 AES_Create(AES **Handle);
// Wipes the key material, frees the context and clears the handle.
int32 AES_Delete(AES **Handle);
CLASS_DECLARE_REFERENCE(AES, AES)

// 1, or 0 for a key shorter than 16 bytes (the old key then stays).
int32 AES_SetKey(AES *Handle, const uint8 *Key, int32 Length);
// ECB over Length / 16 blocks; a length that is not a multiple of 16 logs
// "Length must be a multiple of AES_BLOCKSIZE" and answers 0, changing nothing.
int32 AES_Encrypt(AES *Handle, const uint8 *In, uint8 *Out, int32 Length);
int32 AES_Decrypt(AES *Handle, const uint8 *In, uint8 *Out, int32 Length);
// CBC with the IV updated in place; an IV shorter than 16 bytes is a fatal
// stop, a length below 1 answers 1 at once.
int32 AES_EncryptCBC(AES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
int32 AES_DecryptCBC(AES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length);
// Not an AEAD cipher: fatal stops "Not Supported - AES_SetAAD" and
// "Not Supported - AES_GetAuthTag".
int32 AES_SetAAD(AES *Handle, const uint8 *Data, int32 Length);
int32 AES_GetAuthTag(AES *Handle, uint8 *Tag, int32 TagLength);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <stddef.h>

// Counter mode over whole blocks with the block a little-endian 128-bit
// counter, incremented before each block (WinZip AES); Counter is updated.
// Eight blocks at a time on the processor path.
void AES_CounterLittleEndian(const AES *Aes, uint8 *Counter, const uint8 *In, uint8 *Out, size_t Blocks);
#endif
