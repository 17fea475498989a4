// SHA-512 and SHA-384. The byte count is 128 bits wide (low, high) and the
// length field is written as the full 128-bit bit count.
#include "crypto/digests/sha512.h"

#include <immintrin.h>

#include "crypto/digests/digest_internal.h"

struct SHA512 {
    ClassStruct Class;
    uint64 ByteCount[2]; // low, high
    uint64 State[8];
    uint8 Block[128];
    int32 DigestReady;
    uint8 Digest[64];
    int32 DigestSize; // 48 for SHA-384, 64 for SHA-512
};

namespace {

int32 DigestLength(const SHA512 *Context) { return Context->DigestSize; }

constexpr uint64 Initial512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                  0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
constexpr uint64 Initial384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                                  0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};

constexpr uint64 K[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

// One round; the callers rotate the names instead of moving eight words.
// BC holds B ^ C on entry and A ^ B on return, which is the next round's
// B ^ C: majority is then B ^ ((A ^ B) & (B ^ C)), one step shorter.
inline void Round(uint64 A, uint64 B, uint64 &D, uint64 E, uint64 F, uint64 G, uint64 &H, uint64 KW, uint64 &BC) {
    // Choose as two disjoint halves added in: no step waits on F ^ G.
    const uint64 T1 = (H + KW) + (digest::Rotr64(E, 14) ^ digest::Rotr64(E, 18) ^ digest::Rotr64(E, 41)) + (E & F) +
                      (~E & G);
    const uint64 AB = A ^ B;
    D += T1;
    H = T1 + (digest::Rotr64(A, 28) ^ digest::Rotr64(A, 34) ^ digest::Rotr64(A, 39)) + (B ^ (AB & BC));
    BC = AB;
}

// The message schedule kept as a ring of 16 words, each extended in place
// just before its round.
inline uint64 Extend(uint64 *W, int Index) {
    const uint64 Early = W[(Index + 1) & 15], Late = W[(Index + 14) & 15];
    const uint64 S0 = digest::Rotr64(Early, 1) ^ digest::Rotr64(Early, 8) ^ (Early >> 7);
    const uint64 S1 = digest::Rotr64(Late, 19) ^ digest::Rotr64(Late, 61) ^ (Late >> 6);
    return W[Index & 15] += S0 + W[(Index + 9) & 15] + S1;
}

// Eight rounds from Index, the first sixteen on the block's own words.
#define SHA512_EIGHT(Index, Word)                                            \
    Round(A, B, D, E, F, G, H, K[(Index) + 0] + Word(W, (Index) + 0), BC); \
    Round(H, A, C, D, E, F, G, K[(Index) + 1] + Word(W, (Index) + 1), BC); \
    Round(G, H, B, C, D, E, F, K[(Index) + 2] + Word(W, (Index) + 2), BC); \
    Round(F, G, A, B, C, D, E, K[(Index) + 3] + Word(W, (Index) + 3), BC); \
    Round(E, F, H, A, B, C, D, K[(Index) + 4] + Word(W, (Index) + 4), BC); \
    Round(D, E, G, H, A, B, C, K[(Index) + 5] + Word(W, (Index) + 5), BC); \
    Round(C, D, F, G, H, A, B, K[(Index) + 6] + Word(W, (Index) + 6), BC); \
    Round(B, C, E, F, G, H, A, K[(Index) + 7] + Word(W, (Index) + 7), BC);

inline uint64 Given(uint64 *W, int Index) { return W[Index]; }

void CompressPortable(uint64 *State, const uint8 *Blocks, size_t Count) {
    for (; Count != 0; Count--, Blocks += 128) {
        uint64 W[16];
        for (int Index = 0; Index < 16; Index++) W[Index] = digest::Load64Be(Blocks + 8 * Index);
        uint64 A = State[0], B = State[1], C = State[2], D = State[3];
        uint64 E = State[4], F = State[5], G = State[6], H = State[7];
        uint64 BC = B ^ C;
        SHA512_EIGHT(0, Given)
        SHA512_EIGHT(8, Given)
        for (int Index = 16; Index < 80; Index += 8) {
            SHA512_EIGHT(Index, Extend)
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

#undef SHA512_EIGHT

// With AVX and BMI2: the message schedule runs two words at a time in vector
// registers, woven between the rounds (which stay in general registers, with
// the rotate that leaves its source intact), so both kinds of units work at
// once. The sixteen coming words plus their constants wait in a ring in
// memory; each pair is extended right after the rounds that used its slot.
#define SHA512_FAST __attribute__((target("avx,bmi,bmi2")))

SHA512_FAST inline __m128i Rotr(__m128i X, int N) {
    return _mm_or_si128(_mm_srli_epi64(X, N), _mm_slli_epi64(X, 64 - N));
}

SHA512_FAST inline __m128i SmallSigma0(__m128i X) {
    return _mm_xor_si128(_mm_xor_si128(Rotr(X, 1), Rotr(X, 8)), _mm_srli_epi64(X, 7));
}

SHA512_FAST inline __m128i SmallSigma1(__m128i X) {
    return _mm_xor_si128(_mm_xor_si128(Rotr(X, 19), Rotr(X, 61)), _mm_srli_epi64(X, 6));
}

// The rounds by their place in a group of eight (the names rotate by one
// each round).
#define SHA512_R0(KW) Round(A, B, D, E, F, G, H, KW, BC)
#define SHA512_R1(KW) Round(H, A, C, D, E, F, G, KW, BC)
#define SHA512_R2(KW) Round(G, H, B, C, D, E, F, KW, BC)
#define SHA512_R3(KW) Round(F, G, A, B, C, D, E, KW, BC)
#define SHA512_R4(KW) Round(E, F, H, A, B, C, D, KW, BC)
#define SHA512_R5(KW) Round(D, E, G, H, A, B, C, KW, BC)
#define SHA512_R6(KW) Round(C, D, F, G, H, A, B, KW, BC)
#define SHA512_R7(KW) Round(B, C, E, F, G, H, A, KW, BC)

// Words Base + 16 + 2Q and the next from the ring X of the last sixteen.
#define SHA512_EXTEND(Q, Base)                                                                                  \
    {                                                                                                          \
        const __m128i Early = _mm_alignr_epi8(X[((Q) + 1) & 7], X[Q], 8);                                       \
        const __m128i Middle = _mm_alignr_epi8(X[((Q) + 5) & 7], X[((Q) + 4) & 7], 8);                          \
        X[Q] = _mm_add_epi64(_mm_add_epi64(X[Q], SmallSigma0(Early)),                                           \
                             _mm_add_epi64(Middle, SmallSigma1(X[((Q) + 7) & 7])));                             \
        _mm_store_si128(reinterpret_cast<__m128i *>(WK + 2 * (Q)),                                             \
                        _mm_add_epi64(X[Q], _mm_loadu_si128(reinterpret_cast<const __m128i *>(K + (Base) + 16 + 2 * (Q))))); \
    }

SHA512_FAST void CompressVector(uint64 *State, const uint8 *Blocks, size_t Count) {
    const __m128i Swap = _mm_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    for (; Count != 0; Count--, Blocks += 128) {
        alignas(16) uint64 WK[16];
        __m128i X[8];
        for (int Pair = 0; Pair < 8; Pair++) {
            X[Pair] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 16 * Pair)), Swap);
            _mm_store_si128(reinterpret_cast<__m128i *>(WK + 2 * Pair),
                            _mm_add_epi64(X[Pair], _mm_loadu_si128(reinterpret_cast<const __m128i *>(K + 2 * Pair))));
        }
        uint64 A = State[0], B = State[1], C = State[2], D = State[3];
        uint64 E = State[4], F = State[5], G = State[6], H = State[7];
        uint64 BC = B ^ C;
        for (int Base = 0; Base < 64; Base += 16) {
            SHA512_R0(WK[0]);
            SHA512_R1(WK[1]);
            SHA512_EXTEND(0, Base)
            SHA512_R2(WK[2]);
            SHA512_R3(WK[3]);
            SHA512_EXTEND(1, Base)
            SHA512_R4(WK[4]);
            SHA512_R5(WK[5]);
            SHA512_EXTEND(2, Base)
            SHA512_R6(WK[6]);
            SHA512_R7(WK[7]);
            SHA512_EXTEND(3, Base)
            SHA512_R0(WK[8]);
            SHA512_R1(WK[9]);
            SHA512_EXTEND(4, Base)
            SHA512_R2(WK[10]);
            SHA512_R3(WK[11]);
            SHA512_EXTEND(5, Base)
            SHA512_R4(WK[12]);
            SHA512_R5(WK[13]);
            SHA512_EXTEND(6, Base)
            SHA512_R6(WK[14]);
            SHA512_R7(WK[15]);
            SHA512_EXTEND(7, Base)
        }
        SHA512_R0(WK[0]);
        SHA512_R1(WK[1]);
        SHA512_R2(WK[2]);
        SHA512_R3(WK[3]);
        SHA512_R4(WK[4]);
        SHA512_R5(WK[5]);
        SHA512_R6(WK[6]);
        SHA512_R7(WK[7]);
        SHA512_R0(WK[8]);
        SHA512_R1(WK[9]);
        SHA512_R2(WK[10]);
        SHA512_R3(WK[11]);
        SHA512_R4(WK[12]);
        SHA512_R5(WK[13]);
        SHA512_R6(WK[14]);
        SHA512_R7(WK[15]);
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

#undef SHA512_EXTEND
#undef SHA512_R0
#undef SHA512_R1
#undef SHA512_R2
#undef SHA512_R3
#undef SHA512_R4
#undef SHA512_R5
#undef SHA512_R6
#undef SHA512_R7

} // namespace

namespace digest {

void Sha512CompressPortable(uint64 *State, const uint8 *Blocks, size_t Count) { CompressPortable(State, Blocks, Count); }

void Sha512CompressVector(uint64 *State, const uint8 *Blocks, size_t Count) { CompressVector(State, Blocks, Count); }

bool ProcessorHasSha512Vector() {
    static const bool Has =
        __builtin_cpu_supports("avx") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return Has;
}

void Sha512Compress(uint64 *State, const uint8 *Blocks, size_t Count) {
    static const auto Chosen = ProcessorHasSha512Vector() ? CompressVector : CompressPortable;
    Chosen(State, Blocks, Count);
}

} // namespace digest

// A context without a digest size (a fresh one) becomes SHA-512.
int32 SHA512_Reset(SHA512 *Handle) {
    Class_CheckHandle(Handle, SHA512_CLASSID);
    if (Handle->DigestSize == 0) Handle->DigestSize = 64;
    const int32 Size = Handle->DigestSize;
    digest::WipeFields(Handle);
    Handle->DigestSize = Size;
    memcpy(Handle->State, Size == 48 ? Initial384 : Initial512, sizeof(Initial512));
    return TRUE;
}

DIGEST_DEFINE_COMMON(SHA512, SHA512, SHA512_CLASSID, "SHA512")
DIGEST_DEFINE_GETDIGEST_WHOLE(SHA512, SHA512, SHA512_CLASSID)

int32 SHA512_SetDigestSize(SHA512 *Handle, int32 Size) {
    Class_CheckHandle(Handle, SHA512_CLASSID);
    if (Size < 0 || Size > 64) return FALSE;
    Handle->DigestSize = Size;
    memset(Handle->Digest, 0, sizeof(Handle->Digest));
    return TRUE;
}

int32 SHA512_Process(SHA512 *Handle, const void *Data, uint32 Length) {
    Class_CheckHandle(Handle, SHA512_CLASSID);
    Debug_CheckPointer(Data);
    digest::Absorb<128>(Handle->Block, Handle->ByteCount[0] % 128, static_cast<const uint8 *>(Data), Length,
                        [Handle](const uint8 *Blocks, size_t Count) { digest::Sha512Compress(Handle->State, Blocks, Count); });
    const uint64 Low = Handle->ByteCount[0] + Length;
    if (Low < Handle->ByteCount[0]) Handle->ByteCount[1]++;
    Handle->ByteCount[0] = Low;
    return TRUE;
}

int32 SHA512_Generate(SHA512 *Handle) {
    Class_CheckHandle(Handle, SHA512_CLASSID);
    const uint64 High = (Handle->ByteCount[1] << 3) | (Handle->ByteCount[0] >> 61);
    const uint64 Low = Handle->ByteCount[0] << 3;
    digest::Pad<128, 16>(
        Handle->Block, Handle->ByteCount[0] % 128,
        [High, Low](uint8 *At) {
            digest::Store64Be(At, High);
            digest::Store64Be(At + 8, Low);
        },
        [Handle](const uint8 *Blocks, size_t Count) { digest::Sha512Compress(Handle->State, Blocks, Count); });
    uint8 Words[64];
    for (int Index = 0; Index < 8; Index++) digest::Store64Be(Words + 8 * Index, Handle->State[Index]);
    memcpy(Handle->Digest, Words, (size_t)Handle->DigestSize);
    Handle->DigestReady = TRUE;
    return TRUE;
}

// The SHA-384 entry points: the SHA-512 work, then its size and initial values.
int32 SHA384_SizeOf(void) { return SHA512_SizeOf(); }
int32 SHA384_Reset(SHA512 *Handle) {
    Class_CheckHandle(Handle, SHA512_CLASSID);
    Handle->DigestSize = 48;
    return SHA512_Reset(Handle);
}
int32 SHA384_Stack(void *Memory) {
    SHA512_Stack(Memory);
    return SHA384_Reset(static_cast<SHA512 *>(Memory));
}
int32 SHA384_Unstack(void *Memory) { return SHA512_Unstack(Memory); }
int32 SHA384_Create(SHA512 **Handle) {
    SHA512_Create(Handle);
    return SHA384_Reset(*Handle);
}
int32 SHA384_Delete(SHA512 **Handle) { return SHA512_Delete(Handle); }
int32 SHA384_CopyTo(SHA512 *Source, SHA512 *Target) { return SHA512_CopyTo(Source, Target); }

DIGEST_DEFINE_INTERFACE(SHA384_INTERFACE, "SHA384", 128, 48, SHA384, SHA512, SHA512)
DIGEST_DEFINE_INTERFACE(SHA512_INTERFACE, "SHA512", 128, 64, SHA512, SHA512, SHA512)
