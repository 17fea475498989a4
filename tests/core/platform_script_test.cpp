// "TQX.Platform" end to end through the bridge: selectors against zlib.crc32
// for the methods this build answers, and their answers checked against
// Python (os.environ, os.readlink, os.uname, email.utils) or the Part's
// fixed texts; missing parameters answer the defaults.
#include "core/platform_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/formats/crc.h"
#include "core/posix/platform_standin.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"

namespace {

constexpr ScriptSelector Selectors[] = {
    {"getName", 0x58437bd7},        {"getBitness", 0x4699d37b},       {"getEnvironmentVariable", 0x6f5a6d98},
    {"setEnvironmentVariable", 0x9a0cb4d9}, {"translateError", 0xe8cdf3b8}, {"timeToRFC1123", 0x07bfa61d},
    {"access", 0x06692b54},         {"getProcessPath", 0x3bef935b},   {"findProcess", 0xead8c82e},
    {"findWindow", 0x48a1ac89},     {"shellOpen", 0xf3559519},        {"preventSystemSleep", 0xcd62c621},
    {"reboot", 0xc153848c},         {"createShortcut", 0x81fe2bb0},   {"removeShortcut", 0xe3b8dbed},
    {"authenticateX509", 0x4ad55b1c},
};

int32 Reboots = 0;
int32 RecordReboot(void) {
    Reboots++;
    return TRUE;
}

class PlatformScriptTest : public ScriptPageTest {
  protected:
    PlatformScriptTest() : ScriptPageTest("TQX.Platform") {}
    void SetUp() override {
        ScriptPageTest::SetUp();
        Platform_SetRebootSink(RecordReboot);
    }
    void TearDown() override {
        Platform_SetRebootSink(nullptr);
        ScriptPageTest::TearDown();
    }
};

TEST_F(PlatformScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(PlatformScriptTest, AnswersAgainstReferences) {
    const std::string Self = std::to_string(getpid());
    const std::string Reference = RunPython(
        "import os, platform, email.utils\n"
        "print(os.readlink('/proc/" + Self + "/exe'))\n"
        "print(64 if os.uname().machine.lower() == 'x86_64' else 32)\n"
        "print(email.utils.formatdate(0, usegmt=True))\n"
        "print(email.utils.formatdate(784111777, usegmt=True))\n");
    std::vector<std::string> Lines;
    size_t At = 0;
    for (size_t Next; (Next = Reference.find('\n', At)) != std::string::npos; At = Next + 1)
        Lines.push_back(Reference.substr(At, Next - At));
    ASSERT_EQ(Lines.size(), 4u);
    const struct {
        std::string Request, Answer;
    } Cases[] = {
        {R"({"method":"getProcessPath","id":)" + Self + "}", R"({"returnValue":)" + JsonQuote(Lines[0]) + "}"},
        {R"({"method":"getBitness"})", R"({"returnValue":)" + Lines[1] + "}"},
        {R"({"method":"timeToRFC1123","date":0})", R"({"returnValue":)" + JsonQuote(Lines[2]) + "}"},
        {R"({"method":"timeToRFC1123","date":784111777})", R"({"returnValue":)" + JsonQuote(Lines[3]) + "}"},
        {R"({"method":"setEnvironmentVariable","name":"PLATFORM_SCRIPT_X","value":"v1"})", R"({"returnValue":true})"},
        {R"({"method":"getEnvironmentVariable","name":"PLATFORM_SCRIPT_X"})", R"({"returnValue":"v1"})"},
        {R"({"method":"translateError","error":0})", R"({"returnValue":"None"})"},
        {R"({"method":"translateError"})", ""},
        {R"({"method":"findProcess","path":"no-such-process-anywhere-*"})", R"({"returnValue":-1})"},
        {R"({"method":"findProcess"})", ""},
        {R"({"method":"access","path":"/","permissions":0,"recurse":false})", R"({"returnValue":true})"},
        {R"({"method":"findWindow","caption":"","className":"","searchOnlyVisible":true})",
         R"({"returnValue":false})"},
        {R"({"method":"preventSystemSleep","prevent":true})", R"({"returnValue":true})"},
        {R"({"method":"preventSystemSleep","prevent":false})", R"({"returnValue":true})"},
        {R"({"method":"reboot"})", R"({"returnValue":true})"},
        {R"({"method":"createShortcut","executable":"a","parameter":"b","iconId":0,"location":"c",)"
         R"("description":"d","iconLocation":"e","flags":0})",
         R"({"returnValue":false})"},
        {R"({"method":"createShortcut","executable":"a","parameter":"b","iconId":0,"location":"c",)"
         R"("description":"d","flags":0})",
         ""},
        {R"({"method":"removeShortcut","location":"c","description":"d"})", R"({"returnValue":false})"},
        {R"({"method":"authenticateX509","certStoreName":"app","path":"/bin/true"})", R"({"returnValue":false})"},
        {R"({"method":"noSuchMethod"})", ""},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Call(Case.Request), Case.Answer) << Case.Request;
    EXPECT_EQ(Reboots, 1);
    EXPECT_NE(Captured.find("Parameter missing (Platform.createShortcut::iconLocation)"), std::string::npos);
    // A process running this program is found by its path: this one, or
    // another test of the same program that the runner started beside it.
    std::string Found = Call(R"({"method":"findProcess","path":)" + JsonQuote(Lines[0]) + "}");
    const std::string Prefix = R"({"returnValue":)";
    ASSERT_EQ(Found.compare(0, Prefix.size(), Prefix), 0) << Found;
    std::string Pid = Found.substr(Prefix.size(), Found.size() - Prefix.size() - 1);
    char Exe[4096] = {};
    // (That other one may have ended since.)
    if (Pid != Self && readlink(("/proc/" + Pid + "/exe").c_str(), Exe, sizeof(Exe) - 1) <= 0) return;
    if (Pid == Self) strncpy(Exe, Lines[0].c_str(), sizeof(Exe) - 1);
    EXPECT_EQ(std::string(Exe), Lines[0]) << Found;
}

} // namespace
