// See crypt.h.
#include "crypto/crypt.h"

#include "runtime/debug.h"

int32 Crypt_CompareConstantTime(const void *A, const void *B, uint32 Length) {
    if (Length == 0) return TRUE;
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    const volatile uint8 *Left = static_cast<const volatile uint8 *>(A);
    const volatile uint8 *Right = static_cast<const volatile uint8 *>(B);
    uint8 Difference = 0;
    for (uint32 Index = 0; Index < Length; Index++) Difference |= (uint8)(Left[Index] ^ Right[Index]);
    // Turn "any bit set" into 0 or 1 without a data-dependent branch.
    return (int32)(1 & (((uint32)Difference - 1) >> 8));
}
