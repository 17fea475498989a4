// JWS documents: RFC 7515 A.1 exactly; documents signed by node's crypto
// module (jws/make_jws.js) for all nine algorithms through every store path
// ("x5c" with the platform store over a fixture anchor, a thumbprint store,
// JWKS by "kid", "x5t" and "x5t#S256", a key store, an HS key store), each
// also with a changed signature byte, expired and not yet valid; the
// algorithm bound to the key (no "none", no HS keyed with a public key, no
// RS with an EC key or ES on another curve); headers with a member twice,
// "crit" or "b64", and HS secrets in any public key or certificate form,
// each signed by openssl; malformed texts; the switch; Wycheproof's P1363
// ECDSA files through the JWS signature check.
#include "crypto/trust/jws.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/digests/hmac.h"
#include "crypto/digests/sha256.h"
#include "crypto/keys/ecdsa.h"
#include "crypto/trust/authenticate.h"
#include "crypto/trust/cert_store_jwks.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/cert_store_platform.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509_internal.h"
#include "runtime/text/base64.h"
#include "runtime/time.h"
#include "tests/crypto/keys/ec_test_util.h"
#include "tests/support/certificates.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string B64(const std::string &Bytes, bool Url = false) {
    std::string Out(Bytes.size() * 2 + 8, '\0');
    int32 Written = 0;
    if (Url) Base64_UrlEncode(Bytes.data(), (int32)Bytes.size(), Out.data(), (int32)Out.size(), &Written);
    else Base64_Encode(Bytes.data(), (int32)Bytes.size(), Out.data(), (int32)Out.size(), &Written);
    Out.resize((size_t)Written);
    return Out;
}

// One decode: its result, the JSON error and the payload's "app".
struct Decoded {
    int32 Result = 0;
    int32 Error = 0;
    std::string App;
};

Decoded Decode(CertStoreInterface *Store, const std::string &Text, int32 Verify = 1, bool Claims = true) {
    Dictionary *Document = nullptr;
    Dictionary_Create(&Document);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Document);
    JWSClaims *Checks = nullptr;
    JWSClaims_Create(&Checks);
    JWSClaims_Add(Checks, (void *)1, JWSClaim_Exp);
    JWSClaims_Add(Checks, (void *)1, JWSClaim_Nbf);
    Decoded Out;
    Out.Result = JWS_Decode(Json, Claims ? Checks : nullptr, Store, Text.data(), (int32)Text.size(), Verify);
    JSON_GetLastError(Json, &Out.Error);
    Dictionary *Root = nullptr;
    char App[64] = "";
    if (Dictionary_SkipRoot(Document, &Root) && Root != nullptr &&
        (Dictionary_GetStringByKey(Root, "app", App, sizeof(App)) || Dictionary_GetStringByKey(Root, "iss", App, sizeof(App))))
        Out.App = App;
    JWSClaims_Release(&Checks);
    JSON_Release(&Json);
    Dictionary_Release(&Document);
    return Out;
}

// A store of one kind, asked through a list as tasks ask theirs.
struct Store {
    CertStoreList *List = nullptr;
    CertStoreInterface *Interface = nullptr;
    explicit Store(CertStoreInterface *Member) {
        CertStoreList_Create(&List);
        CertStoreList_Add(List, Member);
        CertStoreInterface_Release(&Member);
        CertStoreList_GetInterfaceHandle(List, &Interface);
    }
    ~Store() {
        CertStoreInterface_Release(&Interface);
        CertStoreList_Release(&List);
    }
};

std::unique_ptr<Store> KeyStore(const std::string &Bytes) {
    CertStoreKey *Key = nullptr;
    CertStoreKey_Create(&Key);
    EXPECT_TRUE(CertStoreKey_Decode(Key, B64(Bytes).c_str()));
    CertStoreInterface *Interface = nullptr;
    CertStoreKey_GetInterfaceHandle(Key, &Interface);
    CertStoreKey_Release(&Key);
    return std::make_unique<Store>(Interface);
}

class JwsTest : public RuntimeTest {};

TEST_F(JwsTest, Rfc7515AppendixA1) {
    const std::string Text = "eyJ0eXAiOiJKV1QiLA0KICJhbGciOiJIUzI1NiJ9"
                             ".eyJpc3MiOiJqb2UiLA0KICJleHAiOjEzMDA4MTkzODAsDQogImh0dHA6Ly9leGFtcGxlLmNvbS9pc19yb290Ijp0cnVlfQ"
                             ".dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
    std::string Key(128, '\0');
    int32 Written = 0;
    const char *Jwk = "AyM1SysPpbyDfgZld3umj1qzKObwVMkoqQ-EstJQLr_T-1qS0gZH75aKtMN3Yj0iPS4hcgUuTwjAzZr1Z9CAow";
    ASSERT_TRUE(Base64_UrlDecode(Jwk, (int32)strlen(Jwk), Key.data(), (int32)Key.size(), &Written));
    Key.resize((size_t)Written);
    auto Secret = KeyStore(Key);
    // "exp" lies in 2011: the signature holds, the claim does not.
    Decoded Out = Decode(Secret->Interface, Text, 1, false);
    EXPECT_EQ(Out.Result, 1);
    EXPECT_EQ(Out.App, "joe");
    Out = Decode(Secret->Interface, Text);
    EXPECT_EQ(Out.Result, 0);
    EXPECT_EQ(Out.App, "");
    std::string Changed = Text;
    Changed[Changed.size() - 2] = Changed[Changed.size() - 2] == 'X' ? 'Y' : 'X';
    Out = Decode(Secret->Interface, Changed, 1, false);
    EXPECT_EQ(Out.Result, 0);
    EXPECT_EQ(Out.Error, JSON_ERROR_AUTHENTICATE);
    // Unchecked, a well-formed but wrong signature passes.
    EXPECT_EQ(Decode(nullptr, Changed, 0, false).Result, 1);
}

// Keys, certificates and documents made once for the node tests.
class NodeDocuments : public RuntimeTest {
  protected:
    static inline TempDirectory *Folder = nullptr;
    static inline std::vector<std::vector<std::string>> Lines;

    static void SetUpTestSuite() {
        if (system("node --version >/dev/null 2>&1") != 0 || system("openssl version >/dev/null 2>&1") != 0) return;
        Folder = new TempDirectory();
        const std::string D = Folder->Path;
        std::string Script = "cd " + D + " && head -c 32 /dev/urandom > hs.key"
                             " && openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.pem";
        for (const char *Curve : {"p256:P-256", "p384:P-384", "p521:P-521"}) {
            const std::string Pair = Curve, Name = Pair.substr(0, 4), Nist = Pair.substr(5);
            Script += " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:" + Nist + " -out " + Name + ".pem";
        }
        for (const char *Name : {"rsa", "p256", "p384", "p521"})
            Script += std::string(" && openssl req -x509 -new -key ") + Name + ".pem -subj /CN=jws-" + Name +
                      " -days 2 -outform DER -out " + Name + ".der";
        if (system((Script + " 2>/dev/null").c_str()) != 0) return;
        std::istringstream Out(
            CommandOutput("node " RUNTIME_SOURCE_DIR "/tests/crypto/jws/make_jws.js " + D));
        for (std::string Line; std::getline(Out, Line);) Lines.push_back(ectest::Split(Line));
    }
    static void TearDownTestSuite() {
        delete Folder;
        Folder = nullptr;
        Lines.clear();
    }
    void SetUp() override {
        RuntimeTest::SetUp();
        SKIP_UNLESS(!Lines.empty(), "node or openssl missing");
    }
    static std::string File(const std::string &Name) { return ReadFile(*Folder / Name); }
    // The PKCS#8 key's public half as a SubjectPublicKeyInfo.
    static std::string PublicDer(const std::string &Name) {
        return CommandOutput("openssl pkey -in " + (*Folder / Name) + ".pem -pubout -outform DER 2>/dev/null");
    }
    static std::string KeyOf(const std::string &Alg) {
        if (Alg[0] == 'R' || Alg[0] == 'r') return "rsa";
        return Alg == "ES256" ? "p256" : Alg == "ES384" ? "p384" : "p521";
    }
};

TEST_F(NodeDocuments, EveryAlgorithmThroughEveryStorePath) {
    // The stores, by path and key.
    std::map<std::string, std::unique_ptr<Store>> Stores;
    {
        WriteCertificatesPem(*Folder / "anchors.pem", {File("rsa.der"), File("p256.der"), File("p384.der"), File("p521.der")});
        Platform_SetCertificateTrust((*Folder / "anchors.pem").c_str(), nullptr);
        CertStorePlatform *Platform = nullptr;
        CertStorePlatform_Create(&Platform);
        CertStoreInterface *Interface = nullptr;
        CertStorePlatform_GetInterfaceHandle(Platform, &Interface);
        CertStorePlatform_Release(&Platform);
        Stores["platform"] = std::make_unique<Store>(Interface);

        CertStoreThumbprint *Thumbprints = nullptr;
        CertStoreThumbprint_Create(&Thumbprints);
        for (const char *Name : {"rsa", "p256", "p384", "p521"}) {
            const std::string Der = File(std::string(Name) + ".der");
            uint8 Digest[32];
            Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, sizeof(Digest));
            CertStoreThumbprint_Trust(Thumbprints, &SHA256_INTERFACE, Digest);
        }
        CertStoreThumbprint_GetInterfaceHandle(Thumbprints, &Interface);
        CertStoreThumbprint_Release(&Thumbprints);
        Stores["thumbprint"] = std::make_unique<Store>(Interface);

        const std::string Set = File("jwks.json");
        Dictionary *Document = nullptr, *Root = nullptr;
        Dictionary_Create(&Document);
        JSON *Json = nullptr;
        JSON_Create(&Json);
        JSON_SetDictionaryHandle(Json, Document);
        ASSERT_TRUE(JSON_LoadBuffer(Json, Set.data(), (int32)Set.size()));
        JSON_Release(&Json);
        Dictionary_SkipRoot(Document, &Root);
        for (const char *Path : {"kid", "x5t", "x5t#S256"}) {
            CertStoreJWKS *Jwks = nullptr;
            CertStoreJWKS_Create(&Jwks);
            CertStoreJWKS_SetJWKSHandle(Jwks, Root);
            CertStoreJWKS_GetInterfaceHandle(Jwks, &Interface);
            CertStoreJWKS_Release(&Jwks);
            Stores[Path] = std::make_unique<Store>(Interface);
        }
        Dictionary_Release(&Document);
        Stores["hs"] = KeyStore(File("hs.key"));
        for (const char *Name : {"rsa", "p256", "p384", "p521"}) Stores[std::string("key ") + Name] = KeyStore(PublicDer(Name));
    }
    std::map<std::string, int> Seen;
    for (const auto &Line : Lines) {
        ASSERT_EQ(Line.size(), 4u);
        const std::string &Path = Line[0], &Alg = Line[1], &Kind = Line[2], &Text = Line[3];
        Store *Chosen = Path == "key" ? Stores["key " + KeyOf(Alg)].get() : Stores[Path].get();
        ASSERT_NE(Chosen, nullptr) << Path;
        const Decoded Out = Decode(Chosen->Interface, Text);
        const std::string Where = Path + " " + Alg + " " + Kind;
        if (Kind == "good") {
            EXPECT_EQ(Out.Result, 1) << Where;
            EXPECT_EQ(Out.App, "velmarsh") << Where;
            Seen[Path]++;
        } else {
            EXPECT_EQ(Out.Result, 0) << Where;
            EXPECT_EQ(Out.App, "") << Where;
            // A failed signature says so; failed claims set no JWS error.
            EXPECT_EQ(Out.Error, Kind == "tampered" ? JSON_ERROR_AUTHENTICATE : 0) << Where;
        }
        // A key of another family or curve never verifies.
        if (Path == "key" && Kind == "good" && Alg[0] != 'r') {
            const std::string Other = KeyOf(Alg) == "rsa" ? "p256" : KeyOf(Alg) == "p256" ? "p384" : "rsa";
            EXPECT_EQ(Decode(Stores["key " + Other]->Interface, Text).Error, JSON_ERROR_AUTHENTICATE) << Where;
        }
    }
    EXPECT_EQ(Seen["hs"], 3);
    EXPECT_EQ(Seen["key"], 6);
    for (const char *Path : {"platform", "thumbprint", "kid", "x5t", "x5t#S256"}) EXPECT_EQ(Seen[Path], 6) << Path;
    // Documents naming a certificate are not trusted by a store that does not
    // hold it.
    Platform_SetCertificateTrust(nullptr, nullptr);
    CertStorePlatform *Platform = nullptr;
    CertStorePlatform_Create(&Platform);
    CertStoreInterface *Interface = nullptr;
    CertStorePlatform_GetInterfaceHandle(Platform, &Interface);
    CertStorePlatform_Release(&Platform);
    Store System(Interface);
    for (const auto &Line : Lines) {
        if (Line[0] != "platform" || Line[2] != "good") continue;
        EXPECT_EQ(Decode(System.Interface, Line[3]).Error, JSON_ERROR_AUTHENTICATE) << Line[1];
    }
}

// An RS256 document whose "x5c" carries an EC certificate is refused.
TEST_F(NodeDocuments, RsWithAnEcCertificateIsRefused) {
    for (const auto &Line : Lines) {
        if (Line[0] != "platform" || Line[1] != "ES256" || Line[2] != "good") continue;
        {
            const size_t Dot = Line[3].find('.');
            std::string Header(Dot, '\0');
            int32 Written = 0;
            Base64_UrlDecode(Line[3].data(), (int32)Dot, Header.data(), (int32)Header.size(), &Written);
            Header.resize((size_t)Written);
            Header.replace(Header.find("ES256"), 5, "RS256");
            const std::string Der = File("p256.der");
            uint8 Digest[32];
            Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, sizeof(Digest));
            CertStoreThumbprint *Thumbprints = nullptr;
            CertStoreThumbprint_Create(&Thumbprints);
            CertStoreThumbprint_Trust(Thumbprints, &SHA256_INTERFACE, Digest);
            CertStoreInterface *Interface = nullptr;
            CertStoreThumbprint_GetInterfaceHandle(Thumbprints, &Interface);
            CertStoreThumbprint_Release(&Thumbprints);
            Store Prints(Interface);
            EXPECT_EQ(Decode(Prints.Interface, Line[3]).Result, 1);
            const std::string Text = B64(Header, true) + Line[3].substr(Dot);
            Authenticate_SetEnabled(0);
            // With the switch off a header naming a certificate passes unchecked...
            EXPECT_EQ(Decode(Prints.Interface, Text).Result, 1);
            Authenticate_SetEnabled(1);
            // ...but with it on the EC certificate cannot check an RS id.
            EXPECT_EQ(Decode(Prints.Interface, Text).Error, JSON_ERROR_AUTHENTICATE);
        }
    }
}

// openssl signs every case (ES256 with `dgst -sign`, HS256 with `dgst -mac
// HMAC`), so each signature holds. Refused all the same: a header member
// twice (this reader takes the first, Python's json and most others the
// last, so the two would check different algorithms), also spelt with an
// escape; "crit" naming any extension, or none; "b64" (its "false" changes
// what is signed); and an HS secret that is a public key or a certificate,
// in DER or PEM, which anyone could hold.
const char *OpensslDocuments = R"PY(
import base64, json, os, subprocess, tempfile
d = tempfile.mkdtemp()
def run(*a, data=None): return subprocess.run(a, input=data, capture_output=True, check=True).stdout
def b64(b): return base64.urlsafe_b64encode(b).rstrip(b'=').decode()
payload = b64(b'{"app":"velmarsh"}')
run('openssl', 'genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:P-256', '-out', f'{d}/ec.pem')
print('es-key', run('openssl', 'pkey', '-in', f'{d}/ec.pem', '-pubout', '-outform', 'DER').hex())
for valid, header in ((1, '{"alg":"ES256"}'), (0, '{"alg":"ES256","alg":"none"}'),
                      (0, '{"alg":"ES256","\\u0061lg":"HS256"}'), (0, '{"typ":"JWT","alg":"ES256","typ":"JOSE"}'),
                      (0, '{"alg":"ES256","crit":["exp"],"exp":1}'), (0, '{"alg":"ES256","crit":["b64"],"b64":false}'),
                      (0, '{"alg":"ES256","b64":false}'), (0, '{"alg":"ES256","crit":[]}')):
    json.loads(header)
    signing = (b64(header.encode()) + '.' + payload).encode()
    der = run('openssl', 'dgst', '-sha256', '-sign', f'{d}/ec.pem', data=signing)
    r = der[4:4 + der[3]]; s = der[6 + der[3]:]
    raw = int.from_bytes(r, 'big').to_bytes(32, 'big') + int.from_bytes(s, 'big').to_bytes(32, 'big')
    print('header', valid, signing.decode() + '.' + b64(raw))
run('openssl', 'genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:2048', '-out', f'{d}/rsa.pem')
run('openssl', 'req', '-x509', '-new', '-key', f'{d}/rsa.pem', '-subj', '/CN=hs', '-days', '2', '-out', f'{d}/cert.pem')
secrets = {'random': os.urandom(32),
           'spki-der': run('openssl', 'pkey', '-in', f'{d}/rsa.pem', '-pubout', '-outform', 'DER'),
           'spki-pem': run('openssl', 'pkey', '-in', f'{d}/rsa.pem', '-pubout'),
           'pkcs1-der': run('openssl', 'rsa', '-in', f'{d}/rsa.pem', '-RSAPublicKey_out', '-outform', 'DER'),
           'pkcs1-pem': run('openssl', 'rsa', '-in', f'{d}/rsa.pem', '-RSAPublicKey_out'),
           'certificate-der': run('openssl', 'x509', '-in', f'{d}/cert.pem', '-outform', 'DER'),
           'certificate-pem': open(f'{d}/cert.pem', 'rb').read()}
signing = (b64(b'{"alg":"HS256"}') + '.' + payload).encode()
for name, secret in secrets.items():
    mac = run('openssl', 'dgst', '-sha256', '-mac', 'HMAC', '-macopt', 'hexkey:' + secret.hex(), '-binary', data=signing)
    print('secret', 1 if name == 'random' else 0, signing.decode() + '.' + b64(mac), name, secret.hex())
run('rm', '-r', d)
)PY";

TEST_F(JwsTest, HeadersAndSecretsRefusedThoughOpensslSigned) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    std::unique_ptr<Store> EsKey;
    int Cases = 0;
    std::istringstream Lines(RunPython(OpensslDocuments));
    for (std::string Line; std::getline(Lines, Line);) {
        const auto W = ectest::Split(Line);
        if (W[0] == "es-key") {
            EsKey = KeyStore(FromHex(W[1]));
            continue;
        }
        ASSERT_NE(EsKey, nullptr);
        const auto Secret = W[0] == "secret" ? KeyStore(FromHex(W[4])) : nullptr;
        const Decoded Out = Decode(Secret ? Secret->Interface : EsKey->Interface, W[2]);
        EXPECT_EQ(Out.Result, W[1] == "1") << Line.substr(0, 120);
        EXPECT_EQ(Out.Error, W[1] == "1" ? 0 : JSON_ERROR_AUTHENTICATE) << Line.substr(0, 120);
        Cases++;
    }
    EXPECT_EQ(Cases, 15);
}

// Malformed texts, "none", and headers naming a key without certificates.
TEST_F(JwsTest, RefusedTexts) {
    auto Secret = KeyStore("0123456789abcdef0123456789abcdef");
    const std::string Payload = B64("{\"app\":\"x\"}", true);
    struct Case {
        std::string Text;
        int32 Error;
    };
    const std::vector<Case> Cases = {
        {"", JSON_ERROR_DECODESIGNATURE},
        {"abc", JSON_ERROR_DECODESIGNATURE},
        {B64("{\"alg\":\"HS256\"}", true) + "." + Payload, JSON_ERROR_DECODESIGNATURE},
        {B64("{\"alg\":\"HS256\"}", true) + "." + Payload + ".a", JSON_ERROR_DECODESIGNATURE},
        {B64("{\"alg\":\"HS256\"}", true) + ".!!!!." + Payload, JSON_ERROR_DECODESIGNATURE},
        {B64("{\"alg\":", true) + "." + Payload + ".", JSON_ERROR_DECODESIGNATURE},
        {B64("{\"alg\":\"none\"}", true) + "." + Payload + ".", JSON_ERROR_AUTHENTICATE},
        {B64("{\"alg\":\"Unknown\"}", true) + "." + Payload + ".", JSON_ERROR_AUTHENTICATE},
        {B64("{\"typ\":\"JWT\"}", true) + "." + Payload + ".", JSON_ERROR_AUTHENTICATE},
        {B64("{\"alg\":\"HS256\"}", true) + "." + Payload + "." + B64(std::string(31, 'x'), true),
         JSON_ERROR_AUTHENTICATE},
        {B64("{\"alg\":\"RS256\",\"kid\":\"x\"}", true) + "." + Payload + "." + B64("sig", true),
         JSON_ERROR_AUTHENTICATE},
        {B64("{\"alg\":\"RS256\",\"x5t\":\"x\"}", true) + "." + Payload + "." + B64("sig", true),
         JSON_ERROR_AUTHENTICATE},
        {B64("{\"alg\":\"HS256\",\"kid\":\"x\"}", true) + "." + Payload + "." + B64("sig", true),
         JSON_ERROR_AUTHENTICATE},
    };
    CertStorePlatform *Platform = nullptr;
    CertStorePlatform_Create(&Platform);
    CertStoreInterface *Interface = nullptr;
    CertStorePlatform_GetInterfaceHandle(Platform, &Interface);
    CertStorePlatform_Release(&Platform);
    Store System(Interface);
    CertStoreThumbprint *Thumbprints = nullptr;
    CertStoreThumbprint_Create(&Thumbprints);
    CertStoreThumbprint_GetInterfaceHandle(Thumbprints, &Interface);
    CertStoreThumbprint_Release(&Thumbprints);
    Store Prints(Interface);
    for (const Case &C : Cases)
        for (Store *S : {Secret.get(), &System, &Prints}) {
            const Decoded Out = Decode(S->Interface, C.Text);
            EXPECT_EQ(Out.Result, 0) << C.Text;
            EXPECT_EQ(Out.Error, C.Error) << C.Text;
        }
    // The switch off: HS is still checked against the key.
    Authenticate_SetEnabled(0);
    EXPECT_EQ(Decode(Secret->Interface, Cases[9].Text).Error, JSON_ERROR_AUTHENTICATE);
    EXPECT_EQ(Decode(System.Interface, Cases[10].Text).Result, 1);
    Authenticate_SetEnabled(1);
}

// Wycheproof's P1363 files of the three JWS curves, each with its JWS hash.
TEST_F(JwsTest, WycheproofP1363ThroughTheJwsCheck) {
    const auto Files = ectest::VectorFiles(R"(ecdsa_(secp256r1_sha256|secp384r1_sha384|secp521r1_sha512)_p1363_test\.json\.gz)");
    SKIP_UNLESS(!Files.empty(), "no Wycheproof vectors in " << ectest::VectorDirectory());
    ASSERT_EQ(Files.size(), 3u);
    const uint32 Ids[] = {JWS_ALGORITHM_ES256, JWS_ALGORITHM_ES384, JWS_ALGORITHM_ES512};
    for (size_t Index = 0; Index < Files.size(); Index++) {
        std::istringstream Lines(ectest::Flatten(Files[Index], "publicKey.curve publicKey.uncompressed", "msg sig"));
        CryptAsymmetric *Key = nullptr;
        int Accepted = 0, Refused = 0;
        for (std::string Line; std::getline(Lines, Line);) {
            const auto W = ectest::Split(Line);
            if (W[0] == "G") {
                if (Key != nullptr) CryptAsymmetric_Release(&Key);
                CryptAsymmetric_Create(&Key);
                CryptAsymmetric_ResetInterface(Key, &ECDSA_INTERFACE);
                const std::string Point = ectest::Unhex(W[2]);
                ASSERT_TRUE(CryptAsymmetric_InitParams(Key, ectest::OidOf(W[1])));
                ASSERT_TRUE(CryptAsymmetric_SetPublicKey(Key, Point.data(), (int32)Point.size()));
                continue;
            }
            const std::string Message = ectest::Unhex(W[3]), Signature = ectest::Unhex(W[4]);
            const bool Valid = JWS_CASignatureVerify(Key, Ids[Index], Message.data(), (uint32)Message.size(),
                                                     Signature.data(), (uint32)Signature.size()) != 0;
            EXPECT_EQ(Valid, W[2] == "valid") << Files[Index] << " case " << W[1];
            (Valid ? Accepted : Refused)++;
            // Another id's hash or curve never verifies.
            EXPECT_FALSE(JWS_CASignatureVerify(Key, Ids[(Index + 1) % 3], Message.data(), (uint32)Message.size(),
                                               Signature.data(), (uint32)Signature.size()));
        }
        if (Key != nullptr) CryptAsymmetric_Release(&Key);
        EXPECT_GT(Accepted, 0);
        EXPECT_GT(Refused, 50);
    }
}

TEST_F(JwsTest, ClaimsAtTheirEdges) {
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    const float64 Now = Time_GetCurrentEncodedGMT(nullptr);
    EXPECT_EQ(JWSClaim_Exp(Payload, (void *)1), 1);
    EXPECT_EQ(JWSClaim_Nbf(Payload, (void *)0), 0);
    Dictionary_SetFloat64ByKey(Payload, "exp", Now + 100);
    Dictionary_SetFloat64ByKey(Payload, "nbf", Now - 100);
    EXPECT_EQ(JWSClaim_Exp(Payload, (void *)1), 1);
    EXPECT_EQ(JWSClaim_Nbf(Payload, (void *)1), 1);
    Dictionary_SetFloat64ByKey(Payload, "exp", Now - 1);
    Dictionary_SetFloat64ByKey(Payload, "nbf", Now + 100);
    EXPECT_EQ(JWSClaim_Exp(Payload, (void *)1), 0);
    EXPECT_EQ(JWSClaim_Nbf(Payload, (void *)1), 0);
    Dictionary_SetStringByKey(Payload, "exp", "never");
    EXPECT_EQ(JWSClaim_Exp(Payload, (void *)1), 0);
    Dictionary_Release(&Payload);
}

} // namespace

namespace {

// Public keys written by python's cryptography as an OpenSSH line and as a
// JWK (and a JWK set), and a private JWK, which stays a valid secret.
const char *PublicSecrets = R"PY(
import base64, json
from cryptography.hazmat.primitives import serialization as s
from cryptography.hazmat.primitives.asymmetric import ec, rsa
def b64(n): return base64.urlsafe_b64encode(n.to_bytes((n.bit_length() + 7) // 8, 'big')).rstrip(b'=').decode()
r, e = rsa.generate_private_key(public_exponent=65537, key_size=2048), ec.generate_private_key(ec.SECP256R1())
for k in (r, e):
    print('0', k.public_key().public_bytes(s.Encoding.OpenSSH, s.PublicFormat.OpenSSH).hex())
print('0', (b'command="x" ' + r.public_key().public_bytes(s.Encoding.OpenSSH, s.PublicFormat.OpenSSH) + b' me@host\n').hex())
n = r.private_numbers()
jwk = {'kty': 'RSA', 'n': b64(n.public_numbers.n), 'e': b64(n.public_numbers.e)}
print('0', json.dumps(jwk).encode().hex())
print('0', json.dumps({'keys': [jwk]}).encode().hex())
p = e.private_numbers()
print('0', json.dumps({'kty': 'EC', 'crv': 'P-256', 'x': b64(p.public_numbers.x), 'y': b64(p.public_numbers.y)}).encode().hex())
print('1', json.dumps(dict(jwk, d=b64(n.d))).encode().hex())
print('1', b'ssh-rsa is a word, not a key'.hex())
)PY";

// An HS256 document over Header and Payload, as given, MAC'd with Secret; the
// MAC in Base64url, or in standard Base64 when Standard.
std::string Hs256(const std::string &Header, const std::string &Payload, const std::string &Secret,
                  bool Standard = false) {
    const std::string Input = Header + "." + Payload;
    uint8 Mac[32];
    HMAC_QuickDigest(&SHA256_INTERFACE, Input.data(), (uint32)Input.size(), Secret.data(), (uint32)Secret.size(), Mac,
                     (int32)sizeof(Mac));
    return Input + "." + B64(std::string((const char *)Mac, sizeof(Mac)), !Standard);
}

} // namespace

TEST_F(JwsTest, CompactSpellingsAndPublicSecretsRefused) {
    const std::string Secret = "0123456789abcdef0123456789abcdef";
    auto Key = KeyStore(Secret);
    const std::string Header = B64("{\"alg\":\"HS256\"}", true);
    // A payload whose MAC in standard Base64 holds '+' or '/', found by count.
    auto WithMac = [&](char Wanted) {
        for (int32 Count = 0;; Count++) {
            const std::string Payload = B64("{\"app\":\"x\",\"n\":" + std::to_string(Count) + "}", true);
            const std::string Text = Hs256(Header, Payload, Secret, true);
            if (Text.find(Wanted, Text.rfind('.')) != std::string::npos) return Text;
        }
    };
    const std::string Payload = B64("{\"app\":\"x\"}", true), Good = Hs256(Header, Payload, Secret);
    const std::string Padded = B64("{\"alg\":\"HS256\"} ", false); // 17 bytes: one "=" of padding
    const struct {
        const char *Name;
        std::string Text;
        int32 Result;
    } Cases[] = {
        {"control", Good, 1},
        {"white space after the token", Good + " \r\n", 1},
        {"padding", Hs256(Padded, Payload, Secret), 0},
        {"'+' in the signature", WithMac('+'), 0},
        {"'/' in the signature", WithMac('/'), 0},
        {"alg in lower case", Hs256(B64("{\"alg\":\"hs256\"}", true), Payload, Secret), 0},
        // Every signed byte is read: nothing after the header's or the
        // payload's value but blanks, and no text that a NUL ends early.
        {"blanks after the header", Hs256(B64("{\"alg\":\"HS256\"} \r\n", true), Payload, Secret), 1},
        {"bytes after the header", Hs256(B64("{\"alg\":\"HS256\"}xx", true), Payload, Secret), 0},
        {"a second header", Hs256(B64("{\"alg\":\"HS256\"}{\"alg\":\"none\"}", true), Payload, Secret), 0},
        {"a NUL in alg", Hs256(B64("{\"alg\":\"HS256\\u0000\"}", true), Payload, Secret), 0},
        {"a NUL in a list", Hs256(B64("{\"alg\":\"HS256\",\"x\":[\"a\\u0000\"]}", true), Payload, Secret), 0},
        {"a NUL in a name", Hs256(B64("{\"alg\\u0000x\":\"HS256\"}", true), Payload, Secret), 0},
        {"an escaped backslash", Hs256(B64("{\"alg\":\"HS256\",\"x\":\"\\\\u0000\"}", true), Payload, Secret), 1},
        {"blanks after the payload", Hs256(Header, B64("{\"app\":\"x\"}\n", true), Secret), 1},
        {"bytes after the payload", Hs256(Header, B64("{\"app\":\"x\"}xx", true), Secret), 0},
        {"a second payload", Hs256(Header, B64("{\"app\":\"x\"}{\"app\":\"y\"}", true), Secret), 0},
    };
    ASSERT_NE(Padded.find('='), std::string::npos);
    for (const auto &C : Cases) EXPECT_EQ(Decode(Key->Interface, C.Text, 1, false).Result, C.Result) << C.Name;

    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    int32 Count = 0;
    std::istringstream Lines(RunPython(PublicSecrets));
    for (std::string Line; std::getline(Lines, Line); Count++) {
        const auto W = ectest::Split(Line);
        const std::string Material = FromHex(W[1]);
        auto Held = KeyStore(Material);
        EXPECT_EQ(Decode(Held->Interface, Hs256(Header, Payload, Material), 1, false).Result, W[0] == "1")
            << Material.substr(0, 60);
    }
    EXPECT_EQ(Count, 8);
}

// An "x5c" longer than any path taken is refused before a certificate of it
// is read; one as long as the cap is read whole.
TEST_F(JwsTest, X5cLongerThanTheDepthCapRefused) {
    const std::string Entry = "\"" + B64(ReadFile(RUNTIME_SOURCE_DIR "/tests/fixtures/x509_strict/deny_leaf.der")) + "\"";
    for (int32 Length : {X509CHAIN_MAX_DEPTH, X509CHAIN_MAX_DEPTH + 1}) {
        std::string Json = "{\"alg\":\"ES256\",\"x5c\":[" + Entry;
        for (int32 Index = 1; Index < Length; Index++) Json += "," + Entry;
        Json += "]}";
        Dictionary *Header = nullptr, *Root = nullptr;
        Dictionary_Create(&Header);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Header);
        ASSERT_TRUE(JSON_LoadBuffer(Reader, Json.data(), (int32)Json.size()));
        Dictionary_SkipRoot(Header, &Root);
        X509Chain *Chain = nullptr;
        X509Chain_Create(&Chain);
        int32 Built = 0;
        EXPECT_EQ(JWS_HeaderX509ChainHandleFromX5C(Root, Chain), Length <= X509CHAIN_MAX_DEPTH) << Length;
        X509Chain_GetCount(Chain, &Built);
        EXPECT_EQ(Built, Length <= X509CHAIN_MAX_DEPTH ? Length : 0);
        X509Chain_Release(&Chain);
        JSON_Release(&Reader);
        Dictionary_Release(&Header);
    }
}

namespace {

// An "x5c" of 32 certificates made to stall a decision
// (make_crowded_names.py: self-made CAs, each permitting 1,000 subtrees over
// 1,000 names a certificate) with a garbage signature, through a store of
// pinned certificates that pins none: refused after one signature check a
// link and no name comparison.
TEST_F(JwsTest, CrowdedX5cRefusedWithoutNameComparisons) {
    SKIP_UNLESS(HavePythonModule("cryptography"), "python3-cryptography is missing");
    TempDirectory Temp;
    ASSERT_EQ(system((RUNTIME_PYTHON " " RUNTIME_SOURCE_DIR "/tests/crypto/trust/make_crowded_names.py " + Temp.Path).c_str()), 0);
    std::string Header = "{\"alg\":\"ES256\",\"x5c\":[";
    for (const std::string &Der : PlatformTrust_ReadBundle(ReadFile(Temp / "chain.pem")))
        Header += (Header.back() == '[' ? "\"" : ",\"") + B64(Der) + "\"";
    const std::string Text = B64(Header + "]}", true) + "." + B64("{}", true) + "." + B64(std::string(64, '\x5a'), true);
    CertStoreThumbprint *Nothing = nullptr;
    CertStoreThumbprint_Create(&Nothing);
    CertStoreInterface *Interface = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Nothing, &Interface);
    EXPECT_EQ(Decode(Interface, Text, 1, false).Result, 0);
    CertStoreInterface_Release(&Interface);
    CertStoreThumbprint_Release(&Nothing);
    EXPECT_EQ(X509Chain_LastDecision().Work.SignatureChecks, X509CHAIN_MAX_DEPTH - 1);
    EXPECT_EQ(X509Chain_LastDecision().Work.NameComparisons, 0);
}

} // namespace
