// MD4.
#include "crypto/digests/md4.h"

#include "crypto/digests/digest_internal.h"

struct MD4 {
    ClassStruct Class;
    uint64 ByteCount;
    uint32 State[4];
    uint8 Block[64];
    int32 DigestReady;
    uint8 Digest[16];
};

namespace {

int32 DigestLength(const MD4 *) { return 16; }

constexpr uint32 InitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

} // namespace

namespace digest {

#define MD4_F(X, Y, Z) ((Z) ^ ((X) & ((Y) ^ (Z))))
#define MD4_G(X, Y, Z) (((X) & (Y)) | ((Z) & ((X) | (Y))))
#define MD4_H(X, Y, Z) ((X) ^ (Y) ^ (Z))

void Md4Compress(uint32 *State, const uint8 *Blocks, size_t Count) {
    for (; Count != 0; Count--, Blocks += 64) {
        uint32 X[16];
        for (int Index = 0; Index < 16; Index++) X[Index] = Load32Le(Blocks + 4 * Index);
        uint32 A = State[0], B = State[1], C = State[2], D = State[3];
        for (int Index = 0; Index < 16; Index += 4) {
            A = Rotl32(A + MD4_F(B, C, D) + X[Index], 3);
            D = Rotl32(D + MD4_F(A, B, C) + X[Index + 1], 7);
            C = Rotl32(C + MD4_F(D, A, B) + X[Index + 2], 11);
            B = Rotl32(B + MD4_F(C, D, A) + X[Index + 3], 19);
        }
        for (int Index = 0; Index < 4; Index++) {
            A = Rotl32(A + MD4_G(B, C, D) + X[Index] + 0x5a827999, 3);
            D = Rotl32(D + MD4_G(A, B, C) + X[Index + 4] + 0x5a827999, 5);
            C = Rotl32(C + MD4_G(D, A, B) + X[Index + 8] + 0x5a827999, 9);
            B = Rotl32(B + MD4_G(C, D, A) + X[Index + 12] + 0x5a827999, 13);
        }
        constexpr int Order[4] = {0, 2, 1, 3};
        for (int Index : Order) {
            A = Rotl32(A + MD4_H(B, C, D) + X[Index] + 0x6ed9eba1, 3);
            D = Rotl32(D + MD4_H(A, B, C) + X[Index + 8] + 0x6ed9eba1, 9);
            C = Rotl32(C + MD4_H(D, A, B) + X[Index + 4] + 0x6ed9eba1, 11);
            B = Rotl32(B + MD4_H(C, D, A) + X[Index + 12] + 0x6ed9eba1, 15);
        }
        State[0] += A;
        State[1] += B;
        State[2] += C;
        State[3] += D;
    }
}

} // namespace digest

int32 MD4_Reset(MD4 *Handle) {
    Class_CheckHandle(Handle, MD4_CLASSID);
    digest::WipeFields(Handle);
    memcpy(Handle->State, InitialState, sizeof(InitialState));
    return TRUE;
}

DIGEST_DEFINE_COMMON(MD4, MD4, MD4_CLASSID, "MD4")
DIGEST_DEFINE_GETDIGEST_PREFIX(MD4, MD4, MD4_CLASSID)

int32 MD4_Process(MD4 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, MD4_CLASSID);
    Debug_CheckPointer(Data);
    digest::Absorb<64>(Handle->Block, Handle->ByteCount % 64, static_cast<const uint8 *>(Data), Length,
                       [Handle](const uint8 *Blocks, size_t Count) { digest::Md4Compress(Handle->State, Blocks, Count); });
    Handle->ByteCount += Length;
    return TRUE;
}

int32 MD4_Generate(MD4 *Handle) {
    Class_CheckHandle(Handle, MD4_CLASSID);
    const uint64 Bits = Handle->ByteCount * 8;
    digest::Pad<64, 8>(
        Handle->Block, Handle->ByteCount % 64,
        [Bits](uint8 *At) {
            digest::Store32Le(At, (uint32)Bits);
            digest::Store32Le(At + 4, (uint32)(Bits >> 32));
        },
        [Handle](const uint8 *Blocks, size_t Count) { digest::Md4Compress(Handle->State, Blocks, Count); });
    for (int Index = 0; Index < 4; Index++) digest::Store32Le(Handle->Digest + 4 * Index, Handle->State[Index]);
    Handle->DigestReady = TRUE;
    return TRUE;
}

DIGEST_DEFINE_INTERFACE(MD4_INTERFACE, "MD4", 64, 16, MD4, MD4, MD4)
