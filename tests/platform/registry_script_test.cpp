// "TQX.Registry" end to end: created through the core family, called with
// JSON through the script bridge, its selectors checked against zlib.crc32,
// defaults on missing and mistyped parameters, and the store as plistlib
// reads it.
#include "platform/registry_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/preference_store.h"
#include "platform/registry.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/crc.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"
#include "tests/support/system.h"

namespace {

int32 PageExecute(void *, const char *, const char *, void *) { return TRUE; }

int Window = 0;

class RegistryScriptTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        StartBridge();
        Registry_Init();
        Registry_WhitelistAdd(1, "user/Software/Example");
        Interop_Add("host", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                    CoreInterop_SetOption);
        char Id[INTEROP_ID_SIZE] = "";
        ASSERT_TRUE(Interop_DispatchCreateInstance("TQX.Registry", Id, (int32)sizeof(Id), &Window, &Window,
                                                   PageExecute));
        Registry = Id;
    }
    void TearDown() override {
        Interop_RemoveInstancesActiveInRequester(nullptr);
        EndBridge();
        Registry_Remove();
        RuntimeTest::TearDown();
    }
    std::string Call(const std::string &Json) { return InvokeJson(Registry, Json); }
    std::string View() {
        struct stat Status;
        if (stat(PreferenceStore_UserPath().c_str(), &Status) != 0) return "none";
        return RunPython("import plistlib,sys\nprint(plistlib.load(open(sys.stdin.read(),'rb')))",
                         PreferenceStore_UserPath());
    }
    std::string Registry;
    TempDirectory Temp;
    ScopedEnv Config{"XDG_CONFIG_HOME", (Temp / "config").c_str()};
};

constexpr ScriptSelector Selectors[] = {
    {"keyExists", 0xdd35f2d5}, {"deleteKey", 0x2694a7c4}, {"deleteValue", 0xc492adf1}, {"getString", 0x76f7b418},
    {"getInt32", 0x176f146a},  {"getInt64", 0x837b451a},  {"getData", 0xab93f6b2},     {"setString", 0x87dba765},
    {"setInt32", 0xef9e2bbb},  {"setInt64", 0x7b8a7acb},  {"setData", 0x38024e6f},
};

const std::string Where = R"("view":"default","type":"user","key":"Software/Example")";
const std::string Write = R"("view":"default","security":"default","type":"user","key":"Software/Example")";

} // namespace

TEST_F(RegistryScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(RegistryScriptTest, ValuesRoundTripThroughThePage) {
    struct Case {
        std::string Request, Answer;
    };
    const Case Cases[] = {
        {R"({"method":"keyExists",)" + Where + "}", R"({"returnValue":false})"},
        {R"({"method":"getString",)" + Where + R"(,"name":"Name","defaultValue":"none"})", R"({"returnValue":"none"})"},
        {R"({"method":"getData",)" + Where + R"(,"name":"Blob","defaultValue":"eHl6"})", R"({"returnValue":null})"},
        {R"({"method":"getInt64",)" + Where + R"(,"name":"Big","defaultValue":-1})", R"({"returnValue":-1})"},
        {R"({"method":"setString",)" + Write + R"(,"name":"Name","value":"Ada \"L\" é"})", R"({"returnValue":true})"},
        {R"({"method":"setInt32",)" + Write + R"(,"name":"Count","value":-3})", R"({"returnValue":true})"},
        {R"({"method":"setInt64",)" + Write + R"(,"name":"Big","value":5000000000})", R"({"returnValue":true})"},
        {R"({"method":"setData",)" + Write + R"(,"name":"Blob","value":"AAH/"})", R"({"returnValue":true})"},
        {R"({"method":"keyExists",)" + Where + "}", R"({"returnValue":true})"},
        {R"({"method":"getString",)" + Where + R"(,"name":"Name","defaultValue":"none"})",
         R"({"returnValue":"Ada \"L\" \u00E9"})"},
        {R"({"method":"getString",)" + Where + R"(,"name":"Big","defaultValue":""})", R"({"returnValue":"5000000000"})"},
        {R"({"method":"getInt32",)" + Where + R"(,"name":"Count","defaultValue":0})", R"({"returnValue":-3})"},
        {R"({"method":"getInt32",)" + Where + R"(,"name":"Big","defaultValue":9})", R"({"returnValue":9})"},
        {R"({"method":"getInt64",)" + Where + R"(,"name":"Big","defaultValue":0})", R"({"returnValue":5000000000})"},
        {R"({"method":"getData",)" + Where + R"(,"name":"Blob","defaultValue":""})", R"({"returnValue":"AAH/"})"},
        {R"({"method":"keyExists","view":"default","type":"hive","key":"Software/Example"})",
         R"({"returnValue":false})"},
        {R"({"method":"setString","view":"default","security":"default","type":"user","key":"Software/Other",)"
         R"("name":"x","value":"y"})",
         R"({"returnValue":false})"},
        {R"({"method":"setString","view":"default","security":"default","type":"user",)"
         R"("key":"Outside/../Software/Example","name":"x","value":"y"})",
         R"({"returnValue":false})"},
    };
    for (const Case &Row : Cases) EXPECT_EQ(Call(Row.Request), Row.Answer) << Row.Request;
    EXPECT_EQ(View(), "{'Software': {'Example': {'Name': 'Ada \"L\" é', 'Count': -3, 'Big': 5000000000, "
                      "'Blob': b'\\x00\\x01\\xff'}}}\n");

    EXPECT_EQ(Call(R"({"method":"deleteValue",)" + Where + R"(,"name":"Name"})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"deleteValue",)" + Where + R"(,"name":"Name"})"), R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"deleteKey",)" + Where + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"keyExists",)" + Where + "}"), R"({"returnValue":false})");
    EXPECT_EQ(View(), "{'Software': {}}\n");
}

TEST_F(RegistryScriptTest, MissingMistypedAndUndecodableParameters) {
    // Through the bridge a failed read is no answer at all...
    EXPECT_EQ(Call(R"({"method":"setString","view":"default","type":"user","key":"Software/Example","name":"n",)"
                   R"("value":"v"})"),
              "");
    EXPECT_NE(Captured.find("Parameter missing (Registry.setString::security)"), std::string::npos) << Captured;
    EXPECT_EQ(View(), "none") << "nothing written";
    EXPECT_EQ(Call(R"({"method":"setInt32",)" + Write + R"(,"name":"n","value":"7"})"), "");
    EXPECT_NE(Captured.find("Incorrect parameter type (Registry.setInt32::value)"), std::string::npos) << Captured;
    EXPECT_EQ(Call(R"({"method":"setData",)" + Write + R"(,"name":"n","value":"@@@"})"), "");
    EXPECT_EQ(Call(R"({"method":"getData",)" + Where + R"(,"name":"n","defaultValue":"@@@"})"), "");
    EXPECT_EQ(Call(R"({"method":"noSuchMethod"})"), "");
    EXPECT_EQ(View(), "none");

    // ...while the dispatcher itself answers 0 with the method's default.
    struct Case {
        const char *Method;
        int32 Type;
    };
    for (const Case &Row : {Case{"keyExists", DICTIONARY_TYPE_BOOLEAN}, {"getString", DICTIONARY_TYPE_STRING},
                            {"getInt32", DICTIONARY_TYPE_INT64}, {"getInt64", DICTIONARY_TYPE_INT64},
                            {"getData", DICTIONARY_TYPE_NULL}, {"setData", DICTIONARY_TYPE_BOOLEAN}}) {
        Dictionary *Request = nullptr, *Result = nullptr;
        Dictionary_Create(&Request);
        Dictionary_Create(&Result);
        Dictionary_SetStringByKey(Request, "method", Row.Method);
        Dictionary_SetStringByKey(Request, "view", "default");
        EXPECT_EQ(Interop_DispatchInvoke(Registry.c_str(), Request, Result), 0) << Row.Method;
        int32 Type = -1;
        EXPECT_TRUE(Dictionary_GetTypeByKey(Result, "returnValue", &Type)) << Row.Method;
        EXPECT_EQ(Type, Row.Type) << Row.Method;
        char Text[64] = "x";
        int64 Number = -1;
        if (Type == DICTIONARY_TYPE_STRING) {
            Dictionary_GetStringByKey(Result, "returnValue", Text, sizeof(Text));
            EXPECT_STREQ(Text, "") << Row.Method;
        }
        if (Type == DICTIONARY_TYPE_INT64) {
            Dictionary_GetInt64ByKey(Result, "returnValue", &Number);
            EXPECT_EQ(Number, 0) << Row.Method;
        }
        uint32 Flag = 1;
        if (Type == DICTIONARY_TYPE_BOOLEAN) {
            Dictionary_GetBooleanByKey(Result, "returnValue", &Flag);
            EXPECT_EQ(Flag, 0u) << Row.Method;
        }
        Dictionary_Release(&Request);
        Dictionary_Release(&Result);
    }
}
