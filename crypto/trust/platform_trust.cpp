// Certificate trust against the system's bundle of anchors: a certificate is
// trusted when it is an anchor (byte for byte), or when an anchor named as its
// issuer may issue certificates and signed it. One level suffices: the chain
// walk asks about each issuer in turn, handing over the path below, and the
// path up to the anchor found must pass the checks every chain walk makes
// (X509Chain_CheckPath: depth, critical extensions, weak signatures, path
// length and name constraints). No dates are checked and nothing is fetched.
// A thumbprint on the deny list is reported as denied, and a denied anchor
// vouches for nothing; denying an ECDSA-signed certificate also denies its
// twin with the other valid signature.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "crypto/digests/hash.h"
#include "crypto/digests/sha256.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "crypto/trust/x509_internal.h"
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/text/base64.h"

namespace {

constexpr const char *SystemBundle = "/etc/ssl/certs/ca-certificates.crt";
constexpr off_t MaximumBundleSize = 64 * 1024 * 1024;

// Guarded by the trust lock (or, before the platform starts, by this mutex).
std::mutex Guard;
// The anchor file is a stand-in (TRUST_ANCHORS), so the anchors are read again
// whenever it names another file than the one they came from.
struct TrustSettings {
    std::set<std::string> Denied; // raw 32-byte thumbprints
    bool Loaded = false;
    std::string LoadedFrom;
    std::set<std::string, std::less<>> Anchors;
    // Anchors by subject name (its match key), as DER: certificates are
    // built only while one is evaluated, so no runtime memory stays.
    std::multimap<std::string, std::string> BySubject;
} Settings;

std::string ReadFile(const std::string &Path);


struct Certificate {
    X509 *Handle = nullptr;
    bool Built = false;
    explicit Certificate(std::string_view Der) {
        X509_Create(&Handle);
        Built = X509_BuildFromBuffer(Handle, Der.data(), (uint32)Der.size()) != 0;
    }
    ~Certificate() { X509_Release(&Handle); }
    std::string Key(bool Subject) {
        X500 *Name = nullptr;
        if (Subject) X509_GetSubjectHandle(Handle, &Name);
        else X509_GetIssuerHandle(Handle, &Name);
        return std::string(X500_GetMatchKey(Name));
    }
};

void LoadAnchors(const std::string &AnchorFile) {
    Settings.Anchors.clear();
    Settings.BySubject.clear();
    for (std::string &Anchor : PlatformTrust_ReadBundle(ReadFile(AnchorFile))) {
        Certificate Parsed(Anchor);
        if (Parsed.Built) Settings.BySubject.emplace(Parsed.Key(true), Anchor);
        Settings.Anchors.insert(std::move(Anchor));
    }
    Settings.Loaded = true;
    Settings.LoadedFrom = AnchorFile;
    if (Settings.Anchors.empty()) Log_Error("No trust anchors in (%s)\n", AnchorFile.c_str());
}

std::string Thumbprint(std::string_view Der);

std::string_view DerOf(X509 *Handle) {
    const uint8 *Der = nullptr;
    uint32 Length = 0;
    X509_GetASN1(Handle, &Der, &Length);
    return std::string_view((const char *)Der, Der != nullptr ? Length : 0);
}

// On the deny list by its own thumbprint or, for an ECDSA signature, by its
// twin's: (r, n - s) verifies as well, so denying one denies both.
bool IsDenied(X509 *Handle) {
    if (Settings.Denied.empty()) return false;
    if (Settings.Denied.count(Thumbprint(DerOf(Handle))) != 0) return true;
    for (const std::string &Twin : X509_EcdsaTwins(Handle))
        if (Settings.Denied.count(Thumbprint(Twin)) != 0) return true;
    return false;
}

// Under the trust lock, with the anchors loaded. Path[Count - 1] is the
// certificate asked about; every one was built by its owner, and none is
// parsed again here, whatever its size: the chain walk asks about each
// partial path it builds, so a path of depth D is asked about D times.
bool Trusted(X509 *const *Path, int32 Count) {
    std::vector<X509 *> Handles(Path, Path + Count);
    if (Settings.Anchors.count(DerOf(Handles.back())) != 0)
        return X509Chain_CheckPath(Handles.data(), (int32)Handles.size()) != 0;
    X509 *Subject = Handles.back();
    X500 *IssuerName = nullptr;
    X509_GetIssuerHandle(Subject, &IssuerName);
    auto Range = Settings.BySubject.equal_range(std::string(X500_GetMatchKey(IssuerName)));
    for (auto At = Range.first; At != Range.second; ++At) {
        Certificate Issuer(At->second);
        if (!Issuer.Built || IsDenied(Issuer.Handle) || !X509_CanIssue(Issuer.Handle) ||
            !X509_VerifyIssued(Issuer.Handle, Subject))
            continue;
        Handles.push_back(Issuer.Handle);
        if (X509Chain_CheckPath(Handles.data(), (int32)Handles.size())) return true;
        Handles.pop_back();
    }
    return false;
}

// One DER element: tag, then the content's bounds; false past the end.
bool NextElement(std::string_view Der, size_t &At, uint8 &Tag, size_t &Start, size_t &Length) {
    if (At + 2 > Der.size()) return false;
    Tag = (uint8)Der[At];
    uint8 First = (uint8)Der[At + 1];
    At += 2;
    if (First < 0x80) {
        Length = First;
    } else {
        int32 Count = First & 0x7F;
        if (Count == 0 || Count > 4 || At + (size_t)Count > Der.size()) return false;
        Length = 0;
        for (int32 Index = 0; Index < Count; Index++) Length = (Length << 8) | (uint8)Der[At++];
    }
    if (Length > Der.size() - At) return false;
    Start = At;
    At += Length;
    return true;
}

std::string ReadFile(const std::string &Path) {
    std::string Text;
    int Descriptor = Platform_OpenRegular(Path.c_str(), O_RDONLY, 0);
    if (Descriptor < 0) return Text;
    struct stat Status;
    if (fstat(Descriptor, &Status) == 0 && Status.st_size <= MaximumBundleSize) {
        Text.resize((size_t)Status.st_size);
        size_t Done = 0;
        while (Done < Text.size()) {
            ssize_t Count = read(Descriptor, Text.data() + Done, Text.size() - Done);
            if (Count <= 0) break;
            Done += (size_t)Count;
        }
        Text.resize(Done);
    }
    close(Descriptor);
    return Text;
}

std::string Thumbprint(std::string_view Der) {
    char Digest[32];
    Hash_QuickDigest(&SHA256_INTERFACE, Der.data(), (uint32)Der.size(), Digest, (int32)sizeof(Digest));
    return std::string(Digest, sizeof(Digest));
}

int32 HexValue(char Ch) {
    if (Ch >= '0' && Ch <= '9') return Ch - '0';
    if (Ch >= 'a' && Ch <= 'f') return Ch - 'a' + 10;
    if (Ch >= 'A' && Ch <= 'F') return Ch - 'A' + 10;
    return -1;
}

// Runs Body under the platform's trust lock.
template <typename Body> auto Locked(Body &&Run) {
    std::lock_guard<std::mutex> Hold(Guard);
    void *Lock = GlobalPlatformOSX != nullptr ? GlobalPlatformOSX->TrustLock : nullptr;
    if (Lock != nullptr) CriticalSection_Lock(Lock);
    auto Result = Run();
    if (Lock != nullptr) CriticalSection_Unlock(Lock);
    return Result;
}

} // namespace

bool PlatformTrust_IsCertificate(std::string_view Der) {
    size_t At = 0, Start = 0, Length = 0;
    uint8 Tag = 0;
    if (!NextElement(Der, At, Tag, Start, Length) || Tag != 0x30 || At != Der.size()) return false;
    std::string_view Body = Der.substr(Start, Length);
    const uint8 Expected[] = {0x30, 0x30, 0x03};
    At = 0;
    for (uint8 Want : Expected)
        if (!NextElement(Body, At, Tag, Start, Length) || Tag != Want) return false;
    return At == Body.size();
}

std::vector<std::string> PlatformTrust_ReadBundle(std::string_view Pem) {
    constexpr std::string_view Begin = "-----BEGIN CERTIFICATE-----", End = "-----END CERTIFICATE-----";
    std::vector<std::string> Certificates;
    for (size_t At = Pem.find(Begin); At != std::string_view::npos; At = Pem.find(Begin, At)) {
        At += Begin.size();
        size_t Stop = Pem.find(End, At);
        if (Stop == std::string_view::npos) break;
        std::string Text;
        for (char Ch : Pem.substr(At, Stop - At))
            if (Ch != ' ' && Ch != '\t' && Ch != '\r' && Ch != '\n') Text += Ch;
        At = Stop + End.size();
        if (Text.empty() || Text.size() > (size_t)INT32_MAX / 2) continue;
        int32 Size = 0, Written = 0;
        Base64_CalculateDecodeSize((int32)Text.size(), &Size);
        std::string Der((size_t)Size, '\0');
        if (!Base64_Decode(Text.c_str(), (int32)Text.size(), Der.data(), Size, &Written)) continue;
        Der.resize((size_t)Written);
        if (PlatformTrust_IsCertificate(Der)) Certificates.push_back(std::move(Der));
    }
    return Certificates;
}

extern "C" int32 Platform_CertificateIsError(int32 Code) {
    switch ((uint32)Code) {
    case 0:
    case 0x8001210au: // expired
    case 0x8001210bu: // not yet valid
    case 0x8001240du:
    case 0x80012421u:
    case 0x80012423u:
        return 0;
    default:
        return 1;
    }
}

extern "C" int32 Platform_SetCertificateTrust(const char *AnchorFile, const char *DeniedThumbprints) {
    return Locked([&] {
        PlatformStandIn_Set("TRUST_ANCHORS", AnchorFile);
        Settings.Denied.clear();
        Settings.Loaded = false;
        Settings.Anchors.clear();
        Settings.BySubject.clear();
        // Thumbprints are separated by white space, "," or ";"; a ":" between
        // hex pairs (as openssl prints them) is allowed.
        std::string Token;
        auto Take = [&] {
            if (Token.size() == 64) {
                std::string Bytes;
                for (size_t Index = 0; Index < 64; Index += 2)
                    Bytes += (char)(HexValue(Token[Index]) * 16 + HexValue(Token[Index + 1]));
                Settings.Denied.insert(Bytes);
            }
            Token.clear();
        };
        bool Valid = true;
        for (const char *At = DeniedThumbprints != nullptr ? DeniedThumbprints : "";; At++) {
            if (*At == 0 || *At == ' ' || *At == '\t' || *At == '\r' || *At == '\n' || *At == ',' || *At == ';') {
                if (Valid) Take();
                Token.clear();
                Valid = true;
                if (*At == 0) break;
            } else if (HexValue(*At) >= 0) {
                Token += *At;
            } else if (*At != ':') {
                Valid = false;
            }
        }
        return TRUE;
    });
}

extern "C" int32 Platform_AuthenticateCertificate(const void *Der, int32 Length, int32 FetchIssuers, int32 *Denied) {
    return Platform_AuthenticateCertificatePath(&Der, &Length, 1, FetchIssuers, Denied);
}

extern "C" int32 Platform_AuthenticateCertificatePath(const void *const *Ders, const int32 *Lengths, int32 Count,
                                                      int32 FetchIssuers, int32 *Denied) {
    (void)FetchIssuers; // issuers are never fetched from the network
    if (Denied != nullptr) *Denied = 0;
    if (Ders == nullptr || Lengths == nullptr || Count < 1 || Count > X509CHAIN_MAX_DEPTH) return FALSE;
    std::vector<std::string_view> Given;
    std::vector<std::unique_ptr<Certificate>> Built;
    std::vector<X509 *> Path;
    bool AllBuilt = true;
    for (int32 Index = 0; Index < Count; Index++) {
        if (Ders[Index] == nullptr || Lengths[Index] <= 0) return FALSE;
        Given.emplace_back(static_cast<const char *>(Ders[Index]), (size_t)Lengths[Index]);
        if (!PlatformTrust_IsCertificate(Given.back())) return FALSE;
        Built.push_back(std::make_unique<Certificate>(Given.back()));
        Path.push_back(Built.back()->Handle);
        AllBuilt = AllBuilt && Built.back()->Built;
    }
    if (AllBuilt) return PlatformTrust_AuthenticatePath(Path.data(), Count, Denied);
    // A certificate that does not build is trusted by nobody, yet still
    // told as denied when the list names it.
    const bool Listed = Locked([&] {
        for (int32 Index = 0; Index < Count; Index++)
            if ((!Settings.Denied.empty() && Settings.Denied.count(Thumbprint(Given[(size_t)Index])) != 0) ||
                (Built[(size_t)Index]->Built && IsDenied(Path[(size_t)Index])))
                return true;
        return false;
    });
    if (Denied != nullptr) *Denied = Listed ? 1 : 0;
    return FALSE;
}

int32 PlatformTrust_AuthenticatePath(X509 *const *Path, int32 Count, int32 *Denied) {
    if (Denied != nullptr) *Denied = 0;
    if (Path == nullptr || Count < 1 || Count > X509CHAIN_MAX_DEPTH) return FALSE;
    for (int32 Index = 0; Index < Count; Index++)
        if (Path[Index] == nullptr || DerOf(Path[Index]).empty()) return FALSE;
    return Locked([&] {
        for (int32 Index = 0; Index < Count; Index++)
            if (IsDenied(Path[Index])) {
                if (Denied != nullptr) *Denied = 1;
                return FALSE;
            }
        const std::string AnchorFile = PlatformStandIn_Value("TRUST_ANCHORS", SystemBundle);
        if (!Settings.Loaded || Settings.LoadedFrom != AnchorFile) LoadAnchors(AnchorFile);
        return Trusted(Path, Count) ? TRUE : FALSE;
    });
}
