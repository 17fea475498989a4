// "TQX.Pipe" end to end through the bridge: selectors against zlib.crc32,
// setters and getters, a write whose bytes a Python reader receives, and
// arriving bytes delivered to the page as a ("Pipe", "Read") batch item.
#include "platform/pipe_script.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/text/crc.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"
#include "tests/support/system.h"

namespace {

constexpr ScriptSelector Selectors[] = {
    {"setName", 0xcbd2c30a},       {"getName", 0x58437bd7},       {"setOpenExisting", 0x09fb48ea},
    {"getOpenExisting", 0xc7e5b2c6}, {"setBufferSize", 0x8544944b}, {"getBufferSize", 0xf1fa5807},
    {"start", 0x9f79558f},         {"write", 0x7d6b7a5f},
};

class PipeScriptTest : public ScriptPageTest {
  protected:
    PipeScriptTest() : ScriptPageTest("TQX.Pipe") {}
    TempDirectory Folder;
};

TEST_F(PipeScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(PipeScriptTest, SettersGettersAndWrongParameters) {
    const struct {
        const char *Request, *Answer;
    } Cases[] = {
        {R"({"method":"getName"})", R"({"returnValue":""})"},
        {R"({"method":"setName","name":"p1"})", R"({"returnValue":true})"},
        {R"({"method":"getName"})", R"({"returnValue":"p1"})"},
        {R"({"method":"getOpenExisting"})", R"({"returnValue":false})"},
        {R"({"method":"setOpenExisting","openExisting":true})", R"({"returnValue":true})"},
        {R"({"method":"getOpenExisting"})", R"({"returnValue":true})"},
        {R"({"method":"setOpenExisting","openExisting":false})", R"({"returnValue":true})"},
        {R"({"method":"getBufferSize"})", R"({"returnValue":0})"},
        {R"({"method":"setBufferSize","bufferSize":64})", R"({"returnValue":true})"},
        {R"({"method":"setBufferSize","bufferSize":"64"})", ""},
        {R"({"method":"setBufferSize"})", ""},
        {R"({"method":"getBufferSize"})", R"({"returnValue":64})"},
        {R"({"method":"setName"})", ""},
        {R"({"method":"noSuchMethod"})", ""},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Call(Case.Request), Case.Answer) << Case.Request;
    EXPECT_NE(Captured.find("Incorrect parameter type (Pipe.setBufferSize::bufferSize)"), std::string::npos);
    EXPECT_NE(Captured.find("Parameter missing (Pipe.setName::name)"), std::string::npos);
}

TEST_F(PipeScriptTest, WritesAndReadsReachThePage) {
    ScopedEnv Temp("TMPDIR", (Folder.Path + "/").c_str());
    EXPECT_EQ(Call(R"({"method":"write","buffer":"aGk="})"), R"({"returnValue":0})"); // not started
    EXPECT_EQ(Call(R"({"method":"setName","name":"page-pipe"})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"start"})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"write","buffer":"aGk="})"), R"({"returnValue":2})");
    EXPECT_EQ(Call(R"({"method":"write","buffer":"***"})"), "");
    EXPECT_EQ(Call(R"({"method":"write"})"), "");
    // What the page wrote is in the FIFO; the tick reads it back and the
    // page, observing its pipe, receives it in Base64.
    const std::string Center = Page->Create("TQX.NotificationCenter");
    EXPECT_EQ(Page->Call(Center, R"({"method":"addInstanceObserver","type":"Pipe","notification":"Read","sender":")" +
                                     Id + R"(","callbackId":"cb"})"),
              R"({"returnValue":true})");
    const std::string All = Page->PumpUntil("\"cb\"");
    EXPECT_NE(All.find(R"("callbackId":"cb")"), std::string::npos) << All;
    EXPECT_NE(All.find(R"("info":{"buffer":"aGk="})"), std::string::npos) << All;
    struct stat Status {};
    EXPECT_EQ(lstat((Folder / "page-pipe").c_str(), &Status), 0);
    EXPECT_TRUE(S_ISFIFO(Status.st_mode));
}

} // namespace
