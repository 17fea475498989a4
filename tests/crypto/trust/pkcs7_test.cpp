// PKCS#7 SignedData against real tools: `openssl cms -sign` with and without
// signed attributes, detached and not, with two signers (the first decides),
// an Authenticode-typed CMS, and the signature osslsigncode puts on a tiny PE
// (its indirect-data digest taken from `osslsigncode verify`), both a sample
// kept under tests/fixtures/crypto/authenticode and one made afresh. The
// signer chains to a root a thumbprint store trusts. Refused: a changed
// content, an untrusted root, no certificates, an indirect-data digest
// rewritten for another file (the messageDigest still names the old one).
#include "crypto/trust/pkcs7.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

struct Outcome {
    int32 Result = 0;
    std::string Messages;
};

std::string Log;
int32 Collect(void *, const char *Format, ...) {
    char Line[512];
    va_list Arguments;
    va_start(Arguments, Format);
    vsnprintf(Line, sizeof(Line), Format, Arguments);
    va_end(Arguments);
    Log += Line;
    Log += "\n";
    return TRUE;
}

Outcome Verify(const std::string &Der, CertStoreInterface *Store, const std::string &Digest) {
    PKCS7 *Signed = nullptr;
    PKCS7_Create(&Signed);
    PKCS7_SetPrintCallback(Signed, nullptr, Collect);
    Log.clear();
    Outcome Out;
    if (PKCS7_BuildFromBuffer(Signed, Der.data(), (uint32)Der.size()))
        Out.Result = PKCS7_VerifyDigest(Signed, Store, Digest.data(), (uint32)Digest.size());
    else Log += "build failed\n";
    Out.Messages = Log;
    PKCS7_Release(&Signed);
    return Out;
}

std::string Sha256(const std::string &Bytes) {
    std::string Out(32, '\0');
    Hash_QuickDigest(&SHA256_INTERFACE, Bytes.data(), (uint32)Bytes.size(), Out.data(), 32);
    return Out;
}

// An Authenticode signature over the file whose digest is Digest verifies;
// for a changed file it does not, nor with its indirect data rewritten to
// name the changed file: the signature still holds over the attributes, but
// their messageDigest does not name this indirect data.
void CheckAuthenticode(const std::string &Der, CertStoreInterface *Store, const std::string &Digest) {
    Outcome Out = Verify(Der, Store, Digest);
    EXPECT_EQ(Out.Result, 1) << Out.Messages;
    std::string Other = Digest;
    Other[0] ^= 1;
    EXPECT_EQ(Verify(Der, Store, Other).Result, 0);
    std::string Swapped = Der;
    const size_t Where = Swapped.find(Digest);
    ASSERT_NE(Where, std::string::npos);
    Swapped.replace(Where, 32, Other);
    Out = Verify(Swapped, Store, Other);
    EXPECT_EQ(Out.Result, 0);
    EXPECT_NE(Out.Messages.find("Message digest does not match the content"), std::string::npos) << Out.Messages;
}

// A thumbprint store trusting one certificate.
CertStoreInterface *TrustOnly(const std::string &Der) {
    CertStoreThumbprint *Prints = nullptr;
    CertStoreThumbprint_Create(&Prints);
    CertStoreThumbprint_Trust(Prints, &SHA256_INTERFACE, Sha256(Der).data());
    CertStoreInterface *Store = nullptr;
    CertStoreThumbprint_GetInterfaceHandle(Prints, &Store);
    CertStoreThumbprint_Release(&Prints);
    return Store;
}

using Pkcs7SampleTest = RuntimeTest;

// The kept sample needs no tool (make.sh beside it remade it).
TEST_F(Pkcs7SampleTest, AuthenticodeSampleBoundToItsContent) {
    const std::string Folder = RUNTIME_SOURCE_DIR "/tests/fixtures/crypto/authenticode/";
    CertStoreInterface *Store = TrustOnly(ReadFile(Folder + "root.der"));
    CheckAuthenticode(ReadFile(Folder + "signature.der"), Store, FromHex(ReadFile(Folder + "digest.txt").substr(0, 64)));
    CertStoreInterface_Release(&Store);
}

class Pkcs7Test : public RuntimeTest {
  protected:
    TempDirectory Folder;
    CertStoreInterface *Store = nullptr;
    CertStoreInterface *Nothing = nullptr;

    void SetUp() override {
        RuntimeTest::SetUp();
        SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
        // A root, two leaves under it, content and an indirect-data blob.
        const std::string Script =
            "cd " + Folder.Path +
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -subj /CN=cms-root -days 2"
            " && printf 'basicConstraints=CA:FALSE\\nkeyUsage=digitalSignature\\n' > leaf.ext"
            " && for n in a b; do openssl req -newkey rsa:2048 -nodes -keyout $n.key -out $n.csr -subj /CN=cms-$n"
            " && openssl x509 -req -in $n.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -extfile leaf.ext"
            " -out $n.pem; done"
            " && head -c 3000 /dev/urandom > data.bin"
            " && openssl x509 -in root.pem -outform DER -out root.der";
        ASSERT_EQ(system(("(" + Script + ") >/dev/null 2>&1").c_str()), 0);
        Store = TrustOnly(ReadFile(Folder / "root.der"));
        CertStoreThumbprint *Empty = nullptr;
        CertStoreThumbprint_Create(&Empty);
        CertStoreThumbprint_GetInterfaceHandle(Empty, &Nothing);
        CertStoreThumbprint_Release(&Empty);
    }
    void TearDown() override {
        if (Store != nullptr) CertStoreInterface_Release(&Store);
        if (Nothing != nullptr) CertStoreInterface_Release(&Nothing);
        RuntimeTest::TearDown();
    }
    std::string Sign(const std::string &Options, const std::string &Input = "data.bin") {
        const std::string Out = Folder / "out.der";
        const std::string Command = "cd " + Folder.Path + " && openssl cms -sign -binary -in " + Input +
                                    " -certfile root.pem -outform DER -out out.der " + Options + " >/dev/null 2>&1";
        EXPECT_EQ(system(Command.c_str()), 0) << Options;
        return ReadFile(Out);
    }
};

TEST_F(Pkcs7Test, OpensslCmsSignatures) {
    const std::string Data = ReadFile(Folder / "data.bin");
    std::string Changed = Data;
    Changed[100] ^= 1;
    const std::string One = "-signer a.pem -inkey a.key ";
    for (const std::string &Options :
         {One, One + "-nodetach", One + "-noattr", One + "-noattr -nodetach", One + "-md sha512",
          One + "-signer b.pem -inkey b.key", One + "-nodetach -signer b.pem -inkey b.key"}) {
        const std::string Der = Sign(Options);
        const HashInterface *Digest = &SHA256_INTERFACE;
        std::string Good = Sha256(Data), Bad = Sha256(Changed);
        if (Options.find("sha512") != std::string::npos) {
            Good.assign(64, '\0');
            Bad.assign(64, '\0');
            Hash_QuickDigest(Hash_InterfaceFromName("SHA512", &Digest) ? Digest : nullptr, Data.data(),
                             (uint32)Data.size(), Good.data(), 64);
            Hash_QuickDigest(Digest, Changed.data(), (uint32)Changed.size(), Bad.data(), 64);
        }
        Outcome Out = Verify(Der, Store, Good);
        EXPECT_EQ(Out.Result, 1) << Options << "\n" << Out.Messages;
        Out = Verify(Der, Store, Bad);
        EXPECT_EQ(Out.Result, 0) << Options;
        EXPECT_NE(Out.Messages.find("Verification failed"), std::string::npos) << Options << Out.Messages;
        Out = Verify(Der, Nothing, Good);
        EXPECT_EQ(Out.Result, 0) << Options;
        EXPECT_NE(Out.Messages.find("Unable to verify certificate chain"), std::string::npos) << Out.Messages;
    }
    // Without certificates the signer cannot be found.
    const std::string Bare = Sign(One + "-nocerts");
    EXPECT_NE(Verify(Bare, Store, Sha256(Data)).Messages.find("Signer info certificate not found in chain"),
              std::string::npos);
    // Embedded content changed after signing: the messageDigest no longer
    // names it, whatever digest the caller brings.
    std::string Embedded = Sign(One + "-nodetach");
    const size_t At = Embedded.find(Data.substr(0, 64));
    ASSERT_NE(At, std::string::npos);
    Embedded[At + 100] ^= 1;
    EXPECT_EQ(Verify(Embedded, Store, Sha256(Changed)).Result, 0);
}

TEST_F(Pkcs7Test, AuthenticodeBoundToItsContent) {
    SKIP_UNLESS(HaveCommand("osslsigncode"), "osslsigncode is not installed");
    const std::string Script = "cd " + Folder.Path + " && " + RUNTIME_PYTHON + " " RUNTIME_SOURCE_DIR
                               "/tests/crypto/pkcs7/tiny_pe.py tiny.exe"
                               " && osslsigncode sign -certs a.pem -ac root.pem -key a.key -h sha256 -in tiny.exe"
                               " -out signed.exe && osslsigncode extract-signature -in signed.exe -out sig.der";
    ASSERT_EQ(system(("(" + Script + ") >/dev/null 2>&1").c_str()), 0);
    const std::string Report = CommandOutput("osslsigncode verify -in " + (Folder / "signed.exe") + " 2>&1");
    const size_t At = Report.find("Calculated message digest");
    ASSERT_NE(At, std::string::npos) << Report;
    const size_t Colon = Report.find(':', At);
    CheckAuthenticode(ReadFile(Folder / "sig.der"), Store, FromHex(Report.substr(Colon + 2, 64)));
}

TEST_F(Pkcs7Test, CmsWithTheAuthenticodeContentType) {
    // An SpcIndirectDataContent holding the digest of data.bin, signed by
    // openssl as the encapsulated content: the whole element is digested.
    const std::string Data = ReadFile(Folder / "data.bin");
    const std::string Digest = Sha256(Data);
    std::string Indirect = FromHex("3031300d060960864801650304020105000420") + Digest;
    Indirect = std::string("\x30\x3b\x30\x06\x06\x04\x2b\x06\x01\x04", 10) + Indirect;
    FILE *Out = fopen((Folder / "indirect.der").c_str(), "wb");
    fwrite(Indirect.data(), 1, Indirect.size(), Out);
    fclose(Out);
    const std::string Der = Sign("-signer a.pem -inkey a.key -nodetach -econtent_type 1.3.6.1.4.1.311.2.1.4", "indirect.der");
    Outcome Result = Verify(Der, Store, Digest);
    EXPECT_EQ(Result.Result, 1) << Result.Messages;
    std::string Other = Digest;
    Other[5] ^= 1;
    EXPECT_EQ(Verify(Der, Store, Other).Result, 0);
}

TEST_F(Pkcs7Test, HostileBytesFailToBuild) {
    PKCS7 *Signed = nullptr;
    PKCS7_Create(&Signed);
    EXPECT_FALSE(PKCS7_BuildFromBuffer(Signed, "", 0));
    EXPECT_FALSE(PKCS7_BuildFromBuffer(Signed, "\x30\x03\x06\x01\x00", 5));
    const std::string Der = Sign("-signer a.pem -inkey a.key");
    for (size_t Cut = 0; Cut < Der.size(); Cut += 97) PKCS7_BuildFromBuffer(Signed, Der.data(), (uint32)Cut);
    uint8 Digest[32] = {};
    EXPECT_FALSE(PKCS7_VerifyDigest(Signed, Store, Digest, sizeof(Digest)));
    PKCS7_Release(&Signed);
}

} // namespace
