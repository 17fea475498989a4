// The script bridge with families linked into the test: registration order
// and hand-over, instance creation, references and removal, dispatch with
// the method selector, the JSON form, script callbacks, page registrations
// and the page batch (checked with Python's json), the step budgets on the
// test clock, unloading on its own thread, and walks that survive removals.
//
// The gtest thread is the main thread.
#include "runtime/script/interop.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "runtime/event_queue.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"
#include "runtime/time.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

std::vector<std::string> Calls;

// What one script instance of a test family has seen.
struct Probe {
    int32 Processed = 0;
    int32 Released = 0;
    std::string ReleasedId;
    // Run by the process function, after counting.
    void (*OnProcess)(Probe *Self) = nullptr;
    void *Requester = nullptr;
};

int32 ProbeProcess(void *User) {
    auto *Self = static_cast<Probe *>(User);
    Self->Processed++;
    if (Self->OnProcess != nullptr) Self->OnProcess(Self);
    return TRUE;
}

int32 ProbeRelease(void **UserAddress, const char *Id) {
    auto *Self = static_cast<Probe *>(*UserAddress);
    Self->Released++;
    Self->ReleasedId = Id;
    return TRUE;
}

// "echo" answers its "text"; every method reports the selector it received.
int32 ProbeInvoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    int32 Hash = 0;
    Dictionary_GetInt32ByKey(Request, "methodHash", &Hash);
    Dictionary_SetInt64ByKey(Result, "methodHash", (int64)(uint32)Hash);
    const char *Text = nullptr;
    if (!Dictionary_GetStringPtrByKey(Request, "text", &Text)) return FALSE;
    Dictionary_SetStringByKey(Result, "returnValue", Text);
    return TRUE;
}

// Families A and B: each makes the class names it is told, with the next
// probe of the test as user pointer.
struct FamilyState {
    std::vector<std::string> Accepts;
    std::vector<std::string> Overrides;
    std::vector<std::string> Options;
    std::vector<Probe *> Probes;
    const char *FixedId = nullptr; // written into the id buffer when set
    bool NoInvoke = false;
    int32 Unloads = 0;
    uint32 UnloadThread = 0;
};

template <int Index> struct Family {
    static FamilyState State;
    static std::string Tag() { return std::string(1, (char)('A' + Index)); }
    static int32 Load() {
        Calls.push_back(Tag() + ":Load");
        return TRUE;
    }
    static int32 Unload() {
        Calls.push_back(Tag() + ":Unload");
        State.UnloadThread = Thread_GetCurrentId();
        __atomic_add_fetch(&State.Unloads, 1, __ATOMIC_SEQ_CST);
        return TRUE;
    }
    static int32 SetOverride(const char *Name, void *Function) {
        State.Overrides.push_back(Name);
        return Function != nullptr;
    }
    static int32 SetOption(const char *Name, const char *Value) {
        State.Options.push_back(std::string(Name) + "=" + Value);
        return TRUE;
    }
    static int32 Create(const char *ClassName, char *IdBuffer, int32 IdSize, void *ExecuteUser,
                        Interop_ExecuteFunc ExecuteFunction, Interop_InvokeFunc *Invoke, Interop_ReleaseFunc *Release,
                        Interop_ProcessFunc *Process, void **User) {
        (void)ExecuteUser;
        (void)ExecuteFunction;
        Calls.push_back(Tag() + ":Create(" + ClassName + ")");
        EXPECT_EQ(*Invoke, nullptr);
        EXPECT_EQ(*User, nullptr);
        bool Known = false;
        for (const std::string &Name : State.Accepts) Known |= Name == ClassName;
        if (!Known) return FALSE;
        if (State.FixedId != nullptr) String_CopyLength(IdBuffer, State.FixedId, IdSize);
        *Invoke = State.NoInvoke ? nullptr : ProbeInvoke;
        *Release = ProbeRelease;
        *Process = ProbeProcess;
        auto *Made = new Probe();
        State.Probes.push_back(Made);
        *User = Made;
        return TRUE;
    }
    static InteropLibrary *Add() {
        return Interop_Add(Tag().c_str(), Load, Unload, Create, SetOverride, SetOption);
    }
};
template <int Index> FamilyState Family<Index>::State;
using FamilyA = Family<0>;
using FamilyB = Family<1>;

std::vector<std::string> Batches;
// Each batch's senders, "!" before those retained.
std::vector<std::string> Senders;
int32 RecordBatch(void *User, const char *InstanceId, const char *Batch, void *Reserved) {
    (void)User;
    EXPECT_EQ(strlen(InstanceId), 32u);
    const auto *Facts = static_cast<const InteropBatchFacts *>(Reserved);
    std::string Seen;
    for (int32 Index = 0; Index < Facts->Count; Index++)
        Seen += std::string(Facts->Retained[Index] ? "!" : "") + Facts->Senders[Index] + ";";
    Senders.push_back(Seen);
    Batches.emplace_back(Batch);
    return TRUE;
}

std::string Create(const char *ClassName, const char *Id = "", void *Requester = nullptr) {
    char Buffer[INTEROP_ID_SIZE];
    String_CopyLength(Buffer, Id, (int32)sizeof(Buffer));
    if (!Interop_DispatchCreateInstance(ClassName, Buffer, (int32)sizeof(Buffer), Requester, nullptr, nullptr))
        return "";
    return Buffer;
}

std::string InvokeJson(const std::string &Id, const char *Json, int32 *Answer = nullptr) {
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    int32 Result = Interop_DispatchInvokeJSON(Id.c_str(), Json, Stream);
    if (Answer != nullptr) *Answer = Result;
    std::string Text;
    const char *Pointer = nullptr;
    if (MemoryStream_GetUsed(Stream) > 0 && MemoryStream_GetPointer(Stream, &Pointer)) {
        Text.assign(Pointer, (size_t)MemoryStream_GetUsed(Stream));
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);
    return Text;
}

void QueueItem(const char *Key, const char *Value) {
    Dictionary *Item = nullptr;
    Dictionary_Create(&Item);
    Dictionary_SetStringByKey(Item, Key, Value);
    Interop_Execute(nullptr, Item);
    Dictionary_Release(&Item);
}

class InteropTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Calls.clear();
        Batches.clear();
        FamilyA::State = FamilyState{};
        FamilyB::State = FamilyState{};
        StartBridge();
    }
    void TearDown() override {
        EndBridge();
        Time_TestClockStop();
        for (FamilyState *State : {&FamilyA::State, &FamilyB::State})
            for (Probe *Made : State->Probes) delete Made;
        RuntimeTest::TearDown();
    }
};

} // namespace

TEST_F(InteropTest, HostFunctionsComeFirstThenLoadThenConfiguration) {
    Dictionary *Config = nullptr;
    ASSERT_TRUE(Dictionary_Create(&Config));
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Config, "server", &Child, nullptr);
    Dictionary_AddString(Child, "host", "example", nullptr);
    Dictionary_AddBoolean(Config, "debug", 1, nullptr);
    Dictionary *List = nullptr;
    Dictionary_AddList(Config, "ports", &List, nullptr);
    Dictionary_AddInt32(List, nullptr, 80, nullptr);
    Interop_SetConfigHandle(Config);

    ASSERT_NE(FamilyA::Add(), nullptr);
    // The host's table in its order.
    EXPECT_EQ(FamilyA::State.Overrides,
              (std::vector<std::string>{
                  "Debug_Print", "Debug_Flags", "Class_ConvertFromInstanceId", "Class_ConvertToInstanceId",
                  "Class_TrackInstance", "Class_UntrackInstance", "Authenticate_Enabled", "Registry_Authorize",
                  "WebGet_Authorize", "Dictionary_Create",
                  "Dictionary_Delete", "Dictionary_Release", "NotificationCenter_AddInstanceObserver",
                  "NotificationCenter_RemoveInstanceObserver", "NotificationCenter_AssertInstance",
                  "NotificationCenter_Fire", "NotificationCenter_FireAfterDelay", "NotificationCenter_FireWithJSON",
                  "NotificationCenter_FireWithJSONV", "NotificationCenter_FireAfterDelayWithJSON",
                  "NotificationCenter_FireAfterDelayWithJSONV", "Interop_GenerateInstanceId"}));
    EXPECT_EQ(Calls, (std::vector<std::string>{"A:Load"}));
    EXPECT_EQ(FamilyA::State.Options, (std::vector<std::string>{"server.host=example", "debug=true", "ports[0]=80"}));

    Interop_DispatchSetOption("key", "value");
    EXPECT_EQ(FamilyA::State.Options.back(), "key=value");
    Interop_SetConfigHandle(nullptr);
    Dictionary_Release(&Config);
}

TEST_F(InteropTest, MissingEntryPointsAreLoggedInOrderAndNothingIsRegistered) {
    EXPECT_EQ(Interop_Add("broken", nullptr, FamilyA::Unload, nullptr, FamilyA::SetOverride, FamilyA::SetOption),
              nullptr);
    size_t Create = Captured.find("Failed to load interop: Interop_CreateInstance not found.\n");
    size_t Load = Captured.find("Failed to load interop: Interop_Load not found.\n");
    ASSERT_NE(Create, std::string::npos);
    ASSERT_NE(Load, std::string::npos);
    EXPECT_LT(Create, Load);
    EXPECT_TRUE(FamilyA::State.Overrides.empty());
    EXPECT_EQ(Interop_FreeLibraryByName("broken"), 0);
}

TEST_F(InteropTest, FamiliesAreOfferedAClassInRegistrationOrder) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyB::State.Accepts = {"X.One", "X.Two"};
    FamilyA::Add();
    FamilyB::Add();
    Calls.clear();
    EXPECT_FALSE(Create("X.One").empty());
    EXPECT_FALSE(Create("X.Two").empty());
    EXPECT_EQ(Calls, (std::vector<std::string>{"A:Create(X.One)", "A:Create(X.Two)", "B:Create(X.Two)"}));
    EXPECT_EQ(FamilyA::State.Probes.size(), 1u);
    EXPECT_EQ(FamilyB::State.Probes.size(), 1u);
    // Class names are the families' business: case matters to these.
    Calls.clear();
    EXPECT_EQ(Create("x.one", "page-id"), "");
    EXPECT_NE(Captured.find("Unhandled create instance (x.one:page-id)\n"), std::string::npos);
}

TEST_F(InteropTest, CreationIdsExistingIdsAndUndefined) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    std::string First = Create("X.One");
    std::string Second = Create("X.One");
    ASSERT_EQ(First.size(), 32u);
    EXPECT_EQ(First.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(First, Second);

    // An existing id (any case) adds a reference and asks no family.
    Calls.clear();
    std::string Upper = First;
    for (char &Ch : Upper) Ch = (char)toupper(Ch);
    EXPECT_EQ(Create("X.Two", Upper.c_str()), Upper);
    EXPECT_TRUE(Calls.empty());
    EXPECT_TRUE(Interop_DispatchReleaseInstance(First.c_str()));
    Interop_Process();
    EXPECT_TRUE(Interop_DispatchHasInstance(First.c_str()));

    std::string Fresh = Create("X.One", "UNDEFINED");
    EXPECT_EQ(Fresh.size(), 32u);
    EXPECT_TRUE(Interop_DispatchHasInstance(Fresh.c_str()));

    // A refusal leaves the page's id as it was.
    char Buffer[INTEROP_ID_SIZE] = "undefined";
    EXPECT_FALSE(Interop_DispatchCreateInstance("X.None", Buffer, (int32)sizeof(Buffer), nullptr, nullptr, nullptr));
    EXPECT_STREQ(Buffer, "undefined");
}

// The last release frees the instance at once (a page that creates and
// releases in a loop holds nothing); one released while its own step runs
// answers no further call and leaves when the step ends.
TEST_F(InteropTest, ReleasedInstancesLeaveAtOnceOrWhenTheirUseEnds) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    std::string Id = Create("X.One");
    Probe *Made = FamilyA::State.Probes.at(0);
    EXPECT_TRUE(Interop_DispatchReleaseInstance(Id.c_str()));
    EXPECT_EQ(Made->Released, 1);
    EXPECT_EQ(Made->ReleasedId, Id);
    EXPECT_FALSE(Interop_DispatchHasInstance(Id.c_str()));
    EXPECT_FALSE(Interop_DispatchReleaseInstance(Id.c_str()));
    EXPECT_NE(Captured.find("Unable to release instance. (" + Id + " not found)\n"), std::string::npos);

    static std::string Busy;
    static int32 Answer;
    Busy = Create("X.One");
    Answer = -1;
    Probe *Using = FamilyA::State.Probes.at(1);
    Using->OnProcess = [](Probe *Self) {
        Self->OnProcess = nullptr;
        EXPECT_TRUE(Interop_DispatchReleaseInstance(Busy.c_str()));
        EXPECT_EQ(Self->Released, 0);
        InvokeJson(Busy, "{\"method\":\"echo\",\"text\":\"x\"}", &Answer);
    };
    Interop_Process();
    EXPECT_EQ(Answer, 0);
    EXPECT_EQ(Using->Released, 1);
    EXPECT_FALSE(Interop_DispatchHasInstance(Busy.c_str()));
}

TEST_F(InteropTest, FamilyAnsweringWithAPublishedIdKeepsTheFirstRecord) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::State.FixedId = "shared-object";
    FamilyA::Add();
    EXPECT_EQ(Create("X.One"), "shared-object");
    EXPECT_EQ(Create("X.One"), "shared-object");
    EXPECT_NE(Captured.find("User context pointer doesn't match last instance (shared-object)\n"), std::string::npos);
    // Two creations, two references.
    Interop_DispatchReleaseInstance("shared-object");
    Interop_Process();
    EXPECT_TRUE(Interop_DispatchHasInstance("shared-object"));
    Interop_DispatchReleaseInstance("shared-object");
    Interop_Process();
    EXPECT_FALSE(Interop_DispatchHasInstance("shared-object"));
    EXPECT_EQ(FamilyA::State.Probes.at(0)->Released, 1);
    EXPECT_EQ(FamilyA::State.Probes.at(1)->Released, 0);
}

TEST_F(InteropTest, InvokeCarriesTheSelectorOfTheMethodName) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    std::string Id = Create("X.One");
    Dictionary *Request = nullptr, *Result = nullptr;
    Dictionary_Create(&Request);
    Dictionary_Create(&Result);
    Dictionary_SetStringByKey(Result, "stale", "x");
    Dictionary_SetStringByKey(Request, "method", "fileExists");
    Dictionary_SetStringByKey(Request, "text", "hi");
    EXPECT_EQ(Interop_DispatchInvoke(Id.c_str(), Request, Result), 1);
    int32 Signed = 0;
    EXPECT_TRUE(Dictionary_GetInt32ByKey(Request, "methodHash", &Signed));
    EXPECT_EQ(Signed, -1786233043);
    int64 Seen = 0;
    Dictionary_GetInt64ByKey(Result, "methodHash", &Seen);
    EXPECT_EQ(Seen, 0x95883f2d);
    EXPECT_FALSE(Dictionary_ContainsKey(Result, "stale"));

    EXPECT_EQ(Interop_DispatchInvoke("missing", Request, Result), 0);
    EXPECT_NE(Captured.find("Unable to dispatch invoke. (missing not found) (fileExists)\n"), std::string::npos);
    Dictionary_Release(&Request);
    Dictionary_Release(&Result);
}

TEST_F(InteropTest, InstanceWithoutInvokeAnswersZero) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::State.NoInvoke = true;
    FamilyA::Add();
    std::string Id = Create("X.One");
    int32 Answer = -1;
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"echo\",\"text\":\"hi\"}", &Answer), "");
    EXPECT_EQ(Answer, 0);
    EXPECT_NE(Captured.find(Id + " does not contain invoke callback. (echo)\n"), std::string::npos);
}

TEST_F(InteropTest, JsonInvokeAnswersOneObject) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    std::string Id = Create("X.One");
    int32 Answer = 0;
    std::string Text = InvokeJson(Id, "{\"method\":\"echo\",\"text\":\"h\\u00e9 \\\"q\\\"\"}", &Answer);
    EXPECT_EQ(Answer, 1);
    std::string Check = RunPython("import json,sys,zlib\nd=json.loads(sys.stdin.read())\n"
                                  "print(d['returnValue'] == 'h\\u00e9 \"q\"' and d['methodHash'] == zlib.crc32(b'echo'))",
                                  Text);
    EXPECT_EQ(Check, "True\n") << Text;

    // Not JSON, an unknown id, and a method that fails: 0 and no answer.
    EXPECT_EQ(InvokeJson(Id, "{\"method\":", &Answer), "");
    EXPECT_EQ(Answer, 0);
    EXPECT_NE(Captured.find("Invoker unable to parse method string as json ({\"method\":)\n"), std::string::npos);
    EXPECT_EQ(InvokeJson("nobody", "{\"method\":\"echo\",\"text\":\"x\"}", &Answer), "");
    EXPECT_EQ(Answer, 0);
    EXPECT_EQ(InvokeJson(Id, "{\"method\":\"echo\"}", &Answer), "");
    EXPECT_EQ(Answer, 0);
}

TEST_F(InteropTest, ScriptCallbacksById) {
    InteropCallback *Named = nullptr, *Anonymous = nullptr, *Found = nullptr;
    static int32 Raised;
    Raised = 0; // a repeated run starts afresh
    auto Function = [](void *User, void *Argument) -> int32 {
        Raised += *static_cast<int32 *>(User) + *static_cast<int32 *>(Argument);
        return 7;
    };
    int32 User = 10, Argument = 5;
    ASSERT_TRUE(Interop_AddCallback("Dialog-1", &User, Function, &Named));
    ASSERT_TRUE(Interop_AddCallback(nullptr, nullptr, nullptr, &Anonymous));
    EXPECT_EQ(strlen(Interop_GetCallbackId(Anonymous)), 32u);
    EXPECT_TRUE(Interop_GetCallbackById("dialog-1", &Found));
    EXPECT_EQ(Found, Named);
    EXPECT_EQ(Interop_RaiseCallback(Found, &Argument), 7);
    EXPECT_EQ(Raised, 15);
    EXPECT_EQ(Interop_RaiseCallback(Anonymous, &Argument), 0);
    void *Stored = nullptr;
    Interop_GetCallbackUserPtr(Named, &Stored);
    EXPECT_EQ(Stored, &User);

    // Ids are kept to 39 characters; the id a record was added with finds it.
    InteropCallback *Long = nullptr;
    const std::string LongId(50, 'L');
    ASSERT_TRUE(Interop_AddCallback(LongId.c_str(), nullptr, nullptr, &Long));
    EXPECT_EQ(std::string(Interop_GetCallbackId(Long)), LongId.substr(0, 39));
    EXPECT_TRUE(Interop_GetCallbackById(LongId.c_str(), &Found));
    EXPECT_EQ(Found, Long);
    Interop_ReleaseCallback(&Long);

    InteropCallback *Extra = Interop_AddRefCallback(Named);
    Interop_ReleaseCallback(&Extra);
    EXPECT_EQ(Extra, nullptr);
    EXPECT_TRUE(Interop_GetCallbackById("DIALOG-1", &Found));
    Interop_ReleaseCallback(&Named);
    // Released records are gone for lookups at once and freed by the step.
    EXPECT_FALSE(Interop_GetCallbackById("Dialog-1", &Found));
    EXPECT_EQ(Found, nullptr);
    Interop_Process();
    // Still referenced at the end: reported.
    Captured.clear();
    std::string AnonymousId = Interop_GetCallbackId(Anonymous);
    Interop_Remove();
    EXPECT_NE(Captured.find("Interop - Callback not removed - Id " + AnonymousId + "\n"), std::string::npos);
    EXPECT_EQ(Captured.find("Dialog-1"), std::string::npos);
    Interop_Init();
}

TEST_F(InteropTest, QueuedItemsReachEveryPageAsOneBatch) {
    InteropExecuteCallback *First = nullptr, *Second = nullptr, *Again = nullptr;
    int32 PageOne = 1, PageTwo = 2;
    Interop_AddExecuteCallback(&First, &PageOne, RecordBatch);
    Interop_AddExecuteCallback(&Second, &PageTwo, RecordBatch);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 2);

    Interop_Process();
    EXPECT_TRUE(Batches.empty()); // nothing queued: no call

    QueueItem("callbackId", "c1");
    QueueItem("text", "line\x0b tab\t \xF0\x9F\x98\x80");
    // Interop_Execute posted the step to the main queue.
    EventQueue_Flush(nullptr);
    ASSERT_EQ(Batches.size(), 2u);
    EXPECT_EQ(Batches[0], Batches[1]);
    EXPECT_EQ(RunPython("import json,sys\nd=json.loads(sys.stdin.read())\n"
                        "print(d == [{'callbackId':'c1'},{'text':'line\\x0b tab\\t \\U0001F600'}])",
                        Batches[0]),
              "True\n")
        << Batches[0];

    // The same page registering again shares its registration.
    Interop_AddExecuteCallback(&Again, &PageOne, RecordBatch);
    EXPECT_EQ(Again, First);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 2);
    Interop_RemoveExecuteCallback(&Again);
    EXPECT_EQ(Again, nullptr);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 2);
    Interop_RemoveExecuteCallback(&First);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 1);
    Interop_RemoveExecuteCallback(&Second);
    EXPECT_EQ(Interop_GetExecuteCallbackCount(), 0);
}

TEST_F(InteropTest, QueueingAChildContainerQueuesACopy) {
    InteropExecuteCallback *Page = nullptr;
    Interop_AddExecuteCallback(&Page, nullptr, RecordBatch);
    Dictionary *Root = nullptr, *Child = nullptr;
    Dictionary_Create(&Root);
    Dictionary_AddDictionary(Root, "inner", &Child, nullptr);
    Dictionary_SetStringByKey(Child, "k", "v");
    Interop_Execute(nullptr, Child);
    Dictionary_Release(&Root);
    Interop_Process();
    EXPECT_EQ(Batches, (std::vector<std::string>{"[{\"k\":\"v\"}]"}));
    Interop_RemoveExecuteCallback(&Page);
}

TEST_F(InteropTest, QueueKeepsEachItemsSenderAndRefusesPastItsBound) {
    InteropExecuteCallback *Page = nullptr;
    Interop_AddExecuteCallback(&Page, nullptr, RecordBatch);
    Senders.clear();
    const std::string Large(INTEROP_QUEUE_LIMIT / 2, 'x');
    QueueItem("sender", "a");
    Dictionary *Item = nullptr;
    Dictionary_Create(&Item);
    Dictionary_SetStringByKey(Item, "sender", "b");
    Dictionary_SetBooleanByKey(Item, "retained", TRUE);
    EXPECT_TRUE(Interop_Execute(nullptr, Item));
    Dictionary_Release(&Item);
    QueueItem("big", Large.c_str());
    const uint32 Refused = Interop_GetRefusedCount();
    QueueItem("big", Large.c_str()); // past the bound
    EXPECT_EQ(Interop_GetRefusedCount(), Refused + 1);
    Interop_Process();
    QueueItem("big", (Large + Large).c_str()); // alone, one item past it still goes
    Interop_Process();
    EXPECT_EQ(Senders, (std::vector<std::string>{"a;!b;;", ";"}));
    Interop_RemoveExecuteCallback(&Page);
}

TEST_F(InteropTest, InstanceStepBudgetResumesWhereItStopped) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    for (int Index = 0; Index < 3; Index++) Create("X.One");
    Time_TestClockStart(1000);
    for (Probe *Made : FamilyA::State.Probes)
        Made->OnProcess = [](Probe *) { Time_TestClockAdvance(60); };
    auto Counts = [] {
        std::vector<int32> Result;
        for (Probe *Made : FamilyA::State.Probes) Result.push_back(Made->Processed);
        std::sort(Result.begin(), Result.end());
        return Result;
    };
    Interop_Process(); // 120 ms after two instances
    EXPECT_EQ(Counts(), (std::vector<int32>{0, 1, 1}));
    Interop_Process(); // the third, then the end of the table
    EXPECT_EQ(Counts(), (std::vector<int32>{1, 1, 1}));
    Interop_Process();
    EXPECT_EQ(Counts(), (std::vector<int32>{1, 2, 2}));
}

namespace {
int PageOneTag = 1, PageTwoTag = 2;
void RemovePageOne(Probe *) { Interop_RemoveInstancesActiveInRequester(&PageOneTag); }
} // namespace

// A process function that removes the instance the walk would visit next
// (its saved position) must not send the walk into a freed member.
TEST_F(InteropTest, InstanceWalkSurvivesRemovalOfItsSavedPosition) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    for (int Index = 0; Index < 40; Index++) Create("X.One", "", Index % 2 ? &PageOneTag : &PageTwoTag);
    for (Probe *Made : FamilyA::State.Probes) Made->OnProcess = RemovePageOne;
    Interop_Process();
    EXPECT_EQ(Interop_InstancesActiveInRequester(&PageOneTag), 0);
    EXPECT_EQ(Interop_InstancesActiveInRequester(&PageTwoTag), 20);
    for (size_t Index = 0; Index < 40; Index++)
        EXPECT_EQ(FamilyA::State.Probes[Index]->Released, Index % 2 ? 1 : 0) << Index;
    EXPECT_NE(Captured.find(" forcibly removed\n"), std::string::npos);
}

TEST_F(InteropTest, SavedPositionRemovedBetweenStepsMovesOn) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    for (int Index = 0; Index < 10; Index++) Create("X.One", "", Index < 5 ? &PageOneTag : &PageTwoTag);
    Time_TestClockStart(1000);
    for (Probe *Made : FamilyA::State.Probes) Made->OnProcess = [](Probe *) { Time_TestClockAdvance(100); };
    Interop_Process(); // one instance, then the budget is spent
    Interop_RemoveInstancesActiveInRequester(&PageOneTag);
    for (int Step = 0; Step < 12; Step++) Interop_Process();
    for (size_t Index = 5; Index < 10; Index++) EXPECT_GE(FamilyA::State.Probes[Index]->Processed, 1) << Index;
    // Without a requester every instance goes.
    Interop_RemoveInstancesActiveInRequester(nullptr);
    EXPECT_EQ(Interop_InstancesActiveInRequester(&PageTwoTag), 0);
}

TEST_F(InteropTest, LongLivedInstancesAreReportedWithVerbose) {
    FamilyA::State.Accepts = {"X.One"};
    InteropLibrary *Library = FamilyA::Add();
    Time_TestClockStart(1000);
    std::string Id = Create("X.One", "", &PageOneTag);
    Interop_SetVerbose(1);
    EXPECT_EQ(Interop_InstancesActiveInLibrary(Library), 1);
    EXPECT_EQ(Captured.find("Interop instance (" + Id + ") active\n"), std::string::npos);
    Time_TestClockAdvance(15000);
    EXPECT_EQ(Interop_InstancesActiveInRequester(&PageOneTag), 1);
    EXPECT_NE(Captured.find("Interop instance (" + Id + ") active\n"), std::string::npos);
    EXPECT_EQ(Interop_InstancesActiveInRequester(&PageTwoTag), 0);
}

TEST_F(InteropTest, UnloadWaitsForInstancesAndRunsOnItsOwnThread) {
    FamilyA::State.Accepts = {"X.One"};
    InteropLibrary *Library = FamilyA::Add();
    std::string Id = Create("X.One");
    EXPECT_TRUE(Interop_FreeLibraryByName("a"));
    for (int Step = 0; Step < 3; Step++) Interop_Process();
    EXPECT_EQ(FamilyA::State.Unloads, 0);
    EXPECT_EQ(Interop_InstancesActiveInLibrary(Library), 1);

    Interop_DispatchReleaseInstance(Id.c_str());
    Interop_SetVerbose(1);
    // The thread's end is polled, never waited for.
    for (int Spin = 0; Spin < 100000 && Interop_FreeLibraryByName("A"); Spin++) {
        Interop_Process();
        sched_yield();
    }
    EXPECT_EQ(__atomic_load_n(&FamilyA::State.Unloads, __ATOMIC_SEQ_CST), 1);
    EXPECT_NE(FamilyA::State.UnloadThread, Thread_GetCurrentId());
    EXPECT_NE(Captured.find("Unable to find library for removal (A)\n"), std::string::npos);
    EXPECT_EQ(Create("X.One"), "");
}

TEST_F(InteropTest, RemoveUnloadsFamiliesDirectly) {
    FamilyA::Add();
    FamilyB::Add();
    Calls.clear();
    Interop_Remove();
    EXPECT_EQ(Calls, (std::vector<std::string>{"A:Unload", "B:Unload"}));
    EXPECT_EQ(FamilyA::State.UnloadThread, Thread_GetCurrentId());
    Interop_Init();
}

TEST_F(InteropTest, InstanceIdsAreNewGuids) {
    char Id[INTEROP_ID_SIZE];
    ASSERT_TRUE(Interop_GenerateInstanceId(Id, (int32)sizeof(Id)));
    EXPECT_EQ(strlen(Id), 32u);
    char Other[INTEROP_ID_SIZE];
    Interop_GenerateInstanceId(Other, (int32)sizeof(Other));
    EXPECT_STRNE(Id, Other);
}

using InteropDeathTest = InteropTest;

// A page that releases more than it holds is refused; the instance goes once.
TEST_F(InteropTest, ReleaseBeyondTheHeldReferencesIsRefused) {
    FamilyA::State.Accepts = {"X.One"};
    FamilyA::Add();
    std::string Id = Create("X.One");
    EXPECT_EQ(Interop_DispatchReleaseInstance(Id.c_str()), 1);
    EXPECT_EQ(Interop_DispatchReleaseInstance(Id.c_str()), 0);
    Interop_Process();
    EXPECT_EQ(Interop_DispatchReleaseInstance(Id.c_str()), 0);
    EXPECT_EQ(FamilyA::State.Probes.at(0)->Released, 1);
}

TEST_F(InteropDeathTest, DispatchOffTheMainThreadStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::thread Other([] { Interop_DispatchHasInstance("x"); });
            Other.join();
        },
        ::testing::KilledBySignal(SIGILL), "Function not on main thread");
}

namespace {
std::string Forwarded;
int32 ForwardPrint(const char *Text) {
    Forwarded += Text;
    return 1;
}
uint32 ForwardFlags() { return 0x800 | DEBUG_FLAG_VERBOSEALL; }
} // namespace

// The family side of the hand-over: the names it takes (without case), and
// what it installs.
TEST_F(InteropTest, FamilySideInstallsForwardingHooks) {
    Forwarded.clear();
    EXPECT_EQ(Interop_SetOverride("DEBUG_PRINT", (void *)ForwardPrint), 1);
    Log_Info("through the hook\n");
    EXPECT_EQ(Interop_SetOverride("Debug_Print", nullptr), 1);
    EXPECT_EQ(Forwarded, "INFO - through the hook\n");
    EXPECT_EQ(Captured.find("through the hook"), std::string::npos);

    EXPECT_EQ(Interop_SetOverride("debug_flags", (void *)ForwardFlags), 1);
    EXPECT_EQ(Debug_Flags(), 0x800u | DEBUG_FLAG_VERBOSEALL);
    Interop_SetOverride("Debug_Flags", nullptr);
    EXPECT_EQ(Debug_Flags() & DEBUG_FLAG_VERBOSEALL, 0u);

    // Names a family does not take: the Dictionary functions and anything else.
    for (const char *Name : {"Dictionary_Create", "Dictionary_Release", "NotificationCenter_FireWithJSON",
                             "Interop_GenerateInstanceId", "Unknown"})
        EXPECT_EQ(Interop_SetOverride(Name, (void *)ForwardPrint), 0) << Name;
    EXPECT_EQ(Interop_SetOverride(nullptr, nullptr), 0);
    for (const char *Name : {"Class_ConvertFromInstanceId", "Class_ConvertToInstanceId", "Class_TrackInstance",
                             "Class_UntrackInstance", "authenticate_enabled", "Registry_Authorize", "WebGet_Authorize", "NotificationCenter_AddInstanceObserver",
                             "NotificationCenter_RemoveInstanceObserver", "NotificationCenter_AssertInstance",
                             "NotificationCenter_Fire", "NotificationCenter_FireAfterDelay"})
        EXPECT_EQ(Interop_SetOverride(Name, nullptr), 1) << Name;
}
