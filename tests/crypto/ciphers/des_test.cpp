// DES: FIPS 81 ECB and CBC examples and SP 800-17 known answers, random
// keys and data against `openssl enc -des-ecb/-des-cbc` (legacy provider),
// CBC chaining across calls, the zero-filled last ECB piece, the key length
// rule and the fatal stops.
#include "crypto/ciphers/des.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "tests/crypto/ciphers/cipher_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/requirement.h"
#include "tests/support/temp_root.h"

namespace {

class DesTest : public RuntimeTest {
  protected:
    DES *Des = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        DES_Create(&Des);
    }
    void TearDown() override {
        DES_Delete(&Des);
        RuntimeTest::TearDown();
    }
    void Key(const Bytes &K) { ASSERT_EQ(DES_SetKey(Des, K.data(), (int32)K.size()), 1); }
};

struct Vector {
    const char *Key, *IV, *Plain, *Cipher;
};

const Vector KnownAnswers[] = {
    // FIPS 81 appendix B (ECB) and C (CBC): "Now is the time for all "
    {"0123456789abcdef", "", "4e6f77206973207468652074696d6520666f7220616c6c20",
     "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    {"0123456789abcdef", "1234567890abcdef", "4e6f77206973207468652074696d6520666f7220616c6c20",
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
    // SP 800-17: variable plaintext, variable key, and the classic example
    {"0101010101010101", "", "8000000000000000", "95f8a5e5dd31d900"},
    {"0101010101010101", "", "4000000000000000", "dd7f121ca5015619"},
    {"8001010101010101", "", "0000000000000000", "95a8d72813daa94d"},
    {"133457799bbcdff1", "", "0123456789abcdef", "85e813540f0ab405"},
};

TEST_F(DesTest, KnownAnswers) {
    for (const Vector &V : KnownAnswers) {
        SCOPED_TRACE(V.Cipher);
        Key(Hex(V.Key));
        const Bytes Plain = Hex(V.Plain), IV = Hex(V.IV);
        Bytes Out(Plain.size()), Back(Plain.size()), Chain = IV;
        const int32 Length = (int32)Plain.size();
        if (IV.empty()) {
            EXPECT_EQ(DES_Encrypt(Des, Plain.data(), Out.data(), Length), 1);
            EXPECT_EQ(DES_Decrypt(Des, Out.data(), Back.data(), Length), 1);
        } else {
            EXPECT_EQ(DES_EncryptCBC(Des, Chain.data(), 8, Plain.data(), Out.data(), Length), 1);
            Chain = IV;
            // Two calls continue one chain: one block, then the rest.
            EXPECT_EQ(DES_DecryptCBC(Des, Chain.data(), 8, Out.data(), Back.data(), 8), 1);
            EXPECT_EQ(DES_DecryptCBC(Des, Chain.data(), 8, Out.data() + 8, Back.data() + 8, Length - 8), 1);
        }
        EXPECT_EQ(HexOf(Out), V.Cipher);
        EXPECT_EQ(HexOf(Back), V.Plain);
    }
}

std::string OpenSsl(const std::string &Arguments, const Bytes &Input) {
    std::string Path = TempRoot() + "/des_test_XXXXXX";
    const int Fd = mkstemp(Path.data());
    if (Fd < 0 || write(Fd, Input.data(), Input.size()) != (ssize_t)Input.size()) return "";
    close(Fd);
    const std::string Command =
        "openssl enc " + Arguments + " -nopad -provider legacy -provider default -in " + Path + " 2>/dev/null";
    FILE *Pipe = popen(Command.c_str(), "r");
    Bytes Output;
    if (Pipe) {
        uint8 Buffer[4096];
        size_t Count;
        while ((Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output.insert(Output.end(), Buffer, Buffer + Count);
        pclose(Pipe);
    }
    unlink(Path.c_str());
    return HexOf(Output);
}

TEST_F(DesTest, RandomDataMatchesOpenSsl) {
    SKIP_UNLESS(!OpenSsl("-des-ecb -K 0101010101010101", Bytes(8)).empty(),
                "openssl with the legacy provider (DES) not available");
    std::mt19937 Random(17);
    for (int Round = 0; Round < 12; Round++) {
        const Bytes K = RandomBytes(8, Random), IV = RandomBytes(8, Random);
        const Bytes Plain = RandomBytes(8 * (1 + Random() % 40), Random);
        Key(K);
        Bytes Out(Plain.size()), Chain = IV;
        DES_Encrypt(Des, Plain.data(), Out.data(), (int32)Plain.size());
        EXPECT_EQ(HexOf(Out), OpenSsl("-des-ecb -K " + HexOf(K), Plain));
        DES_EncryptCBC(Des, Chain.data(), 8, Plain.data(), Out.data(), (int32)Plain.size());
        EXPECT_EQ(HexOf(Out), OpenSsl("-des-cbc -K " + HexOf(K) + " -iv " + HexOf(IV), Plain));
    }
}

TEST_F(DesTest, EcbZeroFillsTheLastPiece) {
    Key(Hex("0123456789abcdef"));
    const Bytes Plain = Hex("4e6f77206973207468652074");
    Bytes Out(16, 0xee);
    EXPECT_EQ(DES_Encrypt(Des, Plain.data(), Out.data(), 12), 1);
    Bytes Padded = Hex("6865207400000000"), Last(8);
    DES_Encrypt(Des, Padded.data(), Last.data(), 8);
    EXPECT_EQ(HexOf(Out.data(), 8), "3fa40e8a984d4815");
    EXPECT_EQ(HexOf(Out.data() + 8, 8), HexOf(Last));
    // A CBC partial block writes only its own bytes.
    Bytes IV(8, 0), Cbc(13, 0xee);
    EXPECT_EQ(DES_EncryptCBC(Des, IV.data(), 8, Plain.data(), Cbc.data(), 12), 1);
    EXPECT_EQ(Cbc[12], 0xee);
}

TEST_F(DesTest, KeyMustBeEightBytes) {
    Key(Hex("0123456789abcdef"));
    Debug_PrintCallback(CaptureLog);
    for (int32 Length : {7, 16}) {
        Captured.clear();
        const Bytes Long(16, 0x55);
        EXPECT_EQ(DES_SetKey(Des, Long.data(), Length), 0);
        EXPECT_NE(Captured.find("DES key size must be equal to DES_KEYSIZE [" + std::to_string(Length) + "]"),
                  std::string::npos)
            << Captured;
    }
    // The old subkeys stay.
    const Bytes Plain = Hex("4e6f772069732074");
    Bytes Out(8);
    DES_Encrypt(Des, Plain.data(), Out.data(), 8);
    EXPECT_EQ(HexOf(Out), "3fa40e8a984d4815");
}

TEST_F(DesTest, RecordSlots) {
    EXPECT_STREQ(DES_INTERFACE.Name, "DES");
    EXPECT_EQ(DES_INTERFACE.BlockSize, 8u);
    CryptSymmetric *Cs = nullptr;
    CryptSymmetric_Create(&Cs);
    CryptSymmetric_Reset(Cs, &DES_INTERFACE);
    EXPECT_EQ(CryptSymmetric_SupportsCBC(Cs), 1);
    const Bytes K = Hex("133457799bbcdff1"), Plain = Hex("0123456789abcdef");
    Bytes Out(8);
    EXPECT_EQ(CryptSymmetric_SetKey(Cs, K.data(), 8), 1);
    CryptSymmetric_Encrypt(Cs, Plain.data(), Out.data(), 8);
    EXPECT_EQ(HexOf(Out), "85e813540f0ab405");
    CryptSymmetric_Delete(&Cs);
}

using DesDeathTest = DesTest;

TEST_F(DesDeathTest, ShortIvAndMissingSlotsStop) {
    Bytes IV(8), Data(8);
    EXPECT_EXIT(DES_EncryptCBC(Des, IV.data(), 7, Data.data(), Data.data(), 8), ::testing::KilledBySignal(SIGILL),
                "too small for DES \\(8:7\\)");
    EXPECT_EXIT(DES_SetAAD(Des, Data.data(), 8), ::testing::KilledBySignal(SIGILL), "Not Supported - DES_SetAAD");
    EXPECT_EXIT(DES_GetAuthTag(Des, Data.data(), 8), ::testing::KilledBySignal(SIGILL),
                "Not Supported - DES_GetAuthTag");
}

} // namespace
