// INI documents: configparser reads the same sections, keys and values from
// generated files where the two agree on the form (no blanks around "=", no
// escapes, sections only) and reads our writer's output alike; our own reader
// reads our output back identically for text above U+FFFF, control
// characters, escapes, quotes, blanks and texts that look like numbers; the
// edge cases of the format; limits; and short writes failing the save.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/ini.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/memory_stream.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using IniTest = RuntimeTest;

struct Doc {
    Ini *Object = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        Ini_Create(&Object);
        Dictionary_Create(&Dict);
        Ini_SetDictionaryHandle(Object, Dict);
    }
    ~Doc() {
        Ini_SetDictionaryHandle(Object, nullptr);
        Ini_Delete(&Object);
        Dictionary_Release(&Dict);
    }
    int32 Load(const std::string &Text) {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        if (!Text.empty()) MemoryStream_SetPointer(Memory, const_cast<char *>(Text.data()), (int32)Text.size(), (int32)Text.size());
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        const int32 Result = Ini_LoadStream(Object, Stream);
        MemoryStream_Delete(&Memory);
        return Result;
    }
    std::string Save(int32 *Result = nullptr) {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, TRUE);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        const int32 Saved = Ini_SaveStream(Object, Stream);
        if (Result != nullptr) *Result = Saved;
        char *Data = nullptr;
        std::string Out;
        if (MemoryStream_GetUsed(Memory) > 0) {
            MemoryStream_GetPointer(Memory, &Data);
            Out.assign(Data, (size_t)MemoryStream_GetUsed(Memory));
            MemoryStream_ReleasePointer(Memory, &Data);
        }
        MemoryStream_Delete(&Memory);
        return Out;
    }
};

std::string Hex(const std::string &Text) { return ToHex(Text); }

// "key=hexvalue" per item, "[hexname]" before a section's items, "|" after
// each; the Python side writes the same from configparser.
std::string Canon(Dictionary *Dict, bool TopLevel = true) {
    std::string Out;
    DictionaryItem *Item = nullptr;
    for (int32 Have = Dictionary_ItemGetFirst(Dict, &Item); Have; Have = Dictionary_ItemGetNext(Dict, Item, &Item)) {
        const char *Key = nullptr;
        Dictionary_ItemGetKeyPtr(Dict, Item, &Key);
        if (Dictionary_ItemCompareType(Dict, Item, DICTIONARY_TYPE_DICTIONARY)) {
            if (!TopLevel) continue;
            Dictionary *Child = nullptr;
            Dictionary_ItemGetDictionaryHandle(Dict, Item, &Child);
            Out += "[" + Hex(Key) + "]" + Canon(Child, false);
            continue;
        }
        const char *Text = nullptr;
        int32 Length = 0;
        Dictionary_ItemGetBufferPtr(Dict, Item, &Text, &Length);
        Out += Hex(Key) + "=" + Hex(std::string(Text, (size_t)Length)) + "|";
    }
    return Out;
}

const char *Generator = R"PY(
import configparser, random, sys
rnd = random.Random(int(sys.argv[1]) if len(sys.argv) > 1 else 105)
def text(first):
    out = ''
    for i in range(rnd.randint(1, 12)):
        r = rnd.random()
        if r < 0.6: c = rnd.choice('abcXYZ019_-.,:"\'!?/{}()<>@ ')
        elif r < 0.8: c = chr(rnd.randint(0xA0, 0x2FF))
        elif r < 0.9: c = chr(rnd.randint(0x10000, 0x1F6FF))
        else: c = rnd.choice(['true', 'NULL', '0x1F', '-5', '1e9', ';', '='])
        out += c
    out = out.strip()
    # A first "." or "#" marks a private Dictionary key, which drops it.
    if not out or out[0] in '.#' or (first and out[0] in '[;'): out = 'k' + out
    return out
docs = []
for n in range(40):
    lines, seen_sections = [], set()
    for s in range(rnd.randint(1, 4)):
        name = text(False).replace(']', ')').replace('=', '-')
        while name in seen_sections: name += 's'
        seen_sections.add(name)
        lines.append('[' + name + ']')
        seen = set()
        for k in range(rnd.randint(0, 5)):
            key = text(True).replace('=', '-').replace(':', '-').lower()
            while key in seen: key += 'k'
            seen.add(key)
            lines.append(key + '=' + text(False))
            if rnd.random() < 0.2: lines.append(rnd.choice(['; a comment', '', ';x=y']))
    doc = rnd.choice(['\n', '\r\n']).join(lines) + rnd.choice(['', '\n'])
    cp = configparser.ConfigParser(interpolation=None, delimiters=('=',), comment_prefixes=(';',),
                                   strict=True, empty_lines_in_values=False)
    cp.optionxform = str
    cp.read_string(doc)
    canon = ''
    for sec in cp.sections():
        canon += '[' + sec.encode().hex() + ']'
        for k, v in cp[sec].items():
            canon += k.encode().hex() + '=' + v.encode().hex() + '|'
    print(doc.encode().hex(), canon or '-')
)PY";

TEST_F(IniTest, ReadsWhatConfigparserReads) {
    const std::string Output = RunPython(Generator);
    size_t Start = 0;
    int32 Count = 0;
    while (Start < Output.size()) {
        const size_t End = Output.find('\n', Start);
        const std::string Line = Output.substr(Start, End - Start);
        Start = End + 1;
        const size_t Blank = Line.find(' ');
        const std::string Text = FromHex(Line.substr(0, Blank));
        std::string Expected = Line.substr(Blank + 1);
        if (Expected == "-") Expected.clear();
        Doc Parsed;
        ASSERT_EQ(Parsed.Load(Text), 1) << Text;
        EXPECT_EQ(Canon(Parsed.Dict), Expected) << Text;
        Count++;
    }
    EXPECT_EQ(Count, 40);
}

TEST_F(IniTest, ConfigparserReadsOurOutput) {
    Doc Out;
    Dictionary *Section = nullptr;
    Dictionary_AddString(Out.Dict, "top", "level", nullptr);
    Dictionary_AddDictionary(Out.Dict, "main", &Section, nullptr);
    Dictionary_AddString(Section, "name", "Caf\xC3\xA9 \xF0\x9F\x98\x80", nullptr);
    Dictionary_AddString(Section, "quote", "say \"hi\" 'there'", nullptr);
    Dictionary_AddString(Section, "number", "0x1F", nullptr);
    Dictionary_AddString(Section, "colon", "a:b;c", nullptr);
    Dictionary_AddInt32(Section, "int", 42, nullptr);
    Dictionary_AddBoolean(Section, "flag", TRUE, nullptr);
    Dictionary_AddDictionary(Out.Dict, "second", &Section, nullptr);
    Dictionary_AddString(Section, "x", "y=z", nullptr);
    int32 Saved = 0;
    const std::string Text = Out.Save(&Saved);
    ASSERT_EQ(Saved, 1);
    const std::string Script = R"PY(
import configparser, sys
text = bytes.fromhex(sys.stdin.read()).decode()
cp = configparser.ConfigParser(interpolation=None, delimiters=('=',), comment_prefixes=(';',))
cp.optionxform = str
cp.read_string('[DEFAULT]\n' + text)
for sec in cp.sections():
    for k, v in cp.items(sec, raw=True):
        if k not in cp.defaults(): print(sec, k, v.encode().hex())
print('top', cp.defaults()['top'])
)PY";
    EXPECT_EQ(RunPython(Script, ToHex(Text)),
              "main name " + ToHex("Caf\xC3\xA9 \xF0\x9F\x98\x80") + "\nmain quote " + ToHex("say \"hi\" 'there'") +
                  "\nmain number " + ToHex("0x1F") + "\nmain colon " + ToHex("a:b;c") + "\nmain int " + ToHex("42") +
                  "\nmain flag " + ToHex("true") + "\nsecond x " + ToHex("y=z") + "\ntop level\n");
}

TEST_F(IniTest, OurOutputReadsBackIdentically) {
    std::mt19937 Random(3105);
    const std::vector<std::string> Pieces = {
        "a", " ", "\t", "\n", "\r", "\\", "\\n", ":", ";", "\"", "'", "=", "[", "]", "\x01", "\x7f", "\xC3\xA9",
        "\xF0\x9F\x98\x80", "true", "null", "123", "-0.5e3", "#", "\\\\:"};
    auto Text = [&](int32 Parts) {
        std::string Out;
        for (int32 i = 0; i < Parts; i++) Out += Pieces[Random() % Pieces.size()];
        return Out;
    };
    for (int32 Round = 0; Round < 200; Round++) {
        Doc Out;
        auto Fill = [&](Dictionary *Target) {
            for (int32 i = 0, n = (int32)(Random() % 5); i < n; i++) {
                std::string Key = "k" + Text((int32)(Random() % 4));
                for (char &c : Key)
                    if (c == '=') c = '-';
                const std::string Value = Text(1 + (int32)(Random() % 6));
                DictionaryItem *Item = nullptr;
                Dictionary_Add(Target, Key.c_str(), &Item);
                Dictionary_ItemSetType(Target, Item, DICTIONARY_TYPE_STRING);
                Dictionary_ItemSetBuffer(Target, Item, Value.data(), (int32)Value.size());
            }
        };
        Fill(Out.Dict);
        for (int32 s = 0, n = (int32)(Random() % 3); s < n; s++) {
            Dictionary *Section = nullptr;
            std::string Name = "s" + std::to_string(s) + Text(2);
            for (char &c : Name)
                if (c == ']') c = ')';
            Dictionary_AddDictionary(Out.Dict, Name.c_str(), &Section, nullptr);
            Fill(Section);
        }
        int32 Saved = 0;
        const std::string Text = Out.Save(&Saved);
        ASSERT_EQ(Saved, 1);
        Doc Back;
        ASSERT_EQ(Back.Load(Text), 1) << Text;
        EXPECT_EQ(Canon(Back.Dict), Canon(Out.Dict)) << Text;
    }
}

TEST_F(IniTest, EdgeCases) {
    struct Case {
        const char *Name;
        std::string Text;
        int32 Result;
        std::string Canonical;
    };
    const Case Cases[] = {
        {"blanks stay", "a = b", 1, Hex("a ") + "=" + Hex(" b") + "|"},
        {"escapes", "path=C\\:\\\\x", 1, Hex("path") + "=" + Hex("C:\\x") + "|"},
        {"other escape stays", "a=\\q\\n\\t\\r\\;", 1, Hex("a") + "=" + Hex("\\q\n\t\r;") + "|"},
        {"section twice", "[s]\nx=1\n[t]\ny=2\n[s]\nz=3\n", 1,
         "[" + Hex("s") + "]" + Hex("x") + "=" + Hex("1") + "|" + Hex("z") + "=" + Hex("3") + "|[" + Hex("t") +
             "]" + Hex("y") + "=" + Hex("2") + "|"},
        {"empty key or value skipped", "x=\n=y\n", 1, ""},
        {"value and section of one name", "t=v\n[t]\na=1\n[t]\nb=2\n", 1,
         Hex("t") + "=" + Hex("v") + "|[" + Hex("t") + "]" + Hex("a") + "=" + Hex("1") + "|" + Hex("b") + "=" +
             Hex("2") + "|"},
        {"comment", ";x=1\n\r\n\ra=1", 1, Hex("a") + "=" + Hex("1") + "|"},
        {"comment value kept", "a=;v", 1, Hex("a") + "=" + Hex(";v") + "|"},
        {"after bracket ignored", "[s] junk\nk=v", 1, "[" + Hex("s") + "]" + Hex("k") + "=" + Hex("v") + "|"},
        {"repeated keys", "a=1\na=2", 1, Hex("a") + "=" + Hex("1") + "|" + Hex("a") + "=" + Hex("2") + "|"},
        {"first equals splits", "a=b=c", 1, Hex("a") + "=" + Hex("b=c") + "|"},
        {"malformed section", "a=1\n[s\nb=2", 0, Hex("a") + "=" + Hex("1") + "|"},
        {"malformed pair", "a=1\njunk\nb=2", 0, Hex("a") + "=" + Hex("1") + "|"},
        {"empty input", "", 1, ""},
        {"trailing backslash", "a=b\\", 1, Hex("a") + "=" + Hex("b\\") + "|"},
    };
    for (const Case &Each : Cases) {
        Doc Parsed;
        EXPECT_EQ(Parsed.Load(Each.Text), Each.Result) << Each.Name;
        EXPECT_EQ(Canon(Parsed.Dict), Each.Canonical) << Each.Name;
    }
    // Writing the escaped value gives the escapes back.
    Doc Parsed;
    Parsed.Load("path=C\\:\\\\x\nnl=a\\nb");
    EXPECT_EQ(Parsed.Save(), "path=C:\\\\x\r\nnl=a\\nb\r\n\r\n");
}

TEST_F(IniTest, LineLimitAndMessages) {
    Debug_PrintCallback(CaptureLog);
    Doc Parsed;
    EXPECT_EQ(Parsed.Load("a=" + std::string(INI_MAX_LINE - 2, 'v')), 1);
    Captured.clear();
    EXPECT_EQ(Parsed.Load("\n\nb=1\nc=" + std::string(INI_MAX_LINE - 1, 'v')), 0);
    EXPECT_NE(Captured.find("Line too long [4098 @ Line 2]"), std::string::npos) << Captured;
    // Escapes count as the one character they give.
    EXPECT_EQ(Parsed.Load("d=\\n" + std::string(INI_MAX_LINE - 3, 'x')), 1);
    Captured.clear();
    EXPECT_EQ(Parsed.Load("x=1\nbad line"), 0);
    EXPECT_NE(Captured.find("Malformed key/value pair format [bad line @ Line 2]"), std::string::npos) << Captured;
    // Loading adds to what the Dictionary held.
    int32 Count = 0;
    Dictionary_ItemGetCount(Parsed.Dict, &Count);
    EXPECT_EQ(Count, 4);
    // A section or key name longer than a Dictionary key, or with a NUL,
    // fails the load rather than be cut into another name.
    const std::string Fits(119, 'k');
    const struct {
        std::string Text, Message;
    } Refused[] = {
        {"[s]\n" + Fits + "k=1\n", "Key of 120 bytes exceeds the 119-byte key limit [@ Line 2]"},
        {"[" + Fits + "s]\nk=1\n", "Key of 120 bytes exceeds the 119-byte key limit [@ Line 1]"},
        {std::string("k\0b=1\n", 6), "Key holds a NUL [@ Line 1]"},
        {std::string("[s\0t]\n", 7), "Key holds a NUL [@ Line 1]"},
    };
    for (const auto &Each : Refused) {
        Doc Long;
        Captured.clear();
        EXPECT_EQ(Long.Load(Each.Text), 0) << Each.Text;
        EXPECT_NE(Captured.find(Each.Message), std::string::npos) << Captured;
    }
    Doc Longest;
    EXPECT_EQ(Longest.Load("[" + Fits + "]\n" + Fits + "=1\n"), 1);
}

TEST_F(IniTest, ShortWritesFailTheSave) {
    Doc Out;
    Dictionary_AddString(Out.Dict, "key", "value", nullptr);
    const std::string Text = Out.Save();
    ASSERT_EQ(Text, "key=value\r\n\r\n");
    for (size_t Capacity : {Text.size() - 1, Text.size()}) {
        std::string Buffer(Capacity, '\0');
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetPointer(Memory, Buffer.data(), 0, (int32)Capacity);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        EXPECT_EQ(Ini_SaveStream(Out.Object, Stream), Capacity == Text.size() ? 1 : 0) << Capacity;
        MemoryStream_Delete(&Memory);
    }
    StreamStruct Refusing{};
    Refusing.Write = [](void *, const void *, uint32, uint32 *) -> int32 { return 0; };
    EXPECT_EQ(Ini_SaveStream(Out.Object, &Refusing), 0);
    // A line ending of the caller's choice.
    Ini_SetLineEnding(Out.Object, "\n");
    EXPECT_EQ(Out.Save(), "key=value\n\n");
}

int32 CollectLine(void *User, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    char Line[512];
    vsnprintf(Line, sizeof(Line), Format, Arguments);
    va_end(Arguments);
    *static_cast<std::string *>(User) += Line;
    return 1;
}

TEST_F(IniTest, DumpGoesThroughTheObjectsPrinter) {
    Doc Parsed;
    ASSERT_EQ(Parsed.Load("[server]\nport=8080\n"), 1);
    std::string Lines;
    Ini_SetPrintCallback(Parsed.Object, &Lines, CollectLine);
    EXPECT_EQ(Ini_Dump(Parsed.Object), 1);
    EXPECT_NE(Lines.find("port"), std::string::npos) << Lines;
    EXPECT_NE(Lines.find("8080"), std::string::npos) << Lines;
}

TEST_F(IniTest, DeleteEmptiesTheAttachedDictionary) {
    Dictionary *Dict = nullptr;
    Dictionary_Create(&Dict);
    Ini *Object = nullptr;
    Ini_Create(&Object);
    Ini_SetDictionaryHandle(Object, Dict);
    Dictionary_AddString(Dict, "a", "b", nullptr);
    Ini_Delete(&Object);
    EXPECT_EQ(Object, nullptr);
    int32 Count = -1;
    Dictionary_ItemGetCount(Dict, &Count);
    EXPECT_EQ(Count, 0);
    Dictionary_Release(&Dict);
    // Without a Dictionary a delete has nothing to empty.
    Ini_Create(&Object);
    Ini_Delete(&Object);
}

TEST_F(IniTest, FilesSaveCutAndLoad) {
    TempDirectory Folder;
    const std::string Path = Folder / "settings.ini";
    Doc Out;
    Dictionary *Section = nullptr;
    Dictionary_AddDictionary(Out.Dict, "s", &Section, nullptr);
    Dictionary_AddString(Section, "long", std::string(6000, 'x').c_str(), nullptr);
    ASSERT_EQ(Ini_SaveFile(Out.Object, Path.c_str()), 1);
    // A shorter save leaves nothing of the longer file behind.
    Dictionary_Reset(Out.Dict);
    Dictionary_AddString(Out.Dict, "k", "v", nullptr);
    ASSERT_EQ(Ini_SaveFile(Out.Object, Path.c_str()), 1);
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    EXPECT_EQ(Text.str(), "k=v\r\n\r\n");
    Doc Back;
    EXPECT_EQ(Ini_LoadFile(Back.Object, Path.c_str()), 1);
    EXPECT_EQ(Canon(Back.Dict), Canon(Out.Dict));
    // A save of no lines, and one that exactly fills the write buffer,
    // leave nothing pending at the end and still succeed.
    for (const size_t Size : {size_t(0), size_t(4090)}) {
        Dictionary_Reset(Out.Dict);
        if (Size != 0) Dictionary_AddString(Out.Dict, "k", std::string(Size, 'v').c_str(), nullptr);
        EXPECT_EQ(Ini_SaveFile(Out.Object, Path.c_str()), 1) << Size;
        EXPECT_EQ(std::filesystem::file_size(Path), Size == 0 ? 0 : Size + 6);
    }
    // A missing file or folder fails at once.
    EXPECT_EQ(Ini_LoadFile(Back.Object, (Folder / "missing.ini").c_str()), 0);
    Debug_PrintCallback(CaptureLog);
    Captured.clear();
    const std::string Blocked = Path + "/x.ini"; // below a file, not a folder
    EXPECT_EQ(Ini_SaveFile(Out.Object, Blocked.c_str()), 0);
    EXPECT_NE(Captured.find("Unable to open file (" + Blocked + ")"), std::string::npos) << Captured;
}

} // namespace
