// TLS tables: every suite name maps to the id OpenSSL lists for the same
// suite ("openssl ciphers -V"), names match without case, unknown names give
// 0, and versions translate and clamp to 1.0-1.2.
#include "net/tls1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "tests/support/requirement.h"
#include "tests/support/runtime.h"

namespace {

class Tls1Test : public RuntimeTest {};

// OpenSSL's name for one of ours: upper case, and the plain-RSA suites
// without their key-exchange prefix.
std::string OpenSslName(std::string Name) {
    if (Name.rfind("rsa-", 0) == 0) Name = Name.substr(4);
    for (char &Ch : Name) Ch = (char)toupper((unsigned char)Ch);
    return Name;
}

TEST_F(Tls1Test, IdsMatchOpenSsl) {
    FILE *Pipe = popen("openssl ciphers -V 'ALL:@SECLEVEL=0' 2>/dev/null", "r");
    ASSERT_NE(Pipe, nullptr);
    std::map<std::string, unsigned> Listed;
    char Line[512];
    while (fgets(Line, sizeof(Line), Pipe) != nullptr) {
        unsigned High = 0, Low = 0;
        char Name[128];
        if (sscanf(Line, " 0x%x,0x%x - %127s", &High, &Low, Name) == 3) Listed[Name] = High << 8 | Low;
    }
    pclose(Pipe);
    SKIP_UNLESS(!Listed.empty(), "openssl lists no ciphers");
    for (int32 Index = 0; Index < TLS1_CIPHER_COUNT; Index++) {
        std::string Name = TLS1_CipherName(Index);
        auto Found = Listed.find(OpenSslName(Name));
        ASSERT_NE(Found, Listed.end()) << Name;
        EXPECT_EQ(TLS1_CipherTranslate(Name.c_str()), Found->second) << Name;
    }
    EXPECT_EQ(TLS1_CipherTranslate("ECDHE-RSA-AES128-SHA"), 0xC013);
    EXPECT_EQ(TLS1_CipherTranslate("rc4-md5"), 0);
}

TEST_F(Tls1Test, EnableAndVersions) {
    TLS1_CipherReset();
    EXPECT_FALSE(TLS1_CipherIsEnabled(0x002F));
    EXPECT_TRUE(TLS1_CipherEnable(0x002F, TRUE));
    EXPECT_TRUE(TLS1_CipherIsEnabled(0x002F));
    EXPECT_FALSE(TLS1_CipherEnable(0x1301, TRUE));
    TLS1_CipherReset();
    struct Case {
        const char *Text;
        uint16 Version;
    } Versions[] = {{"1.0", 0x0301}, {"1.1", 0x0302}, {"1.2", 0x0303}, {"1.3", 0}, {"", 0}, {"1", 0}};
    for (const Case &Each : Versions) EXPECT_EQ(TLS1_VersionTranslate(Each.Text), Each.Version) << Each.Text;
    TLS_VersionSetMax(0x0304);
    EXPECT_EQ(TLS_VersionGetMax(), TLS1_VERSION_1_2);
    TLS_VersionSetMin(0x0300);
    EXPECT_EQ(TLS_VersionGetMin(), TLS1_VERSION_1_0);
}

} // namespace
