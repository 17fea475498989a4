// Application configuration from an app.json: defaults replaced through
// paths without case, macros (last key segment, decoded text, "#"-macros),
// the host whitelist deciding WebGet_Authorize, certificate-store lists,
// the User-Agent, redirect rules (rewrites checked against pcre2test), the
// TLS suite and version tables, key and thumbprint stores, and the change
// payloads.
#include "workflow/app/workflow_app_config.h"

#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "crypto/trust/x509.h"
#include "net/tls1.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "tests/workflow/workflow_outcome.h"
#include "workflow/app/workflow_app.h"

namespace {

std::vector<std::string> Changes;

int32 OnChange(void *, const char *, const char *, const char *, Dictionary *Info) {
    char Key[256] = "", Value[256] = "";
    Dictionary_GetStringByKey(Info, "key", Key, (int32)sizeof(Key));
    Dictionary_GetStringByKey(Info, "value", Value, (int32)sizeof(Value));
    Changes.push_back(std::string(Key) + "=" + Value);
    return TRUE;
}

std::string Config(const char *Path) {
    char Text[1024] = "";
    WorkflowApp_GetConfig(Path, "<none>", Text, (int32)sizeof(Text));
    return Text;
}

std::string Expand(const char *Text) {
    char Out[1024];
    WorkflowApp_ExpandString(Text, Out, (int32)sizeof(Out));
    return Out;
}

// pcre2test's rewrite of Subject with the pattern and replacement.
std::string Reference(const std::string &Pattern, const std::string &Options, const std::string &Replacement,
                      const std::string &Subject) {
    TempDirectory Temp;
    std::string Path = Temp / "input";
    FILE *Input = fopen(Path.c_str(), "w");
    fprintf(Input, "!%s!%s,replace=%s\n    %s\n", Pattern.c_str(), Options.c_str(), Replacement.c_str(),
            Subject.c_str());
    fclose(Input);
    FILE *Output = popen(("pcre2test -q " + Path).c_str(), "r");
    std::string Text;
    char Line[1024];
    while (Output != nullptr && fgets(Line, sizeof(Line), Output) != nullptr) Text += Line;
    if (Output != nullptr) pclose(Output);
    size_t At = Text.find(": ", Text.find(Subject));
    if (At == std::string::npos) return "";
    std::string Result = Text.substr(At + 2);
    return Result.substr(0, Result.find('\n'));
}

class AppConfigTest : public WorkflowTest {
  protected:
    void SetUp() override {
        WorkflowTest::SetUp();
        WebGet_WhitelistReset();
        WebGet_RedirectReset();
        TLS1_CipherReset();
        Changes.clear();
        Dictionary *Handle = nullptr;
        WorkflowApp_GetConfigHandle(&Handle);
        char Id[64];
        Dictionary_GetInstanceId(Handle, Id, (int32)sizeof(Id));
        NotificationCenter_AddInstanceObserver("Config", "OptionChanged", Id, this, OnChange);
        ConfigId = Id;
        Captured.clear();
        Debug_PrintCallback(CaptureLog);
    }
    void TearDown() override {
        NotificationCenter_RemoveInstanceObserver("Config", "OptionChanged", ConfigId.c_str(), this, OnChange);
        WebGet_WhitelistReset();
        WebGet_RedirectReset();
        Authenticate_SetEnabled(TRUE);
        WorkflowTest::TearDown();
    }
    std::string ConfigId;
};

TEST_F(AppConfigTest, DefaultsBeforeAnyLoad) {
    EXPECT_EQ(Config("storage.requests"), "8");
    EXPECT_EQ(Config("storage.pieceFormat"), "{targetInfoHash}/{targetDigest}.velmpiece");
    EXPECT_EQ(Config("webGetPool.maxHostConnections"), "6");
    EXPECT_EQ(Config("no.such.key"), "<none>");
    double Weight = 0;
    Dictionary *Handle = nullptr;
    WorkflowApp_GetConfigHandle(&Handle);
    Dictionary_GetFloat64ByPath(Handle, "repository.copyWeight", &Weight);
    // Stored as text with 12 significant digits: the widened single, not 0.8.
    EXPECT_NEAR(Weight, 0.800000011920929, 1e-12);
    EXPECT_NE(Weight, 0.8);
    uint32 Flag = 0;
    EXPECT_TRUE(WorkflowApp_GetConfigBoolean("storage.systemBuffer", FALSE, &Flag));
    EXPECT_EQ(Flag, 1u);
    EXPECT_TRUE(WorkflowApp_GetConfigBoolean("storage.pieceFormat", TRUE, &Flag));
    EXPECT_EQ(Flag, 1u);
    EXPECT_EQ(Expand("{AppVersion}"), WORKFLOWAPP_LIBRARY_VERSION);
}

TEST_F(AppConfigTest, LoadsAnAppJson) {
    Authenticate_SetEnabled(TRUE);
    EXPECT_FALSE(WebGet_Authorize("http://cdn.example.test/file"));
    ASSERT_TRUE(WorkflowApp_LoadConfigFromFile((DataDir + "app.json").c_str()));

    // Paths match without case; the change is reported with its path.
    EXPECT_EQ(Config("storage.requests"), "4");
    bool Reported = false;
    for (const std::string &Change : Changes)
        if (Change.find("=4") != std::string::npos && Change.find("equests") != std::string::npos) Reported = true;
    std::string All;
    for (const std::string &Change : Changes) All += Change + "\n";
    EXPECT_TRUE(Reported) << All;

    // Macros.
    EXPECT_EQ(Expand("{brand}|{channel}|{encoded}"), "Velmarsh Test|beta|caf\xc3\xa9");
    char Local[256] = "";
    EXPECT_TRUE(WorkflowApp_ExpandKey(nullptr, "#localStorage", nullptr, Local, (int32)sizeof(Local)));
    EXPECT_STREQ(Local, "/tmp/i16-local/");

    // Host whitelist.
    struct Case {
        const char *Url;
        bool Allowed;
    } Hosts[] = {{"http://cdn.example.test/file", true},  {"https://CDN.example.test:8080/x", true},
                 {"http://downloads.example.test/a", true}, {"http://assets.example.test/", true},
                 {"http://other.example.test/", false}};
    for (const Case &Each : Hosts) EXPECT_EQ(WebGet_Authorize(Each.Url) != 0, Each.Allowed) << Each.Url;

    // Stores: an unknown name still contributes a (null) member.
    CertStoreList *App = nullptr, *WebGetList = nullptr;
    ASSERT_TRUE(WorkflowApp_GetCertStoreListHandle("app", &App));
    int32 Count = 0;
    CertStoreList_GetCount(App, &Count);
    EXPECT_EQ(Count, 2);
    EXPECT_NE(Captured.find("Unable to find certificate store (noSuchStore)"), std::string::npos);
    ASSERT_TRUE(WorkflowApp_GetCertStoreListHandle("webGet", &WebGetList));
    CertStoreList_GetCount(WebGetList, &Count);
    EXPECT_EQ(Count, 1);

    char Agent[256];
    WebGet_GetUserAgent(Agent, (int32)sizeof(Agent));
    EXPECT_EQ(std::string(Agent), std::string("Client/") + WORKFLOWAPP_LIBRARY_VERSION);

    // Redirects: the broken rule and the one without a replacement are left out.
    int32 Rules = 0;
    WebGet_RedirectGetCount(&Rules);
    EXPECT_EQ(Rules, 2);
    EXPECT_NE(Captured.find("Add webget redirect (toMirror)"), std::string::npos);
    EXPECT_NE(Captured.find("Unknown redirect flag (sticky)"), std::string::npos);
    char Url[512];
    EXPECT_TRUE(WebGet_RedirectApply("http://CDN.example.test/a_b_c.zip", Url, (int32)sizeof(Url)));
    std::string Step = Reference("^http://cdn\\.example\\.test/(.*)$", "i", "http://mirror.example.test/$1",
                                 "http://CDN.example.test/a_b_c.zip");
    ASSERT_FALSE(Step.empty()) << "pcre2test gave nothing";
    EXPECT_EQ(std::string(Url), Reference("_", "g", "-", Step));
    EXPECT_FALSE(WebGet_RedirectApply("http://plain.example.test/", Url, (int32)sizeof(Url)));

    // TLS: only the listed known suites; 1.3 leaves the maximum alone.
    EXPECT_TRUE(TLS1_CipherIsEnabled(0x002F));
    EXPECT_TRUE(TLS1_CipherIsEnabled(0xC030));
    EXPECT_FALSE(TLS1_CipherIsEnabled(0xC02C));
    EXPECT_EQ(TLS_VersionGetMin(), TLS1_VERSION_1_1);
    EXPECT_EQ(TLS_VersionGetMax(), TLS1_VERSION_1_2);
    EXPECT_NE(Captured.find("Unknown cipher suite: no-such-suite"), std::string::npos);
}

TEST_F(AppConfigTest, ImmutableRulesStayAndMutableOnesAreReplaced) {
    const char *First = "{\"webGet\":{\"redirect\":{\"keep\":{\"pattern\":\"a\",\"replacement\":\"b\"},"
                        "\"swap\":{\"pattern\":\"c\",\"replacement\":\"d\",\"mutable\":true}}}}";
    const char *Second = "{\"webGet\":{\"redirect\":{\"keep\":{\"pattern\":\"a\",\"replacement\":\"X\"},"
                         "\"swap\":{\"pattern\":\"c\",\"replacement\":\"Y\"}}}}";
    for (const char *Text : {First, Second}) {
        Dictionary *Loaded = nullptr;
        Dictionary_Create(&Loaded);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Loaded);
        ASSERT_TRUE(JSON_LoadBuffer(Reader, Text, (int32)strlen(Text)));
        JSON_Release(&Reader);
        WorkflowApp_LoadConfigFromDictionary(Loaded);
        Dictionary_Release(&Loaded);
    }
    char Url[64];
    WebGet_RedirectApply("ac", Url, (int32)sizeof(Url));
    EXPECT_STREQ(Url, "bY");
}

// A store list that names itself would ask itself for ever and never be freed.
TEST_F(AppConfigTest, StoreListNamingItselfIsRefused) {
    const char *Text = "{\"certificateStores\":{\"app\":[\"app\",\"null\"],\"webGet\":[\"app\"]}}";
    Dictionary *Loaded = nullptr;
    Dictionary_Create(&Loaded);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Loaded);
    ASSERT_TRUE(JSON_LoadBuffer(Reader, Text, (int32)strlen(Text)));
    JSON_Release(&Reader);
    WorkflowApp_LoadConfigFromDictionary(Loaded);
    Dictionary_Release(&Loaded);
    for (const char *Which : {"app", "webGet"}) {
        CertStoreList *List = nullptr;
        ASSERT_TRUE(WorkflowApp_GetCertStoreListHandle(Which, &List));
        int32 Count = 0;
        CertStoreList_GetCount(List, &Count);
        EXPECT_EQ(Count, 1) << Which;
    }
    EXPECT_NE(Captured.find("Certificate store list cannot hold itself"), std::string::npos) << Captured;
}

TEST_F(AppConfigTest, EmptyCipherListEnablesNone) {
    WorkflowApp_AddCipher("rsa-aes128-sha");
    Dictionary *Loaded = nullptr;
    Dictionary_Create(&Loaded);
    Dictionary_SetStringByPath(Loaded, "tls1.cipher", "");
    WorkflowApp_LoadConfigFromDictionary(Loaded);
    Dictionary_Release(&Loaded);
    for (int32 Index = 0; Index < TLS1_CIPHER_COUNT; Index++)
        EXPECT_FALSE(TLS1_CipherIsEnabled(TLS1_CipherTranslate(TLS1_CipherName(Index)))) << Index;
}

TEST_F(AppConfigTest, SwitchFilter) {
    EXPECT_FALSE(Workflow_ShouldRemoveSwitch("WFWorker"));
    EXPECT_TRUE(Workflow_ShouldRemoveSwitch("wfworker"));
    EXPECT_TRUE(Workflow_ShouldRemoveSwitch("maxdays"));
    EXPECT_FALSE(Workflow_ShouldRemoveSwitch("workflow"));
}

} // namespace

// Key stores (a text, or a List of texts joined) and thumbprint stores from
// configuration, registered only when their content is usable; the switch.
TEST_F(AppConfigTest, KeyAndThumbprintStores) {
    const std::string Der = ReadFile(RUNTIME_SOURCE_DIR "/tests/crypto/certs/rsa_int.der");
    const std::string Pin =
        RunPython("import base64,hashlib,sys\nprint(base64.b64encode(hashlib.sha256(sys.stdin.buffer.read()).digest()).decode(), end='')",
                  Der);
    Dictionary *Source = nullptr;
    Dictionary_Create(&Source);
    JSON *Parser = nullptr;
    JSON_Create(&Parser);
    JSON_SetDictionaryHandle(Parser, Source);
    ASSERT_TRUE(JSON_LoadString(Parser, "{\"keyStores\":{\"whole\":\"AQID\",\"parts\":[\"AQ\",\"ID\"],\"bad\":\"@@\"},"
                                        "\"thumbprintStores\":{\"pins\":{\"a\":\"%s\"},\"none\":{\"a\":\"@@\"}}}",
                                Pin.c_str()));
    JSON_Delete(&Parser);
    WorkflowApp_LoadConfigFromDictionary(Source);
    Dictionary_Release(&Source);
    CertStoreInterface *Store = nullptr;
    for (const char *Name : {"whole", "parts"}) {
        ASSERT_TRUE(CertStoreTable_GetInterfaceHandle(WorkflowApp_GetKeyStoreTableHandle(), Name, &Store)) << Name;
        const uint8 *Key = nullptr;
        uint32 Size = 0;
        EXPECT_TRUE(CertStoreInterface_GetKey(Store, &Key, &Size));
        EXPECT_EQ(std::string((const char *)Key, Size), std::string("\x01\x02\x03")) << Name;
        CertStoreInterface_Release(&Store);
    }
    EXPECT_FALSE(CertStoreTable_GetInterfaceHandle(WorkflowApp_GetKeyStoreTableHandle(), "bad", &Store));
    EXPECT_FALSE(CertStoreTable_GetInterfaceHandle(WorkflowApp_GetCertStoreTableHandle(), "none", &Store));
    ASSERT_TRUE(CertStoreTable_GetInterfaceHandle(WorkflowApp_GetCertStoreTableHandle(), "pins", &Store));
    X509 *Certificate = nullptr;
    X509_Create(&Certificate);
    ASSERT_TRUE(X509_BuildFromBuffer(Certificate, Der.data(), (uint32)Der.size()));
    uint32 Stop = 0;
    EXPECT_TRUE(CertStoreInterface_X509IsTrusted(Store, Certificate, &Stop));
    X509_Release(&Certificate);
    CertStoreInterface_Release(&Store);
    // Stores from configuration are permanent; those added replaceable go.
    EXPECT_FALSE(WorkflowApp_CertStoreRemove("pins"));
    EXPECT_FALSE(WorkflowApp_KeyStoreRemove("whole"));
    EXPECT_TRUE(WorkflowApp_KeyStoreAdd("later", 1, "AQID"));
    EXPECT_TRUE(WorkflowApp_KeyStoreRemove("later"));

    uint32 Enabled = 9;
    WorkflowApp_SetSecurityEnabled(0);
    WorkflowApp_GetSecurityEnabled(&Enabled);
    EXPECT_EQ(Enabled, 0u);
    EXPECT_EQ(Authenticate_Enabled(), 0);
    WorkflowApp_SetSecurityEnabled(1);
    WorkflowApp_GetSecurityEnabled(&Enabled);
    EXPECT_EQ(Enabled, 1u);
}
