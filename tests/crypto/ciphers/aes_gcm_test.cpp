// AES-GCM on both paths: McGrew and Viega's published GCM test cases 1-18 (12-, 8-
// and 60-byte IVs, with and without additional data, tags of 16 and 12
// bytes) both ways; random messages split at block boundaries against
// Python's cryptography; two messages on one key; a message without SetAAD;
// calls split off block boundaries (kept as the standard's results differ);
// the processor path against the portable one on random splits; every
// Wycheproof aes_gcm case on both paths.
#include "crypto/ciphers/aes_gcm.h"

#include <gtest/gtest.h>

#include <sstream>

#include <unistd.h>

#include "crypto/ciphers/aes.h"
#include "crypto/ciphers/crypt_symmetric.h"
#include "tests/crypto/ciphers/cipher_test_util.h"
#include "tests/support/requirement.h"

namespace {

struct GcmVector {
    int Case;
    const char *Key, *IV, *Plain, *AAD, *Cipher, *Tag;
};

// Test cases 1-18 of "The Galois/Counter Mode of Operation (GCM)".
const GcmVector Vectors[] = {
    {1, "00000000000000000000000000000000", "000000000000000000000000", "", "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {2, "00000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000", "", "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {3, "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255", "", "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985", "4d5c2af327cd64a62cf35abd2ba6fab4"},
    {4, "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091", "5bc94fbc3221a5db94fae95ae7121a47"},
    {5, "feffe9928665731c6d6a8f9467308308", "cafebabefacedbad", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "61353b4c2806934a777ff51fa22a4755699b2a714fcdc6f83766e5f97b6c742373806900e49f24b22b097544d4896b424989b5e1ebac0f07c23f4598", "3612d2e79e3b0785561be14aaca2fccb"},
    {6, "feffe9928665731c6d6a8f9467308308", "9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a57a637b39b", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "8ce24998625615b603a033aca13fb894be9112a5c3a211a8ba262a3cca7e2ca701e4a9a4fba43c90ccdcb281d48c7c6fd62875d2aca417034c34aee5", "619cc5aefffe0bfa462af43c1699d050"},
    {7, "000000000000000000000000000000000000000000000000", "000000000000000000000000", "", "", "", "cd33b28ac773f74ba00ed1f312572435"},
    {8, "000000000000000000000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000", "", "98e7247c07f0fe411c267e4384b0f600", "2ff58d80033927ab8ef4d4587514f0fb"},
    {9, "feffe9928665731c6d6a8f9467308308feffe9928665731c", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255", "", "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c7d773d00c144c525ac619d18c84a3f4718e2448b2fe324d9ccda2710acade256", "9924a7c8587336bfb118024db8674a14"},
    {10, "feffe9928665731c6d6a8f9467308308feffe9928665731c", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "3980ca0b3c00e841eb06fac4872a2757859e1ceaa6efd984628593b40ca1e19c7d773d00c144c525ac619d18c84a3f4718e2448b2fe324d9ccda2710", "2519498e80f1478f37ba55bd6d27618c"},
    {11, "feffe9928665731c6d6a8f9467308308feffe9928665731c", "cafebabefacedbad", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "0f10f599ae14a154ed24b36e25324db8c566632ef2bbb34f8347280fc4507057fddc29df9a471f75c66541d4d4dad1c9e93a19a58e8b473fa0f062f7", "65dcc57fcf623a24094fcca40d3533f8"},
    {12, "feffe9928665731c6d6a8f9467308308feffe9928665731c", "9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a57a637b39b", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "d27e88681ce3243c4830165a8fdcf9ff1de9a1d8e6b447ef6ef7b79828666e4581e79012af34ddd9e2f037589b292db3e67c036745fa22e7e9b7373b", "dcf566ff291c25bbb8568fc3d376a6d9"},
    {13, "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {14, "0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000", "", "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {15, "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255", "", "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad", "b094dac5d93471bdec1a502270e3cc6c"},
    {16, "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662", "76fc6ece0f4e1768cddf8853bb2d551b"},
    {17, "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbad", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "c3762df1ca787d32ae47c13bf19844cbaf1ae14d0b976afac52ff7d79bba9de0feb582d33934a4f0954cc2363bc73f7862ac430e64abe499f47c9b1f", "3a337dbf46a792c45e454913fe2ea8f2"},
    {18, "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "9313225df88406e555909c5aff5269aa6a7a9538534f7da1e4c303d2a318a728c3c0c95156809539fcf0e2429a6b525416aedbf5a0de6a57a637b39b", "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39", "feedfacedeadbeeffeedfacedeadbeefabaddad2", "5a8def2f0c9e53f1f75d7853659e2a20eeb2b22aafde6419a058ab4f6f746bf40fc0c3b780f244452da3ebf1c5d82cdea2418997200ef82e44ae7e3f", "a44a8266ee1c8eb0c8b5d4cf5ae9f19a"},
};

struct Gcm {
    AESGCM *Context = nullptr;
    explicit Gcm(const Bytes &Key) {
        AESGCM_Create(&Context);
        EXPECT_EQ(AESGCM_SetKey(Context, Key.data(), (int32)Key.size()), 1);
    }
    ~Gcm() { AESGCM_Delete(&Context); }
    // One message: optional SetAAD, the IV start with the first piece, the
    // rest in pieces at the given split points; answers ciphertext || tag.
    Bytes Run(const Bytes &IV, const Bytes &AAD, const Bytes &In, bool Encrypting, std::vector<size_t> Splits = {},
              int32 TagLength = 16, bool WithAAD = true) {
        if (WithAAD) AESGCM_SetAAD(Context, AAD.data(), (int32)AAD.size());
        Bytes Out(In.size() + 1), Work = In;
        Work.push_back(0);
        Splits.push_back(In.size());
        size_t At = 0;
        Bytes Chain = IV;
        for (size_t Index = 0; Index < Splits.size(); Index++) {
            const int32 Length = (int32)(Splits[Index] - At);
            if (Index == 0) {
                auto Start = Encrypting ? AESGCM_EncryptCBC : AESGCM_DecryptCBC;
                EXPECT_EQ(Start(Context, Chain.data(), (int32)Chain.size(), Work.data() + At, Out.data() + At, Length),
                          1);
            } else {
                auto Piece = Encrypting ? AESGCM_Encrypt : AESGCM_Decrypt;
                EXPECT_EQ(Piece(Context, Work.data() + At, Out.data() + At, Length), 1);
            }
            At = Splits[Index];
        }
        EXPECT_EQ(Chain, IV);
        Out.resize(In.size());
        Bytes Tag(TagLength);
        EXPECT_EQ(AESGCM_GetAuthTag(Context, Tag.data(), TagLength), 1);
        Out.insert(Out.end(), Tag.begin(), Tag.end());
        return Out;
    }
};

TEST_P(AesPathTest, PublishedCasesBothWaysAndShortTags) {
    for (const GcmVector &V : Vectors) {
        SCOPED_TRACE(V.Case);
        Gcm G(Hex(V.Key));
        const Bytes IV = Hex(V.IV), AAD = Hex(V.AAD), Plain = Hex(V.Plain);
        EXPECT_EQ(HexOf(G.Run(IV, AAD, Plain, true)), std::string(V.Cipher) + V.Tag);
        // Deciphering computes the same tag over the received ciphertext.
        EXPECT_EQ(HexOf(G.Run(IV, AAD, Hex(V.Cipher), false)), std::string(V.Plain) + V.Tag);
        // A 12-byte tag is the first 12 bytes.
        EXPECT_EQ(HexOf(G.Run(IV, AAD, Plain, true, {}, 12)), std::string(V.Cipher) + std::string(V.Tag, 24));
    }
}

TEST_P(AesPathTest, EmptyMessageTagIsTheEncipheredCounterBlock) {
    const Bytes Key = Hex("feffe9928665731c6d6a8f9467308308"), IV = Hex("cafebabefacedbaddecaf888");
    Gcm G(Key);
    const Bytes Tag = G.Run(IV, {}, {}, true);
    AES *Aes = nullptr;
    AES_Create(&Aes);
    AES_SetKey(Aes, Key.data(), 16);
    Bytes J0 = IV;
    J0.insert(J0.end(), {0, 0, 0, 1});
    AES_Encrypt(Aes, J0.data(), J0.data(), 16);
    AES_Delete(&Aes);
    EXPECT_EQ(HexOf(Tag), HexOf(J0));
}

TEST_P(AesPathTest, TwoMessagesOnOneKeyEqualTwoFreshContexts) {
    const GcmVector &A = Vectors[3], &B = Vectors[4]; // cases 4 and 5: one key
    Gcm Shared(Hex(A.Key));
    EXPECT_EQ(HexOf(Shared.Run(Hex(A.IV), Hex(A.AAD), Hex(A.Plain), true)), std::string(A.Cipher) + A.Tag);
    EXPECT_EQ(HexOf(Shared.Run(Hex(B.IV), Hex(B.AAD), Hex(B.Plain), true)), std::string(B.Cipher) + B.Tag);
    // A message started without SetAAD has no additional data: case 3's
    // tag, not one that carries case 5's GHASH state.
    const GcmVector &C = Vectors[2];
    EXPECT_EQ(HexOf(Shared.Run(Hex(C.IV), {}, Hex(C.Plain), true, {}, 16, false)), std::string(C.Cipher) + C.Tag);
    // Likewise after a message that never asked for its tag.
    Shared.Run(Hex(B.IV), Hex(B.AAD), Hex(B.Plain), true);
    AESGCM_SetAAD(Shared.Context, nullptr, 0);
    EXPECT_EQ(HexOf(Shared.Run(Hex(C.IV), {}, Hex(C.Plain), true)), std::string(C.Cipher) + C.Tag);
}

TEST_P(AesPathTest, CallsSplitOnlyAtBlockBoundariesKeepTheStandard) {
    std::mt19937 Random(3);
    const Bytes Key = RandomBytes(16, Random), IV = RandomBytes(12, Random), AAD = RandomBytes(13, Random);
    const Bytes Plain = RandomBytes(32, Random);
    Gcm G(Key);
    const Bytes Whole = G.Run(IV, AAD, Plain, true);
    EXPECT_EQ(HexOf(G.Run(IV, AAD, Plain, true, {16})), HexOf(Whole));
    EXPECT_EQ(HexOf(G.Run(IV, AAD, Plain, true, {0, 16})), HexOf(Whole)); // empty start
    // 10 + 22: every call restarts counter and GHASH block.
    const Bytes Odd = G.Run(IV, AAD, Plain, true, {10});
    EXPECT_EQ(HexOf(Odd.data(), 10), HexOf(Whole.data(), 10));
    EXPECT_NE(HexOf(Odd.data() + 10, 22), HexOf(Whole.data() + 10, 22));
    EXPECT_NE(HexOf(Odd.data() + 32, 16), HexOf(Whole.data() + 32, 16));
}

TEST_P(AesPathTest, RandomMessagesMatchPythonCryptography) {
    SKIP_UNLESS(HavePythonCryptography(), "python3-cryptography not installed");
    std::mt19937 Random(GetParam() ? 41 : 42);
    struct Case {
        Bytes Key, IV, AAD, Plain;
        std::vector<size_t> Splits;
    };
    std::vector<Case> Cases;
    std::string Input;
    for (int I = 0; I < 80; I++) {
        Case C;
        C.Key = RandomBytes(16 + 8 * (I % 3), Random);
        C.IV = RandomBytes(I % 4 == 0 ? 8 + Random() % 57 : 12, Random);
        C.AAD = RandomBytes(Random() % 70, Random);
        C.Plain = RandomBytes(Random() % 400, Random);
        for (size_t At = 16 * (1 + Random() % 12); At < C.Plain.size(); At += 16 * (1 + Random() % 12))
            C.Splits.push_back(At);
        Input += HexOf(C.Key) + " " + HexOf(C.IV) + " " + HexOf(C.AAD) + " " + HexOf(C.Plain) + "\n";
        Cases.push_back(C);
    }
    const std::string Output = RunPython("import sys\n"
                                         "from cryptography.hazmat.primitives.ciphers.aead import AESGCM\n"
                                         "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                                         "    k, iv, a, p = [bytes.fromhex(x) for x in line.split(' ')]\n"
                                         "    print(AESGCM(k).encrypt(iv, p, a).hex())\n",
                                         Input);
    std::istringstream Lines(Output);
    for (const Case &C : Cases) {
        std::string Expected;
        std::getline(Lines, Expected);
        Gcm G(C.Key);
        const Bytes Sealed = G.Run(C.IV, C.AAD, C.Plain, true, C.Splits);
        EXPECT_EQ(HexOf(Sealed), Expected);
        const Bytes Opened = G.Run(C.IV, C.AAD, Bytes(Sealed.begin(), Sealed.end() - 16), false, C.Splits);
        EXPECT_EQ(HexOf(Opened), HexOf(C.Plain) + Expected.substr(Expected.size() - 32));
    }
}

// Valid cases must give the exact ciphertext and tag both ways; invalid ones
// (an empty IV, a changed tag) must be refused at the start or fail the tag.
TEST_P(AesPathTest, WycheproofCases) {
    const std::string File = WycheproofDirectory() + "/aes_gcm_test.json.gz";
    SKIP_UNLESS(access(File.c_str(), R_OK) == 0, "Wycheproof vectors absent: " << File);
    const std::string Output = RunPython("import gzip, json\n"
                                         "d = json.load(gzip.open('" + File + "'))\n"
                                         "for g in d['testGroups']:\n"
                                         "    for t in g['tests']:\n"
                                         "        print(t['tcId'], t['result'], *[t[k] or '-' for k in "
                                         "('key', 'iv', 'aad', 'msg', 'ct', 'tag')])\n");
    std::istringstream Lines(Output);
    int Count = 0;
    for (std::string Line; std::getline(Lines, Line); Count++) {
        std::istringstream Fields(Line);
        std::string Id, Result, Text[6];
        Fields >> Id >> Result;
        Bytes Field[6];
        for (int I = 0; I < 6; I++) {
            Fields >> Text[I];
            if (Text[I] != "-") Field[I] = Hex(Text[I]);
        }
        const auto &[Key, IV, AAD, Msg, Ct, Tag] = Field;
        SCOPED_TRACE("tcId " + Id);
        Gcm G(Key);
        Bytes Out(Msg.size() + 1), Work = Ct, Chain = IV, Got(Tag.size());
        Work.push_back(0);
        AESGCM_SetAAD(G.Context, AAD.data(), (int32)AAD.size());
        const int32 Started =
            AESGCM_DecryptCBC(G.Context, Chain.data(), (int32)Chain.size(), Work.data(), Out.data(), (int32)Ct.size());
        const bool Accepted = Started && AESGCM_GetAuthTag(G.Context, Got.data(), (int32)Got.size()) && Got == Tag;
        if (Result == "invalid") {
            EXPECT_FALSE(Accepted);
            continue;
        }
        ASSERT_TRUE(Accepted) << Result;
        Out.resize(Msg.size());
        EXPECT_EQ(HexOf(Out), HexOf(Msg));
        Bytes Sealed = G.Run(IV, AAD, Msg, true, {}, (int32)Tag.size());
        EXPECT_EQ(HexOf(Sealed), HexOf(Ct) + HexOf(Tag));
    }
    EXPECT_EQ(Count, 316);
}

INSTANTIATE_TEST_SUITE_P(Paths, AesPathTest, ::testing::Bool(), PathName);

class AesGcmTest : public RuntimeTest {};

// The quirks (calls split off block boundaries, IVs of any length) must come
// out the same on both paths.
TEST_F(AesGcmTest, ProcessorPathEqualsPortableOnAnySplit) {
    if (!AES_ProcessorHasFastPath()) GTEST_SKIP() << "processor has no AES-NI/PCLMULQDQ: nothing to compare";
    std::mt19937 Random(9);
    for (int Round = 0; Round < 60; Round++) {
        const Bytes Key = RandomBytes(16 + 8 * (Round % 3), Random), IV = RandomBytes(1 + Random() % 64, Random);
        const Bytes AAD = RandomBytes(Random() % 300, Random), Plain = RandomBytes(Random() % 1000, Random);
        std::vector<size_t> Splits;
        for (size_t At = Random() % 200; At < Plain.size(); At += Random() % 300) Splits.push_back(At);
        std::string Results[2];
        for (int Fast = 0; Fast < 2; Fast++) {
            AES_UseProcessorPath(Fast == 1);
            Gcm G(Key);
            Results[Fast] = HexOf(G.Run(IV, AAD, Plain, Round % 2 == 0, Splits));
        }
        EXPECT_EQ(Results[0], Results[1]) << Round;
    }
    AES_UseProcessorPath(true);
}

TEST_F(AesGcmTest, ThroughTheCipherInterface) {
    EXPECT_STREQ(AESGCM_INTERFACE.Name, "AESGCM");
    EXPECT_EQ(AESGCM_INTERFACE.BlockSize, 16u);
    const GcmVector &V = Vectors[3];
    CryptSymmetric *Cs = nullptr;
    CryptSymmetric_Create(&Cs);
    CryptSymmetric_Reset(Cs, &AESGCM_INTERFACE);
    EXPECT_EQ(CryptSymmetric_SupportsCBC(Cs), 1);
    const Bytes Key = Hex(V.Key), AAD = Hex(V.AAD), Plain = Hex(V.Plain);
    Bytes IV = Hex(V.IV), Out(Plain.size()), Tag(16);
    CryptSymmetric_SetKey(Cs, Key.data(), 16);
    EXPECT_EQ(CryptSymmetric_SetAAD(Cs, AAD.data(), (int32)AAD.size()), 1);
    EXPECT_EQ(CryptSymmetric_EncryptCBC(Cs, IV.data(), 12, Plain.data(), Out.data(), 48), 1);
    EXPECT_EQ(CryptSymmetric_Encrypt(Cs, Plain.data() + 48, Out.data() + 48, 12), 1);
    EXPECT_EQ(CryptSymmetric_GetAuthTag(Cs, Tag.data(), 16), 1);
    EXPECT_EQ(HexOf(Out) + HexOf(Tag), std::string(V.Cipher) + V.Tag);
    // Reset makes a fresh context; keyed again it gives the same message.
    CryptSymmetric_Reset(Cs, &AESGCM_INTERFACE);
    CryptSymmetric_SetKey(Cs, Key.data(), 16);
    CryptSymmetric_SetAAD(Cs, AAD.data(), (int32)AAD.size());
    CryptSymmetric_EncryptCBC(Cs, IV.data(), 12, Plain.data(), Out.data(), 60);
    CryptSymmetric_GetAuthTag(Cs, Tag.data(), 16);
    EXPECT_EQ(HexOf(Out) + HexOf(Tag), std::string(V.Cipher) + V.Tag);
    CryptSymmetric_Delete(&Cs);
}

} // namespace
