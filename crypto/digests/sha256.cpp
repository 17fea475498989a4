// SHA-256 and SHA-224. Whole input blocks go straight to the block function
// (chosen once at start-up, see sha_ni.cpp); only partial blocks are copied.
#include "crypto/digests/sha256.h"

#include "crypto/digests/digest_internal.h"

struct SHA256 {
    ClassStruct Class;
    uint64 ByteCount;
    uint32 State[8];
    uint8 Block[64];
    int32 DigestReady;
    uint8 Digest[32];
    int32 DigestSize; // 28 for SHA-224, 32 for SHA-256
};

namespace {

int32 DigestLength(const SHA256 *Context) { return Context->DigestSize; }

constexpr uint32 Initial256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr uint32 Initial224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                  0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};

} // namespace

namespace digest {

alignas(16) extern const uint32 Sha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void Sha256CompressPortable(uint32 *State, const uint8 *Blocks, size_t Count) {
    for (; Count != 0; Count--, Blocks += 64) {
        uint32 W[64];
        for (int Index = 0; Index < 16; Index++) W[Index] = Load32Be(Blocks + 4 * Index);
        for (int Index = 16; Index < 64; Index++) {
            const uint32 S0 = Rotr32(W[Index - 15], 7) ^ Rotr32(W[Index - 15], 18) ^ (W[Index - 15] >> 3);
            const uint32 S1 = Rotr32(W[Index - 2], 17) ^ Rotr32(W[Index - 2], 19) ^ (W[Index - 2] >> 10);
            W[Index] = W[Index - 16] + S0 + W[Index - 7] + S1;
        }
        uint32 A = State[0], B = State[1], C = State[2], D = State[3];
        uint32 E = State[4], F = State[5], G = State[6], H = State[7];
        for (int Index = 0; Index < 64; Index++) {
            const uint32 T1 = H + (Rotr32(E, 6) ^ Rotr32(E, 11) ^ Rotr32(E, 25)) + (G ^ (E & (F ^ G))) +
                              Sha256K[Index] + W[Index];
            const uint32 T2 = (Rotr32(A, 2) ^ Rotr32(A, 13) ^ Rotr32(A, 22)) + ((A & B) | (C & (A | B)));
            H = G;
            G = F;
            F = E;
            E = D + T1;
            D = C;
            C = B;
            B = A;
            A = T1 + T2;
        }
        State[0] += A;
        State[1] += B;
        State[2] += C;
        State[3] += D;
        State[4] += E;
        State[5] += F;
        State[6] += G;
        State[7] += H;
    }
}

} // namespace digest

// A context without a digest size (a fresh one) becomes SHA-256.
int32 SHA256_Reset(SHA256 *Handle) {
    Class_CheckHandle(Handle, SHA256_CLASSID);
    if (Handle->DigestSize == 0) Handle->DigestSize = 32;
    const int32 Size = Handle->DigestSize;
    digest::WipeFields(Handle);
    Handle->DigestSize = Size;
    memcpy(Handle->State, Size == 28 ? Initial224 : Initial256, sizeof(Initial256));
    return TRUE;
}

DIGEST_DEFINE_COMMON(SHA256, SHA256, SHA256_CLASSID, "SHA256")
DIGEST_DEFINE_GETDIGEST_WHOLE(SHA256, SHA256, SHA256_CLASSID)

int32 SHA256_SetDigestSize(SHA256 *Handle, int32 Size) {
    Class_CheckHandle(Handle, SHA256_CLASSID);
    if (Size < 0 || Size > 32) return FALSE;
    Handle->DigestSize = Size;
    memset(Handle->Digest, 0, sizeof(Handle->Digest));
    return TRUE;
}

int32 SHA256_Process(SHA256 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, SHA256_CLASSID);
    Debug_CheckPointer(Data);
    digest::Absorb<64>(Handle->Block, Handle->ByteCount % 64, static_cast<const uint8 *>(Data), Length,
                       [Handle](const uint8 *Blocks, size_t Count) { digest::Sha256Compress(Handle->State, Blocks, Count); });
    Handle->ByteCount += Length;
    return TRUE;
}

int32 SHA256_Generate(SHA256 *Handle) {
    Class_CheckHandle(Handle, SHA256_CLASSID);
    const uint64 Bits = Handle->ByteCount * 8;
    digest::Pad<64, 8>(
        Handle->Block, Handle->ByteCount % 64, [Bits](uint8 *At) { digest::Store64Be(At, Bits); },
        [Handle](const uint8 *Blocks, size_t Count) { digest::Sha256Compress(Handle->State, Blocks, Count); });
    uint8 Words[32];
    for (int Index = 0; Index < 8; Index++) digest::Store32Be(Words + 4 * Index, Handle->State[Index]);
    memcpy(Handle->Digest, Words, (size_t)Handle->DigestSize);
    Handle->DigestReady = TRUE;
    return TRUE;
}

// The SHA-224 entry points: the SHA-256 work, then its size and initial values.
int32 SHA224_SizeOf(void) { return SHA256_SizeOf(); }
int32 SHA224_Reset(SHA256 *Handle) {
    Class_CheckHandle(Handle, SHA256_CLASSID);
    Handle->DigestSize = 28;
    return SHA256_Reset(Handle);
}
int32 SHA224_Stack(void *Memory) {
    SHA256_Stack(Memory);
    return SHA224_Reset(static_cast<SHA256 *>(Memory));
}
int32 SHA224_Unstack(void *Memory) { return SHA256_Unstack(Memory); }
int32 SHA224_Create(SHA256 **Handle) {
    SHA256_Create(Handle);
    return SHA224_Reset(*Handle);
}
int32 SHA224_Delete(SHA256 **Handle) { return SHA256_Delete(Handle); }
int32 SHA224_CopyTo(SHA256 *Source, SHA256 *Target) { return SHA256_CopyTo(Source, Target); }

DIGEST_DEFINE_INTERFACE(SHA224_INTERFACE, "SHA224", 64, 28, SHA224, SHA256, SHA256)
DIGEST_DEFINE_INTERFACE(SHA256_INTERFACE, "SHA256", 64, 32, SHA256, SHA256, SHA256)
