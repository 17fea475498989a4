// YAML against PyYAML both ways, on adversarial strings (quotes, blanks at
// either end, control characters, text above U+FFFF, indicators, words and
// numbers that other types would claim) as values, list items and keys:
//   - our writer's output loads in yaml.safe_load to the same tree, and in
//     our reader too;
//   - yaml.safe_dump in plain, double- and single-quoted, ASCII-only, wrapped
//     and flow styles loads in our reader to the tree PyYAML reads.
// The tree is compared as canonical text (tests/formats/yaml_test_util.h).
// Plain scalars holding "#" are left out of the second direction: this
// reader ends a plain scalar at any "#", where YAML needs a blank before it.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "formats/yaml.h"
#include "tests/formats/yaml_test_util.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using yamltest::Canon;
using yamltest::Doc;
using YamlPythonTest = RuntimeTest;

const std::vector<std::string> Adversarial = {
    "", " ", "a ", " a", "\t", "x\ty", "line\nbreak", "\r", std::string("nul\0byte", 8), "\x01\x1f\x7f",
    "\"q\"", "it's", "'", "a # b", "a#b", "#x", "x: y", "x:", ":x", "x:y", "- x", "-x", "-", "? x", "?", "[a]",
    "{a}", "a, b", "]", "&a", "*a", "!tag", "|", ">", "%x", "@x", "`x`", "true", "True", "FALSE", "null", "Null",
    "~", "yes", "No", "on", "OFF", "123", "-5", "+5", "1.5", ".5", "1e3", "0x1F", "0o17", "1_000", "2001-12-14",
    "12:30", "=", "<<", "...", "---", "Caf\xC3\xA9", "\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80" "b", "\xC2\x85",
    "\xE2\x80\xA8", "\xEF\xBB\xBF", "\xC2\x80", "back\\slash", "\\", "a\\nb", "  both  ", "x\n", "\ny",
    "a  b", "a\xC2\xA0" "b", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "tab\t", "k=v", "a,b", "a]b", "a}b",
    std::string(150, 'w') + " " + std::string(150, 'z')};

std::vector<std::string> RandomStrings(int32 Count, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::vector<std::string> Out;
    for (int32 i = 0; i < Count; i++) {
        std::string Text;
        for (int32 Parts = 1 + (int32)(Random() % 4); Parts > 0; Parts--) Text += Adversarial[Random() % Adversarial.size()];
        Out.push_back(Text);
    }
    return Out;
}

void AddString(Dictionary *Target, const char *Key, const std::string &Text) {
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Target, Key, &Item);
    Dictionary_ItemSetType(Target, Item, DICTIONARY_TYPE_STRING);
    Dictionary_ItemSetBuffer(Target, Item, Text.data(), (int32)Text.size());
}

std::string Load = std::string(yamltest::PythonCanon) + R"PY(
import sys, yaml
for line in sys.stdin.read().split():
    print(canon(yaml.safe_load(bytes.fromhex(line).decode('utf-8'))))
)PY";

TEST_F(YamlPythonTest, PyYamlReadsOurOutput) {
    std::vector<std::string> Strings = Adversarial;
    for (const std::string &Text : RandomStrings(300, 3103)) Strings.push_back(Text);
    // Each document: a mapping of k<i> to a string, a list of all strings,
    // strings as keys (the Dictionary keeps keys up to 119 bytes, without
    // NUL bytes), and a nested mapping inside the list.
    std::vector<std::string> Texts, Expected;
    for (size_t Start = 0; Start < Strings.size(); Start += 40) {
        Doc Out;
        Dictionary *Root = nullptr, *List = nullptr, *Keys = nullptr, *Nested = nullptr;
        Dictionary_AddDictionary(Out.Dict, nullptr, &Root, nullptr);
        Dictionary_AddList(Root, "list", &List, nullptr);
        Dictionary_AddDictionary(Root, "keys", &Keys, nullptr);
        for (size_t i = Start; i < Strings.size() && i < Start + 40; i++) {
            const std::string &Text = Strings[i];
            AddString(Root, ("k" + std::to_string(i)).c_str(), Text);
            AddString(List, nullptr, Text);
            if (!Text.empty() && Text.size() <= DICTIONARY_MAX_KEY_LENGTH && Text.find('\0') == std::string::npos)
                AddString(Keys, Text.c_str(), "v" + std::to_string(i));
        }
        Dictionary_AddDictionary(List, nullptr, &Nested, nullptr);
        AddString(Nested, "inner", Strings[Start]);
        int32 Saved = 0;
        const std::string Text = Out.Save(&Saved);
        ASSERT_EQ(Saved, 1);
        const std::string Tree = Canon(Out.Dict);
        Doc Back;
        ASSERT_EQ(Back.Load(Text), 1) << Text;
        EXPECT_EQ(Canon(Back.Dict), Tree) << Text;
        Texts.push_back(Text);
        Expected.push_back(Tree);
    }
    std::string Input;
    for (const std::string &Text : Texts) Input += ToHex(Text) + "\n";
    std::istringstream Lines(RunPython(Load, Input));
    std::string Line;
    for (size_t i = 0; i < Texts.size(); i++) {
        ASSERT_TRUE(std::getline(Lines, Line));
        EXPECT_EQ(Line, Expected[i]) << Texts[i];
    }
}

const char *Dumper = R"PY(
import random, re, sys, yaml
rnd = random.Random(3103)
pieces = ['', ' ', 'a ', ' a', '\t', 'x\ty', 'line\nbreak', '\r', 'nul\0byte', '\x01\x1f\x7f', '"q"', "it's", "'",
          'a # b', 'x: y', 'x:', ':x', 'x:y', '- x', '-x', '? x', '[a]', '{a}', 'a, b', '&a', '*a', '!tag', '|', '>',
          '%x', '@x', '`x`', 'true', 'True', 'FALSE', 'null', '~', 'yes', 'No', 'on', '123', '-5', '+5', '1.5',
          '.5', '1e3', '0x1F', '2001-12-14', '12:30', '=', '<<', '...', '---', 'Caf\u00e9', '\U0001F600',
          '\x85', '\u2028', '\ufeff', '\x80', 'back\\slash', '\\', '  both  ', 'x\n', '\ny', 'a  b', '\u00a0',
          '\uffff', '\U0010ffff', 'k=v', 'a]b', 'a}b', 'w' * 90 + ' ' + 'z' * 90, 'a #b', '#x', 'a#b']
def strings(n):
    out = list(pieces)
    for i in range(n):
        out.append(''.join(rnd.choice(pieces) for _ in range(rnd.randint(1, 4))))
    return out
words = ['alpha', 'beta', 'Caf\u00e9', '\U0001F600', 'x' * 30, '12', 'gamma.delta', "it's"]
def sentence():
    return ' '.join(rnd.choice(words) for _ in range(rnd.randint(1, 12)))
def plain_ok(s):
    # Plain text with "#" after a non-blank means something else here.
    return all(s[i] != '#' or i == 0 or s[i - 1] == ' ' for i in range(len(s))) or '#' not in s
def doc(values, keyed, typed):
    d = {'k%d' % i: v for i, v in enumerate(values)}
    d['list'] = list(values) + [[values[0], {'inner': values[-1]}], [], {}]
    d['keys'] = {v: 'v%d' % i for i, v in enumerate(keyed)}
    # Quoted styles write other types with tags, which are not read here.
    if typed: d['types'] = {'n': None, 't': True, 'f': False, 'i': -17, 'x': 2.5, 'e': 1.25e-7}
    return d
NUMBER = re.compile(r'[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?|[-+]?0x[0-9a-fA-F]+|[-+]?0o[0-7]+')
def typed_alike(v):
    # Plain texts this reader takes as numbers where YAML 1.1 sees strings
    # (1e3, 0o17) are written plain by PyYAML.
    return not NUMBER.fullmatch(v)
def breaks_alike(v, options):
    # YAML 1.1 takes U+0085, U+2028 and U+2029 as line breaks when written
    # raw; this reader, like YAML 1.2, does not.
    return not options.get('allow_unicode') or not any(c in v for c in '\x85\u2028\u2029')
def usable_key(v):
    # Keys that PyYAML writes as explicit "? " keys (line breaks, long
    # keys) and those a first "-" would make an entry are not read here.
    return (0 < len(v.encode()) <= 100 and '\0' not in v and not v.startswith(('-', '.', '#'))
            and not any(c in v for c in '\n\r\x85\u2028\u2029'))
def survives(v, options):
    # Only what PyYAML itself reads back as written.
    for d in ({'a': v}, [v]):
        if yaml.safe_load(yaml.safe_dump(d, sort_keys=False, **options)) != d: return False
    return True
ss = strings(200)
styles = [
    ('plain', dict(allow_unicode=True), True),
    ('ascii', dict(allow_unicode=False), True),
    ('double', dict(allow_unicode=True, default_style='"'), False),
    ('double-ascii', dict(allow_unicode=False, default_style='"', width=30), False),
    ('single', dict(allow_unicode=True, default_style="'"), False),
    ('flow', dict(allow_unicode=True, default_flow_style=True, width=10**6), True),
]
for name, options, plain in styles:
    for start in range(0, len(ss), 40):
        values = ss[start:start + 40]
        values = [v for v in values if survives(v, options) and breaks_alike(v, options)
                  and (not plain or (plain_ok(v) and typed_alike(v)))]
        keyed = [v for v in values if usable_key(v)]
        d = doc(values, keyed, plain)
        text = yaml.safe_dump(d, sort_keys=False, **options)
        assert yaml.safe_load(text) == d
        print(name, text.encode().hex(), canon(d))
# Long plain and quoted scalars wrapped over lines.
for i in range(20):
    d = {'plain': sentence(), 'list': [sentence() for _ in range(3)], 'q': sentence() + ' ', 's': "'" + sentence()}
    text = yaml.safe_dump(d, sort_keys=False, allow_unicode=bool(i % 2), width=20)
    print('wrapped', text.encode().hex(), canon(d))
)PY";

TEST_F(YamlPythonTest, OurReaderReadsPyYamlOutput) {
    std::istringstream Lines(RunPython(std::string(yamltest::PythonCanon) + Dumper));
    std::string Style, Hex, Expected;
    int32 Count = 0;
    while (Lines >> Style >> Hex >> Expected) {
        const std::string Text = FromHex(Hex);
        Doc Parsed;
        EXPECT_EQ(Parsed.Load(Text), 1) << Style << "\n" << Text;
        EXPECT_EQ(Canon(Parsed.Dict, true), Expected) << Style << "\n" << Text;
        Count++;
    }
    EXPECT_GT(Count, 60);
}

// A tab in a line's indentation is refused where PyYAML refuses it, at the
// tab's line and column. (PyYAML also refuses tabs that YAML allows after
// the indentation or before a comment; this reader takes those.)
TEST_F(YamlPythonTest, TabInIndentationIsRefusedAtPyYamlsPosition) {
    const std::vector<std::string> Texts = {"\tmessage: x\n",      "start:\n  type: Log\n\tmessage: x\n",
                                            "a:\n  \tb: x\n",       "a:\n \t- x\n",
                                            "- a: 1\n \tb: 2\n",    "a: b\n\tc\n",
                                            "a: [1]\n\t  - b\n"};
    std::string Input;
    for (const std::string &Text : Texts) Input += ToHex(Text) + "\n";
    std::istringstream Lines(RunPython(R"PY(
import sys, yaml
for line in sys.stdin.read().split():
    try:
        yaml.safe_load(bytes.fromhex(line).decode())
        print('read')
    except yaml.MarkedYAMLError as e:
        print('%d:%d' % (e.problem_mark.line + 1, e.problem_mark.column + 1) if "'\\t'" in e.problem else e.problem)
)PY", Input));
    Debug_PrintCallback(CaptureLog);
    for (const std::string &Text : Texts) {
        std::string Where;
        ASSERT_TRUE(std::getline(Lines, Where)) << Text;
        Doc Parsed;
        Captured.clear();
        EXPECT_EQ(Parsed.Load(Text), 0) << Text;
        EXPECT_EQ(Parsed.Error(), YAML_ERROR_FIELDTYPE) << Text;
        EXPECT_NE(Captured.find("Tab in indentation (indent with spaces) [@ " + Where + "]"), std::string::npos)
            << Text << " PyYAML: " << Where << " ours: " << Captured;
    }
    Debug_PrintCallback(nullptr);
}

} // namespace
