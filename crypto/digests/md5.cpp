// MD5. The round functions use the forms that let the processor overlap
// work (G as a sum of disjoint terms), which is where MD5's speed comes from.
#include "crypto/digests/md5.h"

#include "crypto/digests/digest_internal.h"

struct MD5 {
    ClassStruct Class;
    uint64 ByteCount;
    uint32 State[4];
    uint8 Block[64];
    int32 DigestReady;
    uint8 Digest[16];
};

namespace {

int32 DigestLength(const MD5 *) { return 16; }

constexpr uint32 InitialState[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

} // namespace

namespace digest {

#define MD5_STEP(Function, A, B, C, D, Word, Constant, Shift)                      \
    A += (Word) + (Constant);                                                      \
    A += Function(B, C, D);                                                        \
    A = Rotl32(A, Shift) + B;
#define MD5_F(X, Y, Z) ((Z) ^ ((X) & ((Y) ^ (Z))))
#define MD5_G(X, Y, Z) (((X) & (Z)) + ((Y) & ~(Z)))
#define MD5_H(X, Y, Z) ((X) ^ (Y) ^ (Z))
#define MD5_I(X, Y, Z) ((Y) ^ ((X) | ~(Z)))

void Md5Compress(uint32 *State, const uint8 *Blocks, size_t Count) {
    uint32 A = State[0], B = State[1], C = State[2], D = State[3];
    for (; Count != 0; Count--, Blocks += 64) {
        uint32 X[16];
        for (int Index = 0; Index < 16; Index++) X[Index] = Load32Le(Blocks + 4 * Index);
        const uint32 SavedA = A, SavedB = B, SavedC = C, SavedD = D;
        MD5_STEP(MD5_F, A, B, C, D, X[0], 0xd76aa478, 7)
        MD5_STEP(MD5_F, D, A, B, C, X[1], 0xe8c7b756, 12)
        MD5_STEP(MD5_F, C, D, A, B, X[2], 0x242070db, 17)
        MD5_STEP(MD5_F, B, C, D, A, X[3], 0xc1bdceee, 22)
        MD5_STEP(MD5_F, A, B, C, D, X[4], 0xf57c0faf, 7)
        MD5_STEP(MD5_F, D, A, B, C, X[5], 0x4787c62a, 12)
        MD5_STEP(MD5_F, C, D, A, B, X[6], 0xa8304613, 17)
        MD5_STEP(MD5_F, B, C, D, A, X[7], 0xfd469501, 22)
        MD5_STEP(MD5_F, A, B, C, D, X[8], 0x698098d8, 7)
        MD5_STEP(MD5_F, D, A, B, C, X[9], 0x8b44f7af, 12)
        MD5_STEP(MD5_F, C, D, A, B, X[10], 0xffff5bb1, 17)
        MD5_STEP(MD5_F, B, C, D, A, X[11], 0x895cd7be, 22)
        MD5_STEP(MD5_F, A, B, C, D, X[12], 0x6b901122, 7)
        MD5_STEP(MD5_F, D, A, B, C, X[13], 0xfd987193, 12)
        MD5_STEP(MD5_F, C, D, A, B, X[14], 0xa679438e, 17)
        MD5_STEP(MD5_F, B, C, D, A, X[15], 0x49b40821, 22)
        MD5_STEP(MD5_G, A, B, C, D, X[1], 0xf61e2562, 5)
        MD5_STEP(MD5_G, D, A, B, C, X[6], 0xc040b340, 9)
        MD5_STEP(MD5_G, C, D, A, B, X[11], 0x265e5a51, 14)
        MD5_STEP(MD5_G, B, C, D, A, X[0], 0xe9b6c7aa, 20)
        MD5_STEP(MD5_G, A, B, C, D, X[5], 0xd62f105d, 5)
        MD5_STEP(MD5_G, D, A, B, C, X[10], 0x02441453, 9)
        MD5_STEP(MD5_G, C, D, A, B, X[15], 0xd8a1e681, 14)
        MD5_STEP(MD5_G, B, C, D, A, X[4], 0xe7d3fbc8, 20)
        MD5_STEP(MD5_G, A, B, C, D, X[9], 0x21e1cde6, 5)
        MD5_STEP(MD5_G, D, A, B, C, X[14], 0xc33707d6, 9)
        MD5_STEP(MD5_G, C, D, A, B, X[3], 0xf4d50d87, 14)
        MD5_STEP(MD5_G, B, C, D, A, X[8], 0x455a14ed, 20)
        MD5_STEP(MD5_G, A, B, C, D, X[13], 0xa9e3e905, 5)
        MD5_STEP(MD5_G, D, A, B, C, X[2], 0xfcefa3f8, 9)
        MD5_STEP(MD5_G, C, D, A, B, X[7], 0x676f02d9, 14)
        MD5_STEP(MD5_G, B, C, D, A, X[12], 0x8d2a4c8a, 20)
        MD5_STEP(MD5_H, A, B, C, D, X[5], 0xfffa3942, 4)
        MD5_STEP(MD5_H, D, A, B, C, X[8], 0x8771f681, 11)
        MD5_STEP(MD5_H, C, D, A, B, X[11], 0x6d9d6122, 16)
        MD5_STEP(MD5_H, B, C, D, A, X[14], 0xfde5380c, 23)
        MD5_STEP(MD5_H, A, B, C, D, X[1], 0xa4beea44, 4)
        MD5_STEP(MD5_H, D, A, B, C, X[4], 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, C, D, A, B, X[7], 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, B, C, D, A, X[10], 0xbebfbc70, 23)
        MD5_STEP(MD5_H, A, B, C, D, X[13], 0x289b7ec6, 4)
        MD5_STEP(MD5_H, D, A, B, C, X[0], 0xeaa127fa, 11)
        MD5_STEP(MD5_H, C, D, A, B, X[3], 0xd4ef3085, 16)
        MD5_STEP(MD5_H, B, C, D, A, X[6], 0x04881d05, 23)
        MD5_STEP(MD5_H, A, B, C, D, X[9], 0xd9d4d039, 4)
        MD5_STEP(MD5_H, D, A, B, C, X[12], 0xe6db99e5, 11)
        MD5_STEP(MD5_H, C, D, A, B, X[15], 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, B, C, D, A, X[2], 0xc4ac5665, 23)
        MD5_STEP(MD5_I, A, B, C, D, X[0], 0xf4292244, 6)
        MD5_STEP(MD5_I, D, A, B, C, X[7], 0x432aff97, 10)
        MD5_STEP(MD5_I, C, D, A, B, X[14], 0xab9423a7, 15)
        MD5_STEP(MD5_I, B, C, D, A, X[5], 0xfc93a039, 21)
        MD5_STEP(MD5_I, A, B, C, D, X[12], 0x655b59c3, 6)
        MD5_STEP(MD5_I, D, A, B, C, X[3], 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, C, D, A, B, X[10], 0xffeff47d, 15)
        MD5_STEP(MD5_I, B, C, D, A, X[1], 0x85845dd1, 21)
        MD5_STEP(MD5_I, A, B, C, D, X[8], 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, D, A, B, C, X[15], 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, C, D, A, B, X[6], 0xa3014314, 15)
        MD5_STEP(MD5_I, B, C, D, A, X[13], 0x4e0811a1, 21)
        MD5_STEP(MD5_I, A, B, C, D, X[4], 0xf7537e82, 6)
        MD5_STEP(MD5_I, D, A, B, C, X[11], 0xbd3af235, 10)
        MD5_STEP(MD5_I, C, D, A, B, X[2], 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, B, C, D, A, X[9], 0xeb86d391, 21)
        A += SavedA;
        B += SavedB;
        C += SavedC;
        D += SavedD;
    }
    State[0] = A;
    State[1] = B;
    State[2] = C;
    State[3] = D;
}

} // namespace digest

int32 MD5_Reset(MD5 *Handle) {
    Class_CheckHandle(Handle, MD5_CLASSID);
    digest::WipeFields(Handle);
    memcpy(Handle->State, InitialState, sizeof(InitialState));
    return TRUE;
}

DIGEST_DEFINE_COMMON(MD5, MD5, MD5_CLASSID, "MD5")
DIGEST_DEFINE_GETDIGEST_PREFIX(MD5, MD5, MD5_CLASSID)

int32 MD5_Process(MD5 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, MD5_CLASSID);
    Debug_CheckPointer(Data);
    digest::Absorb<64>(Handle->Block, Handle->ByteCount % 64, static_cast<const uint8 *>(Data), Length,
                       [Handle](const uint8 *Blocks, size_t Count) { digest::Md5Compress(Handle->State, Blocks, Count); });
    Handle->ByteCount += Length;
    return TRUE;
}

int32 MD5_Generate(MD5 *Handle) {
    Class_CheckHandle(Handle, MD5_CLASSID);
    const uint64 Bits = Handle->ByteCount * 8;
    digest::Pad<64, 8>(
        Handle->Block, Handle->ByteCount % 64,
        [Bits](uint8 *At) {
            digest::Store32Le(At, (uint32)Bits);
            digest::Store32Le(At + 4, (uint32)(Bits >> 32));
        },
        [Handle](const uint8 *Blocks, size_t Count) { digest::Md5Compress(Handle->State, Blocks, Count); });
    for (int Index = 0; Index < 4; Index++) digest::Store32Le(Handle->Digest + 4 * Index, Handle->State[Index]);
    Handle->DigestReady = TRUE;
    return TRUE;
}

DIGEST_DEFINE_INTERFACE(MD5_INTERFACE, "MD5", 64, 16, MD5, MD5, MD5)
