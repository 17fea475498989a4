// Certificate files checked against stores (sizes, unreadable and unparsable
// files, the switch), the script form that names its store, and Debian's CA
// bundle: every anchor parses, may issue and verifies its own signature, the
// "platform" store trusts a real root and refuses a fresh self-signed
// certificate, all without a socket.
#include "crypto/trust/authenticate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "tests/support/log_capture.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Folder = RUNTIME_SOURCE_DIR "/tests/crypto/certs/";
const char *const Bundle = "/etc/ssl/certs/ca-certificates.crt";

class AuthenticateTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        ASSERT_TRUE(Authenticate_Init());
    }
    void TearDown() override {
        Authenticate_Remove();
        RuntimeTest::TearDown();
    }
    TempDirectory Temp;
};

// A thumbprint store trusting the fixture, registered under Name.
void RegisterTrusting(const char *Name, const std::string &Fixture) {
    const std::string Der = ReadFile(Folder + Fixture + ".der");
    uint8 Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, 32);
    CertStoreThumbprint *Store = nullptr;
    CertStoreThumbprint_Create(&Store);
    CertStoreThumbprint_Trust(Store, &SHA256_INTERFACE, Digest);
    CertStoreInterface *Interface = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Store, &Interface);
    CertStoreTable_Add(Authenticate_GetCertStoreTableHandle(), Name, 1, Interface);
    CertStoreInterface_Release(&Interface);
    CertStoreThumbprint_Release(&Store);
}

TEST_F(AuthenticateTest, CertificateFiles) {
    RegisterTrusting("pinned", "rsa_int");
    std::ofstream(Temp / "empty");
    std::ofstream(Temp / "junk") << "not a certificate";
    std::ofstream(Temp / "int.der", std::ios::binary) << ReadFile(Folder + "rsa_int.der");
    std::ofstream(Temp / "leaf.der", std::ios::binary) << ReadFile(Folder + "rsa_leaf.der");
    const struct {
        const char *Store;
        std::string Path;
        uint32 Enabled;
        int32 Result;
        std::string Message;
    } Cases[] = {
        {"pinned", Temp / "int.der", 1, 1, ""},
        {"pinned", Temp / "leaf.der", 1, 0, "Ceritificate file validation (" + Temp / "leaf.der" + ") failed"},
        {"pinned", Temp / "empty", 1, 0, "Invalid size for file [" + Temp / "empty" + "] (0)"},
        {"pinned", Temp / "junk", 1, 0, "Ceritificate file validation (" + Temp / "junk" + ") failed"},
        {"pinned", Temp / "absent", 1, 0, "Ceritificate file validation"},
        {"nowhere", Temp / "int.der", 1, 0, "Unable to find certificate store (nowhere)"},
        {"nowhere", Temp / "junk", 0, 1, "Skipping certificate authentication (" + Temp / "junk" + ")"},
    };
    for (const auto &Case : Cases) {
        SCOPED_TRACE(Case.Path + " " + Case.Store);
        Captured.clear();
        Authenticate_SetEnabled(Case.Enabled);
        EXPECT_EQ(Authenticate_ValidateX509Interop(Case.Store, Case.Path.c_str()), Case.Result);
        Authenticate_SetEnabled(1);
        EXPECT_NE(Captured.find(Case.Message), std::string::npos) << Captured;
    }
}

TEST_F(AuthenticateTest, SystemBundle) {
    std::ifstream In(Bundle, std::ios::binary);
    SKIP_UNLESS(In, "no system bundle (ca-certificates)");
    std::string Pem((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    const std::vector<std::string> Anchors = PlatformTrust_ReadBundle(Pem);
    ASSERT_GT(Anchors.size(), 100u);
    for (const std::string &Der : Anchors) {
        X509 *Root = nullptr;
        X509_Create(&Root);
        char Name[400] = "";
        EXPECT_TRUE(X509_BuildFromBuffer(Root, Der.data(), (uint32)Der.size()));
        X500 *Subject = nullptr;
        X509_GetSubjectHandle(Root, &Subject);
        X500_GetCN(Subject, Name, sizeof(Name));
        EXPECT_TRUE(X509_CanIssue(Root)) << Name;
        EXPECT_TRUE(X509_VerifyIssued(Root, Root)) << Name;
        X509_Release(&Root);
    }
    Platform_SetCertificateTrust(nullptr, nullptr);
    std::ofstream(Temp / "root.der", std::ios::binary) << Anchors.front();
    std::ofstream(Temp / "self.der", std::ios::binary) << ReadFile(Folder + "self_signed.der");
    EXPECT_TRUE(Authenticate_ValidateX509Interop("platform", (Temp / "root.der").c_str()));
    EXPECT_TRUE(Authenticate_ValidateX509Interop("app", (Temp / "root.der").c_str()));
    EXPECT_FALSE(Authenticate_ValidateX509Interop("platform", (Temp / "self.der").c_str()));
}

} // namespace
