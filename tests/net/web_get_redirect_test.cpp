// Redirect rules: each rewrite compared with pcre2test's "replace=" for the
// same pattern, options and subject; rules applied in order; replacement
// macros; mutable and immutable names; patterns that do not compile; a
// result too long for the caller's buffer.
#include "net/web_get_redirect.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/temp_root.h"

namespace {

class RedirectTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        WebGet_RedirectReset();
    }
    void TearDown() override {
        WebGet_RedirectReset();
        RuntimeTest::TearDown();
    }
};

// pcre2test's rewrite ("" when it gives none) and its substitution count.
std::string Reference(int *Substitutions, const std::string &Pattern, const std::string &Modifiers, const std::string &Replacement,
                      const std::string &Subject) {
    std::string Path = TempRoot() + "/i16-redirect-" + std::to_string(getpid());
    FILE *Input = fopen(Path.c_str(), "w");
    fprintf(Input, "!%s!%s%sreplace=%s\n    %s\n", Pattern.c_str(), Modifiers.c_str(), Modifiers.empty() ? "" : ",",
            Replacement.c_str(), Subject.c_str());
    fclose(Input);
    FILE *Output = popen(("pcre2test -q " + Path + " 2>&1").c_str(), "r");
    std::string Text;
    char Line[2048];
    while (Output != nullptr && fgets(Line, sizeof(Line), Output) != nullptr) Text += Line;
    if (Output != nullptr) pclose(Output);
    remove(Path.c_str());
    // " <substitutions>: <result>" follows the echoed subject.
    for (size_t At = Text.find("\n "); At != std::string::npos; At = Text.find("\n ", At + 1)) {
        size_t Digits = At + 2;
        while (Digits < Text.size() && isdigit((unsigned char)Text[Digits])) Digits++;
        if (Digits == At + 2 || Text.compare(Digits, 2, ": ") != 0) continue;
        *Substitutions = atoi(Text.c_str() + At + 2);
        std::string Result = Text.substr(Digits + 2);
        return Result.substr(0, Result.find('\n'));
    }
    return "";
}

TEST_F(RedirectTest, RewritesMatchPcre2test) {
    struct Case {
        const char *Pattern, *Compile, *Substitute, *Modifiers, *Replacement, *Subject;
    } Cases[] = {
        {"^http://old\\.test/(.*)$", "", "", "", "http://new.test/$1", "http://old.test/a/b?c=d"},
        {"^HTTP://OLD\\.TEST/", "caseless", "", "i", "http://new.test/", "http://old.test/x"},
        {"%20", "", "global", "g", "+", "http://h/a%20b%20c"},
        {"(?<host>[a-z]+)\\.test", "", "extended", "substitute_extended", "${host}.example", "http://abc.test/"},
        {"x", "", "", "", "y", "http://nothing.here/"},
        {"a.b", "literal", "global", "g,literal", "dot", "http://h/a.b/axb"},
    };
    for (const Case &Each : Cases) {
        WebGet_RedirectReset();
        ASSERT_TRUE(WebGet_RedirectAdd("rule", 0, TRUE, Each.Pattern, Each.Replacement,
                                       WebGet_RedirectCompileOptionsFromStringList(Each.Compile),
                                       WebGet_RedirectSubstituteOptionsFromStringList(Each.Substitute)))
            << Each.Pattern;
        char Url[512];
        int32 Changed = WebGet_RedirectApply(Each.Subject, Url, (int32)sizeof(Url));
        int Substitutions = -1;
        std::string Expected = Reference(&Substitutions, Each.Pattern, Each.Modifiers, Each.Replacement, Each.Subject);
        ASSERT_GE(Substitutions, 0) << "pcre2test gave nothing for " << Each.Pattern;
        EXPECT_EQ(Changed != 0, Substitutions > 0) << Each.Pattern;
        EXPECT_EQ(std::string(Url), Expected) << Each.Pattern;
    }
}

TEST_F(RedirectTest, RulesNamesMacrosAndFailures) {
    WebGet_RedirectAddMacro("Mirror", "m.test");
    ASSERT_TRUE(WebGet_RedirectAdd("first", 0, FALSE, "^http://a\\.test/", "http://{mirror}/", 0, 0));
    ASSERT_TRUE(WebGet_RedirectAdd("second", 0, TRUE, "m\\.test", "n.test", 0, 0));
    char Url[256];
    EXPECT_TRUE(WebGet_RedirectApply("http://a.test/f", Url, (int32)sizeof(Url)));
    EXPECT_STREQ(Url, "http://n.test/f");
    // Immutable names stay; mutable ones are replaced in place.
    EXPECT_FALSE(WebGet_RedirectAdd("FIRST", 0, TRUE, "x", "y", 0, 0));
    EXPECT_TRUE(WebGet_RedirectAdd("second", 0, TRUE, "m\\.test", "o.test", 0, 0));
    int32 Count = 0;
    WebGet_RedirectGetCount(&Count);
    EXPECT_EQ(Count, 2);
    WebGet_RedirectApply("http://a.test/f", Url, (int32)sizeof(Url));
    EXPECT_STREQ(Url, "http://o.test/f");

    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    EXPECT_FALSE(WebGet_RedirectAdd("broken", 0, TRUE, "(unclosed", "x", 0, 0));
    EXPECT_NE(Captured.find("Redirect rule (broken) does not compile at"), std::string::npos);
    EXPECT_EQ(WebGet_RedirectCompileOptionsFromStringList("CASELESS, nosuch ,multiline"), 0x8u | 0x400u);
    EXPECT_NE(Captured.find("Unknown redirect compile option (nosuch)"), std::string::npos);
    EXPECT_EQ(WebGet_RedirectFlagsFromStringList("a,b"), 0u);

    // A rewrite that does not fit leaves the URL as it was.
    EXPECT_TRUE(WebGet_RedirectRemove("first"));
    ASSERT_TRUE(WebGet_RedirectAdd("grow", 0, TRUE, "q", "qqqqqqqqqqqqqqqqqqqqqqqqqqqqqq", 0, 0));
    char Small[16];
    EXPECT_FALSE(WebGet_RedirectApply("http://q/", Small, (int32)sizeof(Small)));
    EXPECT_STREQ(Small, "http://q/");
}

} // namespace
