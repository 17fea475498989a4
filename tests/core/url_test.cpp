// URL text helpers against Python's urllib.parse and posixpath as references
// for host, file name and path normalisation.
#include "core/url.h"

#include <gtest/gtest.h>

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

} // namespace
