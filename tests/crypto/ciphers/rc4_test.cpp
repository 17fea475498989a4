// RC4: RFC 6229 key streams at several offsets for a 40-bit and a 128-bit
// key, produced in one call and in pieces of 1, 7 and 11 bytes; the 255-byte
// key limit; SetKey restarting the key stream; the record's empty slots.
#include "crypto/ciphers/rc4.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "tests/crypto/ciphers/cipher_test_util.h"

namespace {

class Rc4Test : public RuntimeTest {};

struct Offset {
    size_t At;
    const char *Stream;
};

struct KeyStream {
    const char *Key;
    std::vector<Offset> Offsets;
};

// RFC 6229 section 2.
const KeyStream Vectors[] = {
    {"0102030405",
     {{0, "b2396305f03dc027ccc3524a0a1118a8"},
      {16, "6982944f18fc82d589c403a47a0d0919"},
      {240, "28cb1132c96ce286421dcaadb8b69eae"},
      {256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
      {496, "42b7d0cdd918a8a33dd51781c81f4041"},
      {512, "6459844432a7da923cfb3eb4980661f6"},
      {4096, "ff25b58995996707e51fbdf08b34d875"}}},
    {"0102030405060708090a0b0c0d0e0f10",
     {{0, "9ac7cc9a609d1ef7b2932899cde41b97"},
      {16, "5248c4959014126a6e8a84f11d1a9e1c"},
      {240, "065902e4b620f6cc36c8589f66432f2b"},
      {256, "d39d566bc6bce3010768151549f3873f"},
      {4096, "a36a4c301ae8ac13610ccbc12256cacc"}}},
};

Bytes Stream(RC4 *Rc4, size_t Length, size_t Piece) {
    Bytes Out(Length, 0);
    for (size_t At = 0; At < Length; At += Piece) {
        const int32 Size = (int32)std::min(Piece, Length - At);
        EXPECT_EQ(RC4_Encrypt(Rc4, Out.data() + At, Out.data() + At, Size), 1); // in place
    }
    return Out;
}

TEST_F(Rc4Test, Rfc6229InOneCallAndInPieces) {
    for (const KeyStream &V : Vectors) {
        const Bytes Key = Hex(V.Key);
        for (size_t Piece : {4112, 1, 7, 11}) {
            SCOPED_TRACE(std::string(V.Key) + " pieces of " + std::to_string(Piece));
            RC4 *Rc4 = nullptr;
            RC4_Create(&Rc4);
            ASSERT_EQ(RC4_SetKey(Rc4, Key.data(), (int32)Key.size()), 1);
            const Bytes Out = Stream(Rc4, 4112, Piece);
            for (const Offset &O : V.Offsets) EXPECT_EQ(HexOf(Out.data() + O.At, 16), O.Stream) << O.At;
            RC4_Delete(&Rc4);
        }
    }
}

TEST_F(Rc4Test, RandomKeysAndDataMatchPythonCryptography) {
    SKIP_UNLESS(HavePythonCryptography(), "python3-cryptography not installed");
    std::mt19937 Random(29);
    std::vector<std::pair<Bytes, Bytes>> Cases;
    std::string Input;
    for (int I = 0; I < 30; I++) {
        // The key sizes the Python side takes.
        const size_t KeySizes[] = {5, 7, 8, 10, 16, 20, 24, 32};
        Cases.emplace_back(RandomBytes(KeySizes[I % 8], Random), RandomBytes(Random() % 3000, Random));
        Input += HexOf(Cases.back().first) + " " + HexOf(Cases.back().second) + "\n";
    }
    const std::string Output = RunPython("import sys, warnings\n"
                                         "warnings.simplefilter('ignore')\n"
                                         "from cryptography.hazmat.primitives.ciphers import Cipher, algorithms\n"
                                         "try:\n"
                                         "    from cryptography.hazmat.decrepit.ciphers.algorithms import ARC4\n"
                                         "except ImportError:\n"
                                         "    ARC4 = algorithms.ARC4\n"
                                         "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                         "    k, p = [bytes.fromhex(x) for x in line.split(' ')]\n"
                                         "    print(Cipher(ARC4(k), None).encryptor().update(p).hex())\n",
                                         Input);
    std::istringstream Lines(Output);
    RC4 *Rc4 = nullptr;
    RC4_Create(&Rc4);
    for (const auto &[Key, Plain] : Cases) {
        std::string Expected;
        std::getline(Lines, Expected);
        RC4_SetKey(Rc4, Key.data(), (int32)Key.size());
        Bytes Out = Plain;
        // Odd pieces: the state carries over between calls.
        for (size_t At = 0; At < Out.size(); At += 13)
            RC4_Encrypt(Rc4, Out.data() + At, Out.data() + At, (int32)std::min<size_t>(13, Out.size() - At));
        EXPECT_EQ(HexOf(Out), Expected);
    }
    RC4_Delete(&Rc4);
}

TEST_F(Rc4Test, SetKeyRestartsTheKeyStreamAndDecryptIsEncrypt) {
    RC4 *Rc4 = nullptr;
    RC4_Create(&Rc4);
    const Bytes Key(255, 0x5a), Plain = Hex("00112233445566778899");
    ASSERT_EQ(RC4_SetKey(Rc4, Key.data(), 255), 1); // the longest key
    Bytes First(10), Second(10), Back(10);
    RC4_Encrypt(Rc4, Plain.data(), First.data(), 10);
    ASSERT_EQ(RC4_SetKey(Rc4, Key.data(), 255), 1);
    RC4_Encrypt(Rc4, Plain.data(), Second.data(), 10);
    EXPECT_EQ(First, Second);
    RC4_SetKey(Rc4, Key.data(), 255);
    RC4_Decrypt(Rc4, First.data(), Back.data(), 10);
    EXPECT_EQ(Back, Plain);
    EXPECT_EQ(RC4_Encrypt(Rc4, nullptr, nullptr, 0), 1);
    EXPECT_EQ(RC4_SetKey(Rc4, Key.data(), 0), 0); // no caller passes an empty key
    RC4_Delete(&Rc4);
}

TEST_F(Rc4Test, RecordHasNoBlockOrAeadSlots) {
    EXPECT_STREQ(RC4_INTERFACE.Name, "RC4");
    EXPECT_EQ(RC4_INTERFACE.BlockSize, 0u);
    EXPECT_EQ(RC4_INTERFACE.SetAAD, nullptr);
    EXPECT_EQ(RC4_INTERFACE.EncryptCBC, nullptr);
    EXPECT_EQ(RC4_INTERFACE.DecryptCBC, nullptr);
    EXPECT_EQ(RC4_INTERFACE.GetAuthTag, nullptr);
    CryptSymmetric *Cs = nullptr;
    CryptSymmetric_Create(&Cs);
    CryptSymmetric_Reset(Cs, &RC4_INTERFACE);
    EXPECT_EQ(CryptSymmetric_SupportsCBC(Cs), 0);
    CryptSymmetric_Delete(&Cs);
}

using Rc4DeathTest = Rc4Test;

TEST_F(Rc4DeathTest, KeyOf256BytesStops) {
    RC4 *Rc4 = nullptr;
    RC4_Create(&Rc4);
    const Bytes Key(256, 1);
    EXPECT_EXIT(RC4_SetKey(Rc4, Key.data(), 256), ::testing::KilledBySignal(SIGILL), "Key length too long \\(256 > 256\\)");
    RC4_Delete(&Rc4);
}

} // namespace
