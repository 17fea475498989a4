// AESGCM: counter mode and GHASH over an AES context (see aes_gcm.h).
//
// The portable GHASH is the 4-bit table method: sixteen multiples i·H as two
// 64-bit halves and the standard reduction table; contexts on the processor
// path use the carry-less product with the powers H^1 ... H^8 instead. Both
// paths keep the accumulator and the counter block in standard byte order,
// so the message state means the same whichever path made it.
#include "crypto/ciphers/aes_gcm.h"

#include <string.h>

#include <algorithm>

#include "crypto/ciphers/aes_internal.h"
#include "runtime/debug.h"
#include "runtime/memory.h"

struct AESGCM {
    ClassStruct Class;
    AES *Aes;
    uint64 HighTable[16];
    uint64 LowTable[16];
    alignas(16) uint8 Powers[8][16];
    uint64 MessageLength;
    uint64 AADLength;
    uint8 Counter[16];     // Y
    uint8 Accumulator[16]; // GHASH state
    uint8 EncryptedJ0[16]; // E(K, J0), the tag's mask
    int32 AADSet;          // SetAAD came after the last start or tag
};

#define AESGCM_Check(Handle) Class_CheckHandle((Handle), AESGCM_CLASSID)

namespace {

// x^4 reduction constants of the 4-bit table method.
constexpr uint64 Reduction[16] = {0x0000, 0x1c20, 0x3840, 0x2460, 0x7080, 0x6ca0, 0x48c0, 0x54e0,
                                  0xe100, 0xfd20, 0xd940, 0xc560, 0x9180, 0x8da0, 0xa9c0, 0xb5e0};

uint64 Load64(const uint8 *P) {
    uint64 V = 0;
    for (int I = 0; I < 8; I++) V = V << 8 | P[I];
    return V;
}

void Store64(uint8 *P, uint64 V) {
    for (int I = 7; I >= 0; I--, V >>= 8) P[I] = (uint8)V;
}

void BuildTables(AESGCM *Gcm, const uint8 *H) {
    uint64 High = Load64(H), Low = Load64(H + 8);
    Gcm->HighTable[8] = High;
    Gcm->LowTable[8] = Low;
    Gcm->HighTable[0] = Gcm->LowTable[0] = 0;
    for (int I = 4; I > 0; I >>= 1) {
        const uint64 Carry = (Low & 1) * 0xe1000000u;
        Low = High << 63 | Low >> 1;
        High = High >> 1 ^ Carry << 32;
        Gcm->HighTable[I] = High;
        Gcm->LowTable[I] = Low;
    }
    for (int I = 2; I <= 8; I *= 2) {
        for (int J = 1; J < I; J++) {
            Gcm->HighTable[I + J] = Gcm->HighTable[I] ^ Gcm->HighTable[J];
            Gcm->LowTable[I + J] = Gcm->LowTable[I] ^ Gcm->LowTable[J];
        }
    }
}

void PortableMultiply(const AESGCM *Gcm, uint8 *X) {
    uint8 Nibble = X[15] & 0xf;
    uint64 High = Gcm->HighTable[Nibble], Low = Gcm->LowTable[Nibble];
    for (int I = 15; I >= 0; I--) {
        const uint8 LowNibble = X[I] & 0xf, HighNibble = X[I] >> 4;
        if (I != 15) {
            const uint8 Rest = Low & 0xf;
            Low = High << 60 | Low >> 4;
            High = High >> 4 ^ Reduction[Rest] << 48 ^ Gcm->HighTable[LowNibble];
            Low ^= Gcm->LowTable[LowNibble];
        }
        const uint8 Rest = Low & 0xf;
        Low = High << 60 | Low >> 4;
        High = High >> 4 ^ Reduction[Rest] << 48 ^ Gcm->HighTable[HighNibble];
        Low ^= Gcm->LowTable[HighNibble];
    }
    Store64(X, High);
    Store64(X + 8, Low);
}

void Increment32(uint8 *Counter) {
    for (int I = 15; I >= 12; I--)
        if (++Counter[I] != 0) break;
}

// One call's worth of counter mode: a fresh counter block and GHASH block
// for every 16-byte piece from the start of the call.
void Process(AESGCM *Gcm, const uint8 *In, uint8 *Out, int32 Length, bool Encrypting) {
    if (Length < 1) return;
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    Gcm->MessageLength += (uint64)Length;
    size_t Whole = (size_t)Length / 16;
    const size_t Rest = (size_t)Length % 16;
    if (Gcm->Aes->Fast) {
        AesNi_GcmBlocks(Gcm->Aes->FastEncryptKeys, Gcm->Aes->Rounds, Gcm->Powers, Gcm->Counter, Gcm->Accumulator, In,
                        Out, Whole, Encrypting);
        In += Whole * 16;
        Out += Whole * 16;
        Whole = 0;
    }
    uint8 Stream[16];
    for (size_t Piece = 0; Piece < Whole + (Rest ? 1 : 0); Piece++) {
        const size_t Size = Piece < Whole ? 16 : Rest;
        Increment32(Gcm->Counter);
        AES_EncryptBlock(Gcm->Aes, Gcm->Counter, Stream);
        for (size_t I = 0; I < Size; I++) {
            const uint8 Input = In[16 * Piece + I];
            const uint8 Output = Input ^ Stream[I];
            Out[16 * Piece + I] = Output;
            Gcm->Accumulator[I] ^= Encrypting ? Output : Input;
        }
        GCM_Mult(Gcm, Gcm->Accumulator);
    }
    explicit_bzero(Stream, sizeof(Stream));
}

void Start(AESGCM *Gcm, const uint8 *IV, int32 IVLength) {
    // Without SetAAD since the last message, this message has no additional
    // data; an earlier message's GHASH state must not leak into its tag.
    if (!Gcm->AADSet) {
        memset(Gcm->Accumulator, 0, 16);
        Gcm->AADLength = 0;
    }
    Gcm->AADSet = FALSE;
    Gcm->MessageLength = 0;
    memset(Gcm->Counter, 0, 16);
    if (IVLength > 0) Debug_CheckPointer(IV);
    if (IVLength == 12) {
        memcpy(Gcm->Counter, IV, 12);
        Gcm->Counter[15] = 1;
    } else {
        GCM_Hash(Gcm, Gcm->Counter, IV, IVLength);
        uint8 Lengths[16] = {0};
        Store64(Lengths + 8, (uint64)(uint32)((uint64)IVLength * 8));
        GCM_Hash(Gcm, Gcm->Counter, Lengths, 16);
    }
    AES_EncryptBlock(Gcm->Aes, Gcm->Counter, Gcm->EncryptedJ0);
}

int32 StartAndProcess(AESGCM *Gcm, const uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length,
                      bool Encrypting) {
    AESGCM_Check(Gcm);
    // An empty IV gives every message under the key the same counter
    // block, so the standard forbids it.
    if (IVLength < 1) return FALSE;
    Start(Gcm, IV, IVLength);
    Process(Gcm, In, Out, Length, Encrypting);
    return TRUE;
}

void WipeState(AESGCM *Gcm) {
    explicit_bzero(Gcm->HighTable, sizeof(Gcm->HighTable));
    explicit_bzero(Gcm->LowTable, sizeof(Gcm->LowTable));
    explicit_bzero(Gcm->Powers, sizeof(Gcm->Powers));
    explicit_bzero(Gcm->Counter, sizeof(Gcm->Counter));
    explicit_bzero(Gcm->Accumulator, sizeof(Gcm->Accumulator));
    explicit_bzero(Gcm->EncryptedJ0, sizeof(Gcm->EncryptedJ0));
    Gcm->MessageLength = Gcm->AADLength = 0;
    Gcm->AADSet = FALSE;
}

int32 DeleteThroughClass(void *HandleAddress) { return AESGCM_Delete(static_cast<AESGCM **>(HandleAddress)); }
int32 CreateSlot(void **Context) { return AESGCM_Create(reinterpret_cast<AESGCM **>(Context)); }
int32 DeleteSlot(void **Context) { return AESGCM_Delete(reinterpret_cast<AESGCM **>(Context)); }
AESGCM *Self(void *Context) { return static_cast<AESGCM *>(Context); }

} // namespace

const CryptSymmetricInterface AESGCM_INTERFACE = {
    "AESGCM",
    16,
    CreateSlot,
    DeleteSlot,
    [](void *C, const uint8 *K, int32 L) { return AESGCM_SetKey(Self(C), K, L); },
    [](void *C, const uint8 *D, int32 L) { return AESGCM_SetAAD(Self(C), D, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return AESGCM_Encrypt(Self(C), I, O, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return AESGCM_Decrypt(Self(C), I, O, L); },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return AESGCM_EncryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return AESGCM_DecryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *T, int32 L) { return AESGCM_GetAuthTag(Self(C), T, L); },
};

void GCM_Mult(AESGCM *Handle, uint8 *Accumulator) {
    if (Handle->Aes->Fast) {
        // One block of zeros hashed in is one multiplication by H.
        static const uint8 Zero[16] = {0};
        Clmul_Hash(Handle->Powers, Accumulator, Zero, 1);
        return;
    }
    PortableMultiply(Handle, Accumulator);
}

void GCM_Hash(AESGCM *Handle, uint8 *Accumulator, const uint8 *Data, int32 Length) {
    if (Length < 1) return;
    Debug_CheckPointer(Data);
    size_t Whole = (size_t)Length / 16;
    const size_t Rest = (size_t)Length % 16;
    if (Handle->Aes->Fast) {
        Clmul_Hash(Handle->Powers, Accumulator, Data, Whole);
        Data += Whole * 16;
        Whole = 0;
    }
    for (size_t Block = 0; Block < Whole; Block++) {
        for (int I = 0; I < 16; I++) Accumulator[I] ^= Data[16 * Block + I];
        PortableMultiply(Handle, Accumulator);
    }
    if (Rest != 0) {
        for (size_t I = 0; I < Rest; I++) Accumulator[I] ^= Data[16 * Whole + I];
        GCM_Mult(Handle, Accumulator);
    }
}

CLASS_DEFINE_REFERENCE(AESGCM, AESGCM, AESGCM_CLASSID)

int32 AESGCM_Create(AESGCM **Handle) {
    Debug_CheckPointer(Handle);
    AESGCM *Gcm = Memory_New(AESGCM);
    Class_InitHeader(Gcm, AESGCM_CLASSID, DeleteThroughClass);
    AES_Create(&Gcm->Aes);
    *Handle = Gcm;
    return TRUE;
}

int32 AESGCM_Delete(AESGCM **Handle) {
    Debug_CheckPointer(Handle);
    AESGCM *Gcm = *Handle;
    AESGCM_Check(Gcm);
    AES_Delete(&Gcm->Aes);
    WipeState(Gcm);
    Gcm->Class.ClassId = 0;
    Memory_Delete(Gcm);
    *Handle = nullptr;
    return TRUE;
}

int32 AESGCM_SetKey(AESGCM *Handle, const uint8 *Key, int32 Length) {
    AESGCM_Check(Handle);
    if (!AES_SetKey(Handle->Aes, Key, Length)) return FALSE;
    WipeState(Handle);
    uint8 H[16] = {0};
    AES_EncryptBlock(Handle->Aes, H, H);
    BuildTables(Handle, H);
    if (Handle->Aes->Fast) Clmul_InitPowers(H, Handle->Powers);
    explicit_bzero(H, sizeof(H));
    return TRUE;
}

int32 AESGCM_SetAAD(AESGCM *Handle, const uint8 *Data, int32 Length) {
    AESGCM_Check(Handle);
    Length = std::max(Length, 0);
    Handle->AADLength = (uint64)Length;
    memset(Handle->Accumulator, 0, 16);
    GCM_Hash(Handle, Handle->Accumulator, Data, Length);
    Handle->AADSet = TRUE;
    return TRUE;
}

int32 AESGCM_EncryptCBC(AESGCM *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    return StartAndProcess(Handle, IV, IVLength, In, Out, Length, true);
}

int32 AESGCM_DecryptCBC(AESGCM *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    return StartAndProcess(Handle, IV, IVLength, In, Out, Length, false);
}

int32 AESGCM_Encrypt(AESGCM *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    AESGCM_Check(Handle);
    Process(Handle, In, Out, Length, true);
    return TRUE;
}

int32 AESGCM_Decrypt(AESGCM *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    AESGCM_Check(Handle);
    Process(Handle, In, Out, Length, false);
    return TRUE;
}

int32 AESGCM_GetAuthTag(AESGCM *Handle, uint8 *Tag, int32 TagLength) {
    AESGCM_Check(Handle);
    Debug_CheckPointer(Tag);
    const int32 Size = std::clamp(TagLength, 0, 16);
    memcpy(Tag, Handle->EncryptedJ0, (size_t)Size);
    if (Handle->AADLength != 0 || Handle->MessageLength != 0) {
        uint8 Lengths[16];
        Store64(Lengths, Handle->AADLength * 8);
        Store64(Lengths + 8, Handle->MessageLength * 8);
        for (int I = 0; I < 16; I++) Handle->Accumulator[I] ^= Lengths[I];
        GCM_Mult(Handle, Handle->Accumulator);
        for (int32 I = 0; I < Size; I++) Tag[I] ^= Handle->Accumulator[I];
    }
    Handle->AADSet = FALSE;
    return TRUE;
}
