// Arbitrary-precision signed integers for the public-key side: RSA moduli and
// exponents, curve constants and coordinates, ASN.1 INTEGER values and
// serial numbers. Numbers enter and leave as big-endian bytes or hexadecimal
// text; no other arithmetic library is used.
//
// A BigInt keeps its magnitude in 32-bit words, least significant first, with
// the top used word non-zero (zero has no used words). The word block only
// grows, in steps of 64 words, and is freed by Delete or Unstack, so a
// temporary on the caller's stack (BigInt_Stack) rarely allocates twice.
//
// A Montgomery context fixes an odd modulus N. Inside it works on 64-bit
// limbs with word-level reduction; its powers come back fully reduced, so
// callers never see the Montgomery radix. BigInt_MontgomeryPowerSecret is the
// power for secret exponents: a fixed window over the modulus's length with
// table lookups that touch every entry, so its time and memory accesses do
// not depend on the exponent.
//
// Caller errors are fatal stops: null or foreign handles, a zero divisor, a
// negative dividend, a zero argument to the inverse and negative arguments to
// BigInt_Compare. An even or zero modulus is refused with 0 by
// BigInt_ModuloInverse and BigInt_MontgomeryCreate (the binary algorithms
// would not end), so key import can pass a remote modulus through safely.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define BIGINT_CLASSID 0x1ca4d8e2u
#define MONTGOMERY_CLASSID 0xd64069cfu

RUNTIME_EXTERN_C_BEGIN

// The record is public so that temporaries can live on the caller's stack:
// declare one, BigInt_Stack it, BigInt_Unstack it when done.
typedef struct BigInt {
    ClassStruct Class;
    uint32 *Words;   // null until the first growth
    uint32 Capacity; // words allocated, a multiple of 64
    int32 Used;      // significant words; 0 is the value zero
    uint32 Negative; // 1 when the value is negative
} BigInt;

typedef struct Montgomery Montgomery;

int32 BigInt_Create(BigInt **Handle);
int32 BigInt_Delete(BigInt **Handle);
CLASS_DECLARE_REFERENCE(BigInt, BigInt)
int32 BigInt_SizeOf(void);
int32 BigInt_Stack(void *Memory);
// Frees (and wipes) the words of a stacked number; it may be stacked again.
int32 BigInt_Unstack(BigInt *Handle);

// Grows the block to hold Count words, clearing the words from Used up to
// Count; the value does not change.
int32 BigInt_ExpandInt(BigInt *Handle, int32 Count);
// Value zero and not negative; keeps the word block.
int32 BigInt_Reset(BigInt *Handle);
int32 BigInt_SetWord(BigInt *Handle, uint32 Value);
int32 BigInt_Copy(BigInt *Destination, const BigInt *Source);

// 1 when value and sign agree.
int32 BigInt_Equal(const BigInt *A, const BigInt *B);
// Below zero, zero or above zero as A < B, A == B, A > B. When the word
// counts differ their difference is the answer; both must be non-negative.
int32 BigInt_Compare(const BigInt *A, const BigInt *B);
int32 BigInt_IsZero(const BigInt *Handle);
// -1 negative, 0 zero, 1 positive.
int32 BigInt_GetSign(const BigInt *Handle);
// Flips the sign of a non-zero value.
int32 BigInt_Negate(BigInt *Handle);
// 0 for a negative index or one beyond the used words.
int32 BigInt_IsBitSet(const BigInt *Handle, int32 Bit);
// Bit length of the magnitude (0 for zero), and that in whole bytes.
int32 BigInt_BitCount(const BigInt *Handle);
int32 BigInt_ByteCount(const BigInt *Handle);

// Signed arithmetic. Add, Subtract, the shifts, Modulo (as the dividend) and
// ModuloInverse may write over an operand; products, squares and powers need
// a result distinct from their operands.
int32 BigInt_Add(BigInt *Result, const BigInt *A, const BigInt *B);
int32 BigInt_Subtract(BigInt *Result, const BigInt *A, const BigInt *B);
int32 BigInt_Multiply(BigInt *Result, const BigInt *A, const BigInt *B);
// Shift the magnitude; the sign stays (shifting everything out gives zero).
int32 BigInt_ShiftLeft(BigInt *Result, const BigInt *A, int32 Bits);
int32 BigInt_ShiftRight(BigInt *Result, const BigInt *A, int32 Bits);

// A mod M for A >= 0 and M != 0 (the sign of M is ignored).
int32 BigInt_Modulo(BigInt *Result, const BigInt *A, const BigInt *M);
int32 BigInt_ModuloMultiply(BigInt *Result, const BigInt *A, const BigInt *B, const BigInt *M);
int32 BigInt_ModuloSquare(BigInt *Result, const BigInt *A, const BigInt *M);
// Right-to-left square and multiply without Montgomery arithmetic.
int32 BigInt_ModuloPower(BigInt *Result, const BigInt *Base, const BigInt *Exponent, const BigInt *M);
// Binary inversion for odd M. When A and M are not coprime the answer x
// still satisfies x*A = gcd(A, M) (mod M). 0 for an even or zero M.
int32 BigInt_ModuloInverse(BigInt *Result, const BigInt *A, const BigInt *M);
// A uniform random number in 1 ... M - 1 from the platform's random source;
// 0 after 16 draws of zero (M = 1 always does).
int32 BigInt_ModuloRandom(BigInt *Result, const BigInt *M);

// Big-endian unsigned bytes; Size 0 gives zero.
int32 BigInt_ImportBinary(BigInt *Handle, const void *Bytes, int32 Size);
// The minimal big-endian bytes of the magnitude (zero writes nothing);
// 0 when they do not fit.
int32 BigInt_ExportBinary(const BigInt *Handle, void *Buffer, int32 Size, int32 *Written);
// Right-aligned in exactly Size bytes, zeros in front; 0 when it does not fit.
int32 BigInt_ExportBinaryFixedSize(const BigInt *Handle, void *Buffer, int32 Size);
// An optional "-", then the run of hex digits up to the first other
// character; a text without digits gives zero. 0 only for an empty text.
int32 BigInt_ImportHex(BigInt *Handle, const char *Text);
// Upper-case digits of the minimal bytes, terminated, no sign; zero gives
// an empty text. 0 when digits and terminator do not fit.
int32 BigInt_ExportHex(const BigInt *Handle, char *Buffer, int32 Size);

// 0 for an even, zero or negative N.
int32 BigInt_MontgomeryCreate(Montgomery **Handle, const BigInt *N);
int32 BigInt_MontgomeryDestroy(Montgomery **Handle);
CLASS_DECLARE_REFERENCE(Montgomery, Montgomery)
int32 BigInt_MontgomeryGetModuloByteCount(Montgomery *Handle);
int32 BigInt_MontgomeryGetModulo(Montgomery *Handle, BigInt *Modulus);
// Base^Exponent mod N, fully reduced; Base may be N or more (it is reduced
// first), the exponent's sign is ignored. For public exponents: the time
// depends on the exponent.
int32 BigInt_MontgomeryPower(BigInt *Result, const BigInt *Base, const BigInt *Exponent, Montgomery *Handle);
// The same result for secret exponents of at most N's bit length (longer
// ones are refused with 0): fixed windows over N's length, every table entry
// read for each window, a reduction without data-dependent branches.
int32 BigInt_MontgomeryPowerSecret(BigInt *Result, const BigInt *Base, const BigInt *Exponent, Montgomery *Handle);
// (A * B) mod N for 0 <= A, B through Montgomery products (two of them), for
// repeated field products mod a fixed prime.
int32 BigInt_MontgomeryMultiply(BigInt *Result, const BigInt *A, const BigInt *B, Montgomery *Handle);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
// A stacked number that unstacks itself at the end of its scope.
class BigIntLocal {
  public:
    BigIntLocal() { BigInt_Stack(&Value); }
    ~BigIntLocal() { BigInt_Unstack(&Value); }
    BigIntLocal(const BigIntLocal &) = delete;
    BigIntLocal &operator=(const BigIntLocal &) = delete;
    BigInt *get() { return &Value; }
    operator BigInt *() { return &Value; }

  private:
    BigInt Value;
};
#endif
