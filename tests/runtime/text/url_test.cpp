// URL text helpers against Python's urllib.parse and posixpath as references
// for host, file name and path normalisation.
#include "runtime/text/url.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

const char *const Urls[] = {
    "http://Example.com:8080/a/b/../c/./d.json?x=1#frag",
    "https://host/dir//file.yaml",
    "http://127.0.0.1/a\\b\\..\\c.txt",
    "file:///tmp/x/../y/z.json",
    "http://localhost",
    "http://user@LOCALHOST:99/x/",
    "host.only/path",
};

TEST(Url, HostAndFilenameMatchPython) {
    RuntimeScope Scope;
    std::string Input;
    for (const char *Url : Urls) Input += std::string(Url) + "\n";
    std::string Expected = RunPython(R"(
import sys, urllib.parse
for line in sys.stdin.read().splitlines():
    after = line.split('//', 1)[1] if '//' in line else line
    host = after
    for stop in '/\\?#':
        host = host.split(stop, 1)[0]
    path = line.split('?', 1)[0].split('#', 1)[0].replace('\\', '/')
    print(host + '|' + path.rsplit('/', 1)[-1])
)", Input);
    std::string Actual;
    for (const char *Url : Urls) {
        char Host[256], File[256];
        URL_ParseHost(Url, Host, (int32)sizeof(Host));
        URL_ParseFilename(Url, File, (int32)sizeof(File));
        Actual += std::string(Host) + "|" + File + "\n";
    }
    EXPECT_EQ(Actual, Expected);
}

TEST(Url, FixPathResolvesDotsAndSlashes) {
    RuntimeScope Scope;
    struct Case {
        const char *Url;
        const char *Expected;
    } Cases[] = {
        {"http://Example.com:8080/a/b/../c/./d.json?x=1/../#frag", "http://Example.com:8080/a/c/d.json?x=1/../#frag"},
        {"https://host/dir//file.yaml", "https://host/dir/file.yaml"},
        {"http://127.0.0.1/a\\b\\..\\c.txt", "http://127.0.0.1/a/c.txt"},
        {"file:///tmp/x/../y/z.json", "file:///tmp/y/z.json"},
        {"http://host/../../etc", "http://host/etc"},
        {"http://host/a/", "http://host/a/"},
        {"http://host", "http://host"},
        {"a/./b/../../..", ".."},
    };
    for (const Case &Each : Cases) {
        char Output[256];
        EXPECT_TRUE(URL_FixPath(Each.Url, 0, Output, (int32)sizeof(Output)));
        EXPECT_STREQ(Output, Each.Expected) << Each.Url;
    }
    char Small[8];
    EXPECT_FALSE(URL_FixPath("http://host/long/path", 0, Small, (int32)sizeof(Small)));
    EXPECT_EQ(strlen(Small), 7u);
}

TEST(Url, ComparisonsAndLocalhost) {
    RuntimeScope Scope;
    EXPECT_TRUE(URL_CompareProtocol("HTTPS://x", "https"));
    EXPECT_FALSE(URL_CompareProtocol("httpsx://x", "https"));
    EXPECT_FALSE(URL_CompareProtocol("no scheme", "http"));
    EXPECT_TRUE(URL_CompareHosts("http://Host/a", "http://host:80/b"));
    EXPECT_TRUE(URL_CompareHosts("https://host/a", "https://HOST:443"));
    EXPECT_FALSE(URL_CompareHosts("http://host/a", "https://host/a"));
    EXPECT_FALSE(URL_CompareHosts("http://host:81/", "http://host/"));
    EXPECT_TRUE(URL_IsLocalhost("http://LocalHost:8080/x"));
    EXPECT_TRUE(URL_IsLocalhost("http://127.0.0.1/"));
    EXPECT_FALSE(URL_IsLocalhost("http://127.0.0.2/"));
    EXPECT_FALSE(URL_IsLocalhost("http://localhost.evil/"));
}

// Host without port, path and percent decoding against urlsplit().hostname,
// urlsplit().path and unquote_to_bytes. Hosts are lower case: Python folds
// them, these helpers keep them as written.
TEST(Url, HostPathAndDecodeMatchPython) {
    RuntimeScope Scope;
    const char *const Parsed[] = {
        "http://example.com/",     "https://a.b:8080/x/y?q=1#f", "ftp://u:p@host/path", "http://[::1]:80/p",
        "http://[fe80::1]/",       "http://h?q=1",               "http://h#frag",       "http://a@b@c/",
        "//host/p/q",              "file:///a/b%20c.dmg",        "http://host",         "/only/a/path",
        "http:///",
    };
    const char *const Encoded[] = {"a%20b", "%41%42", "%G1", "%4", "%", "100%", "%e2%82%AC", "a+b", "%2F%2f", "", "%%41"};
    std::string Input;
    for (const char *Url : Parsed) Input += std::string("p ") + Url + "\n";
    for (const char *Text : Encoded) Input += std::string("d ") + Text + "\n";
    std::string Expected = RunPython(R"(
import sys, urllib.parse
for line in sys.stdin.read().split('\n')[:-1]:
    kind, text = line[0], line[2:]
    if kind == 'p':
        parts = urllib.parse.urlsplit(text)
        print((parts.hostname or '') + '|' + parts.path)
    else:
        print(urllib.parse.unquote_to_bytes(text).decode('latin-1'))
)", Input);
    std::string Actual;
    for (const char *Url : Parsed) {
        char Host[64] = "junk", Path[64] = "junk";
        const int32 Found = URL_ParseHostWithoutPort(Url, Host, (int32)sizeof(Host));
        EXPECT_EQ(Found, Host[0] != 0) << Url;
        EXPECT_TRUE(URL_ParsePath(Url, Path, (int32)sizeof(Path))) << Url;
        Actual += std::string(Host) + "|" + Path + "\n";
    }
    for (const char *Text : Encoded) {
        char Decoded[64];
        EXPECT_TRUE(URL_DecodeString(Text, Decoded, (int32)sizeof(Decoded))) << Text;
        for (unsigned char Ch : std::string(Decoded)) Actual += Ch < 0x80 ? std::string(1, (char)Ch) : std::string{(char)(0xC0 | Ch >> 6), (char)(0x80 | (Ch & 0x3F))};
        Actual += "\n";
    }
    EXPECT_EQ(Actual, Expected);
}

// Where Python has no answer (it raises, or decodes "%00" into a cut string)
// and what happens when the output does not fit.
TEST(Url, HostPathDecodeEdgesAndSmallBuffers) {
    RuntimeScope Scope;
    struct Case {
        const char *Input;
        int32 Size;
        int32 Result;
        const char *Output;
    } Hosts[] = {{"http://[unclosed/", 64, 0, ""},       {"example.com:81", 64, 1, "example.com"},
                 {"http://Mixed.Case/", 64, 1, "Mixed.Case"}, {"", 64, 0, ""}, {"rel/path?x", 64, 1, "rel"},
                 {"http://example.com/", 11, 0, ""},     {"http://example.com/", 12, 1, "example.com"}},
      Paths[] = {{"http://h/a/b", 4, 0, ""}, {"http://h/a/b", 5, 1, "/a/b"}, {"", 64, 1, ""}, {"rel/path?x", 64, 1, "/path"}, {"http://h/x", 0, 0, nullptr}},
      Decodes[] = {{"%00x", 64, 1, "%00x"}, {"a%20b", 3, 0, ""}, {"a%20b", 4, 1, "a b"}, {"%41%42%43", 4, 1, "ABC"}};
    auto Run = [](const Case &Each, int32 (*Function)(const char *, char *, int32)) {
        char Output[80];
        memset(Output, 'x', sizeof(Output));
        EXPECT_EQ(Function(Each.Input, Output, Each.Size), Each.Result) << Each.Input << " " << Each.Size;
        if (Each.Output != nullptr) {
            EXPECT_STREQ(Output, Each.Output) << Each.Input;
        }
        EXPECT_EQ(Output[Each.Size], 'x') << "wrote past " << Each.Size;
    };
    for (const Case &Each : Hosts) Run(Each, URL_ParseHostWithoutPort);
    for (const Case &Each : Paths) Run(Each, URL_ParsePath);
    for (const Case &Each : Decodes) Run(Each, URL_DecodeString);
    char InPlace[] = "/Volumes/My%20Disk/%E2%82%ACuro%G1%4";
    EXPECT_TRUE(URL_DecodeString(InPlace, InPlace, (int32)sizeof(InPlace)));
    EXPECT_STREQ(InPlace, "/Volumes/My Disk/\xE2\x82\xAC" "uro%G1%4");
}

TEST(Url, RemoveProtocol) {
    RuntimeScope Scope;
    const struct {
        const char *Input, *Output;
        int32 Result;
    } Cases[] = {{"http://proxy.example:8080", "proxy.example:8080", 1}, {"SOCKS5://h", "h", 1},
                 {"git+ssh://h/x", "h/x", 1}, {"proxy.example:8080", "proxy.example:8080", 0},
                 {"host/path://x", "host/path://x", 0}, {"1http://h", "1http://h", 0}, {"://h", "://h", 0},
                 {"", "", 0}, {"http://", "", 1}};
    for (const auto &Case : Cases) {
        char Text[64];
        strcpy(Text, Case.Input);
        EXPECT_EQ(URL_RemoveProtocol(Text), Case.Result) << Case.Input;
        EXPECT_STREQ(Text, Case.Output) << Case.Input;
    }
}

// The place a URL names, against RFC 3986's own examples of dot-segment
// removal (section 5.4, base "http://a/b/c/d;p?q", relative-path
// references merged onto "/b/c/"), written plainly (but for the two with
// ";", which name no one place, below); written again with each dot
// percent-encoded, only those without a dot keep their place.
TEST(Url, ResolvePlaceFollowsTheRfcExamples) {
    const struct {
        const char *Reference, *Path;
    } Examples[] = {
        {"g", "/b/c/g"},           {"./g", "/b/c/g"},         {"g/", "/b/c/g/"},       {".", "/b/c/"},
        {"./", "/b/c/"},           {"..", "/b/"},             {"../", "/b/"},          {"../g", "/b/g"},
        {"../..", "/"},            {"../../", "/"},           {"../../g", "/g"},       {"../../../g", "/g"},
        {"../../../../g", "/g"},   {"g.", "/b/c/g."},         {".g", "/b/c/.g"},       {"g..", "/b/c/g.."},
        {"..g", "/b/c/..g"},       {"./../g", "/b/g"},        {"./g/.", "/b/c/g/"},    {"g/./h", "/b/c/g/h"},
        {"g/../h", "/b/c/h"},
    };
    char Place[256];
    for (const auto &Each : Examples) {
        std::string Plain = std::string("http://a/b/c/") + Each.Reference, Encoded;
        for (char Ch : Plain.substr(7)) Encoded += Ch == '.' ? std::string("%2e") : std::string(1, Ch);
        ASSERT_EQ(URL_ResolvePlace(Plain.c_str(), Place, (int32)sizeof(Place)), 1) << Plain;
        EXPECT_EQ(std::string(Place), std::string("http://a:80") + Each.Path) << Plain;
        std::string Url = "HTTP://A:80" + Encoded.substr(1) + "?q#f";
        bool Dot = strchr(Each.Reference, '.') != nullptr;
        EXPECT_EQ(URL_ResolvePlace(Url.c_str(), Place, (int32)sizeof(Place)), Dot ? 0 : 1) << Url;
        EXPECT_EQ(std::string(Place), Dot ? std::string() : std::string("http://a:80") + Each.Path) << Url;
    }
}

// A path whose place depends on how often, or whether, the server decodes
// it has none; so has a segment with ";", which a server that strips
// parameters resolves otherwise ("..;" as ".."), and an encoded dot segment,
// which a server that decodes first climbs and an object store (or a file
// system, after following links) does not. The path keeps its case.
TEST(Url, ResolvePlaceRefusesWhatHasNoOnePlace) {
    const struct {
        const char *Url, *Place;
    } Cases[] = {
        {"http://h/a/%2e%2e/%2E%2E/etc/x", nullptr},
        {"http://h/o/%2e%2e/a/x", nullptr},
        {"http://h/a/%2e/x", nullptr},
        {"http://h/a/%2e%2ex/%2eg", nullptr},
        {"https://u@H/a/%62/c", "https://h:443/a/b/c"},
        {"http://h:8/a\\b/../c", "http://h:8/a/c"},
        {"file:///a/b/../c/x%20y", "file:///a/c/x y"},
        {"file://localhost/a/.x", "file://localhost/a/.x"},
        {"http://h/a/b%2f..%2f..%2fetc", nullptr},
        {"http://h/a/b%2F../x", nullptr},
        {"http://h/a/%5c../x", nullptr},
        {"http://h/a/%00/x", nullptr},
        {"http://h/a/%252e%252e/x", nullptr},
        {"http://h/a/%2541", nullptr},
        {"file:///a/b/%2e%2e/x", nullptr},
        {"file:///a/b/.%2e/x", nullptr},
        {"file:///a/b/%2e/x", nullptr},
        {"HTTP://H/A/b", "http://h:80/A/b"},
        {"http://h/a/..;/x", nullptr},
        {"http://h/a/g;x=1/../y", nullptr},
        {"http://h/a/b%3Bx/y", nullptr},
        {"no/scheme/x", nullptr},
    };
    char Place[256];
    for (const auto &Case : Cases) {
        int32 Resolved = URL_ResolvePlace(Case.Url, Place, (int32)sizeof(Place));
        EXPECT_EQ(Resolved, Case.Place != nullptr ? 1 : 0) << Case.Url;
        EXPECT_EQ(std::string(Place), Case.Place != nullptr ? Case.Place : "") << Case.Url;
    }
    EXPECT_EQ(URL_ResolvePlace("http://h/abcdef", Place, 12), 0);
    EXPECT_STREQ(Place, "");
}

} // namespace
