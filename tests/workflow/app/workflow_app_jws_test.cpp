// The application's JWS checks against named stores and a bare key, with
// documents signed by node's crypto module over an openssl key and
// certificate.
#include <gtest/gtest.h>

#include <string>

#include "crypto/digests/sha256.h"
#include "runtime/text/base64.h"
#include "tests/support/requirement.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "workflow/app/workflow_app_config.h"

namespace {

class AppJwsTest : public WorkflowTest {};

std::string B64(const std::string &Bytes) {
    std::string Out(Bytes.size() * 2 + 8, '\0');
    int32 Written = 0;
    Base64_Encode(Bytes.data(), (int32)Bytes.size(), Out.data(), (int32)Out.size(), &Written);
    Out.resize((size_t)Written);
    return Out;
}

TEST_F(AppJwsTest, VerifiesAgainstNamedStoresAndAKey) {
    SKIP_UNLESS(HaveCommand("node") && HaveCommand("openssl"), "node or openssl is not installed");
    TempDirectory Folder;
    ASSERT_EQ(system(("cd " + Folder.Path +
                      " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out k.pem 2>/dev/null"
                      " && openssl pkey -in k.pem -pubout -outform DER -out k.pub"
                      " && openssl req -x509 -new -key k.pem -subj /CN=app-jws -days 2 -outform DER -out k.der")
                         .c_str()),
              0);
    const std::string Spki = ReadFile(Folder / "k.pub"), Der = ReadFile(Folder / "k.der");
    // Two documents: one naming no key, one carrying its certificate.
    const std::string Script =
        "const c=require('crypto'),fs=require('fs');const k=fs.readFileSync('" + (Folder / "k.pem") +
        "');const u=b=>Buffer.from(b).toString('base64url');"
        "for(const h of [{alg:'ES256'},{alg:'ES256',x5c:[fs.readFileSync('" + (Folder / "k.der") +
        "').toString('base64')]}]){const i=u(JSON.stringify(h))+'.'+u(JSON.stringify({a:1}));"
        "console.log(i+'.'+u(c.sign('sha256',Buffer.from(i),{key:k,dsaEncoding:'ieee-p1363'})))}";
    const std::string Out = CommandOutput("node -e \"" + Script + "\"");
    const size_t Break = Out.find('\n');
    ASSERT_NE(Break, std::string::npos) << Out;
    const std::string Bare = Out.substr(0, Break), WithCertificate = Out.substr(Break + 1, Out.find('\n', Break + 1) - Break - 1);
    std::string Changed = Bare;
    Changed[Changed.size() - 3] = Changed[Changed.size() - 3] == 'A' ? 'B' : 'A';

    ASSERT_TRUE(WorkflowApp_KeyStoreAdd("jwsKey", 1, B64(Spki).c_str()));
    EXPECT_TRUE(WorkflowApp_JwsVerifyKeyStore(Bare.c_str(), "jwsKey"));
    EXPECT_TRUE(WorkflowApp_JwsVerifyKeyStore(Bare.c_str(), " nothing , jwsKey"));
    EXPECT_FALSE(WorkflowApp_JwsVerifyKeyStore(Changed.c_str(), "jwsKey"));
    EXPECT_FALSE(WorkflowApp_JwsVerifyKeyStore(Bare.c_str(), "nothing"));
    EXPECT_FALSE(WorkflowApp_JwsVerifyKeyStore(Bare.c_str(), ""));
    EXPECT_TRUE(WorkflowApp_JwsVerifyKey(Bare.c_str(), B64(Spki).c_str()));
    EXPECT_FALSE(WorkflowApp_JwsVerifyKey(Changed.c_str(), B64(Spki).c_str()));
    EXPECT_FALSE(WorkflowApp_JwsVerifyKey(Bare.c_str(), "!!"));
    // The certificate's SHA-256 thumbprint pins it.
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, sizeof(Digest));
    Dictionary *Pins = nullptr;
    Dictionary_Create(&Pins);
    Dictionary_SetStringByKey(Pins, "jws", B64(std::string((const char *)Digest, 32)).c_str());
    ASSERT_TRUE(WorkflowApp_CertStoreAdd("jwsPins", 1, Pins));
    Dictionary_Release(&Pins);
    EXPECT_TRUE(WorkflowApp_JwsVerifyCertStore(WithCertificate.c_str(), "null,jwsPins"));
    EXPECT_FALSE(WorkflowApp_JwsVerifyCertStore(WithCertificate.c_str(), "jwsKey"));
    EXPECT_FALSE(WorkflowApp_JwsVerifyCertStore(Bare.c_str(), "jwsPins"));
    EXPECT_TRUE(WorkflowApp_KeyStoreRemove("jwsKey"));
    EXPECT_TRUE(WorkflowApp_CertStoreRemove("jwsPins"));
}

} // namespace
