// "TQX.NotificationCenter" end to end through the bridge's JSON dispatch:
// the core family makes the instance, the page observes and fires with JSON
// requests, and the next page batch carries the item with its members in
// order (read back with Python's json). Failures of the dispatcher
// conventions, delayed fires on the test clock and shared page registrations.
#include "runtime/notification/notification_center_script.h"

#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

std::vector<std::string> Batches;

// The skin window's script-execution function: what the page receives.
int32 PageExecute(void *User, const char *InstanceId, const char *Batch, void *Reserved) {
    (void)User;
    (void)InstanceId;
    (void)Reserved;
    Batches.emplace_back(Batch);
    return TRUE;
}

int Window = 0;

class NotificationCenterScriptTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Batches.clear();
        StartBridge();
        Interop_Add("host", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                    CoreInterop_SetOption);
    }
    void TearDown() override {
        Interop_RemoveInstancesActiveInRequester(nullptr);
        EndBridge();
        Time_TestClockStop();
        RuntimeTest::TearDown();
    }
    std::string CreateCenter() {
        char Id[INTEROP_ID_SIZE] = "undefined";
        EXPECT_TRUE(Interop_DispatchCreateInstance("TQX.NotificationCenter", Id, (int32)sizeof(Id), &Window, &Window,
                                                   PageExecute));
        return Id;
    }
    std::string Call(const std::string &Id, const std::string &Json) { return InvokeJson(Id, Json); }
    std::vector<std::string> TakeBatches() {
        EventQueue_Flush(nullptr);
        Interop_Process();
        std::vector<std::string> Taken;
        Taken.swap(Batches);
        return Taken;
    }
};

const std::string True = "{\"returnValue\":true}";
const std::string False = "{\"returnValue\":false}";

} // namespace

TEST_F(NotificationCenterScriptTest, ObserveFireAndTheNextBatchCarriesTheItem) {
    std::string Id = CreateCenter();
    ASSERT_EQ(Id.size(), 32u);
    EXPECT_EQ(Call(Id, R"({"method":"addObserver","type":"Task","notification":"Status","callbackId":"c1"})"), True);
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"task","notification":"STATUS","sender":"ABC",)"
                       R"("info":"{\"state\":\"done\",\"n\":[1,2]}"})"),
              True);
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"Task","notification":"Status","sender":"Global","info":"{}"})"),
              True);
    std::vector<std::string> Taken = TakeBatches();
    ASSERT_EQ(Taken.size(), 1u);
    EXPECT_EQ(RunPython("import json,sys\nb=json.loads(sys.stdin.read())\n"
                        "print([list(i.keys()) for i in b])\nprint(b)",
                        Taken[0]),
              "[['type', 'notification', 'sender', 'callbackId', 'info'], "
              "['type', 'notification', 'sender', 'callbackId', 'info']]\n"
              "[{'type': 'Task', 'notification': 'Status', 'sender': 'ABC', 'callbackId': 'c1', "
              "'info': {'state': 'done', 'n': [1, 2]}}, "
              "{'type': 'Task', 'notification': 'Status', 'sender': 'Global', 'callbackId': 'c1', 'info': {}}]\n")
        << Taken[0];

    EXPECT_EQ(Call(Id, R"({"method":"removeObserver","type":"Task","notification":"Status","callbackId":"C1"})"),
              True);
    EXPECT_EQ(Call(Id, R"({"method":"removeObserver","type":"Task","notification":"Status","callbackId":"c1"})"),
              False);
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"Task","notification":"Status","sender":"x","info":"{}"})"), True);
    EXPECT_TRUE(TakeBatches().empty());
}

TEST_F(NotificationCenterScriptTest, InstanceObserversAndTheWildcard) {
    std::string Id = CreateCenter();
    EXPECT_EQ(Call(Id, R"({"method":"addInstanceObserver","type":"Task","notification":"Status","sender":"ABC",)"
                       R"("callbackId":"one"})"),
              True);
    EXPECT_EQ(Call(Id, R"({"method":"addObserver","type":"Global","notification":"Global","callbackId":"all"})"),
              True);
    NotificationCenter_Fire("Task", "Status", "ABC", nullptr);
    NotificationCenter_Fire("Job", "Done", "XYZ", nullptr);
    std::vector<std::string> Taken = TakeBatches();
    ASSERT_EQ(Taken.size(), 1u);
    EXPECT_EQ(RunPython("import json,sys\nprint([(i['callbackId'],i['type'],i['notification'],i['sender']) "
                        "for i in json.loads(sys.stdin.read())])",
                        Taken[0]),
              "[('all', 'Task', 'Status', 'ABC'), ('one', 'Task', 'Status', 'ABC'), ('all', 'Job', 'Done', 'XYZ')]\n");
    EXPECT_EQ(Call(Id, R"({"method":"removeInstanceObserver","type":"Task","notification":"Status","sender":"ABC",)"
                       R"("callbackId":"one"})"),
              True);
}

TEST_F(NotificationCenterScriptTest, DelayedFiresOnTheClock) {
    Time_TestClockStart(5000);
    std::string Id = CreateCenter();
    Call(Id, R"({"method":"addObserver","type":"Timer","notification":"Tick","callbackId":"t"})");
    EXPECT_EQ(Call(Id, R"({"method":"fireAfterDelay","type":"Timer","notification":"Tick","sender":"now",)"
                       R"("delay":0,"info":"{}"})"),
              True);
    // Delay 0: the center's step is posted, the next flush delivers.
    std::vector<std::string> Taken = TakeBatches();
    ASSERT_EQ(Taken.size(), 1u);
    EXPECT_NE(Taken[0].find("\"sender\":\"now\""), std::string::npos);

    EXPECT_EQ(Call(Id, R"({"method":"fireAfterDelay","type":"Timer","notification":"Tick","sender":"later",)"
                       R"("delay":1500,"info":"{}"})"),
              True);
    Time_TestClockAdvance(1499);
    NotificationCenter_Process();
    EXPECT_TRUE(TakeBatches().empty());
    Time_TestClockAdvance(1);
    NotificationCenter_Process();
    Taken = TakeBatches();
    ASSERT_EQ(Taken.size(), 1u);
    EXPECT_NE(Taken[0].find("\"sender\":\"later\""), std::string::npos);
    // What a delayed fire holds counts against the pages' bound until it fires.
    const std::string Half = R"({"method":"fireAfterDelay","type":"Timer","notification":"Tick","sender":"big",)"
                             R"("delay":1500,"info":"{\"a\":\")" +
                             std::string(INTEROP_QUEUE_LIMIT / 2, 'x') + R"(\"}"})";
    EXPECT_EQ(Call(Id, Half), True);
    EXPECT_NE(Call(Id, Half).find("refused: what waits for the pages is bounded to 64 MiB"), std::string::npos);
    Time_TestClockAdvance(1500);
    NotificationCenter_Process();
    EXPECT_EQ(TakeBatches().size(), 1u);
    EXPECT_EQ(Call(Id, Half), True);
}

TEST_F(NotificationCenterScriptTest, ParameterFailuresAnswerFalseAndNothingForThePage) {
    std::string Id = CreateCenter();
    Dictionary *Request = nullptr, *Result = nullptr;
    Dictionary_Create(&Request);
    Dictionary_Create(&Result);
    Dictionary_SetStringByKey(Request, "method", "addObserver");
    Dictionary_SetInt32ByKey(Request, "#methodHash", (int32)0x2465756e);
    Dictionary_SetStringByKey(Request, "type", "Task");
    EXPECT_EQ(NotificationCenter_Invoke(nullptr, Request, Result), 0);
    uint32 Flag = 1;
    EXPECT_TRUE(Dictionary_GetBooleanByKey(Result, "returnValue", &Flag));
    EXPECT_EQ(Flag, 0u);
    EXPECT_NE(Captured.find("Parameter missing (NotificationCenter.addObserver::notification)\n"), std::string::npos);
    Dictionary_Release(&Request);
    Dictionary_Release(&Result);

    // Through the bridge a 0 answer leaves the page no answer.
    EXPECT_EQ(Call(Id, R"({"method":"addObserver","type":"Task"})"), "");
    // "info" must be JSON text, not an object.
    Captured.clear();
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"T","notification":"N","sender":"S","info":{}})"), "");
    EXPECT_NE(Captured.find("Incorrect parameter type (NotificationCenter.fire::info)\n"), std::string::npos);
    // Text that is not JSON fires nothing, and the answer says why.
    const std::string Unread = R"({"error":"refused: the info is no JSON object of at most 31 levels, )"
                               R"(so no page could have it","returnValue":false})";
    Call(Id, R"({"method":"addObserver","type":"T","notification":"N","callbackId":"c"})");
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"T","notification":"N","sender":"S","info":"{oops"})"), Unread);
    EXPECT_EQ(Call(Id, R"({"method":"fireAfterDelay","type":"T","notification":"N","sender":"S","delay":"5",)"
                       R"("info":"{}"})"),
              "");
    // JSON that is not an object would reach every page as "info" members
    // without keys: nothing is fired.
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"T","notification":"N","sender":"S","info":"[1,2]"})"), Unread);
    EXPECT_EQ(Call(Id, R"({"method":"fire","type":"T","notification":"N","sender":"S","info":"5"})"), Unread);
    EXPECT_EQ(Call(Id, R"({"method":"fireAfterDelay","type":"T","notification":"N","sender":"S","delay":0,)"
                       R"("info":"null"})"),
              Unread);
    EXPECT_TRUE(TakeBatches().empty());
    // A method the class does not have: no answer, nothing logged.
    Captured.clear();
    EXPECT_EQ(Call(Id, R"({"method":"explode"})"), "");
    EXPECT_EQ(Captured.find("ERROR"), std::string::npos) << Captured;
}

TEST_F(NotificationCenterScriptTest, LongCallbackIdsAreCutButStillRemoveTheirObserver) {
    std::string Id = CreateCenter();
    const std::string Long(50, 'k');
    EXPECT_EQ(Call(Id, R"({"method":"addObserver","type":"L","notification":"N","callbackId":")" + Long + "\"}"),
              True);
    NotificationCenter_Fire("L", "N", nullptr, nullptr);
    std::vector<std::string> Taken = TakeBatches();
    ASSERT_EQ(Taken.size(), 1u);
    EXPECT_NE(Taken[0].find("\"callbackId\":\"" + Long.substr(0, 39) + "\""), std::string::npos) << Taken[0];
    EXPECT_EQ(Call(Id, R"({"method":"removeObserver","type":"L","notification":"N","callbackId":")" + Long + "\"}"),
              True);
    NotificationCenter_Fire("L", "N", nullptr, nullptr);
    EXPECT_TRUE(TakeBatches().empty());
}

TEST_F(NotificationCenterScriptTest, InteropReferences) {
    std::string Id = CreateCenter();
    EXPECT_EQ(Call(Id, R"({"method":"addRefInteropReference","instanceId":"0123456789abcdef0123456789abcdef"})"), True);
    EXPECT_EQ(Call(Id, R"({"method":"releaseInteropReference","instanceId":"0123456789abcdef0123456789abcdef"})"),
              True);
    EXPECT_EQ(Call(Id, R"({"method":"releaseInteropReference","instanceId":"0123456789abcdef0123456789abcdef"})"),
              False);
}

TEST_F(NotificationCenterScriptTest, TwoInstancesOfAPageShareOneRegistration) {
    std::string First = CreateCenter();
    std::string Second = CreateCenter();
    EXPECT_NE(First, Second);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 1);
    Call(First, R"({"method":"addObserver","type":"A","notification":"B","callbackId":"c"})");

    Interop_DispatchReleaseInstance(First.c_str());
    Interop_Process();
    EXPECT_FALSE(Interop_DispatchHasInstance(First.c_str()));
    // The other instance still holds the page's registration.
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 1);
    NotificationCenter_Fire("A", "B", nullptr, nullptr);
    EXPECT_EQ(TakeBatches().size(), 1u);

    Interop_DispatchReleaseInstance(Second.c_str());
    Interop_Process();
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 0);
    NotificationCenter_Fire("A", "B", nullptr, nullptr);
    EXPECT_TRUE(TakeBatches().empty());
    NotificationCenter_RemoveObserverInterop("A", "B", "c");
}
