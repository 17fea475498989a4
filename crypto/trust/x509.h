// X.500 names and X.509 certificates, read far enough for the system's trust
// decisions.
//
// X500 offers three attributes of a name as text: organisation (2.5.4.10),
// organisational unit (2.5.4.11) and common name (2.5.4.3), each at most 320
// characters. Names are compared whole: every RDN, attribute type and value,
// strings without case and with white space folded (RFC 5280 7.1), so two
// names that differ only in their country are different names.
//
// X509 keeps its own copy of the certificate's DER, the bytes its issuer
// signed, version, serial number, issuer and subject names, validity (stored,
// never checked against the clock), the hash of its signature algorithm, the
// signature, and the subject's public key. Of the extensions it reads
// basicConstraints and keyUsage, which decide whether the certificate may
// issue others (X509_CanIssue), and keeps the alternative names and name
// constraints for the path checks.
//
// Only DER is read: shortest lengths, nothing after the certificate, the
// outer signature algorithm byte for byte the signed one, a serial of one
// byte or more, and each fixed structure (the certificate's and those of the
// extensions read) with exactly the elements its definition allows. Every
// extension must parse and none may come twice, and an empty subject needs a
// critical subjectAltName; else the build fails, with the reason kept
// (X509_GetRefusal).
//
// Bad input (any bytes from a server, a signed file or a JWS header) fails
// the build with 0 and leaves a valid, unusable handle; it never stops the
// process. An X509 is used by one thread at a time.
#pragma once

#include "crypto/digests/hash.h"
#include "crypto/keys/big_int.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define X500_CLASSID 0x0cbdaec3u
#define X509_CLASSID 0x9925eb10u
// The longest attribute text an X500 keeps.
#define X500_MAX_TEXT_LENGTH 320

RUNTIME_EXTERN_C_BEGIN

typedef struct X500 X500;
typedef struct X509 X509;
typedef struct ASN1 ASN1;
typedef struct CryptAsymmetric CryptAsymmetric;

int32 X500_Create(X500 **Handle);
int32 X500_Delete(X500 **Handle);
CLASS_DECLARE_REFERENCE(X500, X500)
// Reads a Name (SEQUENCE of RDNs); 1 for any well-formed name, an empty one
// included. A value in a string type no name may hold (VisibleString,
// VideotexString, GraphicString, GeneralString), a UTF8String that is not
// UTF-8 or a BMPString or UniversalString that is no whole text fails it. CN,
// O and OU are taken from the first attribute of each RDN, as UTF-8 (a
// BMPString read as UCS-2, a UniversalString as UCS-4, a PrintableString,
// T61String, IA5String or NumericString as Latin-1); one whose text cannot
// be read (a zero character, another type) fails the whole name.
int32 X500_Build(X500 *Handle, ASN1 *Name);
int32 X500_GetO(X500 *Handle, char *Output, int32 Size);
int32 X500_GetOU(X500 *Handle, char *Output, int32 Size);
int32 X500_GetCN(X500 *Handle, char *Output, int32 Size);
// 1 when the two names are the same name: identical DER, or equal RDN by RDN
// with attribute values compared as RFC 5280 7.1 asks (an RDN's attributes
// in any order).
int32 X500_Compare(X500 *A, X500 *B);

int32 X509_Create(X509 **Handle);
int32 X509_Delete(X509 **Handle);
CLASS_DECLARE_REFERENCE(X509, X509)
CLASSPRINT_DECLARE(X509, X509)
int32 X509_VerboseLog(X509 *Handle, const char *Format, ...);

// Each copies the DER and parses it; 1 on success.
int32 X509_Build(X509 *Handle, ASN1 *Node);
int32 X509_BuildFromBuffer(X509 *Handle, const void *Bytes, uint32 Length);
// Standard Base64, line breaks (CR, LF) allowed anywhere.
int32 X509_BuildFromBase64(X509 *Handle, const char *Text, int32 Length);
int32 X509_Copy(X509 *Destination, X509 *Source);
// Why the last build failed (not DER, another outer algorithm, an extension
// twice or unreadable, ...): 1 and the text, or 0 and "" after a success.
int32 X509_GetRefusal(X509 *Handle, const char **Reason);

// 1 when the issuer's key verifies the subject's signature over the bytes
// the subject's issuer signed.
int32 X509_VerifyIssued(X509 *Issuer, X509 *Subject);
// Verifies a signature over a finished digest (DigestInfo form for RSA).
int32 X509_VerifyHash(X509 *Handle, Hash *Digest, const void *Signature, uint32 Length);
int32 X509_VerifyDigest(X509 *Handle, const void *Digest, uint32 DigestLength, const void *Signature,
                        uint32 SignatureLength, int32 Version);
int32 X509_Encrypt(X509 *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize, int32 *Written);
// 1 when the certificate may sign other certificates: version 3 with
// basicConstraints cA TRUE (and keyCertSign when keyUsage is present), or a
// self-issued certificate without extensions (an old version 1 root).
int32 X509_CanIssue(X509 *Handle);

// 1 when the DER encodings are byte-identical.
int32 X509_Compare(X509 *A, X509 *B);
int32 X509_CompareByIssuerAndSerialNumber(X509 *Handle, X500 *Issuer, BigInt *Serial);
// 1 when the certificate's issuer equals the candidate's subject.
int32 X509_CompareIssuer(X509 *Handle, X509 *Candidate);

int32 X509_GetASN1(X509 *Handle, const uint8 **Der, uint32 *Length);
int32 X509_GetHashInterface(X509 *Handle, const HashInterface **Interface);
// The digest of the whole DER with that hash; 0 when Size is too small.
int32 X509_Thumbprint(X509 *Handle, const HashInterface *Interface, void *Output, int32 Size);
// Without a new reference; 1 when present.
int32 X509_GetCryptAsymmetricHandle(X509 *Handle, CryptAsymmetric **Key);
// Without new references.
int32 X509_GetSubjectHandle(X509 *Handle, X500 **Name);
int32 X509_GetIssuerHandle(X509 *Handle, X500 **Name);
int32 X509_GetSerialNumberHandle(X509 *Handle, BigInt **Serial);
// 1, 2 or 3; 1 when the certificate carries no version field.
int32 X509_GetVersion(X509 *Handle, int32 *Version);
int32 X509_Dump(X509 *Handle);

RUNTIME_EXTERN_C_END
