// DES: the round function as eight combined S-box and P-permutation tables
// (SB1 ... SB8, 64 words each), the key schedule through PC-1 and PC-2, and
// the initial and final permutations as bit-group swaps on the two 32-bit
// halves. The tables are built at compile time from the standard's S-boxes
// and permutations, so they can be checked against it line by line.
#include "crypto/ciphers/des.h"

#include <string.h>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"

struct DES {
    ClassStruct Class;
    uint32 EncryptKeys[32]; // per round: S-box inputs 1-4 and 5-8, six bits a byte
    uint32 DecryptKeys[32]; // the same pairs in reverse round order
};

#define DES_Check(Handle) Class_CheckHandle((Handle), DES_CLASSID)

namespace {

constexpr uint8 Sboxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3, 4,  9,  7,  2,  13, 12, 0,  5, 10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6, 9,  11, 5,  0,  14, 7,  11, 10, 4, 13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4,  2,  11, 6,  7,  12, 0, 5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1, 7,  10, 11, 6,  8,  5,  3,  15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0, 15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9, 7,  5,  10, 6, 1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1, 4,  11, 13, 12, 3, 7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// Bit positions count from 1 at the most significant bit, as the standard
// writes them.
constexpr uint8 P[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                         2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8 PC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                           35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                           46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8 PC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                           26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                           51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8 Shifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

struct SboxTables {
    uint32 SB[8][64];
};

// SB[i][x]: S-box i + 1 on the six bits x (row from the outer bits), its
// four output bits placed where P sends them.
constexpr SboxTables BuildSboxTables() {
    SboxTables T{};
    for (int Box = 0; Box < 8; Box++) {
        for (int X = 0; X < 64; X++) {
            const int Row = (X >> 4 & 2) | (X & 1), Column = X >> 1 & 15;
            const uint32 Value = Sboxes[Box][Row * 16 + Column];
            const uint32 Placed = Value << (28 - 4 * Box); // before P
            uint32 Permuted = 0;
            for (int Bit = 0; Bit < 32; Bit++)
                if (Placed >> (32 - P[Bit]) & 1) Permuted |= 1u << (31 - Bit);
            T.SB[Box][X] = Permuted;
        }
    }
    return T;
}

constexpr SboxTables Tables = BuildSboxTables();

uint32 Load32(const uint8 *P) { return (uint32)P[0] << 24 | (uint32)P[1] << 16 | (uint32)P[2] << 8 | P[3]; }
void Store32(uint8 *P, uint32 V) {
    P[0] = (uint8)(V >> 24);
    P[1] = (uint8)(V >> 16);
    P[2] = (uint8)(V >> 8);
    P[3] = (uint8)V;
}

uint32 Rotate(uint32 V, int Bits) { return V << Bits | V >> ((32 - Bits) & 31); }

#define SWAP_BITS(A, B, Shift, Mask)                 \
    do {                                             \
        const uint32 T = ((A >> Shift) ^ B) & Mask;  \
        B ^= T;                                      \
        A ^= T << Shift;                             \
    } while (0)

void InitialPermutation(uint32 &L, uint32 &R) {
    SWAP_BITS(L, R, 4, 0x0f0f0f0fu);
    SWAP_BITS(L, R, 16, 0x0000ffffu);
    SWAP_BITS(R, L, 2, 0x33333333u);
    SWAP_BITS(R, L, 8, 0x00ff00ffu);
    SWAP_BITS(L, R, 1, 0x55555555u);
}

void FinalPermutation(uint32 &L, uint32 &R) {
    SWAP_BITS(L, R, 1, 0x55555555u);
    SWAP_BITS(R, L, 8, 0x00ff00ffu);
    SWAP_BITS(R, L, 2, 0x33333333u);
    SWAP_BITS(L, R, 16, 0x0000ffffu);
    SWAP_BITS(L, R, 4, 0x0f0f0f0fu);
}

// The expansion E as eight overlapping six-bit windows of R, each XORed with
// its subkey byte and looked up.
uint32 Feistel(uint32 R, uint32 K0, uint32 K1) {
    const uint32 T = Rotate(R, 31); // bit 32 in front of bits 1 ... 31
    uint32 F = 0;
    for (int Box = 0; Box < 8; Box++) {
        const uint32 Window = Rotate(T, 4 * Box) >> 26;
        const uint32 Key = (Box < 4 ? K0 : K1) >> (24 - 8 * (Box & 3)) & 0x3f;
        F |= Tables.SB[Box][Window ^ Key];
    }
    return F;
}

void Block(const uint32 *Keys, const uint8 *In, uint8 *Out) {
    uint32 L = Load32(In), R = Load32(In + 4);
    InitialPermutation(L, R);
    for (int Round = 0; Round < 16; Round++) {
        const uint32 T = R;
        R = L ^ Feistel(R, Keys[2 * Round], Keys[2 * Round + 1]);
        L = T;
    }
    // The last round's halves are not swapped.
    FinalPermutation(R, L);
    Store32(Out, R);
    Store32(Out + 4, L);
}

uint64 Load64(const uint8 *P) { return (uint64)Load32(P) << 32 | Load32(P + 4); }

void KeySchedule(DES *Des, const uint8 *Key) {
    const uint64 K = Load64(Key);
    uint32 C = 0, D = 0;
    for (int I = 0; I < 28; I++) {
        C = C << 1 | (uint32)(K >> (64 - PC1[I]) & 1);
        D = D << 1 | (uint32)(K >> (64 - PC1[28 + I]) & 1);
    }
    for (int Round = 0; Round < 16; Round++) {
        for (int S = 0; S < Shifts[Round]; S++) {
            C = (C << 1 | C >> 27) & 0x0fffffff;
            D = (D << 1 | D >> 27) & 0x0fffffff;
        }
        const uint64 CD = (uint64)C << 28 | D; // bit 1 of the standard at bit 55
        uint32 Pair[2] = {0, 0};
        for (int I = 0; I < 48; I++) {
            const uint32 Bit = (uint32)(CD >> (56 - PC2[I]) & 1);
            const int Box = I / 6, Position = I % 6;
            Pair[Box / 4] |= Bit << (24 - 8 * (Box & 3) + 5 - Position);
        }
        Des->EncryptKeys[2 * Round] = Pair[0];
        Des->EncryptKeys[2 * Round + 1] = Pair[1];
    }
    for (int Round = 0; Round < 16; Round++) {
        Des->DecryptKeys[2 * Round] = Des->EncryptKeys[2 * (15 - Round)];
        Des->DecryptKeys[2 * Round + 1] = Des->EncryptKeys[2 * (15 - Round) + 1];
    }
}

int32 Ecb(DES *Des, const uint8 *In, uint8 *Out, int32 Length, const uint32 *Keys) {
    DES_Check(Des);
    if (Length < 1) return TRUE;
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    for (int32 At = 0; At < Length; At += 8) {
        uint8 Piece[8] = {0};
        memcpy(Piece, In + At, (size_t)(Length - At < 8 ? Length - At : 8));
        Block(Keys, Piece, Out + At);
    }
    return TRUE;
}

void CheckCbcArguments(DES *Des, const uint8 *IV, int32 IVLength, const uint8 *In, const uint8 *Out) {
    DES_Check(Des);
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    Debug_CheckPointer(IV);
    if (IVLength < DES_BLOCKSIZE)
        Debug_Abort("Assertion failed (IVLength >= DES_BLOCKSIZE)\nInitialization vector too small for DES (%d:%d)",
                    DES_BLOCKSIZE, IVLength);
}

void Wipe(DES *Des) {
    explicit_bzero(Des->EncryptKeys, sizeof(Des->EncryptKeys));
    explicit_bzero(Des->DecryptKeys, sizeof(Des->DecryptKeys));
}

int32 DeleteThroughClass(void *HandleAddress) { return DES_Delete(static_cast<DES **>(HandleAddress)); }
int32 CreateSlot(void **Context) { return DES_Create(reinterpret_cast<DES **>(Context)); }
int32 DeleteSlot(void **Context) { return DES_Delete(reinterpret_cast<DES **>(Context)); }
DES *Self(void *Context) { return static_cast<DES *>(Context); }

} // namespace

const CryptSymmetricInterface DES_INTERFACE = {
    "DES",
    DES_BLOCKSIZE,
    CreateSlot,
    DeleteSlot,
    [](void *C, const uint8 *K, int32 L) { return DES_SetKey(Self(C), K, L); },
    [](void *C, const uint8 *D, int32 L) { return DES_SetAAD(Self(C), D, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return DES_Encrypt(Self(C), I, O, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return DES_Decrypt(Self(C), I, O, L); },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return DES_EncryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *V, int32 VL, const uint8 *I, uint8 *O, int32 L) {
        return DES_DecryptCBC(Self(C), V, VL, I, O, L);
    },
    [](void *C, uint8 *T, int32 L) { return DES_GetAuthTag(Self(C), T, L); },
};

CLASS_DEFINE_REFERENCE(DES, DES, DES_CLASSID)

int32 DES_Create(DES **Handle) {
    Debug_CheckPointer(Handle);
    DES *Des = Memory_New(DES);
    Class_InitHeader(Des, DES_CLASSID, DeleteThroughClass);
    *Handle = Des;
    return TRUE;
}

int32 DES_Delete(DES **Handle) {
    Debug_CheckPointer(Handle);
    DES *Des = *Handle;
    DES_Check(Des);
    Wipe(Des);
    Des->Class.ClassId = 0;
    Memory_Delete(Des);
    *Handle = nullptr;
    return TRUE;
}

int32 DES_SetKey(DES *Handle, const uint8 *Key, int32 Length) {
    DES_Check(Handle);
    if (Length != DES_KEYSIZE) {
        Log_PrintInt(LOG_ERROR, __FILE__, __LINE__, 0, "DES key size must be equal to DES_KEYSIZE [%d]\n", Length);
        return FALSE;
    }
    Debug_CheckPointer(Key);
    Wipe(Handle);
    KeySchedule(Handle, Key);
    return TRUE;
}

int32 DES_Encrypt(DES *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return Ecb(Handle, In, Out, Length, Handle != nullptr ? Handle->EncryptKeys : nullptr);
}

int32 DES_Decrypt(DES *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return Ecb(Handle, In, Out, Length, Handle != nullptr ? Handle->DecryptKeys : nullptr);
}

int32 DES_EncryptCBC(DES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    CheckCbcArguments(Handle, IV, IVLength, In, Out);
    for (int32 At = 0; At < Length; At += 8) {
        const size_t Size = (size_t)(Length - At < 8 ? Length - At : 8);
        uint8 Piece[8] = {0};
        for (size_t I = 0; I < Size; I++) Piece[I] = In[At + I] ^ IV[I];
        Block(Handle->EncryptKeys, Piece, Piece);
        memcpy(Out + At, Piece, Size);
        memcpy(IV, Piece, Size);
    }
    return TRUE;
}

int32 DES_DecryptCBC(DES *Handle, uint8 *IV, int32 IVLength, const uint8 *In, uint8 *Out, int32 Length) {
    CheckCbcArguments(Handle, IV, IVLength, In, Out);
    for (int32 At = 0; At < Length; At += 8) {
        const size_t Size = (size_t)(Length - At < 8 ? Length - At : 8);
        uint8 Kept[8] = {0}, Piece[8];
        memcpy(Kept, In + At, Size);
        Block(Handle->DecryptKeys, Kept, Piece);
        for (size_t I = 0; I < Size; I++) Out[At + I] = Piece[I] ^ IV[I];
        memcpy(IV, Kept, Size);
    }
    return TRUE;
}

int32 DES_SetAAD(DES *Handle, const uint8 *Data, int32 Length) {
    (void)Data;
    (void)Length;
    DES_Check(Handle);
    Debug_Abort("Not Supported - %s", "DES_SetAAD");
}

int32 DES_GetAuthTag(DES *Handle, uint8 *Tag, int32 TagLength) {
    (void)Tag;
    (void)TagLength;
    DES_Check(Handle);
    Debug_Abort("Not Supported - %s", "DES_GetAuthTag");
}
