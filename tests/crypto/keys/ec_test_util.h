// Shared by the elliptic-curve tests: the Wycheproof files flattened by
// Python into lines, curve names and OIDs, digests by Wycheproof's names,
// and shell commands for the openssl round trips.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "crypto/digests/hash.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"

namespace ectest {

inline std::string VectorDirectory() { return WycheproofDirectory(); }

// The Wycheproof files whose names match the pattern (a Python regular
// expression), sorted; empty when the folder is absent.
inline std::vector<std::string> VectorFiles(const std::string &Pattern) {
    const std::string Listing = RunPython("import os, re, sys\n"
                                          "d = sys.argv[1] if len(sys.argv) > 1 else '" +
                                          VectorDirectory() +
                                          "'\n"
                                          "if os.path.isdir(d):\n"
                                          "    for f in sorted(os.listdir(d)):\n"
                                          "        if re.fullmatch(r'" +
                                          Pattern + "', f): print(os.path.join(d, f))\n");
    std::vector<std::string> Files;
    size_t At = 0;
    while (At < Listing.size()) {
        const size_t End = Listing.find('\n', At);
        Files.push_back(Listing.substr(At, End - At));
        At = End == std::string::npos ? Listing.size() : End + 1;
    }
    return Files;
}

// One line per group ("G" and the named group fields) and per test ("T",
// tcId, result and the named test fields), fields separated by blanks, empty
// values as "-".
inline std::string Flatten(const std::string &File, const std::string &GroupFields,
                           const std::string &TestFields) {
    return RunPython("import gzip, json\n"
                     "d = json.load(gzip.open('" +
                     File +
                     "'))\n"
                     "def get(o, path):\n"
                     "    for p in path.split('.'): o = o[p]\n"
                     "    return str(o) or '-'\n"
                     "for g in d['testGroups']:\n"
                     "    print('G', ' '.join(get(g, f) for f in '" +
                     GroupFields +
                     "'.split()))\n"
                     "    for t in g['tests']:\n"
                     "        print('T', t['tcId'], t['result'], ' '.join(get(t, f) for f in '" +
                     TestFields + "'.split()))\n");
}

struct CurveName {
    const char *Wycheproof; // also openssl's name where it has no other
    const char *OpenSsl;
    const char *Oid;
};

constexpr CurveName Curves[] = {
    {"secp192k1", "secp192k1", "1.3.132.0.31"},         {"secp192r1", "prime192v1", "1.2.840.10045.3.1.1"},
    {"secp224k1", "secp224k1", "1.3.132.0.32"},         {"secp224r1", "secp224r1", "1.3.132.0.33"},
    {"secp256k1", "secp256k1", "1.3.132.0.10"},         {"secp256r1", "prime256v1", "1.2.840.10045.3.1.7"},
    {"secp384r1", "secp384r1", "1.3.132.0.34"},         {"secp521r1", "secp521r1", "1.3.132.0.35"},
};

inline const char *OidOf(const std::string &Name) {
    for (const CurveName &Curve : Curves)
        if (Name == Curve.Wycheproof) return Curve.Oid;
    return nullptr;
}

// The digest of Message under a Wycheproof hash name ("SHA-256").
inline std::string Digest(std::string Name, const std::string &Message) {
    Name.erase(std::remove(Name.begin(), Name.end(), '-'), Name.end());
    const HashInterface *Record = nullptr;
    if (!Hash_InterfaceFromName(Name.c_str(), &Record)) return "";
    std::string Out(64, '\0');
    Hash_QuickDigest(Record, Message.data(), (uint32)Message.size(), Out.data(), (int32)Out.size());
    Out.resize((size_t)Record->DigestSize);
    return Out;
}

// Runs a shell command; its exit status (0 for success).
inline int Shell(const std::string &Command) { return system((Command + " >/dev/null 2>&1").c_str()); }

inline bool HaveOpenSsl() { return HaveCommand("openssl"); }

inline std::vector<std::string> Split(const std::string &Line) {
    std::vector<std::string> Words;
    size_t At = 0;
    while (At < Line.size()) {
        const size_t End = Line.find(' ', At);
        Words.push_back(Line.substr(At, End - At));
        At = End == std::string::npos ? Line.size() : End + 1;
    }
    return Words;
}

inline std::string Unhex(const std::string &Hex) { return Hex == "-" ? "" : FromHex(Hex); }

} // namespace ectest
