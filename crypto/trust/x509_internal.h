// What a certification path evaluation reads of a certificate (x509.cpp
// fills it, x509_path.cpp checks it). Every span points into the
// certificate's own DER and lives as long as the certificate is not rebuilt.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/digests/hash.h"
#include "crypto/trust/x509.h"

// What the name-constraint checks compare of a certificate (x509_path.cpp):
// its names and its NameConstraints' subtrees, read once when it is built,
// so that no check made on it parses them again.
struct X509NameFacts;

struct X509PathFacts {
    std::span<const uint8> Subject, Issuer;  // whole Name elements
    std::span<const uint8> NameConstraints;  // the NameConstraints SEQUENCE; empty when absent
    std::span<const uint8> AltNames;         // the GeneralNames SEQUENCE; empty when absent
    // The subjectKeyIdentifier and the keyIdentifier of the
    // authorityKeyIdentifier, as their content; empty when absent or unreadable.
    std::span<const uint8> SubjectKeyId, AuthorityKeyId;
    int32 PathLength = -1;                   // -1 without a pathLenConstraint
    bool UnknownCritical = false;            // a critical extension this reader does not understand
    const HashInterface *SignatureHash = nullptr;
    const X509NameFacts *Names = nullptr;    // null for a certificate never built
};

// False for a certificate that was never built.
bool X509_GetPathFacts(X509 *Handle, X509PathFacts &Facts);

// The certificate's DER with its ECDSA signature (r, s) replaced by (r, n - s)
// for each curve order n above s: the other signature that verifies wherever
// this one does, so a deny list that names one names both. None for an RSA
// signature or a certificate that was never built.
std::vector<std::string> X509_EcdsaTwins(X509 *Handle);

// Reads the name facts of a certificate from its subject (the Name's DER
// and match key), its subjectAltName's GeneralNames and its NameConstraints
// SEQUENCE (each empty when absent): null when the constraints cannot be
// read, which fails the certificate. Names that cannot be read fail only a
// path on which an issuer constrains them. Freed by X509Path_FreeNameFacts.
X509NameFacts *X509Path_ReadNameFacts(std::span<const uint8> Subject, std::string_view SubjectKey,
                                      std::span<const uint8> AltNames, std::span<const uint8> NameConstraints);
void X509Path_FreeNameFacts(X509NameFacts *Facts);

// What this thread has parsed since it started: certificates built, name
// facts read, host names checked. Tests read them to see that a trust
// decision parses nothing its certificates were built with.
struct X509ParseCounts {
    int64 Certificates = 0;
    int64 NameFacts = 0;
    int64 HostNameChecks = 0;
};
X509ParseCounts &X509_ParseCounts();

// An attribute value of a Name as name matching compares it (RFC 5280 7.1,
// as openssl compares names), given its tag, content and whole encoding: a
// character string as UTF-8 with ASCII letters folded, white space trimmed at
// both ends and each run of it made one space, so that PrintableString
// "Velmarsh  Test" and UTF8String "velmarsh test" are one value. Any other
// value, or a string that cannot be converted (a BMPString or
// UniversalString cut inside a character, a code point UTF-8 cannot hold),
// is its whole encoding, compared byte for byte. Issuer links and
// directoryName constraints both compare names by it.
std::string X500_MatchValue(uint8 Tag, std::span<const uint8> Content, std::span<const uint8> Whole);

// The match key of the Name whose DER is Whole (see X500_GetMatchKey);
// false when it is not one readable Name.
bool X500_MatchKeyOf(std::span<const uint8> Whole, std::string &Key);

// A name as X500_Compare compares it: two names are the same exactly when
// their keys are equal. Empty for an empty name; lives as long as the name
// is not built again.
std::string_view X500_GetMatchKey(X500 *Name);

// What one trust decision spends (X509Chain_VerifyX509): its signature
// checks and the name comparisons of every name-constraint check made on
// its thread while it runs, the store's own included.
struct X509DecisionWork {
    int32 SignatureChecks = 0;
    int64 NameComparisons = 0;
    bool NamesSpent = false; // a check was refused for want of comparisons
    // The last path (self-signed copies collapsed) that passed
    // X509Chain_CheckPath in this decision; its certificates are the
    // decision's own or, at its end, a store's anchor.
    std::vector<X509 *> Passed;
};

// While one lives, every X509Chain_CheckPath on this thread draws its name
// comparisons from Work, up to X509CHAIN_MAX_NAME_COMPARISONS in all;
// without one each call has that many of its own.
class X509DecisionScope {
  public:
    explicit X509DecisionScope(X509DecisionWork &Work);
    ~X509DecisionScope();
    X509DecisionScope(const X509DecisionScope &) = delete;
    X509DecisionScope &operator=(const X509DecisionScope &) = delete;

  private:
    X509DecisionWork *Outer;
};

// Whether the decision on this thread has already seen a path that begins
// with this one pass X509Chain_CheckPath (a store checks the path it
// anchors, with its own anchor above): every check of a path holds for the
// path's beginning, so the search need not check it, nor pay its name
// comparisons, again.
bool X509Path_PassedInDecision(X509 *const *Path, int32 Count);

// X509Chain_CheckPath without the name constraints: what every partial path
// of a search is held to, at a cost that grows with its length alone.
bool X509Path_CheckStructure(X509 *const *Path, int32 Count);

typedef struct X509Chain X509Chain;
// Appends a certificate the caller built, handing over its reference (the
// handle is cleared): X509Chain_Add without the copy, so that a chain read
// from outside (a JWS "x5c") parses each certificate once.
void X509Chain_Take(X509Chain *Handle, X509 **Certificate);

// The work and refusal of the last X509Chain_VerifyX509 on this thread ("" when it trusted).
struct X509DecisionReport {
    X509DecisionWork Work;
    std::string Refusal;
};
const X509DecisionReport &X509Chain_LastDecision();
