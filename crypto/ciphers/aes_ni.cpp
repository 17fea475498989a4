// The processor path of AES and GHASH: AES-NI rounds and PCLMULQDQ field
// products, compiled for those instructions through target attributes so the
// rest of the build needs no -maes. Callers check AES_ProcessorHasFastPath
// first. Independent blocks (ECB, CBC decryption, counter mode) run eight at
// a time to keep the AES units busy; GHASH folds eight blocks into one
// reduction with the powers H^8 ... H^1.
//
// GHASH values are kept byte-reversed in registers, so that the field's
// bit-reflected order becomes a plain 128-bit carry-less product followed by
// a one-bit shift and the reduction modulo x^128 + x^7 + x^2 + x + 1.
#include <immintrin.h>
#include <string.h>

#include "crypto/ciphers/aes_internal.h"

#define FAST __attribute__((target("aes,pclmul,sse4.1,ssse3")))

namespace {

constexpr size_t Lanes = 8;

FAST inline __m128i Load(const uint8 *P) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(P)); }
FAST inline void Store(uint8 *P, __m128i V) { _mm_storeu_si128(reinterpret_cast<__m128i *>(P), V); }
FAST inline __m128i ByteSwap(__m128i V) {
    return _mm_shuffle_epi8(V, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}

// Round keys in registers; the round count is a template argument so that
// every loop below unrolls and the lanes stay in registers.
template <int32 Rounds> struct RoundKeys {
    __m128i K[Rounds + 1];
};

template <int32 Rounds> FAST inline void LoadKeys(RoundKeys<Rounds> &R, const uint8 *Keys) {
#pragma GCC unroll 15
    for (int32 I = 0; I <= Rounds; I++) R.K[I] = Load(Keys + 16 * I);
}

template <int32 Rounds> FAST inline __m128i EncryptOne(const RoundKeys<Rounds> &R, __m128i B) {
    B = _mm_xor_si128(B, R.K[0]);
#pragma GCC unroll 15
    for (int32 I = 1; I < Rounds; I++) B = _mm_aesenc_si128(B, R.K[I]);
    return _mm_aesenclast_si128(B, R.K[Rounds]);
}

template <int32 Rounds> FAST inline __m128i DecryptOne(const RoundKeys<Rounds> &R, __m128i B) {
    B = _mm_xor_si128(B, R.K[0]);
#pragma GCC unroll 15
    for (int32 I = 1; I < Rounds; I++) B = _mm_aesdec_si128(B, R.K[I]);
    return _mm_aesdeclast_si128(B, R.K[Rounds]);
}

template <int32 Rounds> FAST inline void EncryptLanes(const RoundKeys<Rounds> &R, __m128i *B) {
#pragma GCC unroll 8
    for (size_t L = 0; L < Lanes; L++) B[L] = _mm_xor_si128(B[L], R.K[0]);
#pragma GCC unroll 15
    for (int32 I = 1; I < Rounds; I++) {
        const __m128i Key = R.K[I];
#pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = _mm_aesenc_si128(B[L], Key);
    }
#pragma GCC unroll 8
    for (size_t L = 0; L < Lanes; L++) B[L] = _mm_aesenclast_si128(B[L], R.K[Rounds]);
}

template <int32 Rounds> FAST inline void DecryptLanes(const RoundKeys<Rounds> &R, __m128i *B) {
#pragma GCC unroll 8
    for (size_t L = 0; L < Lanes; L++) B[L] = _mm_xor_si128(B[L], R.K[0]);
#pragma GCC unroll 15
    for (int32 I = 1; I < Rounds; I++) {
        const __m128i Key = R.K[I];
#pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = _mm_aesdec_si128(B[L], Key);
    }
#pragma GCC unroll 8
    for (size_t L = 0; L < Lanes; L++) B[L] = _mm_aesdeclast_si128(B[L], R.K[Rounds]);
}

// The 256-bit carry-less product of two byte-reversed field values, as Low
// and High halves, added into the running sums (products of several pairs
// share one reduction).
FAST inline void MultiplyAdd(__m128i A, __m128i B, __m128i &Low, __m128i &Middle, __m128i &High) {
    Low = _mm_xor_si128(Low, _mm_clmulepi64_si128(A, B, 0x00));
    High = _mm_xor_si128(High, _mm_clmulepi64_si128(A, B, 0x11));
    Middle = _mm_xor_si128(Middle, _mm_xor_si128(_mm_clmulepi64_si128(A, B, 0x10), _mm_clmulepi64_si128(A, B, 0x01)));
}

FAST inline __m128i Reduce(__m128i Low, __m128i Middle, __m128i High) {
    Low = _mm_xor_si128(Low, _mm_slli_si128(Middle, 8));
    High = _mm_xor_si128(High, _mm_srli_si128(Middle, 8));
    // Shift the 256-bit product left by one bit (the reflected order).
    __m128i CarryLow = _mm_srli_epi32(Low, 31);
    __m128i CarryHigh = _mm_srli_epi32(High, 31);
    Low = _mm_slli_epi32(Low, 1);
    High = _mm_slli_epi32(High, 1);
    const __m128i Across = _mm_srli_si128(CarryLow, 12);
    CarryHigh = _mm_slli_si128(CarryHigh, 4);
    CarryLow = _mm_slli_si128(CarryLow, 4);
    Low = _mm_or_si128(Low, CarryLow);
    High = _mm_or_si128(_mm_or_si128(High, CarryHigh), Across);
    // Reduction modulo the field polynomial.
    __m128i A = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(Low, 31), _mm_slli_epi32(Low, 30)), _mm_slli_epi32(Low, 25));
    const __m128i Spill = _mm_srli_si128(A, 4);
    A = _mm_slli_si128(A, 12);
    Low = _mm_xor_si128(Low, A);
    __m128i B = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(Low, 1), _mm_srli_epi32(Low, 2)), _mm_srli_epi32(Low, 7));
    B = _mm_xor_si128(B, Spill);
    Low = _mm_xor_si128(Low, B);
    return _mm_xor_si128(High, Low);
}

FAST inline __m128i Multiply(__m128i A, __m128i B) {
    __m128i Low = _mm_setzero_si128(), Middle = _mm_setzero_si128(), High = _mm_setzero_si128();
    MultiplyAdd(A, B, Low, Middle, High);
    return Reduce(Low, Middle, High);
}

// X = (X + C[0])·H^n + C[1]·H^(n-1) + ... + C[n-1]·H for n = Lanes, one
// reduction for all.
FAST inline __m128i HashLanes(const uint8 (*Powers)[16], __m128i X, const __m128i *C) {
    __m128i Low = _mm_setzero_si128(), Middle = _mm_setzero_si128(), High = _mm_setzero_si128();
    #pragma GCC unroll 8
    for (size_t L = 0; L < Lanes; L++) {
        const __m128i Block = L == 0 ? _mm_xor_si128(X, ByteSwap(C[0])) : ByteSwap(C[L]);
        MultiplyAdd(Block, Load(Powers[Lanes - 1 - L]), Low, Middle, High);
    }
    return Reduce(Low, Middle, High);
}

// The counter block with Count in its low 32 bits (big-endian); only those
// bits count, wrapping without a carry into byte 11.
FAST inline __m128i CounterBlock(__m128i Base, uint32 Count) {
    return _mm_insert_epi32(Base, (int)__builtin_bswap32(Count), 3);
}

template <int32 Rounds> FAST void EncryptBlocksImpl(const uint8 *Keys, const uint8 *In, uint8 *Out, size_t Blocks) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i B[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = Load(In + 16 * (I + L));
        EncryptLanes(R, B);
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) Store(Out + 16 * (I + L), B[L]);
    }
    for (; I < Blocks; I++) Store(Out + 16 * I, EncryptOne(R, Load(In + 16 * I)));
}

template <int32 Rounds> FAST void DecryptBlocksImpl(const uint8 *Keys, const uint8 *In, uint8 *Out, size_t Blocks) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i B[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = Load(In + 16 * (I + L));
        DecryptLanes(R, B);
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) Store(Out + 16 * (I + L), B[L]);
    }
    for (; I < Blocks; I++) Store(Out + 16 * I, DecryptOne(R, Load(In + 16 * I)));
}

template <int32 Rounds> FAST void EncryptCBCImpl(const uint8 *Keys, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    __m128i Chain = Load(IV);
    for (size_t I = 0; I < Blocks; I++) {
        Chain = EncryptOne(R, _mm_xor_si128(Load(In + 16 * I), Chain));
        Store(Out + 16 * I, Chain);
    }
    Store(IV, Chain);
}

template <int32 Rounds> FAST void DecryptCBCImpl(const uint8 *Keys, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    __m128i Chain = Load(IV);
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i C[Lanes], B[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = C[L] = Load(In + 16 * (I + L));
        DecryptLanes(R, B);
        Store(Out + 16 * I, _mm_xor_si128(B[0], Chain));
        #pragma GCC unroll 8
        for (size_t L = 1; L < Lanes; L++) Store(Out + 16 * (I + L), _mm_xor_si128(B[L], C[L - 1]));
        Chain = C[Lanes - 1];
    }
    for (; I < Blocks; I++) {
        const __m128i C = Load(In + 16 * I);
        Store(Out + 16 * I, _mm_xor_si128(DecryptOne(R, C), Chain));
        Chain = C;
    }
    Store(IV, Chain);
}

template <int32 Rounds> FAST void GcmBlocksImpl(const uint8 *Keys, const uint8 (*Powers)[16], uint8 *Counter,
                          uint8 *Accumulator, const uint8 *In, uint8 *Out, size_t Blocks, bool Encrypting) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    const __m128i Base = Load(Counter);
    uint32 Count = (uint32)Counter[12] << 24 | (uint32)Counter[13] << 16 | (uint32)Counter[14] << 8 | Counter[15];
    __m128i X = ByteSwap(Load(Accumulator));
    const __m128i H = Load(Powers[0]);
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i B[Lanes], C[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = CounterBlock(Base, ++Count);
        EncryptLanes(R, B);
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) {
            const __m128i Input = Load(In + 16 * (I + L));
            const __m128i Output = _mm_xor_si128(Input, B[L]);
            Store(Out + 16 * (I + L), Output);
            C[L] = Encrypting ? Output : Input;
        }
        X = HashLanes(Powers, X, C);
    }
    for (; I < Blocks; I++) {
        const __m128i Input = Load(In + 16 * I);
        const __m128i Output = _mm_xor_si128(Input, EncryptOne(R, CounterBlock(Base, ++Count)));
        Store(Out + 16 * I, Output);
        X = Multiply(_mm_xor_si128(X, ByteSwap(Encrypting ? Output : Input)), H);
    }
    Store(Accumulator, ByteSwap(X));
    Counter[12] = (uint8)(Count >> 24);
    Counter[13] = (uint8)(Count >> 16);
    Counter[14] = (uint8)(Count >> 8);
    Counter[15] = (uint8)Count;
}

// Counter mode with the whole block a little-endian 128-bit counter, which
// is incremented before each block.
template <int32 Rounds> FAST void CounterLittleEndianImpl(const uint8 *Keys, uint8 *Counter, const uint8 *In,
                                                         uint8 *Out, size_t Blocks) {
    RoundKeys<Rounds> R;
    LoadKeys(R, Keys);
    uint64 Low, High;
    memcpy(&Low, Counter, 8);
    memcpy(&High, Counter + 8, 8);
    auto Next = [&]() FAST {
        High += ++Low == 0;
        return _mm_set_epi64x((long long)High, (long long)Low);
    };
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i B[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) B[L] = Next();
        EncryptLanes(R, B);
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) Store(Out + 16 * (I + L), _mm_xor_si128(B[L], Load(In + 16 * (I + L))));
    }
    for (; I < Blocks; I++) Store(Out + 16 * I, _mm_xor_si128(EncryptOne(R, Next()), Load(In + 16 * I)));
    memcpy(Counter, &Low, 8);
    memcpy(Counter + 8, &High, 8);
}

} // namespace

FAST void AesNi_EncryptBlocks(const uint8 *Keys, int32 Rounds, const uint8 *In, uint8 *Out, size_t Blocks) {
    switch (Rounds) {
    case 14:
        return EncryptBlocksImpl<14>(Keys, In, Out, Blocks);
    case 12:
        return EncryptBlocksImpl<12>(Keys, In, Out, Blocks);
    default:
        return EncryptBlocksImpl<10>(Keys, In, Out, Blocks);
    }
}

FAST void AesNi_DecryptBlocks(const uint8 *Keys, int32 Rounds, const uint8 *In, uint8 *Out, size_t Blocks) {
    switch (Rounds) {
    case 14:
        return DecryptBlocksImpl<14>(Keys, In, Out, Blocks);
    case 12:
        return DecryptBlocksImpl<12>(Keys, In, Out, Blocks);
    default:
        return DecryptBlocksImpl<10>(Keys, In, Out, Blocks);
    }
}

FAST void AesNi_EncryptCBC(const uint8 *Keys, int32 Rounds, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks) {
    switch (Rounds) {
    case 14:
        return EncryptCBCImpl<14>(Keys, IV, In, Out, Blocks);
    case 12:
        return EncryptCBCImpl<12>(Keys, IV, In, Out, Blocks);
    default:
        return EncryptCBCImpl<10>(Keys, IV, In, Out, Blocks);
    }
}

FAST void AesNi_DecryptCBC(const uint8 *Keys, int32 Rounds, uint8 *IV, const uint8 *In, uint8 *Out, size_t Blocks) {
    switch (Rounds) {
    case 14:
        return DecryptCBCImpl<14>(Keys, IV, In, Out, Blocks);
    case 12:
        return DecryptCBCImpl<12>(Keys, IV, In, Out, Blocks);
    default:
        return DecryptCBCImpl<10>(Keys, IV, In, Out, Blocks);
    }
}

FAST void Clmul_InitPowers(const uint8 *H, uint8 (*Powers)[16]) {
    const __m128i First = ByteSwap(Load(H));
    __m128i Power = First;
    Store(Powers[0], Power);
    for (size_t I = 1; I < Lanes; I++) {
        Power = Multiply(Power, First);
        Store(Powers[I], Power);
    }
}

FAST void Clmul_Hash(const uint8 (*Powers)[16], uint8 *Accumulator, const uint8 *Data, size_t Blocks) {
    __m128i X = ByteSwap(Load(Accumulator));
    size_t I = 0;
    for (; I + Lanes <= Blocks; I += Lanes) {
        __m128i C[Lanes];
        #pragma GCC unroll 8
        for (size_t L = 0; L < Lanes; L++) C[L] = Load(Data + 16 * (I + L));
        X = HashLanes(Powers, X, C);
    }
    const __m128i H = Load(Powers[0]);
    for (; I < Blocks; I++) X = Multiply(_mm_xor_si128(X, ByteSwap(Load(Data + 16 * I))), H);
    Store(Accumulator, ByteSwap(X));
}

FAST void AesNi_GcmBlocks(const uint8 *Keys, int32 Rounds, const uint8 (*Powers)[16], uint8 *Counter,
                          uint8 *Accumulator, const uint8 *In, uint8 *Out, size_t Blocks, bool Encrypting) {
    switch (Rounds) {
    case 14:
        return GcmBlocksImpl<14>(Keys, Powers, Counter, Accumulator, In, Out, Blocks, Encrypting);
    case 12:
        return GcmBlocksImpl<12>(Keys, Powers, Counter, Accumulator, In, Out, Blocks, Encrypting);
    default:
        return GcmBlocksImpl<10>(Keys, Powers, Counter, Accumulator, In, Out, Blocks, Encrypting);
    }
}

FAST void AesNi_CounterLittleEndian(const uint8 *Keys, int32 Rounds, uint8 *Counter, const uint8 *In, uint8 *Out,
                                    size_t Blocks) {
    switch (Rounds) {
    case 14:
        return CounterLittleEndianImpl<14>(Keys, Counter, In, Out, Blocks);
    case 12:
        return CounterLittleEndianImpl<12>(Keys, Counter, In, Out, Blocks);
    default:
        return CounterLittleEndianImpl<10>(Keys, Counter, In, Out, Blocks);
    }
}
