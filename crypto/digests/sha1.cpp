// SHA-1. The block function is chosen once at start-up (see sha_ni.cpp).
#include "crypto/digests/sha1.h"

#include "crypto/digests/digest_internal.h"

struct SHA1 {
    ClassStruct Class;
    uint64 ByteCount;
    uint32 State[5];
    uint8 Block[64];
    int32 DigestReady;
    uint8 Digest[20];
};

namespace {

int32 DigestLength(const SHA1 *) { return 20; }

constexpr uint32 InitialState[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};

} // namespace

namespace digest {

void Sha1CompressPortable(uint32 *State, const uint8 *Blocks, size_t Count) {
    for (; Count != 0; Count--, Blocks += 64) {
        uint32 W[16];
        for (int Index = 0; Index < 16; Index++) W[Index] = Load32Be(Blocks + 4 * Index);
        uint32 A = State[0], B = State[1], C = State[2], D = State[3], E = State[4];
        // A 16-word ring holds the schedule; rounds rotate the variables
        // instead of moving them.
        auto Word = [&W](int Round) -> uint32 {
            if (Round < 16) return W[Round];
            uint32 &Slot = W[Round & 15];
            Slot = Rotl32(W[(Round + 13) & 15] ^ W[(Round + 8) & 15] ^ W[(Round + 2) & 15] ^ Slot, 1);
            return Slot;
        };
#define SHA1_ROUND(A, B, C, D, E, Function, Constant, Round)                         \
    E += Rotl32(A, 5) + (Function) + (Constant) + Word(Round);                       \
    B = Rotl32(B, 30);
#define SHA1_FIVE(Function, Constant, Round)                                         \
    SHA1_ROUND(A, B, C, D, E, Function(B, C, D), Constant, Round)                    \
    SHA1_ROUND(E, A, B, C, D, Function(A, B, C), Constant, Round + 1)                \
    SHA1_ROUND(D, E, A, B, C, Function(E, A, B), Constant, Round + 2)                \
    SHA1_ROUND(C, D, E, A, B, Function(D, E, A), Constant, Round + 3)                \
    SHA1_ROUND(B, C, D, E, A, Function(C, D, E), Constant, Round + 4)
#define SHA1_CH(X, Y, Z) ((Z) ^ ((X) & ((Y) ^ (Z))))
#define SHA1_PARITY(X, Y, Z) ((X) ^ (Y) ^ (Z))
#define SHA1_MAJ(X, Y, Z) (((X) & (Y)) | ((Z) & ((X) | (Y))))
        for (int Round = 0; Round < 20; Round += 5) { SHA1_FIVE(SHA1_CH, 0x5a827999u, Round) }
        for (int Round = 20; Round < 40; Round += 5) { SHA1_FIVE(SHA1_PARITY, 0x6ed9eba1u, Round) }
        for (int Round = 40; Round < 60; Round += 5) { SHA1_FIVE(SHA1_MAJ, 0x8f1bbcdcu, Round) }
        for (int Round = 60; Round < 80; Round += 5) { SHA1_FIVE(SHA1_PARITY, 0xca62c1d6u, Round) }
        State[0] += A;
        State[1] += B;
        State[2] += C;
        State[3] += D;
        State[4] += E;
    }
}

} // namespace digest

int32 SHA1_Reset(SHA1 *Handle) {
    Class_CheckHandle(Handle, SHA1_CLASSID);
    digest::WipeFields(Handle);
    memcpy(Handle->State, InitialState, sizeof(InitialState));
    return TRUE;
}

DIGEST_DEFINE_COMMON(SHA1, SHA1, SHA1_CLASSID, "SHA1")
DIGEST_DEFINE_GETDIGEST_PREFIX(SHA1, SHA1, SHA1_CLASSID)

int32 SHA1_Process(SHA1 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, SHA1_CLASSID);
    Debug_CheckPointer(Data);
    digest::Absorb<64>(Handle->Block, Handle->ByteCount % 64, static_cast<const uint8 *>(Data), Length,
                       [Handle](const uint8 *Blocks, size_t Count) { digest::Sha1Compress(Handle->State, Blocks, Count); });
    Handle->ByteCount += Length;
    return TRUE;
}

int32 SHA1_Generate(SHA1 *Handle) {
    Class_CheckHandle(Handle, SHA1_CLASSID);
    const uint64 Bits = Handle->ByteCount * 8;
    digest::Pad<64, 8>(
        Handle->Block, Handle->ByteCount % 64, [Bits](uint8 *At) { digest::Store64Be(At, Bits); },
        [Handle](const uint8 *Blocks, size_t Count) { digest::Sha1Compress(Handle->State, Blocks, Count); });
    for (int Index = 0; Index < 5; Index++) digest::Store32Be(Handle->Digest + 4 * Index, Handle->State[Index]);
    Handle->DigestReady = TRUE;
    return TRUE;
}

DIGEST_DEFINE_INTERFACE(SHA1_INTERFACE, "SHA1", 64, 20, SHA1, SHA1, SHA1)
