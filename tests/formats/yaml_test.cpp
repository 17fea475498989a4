// YAML reader and writer on their own: the shapes and types of the subset,
// error codes with their messages, lines and columns, the nesting and key
// limits, piece-by-piece reading at every split point, the writer's form and
// short writes failing the save.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "formats/yaml.h"
#include "tests/formats/yaml_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using yamltest::Canon;
using yamltest::Doc;
using YamlTest = RuntimeTest;

std::string S(const std::string &Text) { return "S" + ToHex(Text); }
std::string K(const std::string &Key) { return "K" + ToHex(Key) + "="; }

TEST_F(YamlTest, ShapesAndTypes) {
    struct Case {
        const char *Name;
        std::string Text;
        std::string Expected;
    };
    const Case Cases[] = {
        {"number", "a: 1\n", "{" + K("a") + "N1,}"},
        {"quoted number", "a: '1'\n", "{" + K("a") + S("1") + ",}"},
        {"boolean without case", "a: TRUE\nb: False\nc: NULL\n", "{" + K("a") + "T," + K("b") + "F," + K("c") + "Z,}"},
        {"flow words with case", "a: [TRUE, true, Null, null]\n",
         "{" + K("a") + "[" + S("TRUE") + ",T," + S("Null") + ",Z,],}"},
        {"last line without line end", "key: value", "{" + K("key") + S("value") + ",}"},
        {"sequence closed by key", "- x\n- y\nk: v\n", "[" + S("x") + "," + S("y") + ",]|{" + K("k") + S("v") + ",}"},
        {"anchor not interpreted", "a: &a x\nb: *a\n", "{" + K("a") + S("&a x") + "," + K("b") + S("*a") + ",}"},
        {"number forms", "a: [-1.5e3, 0x1F, 0o17, +5, -0x10]\nb: +5\nc: -0x10\nd: 0x\ne: .5\nf: 1.2.3\ng: ~\nh: yes\n",
         "{" + K("a") + "[N-1.5e3,N0x1F,N0o17," + S("+5") + "," + S("-0x10") + ",]," + K("b") + "N+5," + K("c") +
             "N-0x10," + K("d") + S("0x") + "," + K("e") + "N.5," + K("f") + S("1.2.3") + "," + K("g") + S("~") +
             "," + K("h") + S("yes") + ",}"},
        {"nested block",
         "app:\n  name: demo\n  list:\n    - 1\n    - two\n  deps:\n  - a\n  - b\n  next: x\nend: 1\n",
         "{" + K("app") + "{" + K("name") + S("demo") + "," + K("list") + "[N1," + S("two") + ",]," + K("deps") + "[" +
             S("a") + "," + S("b") + ",]," + K("next") + S("x") + ",}," + K("end") + "N1,}"},
        {"list of maps", "- name: a\n  value: 1\n- name: b\n-\n  c: 2\n",
         "[{" + K("name") + S("a") + "," + K("value") + "N1,},{" + K("name") + S("b") + ",},{" + K("c") + "N2,},]"},
        {"nested entries", "- - a\n  - b\n- c\n", "[[" + S("a") + "," + S("b") + ",]," + S("c") + ",]"},
        {"flow mapping", "a: {x: 1, 'y': [2, {z: 3}], w}\n",
         "{" + K("a") + "{" + K("x") + "N1," + K("y") + "[N2,{" + K("z") + "N3,},]," + K("w") + "Z,},}"},
        {"flow over lines", "a: [1,\n  2, # two\n  3]\nb: 4\n", "{" + K("a") + "[N1,N2,N3,]," + K("b") + "N4,}"},
        {"top-level flow", "[a, b]\n", "[" + S("a") + "," + S("b") + ",]"},
        {"comment ends plain", "a: x#y\nb: 'p # q' # c\n", "{" + K("a") + S("x") + "," + K("b") + S("p # q") + ",}"},
        {"folded plain", "a: one\n  two\n   three\nb: 1\n", "{" + K("a") + S("one two three") + "," + K("b") + "N1,}"},
        {"folded plain in flow", "a: [one\n    two, 3]\nb: {c: one\n two}\nd: [x\n  ]\n",
         "{" + K("a") + "[" + S("one two") + ",N3,]," + K("b") + "{" + K("c") + S("one two") + ",}," + K("d") + "[" +
             S("x") + ",],}"},
        {"folded quoted", "a: \"one\n   two\n\n  three \\\n  four\"\n", "{" + K("a") + S("one two\nthree four") + ",}"},
        {"single quotes", "a: 'it''s\n  here'\n", "{" + K("a") + S("it's here") + ",}"},
        {"escapes", "a: \"\\t\\n\\\\\\\"\\/\\0\\e\\N\\_\\L\\P\\x41\\u00e9\\U0001F600\\uD83D\\uDE00\\uD800x\"\n",
         "{" + K("a") +
             S(std::string("\t\n\\\"/") + '\0' +
               "\x1b\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9" "A\xC3\xA9\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xEF\xBF\xBDx") +
             ",}"},
        {"quoted keys", "\"a b\": 1\n'c:d': 2\n\"e\\tf\": 3\n",
         "{" + K("a b") + "N1," + K("c:d") + "N2," + K("e\tf") + "N3,}"},
        {"key without value", "a:\nb:\n  c:\nd: 1\n", "{" + K("a") + "Z," + K("b") + "{" + K("c") + "Z,}," + K("d") + "N1,}"},
        {"entry without value", "- \n- x\n-\n", "[Z," + S("x") + ",Z,]"},
        {"document start and comments", "# head\n---\n# c\na: 1 # note\n", "{" + K("a") + "N1,}"},
        {"comment at the end without line end", "a: 1\n# end", "{" + K("a") + "N1,}"},
        {"carriage returns", "a: 1\r\nb: 2\rc: 3\r\n", "{" + K("a") + "N1," + K("b") + "N2," + K("c") + "N3,}"},
        {"byte order mark", "\xEF\xBB\xBF" "a: 1\n", "{" + K("a") + "N1,}"},
        {"top-level scalar", "hello\nworld\n", S("hello world")},
        {"repeated keys", "a: 1\na: 2\n", "{" + K("a") + "N1," + K("a") + "N2,}"},
        {"reserved indicator skipped", "a: @x\n", "{" + K("a") + S("x") + ",}"},
        {"empty flow", "a: []\nb: {}\n", "{" + K("a") + "[]," + K("b") + "{},}"},
        {"quotes inside plain scalars", "a: x'y\nb: x\"\n- 'q'r\n",
         "{" + K("a") + S("x'y") + "," + K("b") + S("x\"") + "," + K("") + "[" + S("q") + ",],}"},
        {"tabs past the indentation", "a:\tb\nc: d\n  \te\n\t# note\n \t\nf: [1,\n\t2]\n",
         "{" + K("a") + S("b") + "," + K("c") + S("d e") + "," + K("f") + "[N1,N2,],}"},
        {"non-entry ends a sequence at its column", "a:\n- 1\nplain\n",
         "{" + K("a") + "[N1,]," + K("") + S("plain") + ",}"},
    };
    for (const Case &Each : Cases) {
        Doc Parsed;
        EXPECT_EQ(Parsed.Load(Each.Text), 1) << Each.Name;
        EXPECT_EQ(Parsed.Error(), YAML_ERROR_NONE) << Each.Name;
        EXPECT_EQ(Canon(Parsed.Dict), Each.Expected) << Each.Name;
    }
}

TEST_F(YamlTest, NumberTextsReadThroughTheGetters) {
    Doc Parsed;
    ASSERT_EQ(Parsed.Load("- +5\n- 0o17\n- -0x10\n- 0x1F\n- -0o17\n- -1.5e3\n- .5\n"), 1);
    const struct {
        int64 Whole;
        float64 Real;
    } Expected[] = {{5, 5}, {15, 15}, {-16, -16}, {31, 31}, {-15, -15}, {-1500, -1500}, {0, 0.5}};
    Dictionary *List = nullptr;
    DictionaryItem *Item = nullptr;
    ASSERT_TRUE(Dictionary_ItemGetFirst(Parsed.Dict, &Item));
    Dictionary_ItemGetDictionaryHandle(Parsed.Dict, Item, &List);
    ASSERT_TRUE(Dictionary_ItemGetFirst(List, &Item));
    for (const auto &Each : Expected) {
        int64 Whole = 0;
        float64 Real = 0;
        EXPECT_TRUE(Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_FLOAT64));
        Dictionary_ItemGetInt64(List, Item, &Whole);
        Dictionary_ItemGetFloat64(List, Item, &Real);
        EXPECT_EQ(Whole, Each.Whole);
        EXPECT_EQ(Real, Each.Real);
        Dictionary_ItemGetNext(List, Item, &Item);
    }
}

TEST_F(YamlTest, ErrorsCarryCodeMessageAndPosition) {
    Debug_PrintCallback(CaptureLog);
    struct Case {
        const char *Name;
        std::string Text;
        int32 Code;
        const char *Message;
    };
    const Case Cases[] = {
        {"empty", "", YAML_ERROR_EMPTY, ""},
        {"end marker", "a: 1\n...\nb: 2\n", YAML_ERROR_END_OF_DOCUMENT,
         "Document end marker (a file holds one document, read to its end) [@ 2:1]"},
        {"second document", "a: 1\n---\nb: 2\n", YAML_ERROR_END_OF_DOCUMENT,
         "Second document (a file holds one document) [@ 2:1]"},
        {"open flow", "a: [1, 2\n", YAML_ERROR_END_OF_STREAM, "Unexpected end of stream [2:1]"},
        {"open quote", "a: \"x\n", YAML_ERROR_END_OF_STREAM, "Unexpected end of stream [2:1]"},
        {"wrong bracket", "a: [1}\n", YAML_ERROR_FIELDTYPE, "Unknown field type [} @ 1:6]"},
        {"text after flow", "a: [1] x\n", YAML_ERROR_FIELDTYPE, "Unknown field type [x @ 1:8]"},
        {"deep flow", "a: " + std::string(40, '['), YAML_ERROR_FIELDTYPE,
         "Nesting limit exceeded (at most 31 levels) [[ @ 1:34]"},
        {"deep blocks", "- - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - - x\n", YAML_ERROR_DEPTH,
         "Nesting limit exceeded (at most 31 levels) [1:"},
        {"dash without blank", "a:\n-5\n", YAML_ERROR_FIELDTYPE,
         "Unexpected character parsing block sequence [5 @ 2:2]"},
        {"text after start marker", "--- x\n", YAML_ERROR_FIELDTYPE,
         "Unexpected character in document directive [x @ 1:5]"},
        {"key too long", "a:\n  " + std::string(319, 'k') + ": 1\n", YAML_ERROR_FIELDTYPE,
         "Map key exceeded length limit ["},
        // Longer than a Dictionary key, or with a NUL: refused, never cut.
        {"key past the Dictionary's", "a:\n  " + std::string(120, 'k') + ": 1\n", YAML_ERROR_FIELDTYPE,
         "Map key of 120 bytes exceeds the 119-byte key limit [@ 2:3]"},
        {"quoted key past it", "\"" + std::string(120, 'k') + "\": 1\n", YAML_ERROR_FIELDTYPE,
         "Map key of 120 bytes exceeds the 119-byte key limit [@ 1:1]"},
        {"flow key past it", "a: {" + std::string(120, 'k') + ": 1}\n", YAML_ERROR_FIELDTYPE,
         "Map key of 120 bytes exceeds the 119-byte key limit [@ 1:5]"},
        {"quoted key with a NUL", "\"a\\0b\": 1\n", YAML_ERROR_FIELDTYPE, "Map key holds a NUL [@ 1:1]"},
        {"flow key with a NUL", "{\"a\\0b\": 1}\n", YAML_ERROR_FIELDTYPE, "Map key holds a NUL [@ 1:2]"},
        {"bad escape", "a: \"x\\q\"\n", YAML_ERROR_ESCAPE, "Unexpected escape character in string [q @ 1:7]"},
        {"bad hex", "a: \"\\u12G4\"\n", YAML_ERROR_ESCAPE, "Unexpected Unicode hex characters [12G4 @ 1:7]"},
        {"cut hex", "a: \"\\x4", YAML_ERROR_ESCAPE, "Unexpected Unicode hex characters [4 @ 1:7]"},
        {"too large", "a: \"\\U00110000\"\n", YAML_ERROR_ESCAPE, "Unexpected Unicode character value [\\u110000 @ 1:7]"},
    };
    for (const Case &Each : Cases) {
        Doc Parsed;
        Captured.clear();
        EXPECT_EQ(Parsed.Load(Each.Text), 0) << Each.Name;
        EXPECT_EQ(Parsed.Error(), Each.Code) << Each.Name;
        EXPECT_NE(Captured.find(Each.Message), std::string::npos) << Each.Name << ": " << Captured;
    }
    // A long run of reserved indicators is passed over, not recursed into.
    std::string Reserved = "a: ";
    for (int32 i = 0; i < 200000; i++) Reserved += "@ ";
    Doc Indicators;
    Debug_PrintCallback(nullptr);
    EXPECT_EQ(Indicators.Load(Reserved + "x\n"), 1);
    EXPECT_EQ(Canon(Indicators.Dict), "{" + K("a") + S("x") + ",}");
    Debug_PrintCallback(CaptureLog);
    // Messages without a code do not stop the load.
    Doc Parsed;
    Captured.clear();
    EXPECT_EQ(Parsed.Load("a:\n  --x\nb: 2\n"), 1);
    EXPECT_NE(Captured.find("Unexpected character in document directive [x @ 2:5]"), std::string::npos) << Captured;
    EXPECT_EQ(Canon(Parsed.Dict), "{" + K("a") + "Z," + K("b") + "N2,}");
}

TEST_F(YamlTest, NestingAndKeyLimits) {
    // 31 levels of 119-byte keys (the longest a Dictionary keeps) load; each
    // item sits under its key.
    std::string Text;
    for (int32 Level = 0; Level < 31; Level++)
        Text += std::string((size_t)Level * 2, ' ') + std::string(119, (char)('a' + Level % 26)) + ":\n";
    Text += std::string(62, ' ') + "leaf\n";
    Doc Deep;
    ASSERT_EQ(Deep.Load(Text), 1) << Deep.Error();
    Dictionary *At = Deep.Dict;
    DictionaryItem *Item = nullptr;
    ASSERT_TRUE(Dictionary_ItemGetFirst(At, &Item));
    Dictionary_ItemGetDictionaryHandle(At, Item, &At);
    for (int32 Level = 0; Level < 31; Level++) {
        ASSERT_TRUE(Dictionary_ItemGetFirst(At, &Item)) << Level;
        const char *Key = nullptr;
        Dictionary_ItemGetKeyPtr(At, Item, &Key);
        EXPECT_EQ(std::string(Key), std::string(DICTIONARY_MAX_KEY_LENGTH, (char)('a' + Level % 26))) << Level;
        if (Level < 30) Dictionary_ItemGetDictionaryHandle(At, Item, &At);
    }
    const char *Leaf = nullptr;
    Dictionary_ItemGetStringPtr(At, Item, &Leaf);
    EXPECT_STREQ(Leaf, "leaf");

    // 40 block levels fail with the depth error, 40 brackets with 4.
    std::string Block, Brackets(40, '[');
    for (int32 Level = 0; Level < 40; Level++) Block += std::string((size_t)Level, ' ') + "k:\n";
    Block += std::string(40, ' ') + "v\n";
    Doc Blocks, Flows, Entries;
    EXPECT_EQ(Blocks.Load(Block), 0);
    EXPECT_EQ(Blocks.Error(), YAML_ERROR_DEPTH);
    EXPECT_EQ(Flows.Load(Brackets + std::string(40, ']') + "\n"), 0);
    EXPECT_EQ(Flows.Error(), YAML_ERROR_FIELDTYPE);
    std::string Dashes;
    for (int32 i = 0; i < 40; i++) Dashes += "- ";
    EXPECT_EQ(Entries.Load(Dashes + "x\n"), 0);
    EXPECT_EQ(Entries.Error(), YAML_ERROR_DEPTH);
    // A flow key of 319 bytes fails too.
    Doc FlowKey;
    EXPECT_EQ(FlowKey.Load("{" + std::string(319, 'k') + ": 1}\n"), 0);
    EXPECT_EQ(FlowKey.Error(), YAML_ERROR_FIELDTYPE);
}

TEST_F(YamlTest, PiecesGiveTheWholeResult) {
    const std::vector<std::string> Texts = {
        "app:\n  name: \"d\\u00e9mo\\\n  x\"\n  list: [1, 'two',\n   {a: b}]\n  - q\nplain: one\n  two\n# end",
        "- a\n- b: 'c''d'\n  e: \"f\n\n  g\"\n",
        "a: [1, 2\n",
        "x: \"\\q\"\n",
    };
    for (const std::string &Text : Texts) {
        Doc Whole;
        const int32 Loaded = Whole.Load(Text);
        const std::string Expected = Canon(Whole.Dict);
        for (size_t Split = 0; Split <= Text.size(); Split++) {
            Doc Pieces;
            YAML_Reset(Pieces.Yaml);
            int32 More = 1;
            const std::string Parts[] = {Text.substr(0, Split), Text.substr(Split), std::string()};
            for (int32 Part = 0; Part < 3 && More; Part++) {
                const std::string &Piece = Parts[Part];
                // An empty piece is the end of the input.
                if (Piece.empty() && Part < 2) continue;
                MemoryStream *Memory = nullptr;
                MemoryStream_Create(&Memory);
                if (!Piece.empty())
                    MemoryStream_SetPointer(Memory, const_cast<char *>(Piece.data()), (int32)Piece.size(),
                                            (int32)Piece.size());
                StreamStruct *Stream = nullptr;
                MemoryStream_GetStreamHandle(Memory, &Stream);
                int32 Count = 0;
                More = YAML_Scan(Pieces.Yaml, Stream, &Count);
                if (More) {
                    EXPECT_EQ(Count, (int32)Piece.size());
                }
                MemoryStream_Delete(&Memory);
            }
            EXPECT_EQ(More, 0);
            EXPECT_EQ(Pieces.Error(), Whole.Error()) << Split;
            EXPECT_EQ(Canon(Pieces.Dict), Expected) << Split;
        }
        (void)Loaded;
    }
}

TEST_F(YamlTest, WriterForm) {
    Doc Out;
    Dictionary *Root = nullptr, *List = nullptr, *Inner = nullptr;
    Dictionary_AddDictionary(Out.Dict, nullptr, &Root, nullptr);
    Dictionary_AddString(Root, "name", "x", nullptr);
    Dictionary_AddList(Root, "list", &List, nullptr);
    Dictionary_AddInt32(List, nullptr, 1, nullptr);
    Dictionary_AddInt32(List, nullptr, 2, nullptr);
    int32 Saved = 0;
    EXPECT_EQ(Out.Save(&Saved), "name: x\nlist:\n  - 1\n  - 2\n");
    EXPECT_EQ(Saved, 1);
    Dictionary_AddList(List, nullptr, &Inner, nullptr);
    Dictionary_AddString(Inner, nullptr, "it's", nullptr);
    Dictionary_AddString(Inner, nullptr, "", nullptr);
    Dictionary_AddDictionary(List, nullptr, &Inner, nullptr);
    Dictionary_AddNull(Inner, "n", nullptr);
    Dictionary_AddBoolean(Inner, "b", FALSE, nullptr);
    Dictionary_AddList(Inner, "e", nullptr, nullptr);
    Dictionary_AddDictionary(Inner, "f", nullptr, nullptr);
    Dictionary_AddFloat64(Inner, "nan", 0.0 / 0.0, nullptr);
    const std::string Text = Out.Save(&Saved);
    EXPECT_EQ(Text, "name: x\nlist:\n  - 1\n  - 2\n  -\n    - \"it's\"\n    - \"\"\n  -\n    n: null\n    b: false\n"
                    "    e: []\n    f: {}\n    nan: null\n");
    Doc Back;
    ASSERT_EQ(Back.Load(Text), 1);
    EXPECT_EQ(Canon(Back.Dict), "{" + K("name") + S("x") + "," + K("list") + "[N1,N2,[" + S("it's") + "," + S("") +
                                    ",],{" + K("n") + "Z," + K("b") + "F," + K("e") + "[]," + K("f") + "{}," +
                                    K("nan") + "Z,},],}");
    // Nothing to write fails.
    Doc Empty;
    EXPECT_EQ(Empty.Save(&Saved), "");
    EXPECT_EQ(Saved, 0);
}

// What the writer produces reads back to the same tree: collections
// without a key inside a mapping, and keys whose private mark the
// Dictionary took off.
TEST_F(YamlTest, WriterOutputReadsBackTheSame) {
    const struct {
        const char *Text, *Saved;
        bool PrivateKeys;
    } Cases[] = {
        {"- {[]}\n", "-\n  \"\": []\n", false},
        {"- {{}}\n", "-\n  \"\": {}\n", false},
        {":\n{[]}\n", nullptr, false},
        {"\".hidden\": 1\n'#tag': x\nplain: {\".inner\": 2}\n",
         "\".hidden\": 1\n\".tag\": x\nplain:\n  \".inner\": 2\n", true},
    };
    for (const auto &Each : Cases) {
        Doc First, Second;
        Dictionary_SetPrivateKeys(First.Dict, Each.PrivateKeys);
        Dictionary_SetPrivateKeys(Second.Dict, Each.PrivateKeys);
        ASSERT_EQ(First.Load(Each.Text), 1) << Each.Text;
        const std::string Saved = First.Save();
        if (Each.Saved != nullptr) {
            EXPECT_EQ(Saved, Each.Saved);
        }
        ASSERT_EQ(Second.Load(Saved), 1) << Saved;
        EXPECT_EQ(Canon(Second.Dict), Canon(First.Dict)) << Each.Text << "-> " << Saved;
        EXPECT_EQ(Second.Save(), Saved);
    }
}

TEST_F(YamlTest, ShortWritesFailTheSave) {
    Doc Out;
    ASSERT_EQ(Out.Load("a: 1\nb: [x, y]\n"), 1);
    const std::string Text = Out.Save();
    for (size_t Capacity : {Text.size() - 1, Text.size()}) {
        std::string Buffer(Capacity, '\0');
        int32 Written = 0;
        EXPECT_EQ(YAML_SaveBuffer(Out.Yaml, Buffer.data(), (int32)Capacity, &Written), Capacity == Text.size())
            << Capacity;
    }
    StreamStruct Refusing{};
    Refusing.Write = [](void *, const void *, uint32, uint32 *) -> int32 { return 0; };
    EXPECT_EQ(YAML_SaveStream(Out.Yaml, &Refusing), 0);
}

TEST_F(YamlTest, FilesLoad) {
    TempDirectory Folder;
    const std::string Path = Folder / "app.yaml";
    // Longer than the read buffer, so the document arrives in pieces.
    std::string Text = "app:\n";
    for (int32 i = 0; i < 500; i++) Text += "  key" + std::to_string(i) + ": \"value " + std::to_string(i) + "\"\n";
    std::ofstream(Path, std::ios::binary) << Text;
    Doc FromFile, FromBuffer;
    ASSERT_EQ(YAML_LoadFile(FromFile.Yaml, Path.c_str()), 1);
    ASSERT_EQ(FromBuffer.Load(Text), 1);
    EXPECT_EQ(Canon(FromFile.Dict), Canon(FromBuffer.Dict));
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    const std::string Missing = Folder / "missing.yaml";
    EXPECT_EQ(YAML_LoadFile(FromFile.Yaml, Missing.c_str()), 0);
    EXPECT_NE(Captured.find("Unable to open file (" + Missing + ")"), std::string::npos) << Captured;
    // A failed load leaves the Dictionary empty.
    int32 Count = -1;
    Dictionary_ItemGetCount(FromFile.Dict, &Count);
    EXPECT_EQ(Count, 0);
}

} // namespace
