// AES on both paths: FIPS 197 appendix C, SP 800-38A F.1/F.2 and RFC 3602
// vectors; CBC chaining across calls and partial trailing blocks; random
// keys and data against Python's cryptography; the processor path against
// the portable one; key-length rules, the ECB length check and the fatal
// stops of the slots AES does not have.
#include "crypto/ciphers/aes.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "crypto/ciphers/crypt_symmetric.h"
#include "tests/crypto/ciphers/cipher_test_util.h"
#include "tests/support/log_capture.h"

namespace {

struct AesContext {
    AES *Aes = nullptr;
    explicit AesContext(const Bytes &Key) {
        AES_Create(&Aes);
        EXPECT_EQ(AES_SetKey(Aes, Key.data(), (int32)Key.size()), 1);
    }
    ~AesContext() { AES_Delete(&Aes); }
};

struct Vector {
    const char *Key, *IV, *Plain, *Cipher; // IV empty for ECB
};

const Vector KnownAnswers[] = {
    // FIPS 197 appendix C.1-C.3
    {"000102030405060708090a0b0c0d0e0f", "", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
    // SP 800-38A F.1.1 ECB-AES128
    {"2b7e151628aed2a6abf7158809cf4f3c", "",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
    // SP 800-38A F.2.1, F.2.3, F.2.5 CBC-AES128/192/256
    {"2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    // RFC 3602 cases 1 and 2
    {"06a9214036b8a15b512e03d534120006", "3dafba429d9eb430b422da802c9fac41", "53696e676c6520626c6f636b206d7367",
     "e353779c1079aeb82708942dbe77181a"},
    {"c286696d887c9aa0611bbb3e2025a45a", "562e17996d093d28ddb3ba695a2e6f58",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "d296cd94c2cccf8a3a863028b5e1dc0a7586602d253cfff91b8266bea6d61ab1"},
};

TEST_P(AesPathTest, KnownAnswersBothDirectionsAndInPlace) {
    for (const Vector &V : KnownAnswers) {
        SCOPED_TRACE(V.Cipher);
        AesContext C(Hex(V.Key));
        const Bytes Plain = Hex(V.Plain), Cipher = Hex(V.Cipher), IV = Hex(V.IV);
        const int32 Length = (int32)Plain.size();
        Bytes Out(Plain.size()), Back(Plain.size());
        if (IV.empty()) {
            ASSERT_EQ(AES_Encrypt(C.Aes, Plain.data(), Out.data(), Length), 1);
            ASSERT_EQ(AES_Decrypt(C.Aes, Out.data(), Back.data(), Length), 1);
        } else {
            Bytes Chain = IV;
            ASSERT_EQ(AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data(), Out.data(), Length), 1);
            EXPECT_EQ(HexOf(Chain), HexOf(Out.data() + Out.size() - 16, 16)); // IV updated in place
            Chain = IV;
            Back = Out; // in place
            ASSERT_EQ(AES_DecryptCBC(C.Aes, Chain.data(), 16, Back.data(), Back.data(), Length), 1);
        }
        EXPECT_EQ(HexOf(Out), V.Cipher);
        EXPECT_EQ(HexOf(Back), V.Plain);
    }
}

TEST_P(AesPathTest, CbcCallsContinueOneChain) {
    std::mt19937 Random(7);
    for (int32 KeyLength : {16, 24, 32}) {
        AesContext C(RandomBytes(KeyLength, Random));
        const Bytes IV = RandomBytes(16, Random), Plain = RandomBytes(16 * 37, Random);
        Bytes Whole(Plain.size()), Pieces(Plain.size());
        Bytes Chain = IV;
        AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data(), Whole.data(), (int32)Plain.size());
        Chain = IV;
        // One block, then nine (more than one batch of eight), then the rest.
        AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data(), Pieces.data(), 16);
        AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data() + 16, Pieces.data() + 16, 16 * 9);
        AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data() + 160, Pieces.data() + 160, 16 * 27);
        EXPECT_EQ(HexOf(Whole), HexOf(Pieces));
        Bytes Back(Plain.size());
        Chain = IV;
        AES_DecryptCBC(C.Aes, Chain.data(), 16, Whole.data(), Back.data(), 16);
        AES_DecryptCBC(C.Aes, Chain.data(), 16, Whole.data() + 16, Back.data() + 16, 16 * 36);
        EXPECT_EQ(HexOf(Back), HexOf(Plain));
    }
}

// A trailing partial block: the given bytes XOR the IV in an otherwise zero
// block, enciphered; only those bytes are written and kept as IV.
TEST_P(AesPathTest, CbcPartialTrailingBlock) {
    std::mt19937 Random(11);
    const Bytes Key = RandomBytes(16, Random), IV = RandomBytes(16, Random), Plain = RandomBytes(16 + 5, Random);
    AesContext C(Key);
    Bytes Out(Plain.size()), Chain = IV;
    ASSERT_EQ(AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data(), Out.data(), (int32)Plain.size()), 1);
    Bytes Expected(16), Block(16, 0);
    Bytes First = IV;
    AES_EncryptCBC(C.Aes, First.data(), 16, Plain.data(), Expected.data(), 16);
    for (int I = 0; I < 5; I++) Block[I] = Plain[16 + I] ^ First[I];
    AES_Encrypt(C.Aes, Block.data(), Block.data(), 16);
    EXPECT_EQ(HexOf(Out.data() + 16, 5), HexOf(Block.data(), 5));
    Bytes ExpectedIV = First;
    for (int I = 0; I < 5; I++) ExpectedIV[I] = Block[I];
    EXPECT_EQ(HexOf(Chain), HexOf(ExpectedIV));
    // Deciphering runs the zero-filled partial ciphertext block likewise.
    Bytes Back(Plain.size());
    Chain = IV;
    AES_DecryptCBC(C.Aes, Chain.data(), 16, Out.data(), Back.data(), (int32)Out.size());
    EXPECT_EQ(HexOf(Back.data(), 16), HexOf(Plain.data(), 16));
    Bytes Zeroed(16, 0), Plain2(16);
    for (int I = 0; I < 5; I++) Zeroed[I] = Out[16 + I];
    AES_Decrypt(C.Aes, Zeroed.data(), Plain2.data(), 16);
    for (int I = 0; I < 5; I++) EXPECT_EQ(Back[16 + I], Plain2[I] ^ First[I]);
}

TEST_P(AesPathTest, RandomDataMatchesPythonCryptography) {
    SKIP_UNLESS(HavePythonCryptography(), "python3-cryptography not installed");
    std::mt19937 Random(GetParam() ? 21 : 22);
    std::string Input;
    struct Case {
        Bytes Key, IV, Plain;
    };
    std::vector<Case> Cases;
    for (int I = 0; I < 60; I++) {
        const int32 KeyLength = 16 + 8 * (I % 3);
        Case C{RandomBytes(KeyLength, Random), I % 2 ? RandomBytes(16, Random) : Bytes(),
               RandomBytes(16 * (1 + Random() % 70), Random)};
        Input += HexOf(C.Key) + " " + (C.IV.empty() ? "-" : HexOf(C.IV)) + " " + HexOf(C.Plain) + "\n";
        Cases.push_back(C);
    }
    const std::string Output =
        RunPython("import sys\n"
                  "from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes\n"
                  "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                  "    k, iv, p = line.split(' ')\n"
                  "    m = modes.ECB() if iv == '-' else modes.CBC(bytes.fromhex(iv))\n"
                  "    e = Cipher(algorithms.AES(bytes.fromhex(k)), m).encryptor()\n"
                  "    print((e.update(bytes.fromhex(p)) + e.finalize()).hex())\n",
                  Input);
    std::istringstream Lines(Output);
    for (const Case &C : Cases) {
        std::string Expected;
        std::getline(Lines, Expected);
        AesContext Context(C.Key);
        Bytes Out(C.Plain.size()), Back(C.Plain.size());
        const int32 Length = (int32)C.Plain.size();
        if (C.IV.empty()) {
            AES_Encrypt(Context.Aes, C.Plain.data(), Out.data(), Length);
            AES_Decrypt(Context.Aes, Out.data(), Back.data(), Length);
        } else {
            Bytes Chain = C.IV;
            AES_EncryptCBC(Context.Aes, Chain.data(), 16, C.Plain.data(), Out.data(), Length);
            Chain = C.IV;
            AES_DecryptCBC(Context.Aes, Chain.data(), 16, Out.data(), Back.data(), Length);
        }
        EXPECT_EQ(HexOf(Out), Expected);
        EXPECT_EQ(Back, C.Plain);
    }
}

TEST_P(AesPathTest, KeyLengthRules) {
    const Bytes Key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f2021222324252627");
    const Bytes Plain = Hex("00112233445566778899aabbccddeeff");
    AES *Aes = nullptr;
    AES_Create(&Aes);
    Bytes Out(16);
    // 20 and 40 bytes run AES-128 on the first 16.
    for (int32 Length : {16, 20, 40}) {
        ASSERT_EQ(AES_SetKey(Aes, Key.data(), Length), 1);
        AES_Encrypt(Aes, Plain.data(), Out.data(), 16);
        EXPECT_EQ(HexOf(Out), "69c4e0d86a7b0430d8cdb78070b4c55a") << Length;
    }
    // A short key is refused and the old key stays.
    EXPECT_EQ(AES_SetKey(Aes, Key.data(), 15), 0);
    AES_Encrypt(Aes, Plain.data(), Out.data(), 16);
    EXPECT_EQ(HexOf(Out), "69c4e0d86a7b0430d8cdb78070b4c55a");
    AES_Delete(&Aes);
    EXPECT_EQ(Aes, nullptr);
}

// The little-endian 128-bit counter of WinZip AES, against ECB of each
// counter value in Python; the starting values cross the carry from the low
// to the high 64 bits and the wrap of all 128.
TEST_P(AesPathTest, LittleEndianCounterMatchesPython) {
    SKIP_UNLESS(HavePythonCryptography(), "python3-cryptography not installed");
    std::mt19937 Random(GetParam() ? 31 : 32);
    const char *Starts[] = {"00000000000000000000000000000000", "fafffffffffffffff0ffffffffffffff",
                            "fcffffffffffffffffffffffffffffff", ""};
    struct Case {
        Bytes Key, Counter, Plain;
    };
    std::vector<Case> Cases;
    std::string Input;
    for (int I = 0; I < 24; I++) {
        const std::string Start = Starts[I % 4];
        Case C{RandomBytes(16 + 8 * (I % 3), Random), Start.empty() ? RandomBytes(16, Random) : Hex(Start),
               RandomBytes(16 * (1 + Random() % 40), Random)};
        Input += HexOf(C.Key) + " " + HexOf(C.Counter) + " " + HexOf(C.Plain) + "\n";
        Cases.push_back(C);
    }
    const std::string Output =
        RunPython("import sys\n"
                  "from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes\n"
                  "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                  "    k, c, p = [bytes.fromhex(x) for x in line.split(' ')]\n"
                  "    n, e = int.from_bytes(c, 'little'), Cipher(algorithms.AES(k), modes.ECB()).encryptor()\n"
                  "    b = len(p) // 16\n"
                  "    s = b''.join(e.update(((n + i + 1) % 2**128).to_bytes(16, 'little')) for i in range(b))\n"
                  "    print(bytes(x ^ y for x, y in zip(p, s)).hex(), ((n + b) % 2**128).to_bytes(16, 'little').hex())\n",
                  Input);
    std::istringstream Lines(Output);
    for (const Case &C : Cases) {
        std::string Expected, ExpectedCounter;
        Lines >> Expected >> ExpectedCounter;
        AesContext Context(C.Key);
        Bytes Out(C.Plain.size()), Counter = C.Counter;
        AES_CounterLittleEndian(Context.Aes, Counter.data(), C.Plain.data(), Out.data(), C.Plain.size() / 16);
        EXPECT_EQ(HexOf(Out), Expected);
        EXPECT_EQ(HexOf(Counter), ExpectedCounter);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesPathTest, ::testing::Bool(), PathName);

class AesTest : public RuntimeTest {};

TEST_F(AesTest, ProcessorPathEqualsPortable) {
    if (!AES_ProcessorHasFastPath()) GTEST_SKIP() << "processor has no AES-NI: nothing to compare";
    std::mt19937 Random(5);
    for (int Round = 0; Round < 50; Round++) {
        const Bytes Key = RandomBytes(16 + 8 * (Round % 3), Random), IV = RandomBytes(16, Random);
        const Bytes Plain = RandomBytes(1 + Random() % 600, Random);
        const int32 Length = (int32)Plain.size(), Whole = Length / 16 * 16;
        Bytes Results[2][4];
        for (int Fast = 0; Fast < 2; Fast++) {
            AES_UseProcessorPath(Fast == 1);
            AesContext C(Key);
            Bytes &Ecb = Results[Fast][0], &EcbBack = Results[Fast][1], &Cbc = Results[Fast][2],
                  &CbcBack = Results[Fast][3];
            Ecb.resize(Whole), EcbBack.resize(Whole), Cbc.resize(Length), CbcBack.resize(Length);
            AES_Encrypt(C.Aes, Plain.data(), Ecb.data(), Whole);
            AES_Decrypt(C.Aes, Plain.data(), EcbBack.data(), Whole);
            Bytes Chain = IV;
            AES_EncryptCBC(C.Aes, Chain.data(), 16, Plain.data(), Cbc.data(), Length);
            Cbc.insert(Cbc.end(), Chain.begin(), Chain.end());
            Chain = IV;
            AES_DecryptCBC(C.Aes, Chain.data(), 16, Plain.data(), CbcBack.data(), Length);
            CbcBack.insert(CbcBack.end(), Chain.begin(), Chain.end());
        }
        for (int I = 0; I < 4; I++) EXPECT_EQ(HexOf(Results[0][I]), HexOf(Results[1][I])) << Round << "/" << I;
    }
    AES_UseProcessorPath(true);
}


TEST_F(AesTest, EcbRefusesPartialBlocksWithALogLine) {
    AES *Aes = nullptr;
    AES_Create(&Aes);
    const Bytes Key(16, 1);
    AES_SetKey(Aes, Key.data(), 16);
    Bytes In(20, 7), Out(20, 0xee);
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    EXPECT_EQ(AES_Encrypt(Aes, In.data(), Out.data(), 20), 0);
    EXPECT_EQ(AES_Decrypt(Aes, In.data(), Out.data(), 20), 0);
    EXPECT_NE(Captured.find("Length must be a multiple of AES_BLOCKSIZE"), std::string::npos) << Captured;
    EXPECT_EQ(Out, Bytes(20, 0xee));
    // A CBC length below 1 answers 1 at once.
    Bytes IV(16, 0);
    EXPECT_EQ(AES_EncryptCBC(Aes, IV.data(), 16, In.data(), Out.data(), 0), 1);
    EXPECT_EQ(Out, Bytes(20, 0xee));
    AES_Delete(&Aes);
}

TEST_F(AesTest, RecordSlots) {
    EXPECT_STREQ(AES_INTERFACE.Name, "AES");
    EXPECT_EQ(AES_INTERFACE.BlockSize, 16u);
    CryptSymmetric *Cs = nullptr;
    CryptSymmetric_Create(&Cs);
    CryptSymmetric_Reset(Cs, &AES_INTERFACE);
    EXPECT_EQ(CryptSymmetric_SupportsCBC(Cs), 1);
    const Bytes Key = Hex("000102030405060708090a0b0c0d0e0f"), Plain = Hex("00112233445566778899aabbccddeeff");
    Bytes Out(16);
    EXPECT_EQ(CryptSymmetric_SetKey(Cs, Key.data(), 16), 1);
    EXPECT_EQ(CryptSymmetric_Encrypt(Cs, Plain.data(), Out.data(), 16), 1);
    EXPECT_EQ(HexOf(Out), "69c4e0d86a7b0430d8cdb78070b4c55a");
    CryptSymmetric_Delete(&Cs);
}

using AesDeathTest = AesTest;

TEST_F(AesDeathTest, ShortIvAndMissingSlotsStop) {
    AES *Aes = nullptr;
    AES_Create(&Aes);
    Bytes IV(16), Data(16), Tag(16);
    EXPECT_EXIT(AES_EncryptCBC(Aes, IV.data(), 8, Data.data(), Data.data(), 16), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(IVLength >= AES_BLOCKSIZE\\)\nInitialization vector too small for AES \\(16:8\\)");
    EXPECT_EXIT(AES_DecryptCBC(Aes, IV.data(), 15, Data.data(), Data.data(), 16), ::testing::KilledBySignal(SIGILL),
                "too small for AES \\(16:15\\)");
    EXPECT_EXIT(AES_SetAAD(Aes, Data.data(), 16), ::testing::KilledBySignal(SIGILL), "Not Supported - AES_SetAAD");
    EXPECT_EXIT(AES_GetAuthTag(Aes, Tag.data(), 16), ::testing::KilledBySignal(SIGILL),
                "Not Supported - AES_GetAuthTag");
    AES_Delete(&Aes);
}

} // namespace
