// X509Chain_CheckPath: what an X.509 path evaluation under the basic policy
// refuses besides bad signatures and issuers that may not issue (see
// x509_chain.h). Dates are not checked, on purpose.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/digests/md2.h"
#include "crypto/digests/md4.h"
#include "crypto/digests/md5.h"
#include "crypto/keys/asn1.h"
#include "crypto/trust/x509_chain.h"
#include "crypto/trust/x509_internal.h"

namespace {

using Bytes = std::span<const uint8>;

// GeneralName tags (context class; directoryName is constructed).
constexpr uint8 TagEmail = 0x81, TagDns = 0x82, TagDirectory = 0xA4, TagAddress = 0x87;
// 2.5.4.3 (commonName) and 1.2.840.113549.1.9.1 (emailAddress), as content bytes.
constexpr uint8 OidCommonName[] = {0x55, 0x04, 0x03};
constexpr uint8 OidEmailAddress[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
// Names times subtrees compared for one issuer, beyond which the path is
// refused rather than spending the time (a hostile certificate can carry
// thousands of each).
constexpr size_t MaximumComparisons = 1u << 20;

// One DER element: its tag byte, its content and its whole encoding, as
// spans into the certificate's own bytes.
struct Element {
    uint8 Tag = 0;
    Bytes Content, Whole;
};

// The elements of Input, in order, read by the ASN.1 decoder (whose nodes
// point into Input, so the spans outlive its tree); false when any is
// malformed.
bool Children(Bytes Input, std::vector<Element> &Out) {
    Out.clear();
    if (Input.empty()) return true;
    if (Input.size() > (size_t)INT32_MAX) return false;
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    bool Read = ASN1_Decode(Tree, Input.data(), (int32)Input.size()) != 0;
    int32 Count = 0;
    ASN1_GetElementCount(Tree, &Count);
    for (int32 Index = 0; Read && Index < Count; Index++) {
        ASN1 *Node = ASN1_GetElement(Tree, Index);
        Element Each;
        ASN1_GetTag(Node, &Each.Tag);
        Each.Content = Bytes(ASN1_GetValuePtr(Node), (size_t)ASN1_GetValueSize(Node));
        Each.Whole = Bytes(ASN1_GetNodePtr(Node), (size_t)ASN1_GetNodeSize(Node));
        Out.push_back(Each);
    }
    ASN1_Release(&Tree);
    return Read;
}

// The first element of Input; false when there is none or it is malformed.
bool First(Bytes Input, Element &Out) {
    std::vector<Element> All;
    if (!Children(Input, All) || All.empty()) return false;
    Out = All[0];
    return true;
}

std::string Lower(Bytes Text) {
    std::string Out(Text.begin(), Text.end());
    for (char &Ch : Out)
        if (Ch >= 'A' && Ch <= 'Z') Ch = (char)(Ch - 'A' + 'a');
    return Out;
}

// A Name's RDNs, each the sorted list of its attributes as "type, value".
struct Attribute {
    Bytes Type;
    Element Value;
};
struct Name {
    std::vector<std::vector<std::string>> Rdns;
    std::vector<Attribute> Attributes;
};

bool ReadName(Bytes Whole, Name &Out) {
    Element Sequence;
    std::vector<Element> Sets, Pairs, Parts;
    if (!First(Whole, Sequence) || Sequence.Tag != 0x30 || !Children(Sequence.Content, Sets)) return false;
    for (const Element &Set : Sets) {
        if (Set.Tag != 0x31 || !Children(Set.Content, Pairs) || Pairs.empty()) return false;
        std::vector<std::string> Rdn;
        for (const Element &Pair : Pairs) {
            if (Pair.Tag != 0x30 || !Children(Pair.Content, Parts) || Parts.size() != 2 || Parts[0].Tag != 0x06)
                return false;
            Rdn.push_back(std::string(Parts[0].Content.begin(), Parts[0].Content.end()) + '=' +
                          X500_MatchValue(Parts[1].Tag, Parts[1].Content, Parts[1].Whole));
            Out.Attributes.push_back({Parts[0].Content, Parts[1]});
        }
        std::sort(Rdn.begin(), Rdn.end());
        Out.Rdns.push_back(std::move(Rdn));
    }
    return true;
}

bool SameType(Bytes Type, std::span<const uint8> Oid) { return std::equal(Type.begin(), Type.end(), Oid.begin(), Oid.end()); }

// A name of one certificate, as a GeneralName: its tag and content, and
// for a directoryName the Name read.
struct General {
    uint8 Tag;
    Bytes Content;
    const Name *Directory = nullptr;
};

struct Subtree {
    uint8 Tag;
    Bytes Base;
};

struct Constraints {
    std::vector<Subtree> Permitted, Excluded;
};

// NameConstraints ::= SEQUENCE { permittedSubtrees [0], excludedSubtrees [1] },
// each a SEQUENCE OF GeneralSubtree { base, minimum [0] DEFAULT 0, maximum [1] }.
// A minimum or maximum is refused, as no name form defines them.
bool ReadConstraints(Bytes Whole, Constraints &Out) {
    Element Sequence;
    std::vector<Element> Lists, Subtrees, Parts;
    if (!First(Whole, Sequence) || Sequence.Tag != 0x30 || !Children(Sequence.Content, Lists)) return false;
    for (const Element &List : Lists) {
        if ((List.Tag != 0xA0 && List.Tag != 0xA1) || !Children(List.Content, Subtrees) || Subtrees.empty())
            return false;
        for (const Element &Each : Subtrees) {
            if (Each.Tag != 0x30 || !Children(Each.Content, Parts) || Parts.size() != 1) return false;
            (List.Tag == 0xA0 ? Out.Permitted : Out.Excluded).push_back({Parts[0].Tag, Parts[0].Content});
        }
    }
    return true;
}

// A host name: labels that are not empty (no leading, trailing or double
// period), "*" allowed only as the whole first label.
bool IsHostName(const std::string &Host) {
    if (Host.empty() || Host.front() == '.' || Host.back() == '.' || Host.find("..") != std::string::npos)
        return false;
    const size_t Star = Host.find('*');
    return Star == std::string::npos || (Star == 0 && Host.size() > 2 && Host[1] == '.' &&
                                         Host.find('*', 1) == std::string::npos);
}

// dNSName: the base, or the base with labels added on the left; a base
// starting with "." needs at least one label added. Letters fold.
bool MatchDnsLiteral(const std::string &Host, const std::string &Base) {
    if (Base.empty()) return true;
    if (Host.size() < Base.size() || Host.compare(Host.size() - Base.size(), Base.size(), Base) != 0) return false;
    return Host.size() == Base.size() || Base[0] == '.' || Host[Host.size() - Base.size() - 1] == '.';
}

// 1: the subtree holds the name, 0: it does not, -1: not a host name. A
// wildcard "*.P" stands for every host one label below P: a permitted
// subtree must hold all of them (it holds P's subtree), an excluded one
// refuses it when it holds any (P's subtree, or one host "X.P").
int32 MatchDns(const std::string &Host, const std::string &Base, bool Excluded) {
    if (!IsHostName(Host)) return -1;
    if (MatchDnsLiteral(Host, Base)) return 1;
    if (!Excluded || Host[0] != '*' || Base.empty() || Base[0] == '.') return 0;
    const size_t Dot = Base.find('.');
    return Dot != std::string::npos && Base.compare(Dot, std::string::npos, Host, 1, std::string::npos) == 0;
}

// rfc822Name: a base with "@" is one mailbox (local part with case), a base
// starting with "." any host below that domain, any other base one host.
// 0: no match, 1: match, -1: not an address (one "@" between a local part
// and a host name; a quoted "@" is not taken).
int32 MatchEmail(Bytes Address, Bytes BaseBytes) {
    const std::string Mail(Address.begin(), Address.end()), Base(BaseBytes.begin(), BaseBytes.end());
    const size_t At = Mail.find('@');
    if (At == std::string::npos || At == 0 || Mail.find('@', At + 1) != std::string::npos ||
        !IsHostName(Mail.substr(At + 1)) || Mail.find('*', At) != std::string::npos)
        return -1;
    const std::string Host = Lower(Address.subspan(At + 1)), LowerBase = Lower(BaseBytes);
    const size_t BaseAt = Base.rfind('@');
    if (BaseAt == std::string::npos && !Base.empty() && Base[0] == '.')
        return Mail.size() > Base.size() && Lower(Address.subspan(Mail.size() - Base.size())) == LowerBase;
    if (BaseAt == std::string::npos) return Host == LowerBase;
    if (BaseAt > 0 && (BaseAt != At || Mail.compare(0, At, Base, 0, BaseAt) != 0)) return 0;
    return Host == LowerBase.substr(BaseAt + 1);
}

// iPAddress: 4 or 16 bytes against an address and mask of twice that.
bool MatchAddress(Bytes Address, Bytes Base) {
    if (Base.size() != 2 * Address.size() || (Address.size() != 4 && Address.size() != 16)) return false;
    const size_t Size = Address.size();
    for (size_t At = 0; At < Size; At++)
        if ((Address[At] & Base[Size + At]) != (Base[At] & Base[Size + At])) return false;
    return true;
}

// directoryName: the base's RDNs are the first RDNs of the name.
bool MatchDirectory(const Name &Subject, Bytes Base) {
    Name Prefix;
    if (!ReadName(Base, Prefix) || Prefix.Rdns.size() > Subject.Rdns.size())
        return false;
    return std::equal(Prefix.Rdns.begin(), Prefix.Rdns.end(), Subject.Rdns.begin());
}

// 1: the subtree holds the name, 0: it does not, -1: the name cannot be
// compared (a malformed directory name, an address without "@").
int32 Match(const General &Each, const Subtree &Tree, bool Excluded) {
    switch (Each.Tag) {
    case TagDns: return MatchDns(Lower(Each.Content), Lower(Tree.Base), Excluded);
    case TagEmail: return MatchEmail(Each.Content, Tree.Base);
    case TagAddress: return MatchAddress(Each.Content, Tree.Base);
    case TagDirectory: return Each.Directory != nullptr && MatchDirectory(*Each.Directory, Tree.Base);
    default: return -1;
    }
}

bool Supported(uint8 Tag) { return Tag == TagDns || Tag == TagEmail || Tag == TagAddress || Tag == TagDirectory; }

// Every excluded subtree of the name's form misses it, and when subtrees of
// that form are permitted, one holds it. A form this reader cannot compare
// passes only when no subtree constrains it.
bool Allowed(const General &Each, const Constraints &Rules) {
    bool Constrained = false, Held = false;
    for (const auto *List : {&Rules.Excluded, &Rules.Permitted})
        for (const Subtree &Tree : *List) {
            if (Tree.Tag != Each.Tag) continue;
            if (!Supported(Each.Tag)) return false;
            const int32 Result = Match(Each, Tree, List == &Rules.Excluded);
            if (Result < 0 || (Result == 1 && List == &Rules.Excluded)) return false;
            if (List == &Rules.Permitted) {
                Constrained = true;
                Held = Held || Result == 1;
            }
        }
    return !Constrained || Held;
}

// A common name that reads as a host name (two or more labels of letters,
// digits, "_" and inner "-"), which a client without dNSName entries would
// match a host against.
bool LooksLikeHost(const Element &Value) {
    if (Value.Tag != 0x0C && Value.Tag != 0x13 && Value.Tag != 0x16 && Value.Tag != 0x14) return false;
    const Bytes Text = Value.Content;
    bool Dotted = false;
    for (size_t At = 0; At < Text.size(); At++) {
        const uint8 Ch = Text[At];
        if ((Ch >= 'a' && Ch <= 'z') || (Ch >= 'A' && Ch <= 'Z') || (Ch >= '0' && Ch <= '9') || Ch == '_') continue;
        if (At == 0 || At + 1 == Text.size()) return false;
        if (Ch == '-') continue;
        if (Ch != '.' || Text[At + 1] == '.' || Text[At - 1] == '-' || Text[At + 1] == '-') return false;
        Dotted = true;
    }
    return Dotted;
}

// The names a certificate answers for under an issuer's constraints: its
// subject (when not empty) and the subject's e-mail attributes, every
// alternative name, and for the leaf without dNSName entries each common
// name that reads as a host name.
bool CheckNames(const X509PathFacts &Facts, bool Leaf, const Constraints &Rules) {
    Name Subject;
    if (!ReadName(Facts.Subject, Subject)) return false;
    std::vector<General> Names;
    if (!Subject.Rdns.empty()) Names.push_back({TagDirectory, Facts.Subject, &Subject});
    for (const Attribute &Each : Subject.Attributes)
        if (SameType(Each.Type, OidEmailAddress)) Names.push_back({TagEmail, Each.Value.Content});
    bool HasDns = false;
    std::vector<Element> Entries;
    if (!Facts.AltNames.empty()) {
        Element Sequence;
        if (!First(Facts.AltNames, Sequence) || !Children(Sequence.Content, Entries)) return false;
    }
    // Directory names among the alternative names, each read as a Name.
    std::vector<Name> Others(Entries.size());
    for (size_t Index = 0; Index < Entries.size(); Index++) {
        const Element &Entry = Entries[Index];
        if (Entry.Tag == TagDirectory && !ReadName(Entry.Content, Others[Index])) return false;
        Names.push_back({Entry.Tag, Entry.Content, Entry.Tag == TagDirectory ? &Others[Index] : nullptr});
        HasDns = HasDns || Entry.Tag == TagDns;
    }
    if (Leaf && !HasDns)
        for (const Attribute &Each : Subject.Attributes)
            if (SameType(Each.Type, OidCommonName) && LooksLikeHost(Each.Value))
                Names.push_back({TagDns, Each.Value.Content});
    if (Names.size() * (Rules.Permitted.size() + Rules.Excluded.size()) > MaximumComparisons) return false;
    return std::all_of(Names.begin(), Names.end(), [&](const General &Each) { return Allowed(Each, Rules); });
}

bool WeakHash(const HashInterface *Hash) {
    return Hash == nullptr || Hash == &MD2_INTERFACE || Hash == &MD4_INTERFACE || Hash == &MD5_INTERFACE;
}

bool SelfIssued(const X509PathFacts &Facts) {
    Name Subject, Issuer;
    return ReadName(Facts.Subject, Subject) && ReadName(Facts.Issuer, Issuer) && Subject.Rdns == Issuer.Rdns;
}

} // namespace

bool X509Path_ConstraintsReadable(Bytes Whole) {
    Constraints Rules;
    return ReadConstraints(Whole, Rules);
}

int32 X509Chain_CheckPath(X509 *const *Given, int32 GivenCount) {
    if (Given == nullptr || GivenCount < 1) return FALSE;
    // A self-signed certificate's own copy above it is the same certificate.
    std::vector<X509 *> Path;
    for (int32 Index = 0; Index < GivenCount; Index++) {
        if (Given[Index] == nullptr) return FALSE;
        if (Path.empty() || !X509_Compare(Path.back(), Given[Index])) Path.push_back(Given[Index]);
    }
    const int32 Count = (int32)Path.size();
    if (Count > X509CHAIN_MAX_DEPTH) return FALSE;
    std::vector<X509PathFacts> Facts((size_t)Count);
    for (int32 Index = 0; Index < Count; Index++) {
        X509PathFacts &Each = Facts[(size_t)Index];
        if (!X509_GetPathFacts(Path[(size_t)Index], Each) || Each.UnknownCritical) return FALSE;
        // The anchor's own signature vouches for nothing; every other one
        // is what the path rests on.
        if (Index + 1 < Count && WeakHash(Each.SignatureHash)) return FALSE;
        if (Index > 0 && !X509_CanIssue(Path[(size_t)Index])) return FALSE;
    }
    // A pathLenConstraint of n allows n certificates between the CA and the
    // leaf, self-issued ones not counted.
    int32 Between = 0;
    for (int32 Index = 1; Index < Count; Index++) {
        const X509PathFacts &Each = Facts[(size_t)Index];
        if (Each.PathLength >= 0 && Between > Each.PathLength) return FALSE;
        if (!SelfIssued(Each)) Between++;
    }
    // An issuer's name constraints bind every certificate below it, except
    // self-issued ones other than the leaf.
    for (int32 Index = 1; Index < Count; Index++) {
        if (Facts[(size_t)Index].NameConstraints.empty()) continue;
        Constraints Rules;
        if (!ReadConstraints(Facts[(size_t)Index].NameConstraints, Rules)) return FALSE;
        for (int32 Below = 0; Below < Index; Below++) {
            if (Below > 0 && SelfIssued(Facts[(size_t)Below])) continue;
            if (!CheckNames(Facts[(size_t)Below], Below == 0, Rules)) return FALSE;
        }
    }
    return TRUE;
}
