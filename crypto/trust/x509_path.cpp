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

// A Name's attributes, as "type, value", in order.
struct Attribute {
    Bytes Type;
    Element Value;
};

bool ReadAttributes(Bytes Whole, std::vector<Attribute> &Out) {
    Element Sequence;
    std::vector<Element> Sets, Pairs, Parts;
    if (!First(Whole, Sequence) || Sequence.Tag != 0x30 || !Children(Sequence.Content, Sets)) return false;
    for (const Element &Set : Sets) {
        if (Set.Tag != 0x31 || !Children(Set.Content, Pairs) || Pairs.empty()) return false;
        for (const Element &Pair : Pairs) {
            if (Pair.Tag != 0x30 || !Children(Pair.Content, Parts) || Parts.size() != 2 || Parts[0].Tag != 0x06)
                return false;
            Out.push_back({Parts[0].Content, Parts[1]});
        }
    }
    return true;
}

bool SameType(Bytes Type, std::span<const uint8> Oid) { return std::equal(Type.begin(), Type.end(), Oid.begin(), Oid.end()); }

// A name of one certificate, as a GeneralName: its tag and content; a
// dNSName also lower-cased, a directoryName as its match key.
struct General {
    uint8 Tag;
    Bytes Content;
    std::string Text;
};

struct Subtree {
    uint8 Tag;
    Bytes Base;
    std::string Text; // as General's
};

// The text a name or base is compared by, read once: false for a
// directoryName that is no readable Name.
bool Prepare(uint8 Tag, Bytes Content, std::string &Text) {
    if (Tag == TagDns) Text = Lower(Content);
    return Tag != TagDirectory || X500_MatchKeyOf(Content, Text);
}

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
    uint8 Last = 0;
    for (const Element &List : Lists) {
        // Each list at most once, the permitted one first.
        if ((List.Tag != 0xA0 && List.Tag != 0xA1) || List.Tag <= Last || !Children(List.Content, Subtrees) ||
            Subtrees.empty())
            return false;
        Last = List.Tag;
        for (const Element &Each : Subtrees) {
            if (Each.Tag != 0x30 || !Children(Each.Content, Parts) || Parts.size() != 1) return false;
            (List.Tag == 0xA0 ? Out.Permitted : Out.Excluded).push_back({Parts[0].Tag, Parts[0].Content, {}});
        }
    }
    return true;
}

// The constraints with their bases prepared; false when one cannot be.
bool PrepareConstraints(Bytes Whole, Constraints &Out) {
    if (!ReadConstraints(Whole, Out)) return false;
    // A directoryName base that is no readable Name holds no name: its
    // text then begins as no match key can (a first RDN of 4 GB).
    for (auto *List : {&Out.Permitted, &Out.Excluded})
        for (Subtree &Tree : *List)
            if (!Prepare(Tree.Tag, Tree.Base, Tree.Text)) Tree.Text.assign(1, '\xff');
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

// directoryName: the base's RDNs are the first RDNs of the name. A match
// key is its RDNs one after another, each with its length in front, so
// that holds exactly when the base's key begins the name's.
bool MatchDirectory(const std::string &Name, const std::string &Base) {
    return Name.size() >= Base.size() && Name.compare(0, Base.size(), Base) == 0;
}

// 1: the subtree holds the name, 0: it does not, -1: the name cannot be
// compared (an address without "@").
int32 Match(const General &Each, const Subtree &Tree, bool Excluded) {
    switch (Each.Tag) {
    case TagDns: return MatchDns(Each.Text, Tree.Text, Excluded);
    case TagEmail: return MatchEmail(Each.Content, Tree.Base);
    case TagAddress: return MatchAddress(Each.Content, Tree.Base);
    case TagDirectory: return MatchDirectory(Each.Text, Tree.Text);
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
bool ReadNames(X509 *Certificate, const X509PathFacts &Facts, bool Leaf, std::vector<General> &Names) {
    std::vector<Attribute> Subject;
    if (!ReadAttributes(Facts.Subject, Subject)) return false;
    X500 *SubjectName = nullptr;
    X509_GetSubjectHandle(Certificate, &SubjectName);
    const std::string_view Key = X500_GetMatchKey(SubjectName);
    if (!Key.empty()) Names.push_back({TagDirectory, Facts.Subject, std::string(Key)});
    for (const Attribute &Each : Subject)
        if (SameType(Each.Type, OidEmailAddress)) Names.push_back({TagEmail, Each.Value.Content, {}});
    bool HasDns = false;
    std::vector<Element> Entries;
    if (!Facts.AltNames.empty()) {
        Element Sequence;
        if (!First(Facts.AltNames, Sequence) || !Children(Sequence.Content, Entries)) return false;
    }
    for (const Element &Entry : Entries) {
        Names.push_back({Entry.Tag, Entry.Content, {}});
        if (!Prepare(Entry.Tag, Entry.Content, Names.back().Text)) return false;
        HasDns = HasDns || Entry.Tag == TagDns;
    }
    if (Leaf && !HasDns)
        for (const Attribute &Each : Subject)
            if (SameType(Each.Type, OidCommonName) && LooksLikeHost(Each.Value))
                Names.push_back({TagDns, Each.Value.Content, Lower(Each.Value.Content)});
    return true;
}

bool WeakHash(const HashInterface *Hash) {
    return Hash == nullptr || Hash == &MD2_INTERFACE || Hash == &MD4_INTERFACE || Hash == &MD5_INTERFACE;
}

bool SelfIssued(X509 *Certificate) {
    X500 *Subject = nullptr, *Issuer = nullptr;
    X509_GetSubjectHandle(Certificate, &Subject);
    X509_GetIssuerHandle(Certificate, &Issuer);
    return X500_Compare(Subject, Issuer) != 0;
}

// The work of the decision running on this thread, if any.
thread_local X509DecisionWork *Decision = nullptr;

// A self-signed certificate's own copy above it is the same certificate.
bool Collapse(X509 *const *Given, int32 GivenCount, std::vector<X509 *> &Path) {
    if (Given == nullptr || GivenCount < 1) return false;
    for (int32 Index = 0; Index < GivenCount; Index++) {
        if (Given[Index] == nullptr) return false;
        if (Path.empty() || !X509_Compare(Path.back(), Given[Index])) Path.push_back(Given[Index]);
    }
    return Path.size() <= X509CHAIN_MAX_DEPTH;
}

bool CheckStructure(const std::vector<X509 *> &Path, std::vector<X509PathFacts> &Facts) {
    const size_t Count = Path.size();
    Facts.assign(Count, {});
    for (size_t Index = 0; Index < Count; Index++) {
        X509PathFacts &Each = Facts[Index];
        if (!X509_GetPathFacts(Path[Index], Each) || Each.UnknownCritical) return false;
        // The anchor's own signature vouches for nothing; every other one
        // is what the path rests on.
        if (Index + 1 < Count && WeakHash(Each.SignatureHash)) return false;
        if (Index > 0 && !X509_CanIssue(Path[Index])) return false;
    }
    // A pathLenConstraint of n allows n certificates between the CA and the
    // leaf, self-issued ones not counted.
    int32 Between = 0;
    for (size_t Index = 1; Index < Count; Index++) {
        if (Facts[Index].PathLength >= 0 && Between > Facts[Index].PathLength) return false;
        if (!SelfIssued(Path[Index])) Between++;
    }
    return true;
}

// An issuer's name constraints bind every certificate below it, except
// self-issued ones other than the leaf. Each certificate's names and each
// issuer's constraints are read once; every name is compared with every
// subtree, and the comparisons are paid for before they are made.
bool CheckNameConstraints(const std::vector<X509 *> &Path, const std::vector<X509PathFacts> &Facts,
                          X509DecisionWork &Work) {
    const size_t Count = Path.size();
    std::vector<std::vector<General>> Names(Count);
    std::vector<bool> Read(Count, false);
    for (size_t Index = 1; Index < Count; Index++) {
        if (Facts[Index].NameConstraints.empty()) continue;
        Constraints Rules;
        if (!PrepareConstraints(Facts[Index].NameConstraints, Rules)) return false;
        const int64 Subtrees = (int64)(Rules.Permitted.size() + Rules.Excluded.size());
        for (size_t Below = 0; Below < Index; Below++) {
            if (Below > 0 && SelfIssued(Path[Below])) continue;
            if (!Read[Below] && !ReadNames(Path[Below], Facts[Below], Below == 0, Names[Below])) return false;
            Read[Below] = true;
            const int64 Cost = (int64)Names[Below].size() * Subtrees;
            if (Work.NameComparisons + Cost > X509CHAIN_MAX_NAME_COMPARISONS) {
                Work.NamesSpent = true;
                return false;
            }
            Work.NameComparisons += Cost;
            for (const General &Each : Names[Below])
                if (!Allowed(Each, Rules)) return false;
        }
    }
    return true;
}

} // namespace

X509DecisionScope::X509DecisionScope(X509DecisionWork &Work) : Outer(Decision) { Decision = &Work; }
X509DecisionScope::~X509DecisionScope() { Decision = Outer; }

bool X509Path_CheckStructure(X509 *const *Given, int32 GivenCount) {
    std::vector<X509 *> Path;
    std::vector<X509PathFacts> Facts;
    return Collapse(Given, GivenCount, Path) && CheckStructure(Path, Facts);
}

bool X509Path_ConstraintsReadable(Bytes Whole) {
    Constraints Rules;
    return ReadConstraints(Whole, Rules);
}

int32 X509Chain_CheckPath(X509 *const *Given, int32 GivenCount) {
    std::vector<X509 *> Path;
    std::vector<X509PathFacts> Facts;
    if (!Collapse(Given, GivenCount, Path) || !CheckStructure(Path, Facts)) return FALSE;
    X509DecisionWork Own;
    return CheckNameConstraints(Path, Facts, Decision != nullptr ? *Decision : Own) ? TRUE : FALSE;
}
