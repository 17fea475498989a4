// MIME table: every row is found under three case spellings, the extension
// rules (directories with dots, trailing dots, several dots), the defaults,
// and the keys against Python's zlib.crc32 of the upper-cased extensions.
#include "formats/mime.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "runtime/text/crc.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class MimeTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        MIME_Init();
    }
    void TearDown() override {
        MIME_Remove();
        RuntimeTest::TearDown();
    }
};

std::string Find(const std::string &Name, int32 *Found = nullptr) {
    const char *Type = nullptr;
    const char *SubType = nullptr;
    const int32 Result = MIME_Find(Name.c_str(), &Type, &SubType);
    if (Found) *Found = Result;
    return std::string(Type) + "/" + SubType;
}

std::string Spelled(const std::string &Text, int32 Form) {
    std::string Out = Text;
    for (size_t i = 0; i < Out.size(); i++) {
        const bool Upper = Form == 1 || (Form == 2 && i % 2 == 0);
        Out[i] = (char)(Upper ? toupper((unsigned char)Out[i]) : tolower((unsigned char)Out[i]));
    }
    return Out;
}

TEST_F(MimeTest, EveryRowInThreeCaseSpellings) {
    for (const MIMEConfig &Row : MIMEConfigList) {
        const std::string Expected = std::string(Row.Type) + "/" + Row.SubType;
        for (int32 Form = 0; Form < 3; Form++) {
            const std::string Name = "dir.d/file." + Spelled(Row.Extension, Form);
            int32 Found = 0;
            EXPECT_EQ(Find(Name, &Found), Expected) << Name;
            EXPECT_EQ(Found, 1) << Name;
        }
    }
}

TEST_F(MimeTest, ExtensionRulesAndDefaults) {
    struct Case {
        const char *Name;
        int32 Found;
        const char *Type;
    } Cases[] = {
        {"index.HTML", 1, "text/html"},
        {"a/b.c/readme", 0, "application/octet-stream"},
        {"a\\b.c\\readme", 0, "application/octet-stream"},
        {"c:readme", 0, "application/octet-stream"},
        {"file.", 0, "application/octet-stream"},
        {"archive.tar.gz", 1, "application/x-gzip"},
        {"notes.yaml", 1, "text/x-yaml"},
        {"data.json", 1, "application/json"},
        {"font.woff", 1, "application/x-font-woff"},
        {"unknown.xyz", 0, "application/octet-stream"},
        {".json", 1, "application/json"},
        {"noextension", 0, "application/octet-stream"},
        {"", 0, "application/octet-stream"},
        {"x.jsonx", 0, "application/octet-stream"},
        {"x.jso", 0, "application/octet-stream"},
        {"http://host/a.png", 1, "image/png"},
    };
    for (const Case &Each : Cases) {
        int32 Found = -1;
        EXPECT_EQ(Find(Each.Name, &Found), Each.Type) << Each.Name;
        EXPECT_EQ(Found, Each.Found) << Each.Name;
    }
    // A long extension is no match, and costs no more than its length.
    EXPECT_EQ(Find("x." + std::string(100000, 'J')), "application/octet-stream");
}

TEST_F(MimeTest, KeysAreDistinctAndMatchZlib) {
    std::string Input;
    std::set<uint32> Keys;
    for (const MIMEConfig &Row : MIMEConfigList) {
        Input += Row.Extension;
        Input += "\n";
        const std::string Upper = Spelled(Row.Extension, 1);
        Keys.insert(CRC_Update(0, Upper.data(), (uint32)Upper.size()));
    }
    EXPECT_EQ(Keys.size(), sizeof(MIMEConfigList) / sizeof(MIMEConfigList[0]));
    const std::string Python = RunPython(R"PY(
import sys, zlib
keys = sorted({zlib.crc32(line.upper().encode()) for line in sys.stdin.read().split()})
print(len(keys), keys[0], keys[-1])
)PY",
                                         Input);
    const std::string Ours = std::to_string(Keys.size()) + " " + std::to_string(*Keys.begin()) + " " +
                             std::to_string(*Keys.rbegin()) + "\n";
    EXPECT_EQ(Python, Ours);
}

TEST_F(MimeTest, RemoveAndInitAgain) {
    EXPECT_EQ(MIME_Init(), 1);  // already built: kept
    EXPECT_EQ(Find("a.png"), "image/png");
    EXPECT_EQ(MIME_Remove(), 1);
    EXPECT_EQ(MIME_Remove(), 1);
    int32 Found = -1;
    EXPECT_EQ(Find("a.png", &Found), "application/octet-stream");
    EXPECT_EQ(Found, 0);
    EXPECT_EQ(MIME_Init(), 1);
    EXPECT_EQ(Find("a.PNG"), "image/png");
}

} // namespace
