// Certificate trust: the stand-in for the platform's trust service, built on
// our X.509.
//
// A certificate (DER) is trusted when it is byte-identical to an anchor of
// the system's certificate bundle (/etc/ssl/certs/ca-certificates.crt, PEM),
// and denied when its SHA-256 thumbprint is on the deny list (empty by
// default). Dates play no part; issuers are never fetched from the network.
// Evaluations are serialised and the bundle is read once per setting.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 Platform_AuthenticateCertificate(const void *Der, int32 Length, int32 FetchIssuers, int32 *Denied);
// The same decision for the last of Count DER certificates, given with the
// ones below it (the first is the certificate first asked about, each issued
// by the next): trusted when the last is an anchor, or an anchor that may
// issue signed it, and the whole path up to that anchor passes the path
// checks (X509Chain_CheckPath). Denied as above, for any of them.
int32 Platform_AuthenticateCertificatePath(const void *const *Ders, const int32 *Lengths, int32 Count,
                                           int32 FetchIssuers, int32 *Denied);
// 0 for the result codes that do not count as errors (0, expired, not yet
// valid and three more), 1 for any other.
int32 Platform_CertificateIsError(int32 Code);
// Where anchors come from (the TRUST_ANCHORS stand-in of platform_stand_in.h;
// null: "VELMARSH_TRUST_ANCHORS", else the system bundle) and the denied
// SHA-256 thumbprints (hex, separated by anything else; null: none).
int32 Platform_SetCertificateTrust(const char *AnchorFile, const char *DeniedThumbprints);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
#include <string_view>
#include <vector>

typedef struct X509 X509;

// Platform_AuthenticateCertificatePath for certificates already built (the
// chain walk's own), which it does not parse again.
int32 PlatformTrust_AuthenticatePath(X509 *const *Path, int32 Count, int32 *Denied);
// The DER certificates of a PEM bundle, in order; blocks that do not decode
// or are not certificates are skipped.
std::vector<std::string> PlatformTrust_ReadBundle(std::string_view Pem);
// True when the bytes are one whole DER certificate (an outer sequence of a
// to-be-signed sequence, an algorithm sequence and a signature bit string).
bool PlatformTrust_IsCertificate(std::string_view Der);
#endif
