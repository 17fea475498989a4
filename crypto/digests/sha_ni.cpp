// SHA-1 and SHA-256 block functions on the processor's SHA extensions, and
// the choice between them and the portable ones, made once when the library
// starts (the records are constant, so the choice cannot change later).
//
// The extensions keep SHA-256's state as the pairs ABEF and CDGH and SHA-1's
// as ABCD plus E in the top lane; the shuffles at entry and exit convert.
// Compiled with target attributes, so the build needs no global -msha.
#include <cpuid.h>
#include <immintrin.h>

#include "crypto/digests/digest_internal.h"

namespace digest {

bool ProcessorHasSha() {
    static const bool Has = [] {
        unsigned Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
        if (!__get_cpuid(1, &Eax, &Ebx, &Ecx, &Edx)) return false;
        const bool Ssse3 = (Ecx & bit_SSSE3) != 0, Sse41 = (Ecx & bit_SSE4_1) != 0;
        if (!__get_cpuid_count(7, 0, &Eax, &Ebx, &Ecx, &Edx)) return false;
        return Ssse3 && Sse41 && (Ebx & bit_SHA) != 0;
    }();
    return Has;
}

#define SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// One group of four SHA-256 rounds (I = 0 ... 15) over the schedule ring
// M0..M3; the message expansion for later groups is woven in.
#define SHA256_GROUP(I, Cur, Prev, Next, Far)                                                  \
    Msg = _mm_add_epi32(Cur, _mm_load_si128(reinterpret_cast<const __m128i *>(Sha256K + 4 * (I)))); \
    State1 = _mm_sha256rnds2_epu32(State1, State0, Msg);                                      \
    if ((I) >= 3 && (I) <= 14) {                                                              \
        Next = _mm_add_epi32(Next, _mm_alignr_epi8(Cur, Prev, 4));                            \
        Next = _mm_sha256msg2_epu32(Next, Cur);                                               \
    }                                                                                         \
    Msg = _mm_shuffle_epi32(Msg, 0x0E);                                                       \
    State0 = _mm_sha256rnds2_epu32(State0, State1, Msg);                                      \
    if ((I) >= 1 && (I) <= 12) Prev = _mm_sha256msg1_epu32(Prev, Cur);

SHA_TARGET void Sha256CompressNi(uint32 *State, const uint8 *Blocks, size_t Count) {
    const __m128i Mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i Temp = _mm_loadu_si128(reinterpret_cast<const __m128i *>(State));
    __m128i State1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(State + 4));
    Temp = _mm_shuffle_epi32(Temp, 0xB1);          // CDAB
    State1 = _mm_shuffle_epi32(State1, 0x1B);      // EFGH
    __m128i State0 = _mm_alignr_epi8(Temp, State1, 8); // ABEF
    State1 = _mm_blend_epi16(State1, Temp, 0xF0);  // CDGH
    for (; Count != 0; Count--, Blocks += 64) {
        const __m128i SavedAbef = State0, SavedCdgh = State1;
        __m128i Msg;
        __m128i M0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks)), Mask);
        __m128i M1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 16)), Mask);
        __m128i M2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 32)), Mask);
        __m128i M3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 48)), Mask);
        SHA256_GROUP(0, M0, M3, M1, M2)
        SHA256_GROUP(1, M1, M0, M2, M3)
        SHA256_GROUP(2, M2, M1, M3, M0)
        SHA256_GROUP(3, M3, M2, M0, M1)
        SHA256_GROUP(4, M0, M3, M1, M2)
        SHA256_GROUP(5, M1, M0, M2, M3)
        SHA256_GROUP(6, M2, M1, M3, M0)
        SHA256_GROUP(7, M3, M2, M0, M1)
        SHA256_GROUP(8, M0, M3, M1, M2)
        SHA256_GROUP(9, M1, M0, M2, M3)
        SHA256_GROUP(10, M2, M1, M3, M0)
        SHA256_GROUP(11, M3, M2, M0, M1)
        SHA256_GROUP(12, M0, M3, M1, M2)
        SHA256_GROUP(13, M1, M0, M2, M3)
        SHA256_GROUP(14, M2, M1, M3, M0)
        SHA256_GROUP(15, M3, M2, M0, M1)
        State0 = _mm_add_epi32(State0, SavedAbef);
        State1 = _mm_add_epi32(State1, SavedCdgh);
    }
    Temp = _mm_shuffle_epi32(State0, 0x1B);        // FEBA
    State1 = _mm_shuffle_epi32(State1, 0xB1);      // DCHG
    State0 = _mm_blend_epi16(Temp, State1, 0xF0);  // DCBA
    State1 = _mm_alignr_epi8(State1, Temp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i *>(State), State0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(State + 4), State1);
}

// One group of four SHA-1 rounds (I = 0 ... 19); E alternates between the
// two E registers, the schedule ring is M0..M3.
#define SHA1_GROUP(I, ECur, ENext, Cur, Prev, Next, Far)                                     \
    if ((I) == 0) ECur = _mm_add_epi32(ECur, Cur);                                            \
    else ECur = _mm_sha1nexte_epu32(ECur, Cur);                                               \
    ENext = Abcd;                                                                             \
    if ((I) >= 3 && (I) <= 18) Next = _mm_sha1msg2_epu32(Next, Cur);                          \
    Abcd = _mm_sha1rnds4_epu32(Abcd, ECur, (I) / 5);                                          \
    if ((I) >= 1 && (I) <= 16) Prev = _mm_sha1msg1_epu32(Prev, Cur);                          \
    if ((I) >= 2 && (I) <= 17) Far = _mm_xor_si128(Far, Cur);

SHA_TARGET void Sha1CompressNi(uint32 *State, const uint8 *Blocks, size_t Count) {
    const __m128i Mask = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
    __m128i Abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(State)), 0x1B);
    __m128i E0 = _mm_set_epi32((int)State[4], 0, 0, 0);
    __m128i E1 = _mm_setzero_si128();
    for (; Count != 0; Count--, Blocks += 64) {
        const __m128i SavedAbcd = Abcd, SavedE = E0;
        __m128i M0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks)), Mask);
        __m128i M1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 16)), Mask);
        __m128i M2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 32)), Mask);
        __m128i M3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Blocks + 48)), Mask);
        SHA1_GROUP(0, E0, E1, M0, M3, M1, M2)
        SHA1_GROUP(1, E1, E0, M1, M0, M2, M3)
        SHA1_GROUP(2, E0, E1, M2, M1, M3, M0)
        SHA1_GROUP(3, E1, E0, M3, M2, M0, M1)
        SHA1_GROUP(4, E0, E1, M0, M3, M1, M2)
        SHA1_GROUP(5, E1, E0, M1, M0, M2, M3)
        SHA1_GROUP(6, E0, E1, M2, M1, M3, M0)
        SHA1_GROUP(7, E1, E0, M3, M2, M0, M1)
        SHA1_GROUP(8, E0, E1, M0, M3, M1, M2)
        SHA1_GROUP(9, E1, E0, M1, M0, M2, M3)
        SHA1_GROUP(10, E0, E1, M2, M1, M3, M0)
        SHA1_GROUP(11, E1, E0, M3, M2, M0, M1)
        SHA1_GROUP(12, E0, E1, M0, M3, M1, M2)
        SHA1_GROUP(13, E1, E0, M1, M0, M2, M3)
        SHA1_GROUP(14, E0, E1, M2, M1, M3, M0)
        SHA1_GROUP(15, E1, E0, M3, M2, M0, M1)
        SHA1_GROUP(16, E0, E1, M0, M3, M1, M2)
        SHA1_GROUP(17, E1, E0, M1, M0, M2, M3)
        SHA1_GROUP(18, E0, E1, M2, M1, M3, M0)
        SHA1_GROUP(19, E1, E0, M3, M2, M0, M1)
        E0 = _mm_sha1nexte_epu32(E0, SavedE);
        Abcd = _mm_add_epi32(Abcd, SavedAbcd);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(State), _mm_shuffle_epi32(Abcd, 0x1B));
    State[4] = (uint32)_mm_extract_epi32(E0, 3);
}

const Compress32Func Sha1Compress = ProcessorHasSha() ? Sha1CompressNi : Sha1CompressPortable;
const Compress32Func Sha256Compress = ProcessorHasSha() ? Sha256CompressNi : Sha256CompressPortable;

} // namespace digest
