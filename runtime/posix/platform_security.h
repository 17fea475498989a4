// Credentials and certificate trust: the stand-ins for the keychain and the
// trust service.
//
// Credentials live in an owner-only property-list file (see
// preference_store.h: credentials.plist, 0600 in a 0700 folder that is
// tightened when it exists with looser modes); they are protected by file
// permissions only. A generic item is identified by its service; a web item
// by protocol, host, port and security domain. After a set there is one
// item per identity. Passwords read back are always terminated (cut to the
// buffer less one byte).
//
// Web credential types: 0 HTTP and HTTPS, 1 HTTP proxy and HTTPS proxy,
// 2 HTTP, 3 HTTPS, 4 HTTP proxy, 5 HTTPS proxy; any other type answers 0
// (page input never stops the program). A server is "host[:port]" of at
// most 120 bytes; the port defaults to 80.
//
// Trust: a certificate (DER) is trusted when it is byte-identical to an
// anchor of the system's certificate bundle (/etc/ssl/certs/
// ca-certificates.crt, PEM), and denied when its SHA-256 thumbprint is on
// the deny list (empty by default). Dates play no part; issuers are never
// fetched from the network. Evaluations are serialised and the bundle is
// read once per setting.
#pragma once

#include "runtime/types.h"

#define PLATFORM_WEBCREDENTIAL_HTTPANDHTTPS 0
#define PLATFORM_WEBCREDENTIAL_PROXIES 1
#define PLATFORM_WEBCREDENTIAL_HTTP 2
#define PLATFORM_WEBCREDENTIAL_HTTPS 3
#define PLATFORM_WEBCREDENTIAL_HTTPPROXY 4
#define PLATFORM_WEBCREDENTIAL_HTTPSPROXY 5

RUNTIME_EXTERN_C_BEGIN

// User and password both given: store or replace; both null: delete (0
// when there was nothing). Only one of them null is a fatal stop.
int32 Platform_SetCredential(const char *Service, const char *User, const char *Password);
int32 Platform_GetCredential(const char *Service, char *User, int32 UserLength, char *Password,
                             int32 PasswordLength);

int32 Platform_SetWebCredential(int32 Type, const char *Server, const char *SecurityDomain, const char *User,
                                const char *Password);
int32 Platform_GetWebCredential(int32 Type, const char *Server, const char *SecurityDomain, char *User,
                                int32 UserLength, char *Password, int32 PasswordLength);

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

// The DER certificates of a PEM bundle, in order; blocks that do not decode
// or are not certificates are skipped.
std::vector<std::string> PlatformTrust_ReadBundle(std::string_view Pem);
// True when the bytes are one whole DER certificate (an outer sequence of a
// to-be-signed sequence, an algorithm sequence and a signature bit string).
bool PlatformTrust_IsCertificate(std::string_view Der);
#endif
