// X509Chain_CheckPath: what an X.509 path evaluation under the basic policy
// refuses besides bad signatures and issuers that may not issue (see
// x509_chain.h). Dates are not checked, on purpose.
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/digests/md2.h"
#include "crypto/digests/md4.h"
#include "crypto/digests/md5.h"
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

// The element at the front of Input, which moves past it: a tag of one
// byte and a definite length of at most four bytes, within Input. The
// certificate passed the strict DER check when it was built, so a flat read
// is all its extensions need; no tree is built, whatever their size.
bool Next(Bytes &Input, Element &Out) {
    if (Input.size() < 2 || (Input[0] & 0x1F) == 0x1F) return false;
    size_t Length = Input[1], At = 2;
    if (Length >= 0x80) {
        const size_t Count = Length & 0x7F;
        if (Count == 0 || Count > 4 || Input.size() - At < Count) return false;
        Length = 0;
        for (size_t Index = 0; Index < Count; Index++) Length = Length << 8 | Input[At++];
    }
    if (Length > Input.size() - At) return false;
    Out.Tag = Input[0];
    Out.Content = Input.subspan(At, Length);
    Out.Whole = Input.first(At + Length);
    Input = Input.subspan(At + Length);
    return true;
}

// The elements of Input, in order; false when any is malformed.
bool Children(Bytes Input, std::vector<Element> &Out) {
    Out.clear();
    for (Element Each; !Input.empty(); Out.push_back(Each))
        if (!Next(Input, Each)) return false;
    return true;
}

// The one element Input holds; false when it holds another number.
bool First(Bytes Input, Element &Out) { return Next(Input, Out) && Input.empty(); }

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

// The counts a test reads (X509_ParseCounts).
thread_local X509ParseCounts Counts;

// A host name: labels that are not empty (no leading, trailing or double
// period), "*" allowed only as the whole first label.
bool IsHostName(std::string_view Host) {
    Counts.HostNameChecks++;
    if (Host.empty() || Host.front() == '.' || Host.back() == '.' || Host.find("..") != std::string_view::npos)
        return false;
    const size_t Star = Host.find('*');
    return Star == std::string_view::npos ||
           (Star == 0 && Host.size() > 2 && Host[1] == '.' && Host.find('*', 1) == std::string_view::npos);
}

// A name of one certificate, as a GeneralName, read once for every subtree
// it meets: its tag and content; a dNSName lower-cased, a directoryName as
// its match key, an rfc822Name as its host lower-cased with where its "@"
// stands. A dNSName that is no host name, or an rfc822Name that is no
// address (one "@" between a local part and a host name, no "*" after it; a
// quoted "@" is not taken), cannot be compared.
struct General {
    uint8 Tag = 0;
    Bytes Content;
    std::string Text;
    size_t At = 0;
    bool Comparable = true;
};

// A base of a subtree, read once: as General's text, and for an rfc822Name
// the whole base lower-cased with where its last "@" stands (npos: none).
struct Subtree {
    uint8 Tag = 0;
    Bytes Base;
    std::string Text;
    size_t At = std::string::npos;
};

// The text a name is compared by: false for a directoryName that is no
// readable Name.
bool PrepareName(General &Each) {
    const std::string_view Raw((const char *)Each.Content.data(), Each.Content.size());
    switch (Each.Tag) {
    case TagDns:
        Each.Text = Lower(Each.Content);
        Each.Comparable = IsHostName(Each.Text);
        return true;
    case TagEmail:
        Each.At = Raw.find('@');
        Each.Comparable = Each.At != std::string_view::npos && Each.At != 0 &&
                          Raw.find('@', Each.At + 1) == std::string_view::npos &&
                          Raw.find('*', Each.At) == std::string_view::npos && IsHostName(Raw.substr(Each.At + 1));
        if (Each.Comparable) Each.Text = Lower(Each.Content.subspan(Each.At + 1));
        return true;
    case TagDirectory:
        return X500_MatchKeyOf(Each.Content, Each.Text);
    default:
        return true;
    }
}

// A directoryName base that is no readable Name holds no name: its text
// then begins as no match key can (a first RDN of 4 GB).
void PrepareBase(Subtree &Tree) {
    if (Tree.Tag == TagDns || Tree.Tag == TagEmail) Tree.Text = Lower(Tree.Base);
    if (Tree.Tag == TagEmail) Tree.At = Tree.Text.rfind('@');
    if (Tree.Tag == TagDirectory && !X500_MatchKeyOf(Tree.Base, Tree.Text)) Tree.Text.assign(1, '\xff');
}

struct Constraints {
    std::vector<Subtree> Permitted, Excluded;
};

} // namespace

// What the name-constraint checks read of one certificate.
struct X509NameFacts {
    bool HasConstraints = false;
    Constraints Rules;
    bool NamesReadable = false;
    std::vector<General> Names, LeafNames;
};

namespace {

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
        std::vector<Subtree> &Into = List.Tag == 0xA0 ? Out.Permitted : Out.Excluded;
        Into.reserve(Subtrees.size());
        for (const Element &Each : Subtrees) {
            if (Each.Tag != 0x30 || !Children(Each.Content, Parts) || Parts.size() != 1) return false;
            Into.push_back({Parts[0].Tag, Parts[0].Content, {}});
            PrepareBase(Into.back());
        }
    }
    return true;
}

// dNSName: the base, or the base with labels added on the left; a base
// starting with "." needs at least one label added. Letters fold.
bool MatchDnsLiteral(std::string_view Host, std::string_view Base) {
    if (Base.empty()) return true;
    if (Host.size() < Base.size() || Host.compare(Host.size() - Base.size(), Base.size(), Base) != 0) return false;
    return Host.size() == Base.size() || Base[0] == '.' || Host[Host.size() - Base.size() - 1] == '.';
}

// 1: the subtree holds the name, 0: it does not. A wildcard "*.P" stands
// for every host one label below P: a permitted subtree must hold all of
// them (it holds P's subtree), an excluded one refuses it when it holds any
// (P's subtree, or one host "X.P").
int32 MatchDns(std::string_view Host, std::string_view Base, bool Excluded) {
    if (MatchDnsLiteral(Host, Base)) return 1;
    if (!Excluded || Host[0] != '*' || Base.empty() || Base[0] == '.') return 0;
    const size_t Dot = Base.find('.');
    return Dot != std::string_view::npos && Base.substr(Dot) == Host.substr(1);
}

// rfc822Name: a base with "@" is one mailbox (local part with case), a base
// starting with "." any host below that domain, any other base one host.
int32 MatchEmail(const General &Each, const Subtree &Tree) {
    const std::string_view Host = Each.Text, Base = Tree.Text;
    if (Tree.At == std::string::npos && !Base.empty() && Base[0] == '.')
        return Host.size() > Base.size() && Host.compare(Host.size() - Base.size(), Base.size(), Base) == 0;
    if (Tree.At == std::string::npos) return Host == Base;
    const std::string_view Mailbox((const char *)Each.Content.data(), Each.At),
        Local((const char *)Tree.Base.data(), Tree.At);
    if (Tree.At > 0 && Mailbox != Local) return 0;
    return Host == Base.substr(Tree.At + 1);
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
// compared.
int32 Match(const General &Each, const Subtree &Tree, bool Excluded) {
    if (!Each.Comparable) return -1;
    switch (Each.Tag) {
    case TagDns: return MatchDns(Each.Text, Tree.Text, Excluded);
    case TagEmail: return MatchEmail(Each, Tree);
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
// subject (when not empty) and the subject's e-mail attributes and every
// alternative name in Names; as a leaf without dNSName entries, also each
// common name that reads as a host name, in LeafNames.
bool ReadNames(Bytes SubjectName, std::string_view SubjectKey, Bytes AltNames, std::vector<General> &Names,
               std::vector<General> &LeafNames) {
    std::vector<Attribute> Subject;
    if (!ReadAttributes(SubjectName, Subject)) return false;
    if (!SubjectKey.empty()) Names.push_back({TagDirectory, SubjectName, std::string(SubjectKey)});
    for (const Attribute &Each : Subject)
        if (SameType(Each.Type, OidEmailAddress)) Names.push_back({TagEmail, Each.Value.Content, {}});
    bool HasDns = false;
    std::vector<Element> Entries;
    if (!AltNames.empty()) {
        Element Sequence;
        if (!First(AltNames, Sequence) || !Children(Sequence.Content, Entries)) return false;
    }
    Names.reserve(Names.size() + Entries.size());
    for (const Element &Entry : Entries) {
        Names.push_back({Entry.Tag, Entry.Content, {}});
        HasDns = HasDns || Entry.Tag == TagDns;
    }
    if (!HasDns)
        for (const Attribute &Each : Subject)
            if (SameType(Each.Type, OidCommonName) && LooksLikeHost(Each.Value))
                LeafNames.push_back({TagDns, Each.Value.Content, {}});
    for (auto *List : {&Names, &LeafNames})
        for (General &Each : *List)
            if (Each.Tag != TagDirectory || Each.Text.empty())
                if (!PrepareName(Each)) return false;
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
// self-issued ones other than the leaf. Every name and every subtree was
// read when its certificate was built; here every name is compared with
// every subtree, and the comparisons are paid for before they are made.
bool CheckNameConstraints(const std::vector<X509 *> &Path, const std::vector<X509PathFacts> &Facts,
                          X509DecisionWork &Work) {
    const size_t Count = Path.size();
    for (size_t Index = 1; Index < Count; Index++) {
        const X509NameFacts *Issuer = Facts[Index].Names;
        if (Issuer == nullptr || !Issuer->HasConstraints) continue;
        const int64 Subtrees = (int64)(Issuer->Rules.Permitted.size() + Issuer->Rules.Excluded.size());
        for (size_t Below = 0; Below < Index; Below++) {
            if (Below > 0 && SelfIssued(Path[Below])) continue;
            const X509NameFacts *Subject = Facts[Below].Names;
            if (Subject == nullptr || !Subject->NamesReadable) return false;
            const size_t Names = Subject->Names.size() + (Below == 0 ? Subject->LeafNames.size() : 0);
            const int64 Cost = (int64)Names * Subtrees;
            if (Work.NameComparisons + Cost > X509CHAIN_MAX_NAME_COMPARISONS) {
                Work.NamesSpent = true;
                return false;
            }
            Work.NameComparisons += Cost;
            for (const General &Each : Subject->Names)
                if (!Allowed(Each, Issuer->Rules)) return false;
            if (Below == 0)
                for (const General &Each : Subject->LeafNames)
                    if (!Allowed(Each, Issuer->Rules)) return false;
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

X509NameFacts *X509Path_ReadNameFacts(Bytes Subject, std::string_view SubjectKey, Bytes AltNames,
                                      Bytes NameConstraints) {
    Counts.NameFacts++;
    auto Facts = std::make_unique<X509NameFacts>();
    Facts->HasConstraints = !NameConstraints.empty();
    if (Facts->HasConstraints && !ReadConstraints(NameConstraints, Facts->Rules)) return nullptr;
    Facts->NamesReadable = ReadNames(Subject, SubjectKey, AltNames, Facts->Names, Facts->LeafNames);
    return Facts.release();
}

void X509Path_FreeNameFacts(X509NameFacts *Facts) { delete Facts; }

X509ParseCounts &X509_ParseCounts() { return Counts; }

int32 X509Chain_CheckPath(X509 *const *Given, int32 GivenCount) {
    std::vector<X509 *> Path;
    std::vector<X509PathFacts> Facts;
    if (!Collapse(Given, GivenCount, Path) || !CheckStructure(Path, Facts)) return FALSE;
    X509DecisionWork Own;
    if (!CheckNameConstraints(Path, Facts, Decision != nullptr ? *Decision : Own)) return FALSE;
    if (Decision != nullptr) Decision->Passed = std::move(Path);
    return TRUE;
}

bool X509Path_PassedInDecision(X509 *const *Given, int32 GivenCount) {
    std::vector<X509 *> Path;
    if (Decision == nullptr || !Collapse(Given, GivenCount, Path)) return false;
    const std::vector<X509 *> &Passed = Decision->Passed;
    return Passed.size() >= Path.size() && std::equal(Path.begin(), Path.end(), Passed.begin());
}
