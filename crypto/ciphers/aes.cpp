// AES: table-driven rounds (four 256-entry tables per direction) with the
// equivalent inverse cipher for decryption, and the AES-NI path chosen once
// from the processor (see aes.h, aes_internal.h).
//
// The tables are computed at compile time from the field's log and antilog
// tables (generator 3, reduction byte 0x1b) and the affine map with constant
// 0x63, and shared read-only by every context.
#include "crypto/ciphers/aes.h"

#include <cpuid.h>
#include <string.h>

#include <array>
#include <atomic>

#include "crypto/ciphers/aes_internal.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"

namespace {

struct AesTables {
    uint8 Sbox[256];
    uint8 InverseSbox[256];
    uint32 Forward[4][256];
    uint32 Inverse[4][256];
    uint32 KeyInverse[4][256]; // the inverse tables applied to the S-box: InvMixColumns of a key byte
    uint32 RoundConstants[10];
};

constexpr uint32 RotateRight(uint32 Value, int Bits) { return Bits == 0 ? Value : Value >> Bits | Value << (32 - Bits); }
constexpr uint8 RotateLeft8(uint8 Value, int Bits) { return (uint8)(Value << Bits | Value >> (8 - Bits)); }

constexpr AesTables BuildTables() {
    AesTables T{};
    uint8 Power[256]{}, Log[256]{};
    uint8 X = 1;
    for (int I = 0; I < 256; I++) {
        Power[I] = X;
        Log[X] = (uint8)I;
        X = (uint8)(X ^ (X << 1) ^ ((X & 0x80) ? 0x1b : 0)); // times 3
    }
    auto Multiply = [&](uint8 A, uint8 B) -> uint8 {
        return (A && B) ? Power[(Log[A] + Log[B]) % 255] : 0;
    };
    for (int I = 0; I < 256; I++) {
        uint8 Inverse = I ? Power[255 - Log[I]] : 0;
        uint8 S = (uint8)(Inverse ^ RotateLeft8(Inverse, 1) ^ RotateLeft8(Inverse, 2) ^ RotateLeft8(Inverse, 3) ^
                          RotateLeft8(Inverse, 4) ^ 0x63);
        T.Sbox[I] = S;
        T.InverseSbox[S] = (uint8)I;
    }
    for (int I = 0; I < 256; I++) {
        const uint8 S = T.Sbox[I], Si = T.InverseSbox[I];
        const uint32 F = (uint32)Multiply(S, 2) << 24 | (uint32)S << 16 | (uint32)S << 8 | Multiply(S, 3);
        const uint32 V = (uint32)Multiply(Si, 14) << 24 | (uint32)Multiply(Si, 9) << 16 |
                         (uint32)Multiply(Si, 13) << 8 | Multiply(Si, 11);
        for (int R = 0; R < 4; R++) {
            T.Forward[R][I] = RotateRight(F, 8 * R);
            T.Inverse[R][I] = RotateRight(V, 8 * R);
        }
    }
    for (int R = 0; R < 4; R++)
        for (int I = 0; I < 256; I++) T.KeyInverse[R][I] = T.Inverse[R][T.Sbox[I]];
    uint8 Constant = 1;
    for (int I = 0; I < 10; I++) {
        T.RoundConstants[I] = (uint32)Constant << 24;
        Constant = Multiply(Constant, 2);
    }
    return T;
}

constexpr AesTables Tables = BuildTables();
static_assert(Tables.Sbox[0] == 0x63 && Tables.Sbox[0x53] == 0xed && Tables.InverseSbox[0x63] == 0);
static_assert(Tables.Forward[0][0] == 0xc66363a5u && Tables.Inverse[0][0] == 0x51f4a750u);

inline uint32 Load32(const uint8 *P) { return (uint32)P[0] << 24 | (uint32)P[1] << 16 | (uint32)P[2] << 8 | P[3]; }
inline void Store32(uint8 *P, uint32 V) {
    P[0] = (uint8)(V >> 24);
    P[1] = (uint8)(V >> 16);
    P[2] = (uint8)(V >> 8);
    P[3] = (uint8)V;
}

inline uint32 SubWord(uint32 W) {
    return (uint32)Tables.Sbox[W >> 24] << 24 | (uint32)Tables.Sbox[(W >> 16) & 0xff] << 16 |
           (uint32)Tables.Sbox[(W >> 8) & 0xff] << 8 | Tables.Sbox[W & 0xff];
}

bool DetectFastPath() {
    unsigned A = 0, B = 0, C = 0, D = 0;
    if (!__get_cpuid(1, &A, &B, &C, &D)) return false;
    return (C & bit_AES) && (C & bit_PCLMUL) && (C & bit_SSE4_1) && (C & bit_SSSE3);
}

const bool ProcessorHasFastPath = DetectFastPath();
std::atomic<bool> FastPathEnabled{ProcessorHasFastPath};

#define AES_Check(Handle) Class_CheckHandle((Handle), AES_CLASSID)

void WipeKeys(AES *Aes) {
    explicit_bzero(Aes->EncryptKeys, sizeof(Aes->EncryptKeys));
    explicit_bzero(Aes->DecryptKeys, sizeof(Aes->DecryptKeys));
    explicit_bzero(Aes->FastEncryptKeys, sizeof(Aes->FastEncryptKeys));
    explicit_bzero(Aes->FastDecryptKeys, sizeof(Aes->FastDecryptKeys));
}

int32 DeleteThroughClass(void *HandleAddress) { return AES_Delete(static_cast<AES **>(HandleAddress)); }

// ECB over whole blocks in either direction.
void Blocks(const AES *Aes, const uint8 *In, uint8 *Out, size_t Count, bool Encrypting) {
    if (Aes->Fast) {
        if (Encrypting) AesNi_EncryptBlocks(Aes->FastEncryptKeys, Aes->Rounds, In, Out, Count);
        else AesNi_DecryptBlocks(Aes->FastDecryptKeys, Aes->Rounds, In, Out, Count);
        return;
    }
    for (size_t I = 0; I < Count; I++) {
        if (Encrypting) AES_EncryptBlock(Aes, In + 16 * I, Out + 16 * I);
        else AES_DecryptBlock(Aes, In + 16 * I, Out + 16 * I);
    }
}

int32 CheckedEcb(AES *Aes, const uint8 *In, uint8 *Out, int32 Length, bool Encrypting) {
    AES_Check(Aes);
    if (Length < 0 || Length % AES_BLOCKSIZE != 0) {
        Log_PrintInt(LOG_ERROR, __FILE__, __LINE__, 0, "Length must be a multiple of AES_BLOCKSIZE\n");
        return FALSE;
    }
    if (Length == 0) return TRUE;
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    Blocks(Aes, In, Out, (size_t)Length / AES_BLOCKSIZE, Encrypting);
    return TRUE;
}

void CheckCbcArguments(AES *Aes, const uint8 *IV, int32 IVLength, const uint8 *In, const uint8 *Out) {
    AES_Check(Aes);
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    Debug_CheckPointer(IV);
    if (IVLength < AES_BLOCKSIZE)
        Debug_Abort("Assertion failed (IVLength >= AES_BLOCKSIZE)\nInitialization vector too small for AES (%d:%d)",
                    AES_BLOCKSIZE, IVLength);
}

// Slot adapters for the interface record.
int32 CreateSlot(void **Context) { return AES_Create(reinterpret_cast<AES **>(Context)); }
int32 DeleteSlot(void **Context) { return AES_Delete(reinterpret_cast<AES **>(Context)); }
AES *Self(void *Context) { return static_cast<AES *>(Context); }

} // namespace

const CryptSymmetricInterface AES_INTERFACE = {
    "AES",
    AES_BLOCKSIZE,
    CreateSlot,
    DeleteSlot,
    [](void *C, const uint8 *K, int32 L) { return AES_SetKey(Self(C), K, L); },
    [](void *C, const uint8 *D, int32 L) { return AES_SetAAD(Self(C), D, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return AES_Encrypt(Self(C), I, O, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return AES_Decrypt(Self(C), I, O, L); },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return AES_EncryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return AES_DecryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *T, int32 L) { return AES_GetAuthTag(Self(C), T, L); },
};

bool AES_ProcessorHasFastPath() { return ProcessorHasFastPath; }

bool AES_UseProcessorPath(bool Use) {
    FastPathEnabled.store(Use && ProcessorHasFastPath);
    return FastPathEnabled.load();
}

bool AES_ProcessorPathEnabled() { return FastPathEnabled.load(); }

void AES_EncryptBlock(const AES *Aes, const uint8 *In, uint8 *Out) {
    if (Aes->Fast) {
        AesNi_EncryptBlocks(Aes->FastEncryptKeys, Aes->Rounds, In, Out, 1);
        return;
    }
    const uint32 *K = Aes->EncryptKeys;
    const auto &T = Tables.Forward;
    uint32 S0 = Load32(In) ^ K[0], S1 = Load32(In + 4) ^ K[1], S2 = Load32(In + 8) ^ K[2],
           S3 = Load32(In + 12) ^ K[3];
    for (int32 Round = 1; Round < Aes->Rounds; Round++) {
        K += 4;
        const uint32 T0 = T[0][S0 >> 24] ^ T[1][(S1 >> 16) & 0xff] ^ T[2][(S2 >> 8) & 0xff] ^ T[3][S3 & 0xff] ^ K[0];
        const uint32 T1 = T[0][S1 >> 24] ^ T[1][(S2 >> 16) & 0xff] ^ T[2][(S3 >> 8) & 0xff] ^ T[3][S0 & 0xff] ^ K[1];
        const uint32 T2 = T[0][S2 >> 24] ^ T[1][(S3 >> 16) & 0xff] ^ T[2][(S0 >> 8) & 0xff] ^ T[3][S1 & 0xff] ^ K[2];
        const uint32 T3 = T[0][S3 >> 24] ^ T[1][(S0 >> 16) & 0xff] ^ T[2][(S1 >> 8) & 0xff] ^ T[3][S2 & 0xff] ^ K[3];
        S0 = T0, S1 = T1, S2 = T2, S3 = T3;
    }
    K += 4;
    const uint8 *S = Tables.Sbox;
    auto Last = [S](uint32 A, uint32 B, uint32 C, uint32 D) {
        return (uint32)S[A >> 24] << 24 | (uint32)S[(B >> 16) & 0xff] << 16 | (uint32)S[(C >> 8) & 0xff] << 8 |
               S[D & 0xff];
    };
    Store32(Out, Last(S0, S1, S2, S3) ^ K[0]);
    Store32(Out + 4, Last(S1, S2, S3, S0) ^ K[1]);
    Store32(Out + 8, Last(S2, S3, S0, S1) ^ K[2]);
    Store32(Out + 12, Last(S3, S0, S1, S2) ^ K[3]);
}

void AES_CounterLittleEndian(const AES *Aes, uint8 *Counter, const uint8 *In, uint8 *Out, size_t Blocks) {
    if (Aes->Fast) return AesNi_CounterLittleEndian(Aes->FastEncryptKeys, Aes->Rounds, Counter, In, Out, Blocks);
    uint8 Stream[16];
    for (size_t Block = 0; Block < Blocks; Block++, In += 16, Out += 16) {
        for (int J = 0; J < 16 && ++Counter[J] == 0; J++) {
        }
        AES_EncryptBlock(Aes, Counter, Stream);
        for (int I = 0; I < 16; I += 8) {
            uint64 Word, Key;
            memcpy(&Word, In + I, 8);
            memcpy(&Key, Stream + I, 8);
            Word ^= Key;
            memcpy(Out + I, &Word, 8);
        }
    }
    explicit_bzero(Stream, sizeof(Stream));
}

void AES_DecryptBlock(const AES *Aes, const uint8 *In, uint8 *Out) {
    if (Aes->Fast) {
        AesNi_DecryptBlocks(Aes->FastDecryptKeys, Aes->Rounds, In, Out, 1);
        return;
    }
    const uint32 *K = Aes->DecryptKeys;
    const auto &T = Tables.Inverse;
    uint32 S0 = Load32(In) ^ K[0], S1 = Load32(In + 4) ^ K[1], S2 = Load32(In + 8) ^ K[2],
           S3 = Load32(In + 12) ^ K[3];
    for (int32 Round = 1; Round < Aes->Rounds; Round++) {
        K += 4;
        const uint32 T0 = T[0][S0 >> 24] ^ T[1][(S3 >> 16) & 0xff] ^ T[2][(S2 >> 8) & 0xff] ^ T[3][S1 & 0xff] ^ K[0];
        const uint32 T1 = T[0][S1 >> 24] ^ T[1][(S0 >> 16) & 0xff] ^ T[2][(S3 >> 8) & 0xff] ^ T[3][S2 & 0xff] ^ K[1];
        const uint32 T2 = T[0][S2 >> 24] ^ T[1][(S1 >> 16) & 0xff] ^ T[2][(S0 >> 8) & 0xff] ^ T[3][S3 & 0xff] ^ K[2];
        const uint32 T3 = T[0][S3 >> 24] ^ T[1][(S2 >> 16) & 0xff] ^ T[2][(S1 >> 8) & 0xff] ^ T[3][S0 & 0xff] ^ K[3];
        S0 = T0, S1 = T1, S2 = T2, S3 = T3;
    }
    K += 4;
    const uint8 *S = Tables.InverseSbox;
    auto Last = [S](uint32 A, uint32 B, uint32 C, uint32 D) {
        return (uint32)S[A >> 24] << 24 | (uint32)S[(B >> 16) & 0xff] << 16 | (uint32)S[(C >> 8) & 0xff] << 8 |
               S[D & 0xff];
    };
    Store32(Out, Last(S0, S3, S2, S1) ^ K[0]);
    Store32(Out + 4, Last(S1, S0, S3, S2) ^ K[1]);
    Store32(Out + 8, Last(S2, S1, S0, S3) ^ K[2]);
    Store32(Out + 12, Last(S3, S2, S1, S0) ^ K[3]);
}

CLASS_DEFINE_REFERENCE(AES, AES, AES_CLASSID)

int32 AES_Create(AES **Handle) {
    Debug_CheckPointer(Handle);
    AES *Aes = Memory_New(AES);
    Class_InitHeader(Aes, AES_CLASSID, DeleteThroughClass);
    Aes->Rounds = 10;
    Aes->Fast = FastPathEnabled.load() ? TRUE : FALSE;
    *Handle = Aes;
    return TRUE;
}

int32 AES_Delete(AES **Handle) {
    Debug_CheckPointer(Handle);
    AES *Aes = *Handle;
    AES_Check(Aes);
    WipeKeys(Aes);
    Aes->Class.ClassId = 0;
    Memory_Delete(Aes);
    *Handle = nullptr;
    return TRUE;
}

int32 AES_SetKey(AES *Handle, const uint8 *Key, int32 Length) {
    AES_Check(Handle);
    if (Length < 16) return FALSE;
    Debug_CheckPointer(Key);
    WipeKeys(Handle);
    const int32 Words = Length == 32 ? 8 : Length == 24 ? 6 : 4;
    const int32 Rounds = Words + 6;
    const int32 Total = 4 * (Rounds + 1);
    uint32 *W = Handle->EncryptKeys;
    for (int32 I = 0; I < Words; I++) W[I] = Load32(Key + 4 * I);
    for (int32 I = Words; I < Total; I++) {
        uint32 Temp = W[I - 1];
        if (I % Words == 0) Temp = SubWord(Temp << 8 | Temp >> 24) ^ Tables.RoundConstants[I / Words - 1];
        else if (Words > 6 && I % Words == 4) Temp = SubWord(Temp);
        W[I] = W[I - Words] ^ Temp;
    }
    // Equivalent inverse cipher: round keys in reverse order, the inner ones
    // through InvMixColumns.
    uint32 *D = Handle->DecryptKeys;
    for (int32 Round = 0; Round <= Rounds; Round++) {
        const uint32 *Source = W + 4 * (Rounds - Round);
        for (int32 J = 0; J < 4; J++) {
            const uint32 V = Source[J];
            D[4 * Round + J] = (Round == 0 || Round == Rounds)
                                   ? V
                                   : Tables.KeyInverse[0][V >> 24] ^ Tables.KeyInverse[1][(V >> 16) & 0xff] ^
                                         Tables.KeyInverse[2][(V >> 8) & 0xff] ^ Tables.KeyInverse[3][V & 0xff];
        }
    }
    for (int32 I = 0; I < Total; I++) {
        Store32(Handle->FastEncryptKeys + 4 * I, W[I]);
        Store32(Handle->FastDecryptKeys + 4 * I, D[I]);
    }
    Handle->Rounds = Rounds;
    return TRUE;
}

int32 AES_Encrypt(AES *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return CheckedEcb(Handle, In, Out, Length, true);
}

int32 AES_Decrypt(AES *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return CheckedEcb(Handle, In, Out, Length, false);
}

int32 AES_EncryptCBC(AES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    CheckCbcArguments(Handle, IV, IVLength, In, Out);
    if (Length < 1) return TRUE;
    const size_t Whole = (size_t)Length / AES_BLOCKSIZE;
    if (Handle->Fast) {
        AesNi_EncryptCBC(Handle->FastEncryptKeys, Handle->Rounds, IV, In, Out, Whole);
    } else {
        for (size_t I = 0; I < Whole; I++) {
            uint8 Block[16];
            for (int J = 0; J < 16; J++) Block[J] = In[16 * I + J] ^ IV[J];
            AES_EncryptBlock(Handle, Block, IV);
            memcpy(Out + 16 * I, IV, 16);
        }
    }
    const size_t Rest = (size_t)Length % AES_BLOCKSIZE;
    if (Rest != 0) {
        uint8 Block[16] = {0};
        const size_t At = Whole * 16;
        for (size_t J = 0; J < Rest; J++) Block[J] = In[At + J] ^ IV[J];
        AES_EncryptBlock(Handle, Block, Block);
        memcpy(Out + At, Block, Rest);
        memcpy(IV, Block, Rest);
        explicit_bzero(Block, sizeof(Block));
    }
    return TRUE;
}

int32 AES_DecryptCBC(AES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    CheckCbcArguments(Handle, IV, IVLength, In, Out);
    if (Length < 1) return TRUE;
    const size_t Whole = (size_t)Length / AES_BLOCKSIZE;
    if (Handle->Fast) {
        AesNi_DecryptCBC(Handle->FastDecryptKeys, Handle->Rounds, IV, In, Out, Whole);
    } else {
        for (size_t I = 0; I < Whole; I++) {
            uint8 Kept[16], Block[16];
            memcpy(Kept, In + 16 * I, 16);
            AES_DecryptBlock(Handle, Kept, Block);
            for (int J = 0; J < 16; J++) Out[16 * I + J] = Block[J] ^ IV[J];
            memcpy(IV, Kept, 16);
        }
    }
    const size_t Rest = (size_t)Length % AES_BLOCKSIZE;
    if (Rest != 0) {
        uint8 Kept[16] = {0}, Block[16];
        const size_t At = Whole * 16;
        memcpy(Kept, In + At, Rest);
        AES_DecryptBlock(Handle, Kept, Block);
        for (size_t J = 0; J < Rest; J++) Out[At + J] = Block[J] ^ IV[J];
        memcpy(IV, Kept, Rest);
        explicit_bzero(Block, sizeof(Block));
    }
    return TRUE;
}

int32 AES_SetAAD(AES *Handle, const uint8 *Data, int32 Length) {
    (void)Data;
    (void)Length;
    AES_Check(Handle);
    Debug_Abort("Not Supported - %s", "AES_SetAAD");
}

int32 AES_GetAuthTag(AES *Handle, uint8 *Tag, int32 TagLength) {
    (void)Tag;
    (void)TagLength;
    AES_Check(Handle);
    Debug_Abort("Not Supported - %s", "AES_GetAuthTag");
}
