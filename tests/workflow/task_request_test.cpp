// Task document requests against the scripted peer: the retry schedule and
// its log lines on the test clock, a failure followed by success, a second
// request dropping the first, authentication of plain JSON over http,
// headers and cookies from task arguments with macros, and the 956 report
// of a completed task's unfinished request.
#include "workflow/task_request.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "net/web_get.h"
#include "tests/support/http_peer.h"
#include "tests/support/log_capture.h"
#include "tests/support/workflow_loop.h"
#include "tests/support/temp_root.h"
#include "workflow/task_arguments.h"
#include "workflow/workflow.h"
#include "workflow/workflow_event.h"
#include "workflow/app/workflow_app_web.h"

namespace {

const char Document[] = R"({
  "plain": {"type": "Test", "outcome": "hold"},
  "noauth": {"type": "Test", "outcome": "hold", "authenticate": false},
  "auth": {"type": "Test", "outcome": "hold", "authenticate": true},
  "echo": {"type": "Macro", "authenticate": false,
           "headers": {"X-Who": "{who}", "X-Plain": "text"}, "cookies": {"session": "{who}-1"}},
  "macros": {"type": "Macro", "authenticate": false, "url": "{peer}/json"},
  "aggregate": {"type": "Aggregate", "authenticate": false, "url": "{peer}/aggregate", "source": "list"},
  "badSource": {"type": "Aggregate", "authenticate": false, "url": "{peer}/aggregate", "source": "flat"},
  "missing": {"type": "Aggregate", "authenticate": false, "url": "{peer}/status/404"},
  "job": {"type": "Test", "label": "base"}
})";

struct Outcome {
    bool Done = false;
    bool Successful = false;
    std::string Errors;
};

int32 RecordRun(Workflow *, void *User, Dictionary *Result) {
    Outcome *Out = static_cast<Outcome *>(User);
    uint32 Flag = 0;
    Dictionary_GetBooleanByKey(Result, "successful", &Flag);
    Out->Successful = Flag != 0;
    char Text[1024] = "";
    Dictionary_GetListStringByKey(Result, "errors", Text, (int32)sizeof(Text));
    Out->Errors = Text;
    Out->Done = true;
    return TRUE;
}

struct Answer {
    int Calls = 0;
    int32 Error = -1;
    int32 SubCode = -1;
    std::string Name;
};

int32 Record(Task *, void *User, Dictionary *Document, int32 Error, int32 SubCode) {
    Answer *Into = static_cast<Answer *>(User);
    Into->Calls++;
    Into->Error = Error;
    Into->SubCode = SubCode;
    Dictionary *Root = nullptr;
    Dictionary_SkipRoot(Document, &Root);
    const char *Text = nullptr;
    if (Error == 0 && Dictionary_GetStringPtrByKey(Root, "name", &Text) && Text != nullptr) Into->Name = Text;
    if (Error == 0 && Dictionary_GetStringPtrByKey(Root, "second", &Text) && Text != nullptr) Into->Name = Text;
    return TRUE;
}

class TaskRequestTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    HttpPeer *Peer = nullptr;

    void SetUp() override {
        WorkflowTest::SetUp();
        WorkflowApp_WebStart();
        SetMainLoopTick([] { WorkflowApp_WebProcess(); });
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadBuffer(Flow, Document, (int32)sizeof(Document) - 1));
        Workflow_AddMacro(Flow, "who", "macro-value");
        Peer = new HttpPeer();
        Workflow_AddMacro(Flow, "peer", Peer->Url("").c_str());
    }
    void TearDown() override {
        Debug_PrintCallback(nullptr);
        delete Peer;
        if (Flow != nullptr) Workflow_Release(&Flow);
        SetMainLoopTick(nullptr);
        WorkflowApp_WebStop();
        WorkflowTest::TearDown();
    }
    Task *Make(const char *Name) {
        Task *Made = nullptr;
        EXPECT_TRUE(Workflow_CreateTask(Flow, Name, nullptr, nullptr, &Made)) << Name;
        // Started and held by the test type, as a fetching type's task is.
        Task_Start(Made);
        RunMainLoopPasses(2);
        return Made;
    }
    // Passes of the loop until the condition holds; bounded by passes, not
    // time, so that a stopped test clock cannot hold the test.
    static bool Until(const std::function<bool()> &Condition, int Passes = 5000) {
        for (int Pass = 0; Pass < Passes; Pass++) {
            RunMainLoopPasses(1);
            if (Condition()) return true;
            Thread_Wait(1);
        }
        return false;
    }
    static int Count(const std::string &Text) {
        int Found = 0;
        for (size_t At = Captured.find(Text); At != std::string::npos; At = Captured.find(Text, At + 1)) Found++;
        return Found;
    }
};

TEST_F(TaskRequestTest, RetryScheduleOnTheTestClock) {
    Time_TestClockStart(1000);
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    Task *Fetch = Make("noauth");
    Answer Result;
    RefusingPort Refusing;
    int Port = Refusing.Port();
    std::string Url = "http://127.0.0.1:" + std::to_string(Port) + "/doc.json";
    // Every failed connection is reported with the peer's address.
    static std::vector<std::string> Reports;
    Reports.clear();
    auto Observe = [](void *, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        char Ip[64] = "";
        int64 RemotePort = 0;
        Dictionary_GetStringByKey(Info, "remoteIp", Ip, (int32)sizeof(Ip));
        Dictionary_GetInt64ByKey(Info, "remotePort", &RemotePort);
        Reports.push_back(std::string(Ip) + ":" + std::to_string(RemotePort));
        return TRUE;
    };
    NotificationCenter_AddObserver("WebGetConnection", "Error", &Reports, Observe);
    // Each retry is announced with its delay, its count and what failed.
    static std::vector<std::string> Retries;
    Retries.clear();
    auto OnRetry = [](void *, const char *, const char *, const char *, Dictionary *Info) -> int32 {
        char Text[256] = "", Errors[256] = "";
        float64 Delay = 0;
        int32 Retry = 0, Most = 0;
        Dictionary_GetStringByKey(Info, "url", Text, (int32)sizeof(Text));
        Dictionary_GetFloat64ByKey(Info, "delay", &Delay);
        Dictionary_GetInt32ByKey(Info, "retry", &Retry);
        Dictionary_GetInt32ByKey(Info, "maxRetries", &Most);
        Dictionary_GetListStringByKey(Info, "errors", Errors, (int32)sizeof(Errors));
        Retries.push_back(std::to_string((int)Delay) + " " + std::to_string(Retry) + "/" + std::to_string(Most) +
                          " " + Errors + " " + Text);
        return TRUE;
    };
    NotificationCenter_AddObserver("TaskRequest", "Retry", &Retries, OnRetry);
    ASSERT_TRUE(Task_RequestJSON(Fetch, Url.c_str(), &Result, Record));
    const char *Lines[] = {"Waiting for retry 15.00s (1/3)", "Waiting for retry 30.00s (2/3)",
                           "Waiting for retry 60.00s (3/3)"};
    const uint64 Delays[] = {15000, 30000, 60000};
    for (int Retry = 0; Retry < 3; Retry++) {
        ASSERT_TRUE(Until([&] { return Count(Lines[Retry]) == 1; })) << Lines[Retry];
        // Nothing more happens until the delay has passed on the test clock.
        Time_TestClockAdvance(Delays[Retry] - 1);
        RunMainLoopPasses(20);
        EXPECT_EQ(Count("Request failed"), Retry + 1);
        EXPECT_EQ(Result.Calls, 0);
        Time_TestClockAdvance(1);
    }
    ASSERT_TRUE(Until([&] { return Result.Calls == 1; }));
    EXPECT_EQ(Count("Request failed"), 4); // four attempts
    EXPECT_EQ(Count("Waiting for retry"), 3);
    EXPECT_EQ(Result.Error, WEBGET_ERROR_CONNECT);
    EXPECT_EQ(Result.SubCode, ECONNREFUSED);
    EXPECT_TRUE(Task_HasError(Fetch, "WebGet_Error_Connect"));
    EXPECT_TRUE(Task_HasError(Fetch, "connection refused"));
    EXPECT_FALSE(Task_HasRequest(Fetch));
    NotificationCenter_RemoveObserver("WebGetConnection", "Error", &Reports, Observe);
    NotificationCenter_RemoveObserver("TaskRequest", "Retry", &Retries, OnRetry);
    EXPECT_EQ(Reports, std::vector<std::string>(4, "127.0.0.1:" + std::to_string(Port)));
    ASSERT_EQ(Retries.size(), 3u);
    EXPECT_EQ(Retries[0], "15 1/3 WebGet_Error_Connect" "connection refused " + Url);
    EXPECT_EQ(Retries[2], "60 3/3 WebGet_Error_Connect" "connection refused " + Url);
    Task_Complete(Fetch, nullptr);
}

// A local document that cannot be read or parsed, or lacks its signature,
// fails on the first attempt (the stopped test clock would hold any retry),
// with the reason; a missing remote document names its status.
TEST_F(TaskRequestTest, LocalDocumentsFailAtOnceWithTheReason) {
    std::string Directory = TempRoot() + "/taskrequestXXXXXX";
    ASSERT_NE(mkdtemp(Directory.data()), nullptr);
    std::string Base = Directory;
    std::ofstream(Base + "/bad.yaml") << "key: [unclosed\n";
    std::ofstream(Base + "/bad.json") << "{\"a\": [1, 2";
    std::ofstream(Base + "/good.json") << "{\"name\": \"value\"}";
    ASSERT_EQ(mkfifo((Base + "/fifo.json").c_str(), 0600), 0);
    struct Case {
        std::string Url;
        const char *TaskName;
        std::vector<std::string> Errors;
    } Cases[] = {
        {"file://" + Base + "/bad.yaml", "noauth",
         {"Yaml_Error_EndOfStream", "WebGet_Error_YAML",
          "read as YAML (the name ends in .yaml): Unexpected end of stream at line 2, column 1"}},
        {"file://" + Base + "/bad.json", "noauth", {"Json_Error_UnknownLength", "WebGet_Error_JSON"}},
        {"file://" + Base + "/none.json", "noauth", {"Platform_Error_Missing"}},
        {"file://" + Base + "/fifo.json", "noauth", {"Not a regular file (" + Base + "/fifo.json)"}},
        {"file://" + Base + "/good.json", "auth", {"Json_Error_Authenticate", "Document is not signed"}},
        {Peer->Url("/status/404"), "noauth", {"Http_Error_404", "WebGet_Error_Custom"}},
    };
    Time_TestClockStart(1000);
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    for (const Case &Each : Cases) {
        Task *Fetch = Make(Each.TaskName);
        Answer Result;
        ASSERT_TRUE(Task_RequestAuto(Fetch, Each.Url.c_str(), &Result, Record));
        bool Remote = Each.Url.rfind("http", 0) == 0;
        ASSERT_TRUE(Until([&] { return Result.Calls == 1 || (Remote && Count("Waiting for retry") > 0); }))
            << Each.Url;
        for (const std::string &Error : Each.Errors)
            EXPECT_TRUE(Task_HasError(Fetch, Error.c_str())) << Each.Url << " " << Error;
        EXPECT_EQ(Count("Waiting for retry"), Remote ? 1 : 0) << Each.Url;
        Task_Complete(Fetch, nullptr);
        RunMainLoopPasses(5);
    }
    Time_TestClockStop();
    for (const char *Name : {"bad.yaml", "bad.json", "good.json", "fifo.json"}) unlink((Base + "/" + Name).c_str());
    rmdir(Directory.c_str());
}

TEST_F(TaskRequestTest, FailureThenSuccessLeavesNoError) {
    Time_TestClockStart(1000);
    Task *Fetch = Make("noauth");
    Answer Result;
    ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/failonce/a").c_str(), &Result, Record));
    ASSERT_TRUE(Until([&] { return Task_HasError(Fetch, "WebGet_Error_Custom") != 0; }));
    Time_TestClockAdvance(15000);
    ASSERT_TRUE(Until([&] { return Result.Calls == 1; }));
    EXPECT_EQ(Result.Error, 0);
    EXPECT_EQ(Result.Name, "try");
    int32 Errors = -1;
    Task_GetErrorCount(Fetch, &Errors);
    EXPECT_EQ(Errors, 0);
    Task_Complete(Fetch, nullptr);
}

TEST_F(TaskRequestTest, SecondRequestDropsTheFirstSilently) {
    Task *Fetch = Make("noauth");
    Answer First, Second;
    ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/silent").c_str(), &First, Record));
    RunMainLoopPasses(5);
    ASSERT_TRUE(Task_RequestAuto(Fetch, Peer->Url("/json").c_str(), &Second, Record));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Second.Calls == 1; }));
    RunMainLoopPasses(5);
    EXPECT_EQ(First.Calls, 0);
    EXPECT_EQ(Second.Error, 0);
    EXPECT_EQ(Second.Name, "value");
    Task_Complete(Fetch, nullptr);
}

TEST_F(TaskRequestTest, PlainJSONOverHttpNeedsAuthenticateFalseWhileAuthenticationIsOn) {
    ASSERT_TRUE(Authenticate_Enabled());
    struct Case {
        const char *TaskName;
        int32 Error;
        const char *Identifier;
    } Cases[] = {
        {"plain", WEBGET_ERROR_JSON, "Json_Error_Authenticate"},
        {"auth", WEBGET_ERROR_JSON, "Json_Error_Authenticate"},
        {"noauth", 0, nullptr},
    };
    for (const Case &Each : Cases) {
        Task *Fetch = Make(Each.TaskName);
        Answer Result;
        // A document that arrived whole and failed its signature check is
        // not fetched again: the stopped test clock would hold a retry.
        Time_TestClockStart(1000);
        ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/json").c_str(), &Result, Record));
        ASSERT_TRUE(Until([&] { return Result.Calls == 1; })) << Each.TaskName;
        EXPECT_EQ(Result.Error, Each.Error) << Each.TaskName;
        if (Each.Identifier != nullptr) {
            EXPECT_TRUE(Task_HasError(Fetch, Each.Identifier)) << Each.TaskName;
        } else {
            EXPECT_EQ(Result.Name, "value");
        }
        Time_TestClockStop();
        Task_Complete(Fetch, nullptr);
    }
    // With authentication off the plain document loads for every task.
    Authenticate_SetEnabled(0);
    Task *Fetch = Make("plain");
    Answer Result;
    ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/json").c_str(), &Result, Record));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Result.Calls == 1; }));
    EXPECT_EQ(Result.Error, 0);
    Authenticate_SetEnabled(1);
    Task_Complete(Fetch, nullptr);
}

TEST_F(TaskRequestTest, HeadersAndCookiesFromArgumentsUseMacros) {
    // A fetching type's request sends what the check of its arguments read.
    Task *Fetch = nullptr;
    ASSERT_TRUE(Workflow_CreateTask(Flow, "echo", nullptr, nullptr, &Fetch) && TaskInt_CheckArguments(Fetch));
    Workflow_AddMacro(Flow, "who", "set-after-the-check");
    struct Echo {
        int Calls = 0;
        std::string Who, Plain, Cookie;
    } Seen;
    ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/echo").c_str(), &Seen,
                                 [](Task *, void *User, Dictionary *Document, int32 Error, int32) {
                                     Echo *Into = static_cast<Echo *>(User);
                                     Into->Calls++;
                                     EXPECT_EQ(Error, 0);
                                     Dictionary *Root = nullptr, *Headers = nullptr, *Cookies = nullptr;
                                     Dictionary_SkipRoot(Document, &Root);
                                     const char *Text = nullptr;
                                     if (Dictionary_GetDictionaryByKey(Root, "headers", &Headers)) {
                                         if (Dictionary_GetStringPtrByKey(Headers, "x-who", &Text)) Into->Who = Text;
                                         if (Dictionary_GetStringPtrByKey(Headers, "x-plain", &Text)) Into->Plain = Text;
                                     }
                                     if (Dictionary_GetDictionaryByKey(Root, "cookies", &Cookies) &&
                                         Dictionary_GetStringPtrByKey(Cookies, "session", &Text))
                                         Into->Cookie = Text;
                                     return TRUE;
                                 }));
    ASSERT_TRUE(RunMainLoopUntil([&] { return Seen.Calls == 1; }));
    EXPECT_EQ(Seen.Who, "macro-value");
    EXPECT_EQ(Seen.Plain, "text");
    EXPECT_EQ(Seen.Cookie, "macro-value-1");
    Task_Complete(Fetch, nullptr);
}

TEST_F(TaskRequestTest, UnfinishedRequestOfACompletedTask) {
    // Deleted explicitly: the callback hears 956 (user abort).
    Task *Fetch = Make("noauth");
    Answer Result;
    ASSERT_TRUE(Task_RequestJSON(Fetch, Peer->Url("/silent").c_str(), &Result, Record));
    RunMainLoopPasses(5);
    Task_Complete(Fetch, nullptr);
    RunMainLoopPasses(3);
    ASSERT_TRUE(Task_RequestDelete(Fetch, TRUE));
    EXPECT_EQ(Result.Calls, 1);
    EXPECT_EQ(Result.Error, WEBGET_ERROR_USERABORT);
    // Deleted with its task: silently, the type object being gone next.
    Task *Other = Make("noauth");
    Answer Silent;
    ASSERT_TRUE(Task_RequestJSON(Other, Peer->Url("/silent").c_str(), &Silent, Record));
    RunMainLoopPasses(5);
    Task_Complete(Other, nullptr);
    RunMainLoopPasses(3);
    Workflow_Release(&Flow);
    RunMainLoopPasses(3);
    EXPECT_EQ(Silent.Calls, 0);
}

TEST_F(TaskRequestTest, MacroAndAggregateFetchTheirDocuments) {
    Outcome Macros;
    Workflow_RunTask(Flow, "macros", &Macros, RecordRun);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Macros.Done; }));
    EXPECT_TRUE(Macros.Successful) << Macros.Errors;
    char Value[64] = "{name}";
    Workflow_ExpandString(Flow, Value, (int32)sizeof(Value));
    EXPECT_STREQ(Value, "value");

    TestTaskStarts().clear();
    Outcome Aggregate;
    Workflow_RunTask(Flow, "aggregate", &Aggregate, RecordRun);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Aggregate.Done; }));
    EXPECT_TRUE(Aggregate.Successful) << Aggregate.Errors;
    EXPECT_EQ(TestTaskStarts(), (std::vector<std::string>{"job", "job"}));

    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    Outcome Bad;
    Workflow_RunTask(Flow, "badSource", &Bad, RecordRun);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Bad.Done; }));
    EXPECT_FALSE(Bad.Successful);
    EXPECT_NE(Bad.Errors.find("Aggregate_Error_Merge"), std::string::npos);
    EXPECT_NE(Captured.find("Failed to find source path - flat"), std::string::npos);
}

TEST_F(TaskRequestTest, AggregateWhoseDocumentIsMissingCompletesWithTheError) {
    Time_TestClockStart(1000);
    Outcome Missing;
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    Workflow_RunTask(Flow, "missing", &Missing, RecordRun);
    // Each delay passes on the test clock once its retry is set.
    for (int Retry = 1; Retry <= 3; Retry++) {
        ASSERT_TRUE(Until([&] { return Count("Waiting for retry") == Retry; })) << Retry;
        Time_TestClockAdvance(61000);
    }
    ASSERT_TRUE(Until([&] { return Missing.Done; }));
    EXPECT_FALSE(Missing.Successful);
    EXPECT_NE(Missing.Errors.find("WebGet_Error_Custom"), std::string::npos);
}

} // namespace
