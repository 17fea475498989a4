// JSON reader and writer: the lenient grammar, error codes with their
// positions, the value callback and paths, the writer's forms, and the
// mended faults (closing bracket at depth 0, long keys, truncated input,
// bounded paths, short writes, NaN and Inf).
#include "runtime/documents/json.h"

#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/streams/null_stream.h"
#include "runtime/text/string_print.h"
#include "tests/runtime/documents/json_test_util.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using jsontest::Capture;
using jsontest::Doc;
using jsontest::Hex;

using JsonTest = RuntimeTest;

std::string S(const std::string &Text) { return "S" + Hex(Text.data(), Text.size()); }
std::string K(const std::string &Key) { return "K" + Hex(Key.data(), Key.size()) + "="; }

// ---- Lifecycle, options, error names ----

TEST_F(JsonTest, ErrorNamesAndUnknownCodes) {
    const char *Names[] = {"Unknown", "ZeroLength", "UnknownLength", "Type",   "FieldType",       "String",
                           "Integer", "Boolean",    "Null",          "DecodeSignature", "Authenticate", "Build"};
    for (int32 Code = 0; Code < 12; Code++) EXPECT_STREQ(JSON_TranslateError(Code), Names[Code]);
    EXPECT_STREQ(JSON_TranslateError(42), "Unknown");
    EXPECT_STREQ(JSON_TranslateError(-1), "Unknown");
}

TEST_F(JsonTest, DefaultsAndOptions) {
    JSON *Json = nullptr;
    ASSERT_EQ(JSON_Create(&Json), 1);
    int32 Value = -1;
    JSON_GetMinify(Json, &Value);
    EXPECT_EQ(Value, 1);
    JSON_GetPrivateKeys(Json, &Value);
    EXPECT_EQ(Value, 1);
    Dictionary *Dict = reinterpret_cast<Dictionary *>(1);
    EXPECT_EQ(JSON_GetDictionaryHandle(Json, &Dict), 0);
    EXPECT_EQ(Dict, nullptr);
    JSON_SetLastError(Json, 9);
    JSON_GetLastError(Json, &Value);
    EXPECT_EQ(Value, 9);
    char Id[64];
    EXPECT_EQ(JSON_GetInstanceId(Json, Id, (int32)sizeof(Id)), 1);
    EXPECT_EQ(JSON_AddRef(Json), Json);
    JSON *Second = Json;
    JSON_Release(&Second);
    JSON_Release(&Json);
    EXPECT_EQ(Json, nullptr);
}

TEST_F(JsonTest, HandleChecksAreFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(JSON_Reset(nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    Dictionary *Dict = nullptr;
    Dictionary_Create(&Dict);
    EXPECT_EXIT(JSON_Reset(reinterpret_cast<JSON *>(Dict)), ::testing::KilledBySignal(SIGILL), "Class mismatch");
    Dictionary_Release(&Dict);
}

// ---- Values and their items ----

TEST_F(JsonTest, StoresEveryKindUnderOneKeylessRoot) {
    Doc D;
    ASSERT_EQ(D.Load(R"({"s":"x","n":1E+5,"m":-0,"p":+1,"d":.5,"t":true,"f":false,"z":null,"a":[1,"2"],"o":{}})"),
              1);
    EXPECT_EQ(D.Canon(), "{" + K("s") + S("x") + "," + K("n") + "N1E+5," + K("m") + "N-0," + K("p") + "N+1," +
                             K("d") + "N.5," + K("t") + "T," + K("f") + "F," + K("z") + "Z," + K("a") + "[N1," +
                             S("2") + ",]," + K("o") + "{},}");
    DictionaryItem *Root = nullptr;
    ASSERT_EQ(Dictionary_ItemGetFirst(D.Dict, &Root), 1);
    const char *Key = nullptr;
    EXPECT_EQ(Dictionary_ItemGetKeyPtr(D.Dict, Root, &Key), 0);
    int32 Count = 0;
    Dictionary_ItemGetCount(D.Dict, &Count);
    EXPECT_EQ(Count, 1);
    Dictionary *Inner = nullptr;
    Dictionary_ItemGetDictionaryHandle(D.Dict, Root, &Inner);
    float64 Number = 0;
    EXPECT_EQ(Dictionary_GetFloat64ByKey(Inner, "p", &Number), 1);
    EXPECT_EQ(Number, 1.0);
    int64 Whole = 0;
    EXPECT_EQ(Dictionary_GetInt64ByKey(Inner, "n", &Whole), 1);
    EXPECT_EQ(Whole, 100000);
    const char *Text = nullptr;
    int32 Length = 0;
    EXPECT_EQ(Dictionary_GetBufferPtrByKey(Inner, "t", &Text, &Length), 1);
    EXPECT_EQ(std::string(Text, (size_t)Length), "true");
}

TEST_F(JsonTest, NumbersKeepTheirTextAndFollowTheStateMachine) {
    for (const char *Good : {"1e0", "2E00", "1e05", "-0", "+1", ".5", "-.5", "00", "1E+5", "-", "0.5e-3", "12"}) {
        Doc D;
        EXPECT_EQ(D.Load("[" + std::string(Good) + "]"), 1) << Good;
        EXPECT_EQ(D.Canon(), "[N" + std::string(Good) + ",]") << Good;
    }
    for (const char *Bad : {"01", "1.", "1.e5", "--1", "+.5", "1e", "1e+", "1.5.2", "1e5e2", "-e1", "0-1"}) {
        Doc D;
        EXPECT_EQ(D.Load("[" + std::string(Bad) + "]"), 0) << Bad;
        EXPECT_EQ(D.Error(), JSON_ERROR_INTEGER) << Bad;
    }
}

TEST_F(JsonTest, LiteralsAreComparedWithCase) {
    struct {
        const char *Text;
        int32 Code;
        const char *Canon;
    } Cases[] = {
        {"[true]", 0, "[T,]"},     {"[false]", 0, "[F,]"},   {"[null]", 0, "[Z,]"},
        {"[tru]", JSON_ERROR_BOOLEAN, ""}, {"[fals]", JSON_ERROR_BOOLEAN, ""}, {"[trUe]", JSON_ERROR_BOOLEAN, ""},
        {"[nul ]", JSON_ERROR_NULL, ""},   {"[nulL]", JSON_ERROR_NULL, ""},    {"[True]", JSON_ERROR_FIELDTYPE, ""},
        {"[truex]", JSON_ERROR_FIELDTYPE, ""},
    };
    for (const auto &Case : Cases) {
        Doc D;
        Capture Lines(D.Json);
        EXPECT_EQ(D.Load(Case.Text), Case.Code == 0) << Case.Text;
        EXPECT_EQ(D.Error(), Case.Code) << Case.Text;
        if (Case.Code == 0) {
            EXPECT_EQ(D.Canon(), Case.Canon);
        }
    }
    Doc D;
    Capture Lines(D.Json);
    D.Load("[nul ]");
    EXPECT_TRUE(Lines.Contains("Unexpected characters parsing null [nul @ 1:6]")) << Lines.All();
    D.Load("[tru]");
    EXPECT_TRUE(Lines.Contains("Unexpected characters parsing boolean [tru]  @ 1:6]")) << Lines.All();
}

TEST_F(JsonTest, StringEscapes) {
    struct {
        const char *Text;
        std::string Bytes;
    } Cases[] = {
        {R"(["\"\/\\\b\f\n\r\t"])", "\"/\\\b\f\n\r\t"},
        {R"(["\u00e9\u00E9"])", "\xC3\xA9\xC3\xA9"},
        {R"(["\u0041\u07FF\uFFFF"])", "A\xDF\xBF\xEF\xBF\xBF"},
        {R"(["a\u0000b"])", std::string("a\0b", 3)},
        // A surrogate pair becomes one 4-byte sequence; lone halves U+FFFD.
        {R"(["\uD83D\uDE00"])", "\xF0\x9F\x98\x80"},
        {R"(["\ud83d\ude00x"])", "\xF0\x9F\x98\x80x"},
        {R"(["\uD83D"])", "\xEF\xBF\xBD"},
        {R"(["\uDE00"])", "\xEF\xBF\xBD"},
        {R"(["\uD83Dx"])", "\xEF\xBF\xBDx"},
        {R"(["\uD83D\n"])", "\xEF\xBF\xBD\n"},
        {R"(["\uD83D\uD83D\uDE00"])", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {R"(["\uD83D\u0041"])", "\xEF\xBF\xBD" "A"},
        // Raw bytes, control characters and invalid UTF-8 pass unchanged.
        {"[\"\x01\t\n\xFF\xC3\xA9\"]", "\x01\t\n\xFF\xC3\xA9"},
    };
    for (const auto &Case : Cases) {
        Doc D;
        ASSERT_EQ(D.Load(Case.Text), 1) << Case.Text;
        EXPECT_EQ(D.Canon(), "[" + S(Case.Bytes) + ",]") << Case.Text;
    }
    Doc D;
    Capture Lines(D.Json);
    EXPECT_EQ(D.Load(R"(["a\x"])"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
    EXPECT_TRUE(Lines.Contains("Unexpected escape character in string [x @ 1:5]")) << Lines.All();
    EXPECT_EQ(D.Load(R"(["\u12G4"])"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
    EXPECT_TRUE(Lines.Contains("Unexpected unicode hex characters [12G4 @ 1:8]")) << Lines.All();
}

// A key is stored as the text after its last backslash (as the value path
// would give it), whether it was read in place, through escapes, or across
// pieces; keys without one are kept whole.
TEST_F(JsonTest, KeysAreStoredAfterTheirLastBackslash) {
    struct {
        const char *Text, *Key;
    } Cases[] = {
        {R"({"plain":1})", "plain"},
        {R"({"a\\b":1})", "b"},
        {R"({"a\\b\\cd":1})", "cd"},
        {R"({"end\\":1})", ""},
        {R"({"\u005c\u005cx":1})", "x"},
        {R"({"t\tab":1})", "t\tab"},
        {R"({12:1})", "12"},
    };
    for (const auto &Case : Cases) {
        for (size_t Split : {0, 4, 6}) {
            Doc D;
            const std::string Text = Case.Text;
            if (Split == 0) {
                ASSERT_EQ(D.Load(Case.Text), 1) << Case.Text;
            } else {
                // In two pieces through the incremental scan.
                D.Feed({Text.substr(0, Split), Text.substr(Split)});
                ASSERT_EQ(D.Error(), 0) << Case.Text;
            }
            EXPECT_EQ(D.Canon(), "{" + K(Case.Key) + "N1,}") << Case.Text << " split " << Split;
        }
    }
}

TEST_F(JsonTest, LenientStructure) {
    {
        Doc D;
        Capture Lines(D.Json);
        ASSERT_EQ(D.Load(R"({"a" "b"})"), 1);
        EXPECT_EQ(D.Canon(), "{" + K("a") + S("b") + ",}");
        EXPECT_FALSE(Lines.Contains("Comma expected"));
    }
    {
        Doc D;
        Capture Lines(D.Json);
        ASSERT_EQ(D.Load(R"({"a":1 "b":2})"), 1);
        EXPECT_EQ(D.Canon(), "{" + K("a") + "N1," + K("b") + "N2,}");
        EXPECT_TRUE(Lines.Contains("Comma expected [\" @ 1:8]")) << Lines.All();
    }
    {
        Doc D;
        Capture Lines(D.Json);
        ASSERT_EQ(D.Load("[1,2,]"), 1);
        EXPECT_EQ(D.Canon(), "[N1,N2,]");
        EXPECT_TRUE(Lines.Contains("Comma not expected [, @ 1:6]")) << Lines.All();
    }
    struct {
        std::string Text;
        std::string Canon;
    } Cases[] = {
        {R"({"a":1])", "{" + K("a") + "N1,}"},
        {"[1] trailing @@@", "[N1,]"},
        {"[1]]", "[N1,]"},
        {R"({1: 2})", "{" + K("1") + "N2,}"},
        {R"({"": 2})", "{" + K("") + "N2,}"},
        {R"({"a", "b": 1})", "{" + K("b") + "N1,}"},
        {R"({"k":1,"k":2})", "{" + K("k") + "N1," + K("k") + "N2,}"},
        {R"({"x\\y":1})", "{" + K("y") + "N1,}"},
        {std::string("\t\r\n\0 : [ : 1 : ] ", 17), "[N1,]"},
        {"[[1] [2]]", "[[N1,],[N2,],]"},
        {"  ", ""},
    };
    for (const auto &Case : Cases) {
        Doc D;
        EXPECT_EQ(D.Load(Case.Text), 1) << Case.Text;
        EXPECT_EQ(D.Canon(), Case.Canon) << Case.Text;
    }
}

TEST_F(JsonTest, RejectsWhatCannotStartAValue) {
    for (const char *Text : {"\xEF\xBB\xBF{}", "// c\n{}", "/* c */{}", "[1, @]", "{'a':1}", "[undefined]", "[NaN]",
                             "]", "}", "  ]", "\xC3\xA9"}) {
        Doc D;
        EXPECT_EQ(D.Load(Text), 0) << Text;
        EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE) << Text;
    }
    Doc D;
    Capture Lines(D.Json);
    D.Load("]");
    EXPECT_TRUE(Lines.Contains("Unknown field type [] @ 1:1]")) << Lines.All();
    EXPECT_EQ(D.Canon(), "");
}

TEST_F(JsonTest, ZeroLengthInput) {
    Doc D;
    EXPECT_EQ(D.Load(""), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_ZEROLENGTH);
    EXPECT_EQ(JSON_LoadBuffer(D.Json, nullptr, 0), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_ZEROLENGTH);
}

TEST_F(JsonTest, PositionsCountLineFeeds) {
    struct {
        const char *Text;
        int32 Code, Line, Column;
    } Cases[] = {
        {"{\n  \"a\": 1,\n  \"b\": @\n}", JSON_ERROR_FIELDTYPE, 3, 8},
        {"[\n\"multi\nline\", 01]", JSON_ERROR_INTEGER, 3, 9},
        {"\n\n\n    txyz]", JSON_ERROR_BOOLEAN, 4, 9},
        {"[\"\\q\"]", JSON_ERROR_STRING, 1, 4},
        {"\r\n[\r\n]]x]", 0, 0, 0},
    };
    for (const auto &Case : Cases) {
        Doc D;
        Capture Lines(D.Json);
        EXPECT_EQ(D.Load(Case.Text), Case.Code == 0) << Case.Text;
        EXPECT_EQ(D.Error(), Case.Code) << Case.Text;
        if (Case.Code == 0) continue;
        int32 Line = 0, Column = 0;
        ASSERT_TRUE(jsontest::LastPosition(Lines, &Line, &Column)) << Lines.All();
        EXPECT_EQ(Line, Case.Line) << Case.Text;
        EXPECT_EQ(Column, Case.Column) << Case.Text;
    }
}

// ---- Nesting ----

TEST_F(JsonTest, ThirtyOneContainersMayBeOpen) {
    Doc D;
    ASSERT_EQ(D.Load(std::string(31, '[') + "7" + std::string(31, ']')), 1);
    std::string Nested = std::string(31, '[') + "N7,";
    for (int32 i = 0; i < 30; i++) Nested += "],";
    EXPECT_EQ(D.Canon(), Nested + "]");
    Capture Lines(D.Json);
    EXPECT_EQ(D.Load(std::string(32, '[') + std::string(32, ']')), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE);
    EXPECT_TRUE(Lines.Contains("Nesting limit exceeded (at most 31 levels) [[ @ 1:32]")) << Lines.All();
    // The 32nd container's item was added before the failure.
    std::string Expected;
    for (int32 i = 0; i < 32; i++) Expected += "[";
    for (int32 i = 0; i < 32; i++) Expected += "],";
    Expected.pop_back();
    EXPECT_EQ(D.Canon(), Expected);
    EXPECT_EQ(D.Load(std::string(10000, '[')), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE);
    EXPECT_EQ(D.Load(std::string(10000, '{')), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE);
}

// ---- Keys ----

TEST_F(JsonTest, KeysOf318BytesLoadAnd319Fail) {
    Doc D;
    const std::string Key318(318, 'k');
    // Read without a Dictionary, a key may hold 318 bytes; a Dictionary
    // keeps 119, and a longer key (or one with a NUL) fails the load where
    // it stands rather than be cut into another key.
    JSON_SetDictionaryHandle(D.Json, nullptr);
    ASSERT_EQ(D.Load("{\"" + Key318 + "\":1}"), 1);
    JSON_SetDictionaryHandle(D.Json, D.Dict);
    ASSERT_EQ(D.Load("{\"" + Key318.substr(0, 119) + "\":1}"), 1);
    EXPECT_EQ(D.Canon(), "{" + K(Key318.substr(0, 119)) + "N1,}");
    {
        Capture Refused(D.Json);
        EXPECT_EQ(D.Load("{\"a\":{\"" + Key318.substr(0, 120) + "\":1}}"), 0);
        EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
        EXPECT_TRUE(Refused.Contains("Key of 120 bytes exceeds the 119-byte key limit [@ 1:129]")) << Refused.All();
        EXPECT_EQ(D.Load("{\"a\\u0000b\":1}"), 0);
        EXPECT_TRUE(Refused.Contains("Key holds a NUL [@ 1:12]")) << Refused.All();
    }
    // A private mark is not kept, so a marked key of 120 bytes fits (as the
    // writer gives back a private key of 119).
    ASSERT_EQ(D.Load("{\"." + Key318.substr(0, 119) + "\":1}"), 1);
    EXPECT_EQ(D.Save(), "{\"." + Key318.substr(0, 119) + "\":1}");
    Capture Lines(D.Json);
    EXPECT_EQ(D.Load("{\"" + std::string(319, 'k') + "\":1}"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
    EXPECT_TRUE(Lines.Contains("Key exceeds maximum length [319 @ 1:323]")) << Lines.All();
}

struct Seen {
    std::string Path;
    int32 Kind;
    std::string Text;
    int64 Position;
    int32 NodePosition, NodeSize;
};

int32 Record(JSON *, void *User, const char *Path, int32 Kind, const char *Text, int32 Length, int64 Position,
             int32 NodePosition, int32 NodeSize, int32 *) {
    static_cast<std::vector<Seen> *>(User)->push_back(
        {Path, Kind, std::string(Text, (size_t)Length), Position, NodePosition, NodeSize});
    return 1;
}

TEST_F(JsonTest, LongKeysKeepPathsBoundedAndItemsKeyed) {
    // 30 objects deep under 300-byte keys: a joined path would need 9,030 bytes.
    std::string Text, Close;
    std::vector<std::string> Keys;
    for (int32 Level = 0; Level < 30; Level++) {
        Keys.push_back(std::string(299, (char)('a' + Level % 26)) + (char)('A' + Level % 26));
        Text += "{\"" + Keys.back() + "\":";
        Close += "}";
    }
    Text = "{\"" + std::string(300, 'z') + "\":" + Text + "1" + Close + "}";
    Doc D;
    std::vector<Seen> Values;
    JSON_SetValueCallback(D.Json, &Values, Record);
    JSON_SetDictionaryHandle(D.Json, nullptr);
    ASSERT_EQ(D.Load(Text), 1);
    ASSERT_EQ(Values.size(), 32u);
    for (const Seen &Value : Values) EXPECT_LT(Value.Path.size(), (size_t)JSON_PATH_SIZE);
    EXPECT_EQ(Values[1].Path, std::string(300, 'z'));
    // Into a Dictionary, keys of 119 bytes: every item sits under its own key.
    for (std::string &Key : Keys) Key = Key.substr(181);
    Text = Close = "";
    for (const std::string &Key : Keys) {
        Text += "{\"" + Key + "\":";
        Close += "}";
    }
    Text = "{\"" + std::string(119, 'z') + "\":" + Text + "1" + Close + "}";
    JSON_SetValueCallback(D.Json, nullptr, nullptr);
    JSON_SetDictionaryHandle(D.Json, D.Dict);
    ASSERT_EQ(D.Load(Text), 1);
    Dictionary *Level = nullptr;
    DictionaryItem *Item = nullptr;
    Dictionary_ItemGetFirst(D.Dict, &Item);
    Dictionary_ItemGetDictionaryHandle(D.Dict, Item, &Level);
    std::vector<std::string> Expected = {std::string(119, 'z')};
    Expected.insert(Expected.end(), Keys.begin(), Keys.end());
    for (const std::string &Key : Expected) {
        ASSERT_EQ(Dictionary_ItemGetFirst(Level, &Item), 1);
        const char *Stored = nullptr;
        Dictionary_ItemGetKeyPtr(Level, Item, &Stored);
        EXPECT_EQ(std::string(Stored), Key);
        Dictionary *Next = nullptr;
        if (!Dictionary_ItemGetDictionaryHandle(Level, Item, &Next)) break;
        Level = Next;
    }
}

TEST_F(JsonTest, PrivateKeysFollowTheDictionary) {
    Doc D;
    ASSERT_EQ(D.Load(R"({".id":1,"#x":2,"y":3})"), 1);
    EXPECT_EQ(D.Save(), R"({".id":1,".x":2,"y":3})");
    JSON_SetPrivateKeys(D.Json, 0);
    EXPECT_EQ(D.Save(), R"({"id":1,"x":2,"y":3})");
    Dictionary_SetPrivateKeys(D.Dict, 0);
    JSON_SetPrivateKeys(D.Json, 1);
    ASSERT_EQ(D.Load(R"({".id":1})"), 1);
    EXPECT_EQ(D.Save(), R"({".id":1})");
}

// A load into a tree that somebody watches takes the Dictionary's steps one
// by one with their reports; an unwatched load stores each item at once.
// Both must build the same tree, private marks and the longest keys included, and
// the watched tree hears of every key and every value stored.
TEST_F(JsonTest, WatchedAndUnwatchedLoadsBuildTheSameTree) {
    struct Case {
        std::string Text;
        uint32 AllowDuplicates;
        int32 KeyReports, ValueReports;
    };
    const std::string LongKey(119, 'k');
    const std::vector<Case> Cases = {
        {R"({"a":1,"b":"x","c":"","d":true,"e":false,"f":null,"g":[1,{"h":2}],"i":{}})", 1, 9, 5},
        {R"({".p":1,"#q":[true],"r":"a string longer than the room inside an item"})", 1, 3, 3},
        {"{\"" + LongKey + "\":\"v\",\".\":0}", 1, 2, 2},
        {R"([1,-2.5e3,"3",null,[],{"":"e"}])", 1, 1, 4},
        {R"({"a":1,"a":"two","b":{"a":3}})", 0, 3, 3},
    };
    struct Counts {
        int32 Keys = 0, Values = 0;
    };
    for (const Case &Each : Cases) {
        SCOPED_TRACE(Each.Text);
        Doc Plain, Watched;
        Plain.Quiet();
        Watched.Quiet();
        Dictionary_SetAllowDuplicates(Plain.Dict, Each.AllowDuplicates);
        Dictionary_SetAllowDuplicates(Watched.Dict, Each.AllowDuplicates);
        Counts Heard;
        Dictionary_SetItemKeyChangeCallback(
            Watched.Dict, &Heard, [](Dictionary *, DictionaryItem *, void *User, const char *, const char *) {
                static_cast<Counts *>(User)->Keys++;
                return 1;
            });
        Dictionary_SetItemValueChangeCallback(
            Watched.Dict, &Heard, [](Dictionary *, DictionaryItem *, void *User, const char *, const char *, int32) {
                static_cast<Counts *>(User)->Values++;
                return 1;
            });
        ASSERT_EQ(Plain.Load(Each.Text), 1);
        ASSERT_EQ(Watched.Load(Each.Text), 1);
        EXPECT_EQ(Plain.Canon(), Watched.Canon());
        EXPECT_EQ(Plain.Save(), Watched.Save());
        EXPECT_EQ(Heard.Keys, Each.KeyReports);
        EXPECT_EQ(Heard.Values, Each.ValueReports);
    }
    // One byte more is refused by both, not cut.
    for (const bool Watch : {false, true}) {
        Doc Long;
        Long.Quiet();
        if (Watch)
            Dictionary_SetItemKeyChangeCallback(Long.Dict, nullptr,
                                                [](Dictionary *, DictionaryItem *, void *, const char *, const char *) {
                                                    return 1;
                                                });
        EXPECT_EQ(Long.Load("{\"" + LongKey + "k\":1}"), 0) << Watch;
    }
}

// ---- Value callback ----

TEST_F(JsonTest, CallbackSeesPathsKindsAndPositions) {
    JSON *Json = nullptr;
    JSON_Create(&Json);
    std::vector<Seen> Values;
    JSON_SetValueCallback(Json, &Values, Record);
    // No Dictionary attached: the callback alone sees the values.
    ASSERT_EQ(JSON_LoadString(Json, R"({"ab":"cd","list":[12,true],"o":{"in":null}})"), 1);
    struct {
        const char *Path;
        int32 Kind;
        const char *Text;
        int64 Position;
    } Expected[] = {
        {"", JSON_KIND_OBJECT, "", 0},           {"ab", JSON_KIND_STRING, "cd", 7},
        {"list", JSON_KIND_ARRAY, "", 18},      {"list\\0", JSON_KIND_NUMBER, "12", 19},
        {"list\\1", JSON_KIND_BOOLEAN, "true", 22}, {"o", JSON_KIND_OBJECT, "", 32},
        {"o\\in", JSON_KIND_NULL, "null", 38},
    };
    ASSERT_EQ(Values.size(), std::size(Expected));
    for (size_t i = 0; i < Values.size(); i++) {
        EXPECT_EQ(Values[i].Path, Expected[i].Path) << i;
        EXPECT_EQ(Values[i].Kind, Expected[i].Kind) << i;
        EXPECT_EQ(Values[i].Text, Expected[i].Text) << i;
        EXPECT_EQ(Values[i].Position, Expected[i].Position) << i;
        EXPECT_EQ(Values[i].NodePosition, (int32)Values[i].Text.size());
        EXPECT_EQ(Values[i].NodeSize, (int32)Values[i].Text.size());
    }
    char Key[16];
    EXPECT_EQ(JSON_GetKeyByDepth(Values[3].Path.c_str(), 0, Key, (int32)sizeof(Key)), 1);
    EXPECT_STREQ(Key, "list");
    EXPECT_EQ(JSON_GetKeyByDepth(Values[3].Path.c_str(), 1, Key, (int32)sizeof(Key)), 1);
    EXPECT_STREQ(Key, "0");
    EXPECT_EQ(JSON_GetKeyByDepth(Values[3].Path.c_str(), 2, Key, (int32)sizeof(Key)), 0);
    EXPECT_STREQ(Key, "");
    JSON_Release(&Json);
}

TEST_F(JsonTest, GetKeyByDepthCutsToTheBuffer) {
    char Out[4];
    EXPECT_EQ(JSON_GetKeyByDepth("alpha\\beta", 1, Out, (int32)sizeof(Out)), 1);
    EXPECT_STREQ(Out, "bet");
    EXPECT_EQ(JSON_GetKeyByDepth("", 0, Out, (int32)sizeof(Out)), 1);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(JSON_GetKeyByDepth("a\\\\c", 1, Out, (int32)sizeof(Out)), 1);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(JSON_GetKeyByDepth("a\\\\c", 2, Out, (int32)sizeof(Out)), 1);
    EXPECT_STREQ(Out, "c");
    EXPECT_EQ(JSON_GetKeyByDepth("a", -1, Out, (int32)sizeof(Out)), 0);
}

int32 RefuseSecond(JSON *, void *User, const char *, int32 Kind, const char *, int32, int64, int32, int32,
                   int32 *ErrorCode) {
    int32 &Count = *static_cast<int32 *>(User);
    if (Kind == JSON_KIND_NUMBER && ++Count == 2) {
        *ErrorCode = JSON_ERROR_AUTHENTICATE;
        return 0;
    }
    return 1;
}

int32 RefuseWithoutCode(JSON *, void *, const char *, int32, const char *, int32, int64, int32, int32, int32 *) {
    return 0;
}

TEST_F(JsonTest, RefusedValueEndsTheLoadWithItsCode) {
    Doc D;
    int32 Count = 0;
    JSON_SetValueCallback(D.Json, &Count, RefuseSecond);
    EXPECT_EQ(D.Load("[1,2,3]"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_AUTHENTICATE);
    // Items added before the refusal stay.
    EXPECT_EQ(D.Canon(), "[N1,]");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    JSON_SetValueCallback(D.Json, nullptr, RefuseWithoutCode);
    EXPECT_EXIT(D.Load("[1]"), ::testing::KilledBySignal(SIGILL),
                "Assertion failed \\(ErrorCode != 0\\)\nError code not set during json parsing");
}

// Callers' code runs inside a load (value callback, print callback); one
// that resets the object mid-load ends up with a consistent object, never
// with writes outside the level stack.
TEST_F(JsonTest, ResetFromInsideALoadLeavesAConsistentObject) {
    struct Reset {
        static int32 Value(JSON *Json, void *User, const char *, int32, const char *, int32, int64, int32, int32,
                           int32 *) {
            if (++*static_cast<int32 *>(User) == 3) JSON_Reset(Json);
            return 1;
        }
        static int32 Print(void *User, const char *, ...) {
            JSON_Reset(static_cast<JSON *>(User));
            return 1;
        }
    };
    for (const char *Text :
         {R"({"a":{"b":[1,{"c":2}],"d":3},"e":4})", R"([[["x",{"k":[1 2]}]]])", R"([[1,],{"a":1,}])"}) {
        Doc D;
        int32 Seen = 0;
        JSON_SetValueCallback(D.Json, &Seen, Reset::Value);
        D.Load(Text);
        EXPECT_GE(Seen, 3) << Text;
        Doc Printed;
        JSON_SetPrintCallback(Printed.Json, Printed.Json, Reset::Print);
        Printed.Load(Text);
        // Loads afterwards are whole again.
        JSON_SetValueCallback(D.Json, nullptr, nullptr);
        EXPECT_EQ(D.Load(R"({"z":[true]})"), 1);
        EXPECT_EQ(D.Canon(), "{K7a=[T,],}");
    }
}

// ---- Truncated input ----

// The whole-buffer load measures digit runs, decodes and completes short
// escaped texts and finds a key's end sixteen bytes at a time; fed one byte
// per piece, the same text goes through the per-character states, which must
// agree: runs around sixteen digits, a byte just outside '0'...'9' in every
// lane, texts with every kind of escape (and line feed) at either end around
// the staging buffer's 256 bytes and keys with a NUL in every place.
TEST_F(JsonTest, WholeBufferShortcutsAgreeWithTheCharacterStates) {
    std::vector<std::string> Texts;
    for (const size_t Run : {1, 15, 16, 17, 31, 32, 33}) {
        const std::string Digits = "1" + std::string(Run - 1, '7');
        Texts.push_back("[" + Digits + "]");
        Texts.push_back("[-0." + Digits + "e-" + Digits + ",2]");
        for (const char Stop : {'/', ':', 'x', '\x80', '.', 'e'})
            for (size_t Lane = 0; Lane < 17; Lane++) {
                std::string Number = "4" + std::string(Lane, '5') + Stop + "6";
                Texts.push_back("[" + Number + "]");
            }
    }
    // Every form a number's start may take, followed by few or many bytes.
    for (const char *Form : {"1.", "1.e5", "-", "-a", "01", "-01.5", "0.0e", "1e", "1e+", "1E-9", "-0", "0e0", "1.5e+7x"})
        for (const size_t Padding : {0, 20}) Texts.push_back("[" + std::string(Form) + std::string(Padding, ' ') + "]");
    for (size_t Lane = 0; Lane < 17; Lane++)
        for (const char *Mark : {"e", "e+", "."})
            Texts.push_back("[" + std::string(Lane + 1, '5') + Mark + std::string(20, ' ') + "]");
    for (const size_t Length : {0, 1, 250, 251, 252, 253, 254, 255, 256, 257, 300})
        for (const char *Escape : {"\\n", "\\u00e9", "\\\\", "\\u20ac", "\\uD83D\\uDE00", "\\uDE00", "\\uD800",
                                   "\n", "\\q", "\\u12G4", "\\u0000"})
            for (const bool Behind : {false, true}) {
                const std::string Filler(Length, 'a');
                const std::string Text = Behind ? Filler + Escape : Escape + Filler;
                Texts.push_back("[\"" + Text + "\"]");
                Texts.push_back(std::string("{\"kkk") + Escape + "\":\"" + Text + "\"}");
            }
    for (const std::string &Text : Texts) {
        Doc Whole, Bytes;
        Whole.Quiet();
        Bytes.Quiet();
        const int32 Loaded = Whole.Load(Text);
        std::vector<std::string> Pieces;
        for (const char Byte : Text) Pieces.emplace_back(1, Byte);
        Bytes.Feed(Pieces);
        EXPECT_EQ(Loaded, Bytes.Error() == 0) << Text;
        EXPECT_EQ(Whole.Error(), Bytes.Error()) << Text;
        if (Loaded) {
            EXPECT_EQ(Whole.Canon(), Bytes.Canon()) << Text;
        }
    }
    // A key with a NUL, escaped or raw, wherever it lies in a short or long
    // key, behind a backslash or not, is found by every path: into a
    // Dictionary it fails the load (cut there, two keys would be one).
    for (const size_t Length : {13, 17})
        for (size_t Nul = 0; Nul < Length; Nul++)
            for (const char *Prefix : {"", "x\\\\"})
                for (const std::string &Form : {std::string("\\u0000"), std::string(1, '\0')}) {
                    std::string Key = std::string(Prefix) + std::string(Length, 'k');
                    Key.replace(strlen(Prefix) + Nul, 1, Form);
                    Doc D;
                    D.Quiet();
                    EXPECT_EQ(D.Load("{\"" + Key + "\":1}"), 0) << Key;
                    EXPECT_EQ(D.Error(), JSON_ERROR_STRING) << Key;
                }
}

TEST_F(JsonTest, TruncatedDocumentsFail) {
    const std::string Sample = R"({"a":[1,-2.5e3,"x\u00e9\"y",true,false,null,{}],"b":{"c":[]}})";
    for (size_t Length = 1; Length < Sample.size(); Length++) {
        Doc D;
        EXPECT_EQ(D.Load(Sample.substr(0, Length)), 0) << Sample.substr(0, Length);
        EXPECT_NE(D.Error(), 0) << Sample.substr(0, Length);
    }
    Doc D;
    Capture Lines(D.Json);
    EXPECT_EQ(D.Load("{\"a\":[1"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_UNKNOWNLENGTH);
    EXPECT_TRUE(Lines.Contains("Unexpected end of input [@ 1:8]")) << Lines.All();
    EXPECT_EQ(D.Load(Sample), 1);
    // A top-level number or literal at the very end is complete.
    for (const char *Scalar : {"5", "-12.5e3", "true", "false", "null", "\"s\""}) {
        ASSERT_EQ(D.Load(Scalar), 1) << Scalar;
        EXPECT_NE(D.Canon(), "") << Scalar;
    }
    EXPECT_EQ(D.Canon(), S("s"));
    ASSERT_EQ(D.Load("5\n"), 1);
    EXPECT_EQ(D.Canon(), "N5");
    for (const char *Open : {"\"abc", "tru", "nul", "1e", "[", "{\"a\""}) {
        EXPECT_EQ(D.Load(Open), 0) << Open;
        EXPECT_NE(D.Error(), 0) << Open;
    }
}

// A whole-buffer load that reads every byte: blanks alone may follow the
// value, and a refusal says where the rest begins.
TEST_F(JsonTest, WholeLoadRefusesWhatFollowsTheValue) {
    const struct {
        const char *Text;
        int32 Loaded;
    } Cases[] = {{"{\"a\":1}", 1}, {"{\"a\":1} \t\r\n", 1}, {"5", 1}, {"5 ", 1},     {"[1]]", 0},
                 {"{\"a\":1}xx", 0}, {"{}{\"a\":1}", 0},  {"5 6", 0}, {"{}\n\u00a0", 0}, {"", 0}};
    for (const auto &Case : Cases) {
        Doc D;
        EXPECT_EQ(JSON_LoadBufferWhole(D.Json, Case.Text, (int32)strlen(Case.Text)), Case.Loaded) << Case.Text;
        EXPECT_EQ(D.Error() == 0, Case.Loaded == 1) << Case.Text;
    }
    Doc D;
    Capture Lines(D.Json);
    EXPECT_EQ(JSON_LoadBufferWhole(D.Json, "{}\n  x", 6), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_TYPE);
    EXPECT_TRUE(Lines.Contains("Unexpected characters after the document [@ 2:3]")) << Lines.All();
}

// ---- Pieces ----

TEST_F(JsonTest, ScanCarriesStateAcrossPieces) {
    Doc D;
    EXPECT_EQ(D.Feed({"{\"ke", "y\":[1", "2,\"a\\u00", "e9\\uD83D", "\\uDE00\"]", "}"}), 6u);
    EXPECT_EQ(D.Error(), 0);
    EXPECT_EQ(D.Canon(), "{" + K("key") + "[N12," + S("a\xC3\xA9\xF0\x9F\x98\x80") + ",],}");
    // The piece that completes the document ends the scan.
    EXPECT_EQ(D.Feed({"[1]", " [2]"}), 1u);
    EXPECT_EQ(D.Canon(), "[N1,]");
    // An empty piece fails with ZeroLength.
    EXPECT_EQ(D.Feed({"[1", ""}), 2u);
    EXPECT_EQ(D.Error(), JSON_ERROR_ZEROLENGTH);
    // After a failure nothing more is read until the next reset.
    EXPECT_EQ(D.Feed({"[\"\\u12G4", "5\"]"}), 1u);
    EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
    const std::string More = "\"]";
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    MemoryStream_SetPointer(Memory, const_cast<char *>(More.data()), 2, 2);
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    int32 Count = -1;
    EXPECT_EQ(JSON_Scan(D.Json, Stream, &Count), 0);
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_STRING);
    MemoryStream_Delete(&Memory);
}

TEST_F(JsonTest, ScanGivesBackWhatFollowsTheDocument) {
    Doc D;
    const std::string Text = "[1,[2]] tail";
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    MemoryStream_SetPointer(Memory, const_cast<char *>(Text.data()), (int32)Text.size(), (int32)Text.size());
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    JSON_Reset(D.Json);
    int32 Count = -1;
    EXPECT_EQ(JSON_Scan(D.Json, Stream, &Count), 0);
    EXPECT_EQ(Count, 7);
    int64 Position = -1;
    Stream_Tell(Stream, &Position);
    EXPECT_EQ(Position, 7);
    EXPECT_EQ(D.Error(), 0);
    // The same through JSON_LoadStream, and a parse error lands on the stream.
    Stream_Seek(Stream, 0, STREAM_SEEK_SET);
    EXPECT_EQ(JSON_LoadStream(D.Json, Stream), 1);
    Stream_Tell(Stream, &Position);
    EXPECT_EQ(Position, 7);
    const std::string Bad = "[1,x]";
    MemoryStream_SetPointer(Memory, const_cast<char *>(Bad.data()), (int32)Bad.size(), (int32)Bad.size());
    EXPECT_EQ(JSON_LoadStream(D.Json, Stream), 0);
    EXPECT_EQ(Stream_GetLastError(Stream), JSON_ERROR_FIELDTYPE);
    MemoryStream_Delete(&Memory);
}

TEST_F(JsonTest, BufferedLoadMatchesBufferLoad) {
    std::string Text = "{\"list\":[";
    for (int32 i = 0; i < 3000; i++) Text += (i ? "," : "") + std::to_string(i) + ",\"v" + std::to_string(i) + "\"";
    Text += "]}";
    Doc Plain, Buffered;
    ASSERT_EQ(Plain.Load(Text), 1);
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    MemoryStream_SetPointer(Memory, Text.data(), (int32)Text.size(), (int32)Text.size());
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    ASSERT_EQ(JSON_LoadStreamBuffered(Buffered.Json, Stream), 1);
    EXPECT_EQ(Buffered.Canon(), Plain.Canon());
    const std::string Bad = Text.substr(0, Text.size() - 1);
    MemoryStream_SetPointer(Memory, const_cast<char *>(Bad.data()), (int32)Bad.size(), (int32)Bad.size());
    EXPECT_EQ(JSON_LoadStreamBuffered(Buffered.Json, Stream), 0);
    EXPECT_EQ(Buffered.Error(), JSON_ERROR_UNKNOWNLENGTH);
    EXPECT_EQ(Stream_GetLastError(Stream), JSON_ERROR_UNKNOWNLENGTH);
    MemoryStream_Delete(&Memory);
}

TEST_F(JsonTest, LoadStringFormatsWithJsonEscapes) {
    Doc D;
    const std::string Value = "q\"b\\s/t\tc\x01\x1f\x7f e\xC3\xA9 g\xF0\x9F\x98\x80";
    ASSERT_EQ(JSON_LoadString(D.Json, "{\"k\":\"%js\",\"n\":%d}", Value.c_str(), 42), 1);
    EXPECT_EQ(D.Canon(), "{" + K("k") + S(Value) + "," + K("n") + "N42,}");
    // A failed load with an error code answers 0; each load empties the Dictionary.
    EXPECT_EQ(JSON_LoadString(D.Json, "[%s]", "x"), 0);
    EXPECT_EQ(D.Error(), JSON_ERROR_FIELDTYPE);
    ASSERT_EQ(JSON_LoadString(D.Json, "%d", 7), 1);
    EXPECT_EQ(D.Canon(), "N7");
}

TEST_F(JsonTest, ResetEmptiesTheDictionaryAndKeepsOptions) {
    Doc D;
    JSON_SetMinify(D.Json, 0);
    ASSERT_EQ(D.Load("[1]"), 1);
    JSON_Reset(D.Json);
    EXPECT_EQ(D.Canon(), "");
    EXPECT_EQ(D.Error(), 0);
    int32 Minify = 1;
    JSON_GetMinify(D.Json, &Minify);
    EXPECT_EQ(Minify, 0);
}

// ---- Writer ----

TEST_F(JsonTest, WriterForms) {
    Doc D;
    ASSERT_EQ(D.Load(R"({"a":[1]})"), 1);
    EXPECT_EQ(D.Save(), R"({"a":[1]})");
    JSON_SetMinify(D.Json, 0);
    EXPECT_EQ(D.Save(), "{\n    \"a\": [\n        1\n    ]\n}\n");
    ASSERT_EQ(D.Load(R"({"e":[],"o":{},"s":"x"})"), 1);
    EXPECT_EQ(D.Save(), "{\n    \"e\": [\n    ],\n    \"o\": {\n    },\n    \"s\": \"x\"\n}\n");
    JSON_SetMinify(D.Json, 1);
    EXPECT_EQ(D.Save(), R"({"e":[],"o":{},"s":"x"})");
    ASSERT_EQ(D.Load("{}"), 1);
    EXPECT_EQ(D.Save(), "{}");
    // The root's own items, without braces.
    Dictionary_Reset(D.Dict);
    Dictionary_AddInt32(D.Dict, "a", 1, nullptr);
    Dictionary_AddString(D.Dict, "b", "t", nullptr);
    EXPECT_EQ(D.Save(), R"("a":1,"b":"t")");
}

TEST_F(JsonTest, WriterMendsWhatJsonCannotCarry) {
    Doc D;
    Dictionary *List = nullptr;
    Dictionary_AddList(D.Dict, nullptr, &List, nullptr);
    Dictionary_AddFloat64(List, nullptr, NAN, nullptr);
    Dictionary_AddFloat64(List, nullptr, INFINITY, nullptr);
    Dictionary_AddFloat64(List, nullptr, -INFINITY, nullptr);
    Dictionary_AddFloat64(List, nullptr, 0.25, nullptr);
    DictionaryItem *Item = nullptr;
    for (const char *Text : {"+1", ".5", "-.5", "007", "1.", "-", "abc", "1e5", "1E+05"}) {
        Dictionary_Add(List, nullptr, &Item);
        Dictionary_ItemSetType(List, Item, DICTIONARY_TYPE_FLOAT64);
        Dictionary_ItemSetBuffer(List, Item, Text, (int32)strlen(Text));
    }
    Dictionary_Add(List, nullptr, &Item); // type Unknown
    Dictionary_AddString(List, "key in a list", "v", nullptr);
    Dictionary_AddString(List, nullptr, "", &Item);
    Dictionary_Add(List, nullptr, &Item);
    Dictionary_ItemSetType(List, Item, DICTIONARY_TYPE_STRING);
    Dictionary_ItemSetBuffer(List, Item, "a\0b", 3);
    EXPECT_EQ(D.Save(), R"([null,null,null,0.25,1,0.5,-0.5,7,1,null,null,1e5,1E+05,null,"v","","a\u0000b"])");
}

// A key of bytes that are not UTF-8 is written with each as U+FFFD; what the
// writer gives, the reader takes, with the key the Dictionary would keep.
TEST_F(JsonTest, KeysOfBytesThatAreNotUtf8ReadBack) {
    const std::string Replacement = "\xEF\xBF\xBD";
    struct Case {
        std::string Key, Expected;
    };
    std::string Mixed(60, 'a'), MixedBack(60, 'a');
    for (int I = 0; I < 40; I++) Mixed += '\xFF';
    for (int I = 0; I < 19; I++) MixedBack += Replacement;
    const Case Cases[] = {
        {std::string(107, '\xFF'), [&] {
             std::string Text;
             for (int I = 0; I < 39; I++) Text += Replacement;
             return Text;
         }()},
        {Mixed, MixedBack},
        {std::string(39, '\xFF') + "x", [&] {
             std::string Text;
             for (int I = 0; I < 39; I++) Text += Replacement;
             return Text + "x";
         }()},
        {std::string(119, 'k'), std::string(119, 'k')},
    };
    for (const Case &Each : Cases) {
        Doc Out, Back;
        Dictionary *Object = nullptr;
        Dictionary_AddDictionary(Out.Dict, nullptr, &Object, nullptr);
        Dictionary_AddString(Object, Each.Key.c_str(), "", nullptr);
        const std::string Text = Out.Save();
        ASSERT_EQ(Back.Load(Text), 1) << Text;
        EXPECT_EQ(Back.Canon(), "{" + K(Each.Expected) + S("") + ",}");
    }
}

// Texts are escaped as %js escapes them, NUL bytes as \u0000, whether the
// escaped form fits the writer's staging buffer or not.
TEST_F(JsonTest, WriterEscapesAsThePrintEngineDoes) {
    const std::string Mixed = std::string("plain \"quoted\" back\\slash \x01\x1f\x7f tab\t caf\xC3\xA9 ") +
                              "\xF0\x9F\x98\x80 bad\xC3 cut\xE2\x82" + std::string("\0nul\0", 5) + "\xED\xA0\x80 end";
    for (size_t Repeat : {1u, 2u, 300u}) {
        std::string Text;
        for (size_t i = 0; i < Repeat; i++) Text += Mixed;
        std::string Expected = "[\"";
        for (size_t Start = 0; Start <= Text.size();) {
            const size_t Nul = Text.find('\0', Start);
            const std::string Piece = Text.substr(Start, Nul == std::string::npos ? std::string::npos : Nul - Start);
            const int32 Length = String_GetPrintLength("%js", Piece.c_str());
            std::string Escaped((size_t)Length + 1, '\0');
            String_Print(Escaped.data(), Length + 1, "%js", Piece.c_str());
            Expected += Escaped.substr(0, (size_t)Length);
            if (Nul == std::string::npos) break;
            Expected += "\\u0000";
            Start = Nul + 1;
        }
        Expected += "\"]";
        Doc D;
        Dictionary *List = nullptr;
        Dictionary_AddList(D.Dict, nullptr, &List, nullptr);
        DictionaryItem *Item = nullptr;
        Dictionary_Add(List, nullptr, &Item);
        Dictionary_ItemSetType(List, Item, DICTIONARY_TYPE_STRING);
        Dictionary_ItemSetBuffer(List, Item, Text.data(), (int32)Text.size());
        EXPECT_EQ(D.Save(), Expected) << Repeat;
    }
}

// Short texts are looked at sixteen bytes at a time, past their end where
// that stays in the page: a special byte at any place of any short length is
// found, and bytes after the text never are.
TEST_F(JsonTest, WriterFindsSpecialBytesAtEveryPlaceOfShortTexts) {
    for (const char Special : {'"', '\\', '\x01', '\x7f', '\xC3'}) {
        for (int32 Length = 1; Length <= 33; Length++) {
            for (int32 At = -1; At < Length; At++) {
                std::string Text((size_t)Length, 'k');
                if (At >= 0) Text[(size_t)At] = Special;
                const int32 Escaped = String_GetPrintLength("%js", Text.c_str());
                std::string Expected((size_t)Escaped + 1, '\0');
                String_Print(Expected.data(), Escaped + 1, "%js", Text.c_str());
                Expected.resize((size_t)Escaped);
                Doc D;
                Dictionary_AddString(D.Dict, Text.c_str(), "\"", nullptr);
                EXPECT_EQ(D.Save(), "\"" + Expected + "\":\"\\\"\"") << Length << " " << At;
            }
        }
    }
}

// Escaped texts written straight into the staging buffer hand it on when
// their longest form might not fit: many of them make one whole document.
TEST_F(JsonTest, ManyEscapedTextsCrossTheStagingBuffer) {
    for (const std::string &Text : {std::string("q\"\x01\xC3\xA9"), std::string(600, '\n')}) {
        const int32 Escaped = String_GetPrintLength("%js", Text.c_str());
        std::string Form((size_t)Escaped + 1, '\0');
        String_Print(Form.data(), Escaped + 1, "%js", Text.c_str());
        Form.resize((size_t)Escaped);
        Doc D;
        Dictionary *List = nullptr;
        Dictionary_AddList(D.Dict, nullptr, &List, nullptr);
        std::string Expected = "[";
        for (int32 Index = 0; Index < 700; Index++) {
            Dictionary_AddString(List, nullptr, Text.c_str(), nullptr);
            Expected += (Index ? ",\"" : "\"") + Form + "\"";
        }
        EXPECT_EQ(D.Save(), Expected + "]");
    }
}

TEST_F(JsonTest, SavesFailWithoutItemsOrOnShortWrites) {
    Doc D;
    int32 Result = -1;
    EXPECT_EQ(D.Save(&Result), "");
    EXPECT_EQ(Result, 0);
    JSON *Bare = nullptr;
    JSON_Create(&Bare);
    int32 Written = -1;
    char Buffer[16];
    EXPECT_EQ(JSON_SaveBuffer(Bare, Buffer, (int32)sizeof(Buffer), &Written), 0);
    EXPECT_EQ(Written, 0);
    JSON_Release(&Bare);

    ASSERT_EQ(D.Load(R"({"name":"value","list":[1,2,3]})"), 1);
    int32 Size = 0;
    ASSERT_EQ(JSON_SaveBufferEstimate(D.Json, &Size), 1);
    ASSERT_EQ(Size, 31);
    std::string Exact((size_t)Size, '\0');
    EXPECT_EQ(JSON_SaveBuffer(D.Json, Exact.data(), Size, &Written), 1);
    EXPECT_EQ(Written, Size);
    EXPECT_EQ(Exact, R"({"name":"value","list":[1,2,3]})");
    EXPECT_EQ(JSON_SaveBuffer(D.Json, Exact.data(), Size - 1, &Written), 0);
    EXPECT_LE(Written, Size - 1);
    // A stream that takes nothing.
    StreamStruct Refusing = {};
    EXPECT_EQ(JSON_SaveStream(D.Json, &Refusing), 0);
}

TEST_F(JsonTest, LargeDocumentsSpanManyWrites) {
    std::string Text = "[";
    for (int32 i = 0; i < 5000; i++) Text += (i ? ",\"" : "\"") + std::string((size_t)(i % 37), 'x') + "\"";
    Text += "]";
    Doc D;
    ASSERT_EQ(D.Load(Text), 1);
    EXPECT_EQ(D.Save(), Text);
    NullStream *Counter = nullptr;
    NullStream_Create(&Counter);
    StreamStruct *Stream = nullptr;
    NullStream_GetStreamHandle(Counter, &Stream);
    EXPECT_EQ(JSON_SaveStream(D.Json, Stream), 1);
    EXPECT_EQ(NullStream_GetUsed(Counter), (int64)Text.size());
    NullStream_Delete(&Counter);
}

#if __has_include("runtime/files/file.h")
TEST_F(JsonTest, FilesLoadAndSaveWholeDocuments) {
    TempDirectory Temp;
    const std::string Path = Temp / "document.json";
    FILE *Old = fopen(Path.c_str(), "w");
    ASSERT_NE(Old, nullptr);
    fputs(std::string(10000, 'x').c_str(), Old);
    fclose(Old);
    Doc D;
    std::string Text = "{\"list\":[";
    for (int32 i = 0; i < 1000; i++) Text += (i ? "," : "") + std::to_string(i);
    Text += "]}";
    ASSERT_EQ(D.Load(Text), 1);
    ASSERT_EQ(JSON_SaveFile(D.Json, Path.c_str()), 1);
    // The file holds exactly the new text: the older, longer content is cut.
    FILE *Saved = fopen(Path.c_str(), "r");
    ASSERT_NE(Saved, nullptr);
    std::string Content(20000, '\0');
    Content.resize(fread(Content.data(), 1, Content.size(), Saved));
    fclose(Saved);
    EXPECT_EQ(Content, Text);
    Doc Loaded;
    ASSERT_EQ(JSON_LoadFile(Loaded.Json, Path.c_str()), 1);
    EXPECT_EQ(Loaded.Canon(), D.Canon());
    unlink(Path.c_str());
    Capture Lines(Loaded.Json);
    EXPECT_EQ(JSON_LoadFile(Loaded.Json, Path.c_str()), 0);
    EXPECT_TRUE(Lines.Contains("Unable to open file (" + Path + ")")) << Lines.All();
    EXPECT_EQ(JSON_SaveFile(D.Json, "/proc/no-such-dir/x.json"), 0);
}
#endif

} // namespace
