// The store kinds over the certificate fixtures: thumbprints of every digest
// length as python's hashlib writes them, JWKS members matched on "use",
// "alg", "kid", "x5t" and "x5t#S256" (keys checked by verifying a real
// signature with them), the raw key store, and JWS headers that name a key
// without any certificate ("kid" or "x5t" alone), which every certificate
// store refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/rsa.h"
#include "crypto/trust/cert_store_jwks.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/cert_store_platform.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/x509.h"
#include "runtime/documents/json.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/crypto/certs/";

// A JSON text as a Dictionary (the document's root object).
struct Json {
    Dictionary *Document = nullptr;
    Dictionary *Root = nullptr;
    explicit Json(const std::string &Text) {
        Dictionary_Create(&Document);
        JSON *Parser = nullptr;
        JSON_Create(&Parser);
        JSON_SetDictionaryHandle(Parser, Document);
        EXPECT_TRUE(JSON_LoadBuffer(Parser, Text.data(), (int32)Text.size())) << Text;
        JSON_Delete(&Parser);
        Dictionary_SkipRoot(Document, &Root);
    }
    ~Json() { Dictionary_Delete(&Document); }
};

struct Certificate {
    X509 *Handle = nullptr;
    explicit Certificate(const std::string &Name) {
        const std::string Der = ReadFile(Folder + Name + ".der");
        X509_Create(&Handle);
        EXPECT_TRUE(X509_BuildFromBuffer(Handle, Der.data(), (uint32)Der.size())) << Name;
    }
    ~Certificate() { X509_Release(&Handle); }
};

int32 Trusted(CertStoreInterface *Store, const std::string &Name) {
    Certificate Subject(Name);
    uint32 Stop = 9;
    const int32 Answer = CertStoreInterface_X509IsTrusted(Store, Subject.Handle, &Stop);
    EXPECT_EQ(Stop, 0u);
    return Answer;
}

// Asks about a header; 1 only with a key, which is released.
int32 TrustedJWS(CertStoreInterface *Store, const std::string &Header, CryptAsymmetric **KeepKey = nullptr) {
    Json Parsed(Header);
    CryptAsymmetric *Key = nullptr;
    uint32 Stop = 0;
    const int32 Answer = CertStoreInterface_X509IsTrustedJWS(Store, Parsed.Root, &Key, &Stop);
    EXPECT_EQ(Answer != 0, Key != nullptr) << Header;
    if (KeepKey != nullptr) *KeepKey = Key;
    else if (Key != nullptr) CryptAsymmetric_Release(&Key);
    return Answer;
}

// Python over the fixtures, one result line per request.
std::string Python(const std::string &Body) {
    return RunPython("import base64,hashlib,json\nfrom cryptography import x509\nD='" + Folder +
                     "'\ndef der(n): return open(D+n+'.der','rb').read()\n"
                     "def b64(b): return base64.b64encode(b).decode()\n"
                     "def url(b): return base64.urlsafe_b64encode(b).rstrip(b'=').decode()\n"
                     "def num(i): return url(i.to_bytes((i.bit_length()+7)//8,'big'))\n" +
                     Body);
}

class StoreKindsTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
};

TEST_F(StoreKindsTest, ThumbprintsOfEveryLength) {
    for (const char *Hash : {"sha1", "sha224", "sha256", "sha384", "sha512"}) {
        SCOPED_TRACE(Hash);
        const std::string Thumbprint = Python(std::string("print(b64(hashlib.") + Hash + "(der('rsa_int')).digest()), end='')");
        Json Prints("{\"good\":\"" + Thumbprint + "\",\"number\":5,\"short\":\"" +
                    Python("print(b64(bytes(33)), end='')") + "\",\"bad\":\"@@@\"}");
        CertStoreThumbprint *Store = nullptr;
        CertStoreThumbprint_Create(&Store);
        Captured.clear();
        EXPECT_TRUE(CertStoreThumbprint_TrustDictionary(Store, Prints.Root));
        EXPECT_NE(Captured.find("Unable to detect hash for base64 thumbprint (AAAA"), std::string::npos);
        EXPECT_NE(Captured.find("Unable to decode certificate base64 thumbprint (@@@)"), std::string::npos);
        CertStoreInterface *Interface = nullptr;
        CertStoreThumbprint_GetInterfaceHandle(Store, &Interface);
        EXPECT_TRUE(Trusted(Interface, "rsa_int"));
        EXPECT_FALSE(Trusted(Interface, "rsa_root"));
        // Below the listed intermediate, through an "x5c" chain.
        const std::string X5C = Python("print(json.dumps([b64(der('rsa_leaf')), b64(der('rsa_int'))]), end='')");
        EXPECT_TRUE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"x5c\":" + X5C + "}"));
        EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"x5c\":[]}"));
        EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"x5c\":[\"@@\"]}"));
        // A key named without any certificate is never trusted here.
        EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"kid\":\"x\"}"));
        EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"x5t\":\"" + Thumbprint + "\"}"));
        CertStoreThumbprint_Reset(Store);
        EXPECT_FALSE(Trusted(Interface, "rsa_int"));
        CertStoreInterface_Release(&Interface);
        CertStoreThumbprint_Release(&Store);
    }
    Json Nothing("{\"a\":\"@@@\",\"b\":1}");
    CertStoreThumbprint *Store = nullptr;
    CertStoreThumbprint_Create(&Store);
    EXPECT_FALSE(CertStoreThumbprint_TrustDictionary(Store, Nothing.Root));
    CertStoreThumbprint_Release(&Store);
}

TEST_F(StoreKindsTest, PlatformRefusesHeadersWithoutCertificates) {
    CertStorePlatform *Store = nullptr;
    CertStorePlatform_Create(&Store);
    CertStoreInterface *Interface = nullptr;
    CertStorePlatform_GetInterfaceHandle(Store, &Interface);
    EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"kid\":\"x\"}"));
    EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"RS256\",\"x5t\":\"AAAA\"}"));
    CertStoreInterface_Release(&Interface);
    CertStorePlatform_Release(&Store);
}

TEST_F(StoreKindsTest, KeyStoreHandsOutItsBytes) {
    CertStoreKey *Store = nullptr;
    CertStoreKey_Create(&Store);
    CertStoreInterface *Interface = nullptr;
    CertStoreKey_GetInterfaceHandle(Store, &Interface);
    const uint8 *Key = nullptr;
    uint32 Size = 0;
    EXPECT_TRUE(CertStoreKey_Decode(Store, "AQID"));
    ASSERT_TRUE(CertStoreInterface_GetKey(Interface, &Key, &Size));
    EXPECT_EQ(std::string((const char *)Key, Size), std::string("\x01\x02\x03"));
    EXPECT_FALSE(Trusted(Interface, "rsa_root"));
    EXPECT_FALSE(TrustedJWS(Interface, "{\"alg\":\"HS256\",\"kid\":\"x\"}"));
    EXPECT_FALSE(CertStoreKey_Decode(Store, "A@"));
    EXPECT_FALSE(CertStoreInterface_GetKey(Interface, &Key, &Size));
    CertStoreInterface_Release(&Interface);
    CertStoreKey_Release(&Store);
}

TEST_F(StoreKindsTest, JwksMembersByUseAlgAndName) {
    // Members for rsa_int's key: by kid, by both thumbprints, one not for
    // signing, one whose modulus cannot be read ahead of a good twin.
    const std::string KeySet = Python(
        "c = x509.load_der_x509_certificate(der('rsa_int')); p = c.public_key().public_numbers()\n"
        "k = dict(kty='RSA', use='sig', alg='RS256', n=num(p.n), e=num(p.e))\n"
        "keys = [dict(k, kid='good'), dict(k, use='enc', kid='enc'), dict(k, kid='twin', n='@@'),\n"
        "        dict(k, kid='twin'), dict(k, alg='RS384', kid='good384'),\n"
        "        dict(k, kid='t256', **{'x5t#S256': url(hashlib.sha256(der('rsa_leaf')).digest())}),\n"
        "        dict(k, alg='RS384', kid='t1', x5t=url(hashlib.sha1(der('sha384_leaf')).digest())),\n"
        "        dict(k, kid='sha1', x5t=url(hashlib.sha1(der('sha1_leaf')).digest())),\n"
        "        dict(k, kid='encx', use='enc', x5t=url(hashlib.sha1(der('rsa_int')).digest()))]\n"
        "print(json.dumps(dict(keys=keys)))\n");
    Json Set(KeySet);
    CertStoreJWKS *Store = nullptr;
    CertStoreJWKS_Create(&Store);
    ASSERT_TRUE(CertStoreJWKS_SetJWKSHandle(Store, Set.Root));
    CertStoreInterface *Interface = nullptr;
    CertStoreJWKS_GetInterfaceHandle(Store, &Interface);

    // Certificates: by "x5t#S256" or "x5t" under the RS id of their hash.
    EXPECT_TRUE(Trusted(Interface, "rsa_leaf"));     // x5t#S256, RS256
    EXPECT_TRUE(Trusted(Interface, "sha384_leaf"));  // x5t, RS384
    EXPECT_FALSE(Trusted(Interface, "sha1_leaf"));   // SHA-1 signed: no RS id
    EXPECT_FALSE(Trusted(Interface, "rsa_int"));     // listed only for "enc"
    EXPECT_FALSE(Trusted(Interface, "rsa_root"));

    const std::string X5C = Python("print(json.dumps([b64(der('rsa_leaf'))]), end='')");
    const std::string Sha1 = Python("print(url(hashlib.sha1(der('sha384_leaf')).digest()), end='')");
    const struct {
        std::string Header;
        int32 Trusted;
    } Headers[] = {
        {R"({"alg":"RS256","kid":"good"})", 1},
        {R"({"alg":"RS256","kid":"twin"})", 1},
        {R"({"alg":"rs256","kid":"twin"})", 0}, // a header names its algorithm with case
        {R"({"alg":"RS256","kid":"enc"})", 0},
        {R"({"alg":"RS384","kid":"good"})", 0},
        {R"({"alg":"RS384","kid":"good384"})", 1},
        {R"({"alg":"RS384","x5t":")" + Sha1 + "\"}", 1},
        {R"({"alg":"RS256","kid":"none","x5c":)" + X5C + "}", 1},
        {R"({"kid":"good"})", 0},
        {R"({"alg":"HS256","kid":"good"})", 0},
    };
    for (const auto &Each : Headers) EXPECT_EQ(TrustedJWS(Interface, Each.Header), Each.Trusted) << Each.Header;

    // The key built from "n" and "e" verifies a signature rsa_int made.
    CryptAsymmetric *Key = nullptr;
    ASSERT_TRUE(TrustedJWS(Interface, R"({"alg":"RS256","kid":"good"})", &Key));
    const std::vector<std::string> Parts = [&] {
        std::vector<std::string> Lines;
        std::string Text = Python("c = x509.load_der_x509_certificate(der('rsa_leaf'))\n"
                                  "print(hashlib.sha256(c.tbs_certificate_bytes).hexdigest()); print(c.signature.hex())\n");
        for (size_t At = 0, End; (End = Text.find('\n', At)) != std::string::npos; At = End + 1)
            Lines.push_back(FromHex(Text.substr(At, End - At)));
        return Lines;
    }();
    ASSERT_EQ(Parts.size(), 2u);
    EXPECT_TRUE(CryptAsymmetric_Verify(Key, Parts[0].data(), 32, Parts[1].data(), (int32)Parts[1].size(),
                                       RSA_SIGNATURE_VERSION_PCS21));
    CryptAsymmetric_Release(&Key);
    CertStoreInterface_Release(&Interface);
    CertStoreJWKS_Release(&Store);
}

} // namespace
