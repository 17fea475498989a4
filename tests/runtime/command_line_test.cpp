// Command line: the field scanner and switch lookups, joining and splitting,
// the process line and vector, and the core switch table.
#include "runtime/command_line.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/runtime.h"

namespace {

std::string Field(const char *Line, int32 Index) {
    char Text[COMMAND_LINE_SIZE];
    EXPECT_EQ(CommandLine_GetField(Line, Index, Text, sizeof(Text)), 1) << Line << " #" << Index;
    return Text;
}

int32 FieldCount(const char *Line) {
    int32 Count = -1;
    CommandLine_GetFieldCount(Line, &Count);
    return Count;
}

std::string ByName(const char *Line, const char *Name) {
    char Text[COMMAND_LINE_SIZE];
    if (!CommandLine_GetFieldByName(Line, Name, Text, sizeof(Text))) return "<none>";
    return Text;
}

std::string Build(const std::vector<std::string> &Arguments) {
    std::vector<const char *> Vector;
    for (const std::string &Argument : Arguments) Vector.push_back(Argument.c_str());
    char Line[COMMAND_LINE_SIZE];
    EXPECT_EQ(CommandLine_Build((int32)Vector.size(), Vector.data(), Line, sizeof(Line)), 1);
    return Line;
}

std::vector<std::string> Split(const char *Line) {
    int32 Count = 0;
    char **Vector = nullptr;
    EXPECT_EQ(Arguments_Build(Line, &Count, &Vector), 1);
    std::vector<std::string> Tokens(Vector, Vector + Count);
    EXPECT_EQ(Vector[Count], nullptr);
    Arguments_Free(&Count, &Vector);
    EXPECT_EQ(Vector, nullptr);
    EXPECT_EQ(Count, 0);
    return Tokens;
}

} // namespace

TEST(CommandLineSwitch, ValueByNameWithoutCase) {
    EXPECT_EQ(ByName("app --debugfile=x --DEBUG=info", "debug"), "info");
    EXPECT_EQ(ByName("app --DebugDir=/tmp/logs", "debugdir"), "/tmp/logs");
    EXPECT_EQ(ByName("app --debug", "debug"), "<none>"); // no "=", no value
    EXPECT_EQ(ByName("app --debug= --x=1", "debug"), "");
    EXPECT_EQ(ByName("app -debug=1", "debug"), "<none>");
    EXPECT_EQ(ByName("app --skin=\"a b\" --x=1", "skin"), "a b");
    EXPECT_EQ(ByName("app --skin=\"a \"\"q\"\" b\"", "skin"), "a \"q\" b");
    // A whole argument in quotes, as joining writes "--skin=a b".
    EXPECT_EQ(ByName("app \"--skin=a b\" --x=1", "skin"), "a b");
    EXPECT_EQ(ByName("app \"--skin=\"\"a b\"", "skin"), "\"a b");
    // Names appear only at a field's start.
    EXPECT_EQ(ByName("app --skin=\"x --debug=1\"", "debug"), "<none>");
    EXPECT_EQ(ByName("app x--debug=1", "debug"), "<none>");
    // Cut to the buffer.
    char Text[4];
    EXPECT_EQ(CommandLine_GetFieldByName("--v=abcdef", "v", Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "abc");
}

TEST(CommandLineSwitch, PresenceOnlyAtFieldStart) {
    EXPECT_EQ(CommandLine_IsFieldSet("app --debug", "debug"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app --debug=", "debug"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app --debugfile=x", "debug"), 0);
    EXPECT_EQ(CommandLine_IsFieldSet("app --DEBUG more", "debug"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app \"--debug\"", "debug"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app --debug\tx", "debug"), 1);
    // A quoted value never sets a switch.
    EXPECT_EQ(CommandLine_IsFieldSet("app --skin=\"a --disablesecurity b\" --x", "disablesecurity"), 0);
    EXPECT_EQ(CommandLine_IsFieldSet("app --skin=\"a --disablesecurity b\" --x", "skin"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app --skin=\"a --disablesecurity b\" --x", "x"), 1);
    EXPECT_EQ(CommandLine_IsFieldSet("app x--debug", "debug"), 0);
    EXPECT_EQ(CommandLine_IsFieldSet("app -debug", "debug"), 0);
    EXPECT_EQ(CommandLine_IsFieldSet("", "debug"), 0);
    // The same line joined from its arguments keeps that answer.
    std::string Line = Build({"app", "--skin=a --disablesecurity b"});
    EXPECT_EQ(CommandLine_IsFieldSet(Line.c_str(), "disablesecurity"), 0);
    EXPECT_EQ(ByName(Line.c_str(), "skin"), "a --disablesecurity b");
}

TEST(CommandLineField, ScannerEdges) {
    // A quoted value ends the field just after its closing quote.
    const char *Line = "--skin=\"a b\" --other";
    const char *Start, *End;
    int32 Count;
    ASSERT_EQ(CommandLine_GetFieldBoundary(Line, 0, &Count, &Start, &End), 1);
    EXPECT_EQ(Start, Line);
    EXPECT_EQ(End, Line + 12);
    EXPECT_EQ(Count, 1);
    EXPECT_EQ(Field(Line, 0), "--skin=\"a b\"");
    EXPECT_EQ(Field(Line, 1), "--other");
    char Value[64];
    ASSERT_EQ(CommandLine_GetFieldValue(Field(Line, 0).c_str(), Value, sizeof(Value)), 1);
    EXPECT_STREQ(Value, "a b");
    // A doubled quote inside a quoted value keeps one quote, the field goes on.
    Line = "--skin=\"a \"\"b\"\" c\" next";
    EXPECT_EQ(FieldCount(Line), 2);
    EXPECT_EQ(Field(Line, 1), "next");
    const char *Pointer;
    ASSERT_EQ(CommandLine_GetFieldPtr(Line, 0, &Pointer), 1);
    ASSERT_EQ(CommandLine_GetFieldValue(Pointer, Value, sizeof(Value)), 1);
    EXPECT_STREQ(Value, "a \"b\" c");
    EXPECT_EQ(ByName(Line, "skin"), "a \"b\" c");
    // Quoted fields: the pointer is on the opening quote, the text after it.
    Line = "app \"x y\" z";
    ASSERT_EQ(CommandLine_GetFieldPtr(Line, 1, &Pointer), 1);
    EXPECT_EQ(Pointer, Line + 4);
    ASSERT_EQ(CommandLine_GetFieldBoundary(Line, 1, nullptr, &Start, &End), 1);
    EXPECT_EQ(std::string(Start, End), "x y");
    EXPECT_EQ(Field(Line, 1), "x y");
    EXPECT_EQ(Field(Line, 2), "z");
    // Counting.
    EXPECT_EQ(FieldCount(""), 0);
    EXPECT_EQ(FieldCount("   "), 1); // blanks only: one field that spans them
    EXPECT_EQ(FieldCount(" a  b\t\x01 c "), 3);
    EXPECT_EQ(FieldCount("a \"unterminated quote"), 2);
    int32 Total = 9;
    EXPECT_EQ(CommandLine_GetFieldCount("", &Total), 0);
    EXPECT_EQ(CommandLine_GetFieldBoundary("a b c", 5, &Count, &Start, &End), 0);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(Start, nullptr);
    char Text[16] = "junk";
    EXPECT_EQ(CommandLine_GetField("a b", 2, Text, sizeof(Text)), 0);
    EXPECT_STREQ(Text, "");
}

TEST(CommandLineField, CleaningAndNames) {
    char Text[64];
    const char *Stretch = "\"abc\"\"def\"ghi";
    ASSERT_EQ(CommandLine_GetFieldCleanAndCopy(Stretch, Stretch + strlen(Stretch), Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "abc\"def");
    ASSERT_EQ(CommandLine_GetFieldCleanAndCopy(Stretch, Stretch + strlen(Stretch), Text, 4), 1);
    EXPECT_STREQ(Text, "ab"); // three bytes read, the first the opening quote
    Stretch = "a\"b\"\"c";
    ASSERT_EQ(CommandLine_GetFieldCleanAndCopy(Stretch, Stretch + strlen(Stretch), Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "a\"b\"c");
    ASSERT_EQ(CommandLine_GetFieldCleanAndCopy(Stretch, Stretch, Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "");

    EXPECT_EQ(CommandLine_GetFieldName("-x", Text, sizeof(Text)), 0);
    EXPECT_EQ(CommandLine_GetFieldName("x", Text, sizeof(Text)), 0);
    ASSERT_EQ(CommandLine_GetFieldName("--Debug=3", Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "Debug");
    ASSERT_EQ(CommandLine_GetFieldName("--window more", Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "window");
    ASSERT_EQ(CommandLine_GetFieldName("--proxy-wpad", Text, 4), 1);
    EXPECT_STREQ(Text, "pro");

    const char *Value;
    ASSERT_EQ(CommandLine_GetFieldValuePtr("--a=b=c", &Value), 1);
    EXPECT_STREQ(Value, "b=c");
    ASSERT_EQ(CommandLine_GetFieldValuePtr("x=y", &Value), 1);
    EXPECT_STREQ(Value, "y");
    EXPECT_EQ(CommandLine_GetFieldValuePtr("--a", &Value), 0);
    EXPECT_EQ(Value, nullptr);
    EXPECT_EQ(CommandLine_GetFieldValue("--a", Text, sizeof(Text)), 0);
    ASSERT_EQ(CommandLine_GetFieldValue("--a=\"q r\"", Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "q r");
}

TEST(CommandLineBuild, JoinsWithQuotes) {
    EXPECT_EQ(Build({"app", "--x", "a b"}), "app --x \"a b\"");
    EXPECT_EQ(Build({"app", "say \"hi\""}), "app \"say \"\"hi\"\"\"");
    EXPECT_EQ(Build({"app", ""}), "app \"\"");
    EXPECT_EQ(Build({"tab\there"}), "\"tab\there\"");
    EXPECT_EQ(Build({}), "");
    char Line[8] = "junk";
    const char *Vector[] = {"abcdef", "ghijkl"};
    // Only whole arguments: half a switch would read as another value.
    EXPECT_EQ(CommandLine_Build(2, Vector, Line, sizeof(Line)), 1);
    EXPECT_STREQ(Line, "abcdef");
    EXPECT_EQ(CommandLine_Build(2, Vector, Line, 1), 1);
    EXPECT_STREQ(Line, "");
    EXPECT_EQ(CommandLine_Build(2, Vector, Line, 0), 0);
}

// Joined vectors come back whole from the field scanner, whatever bytes the
// arguments hold: blanks, quotes (also leading and doubled), "=", backslashes.
TEST(CommandLineBuild, RandomVectorsSurviveBuildThenGetField) {
    std::mt19937 Random(20240229);
    const std::string Alphabet = std::string("ab=-\\\" \t\"\"--x\x01\x1f\x7f\xc3\xa9") + "z";
    for (int Round = 0; Round < 5000; Round++) {
        std::vector<std::string> Arguments((size_t)(1 + Random() % 8));
        for (std::string &Argument : Arguments) {
            size_t Length = Random() % 14;
            for (size_t Index = 0; Index < Length; Index++) Argument += Alphabet[Random() % Alphabet.size()];
        }
        std::string Line = Build(Arguments);
        ASSERT_EQ(FieldCount(Line.c_str()), (int32)Arguments.size()) << Line;
        for (size_t Index = 0; Index < Arguments.size(); Index++)
            ASSERT_EQ(Field(Line.c_str(), (int32)Index), Arguments[Index]) << Line;
        // A switch with any value is found again by name.
        std::string Switch = "--pick=" + Arguments[0];
        Arguments.push_back(Switch);
        Line = Build(Arguments);
        ASSERT_EQ(ByName(Line.c_str(), "PICK"), Arguments[0]) << Line;
    }
}

TEST(CommandLineSplit, SeparatorsQuotesAndBackslashes) {
    using Tokens = std::vector<std::string>;
    EXPECT_EQ(Split("a b\tc\nd\re"), Tokens({"a", "b", "c", "d", "e"}));
    EXPECT_EQ(Split("a\x01" "b \x7f"), Tokens({"a\x01" "b", "\x7f"}));
    EXPECT_EQ(Split("\"a b\"c"), Tokens({"a b", "c"}));
    EXPECT_EQ(Split("x\"a b\" y"), Tokens({"xa b", "y"}));
    EXPECT_EQ(Split("\"\" x"), Tokens({"", "x"}));
    EXPECT_EQ(Split("a\\ b"), Tokens({"a\\ b"}));
    EXPECT_EQ(Split("a\\\"b c\""), Tokens({"a\\\"b", "c"}));
    EXPECT_EQ(Split("\"in \\ quotes\""), Tokens({"in \\ quotes"}));
    EXPECT_EQ(Split("\"unterminated text"), Tokens({"unterminated text"}));
    EXPECT_EQ(Split("end\\"), Tokens({"end\\"}));
    EXPECT_EQ(Split("  \t "), Tokens({}));
    EXPECT_EQ(Split(""), Tokens({}));
    std::string Long(10000, 'x');
    Tokens Cut = Split((Long + " y").c_str());
    ASSERT_EQ(Cut.size(), 2u);
    EXPECT_EQ(Cut[0].size(), 8191u);
    EXPECT_EQ(Cut[1], "y");
    int32 Count = -1;
    ASSERT_EQ(Arguments_BuildBySeparator("one two three", &Count, nullptr), 1);
    EXPECT_EQ(Count, 3);
}

TEST(CommandLineProcess, ArgumentsAndLine) {
    char Program[] = "/usr/bin/app", Skin[] = "--skin=a b", Debug[] = "--DEBUG=2";
    char *Vector[] = {Program, Skin, Debug, nullptr};
    ASSERT_EQ(Arguments_Init(3, Vector), 1);
    const char *Line;
    ASSERT_EQ(CommandLine_Get(&Line), 1);
    EXPECT_STREQ(Line, "/usr/bin/app \"--skin=a b\" --DEBUG=2");
    EXPECT_EQ(ByName(nullptr, "skin"), "a b");
    EXPECT_EQ(ByName(nullptr, "debug"), "2");
    EXPECT_EQ(CommandLine_IsFieldSet(nullptr, "debug"), 1);
    EXPECT_EQ(FieldCount(nullptr), 3);
    int32 Count;
    char **Got;
    ASSERT_EQ(Arguments_Get(&Count, &Got), 1);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(Got, Vector);

    // Appending adds a blank first, unless there is one.
    ASSERT_EQ(CommandLine_Append("--verbose=all"), 1);
    EXPECT_STREQ(Line, "/usr/bin/app \"--skin=a b\" --DEBUG=2 --verbose=all");
    ASSERT_EQ(CommandLine_Append(" "), 1);
    ASSERT_EQ(CommandLine_Append("--x"), 1);
    EXPECT_STREQ(Line, "/usr/bin/app \"--skin=a b\" --DEBUG=2 --verbose=all  --x");
    std::string Huge(COMMAND_LINE_SIZE, 'h');
    EXPECT_EQ(CommandLine_Append(Huge.c_str()), 0);
    EXPECT_STREQ(Line, "/usr/bin/app \"--skin=a b\" --DEBUG=2 --verbose=all  --x");

    // A forked child replaces the line; the platform's vector is only forgotten
    // (freeing it would free the C runtime's memory: ASan checks).
    ASSERT_EQ(CommandLine_Remove(), 1);
    ASSERT_EQ(CommandLine_Init("child --debugfileid=7 \"two words\""), 1);
    ASSERT_EQ(Arguments_Get(&Count, &Got), 1);
    ASSERT_EQ(Count, 3);
    EXPECT_STREQ(Got[0], "child");
    EXPECT_STREQ(Got[1], "--debugfileid=7");
    EXPECT_STREQ(Got[2], "two words");
    EXPECT_EQ(ByName(nullptr, "debugfileid"), "7");
    ASSERT_EQ(CommandLine_Remove(), 1);
    EXPECT_EQ(Arguments_Get(&Count, &Got), 0);
    EXPECT_EQ(Got, nullptr);

    // UTF-16 lines are converted, pairs combined.
    const uint16 Wide[] = {'a', ' ', 0xe9, ' ', 0xd83d, 0xde00, 0};
    ASSERT_EQ(CommandLine_InitWide(Wide), 1);
    EXPECT_STREQ(Line, "a \xc3\xa9 \xf0\x9f\x98\x80");
    ASSERT_EQ(Arguments_Get(&Count, &Got), 1);
    EXPECT_EQ(Count, 3);
    ASSERT_EQ(Arguments_Remove(), 1);
    // An empty line receives the blank too.
    ASSERT_EQ(CommandLine_Init(""), 1);
    ASSERT_EQ(CommandLine_Append("--x"), 1);
    EXPECT_STREQ(Line, " --x");
    ASSERT_EQ(CommandLine_Remove(), 1);
}

TEST(CommandLineCore, SwitchFilterTable) {
    const char *Expected[] = {"append",         "cmdline",   "commit",     "debug",      "debugfile",
                              "debugfileid",    "debugdir",  "externalprint", "memoryreport", "memorytest",
                              "memorytracking", "perday",    "perprocess", "perthread",  "proxy",
                              "proxy-wpad",     "verbose",   "window"};
    for (int Index = 0; Index < CORE_SWITCH_FILTER_COUNT; Index++) {
        EXPECT_STREQ(Core_SwitchFilterTable[Index], Expected[Index]);
        EXPECT_EQ(Core_ShouldRemoveSwitch(Expected[Index]), 1);
        std::string Upper = Expected[Index];
        for (char &Ch : Upper) Ch = (char)toupper((unsigned char)Ch);
        EXPECT_EQ(Core_ShouldRemoveSwitch(Upper.c_str()), 1) << Upper;
    }
    EXPECT_EQ(Core_ShouldRemoveSwitch("skin"), 0);
    EXPECT_EQ(Core_ShouldRemoveSwitch("debugfil"), 0);
    EXPECT_EQ(Core_ShouldRemoveSwitch("debug "), 0);
    EXPECT_EQ(Core_ShouldRemoveSwitch(""), 0);
    EXPECT_EQ(Core_ShouldRemoveSwitch(nullptr), 0);
}

TEST(CommandLineDeath, InitTwiceAndRemoveWithout) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static char Program[] = "app";
    static char *Vector[] = {Program, nullptr};
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Arguments_Init(1, Vector);
            Arguments_Init(1, Vector);
        },
        ::testing::KilledBySignal(SIGILL), "Assertion failed \\(GlobalArgV == NULL\\)\nCommand line already initialized");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            Arguments_Remove();
        },
        ::testing::KilledBySignal(SIGILL), "Assertion failed \\(GlobalArgV != NULL\\)\nCommand line not initialized");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            CommandLine_Init("a");
            CommandLine_Init("b");
        },
        ::testing::KilledBySignal(SIGILL), "Command line already initialized");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            char Text[8];
            CommandLine_GetFieldByName("--a=b", nullptr, Text, sizeof(Text));
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
