#include "tests/support/certificates.h"

#include <gtest/gtest.h>

#include <fstream>

#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/text/base64.h"

void WriteCertificatesPem(const std::string &Path, const std::vector<std::string> &Ders) {
    std::ofstream Out(Path);
    for (const std::string &Bytes : Ders) {
        std::string Text(Bytes.size() * 2 + 8, '\0');
        int32 Written = 0;
        Base64_Encode(Bytes.data(), (int32)Bytes.size(), Text.data(), (int32)Text.size(), &Written);
        Out << "-----BEGIN CERTIFICATE-----\n";
        for (int32 At = 0; At < Written; At += 64) Out << Text.substr((size_t)At, 64) << "\n";
        Out << "-----END CERTIFICATE-----\n";
    }
}

PlatformAnchors::PlatformAnchors(const std::string &PemPath, const char *Denied) {
    Platform_SetCertificateTrust(PemPath.c_str(), Denied);
    CertStorePlatform_Create(&Store);
    CertStorePlatform_GetInterfaceHandle(Store, &Interface);
}

PlatformAnchors::~PlatformAnchors() {
    CertStoreInterface_Release(&Interface);
    CertStorePlatform_Release(&Store);
    Platform_SetCertificateTrust(nullptr, nullptr);
}

namespace {

// The store is the test's object: references on it are not counted.
CertStoreInterface *RecordingAddRef(CertStoreInterface *Interface, void *) { return Interface; }

int32 RecordingRelease(CertStoreInterface **Interface, void *) {
    *Interface = nullptr;
    return 1;
}

int32 RecordingTrusted(CertStoreInterface *, void *User, X509 *Certificate, uint32 *Stop) {
    auto *Self = static_cast<RecordingStore *>(User);
    Self->Asked.push_back(Certificate);
    *Stop = Self->StopWith;
    return Self->Answer;
}

} // namespace

RecordingStore::RecordingStore() {
    CertStoreInterface_Create(&Interface);
    CertStoreInterface_SetAddRefCallback(Interface, this, RecordingAddRef);
    CertStoreInterface_SetReleaseCallback(Interface, this, RecordingRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Interface, this, RecordingTrusted);
}

RecordingStore::~RecordingStore() { CertStoreInterface_Delete(&Interface); }

int32 DecideDer(const std::vector<std::string> &Pool, const std::string &Leaf, CertStoreInterface *Store,
                int32 *LeafBuilt) {
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    X509 *Each = nullptr;
    X509_Create(&Each);
    for (const std::string &Der : Pool) {
        EXPECT_TRUE(X509_BuildFromBuffer(Each, Der.data(), (uint32)Der.size()));
        X509Chain_Add(Chain, Each);
    }
    const int32 Built = X509_BuildFromBuffer(Each, Leaf.data(), (uint32)Leaf.size());
    if (LeafBuilt != nullptr) *LeafBuilt = Built;
    const int32 Result = Built && X509Chain_VerifyX509(Chain, Each, Store);
    X509_Release(&Each);
    X509Chain_Release(&Chain);
    return Result;
}
