// Certificates for the trust tests: DER bytes written out as one PEM file
// (for openssl's -CAfile and -untrusted, and for the platform store's anchor
// file), the platform store over such a file, a store with a fixed answer
// that records what it is asked, and a leaf decided over a pool of DER
// certificates.
#pragma once

#include <string>
#include <vector>

#include "crypto/trust/cert_store.h"
#include "crypto/trust/cert_store_platform.h"
#include "runtime/types.h"

// Writes each DER certificate of Ders, in order, as a PEM block into the
// file at Path (replaced).
void WriteCertificatesPem(const std::string &Path, const std::vector<std::string> &Ders);

// The platform store while the anchors of the PEM file at PemPath are the
// platform's trust, with the thumbprints in Denied denied. The trust is
// global: at the end it is reset to the system's, and the store released.
class PlatformAnchors {
  public:
    explicit PlatformAnchors(const std::string &PemPath, const char *Denied = nullptr);
    ~PlatformAnchors();
    PlatformAnchors(const PlatformAnchors &) = delete;
    PlatformAnchors &operator=(const PlatformAnchors &) = delete;
    CertStoreInterface *Interface = nullptr;

  private:
    CertStorePlatform *Store = nullptr;
};

// A store with a fixed answer (and stop flag) that records each certificate
// it is asked about, in order.
class RecordingStore {
  public:
    RecordingStore();
    ~RecordingStore();
    RecordingStore(const RecordingStore &) = delete;
    RecordingStore &operator=(const RecordingStore &) = delete;
    int32 Answer = 0;
    uint32 StopWith = 0;
    std::vector<X509 *> Asked;
    CertStoreInterface *Interface = nullptr;
};

// Our decision for the DER leaf over the DER certificates of Pool, added to
// the chain in order (each is expected to build), through Store. A leaf that
// cannot be read is refused as surely as one that fails; LeafBuilt, when
// given, tells which.
int32 DecideDer(const std::vector<std::string> &Pool, const std::string &Leaf, CertStoreInterface *Store,
                int32 *LeafBuilt = nullptr);
