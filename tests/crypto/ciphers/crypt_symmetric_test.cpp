// CryptSymmetric: CBC support per record, Reset discarding key and running
// state also for the same record, forwarding of every slot, and the fatal
// stops for an unbound object, an incomplete record and empty slots.
#include "crypto/ciphers/crypt_symmetric.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "crypto/ciphers/aes.h"
#include "crypto/ciphers/aes_gcm.h"
#include "crypto/ciphers/des.h"
#include "crypto/ciphers/rc4.h"
#include "tests/crypto/ciphers/cipher_test_util.h"

namespace {

class CryptSymmetricTest : public RuntimeTest {
  protected:
    CryptSymmetric *Cs = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        CryptSymmetric_Create(&Cs);
    }
    void TearDown() override {
        if (Cs != nullptr) CryptSymmetric_Delete(&Cs);
        RuntimeTest::TearDown();
    }
};

TEST_F(CryptSymmetricTest, SupportsCbcPerRecord) {
    const std::pair<const CryptSymmetricInterface *, int32> Records[] = {
        {&AES_INTERFACE, 1}, {&AESGCM_INTERFACE, 1}, {&DES_INTERFACE, 1}, {&RC4_INTERFACE, 0}};
    for (const auto &[Record, Expected] : Records) {
        CryptSymmetric_Reset(Cs, Record);
        EXPECT_EQ(CryptSymmetric_SupportsCBC(Cs), Expected) << Record->Name;
    }
}

TEST_F(CryptSymmetricTest, ResetWithTheSameRecordDiscardsKeyAndStream) {
    const Bytes Key = Hex("0102030405"), Zero(32, 0);
    Bytes First(32), Again(32), Unkeyed(32);
    CryptSymmetric_Reset(Cs, &RC4_INTERFACE);
    CryptSymmetric_SetKey(Cs, Key.data(), 5);
    CryptSymmetric_Encrypt(Cs, Zero.data(), First.data(), 16);
    // The stream runs on without a reset ...
    CryptSymmetric_Encrypt(Cs, Zero.data(), Again.data(), 16);
    EXPECT_NE(First, Again);
    // ... and starts again after one, from an unkeyed state until SetKey.
    CryptSymmetric_Reset(Cs, &RC4_INTERFACE);
    CryptSymmetric_Encrypt(Cs, Zero.data(), Unkeyed.data(), 16);
    EXPECT_NE(HexOf(Unkeyed.data(), 16), HexOf(First.data(), 16));
    CryptSymmetric_Reset(Cs, &RC4_INTERFACE);
    CryptSymmetric_SetKey(Cs, Key.data(), 5);
    CryptSymmetric_Decrypt(Cs, First.data(), Again.data(), 16);
    EXPECT_EQ(HexOf(Again.data(), 16), HexOf(Zero.data(), 16));
}

TEST_F(CryptSymmetricTest, CbcSlotsForwardWithTheIvUpdated) {
    CryptSymmetric_Reset(Cs, &AES_INTERFACE);
    const Bytes Key = Hex("06a9214036b8a15b512e03d534120006"), Plain = Hex("53696e676c6520626c6f636b206d7367");
    Bytes IV = Hex("3dafba429d9eb430b422da802c9fac41"), Out(16);
    CryptSymmetric_SetKey(Cs, Key.data(), 16);
    EXPECT_EQ(CryptSymmetric_EncryptCBC(Cs, IV.data(), 16, Plain.data(), Out.data(), 16), 1);
    EXPECT_EQ(HexOf(Out), "e353779c1079aeb82708942dbe77181a");
    EXPECT_EQ(IV, Out);
    IV = Hex("3dafba429d9eb430b422da802c9fac41");
    EXPECT_EQ(CryptSymmetric_DecryptCBC(Cs, IV.data(), 16, Out.data(), Out.data(), 16), 1);
    EXPECT_EQ(Out, Plain);
}

using CryptSymmetricDeathTest = CryptSymmetricTest;

TEST_F(CryptSymmetricDeathTest, ProgrammingErrorsStop) {
    Bytes Data(16), IV(16);
    // Unbound, an incomplete record, and the empty RC4 slots.
    EXPECT_EXIT(CryptSymmetric_Encrypt(Cs, Data.data(), Data.data(), 16), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    CryptSymmetricInterface Incomplete = RC4_INTERFACE;
    Incomplete.Decrypt = nullptr;
    EXPECT_EXIT(CryptSymmetric_Reset(Cs, &Incomplete), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(CryptSymmetric_Reset(Cs, nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    CryptSymmetric_Reset(Cs, &RC4_INTERFACE);
    EXPECT_EXIT(CryptSymmetric_SetAAD(Cs, Data.data(), 16), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(CryptSymmetric_GetAuthTag(Cs, Data.data(), 16), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(CryptSymmetric_EncryptCBC(Cs, IV.data(), 16, Data.data(), Data.data(), 16),
                ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    // AES and DES name the operation they lack.
    CryptSymmetric_Reset(Cs, &AES_INTERFACE);
    EXPECT_EXIT(CryptSymmetric_SetAAD(Cs, Data.data(), 16), ::testing::KilledBySignal(SIGILL),
                "Not Supported - AES_SetAAD");
    CryptSymmetric_Reset(Cs, &DES_INTERFACE);
    EXPECT_EXIT(CryptSymmetric_GetAuthTag(Cs, Data.data(), 8), ::testing::KilledBySignal(SIGILL),
                "Not Supported - DES_GetAuthTag");
    // A foreign handle.
    EXPECT_EXIT(CryptSymmetric_SupportsCBC(reinterpret_cast<CryptSymmetric *>(Data.data())),
                ::testing::KilledBySignal(SIGILL), "Class mismatch");
}

} // namespace
