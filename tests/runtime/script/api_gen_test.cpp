// Dispatcher conventions: the selector and the typed parameter getters with
// their log lines, the Base64 buffers (against Python's base64), and every
// method selector in the tree against Python's zlib.crc32.
#include "runtime/script/api_gen.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "runtime/documents/json.h"
#include "runtime/memory.h"
#include "runtime/text/crc.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

// Selectors of the system's script methods, as published for pages; the
// compile-time function must give the same numbers.
static_assert(Crc32Const("addObserver") == 0x2465756eu);
static_assert(Crc32Const("addInstanceObserver") == 0xa0a986bbu);
static_assert(Crc32Const("removeObserver") == 0x562fa096u);
static_assert(Crc32Const("removeInstanceObserver") == 0x580d3f03u);
static_assert(Crc32Const("fire") == 0x58de09cfu);
static_assert(Crc32Const("fireAfterDelay") == 0x9936d42fu);
static_assert(Crc32Const("addRefInteropReference") == 0x9bef5c22u);
static_assert(Crc32Const("releaseInteropReference") == 0x534c5815u);
static_assert(Crc32Const("fileExists") == 0x95883f2du);

class ApiGenTest : public RuntimeTest {
  protected:
    Dictionary *Request = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    void TearDown() override {
        if (Request != nullptr) Dictionary_Release(&Request);
        RuntimeTest::TearDown();
    }
    // The request as the bridge hands it over: parsed JSON plus the selector.
    void Load(const char *Json) {
        if (Request != nullptr) Dictionary_Release(&Request);
        Dictionary_Create(&Request);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Request);
        ASSERT_EQ(JSON_LoadBuffer(Reader, Json, (int32)strlen(Json)), 1) << Json;
        JSON_Delete(&Reader);
        Dictionary *Inner = nullptr;
        Dictionary_SkipRoot(Request, &Inner);
        // Work on a root of our own: copy the document's items.
        Dictionary *Root = nullptr;
        Dictionary_Create(&Root);
        Dictionary_Merge(Root, Inner, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_Release(&Request);
        Request = Root;
        const char *Method = nullptr;
        if (Dictionary_GetStringPtrByKey(Request, "method", &Method))
            Dictionary_SetInt32ByKey(Request, "#methodHash", (int32)CRC_Update(0, Method, (uint32)strlen(Method)));
    }
};

} // namespace

TEST_F(ApiGenTest, MethodAndSelector) {
    Load("{\"method\":\"fileExists\"}");
    const char *Method = nullptr;
    uint32 Hash = 0;
    ASSERT_TRUE(ApiGen_GetMethod(Request, "Path", &Method, &Hash));
    EXPECT_STREQ(Method, "fileExists");
    EXPECT_EQ(Hash, Crc32Const("fileExists"));

    Load("{\"other\":1}");
    EXPECT_FALSE(ApiGen_GetMethod(Request, "Path", &Method, &Hash));
    EXPECT_NE(Captured.find("ERROR - Class invoker unable to find method (Path)\n"), std::string::npos);
    Load("{\"method\":5}");
    EXPECT_FALSE(ApiGen_GetMethod(Request, "Pipe", &Method, &Hash));
    EXPECT_NE(Captured.find("Method type is not a string (Pipe)\n"), std::string::npos);
    Dictionary_RemoveByKey(Request, "methodHash");
    Dictionary_SetStringByKey(Request, "method", "run");
    EXPECT_FALSE(ApiGen_GetMethod(Request, "Process", &Method, &Hash));
    EXPECT_NE(Captured.find("Method lookup hash not found (Process.run)\n"), std::string::npos);
}

TEST_F(ApiGenTest, NumbersArriveAsFloat64) {
    Load("{\"method\":\"m\",\"n\":5,\"t\":\"5\",\"big\":1E3,\"wide\":1.7e12,\"neg\":-2.9,\"b\":true,\"one\":1}");
    int32 Small = 0;
    int64 Wide = 0;
    float64 Real = 0;
    EXPECT_TRUE(ApiGen_GetInt32(Request, "C", "m", "n", &Small));
    EXPECT_EQ(Small, 5);
    EXPECT_TRUE(ApiGen_GetInt64(Request, "C", "m", "n", &Wide));
    EXPECT_EQ(Wide, 5);
    EXPECT_TRUE(ApiGen_GetFloat64(Request, "C", "m", "n", &Real));
    EXPECT_EQ(Real, 5.0);
    EXPECT_TRUE(ApiGen_GetInt32(Request, "C", "m", "big", &Small));
    EXPECT_EQ(Small, 1000);
    EXPECT_TRUE(ApiGen_GetInt64(Request, "C", "m", "wide", &Wide));
    EXPECT_EQ(Wide, 1700000000000);
    // A fraction is refused, never cut to a number the page did not give.
    Captured.clear();
    EXPECT_FALSE(ApiGen_GetInt32(Request, "C", "m", "neg", &Small));
    EXPECT_EQ(Small, 0);
    EXPECT_NE(Captured.find("ERROR - Parameter not a whole number (C.m::neg)\n"), std::string::npos);
    EXPECT_FALSE(ApiGen_GetInt64(Request, "C", "m", "neg", &Wide));

    // Text is not a number, a Boolean is not a number, a number not a Boolean.
    Captured.clear();
    EXPECT_FALSE(ApiGen_GetInt32(Request, "C", "m", "t", &Small));
    EXPECT_EQ(Small, 0);
    EXPECT_NE(Captured.find("ERROR - Incorrect parameter type (C.m::t)\n"), std::string::npos);
    EXPECT_FALSE(ApiGen_GetInt64(Request, "C", "m", "b", &Wide));
    EXPECT_FALSE(ApiGen_GetFloat64(Request, "C", "m", "t", &Real));
    uint32 Flag = 7;
    EXPECT_FALSE(ApiGen_GetBoolean(Request, "C", "m", "one", &Flag));
    EXPECT_EQ(Flag, 0u);
    EXPECT_TRUE(ApiGen_GetBoolean(Request, "C", "m", "b", &Flag));
    EXPECT_EQ(Flag, 1u);
    EXPECT_FALSE(ApiGen_GetInt32(Request, "C", "m", "absent", &Small));
    EXPECT_NE(Captured.find("ERROR - Parameter missing (C.m::absent)\n"), std::string::npos);
}

// A number past the type's range is refused, never wrapped: a page's 2^32 must
// not arrive as 0, nor 2^31 as -2^31.
TEST_F(ApiGenTest, WholeNumbersPastTheirRangeAreRefused) {
    Load("{\"method\":\"m\",\"a\":2147483648,\"b\":4294967296,\"c\":-2147483649,\"d\":1e308,"
         "\"e\":-1e308,\"f\":9223372036854775808,\"g\":2147483647,\"h\":-2147483648}");
    struct Row {
        const char *Name;
        bool Fits32, Fits64;
        int64 Value; // when it fits
    };
    constexpr Row Rows[] = {{"a", false, true, 2147483648LL}, {"b", false, true, 4294967296LL},
                            {"c", false, true, -2147483649LL}, {"d", false, false, 0},
                            {"e", false, false, 0},           {"f", false, false, 0},
                            {"g", true, true, 2147483647},     {"h", true, true, -2147483648LL}};
    for (const Row &Each : Rows) {
        int32 Small = 7;
        int64 Wide = 7;
        Captured.clear();
        EXPECT_EQ(ApiGen_GetInt32(Request, "C", "m", Each.Name, &Small), Each.Fits32) << Each.Name;
        EXPECT_EQ(Small, Each.Fits32 ? Each.Value : 0) << Each.Name;
        if (!Each.Fits32) {
            EXPECT_NE(Captured.find(std::string("Parameter out of range (C.m::") + Each.Name + ")"), std::string::npos);
        }
        EXPECT_EQ(ApiGen_GetInt64(Request, "C", "m", Each.Name, &Wide), Each.Fits64) << Each.Name;
        EXPECT_EQ(Wide, Each.Fits64 ? Each.Value : 0) << Each.Name;
    }
}

TEST_F(ApiGenTest, TextsAndObjects) {
    Load("{\"method\":\"m\",\"s\":\"h\\u00e9llo\",\"o\":{\"k\":\"v\"},\"l\":[1]}");
    char Short[4];
    EXPECT_TRUE(ApiGen_GetString(Request, "C", "m", "s", Short, (int32)sizeof(Short)));
    EXPECT_STREQ(Short, "h\xc3\xa9");
    const char *Text = nullptr;
    EXPECT_TRUE(ApiGen_GetStringPtr(Request, "C", "m", "s", &Text));
    EXPECT_STREQ(Text, "h\xc3\xa9llo");
    Dictionary *Child = nullptr;
    EXPECT_TRUE(ApiGen_GetDictionary(Request, "C", "m", "o", &Child));
    const char *Value = nullptr;
    Dictionary_GetStringPtrByKey(Child, "k", &Value);
    EXPECT_STREQ(Value, "v");
    // An object is no text, a list no object.
    EXPECT_FALSE(ApiGen_GetStringPtr(Request, "C", "m", "o", &Text));
    EXPECT_EQ(Text, nullptr);
    EXPECT_FALSE(ApiGen_GetDictionary(Request, "C", "m", "l", &Child));
    EXPECT_EQ(Child, nullptr);
}

TEST_F(ApiGenTest, Base64DecodedBuffer) {
    uint8 *Buffer = nullptr;
    int32 Length = 0, Size = 0;
    ASSERT_TRUE(ApiGen_CreateBase64DecodedBuffer("AAEC", &Buffer, &Length, &Size));
    ASSERT_EQ(Length, 3);
    EXPECT_EQ(memcmp(Buffer, "\x00\x01\x02\x00", 4), 0);
    EXPECT_EQ(Size, 4 / 4 * 3 + 10 + 1);
    ApiGen_DeleteBase64DecodedBuffer(&Buffer, &Size);
    EXPECT_EQ(Buffer, nullptr);
    EXPECT_EQ(Size, 0);
    EXPECT_TRUE(ApiGen_DeleteBase64DecodedBuffer(&Buffer, &Size));

    EXPECT_FALSE(ApiGen_CreateBase64DecodedBuffer("AA*C", &Buffer, &Length, &Size));
    ApiGen_DeleteBase64DecodedBuffer(&Buffer, &Size);
}

TEST_F(ApiGenTest, Base64BuffersMatchPython) {
    std::mt19937 Random(141);
    std::string Lines;
    std::vector<std::string> Inputs;
    for (int Length = 0; Length <= 64; Length++) {
        std::string Bytes;
        for (int Index = 0; Index < Length; Index++) Bytes.push_back((char)(Random() & 0xFF));
        Inputs.push_back(Bytes);
        Lines += ToHex(Bytes) + "\n";
    }
    std::string Expected = RunPython("import base64,sys\nfor l in sys.stdin.read().split('\\n')[:-1]:\n"
                                     "    print(base64.b64encode(bytes.fromhex(l)).decode())",
                                     Lines);
    std::istringstream Reference(Expected);
    for (const std::string &Bytes : Inputs) {
        std::string Encoded;
        std::getline(Reference, Encoded);
        char *Text = nullptr;
        int32 Size = 0;
        int32 Made = ApiGen_CreateBase64EncodedBuffer(Bytes.data(), (int32)Bytes.size(), &Text, &Size);
        if (Bytes.empty()) {
            EXPECT_EQ(Made, 0);
            EXPECT_EQ(Text, nullptr);
            continue;
        }
        ASSERT_EQ(Made, 1);
        EXPECT_EQ(std::string(Text), Encoded);
        uint8 *Decoded = nullptr;
        int32 Length = 0, DecodedSize = 0;
        EXPECT_EQ(ApiGen_CreateBase64DecodedBuffer(Text, &Decoded, &Length, &DecodedSize), 1);
        EXPECT_EQ(std::string((const char *)Decoded, (size_t)Length), Bytes);
        EXPECT_EQ(Decoded[Length], 0);
        ApiGen_DeleteBase64DecodedBuffer(&Decoded, &DecodedSize);
        ApiGen_DeleteBase64EncodedBuffer(&Text, &Size);
        EXPECT_EQ(Text, nullptr);
    }
    char *Text = nullptr;
    int32 Size = 0;
    EXPECT_EQ(ApiGen_CreateBase64EncodedBuffer(nullptr, 5, &Text, &Size), 0);
    EXPECT_EQ(Text, nullptr);
}

TEST(ApiGenDeathTest, NullOutputsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Dictionary *Request = nullptr;
            Dictionary_Create(&Request);
            ApiGen_GetInt32(Request, "C", "m", "p", nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            ApiGen_CreateBase64DecodedBuffer("AAEC", nullptr, nullptr, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

// Every selector written in the tree (Crc32Const("name")) against zlib, and
// no hand-typed selector in a dispatcher.
TEST(MethodSelectors, EveryConstantInTheTreeIsTheZlibCrcOfItsName) {
    namespace fs = std::filesystem;
    const std::regex Selector("Crc32Const\\(\"([^\"\\\\]*)\"\\)");
    const std::regex HandTyped("case\\s+0x[0-9a-fA-F]+u?\\s*:");
    std::map<std::string, uint32> Names;
    size_t Dispatchers = 0;
    for (const char *Folder : {"runtime", "crypto", "platform", "formats", "content", "net", "workflow", "host",
                               "tests", "bench", "fuzz"}) {
        fs::path Root = fs::path(RUNTIME_SOURCE_DIR) / Folder;
        ASSERT_TRUE(fs::exists(Root)) << Root;
        for (const auto &Entry : fs::recursive_directory_iterator(Root)) {
            std::string Extension = Entry.path().extension().string();
            if (!Entry.is_regular_file() || (Extension != ".cpp" && Extension != ".h")) continue;
            std::ifstream File(Entry.path());
            std::stringstream Content;
            Content << File.rdbuf();
            std::string Text = Content.str();
            for (std::sregex_iterator It(Text.begin(), Text.end(), Selector), End; It != End; ++It)
                Names[(*It)[1].str()] = Crc32Const((*It)[1].str());
            if (Text.find("ApiGen_GetMethod(") != std::string::npos && Entry.path().filename() != "api_gen.cpp") {
                Dispatchers++;
                EXPECT_FALSE(std::regex_search(Text, HandTyped)) << Entry.path();
            }
        }
    }
    ASSERT_GE(Names.size(), 8u);
    EXPECT_GE(Dispatchers, 2u);
    std::string Input, Ours;
    for (const auto &[Name, Value] : Names) {
        Input += Name + "\n";
        char Line[16];
        snprintf(Line, sizeof(Line), "%u\n", Value);
        Ours += Line;
    }
    EXPECT_EQ(RunPython("import sys,zlib\nfor n in sys.stdin.read().split('\\n')[:-1]:\n"
                        "    print(zlib.crc32(n.encode()))",
                        Input),
              Ours)
        << Input;
}
