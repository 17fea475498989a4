// The path macros, through the macro expansion that asks for them.
#include <gtest/gtest.h>

#include <string>

#include "runtime/files/path.h"
#include "runtime/text/string_expand.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Expand(const std::string &Text) {
    char Buffer[STRING_EXPAND_WORK_SIZE];
    snprintf(Buffer, sizeof(Buffer), "%s", Text.c_str());
    EXPECT_EQ(String_Expand(Buffer, sizeof(Buffer), nullptr, nullptr), 1);
    return Buffer;
}

class PathMacroTest : public RuntimeTest {};

} // namespace

TEST_F(PathMacroTest, Values) {
    ScopedEnv Home("HOME", "/home/macro");
    struct Case {
        const char *Text, *Expanded;
    };
    const Case Cases[] = {
        {"{PathSlash}", "/"},
        {"{pathslash}x", "/x"},
        {"{PathJoin:a/,b,c}", "a/b/c"},
        {"{PathJoin:a,b/}", "a/b/"},
        {"{PathJoin:a\\,.,b\\}", "a/b/"},
        {"{PathJoin:,a}", "a"},
        {"{PathJoin:{UserHome},Downloads}", "/home/macro/Downloads"},
        {"{PathFix:x/y}", "x/y/"},
        {"{PathFix:x/y/,false}", "x/y"},
        {"{PathFix:x/./y,true}", "x/y/"},
        {"{PathFix:a,b/c,0}", "a,b/c"},
        {"{PathFix:a,b}", "a,b/"}, // "b" is no boolean: part of the path
        {"{PathParse:extension,a/b.tar.gz}", "gz"},
        {"{PathParse:extensionWithDot,a/b.tar.gz}", ".gz"},
        {"{PathParse:title,a/b.txt}", "b"},
        {"{PathParse:nameWithoutExtension,a/b.txt}", "b"},
        {"{PathParse:filenameWithoutExtension,a/b.txt}", "b"},
        {"{PathParse:dir,a/b.txt}", "a/"},
        {"{PathParse:directory,a/b.txt}", "a/"},
        {"{PathParse:name,a/b.txt}", "b.txt"},
        {"{PathParse:filename,a/b,c.txt}", "b,c.txt"},
        {"[{PathParse:bogus,a/b.txt}]", "[]"},
        {"[{PathParse:nocomma}]", "[]"},
        {"{PathToUrl:/a/b}", "file:///a/b"},
        {"{PathToUrl:a/b}", "file:./a/b"},
        {"{PathFromUrl:file:///a/b}", "/a/b"},
        {"[{PathFromUrl:http://x/}]", "[]"},
        // Without an argument only PathSlash is ours: the others stay as written.
        {"{PathFix}{PathJoin}{PathParse}{PathToUrl}{PathFromUrl}", "{PathFix}{PathJoin}{PathParse}{PathToUrl}{PathFromUrl}"},
    };
    for (const Case &Row : Cases) EXPECT_EQ(Expand(Row.Text), Row.Expanded) << Row.Text;
}

TEST_F(PathMacroTest, ProviderAnswersOnlyItsOwnNames) {
    char Out[STRING_EXPAND_RESULT_SIZE] = "junk";
    EXPECT_EQ(Path_ExpandKey(nullptr, "Temp", nullptr, Out, sizeof(Out)), 0);
    EXPECT_EQ(Path_ExpandKey(nullptr, "PathFix", nullptr, Out, sizeof(Out)), 0);
    EXPECT_EQ(Path_ExpandKey(nullptr, "PATHSLASH", nullptr, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "/");
    // A long joined path is cut to the output, never written past it.
    std::string Long(9000, 'a');
    char Small[16];
    EXPECT_EQ(Path_ExpandKey(nullptr, "PathJoin", (Long + ",b").c_str(), Small, sizeof(Small)), 1);
    EXPECT_EQ(std::string(Small), std::string(15, 'a'));
}
