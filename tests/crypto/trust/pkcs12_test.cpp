// PKCS#12 bundles written by `openssl pkcs12 -export -legacy` with RC4 for
// key and certificates and a SHA-1 MAC: RSA and P-256 keys, empty and
// 40-character passwords (P of 128 bytes), a chain of two; the key signs a
// digest its certificate verifies. Refused with their messages: a wrong
// password, PBES2 bundles (with a SHA-1 MAC and openssl's default), version 1.
#include "crypto/trust/pkcs12.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/digests/sha256.h"
#include "runtime/debug.h"
#include "tests/support/log_capture.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

struct Loaded {
    int32 Result = 0;
    int32 Certificates = 0;
    bool Signs = false;
    std::string Log;
};

Loaded Load(const std::string &Der, const char *Password, const std::string &LeafDer = "") {
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    EXPECT_TRUE(ASN1_Decode(Tree, Der.data(), (int32)Der.size()));
    PKCS12 *Bundle = nullptr;
    PKCS12_Create(&Bundle);
    Captured.clear();
    Loaded Out;
    Out.Result = PKCS12_Build(Bundle, Tree, Password);
    Out.Log = Captured;
    X509 *Certificate = nullptr;
    while (PKCS12_Get(Bundle, Out.Certificates, &Certificate)) Out.Certificates++;
    // The key signs; the leaf's public key verifies.
    uint8 Digest[32] = {1, 2, 3, 4}, Signature[600];
    int32 Written = 0;
    X509 *Leaf = nullptr;
    if (Out.Result && !LeafDer.empty() && PKCS12_Sign(Bundle, Digest, 32, Signature, sizeof(Signature), &Written)) {
        X509_Create(&Leaf);
        // RSA signs the bytes it is given (the TLS form, mode 1).
        Out.Signs = X509_BuildFromBuffer(Leaf, LeafDer.data(), (uint32)LeafDer.size()) &&
                    X509_VerifyDigest(Leaf, Digest, 32, Signature, (uint32)Written, 1);
        X509_Release(&Leaf);
    }
    PKCS12_Release(&Bundle);
    ASN1_Release(&Tree);
    return Out;
}

class Pkcs12Test : public RuntimeTest {
  protected:
    TempDirectory Folder;
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLog);
        SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
        const std::string Script =
            "cd " + Folder.Path +
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=p12-ca -days 2"
            " && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key"
            " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.key"
            " && for k in rsa p256; do openssl req -new -key $k.key -subj /CN=p12-$k -out $k.csr"
            " && openssl x509 -req -in $k.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out $k.pem"
            " && openssl x509 -in $k.pem -outform DER -out $k.der; done";
        ASSERT_EQ(system(("(" + Script + ") >/dev/null 2>&1").c_str()), 0);
    }
    std::string Export(const std::string &Key, const std::string &Password, const std::string &Options) {
        const std::string Command = "cd " + Folder.Path + " && openssl pkcs12 -export -in " + Key + ".pem -inkey " +
                                    Key + ".key -certfile ca.pem -passout 'pass:" + Password + "' " + Options +
                                    " -out out.p12 >/dev/null 2>&1";
        EXPECT_EQ(system(Command.c_str()), 0) << Options;
        return ReadFile(Folder / "out.p12");
    }
};

constexpr const char *Rc4 = "-legacy -keypbe PBE-SHA1-RC4-128 -certpbe PBE-SHA1-RC4-128 -macalg sha1";

TEST_F(Pkcs12Test, LegacyRc4BundlesLoadKeyAndChain) {
    const std::string Long = "0123456789abcdefghijABCDEFGHIJ0123456789";
    ASSERT_EQ(Long.size(), 40u);
    for (const char *Key : {"rsa", "p256"})
        for (const std::string &Password : {std::string(), std::string("hunter2"), Long}) {
            const std::string Der = Export(Key, Password, Rc4);
            const Loaded Out = Load(Der, Password.c_str(), ReadFile(Folder / (std::string(Key) + ".der")));
            EXPECT_EQ(Out.Result, 1) << Key << " '" << Password << "'\n" << Out.Log;
            EXPECT_EQ(Out.Certificates, 2) << Key;
            EXPECT_TRUE(Out.Signs) << Key << " '" << Password << "'";
            const Loaded Wrong = Load(Der, (Password + "x").c_str());
            EXPECT_EQ(Wrong.Result, 0);
            EXPECT_EQ(Wrong.Certificates, 0);
            EXPECT_NE(Wrong.Log.find("PKCS12 failed verification"), std::string::npos) << Wrong.Log;
        }
}

TEST_F(Pkcs12Test, OtherProfilesFailWithTheirMessages) {
    for (const char *Options : {"-macalg sha1", ""}) {
        const Loaded Out = Load(Export("rsa", "pw", Options), "pw");
        EXPECT_EQ(Out.Result, 0) << Options;
        EXPECT_NE(Out.Log.find("PKCS12 must use PBE-SHA1-RC4-128 (1.2.840.113549.1.5.13)"), std::string::npos)
            << Options << "\n" << Out.Log;
    }
    // Version 1: refused before the MAC is looked at.
    std::string Der = Export("rsa", "pw", Rc4);
    const size_t At = Der.find(std::string("\x02\x01\x03", 3));
    ASSERT_LT(At, 8u);
    Der[At + 2] = 1;
    const Loaded Out = Load(Der, "wrong");
    EXPECT_NE(Out.Log.find("PKCS12 must be version 3 (1)"), std::string::npos) << Out.Log;
    EXPECT_EQ(Out.Log.find("failed verification"), std::string::npos);
}

TEST_F(Pkcs12Test, TruncatedBundlesFailQuietly) {
    const std::string Der = Export("p256", "pw", Rc4);
    for (size_t Cut = 1; Cut < Der.size(); Cut += 131) {
        ASN1 *Tree = nullptr;
        ASN1_Create(&Tree);
        ASN1_Decode(Tree, Der.data(), (int32)Cut);
        PKCS12 *Bundle = nullptr;
        PKCS12_Create(&Bundle);
        EXPECT_EQ(PKCS12_Build(Bundle, Tree, "pw"), 0);
        PKCS12_Release(&Bundle);
        ASN1_Release(&Tree);
    }
}

} // namespace
