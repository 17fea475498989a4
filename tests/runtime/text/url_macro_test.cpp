// The URL and socket macro providers against independent references:
// Python's urllib.parse on a table of URLs, `hostname`, and `ip -j addr`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/posix/socket.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/url.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Expand(const std::string &Macro) {
    char Text[4096];
    snprintf(Text, sizeof(Text), "%s", Macro.c_str());
    String_Expand(Text, (int32)sizeof(Text), nullptr, nullptr);
    return Text;
}

const std::vector<std::string> Urls = {
    "http://example.com:8080/a/b/file.txt?x=1&y=two#frag",
    "https://user@host.example/dir/?q#",
    "http://h/",
    "file:///tmp/some%20dir/doc.yaml",
    "http://127.0.0.1:4567/tok",
    "http://h/a/b;p?q=a%2Fb",
};
const std::vector<std::string> Parts = {"path", "query", "fragment", "port", "domain", "hostWithoutPort",
                                        "pathWithQuery", "pathWithoutFilename", "queryWithFragment",
                                        "urlWithoutQuery", "urlWithoutFragment", "urlWithoutFilename"};
const std::vector<std::string> Joins = {"g", "./g", "g/", "/g", "//g", "?y", "g?y", "#s", "g#s", "..", "../g",
                                        "../../../g", "./../g/.", "g;x=1/../y", "http://other/x?z"};
const std::vector<std::string> Texts = {"a b&c=d/é~", "100%", "plain-text_.~", "x+y"};

TEST(UrlMacro, MatchesPythonUrllib) {
    RuntimeScope Scope;
    std::string Ours, Input;
    for (const std::string &Url : Urls)
        for (const std::string &Part : Parts) {
            Ours += Expand("{UrlParse:" + Part + "," + Url + "}") + "\n";
            Input += Part + "\t" + Url + "\n";
        }
    for (const std::string &Reference : Joins) {
        Ours += Expand("{UrlJoin:http://a/b/c/d;p?q," + Reference + "}") + "\n";
        Input += "join\t" + Reference + "\n";
    }
    for (const std::string &Text : Texts) {
        Ours += Expand("{UrlEncode:" + Text + "}") + "\n" + Expand("{UrlQueryEncode:" + Text + "}") + "\n" +
                Expand("{UrlDecode:" + Expand("{UrlEncode:" + Text + "}") + "}") + "\n";
        Input += "text\t" + Text + "\n";
    }
    std::string Reference = RunPython(R"(
import sys, urllib.parse as P
out = []
for line in sys.stdin.read().splitlines():
    kind, value = line.split('\t', 1)
    if kind == 'join':
        out.append(P.urljoin('http://a/b/c/d;p?q', value)); continue
    if kind == 'text':
        out += [P.quote(value, safe='~'), P.quote_plus(value, safe='~'), value]; continue
    u = P.urlsplit(value)
    host = u.netloc.rsplit('@', 1)[-1]
    directory = u.path[:u.path.rfind('/') + 1]
    base = u.scheme + '://' + u.netloc
    out.append({'path': u.path, 'query': u.query, 'fragment': u.fragment, 'port': str(u.port or ''),
                'domain': host, 'hostWithoutPort': host.split(':')[0],
                'pathWithQuery': u.path + ('?' + u.query if '?' in value else ''),
                'pathWithoutFilename': directory,
                'queryWithFragment': u.query + ('#' + u.fragment if '#' in value else ''),
                'urlWithoutQuery': base + u.path, 'urlWithoutFragment': value.split('#')[0],
                'urlWithoutFilename': base + directory}[kind])
print('\n'.join(out))
)",
                                      Input);
    std::vector<std::string> A, B;
    for (size_t At = 0, Next; At < Ours.size(); At = Next + 1) A.push_back(Ours.substr(At, (Next = Ours.find('\n', At)) - At));
    for (size_t At = 0, Next; At < Reference.size(); At = Next + 1)
        B.push_back(Reference.substr(At, (Next = Reference.find('\n', At)) - At));
    ASSERT_EQ(A.size(), B.size());
    std::vector<std::string> Lines;
    for (const std::string &Line : Urls)
        for (const std::string &Part : Parts) Lines.push_back(Part + " " + Line);
    for (const std::string &Line : Joins) Lines.push_back("join " + Line);
    for (size_t K = 0; K < A.size(); K++) EXPECT_EQ(A[K], B[K]) << (K < Lines.size() ? Lines[K] : "text");
    EXPECT_EQ(Expand("{UrlFix:http://h//a/./b/../c}"), "http://h/a/c");
}

TEST(UrlMacro, MachineFactsMatchTheSystem) {
    RuntimeScope Scope;
    std::string Host = CommandOutput("hostname");
    while (!Host.empty() && Host.back() == '\n') Host.pop_back();
    EXPECT_EQ(Expand("{MachineName}"), Host);
    std::string Address = Expand("{IntranetIP}"), Mac = Expand("{MACAddress}");
    std::string Verdict = RunPython(R"(
import json, subprocess, sys
address, mac = sys.stdin.read().split()
pairs = {}
for link in json.loads(subprocess.run(['ip', '-j', 'addr'], capture_output=True, text=True).stdout):
    if 'LOOPBACK' in link.get('flags', []) or 'UP' not in link.get('flags', []):
        continue
    for info in link.get('addr_info', []):
        if info.get('family') == 'inet':
            pairs[info['local']] = link.get('address', '').upper()
if not pairs:
    print('ok' if address == '0.0.0.0' else 'unexpected ' + address)
else:
    print('ok' if pairs.get(address) == mac else 'mismatch %s %s %s' % (address, mac, pairs))
)",
                                    Address + " " + Mac);
    EXPECT_EQ(Verdict, "ok\n");
}

} // namespace
