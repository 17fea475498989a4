// Trust decisions on certificates openssl makes in the test: an anchor is
// trusted (expired or not), so is a certificate it issued, an unrelated
// self-signed certificate is not, a
// denied thumbprint is reported; the system bundle is read as Python reads it;
// the anchor file is steered through the stand-in seam.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "crypto/trust/platform_trust.h"
#include "runtime/posix/platform.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class TrustTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Platform_Init();
    }
    void TearDown() override {
        Platform_SetCertificateTrust(nullptr, nullptr);
        Platform_Remove();
        RuntimeTest::TearDown();
    }
    TempDirectory Temp;

    // A self-signed certificate (Days < 0: already expired), or one signed by the CA.
    void Make(const std::string &Name, int Days, const std::string &Issuer = "") {
        std::string Dir = Temp.Path + "/";
        std::string Command = "cd '" + Dir + "' && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                              "-keyout " + Name + ".key -subj /CN=" + Name + " -out " + Name + ".csr 2>/dev/null && "
                              "openssl x509 -req -in " + Name + ".csr -days " + std::to_string(Days) +
                              (Issuer.empty() ? " -signkey " + Name + ".key"
                                              : " -CA " + Issuer + ".pem -CAkey " + Issuer + ".key -CAcreateserial") +
                              " -out " + Name + ".pem 2>/dev/null && openssl x509 -in " + Name + ".pem -outform DER -out " +
                              Name + ".der";
        ASSERT_EQ(system(Command.c_str()), 0) << Command;
    }
    std::string Read(const std::string &Name) {
        std::ifstream In(Temp / Name, std::ios::binary);
        std::stringstream Bytes;
        Bytes << In.rdbuf();
        return Bytes.str();
    }
    int32 Trusted(const std::string &Name, int32 *Denied) {
        std::string Der = Read(Name + ".der");
        return Platform_AuthenticateCertificate(Der.data(), (int32)Der.size(), 0, Denied);
    }
};

} // namespace

TEST_F(TrustTest, AnchorsAreTrustedOthersAreNot) {
    Make("ca", 30);
    Make("expired", -1);
    Make("leaf", 30, "ca");
    Make("stranger", 30);
    std::ofstream(Temp / "anchors.pem") << Read("ca.pem") << "junk between\n" << Read("expired.pem")
                                        << "-----BEGIN CERTIFICATE-----\n@@@@\n-----END CERTIFICATE-----\n";
    Platform_SetCertificateTrust((Temp / "anchors.pem").c_str(), nullptr);
    int32 Denied = -1;
    EXPECT_TRUE(Trusted("ca", &Denied));
    EXPECT_EQ(Denied, 0);
    EXPECT_TRUE(Trusted("expired", &Denied)) << "dates play no part";
    EXPECT_FALSE(Trusted("stranger", &Denied));
    EXPECT_EQ(Denied, 0);
    // Trusted through its issuer, an old-style (version 1) root, as openssl trusts it.
    EXPECT_TRUE(Trusted("leaf", &Denied));
    std::ofstream(Temp / "clean.pem") << Read("ca.pem") << Read("expired.pem");
    std::string Verify = "openssl verify -no_check_time -partial_chain -CAfile '" + Temp / "clean.pem" + "' '";
    EXPECT_EQ(system((Verify + Temp / "ca.pem' >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(system((Verify + Temp / "expired.pem' >/dev/null 2>&1").c_str()), 0);
    EXPECT_NE(system((Verify + Temp / "stranger.pem' >/dev/null 2>&1").c_str()), 0);
    EXPECT_EQ(system((Verify + Temp / "leaf.pem' >/dev/null 2>&1").c_str()), 0);

    // A denied thumbprint (as openssl prints it) is reported, anchor or not.
    std::string Print = RunPython("import subprocess,sys\nfor n in sys.stdin.read().split():\n"
                                  "    print(subprocess.run(['openssl','x509','-in',n,'-noout','-fingerprint','-sha256'],"
                                  "capture_output=True,text=True).stdout.split('=')[1].strip())",
                                  Temp / "ca.pem " + Temp / "stranger.pem");
    Platform_SetCertificateTrust((Temp / "anchors.pem").c_str(), Print.c_str());
    EXPECT_FALSE(Trusted("ca", &Denied));
    EXPECT_EQ(Denied, 1);
    EXPECT_FALSE(Trusted("stranger", &Denied));
    EXPECT_EQ(Denied, 1);
    EXPECT_TRUE(Trusted("expired", &Denied));
    EXPECT_EQ(Denied, 0);

    // Bytes that are not one whole certificate.
    std::string Der = Read("ca.der");
    for (size_t Cut : {(size_t)0, (size_t)1, Der.size() / 2, Der.size() - 1}) {
        EXPECT_FALSE(Platform_AuthenticateCertificate(Der.data(), (int32)Cut, 1, &Denied)) << Cut;
        EXPECT_FALSE(PlatformTrust_IsCertificate(Der.substr(0, Cut))) << Cut;
    }
    EXPECT_FALSE(PlatformTrust_IsCertificate(Der + "x"));
    EXPECT_FALSE(Platform_AuthenticateCertificate(nullptr, 0, 0, &Denied));
}

// A child process gets its anchors through the environment; the setter wins,
// and the anchors follow the steered file when it changes.
TEST_F(TrustTest, AnchorFileFromTheEnvironment) {
    Make("one", 30);
    Make("two", 30);
    std::ofstream(Temp / "one-anchors.pem") << Read("one.pem");
    std::ofstream(Temp / "two-anchors.pem") << Read("two.pem");
    int32 Denied = -1;
    ScopedEnv Steered("VELMARSH_TRUST_ANCHORS", (Temp / "one-anchors.pem").c_str());
    EXPECT_TRUE(Trusted("one", &Denied));
    EXPECT_FALSE(Trusted("two", &Denied));
    Platform_SetCertificateTrust((Temp / "two-anchors.pem").c_str(), nullptr);
    EXPECT_FALSE(Trusted("one", &Denied));
    EXPECT_TRUE(Trusted("two", &Denied));
    Platform_SetCertificateTrust(nullptr, nullptr);
    EXPECT_TRUE(Trusted("one", &Denied));
    setenv("VELMARSH_TRUST_ANCHORS", (Temp / "two-anchors.pem").c_str(), 1);
    EXPECT_TRUE(Trusted("two", &Denied)) << "read again from the newly steered file";
}

TEST_F(TrustTest, SystemBundleReadsAsPythonReadsIt) {
    const char *Bundle = "/etc/ssl/certs/ca-certificates.crt";
    std::ifstream In(Bundle, std::ios::binary);
    SKIP_UNLESS(In, "no system bundle (ca-certificates)");
    std::stringstream Text;
    Text << In.rdbuf();
    std::string Ours;
    std::vector<std::string> Anchors = PlatformTrust_ReadBundle(Text.str());
    for (const std::string &Der : Anchors) Ours += ToHex(Der) + "\n";
    EXPECT_EQ(RunPython("import re,ssl,sys\nt=open(sys.stdin.read()).read()\n"
                        "for b in re.findall(r'-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----', t, re.S):\n"
                        "    print(ssl.PEM_cert_to_DER_cert(b).hex())",
                        Bundle),
              Ours);
    ASSERT_FALSE(Anchors.empty());
    int32 Denied = -1;
    EXPECT_TRUE(Platform_AuthenticateCertificate(Anchors.back().data(), (int32)Anchors.back().size(), 0, &Denied));
    EXPECT_EQ(Denied, 0);
}

TEST(CertificateIsError, CodesThatAreNotErrors) {
    for (uint32 Code : {0u, 0x8001210au, 0x8001210bu, 0x8001240du, 0x80012421u, 0x80012423u})
        EXPECT_EQ(Platform_CertificateIsError((int32)Code), 0) << Code;
    for (uint32 Code : {1u, 0x8001210cu, 0x80012422u, 0xFFFFFFFFu})
        EXPECT_EQ(Platform_CertificateIsError((int32)Code), 1) << Code;
}
