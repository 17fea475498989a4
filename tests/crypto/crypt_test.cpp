// The constant-time comparison finds a difference in any byte and any bit.
#include "crypto/crypt.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CryptCompareConstantTime, FindsEveryDifference) {
    std::vector<uint8> A(97), B(97);
    for (size_t Index = 0; Index < A.size(); Index++) A[Index] = B[Index] = (uint8)(Index * 37 + 5);
    EXPECT_EQ(Crypt_CompareConstantTime(A.data(), B.data(), (uint32)A.size()), 1);
    EXPECT_EQ(Crypt_CompareConstantTime(nullptr, nullptr, 0), 1);
    for (size_t Index = 0; Index < A.size(); Index++) {
        for (int Bit = 0; Bit < 8; Bit++) {
            B[Index] ^= (uint8)(1 << Bit);
            EXPECT_EQ(Crypt_CompareConstantTime(A.data(), B.data(), (uint32)A.size()), 0) << Index << "/" << Bit;
            B[Index] ^= (uint8)(1 << Bit);
        }
    }
    // Only Length bytes count.
    B[96] ^= 1;
    EXPECT_EQ(Crypt_CompareConstantTime(A.data(), B.data(), 96), 1);
}
