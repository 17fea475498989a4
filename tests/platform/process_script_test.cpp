// "TQX.Process" end to end through the bridge: selectors against zlib.crc32,
// setters and getters with missing and mistyped parameters, standard streams
// by a "TQX.Pipe" instance id, and a launch whose "Start", "Ready" and
// "Complete" reach the page in that order.
#include "platform/process_script.h"

#include <gtest/gtest.h>

#include "runtime/text/crc.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"
#include "tests/support/system.h"

namespace {

constexpr ScriptSelector Selectors[] = {
    {"setApplicationName", 0xaabae254},    {"getApplicationName", 0x8fb1694a},
    {"getShortApplicationName", 0xe0d8bd85}, {"setArguments", 0x690e2bd0},
    {"getArguments", 0x6610fd53},          {"setWorkingDirectory", 0x72d22cf8},
    {"getWorkingDirectory", 0x88f81a10},   {"setShowWindow", 0x5e5673ac},
    {"getShowWindow", 0x2ae8bfe0},         {"setElevationRights", 0xb462ff0c},
    {"getElevationRights", 0x91697412},    {"setSHA1", 0x0b0acf64},
    {"getSHA1", 0x989b77b9},               {"setSHA1Target", 0xda0b1709},
    {"getSHA1Target", 0xaeb5db45},         {"setAuthenticateTarget", 0x44395bb6},
    {"getAuthenticateTarget", 0x1d244de1}, {"setStdin", 0xc4c51812},
    {"getStdin", 0x3c3427c3},              {"setStdout", 0xdbac59d0},
    {"getStdout", 0x2a804aad},             {"setStderr", 0x7019eff4},
    {"getStderr", 0x8135fc89},             {"launch", 0x79b757f5},
    {"getId", 0xd954caf0},                 {"getRunningTime", 0x84696948},
};

class ProcessScriptTest : public ScriptPageTest {
  protected:
    ProcessScriptTest() : ScriptPageTest("TQX.Process") {}
};

TEST_F(ProcessScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(ProcessScriptTest, SettersAndGetters) {
    const struct {
        const char *Request, *Answer;
    } Cases[] = {
        {R"({"method":"getApplicationName"})", R"({"returnValue":""})"},
        {R"({"method":"setApplicationName","applicationName":"/usr/bin/Tool"})", R"({"returnValue":true})"},
        {R"({"method":"getApplicationName"})", R"({"returnValue":"/usr/bin/Tool"})"},
        {R"({"method":"getShortApplicationName"})", R"({"returnValue":"Tool"})"},
        {R"({"method":"setArguments","arguments":"-a \"b c\""})", R"({"returnValue":true})"},
        {R"({"method":"getArguments"})", R"({"returnValue":"-a \"b c\""})"},
        {R"({"method":"setWorkingDirectory","workingDirectory":"/tmp"})", R"({"returnValue":true})"},
        {R"({"method":"getWorkingDirectory"})", R"({"returnValue":"/tmp"})"},
        {R"({"method":"getShowWindow"})", R"({"returnValue":true})"},
        {R"({"method":"setShowWindow","showWindow":false})", R"({"returnValue":true})"},
        {R"({"method":"getShowWindow"})", R"({"returnValue":false})"},
        {R"({"method":"setElevationRights","elevationRights":2})", R"({"returnValue":true})"},
        {R"({"method":"getElevationRights"})", R"({"returnValue":2})"},
        {R"({"method":"setSHA1","sHA1":"ABC"})", R"({"returnValue":true})"},
        {R"({"method":"setSHA1","sha1":"DEF"})", ""},
        {R"({"method":"getSHA1"})", R"({"returnValue":"ABC"})"},
        {R"({"method":"setSHA1","sHA1":""})", R"({"returnValue":true})"},
        {R"({"method":"setSHA1Target","sHA1Target":"/x"})", R"({"returnValue":true})"},
        {R"({"method":"getSHA1Target"})", R"({"returnValue":"/x"})"},
        {R"({"method":"setAuthenticateTarget","authenticateTarget":"/y"})", R"({"returnValue":true})"},
        {R"({"method":"getAuthenticateTarget"})", R"({"returnValue":"/y"})"},
        {R"({"method":"setAuthenticateTarget","authenticateTarget":""})", R"({"returnValue":true})"},
        {R"({"method":"setElevationRights","elevationRights":"2"})", ""},
        {R"({"method":"getStdout"})", R"({"returnValue":null})"},
        {R"({"method":"setStdin","stdin":{"instanceId":"0123456789abcdef0123456789abcdef"}})", ""},
        {R"({"method":"setStdin","stdin":"text"})", ""},
        {R"({"method":"getId"})", R"({"returnValue":0})"},
        {R"({"method":"noSuchMethod"})", ""},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Call(Case.Request), Case.Answer) << Case.Request;
    EXPECT_NE(Captured.find("Parameter missing (Process.setSHA1::sHA1)"), std::string::npos);
}

TEST_F(ProcessScriptTest, LaunchReportsToThePageAndOutputReachesItsPipe) {
    TempDirectory Folder;
    ScopedEnv Temp("TMPDIR", (Folder.Path + "/").c_str());
    const std::string PipeId = Page->Create("TQX.Pipe");
    EXPECT_EQ(Page->Call(PipeId, R"({"method":"setName","name":"out"})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"setStdout","stdout":{"instanceId":")" + PipeId + R"("}})"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"getStdout"})"), R"({"returnValue":{"instanceId":")" + PipeId + R"("}})");
    EXPECT_EQ(Call(R"({"method":"getStdin"})"), R"({"returnValue":null})");
    const std::string Center = Page->Create("TQX.NotificationCenter");
    for (const char *Event : {"Start", "Ready", "Complete"})
        Page->Call(Center, std::string(R"({"method":"addInstanceObserver","type":"Process","notification":")") + Event +
                               R"(","sender":")" + Id + R"(","callbackId":")" + Event + R"("})");
    Page->Call(Center, R"({"method":"addInstanceObserver","type":"Pipe","notification":"Read","sender":")" + PipeId +
                           R"(","callbackId":"out"})");
    Call(R"({"method":"setApplicationName","applicationName":"/bin/sh"})");
    Call(R"({"method":"setArguments","arguments":"-c \"echo hi; exit 3\""})");
    Call(R"({"method":"setElevationRights","elevationRights":2})");
    EXPECT_EQ(Call(R"({"method":"launch"})"), R"({"returnValue":true})");
    std::string All = Page->PumpUntil("\"Complete\"");
    All = Page->PumpUntil("\"out\"");
    const size_t Start = All.find(R"("callbackId":"Start")"), Ready = All.find(R"("callbackId":"Ready")"),
                 Complete = All.find(R"("callbackId":"Complete")");
    ASSERT_NE(Complete, std::string::npos) << All;
    EXPECT_LT(Start, Ready);
    EXPECT_LT(Ready, Complete);
    EXPECT_NE(All.find(R"("info":{"successful":true,"exitCode":3})"), std::string::npos) << All;
    EXPECT_NE(All.find(R"("info":{"buffer":"aGkK"})"), std::string::npos) << All;
    // Fixed once complete.
    const std::string Time = Call(R"({"method":"getRunningTime"})");
    EXPECT_EQ(Call(R"({"method":"getRunningTime"})"), Time);
}

} // namespace
