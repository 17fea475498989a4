// The public-key object. See crypt_asymmetric.h.
#include "crypto/keys/crypt_asymmetric.h"

#include <stdarg.h>
#include <string.h>
#include <strings.h>

#include "crypto/keys/ecdsa.h"
#include "crypto/keys/rsa.h"
#include "runtime/memory.h"

struct CryptAsymmetric {
    ClassStruct Class;
    ClassPrintStruct Print;
    void *Algorithm;
    const CryptAsymmetricInterface *Interface;
};

#define CryptAsymmetric_Check(Handle) Class_CheckHandle((Handle), CRYPTASYMMETRIC_CLASSID)

namespace {

// The algorithms, by name and by key OID. ParamsOid: the AlgorithmIdentifier
// carries an OID parameter (the named curve) for InitParams.
struct Algorithm {
    const char *Name;
    const char *Oid;
    const CryptAsymmetricInterface *Interface;
    bool ParamsOid;
};
constexpr Algorithm Algorithms[] = {
    {"RSA", "1.2.840.113549.1.1.1", &RSA_INTERFACE, false},
    {"ECDSA", "1.2.840.10045.2.1", &ECDSA_INTERFACE, true},
};

constexpr int32 OidTextSize = 320;

int32 DeleteThroughClass(void *HandleAddress) {
    return CryptAsymmetric_Delete(static_cast<CryptAsymmetric **>(HandleAddress));
}

const Algorithm *AlgorithmOf(const CryptAsymmetricInterface *Interface) {
    for (const Algorithm &Row : Algorithms)
        if (Row.Interface == Interface) return &Row;
    return nullptr;
}

// The chosen table's operation; a missing table or slot is a fatal stop.
template <typename Function>
Function Slot(CryptAsymmetric *Handle, Function CryptAsymmetricInterface::*Member, const char *Name) {
    CryptAsymmetric_Check(Handle);
    if (Handle->Interface == nullptr) Debug_Abort("Not Supported - %s (no algorithm chosen)", Name);
    Function Operation = Handle->Interface->*Member;
    if (Operation == nullptr) Debug_Abort("Not Supported - %s", Name);
    return Operation;
}
#define SLOT(Handle, Name) Slot((Handle), &CryptAsymmetricInterface::Name, #Name)

} // namespace

CLASS_DEFINE_REFERENCE(CryptAsymmetric, CryptAsymmetric, CRYPTASYMMETRIC_CLASSID)
CLASSPRINT_DEFINE(CryptAsymmetric, CryptAsymmetric, CRYPTASYMMETRIC_CLASSID, "CryptAsymmetric", Print)

int32 CryptAsymmetric_VerboseLog(CryptAsymmetric *Handle, int32 Level, const char *Format, ...) {
    CryptAsymmetric_Check(Handle);
    if (!CryptAsymmetric_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = CryptAsymmetric_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 CryptAsymmetric_Create(CryptAsymmetric **Handle) {
    Debug_CheckPointer(Handle);
    CryptAsymmetric *Object = Memory_New(CryptAsymmetric);
    Class_InitHeader(Object, CRYPTASYMMETRIC_CLASSID, DeleteThroughClass);
    *Handle = Object;
    return TRUE;
}

int32 CryptAsymmetric_Delete(CryptAsymmetric **Handle) {
    Debug_CheckPointer(Handle);
    CryptAsymmetric_Check(*Handle);
    if ((*Handle)->Algorithm != nullptr) (*Handle)->Interface->Delete(&(*Handle)->Algorithm);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 CryptAsymmetric_InterfaceFromName(const char *Name, const CryptAsymmetricInterface **Interface) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Interface);
    *Interface = nullptr;
    for (const Algorithm &Row : Algorithms) {
        if (strcasecmp(Row.Name, Name) == 0) {
            *Interface = Row.Interface;
            return TRUE;
        }
    }
    Log_Error("Unsupported asymmetric cryptographic algorithm %s\n", Name);
    return FALSE;
}

int32 CryptAsymmetric_InterfaceFromOid(const char *Oid, const CryptAsymmetricInterface **Interface) {
    Debug_CheckPointer(Oid);
    Debug_CheckPointer(Interface);
    *Interface = nullptr;
    for (const Algorithm &Row : Algorithms) {
        if (strcmp(Row.Oid, Oid) == 0) {
            *Interface = Row.Interface;
            return TRUE;
        }
    }
    Log_Error("Unsupported asymmetric cryptographic algorithm %s\n", Oid);
    return FALSE;
}

int32 CryptAsymmetric_ResetInterface(CryptAsymmetric *Handle, const CryptAsymmetricInterface *Interface) {
    CryptAsymmetric_Check(Handle);
    Debug_CheckPointer(Interface);
    if (!Interface->Name || !Interface->Create || !Interface->Delete || !Interface->HasPrivateKey ||
        !Interface->SetPrivateKey || !Interface->SetPublicKey || !Interface->PublicKeyEncrypt || !Interface->Verify)
        Debug_Abort("Assertion failed (Interface complete)\nAsymmetric interface %s lacks an operation",
                    Interface->Name ? Interface->Name : "(unnamed)");
    if (Handle->Algorithm != nullptr) Handle->Interface->Delete(&Handle->Algorithm);
    Handle->Interface = Interface;
    Interface->Create(&Handle->Algorithm);
    return TRUE;
}

const CryptAsymmetricInterface *CryptAsymmetric_GetInterface(CryptAsymmetric *Handle) {
    CryptAsymmetric_Check(Handle);
    return Handle->Interface;
}

void *CryptAsymmetric_GetAlgorithmHandle(CryptAsymmetric *Handle) {
    CryptAsymmetric_Check(Handle);
    return Handle->Algorithm;
}

int32 CryptAsymmetric_IsRSA(CryptAsymmetric *Handle) {
    CryptAsymmetric_Check(Handle);
    return Handle->Interface == &RSA_INTERFACE;
}

int32 CryptAsymmetric_IsECDSA(CryptAsymmetric *Handle) {
    CryptAsymmetric_Check(Handle);
    return Handle->Interface == &ECDSA_INTERFACE;
}

int32 CryptAsymmetric_CanSign(CryptAsymmetric *Handle) {
    return SLOT(Handle, HasPrivateKey)(Handle->Algorithm);
}

int32 CryptAsymmetric_InitParams(CryptAsymmetric *Handle, const char *Params) {
    return SLOT(Handle, InitParams)(Handle->Algorithm, Params);
}

int32 CryptAsymmetric_SetPrivateKey(CryptAsymmetric *Handle, const void *Der, int32 Size) {
    return SLOT(Handle, SetPrivateKey)(Handle->Algorithm, Der, Size);
}

int32 CryptAsymmetric_SetPublicKey(CryptAsymmetric *Handle, const void *Bytes, int32 Size) {
    return SLOT(Handle, SetPublicKey)(Handle->Algorithm, Bytes, Size);
}

int32 CryptAsymmetric_SetPublicKeyPair(CryptAsymmetric *Handle, const BigInt *First, const BigInt *Second) {
    return SLOT(Handle, SetPublicKeyPair)(Handle->Algorithm, First, Second);
}

int32 CryptAsymmetric_PublicKeyEncrypt(CryptAsymmetric *Handle, const void *Data, int32 Size, void *Output,
                                       int32 OutputSize, int32 *Written) {
    return SLOT(Handle, PublicKeyEncrypt)(Handle->Algorithm, Data, Size, Output, OutputSize, Written);
}

int32 CryptAsymmetric_Sign(CryptAsymmetric *Handle, const void *Digest, int32 DigestSize, void *Output,
                           int32 OutputSize, int32 *Written) {
    return SLOT(Handle, Sign)(Handle->Algorithm, Digest, DigestSize, Output, OutputSize, Written);
}

int32 CryptAsymmetric_Verify(CryptAsymmetric *Handle, const void *Digest, int32 DigestSize, const void *Signature,
                             int32 SignatureSize, int32 Mode) {
    return SLOT(Handle, Verify)(Handle->Algorithm, Digest, DigestSize, Signature, SignatureSize, Mode);
}

int32 CryptAsymmetric_Reset(CryptAsymmetric *Handle) {
    CryptAsymmetric_Check(Handle);
    if (Handle->Interface == nullptr) return TRUE;
    return SLOT(Handle, Reset)(Handle->Algorithm);
}

int32 CryptAsymmetric_SetPublicKeyFromASN1(CryptAsymmetric *Handle, ASN1 *Node) {
    CryptAsymmetric_Check(Handle);
    ASN1 *Identifier = ASN1_GetElement(Node, 0);
    char Oid[OidTextSize];
    if (!ASN1_ParseOid(ASN1_GetElement(Identifier, 0), Oid, sizeof(Oid))) return FALSE;
    const CryptAsymmetricInterface *Interface = nullptr;
    if (!CryptAsymmetric_InterfaceFromOid(Oid, &Interface)) {
        CryptAsymmetric_VerboseLog(Handle, 0, "Unsupported public key algorithm %s", Oid);
        return FALSE;
    }
    CryptAsymmetric_ResetInterface(Handle, Interface);
    const Algorithm *Row = AlgorithmOf(Interface);
    if (Row != nullptr && Row->ParamsOid) {
        char Params[OidTextSize];
        if (!ASN1_ParseOid(ASN1_GetElement(Identifier, 1), Params, sizeof(Params))) return FALSE;
        if (!CryptAsymmetric_InitParams(Handle, Params)) return FALSE;
    }
    ASN1 *Key = ASN1_GetElement(Node, 1);
    if (ASN1_GetType(Key) != ASN1_TYPE_BITSTRING || ASN1_GetValueSize(Key) < 1) return FALSE;
    const uint8 *Bits = ASN1_GetValuePtr(Key);
    if (Bits[0] != 0) {
        CryptAsymmetric_VerboseLog(Handle, 0, "Unsupported BIT STRING unused bits count (%d)", Bits[0]);
        return FALSE;
    }
    return CryptAsymmetric_SetPublicKey(Handle, Bits + 1, ASN1_GetValueSize(Key) - 1);
}
