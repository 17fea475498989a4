// The host whitelist under the authentication switch, and the names of the
// HTTP client's error codes.
#include "net/web_get.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/trust/authenticate.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

TEST(WebGet, WhitelistAndSwitch) {
    RuntimeScope Scope;
    Authenticate_Init();
    WebGet_WhitelistAdd("Trusted.example");
    struct Case {
        const char *Url;
        uint32 SecurityOn;
        int32 Allowed;
    } Cases[] = {
        {"http://trusted.example/a", 1, 1},     {"https://TRUSTED.EXAMPLE:8443/a", 1, 1},
        {"http://user@trusted.example/", 1, 1}, {"http://other.example/a", 1, 0},
        {"http://other.example/a", 0, 1},       {"no-slashes", 0, 0},
        {"http://u@trusted.example:80@other.example/", 1, 0},
    };
    for (const Case &Each : Cases) {
        Authenticate_SetEnabled(Each.SecurityOn);
        EXPECT_EQ(WebGet_Authorize(Each.Url), Each.Allowed) << Each.Url << " " << Each.SecurityOn;
    }
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    Authenticate_SetEnabled(1);
    WebGet_Authorize("http://other.example/x");
    EXPECT_NE(Captured.find("Hostname not found in whitelist (other.example)"), std::string::npos);
    WebGet_WhitelistReset();
    EXPECT_FALSE(WebGet_Authorize("http://trusted.example/a"));
    Authenticate_Remove();
}

TEST(WebGet, ErrorNames) {
    struct Case {
        int32 Code;
        const char *Name;
    } Cases[] = {{0, "Unknown"},    {900, "Custom"}, {950, "Connect"}, {956, "UserAbort"}, {961, "Timeout"},
                 {964, "OS"},       {987, "JSON"},   {988, "VCDiff"},  {989, "Storage"},   {992, "Unknown"},
                 {951, "Unknown"}, {-1, "Unknown"}};
    for (const Case &Each : Cases) EXPECT_STREQ(WebGet_TranslateError(Each.Code), Each.Name) << Each.Code;
}

// Only a URL a request can be made of passes: its host a name of labels,
// an IPv4 address in four decimal parts or a bracketed IPv6 address. The
// rest would fail every retry the same way.
TEST(WebGet, CheckURL) {
    for (const char *Good : {"http://h/x", "http://user@127.0.0.1:8080/a?b#c", "http://[::1]:80/x", "http://[::1]",
                             "http://a-b.c_d.example./x", "HTTP://h", "http://0a/x", "http://1.example/x"})
        EXPECT_EQ(WebGet_CheckURL(Good), 1) << Good;
    for (const char *Bad : {"http://[::1", "http://[zz]/x", "http://%zz/x", "http://a%4/x", "http://a b/x",
                            "http://:80/x", "http://h:0/x", "http://h:65536/x", "http://h:/x", "http://{nope}/x",
                            "http://a<b/x", "http://h/a b", "https://h/x", "ftp://h/x", "http://", "http://a..b/x",
                            "http://-a/x", "http://a-/x", "http://256.0.0.1:1/x", "http://0/x", "http://1.2.3/x",
                            "http://./x", "http://a%41b/x", "http://a!b/x"})
        EXPECT_EQ(WebGet_CheckURL(Bad), 0) << Bad;
}

} // namespace
