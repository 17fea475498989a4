// ECDSA against Wycheproof (every DER and P1363 file of the seven curves it
// covers: valid signatures accepted, invalid ones refused), RFC 6979 A.2.3,
// A.2.5 and A.2.7 signatures as verification vectors (r and s of A.2.3 and
// A.2.7 derived by Python from the RFC's keys and nonces), the signature
// rules (r and s in 1 ... n - 1, strict DER), one case for each rule that
// only it catches (a fixture), and openssl on all eight curves: its
// signatures verify here and ours verify there.
#include "crypto/keys/ecdsa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/ec.h"
#include "tests/crypto/keys/ec_test_util.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using EcdsaTest = RuntimeTest;
using EcdsaDeathTest = EcdsaTest;
using ectest::Split;
using ectest::Unhex;

struct Key {
    ECDSA *Handle = nullptr;
    Key() { ECDSA_Create(&Handle); }
    ~Key() { ECDSA_Delete(&Handle); }
    bool Verify(const std::string &Digest, const std::string &Signature) {
        return ECDSA_Verify(Handle, Digest.data(), (int32)Digest.size(), Signature.data(), (int32)Signature.size(),
                            0) == 1;
    }
};

std::string Der(const std::string &R, const std::string &S) {
    auto Integer = [](std::string V) {
        V.erase(0, std::min(V.find_first_not_of('\0'), V.size() - 1));
        if ((uint8)V[0] & 0x80) V.insert(0, 1, '\0');
        return std::string("\x02", 1) + (char)V.size() + V;
    };
    const std::string Content = Integer(R) + Integer(S);
    return Content.size() < 128 ? std::string("\x30", 1) + (char)Content.size() + Content
                                : std::string("\x30\x81", 2) + (char)Content.size() + Content;
}

TEST_F(EcdsaTest, Wycheproof) {
    const auto Files =
        ectest::VectorFiles(R"(ecdsa_(secp192k1|secp192r1|secp224r1|secp256k1|secp256r1|secp384r1|secp521r1)_sha\d+(_p1363)?_test\.json\.gz)");
    SKIP_UNLESS(!Files.empty(), "no Wycheproof vectors in " << ectest::VectorDirectory());
    EXPECT_EQ(Files.size(), 25u);
    for (const std::string &File : Files) {
        const bool Raw = File.find("_p1363") != std::string::npos;
        std::istringstream Lines(ectest::Flatten(File, "publicKey.curve publicKey.uncompressed publicKeyDer sha",
                                                 "msg sig"));
        std::string Line, Hash;
        Key K;
        bool KeySet = false;
        int Accepted = 0, Refused = 0;
        while (std::getline(Lines, Line)) {
            const auto W = Split(Line);
            if (W[0] == "G") {
                const std::string Point = Unhex(W[2]), Spki = Unhex(W[3]);
                // The DER files' keys go through the SubjectPublicKeyInfo,
                // the P1363 ones through the encoded point.
                KeySet = Raw ? ECDSA_InitParams(K.Handle, ectest::OidOf(W[1])) &&
                                   ECDSA_SetPublicKey(K.Handle, Point.data(), (int32)Point.size())
                             : ECDSA_SetPublicKeyFromASN1(K.Handle, Spki.data(), (int32)Spki.size());
                EXPECT_TRUE(KeySet) << File << ": " << Line.substr(0, 80);
                Hash = W[4];
                continue;
            }
            std::string Signature = Unhex(W[4]);
            if (Raw) {
                char Converted[300];
                int32 Written = 0;
                Signature = ECDSA_SignatureFromRaw(K.Handle, Signature.data(), (int32)Signature.size(), Converted,
                                                   (int32)sizeof(Converted), &Written)
                                ? std::string(Converted, (size_t)Written)
                                : std::string();
            }
            const bool Valid = KeySet && K.Verify(ectest::Digest(Hash, Unhex(W[3])), Signature);
            EXPECT_NE(W[2], "acceptable") << File << " case " << W[1];
            EXPECT_EQ(Valid, W[2] == "valid") << File << " case " << W[1];
            (Valid ? Accepted : Refused)++;
        }
        EXPECT_GT(Accepted, 0) << File;
        EXPECT_GT(Refused, 0) << File;
    }
}

// RFC 6979 A.2: the key d, the message, the hash and the nonce k, with r
// and s where we carry the RFC's own (A.2.5); the others are computed by
// Python from d and k as the RFC's signer did.
struct Rfc6979 {
    const char *Oid, *Hash, *Message, *D, *K, *R, *S;
};

const Rfc6979 Rfc6979Vectors[] = {
    {"1.2.840.10045.3.1.1", "SHA1", "sample", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "37D7CA00D2C7B0E5E412AC03BD44BA837FDD5B28CD3B0021", nullptr, nullptr},
    {"1.2.840.10045.3.1.1", "SHA256", "sample", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "32B1B6D7D42A05CB449065727A84804FB1A3E34D8F261496", nullptr, nullptr},
    {"1.2.840.10045.3.1.1", "SHA512", "sample", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "A2AC7AB055E4F20692D49209544C203A7D1F2C0BFBC75DB1", nullptr, nullptr},
    {"1.2.840.10045.3.1.1", "SHA1", "test", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "D9CF9C3D3297D3260773A1DA7418DB5537AB8DD93DE7FA25", nullptr, nullptr},
    {"1.2.840.10045.3.1.1", "SHA256", "test", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "5C4CE89CF56D9E7C77C8585339B006B97B5F0680B4306C6C", nullptr, nullptr},
    {"1.2.840.10045.3.1.1", "SHA512", "test", "6FAB034934E4C0FC9AE67F5B5659A9D7D1FEFD187EE09FD4",
     "0758753A5254759C7CFBAD2E2D9B0792EEE44136C9480527", nullptr, nullptr},
    {"1.2.840.10045.3.1.7", "SHA256", "sample", "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60",
     "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
     "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
    {"1.2.840.10045.3.1.7", "SHA256", "test", "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "D16B6AE827F17175E040871A1C7EC3500192C4C92677336EC2537ACAEE0008E0",
     "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367",
     "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    {"1.3.132.0.35", "SHA1", "sample",
     "0FAD06DAA62BA3B25D2FB40133DA757205DE67F5BB0018FEE8C86E1B68C7E75CAA896EB32F1F47C70855836A6D16FCC1466F6D8FBEC67DB8"
     "9EC0C08B0E996B83538",
     "089C071B419E1C2820962321787258469511958E80582E95D8378E0C2CCDB3CB42BEDE42F50E3FA3C71F5A76724281D31D9C89F0F91FC1BE"
     "4918DB1C03A5838D0F9",
     nullptr, nullptr},
    {"1.3.132.0.35", "SHA256", "sample",
     "0FAD06DAA62BA3B25D2FB40133DA757205DE67F5BB0018FEE8C86E1B68C7E75CAA896EB32F1F47C70855836A6D16FCC1466F6D8FBEC67DB8"
     "9EC0C08B0E996B83538",
     "0EDF38AFCAAECAB4383358B34D67C9F2216C8382AAEA44A3DAD5FDC9C32575761793FEF24EB0FC276DFC4F6E3EC476752F043CF01415387"
     "470BCBD8678ED2C7E1A0",
     nullptr, nullptr},
    {"1.3.132.0.35", "SHA512", "test",
     "0FAD06DAA62BA3B25D2FB40133DA757205DE67F5BB0018FEE8C86E1B68C7E75CAA896EB32F1F47C70855836A6D16FCC1466F6D8FBEC67DB8"
     "9EC0C08B0E996B83538",
     "16200813020EC986863BEDFC1B121F605C1215645018AEA1A7B215A564DE9EB1B38A67AA1128B80CE391C4FB71187654AAA3431027BFC7F"
     "395766CA988C964DC56D",
     nullptr, nullptr},
};

TEST_F(EcdsaTest, Rfc6979Signatures) {
    // Python computes Q = d·G and, where the RFC's r and s are not carried,
    // r = (k·G).x mod n and s = k^-1 (e + d·r) mod n from the RFC's k.
    const char *Model = R"(
import sys
for line in sys.stdin:
    p, a, b, gx, gy, n, d, k, e, bits = (int(v, 16) for v in line.split())
    def add(P, Q):
        if P is None: return Q
        if P == Q: l = (3 * P[0] * P[0] + a) * pow(2 * P[1], -1, p) % p
        else: l = (Q[1] - P[1]) * pow(Q[0] - P[0], -1, p) % p
        x = (l * l - P[0] - Q[0]) % p
        return (x, (l * (P[0] - x) - P[1]) % p)
    def mul(k, P):
        R = None
        while k:
            if k & 1: R = add(R, P)
            P = add(P, P); k >>= 1
        return R
    Q = mul(d, (gx, gy)); r = mul(k, (gx, gy))[0] % n
    print('%x %x %x %x' % (Q[0], Q[1], r, pow(k, -1, n) * (e + d * r) % n))
)";
    for (const Rfc6979 &V : Rfc6979Vectors) {
        Key K;
        ASSERT_TRUE(ECDSA_InitParams(K.Handle, V.Oid));
        EC *Curve = nullptr;
        ECDSA_GetECHandle(K.Handle, &Curve);
        char Hex[8][200];
        BigInt *Numbers[] = {EC_GetP(Curve), EC_GetA(Curve), EC_GetB(Curve), EC_GetG(Curve)->X,
                             EC_GetG(Curve)->Y, EC_GetN(Curve)};
        std::string Request;
        for (int I = 0; I < 6; I++) {
            BigInt_ExportHex(Numbers[I], Hex[I], 200);
            Request += std::string(Hex[I]) + " ";
        }
        // e: the digest cut to the order's bit length, as the RFC's bits2int.
        const std::string Digest = ectest::Digest(V.Hash, V.Message);
        BigIntLocal E;
        BigInt_ImportBinary(E, Digest.data(), (int32)Digest.size());
        const int32 Excess = 8 * (int32)Digest.size() - BigInt_BitCount(EC_GetN(Curve));
        if (Excess > 0) BigInt_ShiftRight(E, E, Excess);
        BigInt_ExportHex(E, Hex[6], 200);
        Request += std::string(V.D) + " " + V.K + " " + (Hex[6][0] ? Hex[6] : "0") + " 0\n";
        std::string Answer = RunPython(Model, Request);
        if (!Answer.empty() && Answer.back() == '\n') Answer.pop_back();
        const auto Out = Split(Answer);
        ASSERT_EQ(Out.size(), 4u);
        BigIntLocal X, Y;
        BigInt_ImportHex(X, Out[0].c_str());
        BigInt_ImportHex(Y, Out[1].c_str());
        ASSERT_TRUE(ECDSA_SetPublicKeyPair(K.Handle, X, Y));
        auto Even = [](const std::string &Hex) { return FromHex(Hex.size() % 2 ? "0" + Hex : Hex); };
        const std::string R = Even(Out[2]), S = Even(Out[3]);
        if (V.R != nullptr) {
            EXPECT_EQ(R, FromHex(V.R)) << V.Oid;
            EXPECT_EQ(S, FromHex(V.S)) << V.Oid;
        }
        EXPECT_TRUE(K.Verify(Digest, Der(R, S))) << V.Oid << " " << V.Hash << " " << V.Message;
        std::string Other = Digest;
        Other[0] ^= 1;
        EXPECT_FALSE(K.Verify(Other, Der(R, S)));
    }
}

TEST_F(EcdsaTest, SignatureRules) {
    // RFC 6979 A.2.5, SHA-256, "sample".
    const Rfc6979 &V = Rfc6979Vectors[6];
    Key K;
    ASSERT_TRUE(ECDSA_InitParams(K.Handle, V.Oid));
    const std::string Point = FromHex("0460FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB67903FE1008B8"
                                      "BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
    ASSERT_TRUE(ECDSA_SetPublicKey(K.Handle, Point.data(), (int32)Point.size()));
    const std::string Digest = ectest::Digest("SHA256", "sample");
    const std::string R = FromHex(V.R), S = FromHex(V.S);
    const std::string N = FromHex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
    auto Arith = [](const std::string &A, const std::string &B, bool Subtract) {
        // Big-endian A ± B over 33 bytes (room for a carry).
        std::string X(33 - A.size(), '\0'), Y(33 - B.size(), '\0'), Out(33, '\0');
        X += A;
        Y += B;
        int Carry = 0;
        for (int I = 32; I >= 0; I--) {
            int Value = (uint8)X[I] + (Subtract ? -(int)(uint8)Y[I] : (uint8)Y[I]) + Carry;
            Carry = Value < 0 ? -1 : Value >> 8;
            Out[I] = (char)(Value & 0xFF);
        }
        return Out;
    };
    EXPECT_TRUE(K.Verify(Digest, Der(R, S)));
    EXPECT_TRUE(K.Verify(Digest, Der(R, Arith(N, S, true))));   // n - s
    EXPECT_FALSE(K.Verify(Digest, Der(Arith(R, N, false), S))); // r + n
    EXPECT_FALSE(K.Verify(Digest, Der(std::string(1, '\0'), S)));
    EXPECT_FALSE(K.Verify(Digest, Der(R, N)));                  // s = n
    const std::string Good = Der(R, S);
    EXPECT_FALSE(K.Verify(Digest, Good + std::string(1, '\0'))); // trailing byte
    std::string Indefinite = "\x30\x80" + Good.substr(2) + std::string(2, '\0');
    EXPECT_FALSE(K.Verify(Digest, Indefinite));
    // A superfluous 00 in front of r (whose top bit is set already: 00 00 EF…).
    std::string Padded = Good;
    Padded.insert(4, 1, '\0');
    Padded[3] = (char)(Padded[3] + 1);
    Padded[1] = (char)(Padded[1] + 1);
    EXPECT_FALSE(K.Verify(Digest, Padded));
    // r without its 00: a negative INTEGER.
    std::string Negative = Good;
    Negative.erase(4, 1);
    Negative[3] = (char)(Negative[3] - 1);
    Negative[1] = (char)(Negative[1] - 1);
    EXPECT_FALSE(K.Verify(Digest, Negative));
    // Three INTEGERs.
    std::string Three = Good + "\x02\x01\x01";
    Three[1] = (char)(Three[1] + 3);
    EXPECT_FALSE(K.Verify(Digest, Three));
    EXPECT_FALSE(K.Verify(Digest, ""));
    // Raw r || s must be exactly 64 bytes on P-256.
    char Out[100];
    int32 Written = 0;
    const std::string RawSig = R + S;
    EXPECT_TRUE(ECDSA_SignatureFromRaw(K.Handle, RawSig.data(), 64, Out, sizeof(Out), &Written));
    EXPECT_EQ(std::string(Out, (size_t)Written), Good);
    EXPECT_FALSE(ECDSA_SignatureFromRaw(K.Handle, RawSig.data(), 63, Out, sizeof(Out), &Written));
    const std::string Longer = RawSig + "x";
    EXPECT_FALSE(ECDSA_SignatureFromRaw(K.Handle, Longer.data(), 65, Out, sizeof(Out), &Written));
    // Keys: d = 0 and d = n are refused; a key without d does not sign.
    auto PrivateKey = [](const std::string &D) { return std::string("\x30", 1) + (char)(5 + D.size()) +
                                                        std::string("\x02\x01\x01\x04", 4) + (char)D.size() + D; };
    EXPECT_FALSE(ECDSA_SetPrivateKey(K.Handle, PrivateKey(std::string(32, '\0')).data(), 39));
    EXPECT_FALSE(ECDSA_SetPrivateKey(K.Handle, PrivateKey(N).data(), 39));
    EXPECT_FALSE(ECDSA_HasPrivateKey(K.Handle));
    char Signature[80];
    EXPECT_FALSE(ECDSA_Sign(K.Handle, Digest.data(), 32, Signature, sizeof(Signature), &Written));
    ASSERT_TRUE(ECDSA_SetPrivateKey(K.Handle, PrivateKey(FromHex(V.D)).data(), 39));
    ASSERT_TRUE(ECDSA_Sign(K.Handle, Digest.data(), 32, Signature, sizeof(Signature), &Written));
    EXPECT_EQ((uint8)Signature[0], 0x30);
    EXPECT_EQ((uint8)Signature[1], Written - 2);
    // Signing left Q alone, so our signature verifies under the same key.
    EXPECT_TRUE(K.Verify(Digest, std::string(Signature, (size_t)Written)));
    EXPECT_EQ(ECDSA_PublicKeyEncrypt(K.Handle, "x", 1, Signature, sizeof(Signature), &Written), 0);
    // Another curve forgets the key.
    ASSERT_TRUE(ECDSA_InitParams(K.Handle, "1.3.132.0.34"));
    EXPECT_FALSE(ECDSA_HasPrivateKey(K.Handle));
    EXPECT_FALSE(K.Verify(Digest, Good));
}

// tests/fixtures/crypto/make_ecdsa_edges.py: on a P-256 key made for short r
// and s with x(R) >= n, x reduced mod n, a SHA-512 digest cut to its leftmost
// 32 bytes, n - s taken, s + n, r + n and a superfluous 00 before r or s
// (each still within 32 bytes) refused; on secp224k1 SHA-256 shifted to the
// order's 225 bits, and not merely cut to 29 bytes.
TEST_F(EcdsaTest, OneCaseForEachRule) {
    std::istringstream Lines(ReadFile(RUNTIME_SOURCE_DIR "/tests/fixtures/crypto/ecdsa_edges.txt"));
    int Cases = 0;
    for (std::string Line; std::getline(Lines, Line); Cases++) {
        const auto W = Split(Line);
        ASSERT_EQ(W.size(), 6u);
        Key K;
        const std::string Point = Unhex(W[2]);
        ASSERT_TRUE(ECDSA_InitParams(K.Handle, W[1].c_str()) &&
                    ECDSA_SetPublicKey(K.Handle, Point.data(), (int32)Point.size()))
            << W[0];
        EXPECT_EQ(K.Verify(Unhex(W[3]), Unhex(W[4])), W[5] == "1") << W[0];
    }
    EXPECT_EQ(Cases, 8);
}

TEST_F(EcdsaTest, PublicKeyInterfaceRow) {
    const CryptAsymmetricInterface *Interface = nullptr;
    EXPECT_EQ(CryptAsymmetric_InterfaceFromName("Ecdsa", &Interface), 1);
    EXPECT_EQ(Interface, &ECDSA_INTERFACE);
    EXPECT_EQ(CryptAsymmetric_InterfaceFromOid("1.2.840.10045.2.1", &Interface), 1);
    EXPECT_EQ(Interface, &ECDSA_INTERFACE);
    // The RFC 6979 A.2.5 key as a certificate carries it.
    const std::string Spki = FromHex("3059301306072A8648CE3D020106082A8648CE3D030107034200"
                                     "0460FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
                                     "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
    auto Load = [](const std::string &Der, CryptAsymmetric *Key) {
        ASN1 *Root = nullptr;
        ASN1_Create(&Root);
        const int32 Result = ASN1_Decode(Root, Der.data(), (int32)Der.size()) &&
                             CryptAsymmetric_SetPublicKeyFromASN1(Key, ASN1_GetElement(Root, 0));
        ASN1_Delete(&Root);
        return Result;
    };
    CryptAsymmetric *Key = nullptr;
    CryptAsymmetric_Create(&Key);
    ASSERT_TRUE(Load(Spki, Key));
    EXPECT_EQ(CryptAsymmetric_IsECDSA(Key), 1);
    EXPECT_EQ(CryptAsymmetric_IsRSA(Key), 0);
    const std::string Digest = ectest::Digest("SHA256", "sample");
    const std::string Signature = Der(FromHex(Rfc6979Vectors[6].R), FromHex(Rfc6979Vectors[6].S));
    EXPECT_EQ(CryptAsymmetric_Verify(Key, Digest.data(), 32, Signature.data(), (int32)Signature.size(), 2), 1);
    char Out[100];
    int32 Written = 0;
    EXPECT_EQ(CryptAsymmetric_PublicKeyEncrypt(Key, "x", 1, Out, sizeof(Out), &Written), 0);
    EXPECT_EQ(CryptAsymmetric_CanSign(Key), 0);
    // Unused bits, an unknown curve (last arc 8) and a point off the curve fail.
    std::string Bad = Spki;
    Bad[25] = 1;
    EXPECT_FALSE(Load(Bad, Key));
    Bad = Spki;
    Bad[22] = 8;
    EXPECT_FALSE(Load(Bad, Key));
    Bad = Spki;
    Bad.back() ^= 1;
    EXPECT_FALSE(Load(Bad, Key));
    EXPECT_EQ(CryptAsymmetric_Reset(Key), 1);
    EXPECT_EQ(CryptAsymmetric_IsECDSA(Key), 1);
    EXPECT_EQ(CryptAsymmetric_Verify(Key, Digest.data(), 32, Signature.data(), (int32)Signature.size(), 2), 0);
    CryptAsymmetric_Delete(&Key);
}

TEST_F(EcdsaDeathTest, SignBufferTooSmall) {
    Key K;
    ASSERT_TRUE(ECDSA_InitParams(K.Handle, "1.2.840.10045.3.1.7"));
    char Signature[71];
    int32 Written = 0;
    EXPECT_DEATH(ECDSA_Sign(K.Handle, "01234567890123456789012345678901", 32, Signature, sizeof(Signature), &Written),
                 "Signature buffer is too small");
}

TEST_F(EcdsaTest, OpenSslBothWays) {
    SKIP_UNLESS(ectest::HaveOpenSsl(), "openssl is missing");
    TempDirectory Dir;
    for (const ectest::CurveName &Curve : ectest::Curves) {
        for (const char *Hash : {"SHA256", "SHA512"}) {
            const std::string Key = Dir / "key.pem", KeyDer = Dir / "key.der", Pub = Dir / "pub.der",
                              DigestFile = Dir / "digest.bin", SigFile = Dir / "sig.der";
            ASSERT_EQ(ectest::Shell("openssl ecparam -name " + std::string(Curve.OpenSsl) + " -genkey -noout -out " +
                                    Key + " && openssl ec -in " + Key + " -outform DER -out " + KeyDer +
                                    " && openssl ec -in " + Key + " -pubout -outform DER -out " + Pub),
                      0)
                << Curve.OpenSsl;
            const std::string Digest = ectest::Digest(Hash, std::string("message on ") + Curve.OpenSsl);
            std::ofstream(DigestFile, std::ios::binary) << Digest;
            // Theirs, verified here.
            ASSERT_EQ(ectest::Shell("openssl pkeyutl -sign -inkey " + Key + " -in " + DigestFile + " -out " + SigFile),
                      0);
            ::Key Ours;
            const std::string PublicDer = ReadFile(Pub), PrivateDer = ReadFile(KeyDer);
            ASSERT_TRUE(ECDSA_SetPublicKeyFromASN1(Ours.Handle, PublicDer.data(), (int32)PublicDer.size()));
            EXPECT_TRUE(Ours.Verify(Digest, ReadFile(SigFile))) << Curve.OpenSsl << " " << Hash;
            // Ours, verified there.
            ::Key Signer;
            ASSERT_TRUE(ECDSA_SetPrivateKeyFromASN1(Signer.Handle, PrivateDer.data(), (int32)PrivateDer.size()));
            EXPECT_TRUE(ECDSA_HasPrivateKey(Signer.Handle));
            char Signature[160];
            int32 Written = 0;
            ASSERT_TRUE(ECDSA_Sign(Signer.Handle, Digest.data(), (int32)Digest.size(), Signature, sizeof(Signature),
                                   &Written));
            // The SEQUENCE length in one byte, behind 81 from 128 bytes on (P-521).
            const bool Long = std::string(Curve.OpenSsl) == "secp521r1";
            EXPECT_EQ((uint8)Signature[1], Long ? 0x81 : Written - 2);
            if (Long) {
                EXPECT_EQ((uint8)Signature[2], Written - 3);
            }
            std::ofstream(SigFile, std::ios::binary | std::ios::trunc) << std::string(Signature, (size_t)Written);
            EXPECT_EQ(ectest::Shell("openssl pkeyutl -verify -pubin -keyform DER -inkey " + Pub + " -in " +
                                    DigestFile + " -sigfile " + SigFile),
                      0)
                << Curve.OpenSsl << " " << Hash;
        }
    }
}

} // namespace
