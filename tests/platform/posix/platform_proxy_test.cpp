// The system's proxy settings: the settings file, the proxy variables and
// the auto-config URL of the DHCP client's leases.
#include "platform/posix/platform_proxy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "runtime/posix/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class NetworkTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        PlatformStandIn_Set("PROXY_SETTINGS", (Temp / "proxy.conf").c_str());
    }
    void TearDown() override {
        for (const char *Key : {"PROXY_SETTINGS", "RESOLV_CONF", "DHCP_LEASES"}) PlatformStandIn_Set(Key, nullptr);
        RuntimeTest::TearDown();
    }
    void Settings(const std::string &Text) { std::ofstream(Temp / "proxy.conf") << Text; }
    std::string Ask(int32 (*Query)(char *, int32)) {
        char Buffer[1024] = "junk";
        return Query(Buffer, sizeof(Buffer)) ? std::string(Buffer) : "<0:" + std::string(Buffer) + ">";
    }
    std::string ByProtocol(const char *Protocol) {
        char Buffer[256] = "junk";
        return Platform_ProxyGetByProtocol(Protocol, Buffer, sizeof(Buffer)) ? std::string(Buffer)
                                                                             : "<0:" + std::string(Buffer) + ">";
    }
    TempDirectory Temp;
};

TEST_F(NetworkTest, ProxySettingsFromTheSettingsFile) {
    Settings("# proxies\nHTTPEnable=1\nHTTPProxy=http://proxy.example\nHTTPPort=8080\n"
             "HTTPSEnable = 1\nHTTPSProxy = secure.example\n"
             "ExceptionsList=localhost, *.local\nProxyAutoConfigEnable=1\n"
             "ProxyAutoConfigURLString=http://wpad/wpad.dat\nProxyAutoDiscoveryEnable=1\n");
    EXPECT_EQ(ByProtocol("HTTP"), "proxy.example:8080");
    EXPECT_EQ(ByProtocol("https"), "secure.example");
    EXPECT_EQ(ByProtocol("ftp"), "<0:>");
    EXPECT_EQ(Ask(Platform_ProxyGetBypass), "localhost;*.local");
    EXPECT_EQ(Ask(Platform_ProxyGetWpadURL), "http://wpad/wpad.dat");
    EXPECT_NE(Captured.find("Internet proxy is currently auto configured [http://wpad/wpad.dat]"), std::string::npos);
    int32 Detect = 0;
    EXPECT_EQ(Platform_ProxyGetAutoDetect(&Detect), 1);
    EXPECT_EQ(Detect, 1);

    // A flag counts only when it is exactly 1; a disabled proxy answers 0 even with a host.
    Settings("HTTPEnable=0\nHTTPProxy=proxy.example\nHTTPSEnable=yes\nHTTPSProxy=s\nExceptionsList=\n"
             "ProxyAutoConfigEnable=1\nProxyAutoDiscoveryEnable=2\n");
    EXPECT_EQ(ByProtocol("http"), "<0:>");
    EXPECT_EQ(ByProtocol("https"), "<0:>");
    EXPECT_EQ(Ask(Platform_ProxyGetBypass), ""); // an empty list is still a list
    EXPECT_EQ(Ask(Platform_ProxyGetWpadURL), "<0:>");
    EXPECT_EQ(Platform_ProxyGetAutoDetect(&Detect), 1);
    EXPECT_EQ(Detect, 0);
    Settings("HTTPEnable=1\n");
    EXPECT_EQ(ByProtocol("http"), "<0:>");
    EXPECT_EQ(Ask(Platform_ProxyGetBypass), "<0:>");
}

TEST_F(NetworkTest, ProxySettingsFromTheVariablesWithoutAFile) {
    ScopedEnv Http("http_proxy", "http://user:pw@cache.example:3128/");
    ScopedEnv HttpsLower("https_proxy", nullptr);
    ScopedEnv Https("HTTPS_PROXY", "secure.example:443");
    ScopedEnv Bypass("no_proxy", "a,b");
    EXPECT_EQ(ByProtocol("http"), "cache.example:3128");
    EXPECT_EQ(ByProtocol("https"), "secure.example:443");
    EXPECT_EQ(Ask(Platform_ProxyGetBypass), "a;b");
    EXPECT_EQ(Ask(Platform_ProxyGetWpadURL), "<0:>");
}

TEST_F(NetworkTest, AutoConfigURLFromDhcpLeases) {
    std::ofstream(Temp / "leases") << "lease {\n  interface \"eth0\";\n  option wpad \"http://old/wpad.dat\";\n}\n"
                                      "lease {\n  option unknown-252 68:74:74:70:3a:2f:2f:6e:65:77:2f:77:00;\n}\n";
    PlatformStandIn_Set("DHCP_LEASES", (Temp / "leases").c_str());
    char Buffer[128];
    EXPECT_EQ(Platform_ProxyGetWpadURLFromDHCP(nullptr, Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "http://new/w");
    std::ofstream(Temp / "leases") << "lease {\n  option routers 10.0.0.1;\n}\n";
    EXPECT_EQ(Platform_ProxyGetWpadURLFromDHCP(nullptr, Buffer, sizeof(Buffer)), 0);
}

} // namespace
