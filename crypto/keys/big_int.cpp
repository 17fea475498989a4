// Big integers and Montgomery powers. See big_int.h.
//
// Magnitudes are arrays of 32-bit words. Products and Montgomery arithmetic
// run on 64-bit limbs with 128-bit intermediates: the words are gathered into
// limb arrays, worked on, and written back, which costs a linear pass against
// the quadratic work it speeds up. Division is Knuth's algorithm D on words.
#include "crypto/keys/big_int.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "runtime/memory.h"

struct Montgomery {
    ClassStruct Class;
    BigInt N;
    int32 Limbs;
    int32 Bits;    // bit length of N
    uint64 N0;     // -N^-1 mod 2^64
    uint64 *Mod;   // N in limbs
    uint64 *RR;    // R^2 mod N, R = 2^(64 * Limbs)
    uint64 *One;   // R mod N: one in Montgomery form
};

#define BigInt_Check(Handle) Class_CheckHandle((Handle), BIGINT_CLASSID)
#define Montgomery_Check(Handle) Class_CheckHandle((Handle), MONTGOMERY_CLASSID)

namespace {

using uint128 = unsigned __int128;
using Limbs = std::vector<uint64>;

constexpr int32 GrowthStep = 64;
constexpr int32 RandomDraws = 16;

int32 DeleteThroughClass(void *HandleAddress) { return BigInt_Delete(static_cast<BigInt **>(HandleAddress)); }
int32 DeleteMontgomeryThroughClass(void *HandleAddress) {
    return BigInt_MontgomeryDestroy(static_cast<Montgomery **>(HandleAddress));
}

void Normalise(BigInt *Handle) {
    while (Handle->Used > 0 && Handle->Words[Handle->Used - 1] == 0) Handle->Used--;
    if (Handle->Used == 0) Handle->Negative = 0;
}

uint32 WordAt(const BigInt *Handle, int32 Index) { return Index < Handle->Used ? Handle->Words[Index] : 0; }

// Sets the magnitude from words (least significant first), sign positive.
void AssignWords(BigInt *Handle, const uint32 *Words, int32 Count) {
    BigInt_ExpandInt(Handle, Count);
    if (Count > 0) memmove(Handle->Words, Words, (size_t)Count * 4);
    Handle->Used = Count;
    Handle->Negative = 0;
    Normalise(Handle);
}

Limbs ToLimbs(const BigInt *Handle, size_t Count) {
    Limbs Out(Count, 0);
    for (int32 At = 0; At < Handle->Used && (size_t)(At / 2) < Count; At++)
        Out[(size_t)At / 2] |= (uint64)Handle->Words[At] << (32 * (At & 1));
    return Out;
}

void AssignLimbs(BigInt *Handle, const uint64 *Limb, size_t Count) {
    BigInt_ExpandInt(Handle, (int32)(Count * 2));
    for (size_t At = 0; At < Count; At++) {
        Handle->Words[2 * At] = (uint32)Limb[At];
        Handle->Words[2 * At + 1] = (uint32)(Limb[At] >> 32);
    }
    Handle->Used = (int32)(Count * 2);
    Handle->Negative = 0;
    Normalise(Handle);
}

size_t LimbCount(const BigInt *Handle) { return ((size_t)Handle->Used + 1) / 2; }

int32 BigInt_UnsignedCompare(const BigInt *A, const BigInt *B) {
    if (A->Used != B->Used) return A->Used > B->Used ? 1 : -1;
    for (int32 At = A->Used - 1; At >= 0; At--)
        if (A->Words[At] != B->Words[At]) return A->Words[At] > B->Words[At] ? 1 : -1;
    return 0;
}

// Result = |A| + |B|; Result may be A or B.
void BigInt_UnsignedAdd(BigInt *Result, const BigInt *A, const BigInt *B) {
    const int32 Count = std::max(A->Used, B->Used);
    const int32 UsedA = A->Used, UsedB = B->Used;
    BigInt_ExpandInt(Result, Count + 1);
    uint64 Carry = 0;
    for (int32 At = 0; At < Count; At++) {
        Carry += (uint64)(At < UsedA ? A->Words[At] : 0) + (At < UsedB ? B->Words[At] : 0);
        Result->Words[At] = (uint32)Carry;
        Carry >>= 32;
    }
    Result->Words[Count] = (uint32)Carry;
    Result->Used = Count + 1;
    Normalise(Result);
}

// Result = |A| - |B| for |A| >= |B|; Result may be A or B.
void BigInt_UnsignedSubtract(BigInt *Result, const BigInt *A, const BigInt *B) {
    const int32 Count = A->Used;
    const int32 UsedB = B->Used;
    BigInt_ExpandInt(Result, Count);
    int64 Borrow = 0;
    for (int32 At = 0; At < Count; At++) {
        int64 Difference = (int64)A->Words[At] - (At < UsedB ? B->Words[At] : 0) + Borrow;
        Result->Words[At] = (uint32)Difference;
        Borrow = Difference >> 32;
    }
    Result->Used = Count;
    Normalise(Result);
}

void AddSigned(BigInt *Result, const BigInt *A, uint32 NegativeA, const BigInt *B, uint32 NegativeB) {
    if (NegativeA == NegativeB) {
        BigInt_UnsignedAdd(Result, A, B);
        Result->Negative = Result->Used > 0 ? NegativeA : 0;
    } else if (BigInt_UnsignedCompare(A, B) >= 0) {
        BigInt_UnsignedSubtract(Result, A, B);
        Result->Negative = Result->Used > 0 ? NegativeA : 0;
    } else {
        BigInt_UnsignedSubtract(Result, B, A);
        Result->Negative = Result->Used > 0 ? NegativeB : 0;
    }
}

// Out[0 .. NA + NB) = A * B, row by row with 128-bit products.
void MultiplyLimbs(uint64 *Out, const uint64 *A, size_t NA, const uint64 *B, size_t NB) {
    memset(Out, 0, (NA + NB) * 8);
    for (size_t I = 0; I < NA; I++) {
        uint64 Carry = 0;
        const uint64 Digit = A[I];
        for (size_t J = 0; J < NB; J++) {
            uint128 Product = (uint128)Digit * B[J] + Out[I + J] + Carry;
            Out[I + J] = (uint64)Product;
            Carry = (uint64)(Product >> 64);
        }
        Out[I + NB] = Carry;
    }
}

// Out[0 .. 2N) = A^2: each cross product once, doubled, then the diagonal.
void SquareLimbs(uint64 *Out, const uint64 *A, size_t N) {
    memset(Out, 0, 2 * N * 8);
    for (size_t I = 0; I < N; I++) {
        uint64 Carry = 0;
        for (size_t J = I + 1; J < N; J++) {
            uint128 Product = (uint128)A[I] * A[J] + Out[I + J] + Carry;
            Out[I + J] = (uint64)Product;
            Carry = (uint64)(Product >> 64);
        }
        Out[I + N] = Carry;
    }
    uint64 Top = 0;
    for (size_t At = 0; At < 2 * N; At++) {
        uint64 Next = Out[At] >> 63;
        Out[At] = (Out[At] << 1) | Top;
        Top = Next;
    }
    uint64 Carry = 0;
    for (size_t I = 0; I < N; I++) {
        uint128 Square = (uint128)A[I] * A[I];
        uint128 Low = (uint128)Out[2 * I] + (uint64)Square + Carry;
        Out[2 * I] = (uint64)Low;
        uint128 High = (uint128)Out[2 * I + 1] + (uint64)(Square >> 64) + (uint64)(Low >> 64);
        Out[2 * I + 1] = (uint64)High;
        Carry = (uint64)(High >> 64);
    }
}

// Remainder (and, when Quotient is given, quotient) of U by V, both
// magnitudes with V non-zero: Knuth's algorithm D on 32-bit words.
void DivideWords(const uint32 *U, int32 M, const uint32 *V, int32 N, std::vector<uint32> *Quotient,
                 std::vector<uint32> &Remainder) {
    if (M < N) {
        Remainder.assign(U, U + M);
        if (Quotient) Quotient->clear();
        return;
    }
    if (Quotient) Quotient->assign((size_t)(M - N + 1), 0);
    if (N == 1) {
        uint64 Rest = 0;
        for (int32 At = M - 1; At >= 0; At--) {
            uint64 Part = (Rest << 32) | U[At];
            if (Quotient) (*Quotient)[(size_t)At] = (uint32)(Part / V[0]);
            Rest = Part % V[0];
        }
        Remainder.assign(1, (uint32)Rest);
        return;
    }
    const int Shift = __builtin_clz(V[N - 1]);
    std::vector<uint32> Vn((size_t)N), Un((size_t)M + 1);
    for (int32 At = N - 1; At > 0; At--)
        Vn[(size_t)At] = (V[At] << Shift) | (Shift ? (uint32)((uint64)V[At - 1] >> (32 - Shift)) : 0);
    Vn[0] = V[0] << Shift;
    Un[(size_t)M] = Shift ? (uint32)((uint64)U[M - 1] >> (32 - Shift)) : 0;
    for (int32 At = M - 1; At > 0; At--)
        Un[(size_t)At] = (U[At] << Shift) | (Shift ? (uint32)((uint64)U[At - 1] >> (32 - Shift)) : 0);
    Un[0] = U[0] << Shift;
    const uint64 Base = (uint64)1 << 32;
    for (int32 J = M - N; J >= 0; J--) {
        const uint64 Numerator = ((uint64)Un[(size_t)(J + N)] << 32) | Un[(size_t)(J + N - 1)];
        uint64 Guess = Numerator / Vn[(size_t)N - 1];
        uint64 Rest = Numerator % Vn[(size_t)N - 1];
        while (Guess >= Base || Guess * Vn[(size_t)N - 2] > ((Rest << 32) | Un[(size_t)(J + N - 2)])) {
            Guess--;
            Rest += Vn[(size_t)N - 1];
            if (Rest >= Base) break;
        }
        int64 Borrow = 0;
        int64 Difference;
        for (int32 I = 0; I < N; I++) {
            const uint64 Product = Guess * Vn[(size_t)I];
            Difference = (int64)Un[(size_t)(I + J)] - Borrow - (int64)(Product & 0xffffffffu);
            Un[(size_t)(I + J)] = (uint32)Difference;
            Borrow = (int64)(Product >> 32) - (Difference >> 32);
        }
        Difference = (int64)Un[(size_t)(J + N)] - Borrow;
        Un[(size_t)(J + N)] = (uint32)Difference;
        if (Difference < 0) {
            Guess--;
            uint64 Carry = 0;
            for (int32 I = 0; I < N; I++) {
                uint64 Sum = (uint64)Un[(size_t)(I + J)] + Vn[(size_t)I] + Carry;
                Un[(size_t)(I + J)] = (uint32)Sum;
                Carry = Sum >> 32;
            }
            Un[(size_t)(J + N)] += (uint32)Carry;
        }
        if (Quotient) (*Quotient)[(size_t)J] = (uint32)Guess;
    }
    Remainder.assign((size_t)N, 0);
    for (int32 At = 0; At < N; At++)
        Remainder[(size_t)At] =
            (Un[(size_t)At] >> Shift) | (Shift ? (uint32)((uint64)Un[(size_t)At + 1] << (32 - Shift)) : 0);
    // Remainders of secret values (CRT halves, blinded inputs) leave no copy.
    explicit_bzero(Un.data(), Un.size() * 4);
}

void BigInt_ModuloInternal(BigInt *Result, const BigInt *A, const BigInt *M) {
    Debug_Assert(BigInt_IsZero(M) == FALSE, "Modulo must not be zero!");
    Debug_Assert(!A->Negative, "Argument must be zero or positive!");
    std::vector<uint32> Remainder;
    DivideWords(A->Words, A->Used, M->Words, M->Used, nullptr, Remainder);
    AssignWords(Result, Remainder.data(), (int32)Remainder.size());
    if (!Remainder.empty()) explicit_bzero(Remainder.data(), Remainder.size() * 4);
}

uint64 InverseModWord(uint64 Odd) {
    uint64 Inverse = Odd; // right in 3 bits; each step doubles them
    for (int Step = 0; Step < 6; Step++) Inverse *= 2 - Odd * Inverse;
    return Inverse;
}

// Adds X * Y into the three-word column accumulator (T0, T1, T2). On
// x86-64 the add-with-carry chain is written out: compilers split the
// 128-bit sums into compare-and-add sequences that run several times slower.
inline void MultiplyAccumulate(uint64 &T0, uint64 &T1, uint64 &T2, uint64 X, uint64 Y) {
#if defined(__x86_64__)
    uint64 High;
    __asm__("mulq %[y]\n\t"
            "addq %%rax, %[t0]\n\t"
            "adcq %%rdx, %[t1]\n\t"
            "adcq $0, %[t2]"
            : [t0] "+r"(T0), [t1] "+r"(T1), [t2] "+r"(T2), "+a"(X), "=d"(High)
            : [y] "rm"(Y)
            : "cc");
#else
    const uint128 Product = (uint128)X * Y;
    uint128 Sum = (uint128)T0 + (uint64)Product;
    T0 = (uint64)Sum;
    Sum = (uint128)T1 + (uint64)(Product >> 64) + (uint64)(Sum >> 64);
    T1 = (uint64)Sum;
    T2 += (uint64)(Sum >> 64);
#endif
}

// Out = T - N when T >= N, else T, for T < 2N held in N + 1 words; the
// choice is made by mask, so the time does not depend on the values.
void SubtractModulusIfAbove(const Montgomery *Context, uint64 *Out, const uint64 *T) {
    const size_t N = (size_t)Context->Limbs;
    uint64 Borrow = 0;
    for (size_t J = 0; J < N; J++) {
        uint128 Difference = (uint128)T[J] - Context->Mod[J] - Borrow;
        Out[J] = (uint64)Difference;
        Borrow = (uint64)(Difference >> 64) & 1;
    }
    // T < N exactly when the top word cannot cover the borrow.
    const uint64 Keep = 0 - ((T[N] - Borrow) >> 63);
    for (size_t J = 0; J < N; J++) Out[J] = (T[J] & Keep) | (Out[J] & ~Keep);
}

// Montgomery product Out = A * B / R mod N for A, B < N, column by column
// with the reduction folded into the same columns (product scanning): the
// 128-bit products of one column are independent, so they overlap instead
// of waiting on one carry chain. Scratch holds 2 Limbs + 2 words. The last
// subtraction is chosen by mask. Out may be A or B.
void BigInt_MontgomeryProduct(const Montgomery *Context, uint64 *Out, const uint64 *A, const uint64 *B, uint64 *Scratch) {
    const size_t N = (size_t)Context->Limbs;
    const uint64 *Mod = Context->Mod;
    uint64 *Factor = Scratch; // the reduction factor of each low column
    uint64 *T = Scratch + N;  // the high columns: the result before the subtraction
    // Products and reduction terms go to two accumulators, two carry chains
    // that run side by side; they meet once per column.
    uint64 T0 = 0, T1 = 0, T2 = 0;
    for (size_t I = 0; I < 2 * N; I++) {
        const size_t First = I < N ? 0 : I - N + 1;
        const size_t Last = I < N ? I : N;
        uint64 S0 = 0, S1 = 0, S2 = 0;
        for (size_t J = First; J < Last; J++) {
            MultiplyAccumulate(T0, T1, T2, A[J], B[I - J]);
            MultiplyAccumulate(S0, S1, S2, Factor[J], Mod[I - J]);
        }
        uint128 Sum = (uint128)T0 + S0;
        T0 = (uint64)Sum;
        Sum = (uint128)T1 + S1 + (uint64)(Sum >> 64);
        T1 = (uint64)Sum;
        T2 += S2 + (uint64)(Sum >> 64);
        if (I < N) {
            MultiplyAccumulate(T0, T1, T2, A[I], B[0]);
            Factor[I] = T0 * Context->N0;
            MultiplyAccumulate(T0, T1, T2, Factor[I], Mod[0]); // clears T0
        } else {
            T[I - N] = T0;
        }
        T0 = T1;
        T1 = T2;
        T2 = 0;
    }
    T[N] = T0;
    SubtractModulusIfAbove(Context, Out, T);
}

// Montgomery square Out = A * A / R mod N: as MontgomeryProduct, with each
// cross product of a column formed once and doubled.
void MontgomerySquare(const Montgomery *Context, uint64 *Out, const uint64 *A, uint64 *Scratch) {
    const size_t N = (size_t)Context->Limbs;
    const uint64 *Mod = Context->Mod;
    uint64 *Factor = Scratch;
    uint64 *T = Scratch + N;
    uint64 T0 = 0, T1 = 0, T2 = 0;
    for (size_t I = 0; I < 2 * N; I++) {
        const size_t First = I < N ? 0 : I - N + 1;
        uint64 U0 = 0, U1 = 0, U2 = 0;
        for (size_t J = First; J < I - J; J++) MultiplyAccumulate(U0, U1, U2, A[J], A[I - J]);
        uint128 Sum = (uint128)T0 + (U0 << 1);
        T0 = (uint64)Sum;
        Sum = (uint128)T1 + ((U1 << 1) | (U0 >> 63)) + (uint64)(Sum >> 64);
        T1 = (uint64)Sum;
        T2 += ((U2 << 1) | (U1 >> 63)) + (uint64)(Sum >> 64);
        if (!(I & 1) && I / 2 < N) MultiplyAccumulate(T0, T1, T2, A[I / 2], A[I / 2]);
        const size_t Last = I < N ? I : N;
        for (size_t J = First; J < Last; J++) MultiplyAccumulate(T0, T1, T2, Factor[J], Mod[I - J]);
        if (I < N) {
            Factor[I] = T0 * Context->N0;
            MultiplyAccumulate(T0, T1, T2, Factor[I], Mod[0]); // clears T0
        } else {
            T[I - N] = T0;
        }
        T0 = T1;
        T1 = T2;
        T2 = 0;
    }
    T[N] = T0;
    SubtractModulusIfAbove(Context, Out, T);
}

// A limb copy of Base mod N, N's size.
Limbs ReducedLimbs(Montgomery *Context, const BigInt *Base) {
    if (Base->Negative || BigInt_UnsignedCompare(Base, &Context->N) >= 0) {
        BigIntLocal Reduced;
        BigInt_ModuloInternal(Reduced, Base, &Context->N);
        return ToLimbs(Reduced, (size_t)Context->Limbs);
    }
    return ToLimbs(Base, (size_t)Context->Limbs);
}

int32 ExponentBit(const BigInt *Exponent, int32 Bit) {
    return (int32)((WordAt(Exponent, Bit / 32) >> (Bit % 32)) & 1);
}

// The window of Width bits whose lowest bit is Bit.
uint32 ExponentWindow(const BigInt *Exponent, int32 Bit, int32 Width) {
    uint32 Value = 0;
    for (int32 At = Width - 1; At >= 0; At--) Value = (Value << 1) | (uint32)ExponentBit(Exponent, Bit + At);
    return Value;
}

int32 WindowWidth(int32 Bits) { return Bits > 512 ? 5 : Bits > 64 ? 4 : 1; }

void WipeLimbs(Limbs &Value) {
    if (!Value.empty()) explicit_bzero(Value.data(), Value.size() * 8);
}

} // namespace

CLASS_DEFINE_REFERENCE(BigInt, BigInt, BIGINT_CLASSID)
CLASS_DEFINE_REFERENCE(Montgomery, Montgomery, MONTGOMERY_CLASSID)

int32 BigInt_Create(BigInt **Handle) {
    Debug_CheckPointer(Handle);
    BigInt *Object = Memory_New(BigInt);
    Class_InitHeader(Object, BIGINT_CLASSID, DeleteThroughClass);
    *Handle = Object;
    return TRUE;
}

int32 BigInt_Delete(BigInt **Handle) {
    Debug_CheckPointer(Handle);
    BigInt_Check(*Handle);
    BigInt_Unstack(*Handle);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 BigInt_SizeOf(void) { return (int32)sizeof(BigInt); }

int32 BigInt_Stack(void *Memory) {
    Debug_CheckPointer(Memory);
    memset(Memory, 0, sizeof(BigInt));
    static_cast<BigInt *>(Memory)->Class.ClassId = BIGINT_CLASSID;
    return TRUE;
}

int32 BigInt_Unstack(BigInt *Handle) {
    BigInt_Check(Handle);
    if (Handle->Words != nullptr) {
        explicit_bzero(Handle->Words, (size_t)Handle->Capacity * 4);
        Memory_Free(Handle->Words, (int32)(Handle->Capacity * 4));
    }
    Handle->Words = nullptr;
    Handle->Capacity = 0;
    Handle->Used = 0;
    Handle->Negative = 0;
    return TRUE;
}

int32 BigInt_ExpandInt(BigInt *Handle, int32 Count) {
    BigInt_Check(Handle);
    Debug_Assert(Count >= 0, "Word count must not be negative!");
    if ((uint32)Count <= Handle->Capacity) {
        if (Count > Handle->Used) memset(Handle->Words + Handle->Used, 0, (size_t)(Count - Handle->Used) * 4);
        return TRUE;
    }
    const uint32 Capacity = ((uint32)Count + GrowthStep - 1) / GrowthStep * GrowthStep;
    Debug_Assert(Capacity <= 0x1fffffc0u, "Number too large!");
    uint32 *Words = static_cast<uint32 *>(Memory_AllocZero((int32)(Capacity * 4)));
    if (Handle->Words != nullptr) {
        memcpy(Words, Handle->Words, (size_t)Handle->Used * 4);
        explicit_bzero(Handle->Words, (size_t)Handle->Capacity * 4);
        Memory_Free(Handle->Words, (int32)(Handle->Capacity * 4));
    }
    Handle->Words = Words;
    Handle->Capacity = Capacity;
    return TRUE;
}

int32 BigInt_Reset(BigInt *Handle) {
    BigInt_Check(Handle);
    Handle->Used = 0;
    Handle->Negative = 0;
    return TRUE;
}

int32 BigInt_SetWord(BigInt *Handle, uint32 Value) {
    BigInt_Check(Handle);
    AssignWords(Handle, &Value, 1);
    return TRUE;
}

int32 BigInt_Copy(BigInt *Destination, const BigInt *Source) {
    BigInt_Check(Destination);
    BigInt_Check(Source);
    if (Destination == Source) return TRUE;
    AssignWords(Destination, Source->Words, Source->Used);
    Destination->Negative = Source->Negative;
    return TRUE;
}

int32 BigInt_Equal(const BigInt *A, const BigInt *B) {
    BigInt_Check(A);
    BigInt_Check(B);
    return A->Negative == B->Negative && BigInt_UnsignedCompare(A, B) == 0;
}

int32 BigInt_Compare(const BigInt *A, const BigInt *B) {
    BigInt_Check(A);
    BigInt_Check(B);
    Debug_Assert(!A->Negative && !B->Negative, "Arguments for comparison must not be negative!");
    if (A->Used != B->Used) return A->Used - B->Used;
    return BigInt_UnsignedCompare(A, B);
}

int32 BigInt_IsZero(const BigInt *Handle) {
    BigInt_Check(Handle);
    return Handle->Used == 0;
}

int32 BigInt_GetSign(const BigInt *Handle) {
    BigInt_Check(Handle);
    return Handle->Used == 0 ? 0 : Handle->Negative ? -1 : 1;
}

int32 BigInt_Negate(BigInt *Handle) {
    BigInt_Check(Handle);
    if (Handle->Used > 0) Handle->Negative ^= 1;
    return TRUE;
}

int32 BigInt_IsBitSet(const BigInt *Handle, int32 Bit) {
    BigInt_Check(Handle);
    if (Bit < 0 || Bit / 32 >= Handle->Used) return FALSE;
    return ExponentBit(Handle, Bit);
}

int32 BigInt_BitCount(const BigInt *Handle) {
    BigInt_Check(Handle);
    if (Handle->Used == 0) return 0;
    return 32 * Handle->Used - __builtin_clz(Handle->Words[Handle->Used - 1]);
}

int32 BigInt_ByteCount(const BigInt *Handle) { return (BigInt_BitCount(Handle) + 7) / 8; }

int32 BigInt_Add(BigInt *Result, const BigInt *A, const BigInt *B) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(B);
    AddSigned(Result, A, A->Negative, B, B->Negative);
    return TRUE;
}

int32 BigInt_Subtract(BigInt *Result, const BigInt *A, const BigInt *B) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(B);
    AddSigned(Result, A, A->Negative, B, B->Used > 0 ? B->Negative ^ 1 : 0);
    return TRUE;
}

int32 BigInt_Multiply(BigInt *Result, const BigInt *A, const BigInt *B) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(B);
    const uint32 Negative = A->Negative ^ B->Negative;
    if (A->Used == 0 || B->Used == 0) return BigInt_Reset(Result);
    const size_t NA = LimbCount(A), NB = LimbCount(B);
    Limbs LA = ToLimbs(A, NA), Product(NA + NB);
    if (A == B) {
        SquareLimbs(Product.data(), LA.data(), NA);
    } else {
        Limbs LB = ToLimbs(B, NB);
        MultiplyLimbs(Product.data(), LA.data(), NA, LB.data(), NB);
        WipeLimbs(LB);
    }
    AssignLimbs(Result, Product.data(), Product.size());
    Result->Negative = Result->Used > 0 && A != B ? Negative : 0;
    WipeLimbs(LA);
    WipeLimbs(Product);
    return TRUE;
}

int32 BigInt_ShiftLeft(BigInt *Result, const BigInt *A, int32 Bits) {
    BigInt_Check(Result);
    BigInt_Check(A);
    Debug_Assert(Bits >= 0, "Shift must not be negative!");
    const int32 Used = A->Used;
    const uint32 Negative = A->Negative;
    if (Used == 0) return BigInt_Reset(Result);
    const int32 WordShift = Bits / 32, BitShift = Bits % 32;
    const int32 Count = Used + WordShift + 1;
    BigInt_ExpandInt(Result, Count);
    // Top down, so that Result may be A.
    const uint32 *Source = A->Words;
    for (int32 At = Count - 1; At >= WordShift; At--) {
        const int32 From = At - WordShift;
        uint32 High = From < Used ? Source[From] : 0;
        uint32 Low = From >= 1 && From - 1 < Used ? Source[From - 1] : 0;
        Result->Words[At] = BitShift ? (High << BitShift) | (Low >> (32 - BitShift)) : High;
    }
    for (int32 At = 0; At < WordShift; At++) Result->Words[At] = 0;
    Result->Used = Count;
    Result->Negative = Negative;
    Normalise(Result);
    return TRUE;
}

int32 BigInt_ShiftRight(BigInt *Result, const BigInt *A, int32 Bits) {
    BigInt_Check(Result);
    BigInt_Check(A);
    Debug_Assert(Bits >= 0, "Shift must not be negative!");
    const int32 Used = A->Used;
    const uint32 Negative = A->Negative;
    const int32 WordShift = Bits / 32, BitShift = Bits % 32;
    if (WordShift >= Used) return BigInt_Reset(Result);
    const int32 Count = Used - WordShift;
    BigInt_ExpandInt(Result, Count);
    // Bottom up, so that Result may be A.
    for (int32 At = 0; At < Count; At++) {
        uint32 Low = A->Words[At + WordShift];
        uint32 High = At + WordShift + 1 < Used ? A->Words[At + WordShift + 1] : 0;
        Result->Words[At] = BitShift ? (Low >> BitShift) | (High << (32 - BitShift)) : Low;
    }
    Result->Used = Count;
    Result->Negative = Negative;
    Normalise(Result);
    return TRUE;
}

int32 BigInt_Modulo(BigInt *Result, const BigInt *A, const BigInt *M) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(M);
    BigInt_ModuloInternal(Result, A, M);
    return TRUE;
}

int32 BigInt_ModuloMultiply(BigInt *Result, const BigInt *A, const BigInt *B, const BigInt *M) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(B);
    Debug_Assert(!A->Negative && !B->Negative, "Argument must be zero or positive!");
    BigIntLocal Product;
    BigInt_Multiply(Product, A, B);
    BigInt_ModuloInternal(Result, Product, M);
    return TRUE;
}

int32 BigInt_ModuloSquare(BigInt *Result, const BigInt *A, const BigInt *M) {
    return BigInt_ModuloMultiply(Result, A, A, M);
}

int32 BigInt_ModuloPower(BigInt *Result, const BigInt *Base, const BigInt *Exponent, const BigInt *M) {
    BigInt_Check(Result);
    BigInt_Check(Exponent);
    BigIntLocal Power, Square, Scratch;
    BigInt_ModuloInternal(Square, Base, M);
    BigInt_SetWord(Power, 1);
    const int32 Bits = BigInt_BitCount(Exponent);
    for (int32 Bit = 0; Bit < Bits; Bit++) {
        if (ExponentBit(Exponent, Bit)) {
            BigInt_ModuloMultiply(Scratch, Power, Square, M);
            BigInt_Copy(Power, Scratch);
        }
        if (Bit + 1 < Bits) {
            BigInt_ModuloSquare(Scratch, Square, M);
            BigInt_Copy(Square, Scratch);
        }
    }
    BigInt_ModuloInternal(Result, Power, M);
    return TRUE;
}

int32 BigInt_ModuloInverse(BigInt *Result, const BigInt *A, const BigInt *M) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(M);
    Debug_Assert(BigInt_IsZero(A) == FALSE, "Argument must not be zero!");
    Debug_Assert(!A->Negative, "Argument must be zero or positive!");
    if (M->Used == 0 || !(M->Words[0] & 1)) return FALSE;
    BigIntLocal U, V, X1, X2, Modulus;
    BigInt_Copy(U, A);
    BigInt_Copy(V, M);
    BigInt_Copy(Modulus, M);
    Modulus.get()->Negative = 0;
    BigInt_SetWord(X1, 1);
    BigInt_Reset(X2);
    // Halves a coefficient mod M (M odd): add M first when it is odd.
    auto Halve = [&](BigInt *X) {
        if (X->Used > 0 && (X->Words[0] & 1)) BigInt_UnsignedAdd(X, X, Modulus);
        BigInt_ShiftRight(X, X, 1);
    };
    // X = X - Y mod M, both in 0 ... M - 1.
    auto SubtractMod = [&](BigInt *X, BigInt *Y) {
        if (BigInt_UnsignedCompare(X, Y) < 0) BigInt_UnsignedAdd(X, X, Modulus);
        BigInt_UnsignedSubtract(X, X, Y);
    };
    while (BigInt_UnsignedCompare(U, V) != 0) {
        if (!(U.get()->Words[0] & 1)) {
            BigInt_ShiftRight(U, U, 1);
            Halve(X1);
        } else if (!(V.get()->Words[0] & 1)) {
            BigInt_ShiftRight(V, V, 1);
            Halve(X2);
        } else if (BigInt_UnsignedCompare(U, V) > 0) {
            BigInt_UnsignedSubtract(U, U, V);
            BigInt_ShiftRight(U, U, 1);
            SubtractMod(X1, X2);
            Halve(X1);
        } else {
            BigInt_UnsignedSubtract(V, V, U);
            BigInt_ShiftRight(V, V, 1);
            SubtractMod(X2, X1);
            Halve(X2);
        }
    }
    BigInt_ModuloInternal(Result, X1, Modulus);
    return TRUE;
}

int32 BigInt_ModuloRandom(BigInt *Result, const BigInt *M) {
    BigInt_Check(Result);
    BigInt_Check(M);
    Debug_Assert(BigInt_IsZero(M) == FALSE, "Modulo must not be zero!");
    BigIntLocal Modulus, Draw;
    BigInt_Copy(Modulus, M);
    Modulus.get()->Negative = 0;
    // Two words beyond the modulus keep the bias of the reduction below 2^-64.
    const int32 Count = M->Used + 2;
    for (int32 Attempt = 0; Attempt < RandomDraws; Attempt++) {
        BigInt_ExpandInt(Draw, Count);
        Memory_CryptFill(Draw.get()->Words, Count * 4);
        Draw.get()->Used = Count;
        Draw.get()->Negative = 0;
        Normalise(Draw);
        BigInt_ModuloInternal(Result, Draw, Modulus);
        if (Result->Used > 0) return TRUE;
    }
    return FALSE;
}

int32 BigInt_ImportBinary(BigInt *Handle, const void *Bytes, int32 Size) {
    BigInt_Check(Handle);
    Debug_Assert(Size >= 0, "Size must not be negative!");
    if (Size > 0) Debug_CheckPointer(Bytes);
    const uint8 *Source = static_cast<const uint8 *>(Bytes);
    const int32 Count = (Size + 3) / 4;
    BigInt_ExpandInt(Handle, Count);
    for (int32 At = 0; At < Count; At++) Handle->Words[At] = 0;
    for (int32 At = 0; At < Size; At++) {
        const int32 Position = Size - 1 - At; // byte index from the low end
        Handle->Words[Position / 4] |= (uint32)Source[At] << (8 * (Position % 4));
    }
    Handle->Used = Count;
    Handle->Negative = 0;
    Normalise(Handle);
    return TRUE;
}

int32 BigInt_ExportBinary(const BigInt *Handle, void *Buffer, int32 Size, int32 *Written) {
    BigInt_Check(Handle);
    const int32 Bytes = BigInt_ByteCount(Handle);
    if (Written != nullptr) *Written = 0;
    if (Bytes > Size) return FALSE;
    if (Bytes > 0) BigInt_ExportBinaryFixedSize(Handle, Buffer, Bytes);
    if (Written != nullptr) *Written = Bytes;
    return TRUE;
}

int32 BigInt_ExportBinaryFixedSize(const BigInt *Handle, void *Buffer, int32 Size) {
    BigInt_Check(Handle);
    const int32 Bytes = BigInt_ByteCount(Handle);
    if (Bytes > Size) return FALSE;
    Debug_CheckPointer(Buffer);
    uint8 *Out = static_cast<uint8 *>(Buffer);
    for (int32 At = 0; At < Size; At++) {
        const int32 Position = Size - 1 - At;
        Out[At] = Position < Bytes ? (uint8)(Handle->Words[Position / 4] >> (8 * (Position % 4))) : 0;
    }
    return TRUE;
}

int32 BigInt_ImportHex(BigInt *Handle, const char *Text) {
    BigInt_Check(Handle);
    Debug_CheckPointer(Text);
    if (*Text == 0) return FALSE;
    const uint32 Negative = *Text == '-';
    if (Negative) Text++;
    auto Digit = [](char Character) -> int32 {
        if (Character >= '0' && Character <= '9') return Character - '0';
        if (Character >= 'a' && Character <= 'f') return Character - 'a' + 10;
        if (Character >= 'A' && Character <= 'F') return Character - 'A' + 10;
        return -1;
    };
    size_t Length = 0;
    while (Digit(Text[Length]) >= 0) Length++;
    Debug_Assert(Length / 8 < 0x10000000u, "Number too large!");
    const int32 Count = (int32)((Length + 7) / 8);
    BigInt_ExpandInt(Handle, Count);
    for (int32 At = 0; At < Count; At++) Handle->Words[At] = 0;
    for (size_t At = 0; At < Length; At++) {
        const size_t Position = Length - 1 - At; // digit index from the low end
        Handle->Words[Position / 8] |= (uint32)Digit(Text[At]) << (4 * (Position % 8));
    }
    Handle->Used = Count;
    Handle->Negative = Negative;
    Normalise(Handle);
    return TRUE;
}

int32 BigInt_ExportHex(const BigInt *Handle, char *Buffer, int32 Size) {
    BigInt_Check(Handle);
    Debug_CheckPointer(Buffer);
    const int32 Bytes = BigInt_ByteCount(Handle);
    if (Size < 2 * Bytes + 1) return FALSE;
    static const char Digits[] = "0123456789ABCDEF";
    for (int32 At = 0; At < Bytes; At++) {
        const int32 Position = Bytes - 1 - At;
        const uint8 Byte = (uint8)(Handle->Words[Position / 4] >> (8 * (Position % 4)));
        Buffer[2 * At] = Digits[Byte >> 4];
        Buffer[2 * At + 1] = Digits[Byte & 15];
    }
    Buffer[2 * Bytes] = 0;
    return TRUE;
}

int32 BigInt_MontgomeryCreate(Montgomery **Handle, const BigInt *N) {
    Debug_CheckPointer(Handle);
    BigInt_Check(N);
    *Handle = nullptr;
    if (N->Used == 0 || N->Negative || !(N->Words[0] & 1)) return FALSE;
    Montgomery *Context = Memory_New(Montgomery);
    Class_InitHeader(Context, MONTGOMERY_CLASSID, DeleteMontgomeryThroughClass);
    BigInt_Stack(&Context->N);
    BigInt_Copy(&Context->N, N);
    const size_t Count = LimbCount(N);
    Context->Limbs = (int32)Count;
    Context->Bits = BigInt_BitCount(N);
    Context->Mod = static_cast<uint64 *>(Memory_AllocZero((int32)(Count * 8)));
    Context->RR = static_cast<uint64 *>(Memory_AllocZero((int32)(Count * 8)));
    Context->One = static_cast<uint64 *>(Memory_AllocZero((int32)(Count * 8)));
    Limbs Mod = ToLimbs(N, Count);
    memcpy(Context->Mod, Mod.data(), Count * 8);
    Context->N0 = 0 - InverseModWord(Mod[0]);
    BigIntLocal Power, Reduced;
    BigInt_SetWord(Power, 1);
    BigInt_ShiftLeft(Power, Power, (int32)(64 * Count));
    BigInt_ModuloInternal(Reduced, Power, N);
    Limbs One = ToLimbs(Reduced, Count);
    memcpy(Context->One, One.data(), Count * 8);
    BigInt_ShiftLeft(Power, Power, (int32)(64 * Count));
    BigInt_ModuloInternal(Reduced, Power, N);
    Limbs RR = ToLimbs(Reduced, Count);
    memcpy(Context->RR, RR.data(), Count * 8);
    *Handle = Context;
    return TRUE;
}

int32 BigInt_MontgomeryDestroy(Montgomery **Handle) {
    Debug_CheckPointer(Handle);
    Montgomery_Check(*Handle);
    Montgomery *Context = *Handle;
    const int32 Bytes = Context->Limbs * 8;
    for (uint64 *Block : {Context->Mod, Context->RR, Context->One}) {
        explicit_bzero(Block, (size_t)Bytes);
        Memory_Free(Block, Bytes);
    }
    BigInt_Unstack(&Context->N);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 BigInt_MontgomeryGetModuloByteCount(Montgomery *Handle) {
    Montgomery_Check(Handle);
    return BigInt_ByteCount(&Handle->N);
}

int32 BigInt_MontgomeryGetModulo(Montgomery *Handle, BigInt *Modulus) {
    Montgomery_Check(Handle);
    return BigInt_Copy(Modulus, &Handle->N);
}

int32 BigInt_MontgomeryPower(BigInt *Result, const BigInt *Base, const BigInt *Exponent, Montgomery *Handle) {
    BigInt_Check(Result);
    BigInt_Check(Base);
    BigInt_Check(Exponent);
    Montgomery_Check(Handle);
    const size_t N = (size_t)Handle->Limbs;
    Limbs Scratch(2 * N + 2), X = ReducedLimbs(Handle, Base);
    BigInt_MontgomeryProduct(Handle, X.data(), X.data(), Handle->RR, Scratch.data());
    const int32 Bits = BigInt_BitCount(Exponent);
    const int32 Width = WindowWidth(Bits);
    // Odd powers x, x^3, ... x^(2^Width - 1) for a sliding window.
    std::vector<Limbs> Table((size_t)1 << (Width - 1), Limbs(N));
    Table[0] = X;
    if (Width > 1) {
        Limbs Square(N);
        MontgomerySquare(Handle, Square.data(), X.data(), Scratch.data());
        for (size_t At = 1; At < Table.size(); At++)
            BigInt_MontgomeryProduct(Handle, Table[At].data(), Table[At - 1].data(), Square.data(), Scratch.data());
    }
    Limbs Accumulator(Handle->One, Handle->One + N);
    for (int32 Bit = Bits - 1; Bit >= 0;) {
        if (!ExponentBit(Exponent, Bit)) {
            MontgomerySquare(Handle, Accumulator.data(), Accumulator.data(), Scratch.data());
            Bit--;
            continue;
        }
        // The longest window of at most Width bits that ends in a set bit.
        int32 Low = std::max(Bit - Width + 1, 0);
        while (!ExponentBit(Exponent, Low)) Low++;
        const uint32 Window = ExponentWindow(Exponent, Low, Bit - Low + 1);
        for (int32 Step = Low; Step <= Bit; Step++)
            MontgomerySquare(Handle, Accumulator.data(), Accumulator.data(), Scratch.data());
        BigInt_MontgomeryProduct(Handle, Accumulator.data(), Accumulator.data(), Table[Window >> 1].data(), Scratch.data());
        Bit = Low - 1;
    }
    Limbs Unit(N, 0);
    Unit[0] = 1;
    BigInt_MontgomeryProduct(Handle, Accumulator.data(), Accumulator.data(), Unit.data(), Scratch.data());
    AssignLimbs(Result, Accumulator.data(), N);
    return TRUE;
}

int32 BigInt_MontgomeryPowerSecret(BigInt *Result, const BigInt *Base, const BigInt *Exponent,
                                   Montgomery *Handle) {
    BigInt_Check(Result);
    BigInt_Check(Base);
    BigInt_Check(Exponent);
    Montgomery_Check(Handle);
    if (BigInt_BitCount(Exponent) > Handle->Bits) return FALSE;
    const size_t N = (size_t)Handle->Limbs;
    const int32 Width = WindowWidth(Handle->Bits);
    const size_t Entries = (size_t)1 << Width;
    Limbs Scratch(2 * N + 2), Table(Entries * N), Accumulator(N), Pick(N);
    Limbs X = ReducedLimbs(Handle, Base);
    memcpy(Table.data(), Handle->One, N * 8);
    BigInt_MontgomeryProduct(Handle, &Table[N], X.data(), Handle->RR, Scratch.data());
    for (size_t At = 2; At < Entries; At++)
        BigInt_MontgomeryProduct(Handle, &Table[At * N], &Table[(At - 1) * N], &Table[N], Scratch.data());
    // Reads every entry and keeps the one asked for, by mask.
    auto Select = [&](uint32 Index) {
        std::fill(Pick.begin(), Pick.end(), 0);
        for (size_t At = 0; At < Entries; At++) {
            const uint64 Difference = (uint64)(At ^ Index);
            const uint64 Mask = ((Difference | (0 - Difference)) >> 63) - 1;
            const uint64 *Entry = &Table[At * N];
            for (size_t J = 0; J < N; J++) Pick[J] |= Entry[J] & Mask;
        }
    };
    const int32 Windows = (Handle->Bits + Width - 1) / Width;
    Select(ExponentWindow(Exponent, (Windows - 1) * Width, Width));
    Accumulator = Pick;
    for (int32 Window = Windows - 2; Window >= 0; Window--) {
        for (int32 Step = 0; Step < Width; Step++)
            MontgomerySquare(Handle, Accumulator.data(), Accumulator.data(), Scratch.data());
        Select(ExponentWindow(Exponent, Window * Width, Width));
        BigInt_MontgomeryProduct(Handle, Accumulator.data(), Accumulator.data(), Pick.data(), Scratch.data());
    }
    Limbs Unit(N, 0);
    Unit[0] = 1;
    BigInt_MontgomeryProduct(Handle, Accumulator.data(), Accumulator.data(), Unit.data(), Scratch.data());
    AssignLimbs(Result, Accumulator.data(), N);
    WipeLimbs(Table);
    WipeLimbs(Accumulator);
    WipeLimbs(Pick);
    WipeLimbs(X);
    WipeLimbs(Scratch);
    return TRUE;
}

int32 BigInt_MontgomeryMultiply(BigInt *Result, const BigInt *A, const BigInt *B, Montgomery *Handle) {
    BigInt_Check(Result);
    BigInt_Check(A);
    BigInt_Check(B);
    Montgomery_Check(Handle);
    const size_t N = (size_t)Handle->Limbs;
    Limbs Scratch(2 * N + 2), X = ReducedLimbs(Handle, A), Y = ReducedLimbs(Handle, B);
    // (A R) then (A R) B / R = A B.
    BigInt_MontgomeryProduct(Handle, X.data(), X.data(), Handle->RR, Scratch.data());
    BigInt_MontgomeryProduct(Handle, X.data(), X.data(), Y.data(), Scratch.data());
    AssignLimbs(Result, X.data(), N);
    WipeLimbs(X);
    WipeLimbs(Y);
    WipeLimbs(Scratch);
    return TRUE;
}
