// X509Chain: see x509_chain.h.
#include "crypto/trust/x509_chain.h"


#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/trust/authenticate.h"
#include "crypto/trust/x509_internal.h"
#include "runtime/log.h"
#include "runtime/memory.h"

struct X509Chain {
    ClassStruct Class;
    uint32 Check;
    std::vector<X509 *> *Entries;
    std::string *Refusal; // why the last decision refused; empty after a yes
};

#define X509Chain_Check(Handle) Class_CheckHandle((Handle), X509CHAIN_CLASSID)

namespace {

constexpr uint32 ChainCheck = 0xb52816b7u;

thread_local X509DecisionReport Last;

std::string_view DerOf(X509 *Certificate) {
    const uint8 *Der = nullptr;
    uint32 Size = 0;
    X509_GetASN1(Certificate, &Der, &Size);
    return Der != nullptr ? std::string_view((const char *)Der, Size) : std::string_view();
}

int32 DeleteObject(void *HandleAddress) { return X509Chain_Delete(static_cast<X509Chain **>(HandleAddress)); }

std::vector<X509 *> &Entries(X509Chain *Handle) {
    X509Chain_Check(Handle);
    Class_CheckTag(Handle, Check, ChainCheck);
    return *Handle->Entries;
}

// A certificate's subject key identifier and the keyIdentifier of its
// authority key identifier, as the certificate read them (empty when absent).
// They only order the candidates for an issuer: the one whose key its
// subject names first.
struct KeyIds {
    std::string_view Subject, Authority;
};

KeyIds ReadKeyIds(X509 *Certificate) {
    X509PathFacts Facts;
    if (!X509_GetPathFacts(Certificate, Facts)) return {};
    auto View = [](std::span<const uint8> Bytes) { return std::string_view((const char *)Bytes.data(), Bytes.size()); };
    return {View(Facts.SubjectKeyId), View(Facts.AuthorityKeyId)};
}

// One search for a path from a certificate up to one the store trusts,
// depth first: each certificate whose subject is the name of the current
// one's issuer is a candidate; it must have signed the current one, and the
// path with it must pass X509Chain_CheckPath; otherwise the next candidate
// is tried, and when none is left the search goes back one step. A
// certificate stands at most once in a path (a self-signed one's own copy
// may stand right above it), which ends cycles. Candidates are tried in an
// order of their own (the one whose subject key identifier the current
// certificate names as its authority's first, then by their bytes), never in
// the pool's, and the work is bounded by X509CHAIN_MAX_SIGNATURE_CHECKS, so
// a crowd of certificates of one name ends early and the answer never
// depends on the order in which the certificates came.
class PathSearch {
  public:
    // Copies are told apart by a hash of their bytes and the candidates
    // found by their subject's match key, so a pool costs in proportion to
    // its size, however many certificates it holds.
    PathSearch(const std::vector<X509 *> &Entries, CertStoreInterface *Store) : Store(Store) {
        std::unordered_set<std::string_view> Seen;
        Seen.reserve(Entries.size());
        Pool.reserve(Entries.size());
        for (X509 *Entry : Entries) {
            const std::string_view Der = DerOf(Entry);
            if (!Der.empty() && !Seen.insert(Der).second) continue;
            Pool.push_back({Entry, ReadKeyIds(Entry)});
        }
        for (const Candidate &Each : Pool) {
            X500 *Subject = nullptr;
            X509_GetSubjectHandle(Each.Certificate, &Subject);
            BySubject[Subject != nullptr ? X500_GetMatchKey(Subject) : std::string_view()].push_back(&Each);
        }
    }

    // Answers whether the certificate is trusted; Refusal says why not.
    bool Run(X509 *Certificate, std::string &Refusal) {
        X509DecisionScope Scope(Work);
        Path.assign(1, Certificate);
        const Verdict First = Ask();
        const bool Trusted = First == Verdict::Trusted ||
                             (First == Verdict::Untrusted && Extend(ReadKeyIds(Certificate)));
        Work.SignatureChecks = Checks;
        Refusal = Trusted ? ""
                  : Work.NamesSpent ? "name constraints would take more than " +
                                          std::to_string(X509CHAIN_MAX_NAME_COMPARISONS) + " name comparisons"
                  : Checks >= X509CHAIN_MAX_SIGNATURE_CHECKS
                      ? "no path found within " + std::to_string(X509CHAIN_MAX_SIGNATURE_CHECKS) + " signature checks"
                      : "no path reaches a certificate the store trusts";
        if (!Trusted && (Work.NamesSpent || Checks >= X509CHAIN_MAX_SIGNATURE_CHECKS))
            Log_Debug("Certificate path search ended: %s\n", Refusal.c_str());
        return Trusted;
    }

    X509DecisionWork Work;

  private:
    enum class Verdict { Trusted, Untrusted, Refused };
    struct Candidate {
        X509 *Certificate;
        KeyIds Ids;
    };

    CertStoreInterface *Store;
    std::vector<Candidate> Pool; // one of each distinct certificate
    std::unordered_map<std::string_view, std::vector<const Candidate *>> BySubject;
    // Of each name put in order, those with a subject key identifier, by it.
    std::map<std::pair<std::string_view, std::string_view>, std::vector<const Candidate *>> ByNameAndKey;
    std::unordered_set<std::string_view> Ordered; // the names put in order
    std::vector<X509 *> Path;    // Path[0] the certificate decided
    int32 Checks = 0;

    // The store's answer about the path, which it sees whole, so that an
    // anchor it holds elsewhere is checked with every certificate below. A
    // path that fails the path checks can only fail again as it grows, and a
    // store's stop refuses the path: either way the search goes back. Each
    // partial path is held to the checks whose cost grows with its length
    // alone; the name constraints, whose cost grows with the names and
    // subtrees an attacker may pile into certificates of his own, are
    // checked once a path is anchored, from the decision's one budget. With
    // authentication off every question answers yes at once.
    Verdict Ask() {
        const bool Checked = Authenticate_Enabled();
        if (Checked && !X509Path_CheckStructure(Path.data(), (int32)Path.size())) return Verdict::Refused;
        uint32 Stop = 0;
        if (CertStoreInterface_X509PathIsTrusted(Store, Path.data(), (int32)Path.size(), &Stop))
            return !Checked || X509Path_PassedInDecision(Path.data(), (int32)Path.size()) ||
                           X509Chain_CheckPath(Path.data(), (int32)Path.size())
                       ? Verdict::Trusted
                       : Verdict::Refused;
        return Stop ? Verdict::Refused : Verdict::Untrusted;
    }

    bool OnPath(X509 *Certificate) const {
        for (X509 *Step : Path)
            if (Step == Certificate || (Step != Path.back() && X509_Compare(Step, Certificate))) return true;
        return false;
    }

    // Ids are the current certificate's (the top of the path).
    bool Extend(const KeyIds &Ids) {
        X509 *Current = Path.back();
        X500 *Issuer = nullptr;
        X509_GetIssuerHandle(Current, &Issuer);
        const std::string_view Name = Issuer != nullptr ? X500_GetMatchKey(Issuer) : std::string_view();
        auto Keyed = [&](const Candidate *Each) {
            return !Ids.Authority.empty() && Each->Ids.Subject == Ids.Authority;
        };
        // Only as many as the checks left can be tried: the issuers of the
        // name are taken in their order, the one whose subject key
        // identifier the current certificate names first, until one more
        // than that shows that the budget cuts the search.
        const size_t Room = (size_t)std::max(0, X509CHAIN_MAX_SIGNATURE_CHECKS - Checks);
        std::vector<const Candidate *> Order;
        bool Cut = false;
        auto Take = [&](const std::vector<const Candidate *> &List, bool SkipKeyed) {
            for (const Candidate *Each : List) {
                if (Cut) return;
                if ((SkipKeyed && Keyed(Each)) || !X509_CompareIssuer(Current, Each->Certificate) ||
                    OnPath(Each->Certificate))
                    continue;
                if (Order.size() == Room) Cut = true;
                else Order.push_back(Each);
            }
        };
        const auto Named = BySubject.find(Name);
        if (Named != BySubject.end() && Ordered.insert(Name).second) {
            // A name's candidates are put in the order they are tried once,
            // when first asked for: a step of the search then reads only as
            // many as it may try, however many certificates share the name.
            std::vector<const Candidate *> &List = Named->second;
            std::sort(List.begin(), List.end(),
                      [](const Candidate *A, const Candidate *B) { return DerOf(A->Certificate) < DerOf(B->Certificate); });
            for (const Candidate *Each : List)
                if (!Each->Ids.Subject.empty()) ByNameAndKey[{Name, Each->Ids.Subject}].push_back(Each);
        }
        if (Path.size() <= X509CHAIN_MAX_DEPTH && Named != BySubject.end()) {
            const auto Known = Ids.Authority.empty() ? ByNameAndKey.end() : ByNameAndKey.find({Name, Ids.Authority});
            if (Known != ByNameAndKey.end()) Take(Known->second, false);
            Take(Named->second, true);
        }
        bool Found = false;
        for (const Candidate *Each : Order) {
            if (Checks >= X509CHAIN_MAX_SIGNATURE_CHECKS) return false;
            Checks++;
            if (!X509_VerifyIssued(Each->Certificate, Current)) continue;
            Found = true;
            Path.push_back(Each->Certificate);
            const Verdict Answer = Ask();
            if (Answer == Verdict::Trusted || (Answer == Verdict::Untrusted && Extend(Each->Ids))) return true;
            Path.pop_back();
            if (Checks >= X509CHAIN_MAX_SIGNATURE_CHECKS) return false;
        }
        // Candidates left untried: the budget ended the search. Without an
        // issuer the store is asked once more about the path that ends
        // here, as a walk that finds no further issuer always asks.
        if (Cut) return false;
        return !Found && Ask() == Verdict::Trusted;
    }
};

} // namespace

int32 X509Chain_Create(X509Chain **Handle) {
    Debug_CheckPointer(Handle);
    X509Chain *Chain = Memory_New(X509Chain);
    Class_InitHeader(Chain, X509CHAIN_CLASSID, DeleteObject);
    Chain->Check = ChainCheck;
    Chain->Entries = new std::vector<X509 *>();
    Chain->Refusal = new std::string();
    *Handle = Chain;
    return TRUE;
}

int32 X509Chain_Delete(X509Chain **Handle) {
    Debug_CheckPointer(Handle);
    X509Chain_Reset(*Handle);
    delete (*Handle)->Entries;
    delete (*Handle)->Refusal;
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

void X509Chain_Take(X509Chain *Handle, X509 **Certificate) {
    Debug_CheckPointer(Certificate);
    Entries(Handle).push_back(*Certificate);
    *Certificate = nullptr;
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
    Last = {};
    if (Certificate == nullptr) {
        *Handle->Refusal = Last.Refusal = "no certificate";
        return FALSE;
    }
    PathSearch Search(List, Store);
    const bool Trusted = Search.Run(Certificate, Last.Refusal);
    Last.Work = Search.Work;
    *Handle->Refusal = Last.Refusal;
    return Trusted ? TRUE : FALSE;
}

int32 X509Chain_GetRefusal(X509Chain *Handle, const char **Reason) {
    Entries(Handle);
    Debug_CheckPointer(Reason);
    *Reason = Handle->Refusal->c_str();
    return !Handle->Refusal->empty();
}

const X509DecisionReport &X509Chain_LastDecision() { return Last; }

int32 X509Chain_Dump(X509Chain *Handle) {
    for (X509 *Entry : Entries(Handle)) X509_Dump(Entry);
    return TRUE;
}
