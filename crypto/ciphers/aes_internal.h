// Shared by the AES and AES-GCM modules and their tests: the AES context
// record, single-block calls, and the processor (AES-NI and PCLMULQDQ) path.
//
// The processor path is chosen once from cpuid; AES_UseProcessorPath lets
// tests turn it off and on again to compare both paths. The choice is read
// when a context is created, so a context keeps the path it began with.
#pragma once

#include "crypto/ciphers/aes.h"
#include "runtime/types.h"

struct AES {
    ClassStruct Class;
    uint32 EncryptKeys[60];
    uint32 DecryptKeys[60];
    // The same round keys as bytes in the order AES-NI loads them.
    alignas(16) uint8 FastEncryptKeys[15 * 16];
    alignas(16) uint8 FastDecryptKeys[15 * 16];
    int32 Rounds;
    int32 Fast; // 1: this context uses the processor path
};

// 1 when the processor has AES-NI, PCLMULQDQ and SSE4.1.
bool AES_ProcessorHasFastPath();
// Turns the processor path on (when the processor has it) or off for contexts
// created afterwards; answers whether it is now on.
bool AES_UseProcessorPath(bool Use);
bool AES_ProcessorPathEnabled();

void AES_EncryptBlock(const AES *Aes, const uint8 *In, uint8 *Out);
void AES_DecryptBlock(const AES *Aes, const uint8 *In, uint8 *Out);

// The processor path (aes_ni.cpp); call only when AES_ProcessorHasFastPath.
// Keys are the 16-byte round keys of FastEncryptKeys / FastDecryptKeys.
void AesNi_EncryptBlocks(const uint8 *Keys, int32 Rounds, const uint8 *In, uint8 *Out, size_t Blocks);
void AesNi_DecryptBlocks(const uint8 *Keys, int32 Rounds, const uint8 *In, uint8 *Out, size_t Blocks);
void AesNi_EncryptCBC(const uint8 *Keys, int32 Rounds, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks);
void AesNi_DecryptCBC(const uint8 *Keys, int32 Rounds, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks);
void AesNi_CounterLittleEndian(const uint8 *Keys, int32 Rounds, uint8 *Counter, const uint8 *In, uint8 *Out,
                               size_t Blocks);
// GHASH with carry-less multiplication. Powers holds H^1 ... H^8 in the
// processor path's byte-reversed form (made by Clmul_InitPowers); the
// accumulator is in standard byte order.
void Clmul_InitPowers(const uint8 *H, uint8 (*Powers)[16]);
void Clmul_Hash(const uint8 (*Powers)[16], uint8 *Accumulator, const uint8 *Data, size_t Blocks);
// Counter mode over whole blocks with GHASH of the ciphertext: the low 32
// bits of the counter block are incremented before each block.
void AesNi_GcmBlocks(const uint8 *Keys, int32 Rounds, const uint8 (*Powers)[16], uint8 *Counter,
                     uint8 *Accumulator, const uint8 *In, uint8 *Out, size_t Blocks, bool Encrypting);
