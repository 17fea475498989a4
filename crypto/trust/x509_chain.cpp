// X509Chain: see x509_chain.h.
#include "crypto/trust/x509_chain.h"

#include <algorithm>
#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/trust/authenticate.h"
#include "runtime/memory.h"

struct X509Chain {
    ClassStruct Class;
    uint32 Check;
    std::vector<X509 *> *Entries;
};

#define X509Chain_Check(Handle) Class_CheckHandle((Handle), X509CHAIN_CLASSID)

namespace {

constexpr uint32 ChainCheck = 0xb52816b7u;

int32 DeleteObject(void *HandleAddress) { return X509Chain_Delete(static_cast<X509Chain **>(HandleAddress)); }

std::vector<X509 *> &Entries(X509Chain *Handle) {
    X509Chain_Check(Handle);
    Class_CheckTag(Handle, Check, ChainCheck);
    return *Handle->Entries;
}

} // namespace

int32 X509Chain_Create(X509Chain **Handle) {
    Debug_CheckPointer(Handle);
    X509Chain *Chain = Memory_New(X509Chain);
    Class_InitHeader(Chain, X509CHAIN_CLASSID, DeleteObject);
    Chain->Check = ChainCheck;
    Chain->Entries = new std::vector<X509 *>();
    *Handle = Chain;
    return TRUE;
}

int32 X509Chain_Delete(X509Chain **Handle) {
    Debug_CheckPointer(Handle);
    X509Chain_Reset(*Handle);
    delete (*Handle)->Entries;
    Memory_Delete(*Handle);
    return TRUE;
}

CLASS_DEFINE_REFERENCE(X509Chain, X509Chain, X509CHAIN_CLASSID)

int32 X509Chain_Add(X509Chain *Handle, X509 *Certificate) {
    std::vector<X509 *> &List = Entries(Handle);
    X509 *Copy = nullptr;
    X509_Create(&Copy);
    if (!X509_Copy(Copy, Certificate)) {
        X509_Release(&Copy);
        return FALSE;
    }
    List.push_back(Copy);
    return TRUE;
}

int32 X509Chain_Build(X509Chain *Handle, ASN1 *Node) {
    X509Chain_Reset(Handle);
    int32 Count = 0;
    if (Node != nullptr) ASN1_GetElementCount(Node, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Element = ASN1_GetElement(Node, Index);
        int32 Parts = 0;
        ASN1_GetElementCount(Element, &Parts);
        if (Parts == 0) break;
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        const int32 Built = X509_Build(Certificate, Element);
        if (Built) Entries(Handle).push_back(Certificate);
        else X509_Release(&Certificate);
        if (!Built) {
            X509Chain_Reset(Handle);
            return FALSE;
        }
    }
    return TRUE;
}

int32 X509Chain_Reset(X509Chain *Handle) {
    std::vector<X509 *> &List = Entries(Handle);
    for (X509 *&Certificate : List) X509_Release(&Certificate);
    List.clear();
    return TRUE;
}

int32 X509Chain_GetCount(X509Chain *Handle, int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = (int32)Entries(Handle).size();
    return TRUE;
}

int32 X509Chain_Get(X509Chain *Handle, int32 Index, X509 **Certificate) {
    Debug_CheckPointer(Certificate);
    std::vector<X509 *> &List = Entries(Handle);
    *Certificate = Index >= 0 && (size_t)Index < List.size() ? List[(size_t)Index] : nullptr;
    return *Certificate != nullptr;
}

int32 X509Chain_IssuerFind(X509Chain *Handle, X509 *Certificate, X509 **Issuer) {
    Debug_CheckPointer(Issuer);
    *Issuer = nullptr;
    for (X509 *Entry : Entries(Handle)) {
        if (X509_CompareIssuer(Certificate, Entry)) {
            *Issuer = Entry;
            break;
        }
    }
    return *Issuer != nullptr;
}

int32 X509Chain_IssuerAndSerialNumberFind(X509Chain *Handle, X500 *Issuer, BigInt *Serial, X509 **Certificate) {
    Debug_CheckPointer(Certificate);
    *Certificate = nullptr;
    for (X509 *Entry : Entries(Handle)) {
        if (X509_CompareByIssuerAndSerialNumber(Entry, Issuer, Serial)) {
            *Certificate = Entry;
            break;
        }
    }
    return *Certificate != nullptr;
}

int32 X509Chain_VerifyX509(X509Chain *Handle, X509 *Certificate, CertStoreInterface *Store) {
    const std::vector<X509 *> &List = Entries(Handle);
    if (Certificate == nullptr) return FALSE;
    uint32 Stop = 0;
    // The path from the certificate up to the one asked about: the store
    // sees it whole, so that an anchor it holds elsewhere is checked with
    // every certificate below.
    std::vector<X509 *> Path{Certificate};
    size_t Distinct = 1;
    // A yes from the store stands only for a path that holds; with
    // authentication off every question answers yes at once.
    auto Ask = [&] {
        if (!CertStoreInterface_X509PathIsTrusted(Store, Path.data(), (int32)Path.size(), &Stop)) return FALSE;
        if (!Authenticate_Enabled() || X509Chain_CheckPath(Path.data(), (int32)Path.size())) return TRUE;
        // A path that fails can only fail again as it grows.
        Stop = 1;
        return FALSE;
    };
    if (Ask()) return TRUE;
    if (Stop) return FALSE;
    // Each entry is visited at most once, so two certificates that issued
    // each other end the walk instead of sending it round for ever.
    std::vector<X509 *> Visited;
    X509 *Current = Certificate, *Issuer = nullptr;
    while (X509Chain_IssuerFind(Handle, Current, &Issuer)) {
        if (Issuer == Current) break;
        if (std::find(Visited.begin(), Visited.end(), Issuer) != Visited.end() || Visited.size() >= List.size())
            return FALSE;
        Visited.push_back(Issuer);
        if (!X509_VerifyIssued(Issuer, Current)) return FALSE;
        // A certificate's own copy signed it (and counts once in the path);
        // any other issuer must be one that may issue, or every leaf could
        // sign for any name.
        if (!X509_Compare(Issuer, Current) && (!X509_CanIssue(Issuer) || ++Distinct > X509CHAIN_MAX_DEPTH))
            return FALSE;
        Path.push_back(Issuer);
        if (Ask()) return TRUE;
        if (Stop) return FALSE;
        Current = Issuer;
    }
    return Ask();
}

int32 X509Chain_Dump(X509Chain *Handle) {
    for (X509 *Entry : Entries(Handle)) X509_Dump(Entry);
    return TRUE;
}
