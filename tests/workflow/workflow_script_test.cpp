// The workflow family through the script bridge: every method of "TQX.Task",
// "TQX.ScriptTaskHandler", "TQX.Workflow", "TQX.WorkflowManager" and
// "TQX.WorkflowApp" is reached by its name (the bridge hashes it; the table's
// selectors are checked against Python's zlib.crc32), answers its default
// and 0 when a parameter is missing, and an unknown name writes nothing. A
// script task type is registered, run, cancelled and unregistered by a name
// in other case; "complete" with {"successful":false} runs "failure"; script
// text reaches prints and errors as text, never as a format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/command_line.h"
#include "crypto/trust/authenticate.h"
#include "runtime/text/crc.h"
#include "runtime/documents/json.h"
#include "runtime/script/interop.h"
#include "runtime/notification/notification_center.h"
#include "runtime/debug.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/script_page.h"
#include "tests/support/workflow_loop.h"
#include "workflow/tasks/script_task.h"
#include "workflow/workflow.h"
#include "workflow/app/workflow_app_facts.h"
#include "workflow/app/workflow_app_config.h"
#include "workflow/app/workflow_app_interop.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_manager.h"

namespace {

// What a bridge call with no parameters answers: the method ran without
// parameters (1), or it lacks one (0, default "returnValue").
enum Needs { None, Params };
struct Method {
    const char *Class;
    const char *Name;
    Needs Kind;
};

const Method Methods[] = {
    {"TQX.Task", "isCompleted", None}, {"TQX.Task", "isCancelled", None}, {"TQX.Task", "getName", None},
    {"TQX.Task", "getType", None}, {"TQX.Task", "getTimeElapsed", None}, {"TQX.Task", "getErrorCount", None},
    {"TQX.Task", "getWarningCount", None}, {"TQX.Task", "complete", Params}, {"TQX.Task", "print", Params},
    {"TQX.Task", "hasArgument", Params}, {"TQX.Task", "getStringArgument", Params},
    {"TQX.Task", "getNumberArgument", Params}, {"TQX.Task", "getBooleanArgument", Params},
    {"TQX.Task", "setStatus", Params}, {"TQX.Task", "setStatusString", Params},
    {"TQX.Task", "setStatusNumber", Params}, {"TQX.Task", "setProgress", Params}, {"TQX.Task", "addError", Params},
    {"TQX.Task", "addWarning", Params}, {"TQX.Task", "hasError", Params}, {"TQX.Task", "hasWarning", Params},
    {"TQX.Task", "getError", Params}, {"TQX.Task", "getWarning", Params}, {"TQX.Task", "runSubAction", Params},
    {"TQX.Task", "start", None}, {"TQX.Task", "cancel", None},
    {"TQX.ScriptTaskHandler", "register", Params}, {"TQX.ScriptTaskHandler", "unregister", Params},
    {"TQX.Workflow", "hasTask", Params}, {"TQX.Workflow", "hasRemoteTask", Params},
    {"TQX.Workflow", "hasRemoteWorkflow", Params}, {"TQX.Workflow", "canCreateTask", Params},
    {"TQX.Workflow", "isTaskQueued", Params}, {"TQX.Workflow", "isTaskRunning", Params},
    {"TQX.Workflow", "isActivated", None}, {"TQX.Workflow", "isGlobal", None}, {"TQX.Workflow", "runTask", Params},
    {"TQX.Workflow", "runTaskWithMacros", Params}, {"TQX.Workflow", "queueTask", Params},
    {"TQX.Workflow", "queueTaskWithMacros", Params}, {"TQX.Workflow", "setStatus", Params},
    {"TQX.Workflow", "setStatusString", Params}, {"TQX.Workflow", "setStatusNumber", Params},
    {"TQX.Workflow", "addMacro", Params}, {"TQX.Workflow", "addMacroJson", Params},
    {"TQX.Workflow", "expandString", Params}, {"TQX.Workflow", "cancelTasks", None},
    {"TQX.Workflow", "complete", None},
    {"TQX.WorkflowManager", "add", Params}, {"TQX.WorkflowManager", "unload", Params},
    {"TQX.WorkflowManager", "runTask", Params}, {"TQX.WorkflowManager", "runTaskWithMacros", Params},
    {"TQX.WorkflowManager", "queueTask", Params}, {"TQX.WorkflowManager", "queueTaskWithMacros", Params},
    {"TQX.WorkflowManager", "queueAvailableTasks", Params},
    {"TQX.WorkflowManager", "queueAvailableTasksByWorkflow", Params},
    {"TQX.WorkflowManager", "setTaskAvailability", Params}, {"TQX.WorkflowManager", "clearTaskAvailability", Params},
    {"TQX.WorkflowManager", "setProgress", Params}, {"TQX.WorkflowManager", "addDependency", Params},
    {"TQX.WorkflowManager", "setMaximumActiveTasks", Params}, {"TQX.WorkflowManager", "getMaximumActiveTasks", None},
    {"TQX.WorkflowManager", "setMaximumActiveStateTasks", Params},
    {"TQX.WorkflowManager", "getMaximumActiveStateTasks", None}, {"TQX.WorkflowManager", "setStateInterval", Params},
    {"TQX.WorkflowManager", "getStateInterval", None}, {"TQX.WorkflowManager", "setFlowControl", Params},
    {"TQX.WorkflowManager", "getFlowControl", None}, {"TQX.WorkflowManager", "setHardDependency", Params},
    {"TQX.WorkflowManager", "getHardDependency", None}, {"TQX.WorkflowManager", "setQueueTaskNames", Params},
    {"TQX.WorkflowManager", "setProgressTaskNames", Params},
    {"TQX.WorkflowManager", "setDependencyTaskNames", Params},
    {"TQX.WorkflowApp", "debugPrint", Params}, {"TQX.WorkflowApp", "loadInterop", Params},
    {"TQX.WorkflowApp", "unloadInterop", Params}, {"TQX.WorkflowApp", "getStartTime", None},
    {"TQX.WorkflowApp", "getRestartPath", None}, {"TQX.WorkflowApp", "jwsVerifyCertStore", Params},
    {"TQX.WorkflowApp", "getDebugFlags", None}, {"TQX.WorkflowApp", "addMacro", Params},
    {"TQX.WorkflowApp", "getConfig", Params}, {"TQX.WorkflowApp", "getCommandFieldCount", None},
    {"TQX.WorkflowApp", "getRestartArguments", None}, {"TQX.WorkflowApp", "getRestart", None},
    {"TQX.WorkflowApp", "setRestartPath", Params}, {"TQX.WorkflowApp", "getCurrentTime", None},
    {"TQX.WorkflowApp", "jwsVerifyKeyStore", Params}, {"TQX.WorkflowApp", "getWorkflowByTaskId", Params},
    {"TQX.WorkflowApp", "setRestart", Params}, {"TQX.WorkflowApp", "getCommandField", Params},
    {"TQX.WorkflowApp", "getRunningTime", None}, {"TQX.WorkflowApp", "isElevated", None},
    {"TQX.WorkflowApp", "setRestartElevated", Params}, {"TQX.WorkflowApp", "expandString", Params},
    {"TQX.WorkflowApp", "setPreventSystemShutdown", Params}, {"TQX.WorkflowApp", "getCommandLine", None},
    {"TQX.WorkflowApp", "getRestartElevated", None}, {"TQX.WorkflowApp", "setRestartArguments", Params},
    {"TQX.WorkflowApp", "getPreventSystemShutdown", None}, {"TQX.WorkflowApp", "implode", None},
    {"TQX.WorkflowApp", "sendCrashEvent", Params}, {"TQX.WorkflowApp", "convertFromEntitizedString", Params},
    {"TQX.WorkflowApp", "isTaskInWorkflow", Params}, {"TQX.WorkflowApp", "getSecurityEnabled", None},
    {"TQX.WorkflowApp", "getExitCode", None}, {"TQX.WorkflowApp", "getDebugFilename", None},
    {"TQX.WorkflowApp", "isCommandFieldSet", Params}, {"TQX.WorkflowApp", "getCommandFieldByName", Params},
    {"TQX.WorkflowApp", "jwsVerifyKey", Params}, {"TQX.WorkflowApp", "convertToEntitizedString", Params},
    {"TQX.WorkflowApp", "setExitCode", Params},
    // "crash" stops the process: only its selector is checked.
    {"TQX.WorkflowApp", "crash", None},
};

constexpr char Document[] = R"({
  "job": {"type": "Scripted", "message": "%n%s%x {AppVersion}", "flag": "yes", "count": 7,
          "success": "won", "failure": "lost"},
  "won": {"type": "Log", "message": "success ran"},
  "lost": {"type": "Log", "message": "failure ran"},
  "plain": {"type": "Log", "message": "plain"}
})";

std::vector<std::string> Batches;

int32 Page(void *, const char *, const char *Batch, void *) {
    Batches.emplace_back(Batch);
    return TRUE;
}

// "Interop"/"Load" and "Unload" as "<name>:<successful>".
std::vector<std::string> Libraries;

int32 OnLibrary(void *, const char *, const char *Name, const char *, Dictionary *Info) {
    char Library[64] = "";
    uint32 Successful = 9;
    Dictionary_GetStringByKey(Info, "name", Library, (int32)sizeof(Library));
    Dictionary_GetBooleanByKey(Info, "successful", &Successful);
    Libraries.push_back(std::string(Name) + " " + Library + ":" + std::to_string(Successful));
    return TRUE;
}

// One bridge call: the dispatch's answer and the result as JSON text.
struct Answer {
    int32 Ran = 0;
    std::string Json;
    bool HasValue = false;
};

Answer Call(const std::string &Id, const std::string &Json) {
    Dictionary *Request = nullptr, *Result = nullptr;
    Dictionary_Create(&Request);
    Dictionary_Create(&Result);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Request);
    EXPECT_TRUE(JSON_LoadBuffer(Reader, Json.c_str(), (int32)Json.size())) << Json;
    Dictionary *Inner = nullptr;
    Dictionary_SkipRoot(Request, &Inner);
    Answer Out;
    Out.Ran = Interop_DispatchInvoke(Id.c_str(), Inner, Result);
    Out.HasValue = Dictionary_ContainsKey(Result, "returnValue");
    JSON_SetDictionaryHandle(Reader, Result);
    char Text[8192] = "";
    int32 Written = 0;
    JSON_SaveBuffer(Reader, Text, (int32)sizeof(Text) - 1, &Written);
    Out.Json.assign(Text, (size_t)Written);
    JSON_Release(&Reader);
    Dictionary_Release(&Request);
    Dictionary_Release(&Result);
    return Out;
}

std::string Value(const Answer &Out) {
    size_t At = Out.Json.find("\"returnValue\":");
    return At == std::string::npos ? "<none>" : Out.Json.substr(At + 14, Out.Json.find_last_of('}') - At - 14);
}

std::string Started;

int32 OnTaskStart(void *, const char *, const char *, const char *Instance, Dictionary *Info) {
    const char *Type = nullptr;
    if (Dictionary_GetStringPtrByKey(Info, "type", &Type) && Type != nullptr && std::string(Type) == "Scripted")
        Started = Instance;
    return TRUE;
}

class WorkflowScriptTest : public WorkflowTest {
  protected:
    Workflow *Flow = nullptr;
    std::string FlowId;
    void SetUp() override {
        WorkflowTest::SetUp();
        Interop_Init();
        ASSERT_TRUE(WorkflowApp_InitInterop());
        WorkflowManager_Init();
        Workflow_Create(&Flow);
        ASSERT_TRUE(Workflow_LoadBuffer(Flow, Document, (int32)sizeof(Document) - 1));
        char Id[64] = "";
        Workflow_GetInstanceId(Flow, Id, (int32)sizeof(Id));
        FlowId = Id;
        Started.clear();
        NotificationCenter_AddObserver("Task", "Start", this, OnTaskStart);
        Captured.clear();
        Debug_PrintCallback(CaptureLogMirrored);
    }
    void TearDown() override {
        NotificationCenter_RemoveObserver("Task", "Start", this, OnTaskStart);
        Interop_RemoveInstancesActiveInRequester(this);
        Workflow_CancelTasks(Flow);
        RunMainLoopPasses(5);
        Workflow_Release(&Flow);
        WorkflowManager_Remove();
        Interop_Remove();
        WorkflowTest::TearDown();
    }
    std::string Create(const char *ClassName, const std::string &Given = "") {
        char Id[INTEROP_ID_SIZE] = "";
        snprintf(Id, sizeof(Id), "%s", Given.c_str());
        if (!Interop_DispatchCreateInstance(ClassName, Id, (int32)sizeof(Id), this, this, Page)) return "";
        return Id;
    }
    // Registers "Scripted" and starts "job"; the id of its task.
    std::string StartScripted() {
        std::string Handler = Create("TQX.ScriptTaskHandler");
        EXPECT_EQ(Value(Call(Handler, R"({"method":"register","name":"Scripted"})")), "true");
        EXPECT_TRUE(Workflow_RunTask(Flow, "job", nullptr, nullptr));
        EXPECT_TRUE(RunMainLoopUntil([] { return !Started.empty(); }));
        return Started;
    }
};

TEST_F(WorkflowScriptTest, EveryMethodByNameAnswersItsDefaultWithoutParameters) {
    std::vector<ScriptSelector> Selectors;
    for (const Method &Row : Methods) Selectors.push_back({Row.Name, Crc32Const(Row.Name)});
    ExpectSelectors(Selectors);

    std::string TaskId = StartScripted();
    ASSERT_FALSE(TaskId.empty());
    std::string Ids[] = {Create("TQX.Task", TaskId), Create("TQX.ScriptTaskHandler"), Create("TQX.Workflow", FlowId),
                         Create("TQX.WorkflowManager"), Create("TQX.WorkflowApp")};
    const char *Classes[] = {"TQX.Task", "TQX.ScriptTaskHandler", "TQX.Workflow", "TQX.WorkflowManager",
                             "TQX.WorkflowApp"};
    for (int Each = 0; Each < 5; Each++) {
        ASSERT_FALSE(Ids[Each].empty()) << Classes[Each];
        Answer Unknown = Call(Ids[Each], R"({"method":"noSuchMethod","json":"{}"})");
        EXPECT_EQ(Unknown.Ran, 0) << Classes[Each];
        EXPECT_FALSE(Unknown.HasValue) << Classes[Each];
    }
    for (const Method &Row : Methods) {
        if (std::string(Row.Name) == "crash") continue;
        SCOPED_TRACE(std::string(Row.Class) + "." + Row.Name);
        int Index = 0;
        while (std::string(Classes[Index]) != Row.Class) Index++;
        Answer Out = Call(Ids[Index], std::string(R"({"method":")") + Row.Name + "\"}");
        EXPECT_EQ(Out.Ran, Row.Kind == None ? 1 : 0);
        EXPECT_TRUE(Out.HasValue);
        if (Row.Kind == Params) {
            EXPECT_TRUE(Value(Out) == "false" || Value(Out) == "\"\"" || Value(Out) == "0") << Value(Out);
        }
    }
    WorkflowApp_SetImplodePath("");
}

TEST_F(WorkflowScriptTest, ScriptTypeRegisteredUsedCancelledAndUnregisteredInOtherCase) {
    std::string Task = Create("TQX.Task", StartScripted());
    ASSERT_FALSE(Task.empty());
    EXPECT_TRUE(ScriptTaskHandler_IsRegistered("scripted"));
    struct Row {
        const char *Request;
        const char *Expected;
    };
    const Row Rows[] = {
        {R"({"method":"getType"})", R"("Scripted")"},
        {R"({"method":"getName"})", R"("job")"},
        // Script text is text: no format is applied, macros are expanded.
        {R"({"method":"getStringArgument","name":"message"})", R"("%n%s%x 1.0.0.0")"},
        {R"({"method":"getStringArgument","name":"absent"})", R"("")"},
        {R"({"method":"getBooleanArgument","name":"flag"})", "1"},
        {R"({"method":"getNumberArgument","name":"count"})", "7"},
        {R"({"method":"hasArgument","name":"count"})", "true"},
        {R"({"method":"print","message":"%s%s%n"})", "true"},
        {R"({"method":"addWarning","message":"%d%n"})", "true"},
        {R"({"method":"getWarning","index":0})", R"("%d%n")"},
        {R"({"method":"getWarning","index":-1})", R"("")"},
        {R"({"method":"getError","index":5})", R"("")"},
        {R"({"method":"setStatusString","name":"phase","value":"%s"})", "true"},
        {R"({"method":"complete","json":"{not json"})", "false"},
        {R"({"method":"isCompleted"})", "false"},
        {R"({"method":"cancel"})", "true"},
        {R"({"method":"isCompleted"})", "true"},
        {R"({"method":"isCancelled"})", "true"},
        {R"({"method":"hasError","errorId":"Task_Error_Cancelled"})", "true"},
    };
    for (const Row &Each : Rows) {
        Answer Out = Call(Task, Each.Request);
        EXPECT_EQ(Out.Ran, 1) << Each.Request;
        EXPECT_EQ(Value(Out), Each.Expected) << Each.Request;
    }
    EXPECT_NE(Captured.find("%s%s%n"), std::string::npos);
    std::string Handler = Create("TQX.ScriptTaskHandler");
    EXPECT_EQ(Value(Call(Handler, R"({"method":"unregister","name":"SCRIPTED"})")), "true");
    EXPECT_FALSE(ScriptTaskHandler_IsRegistered("Scripted"));
    EXPECT_EQ(Value(Call(Handler, R"({"method":"unregister","name":"Scripted"})")), "false");
}

TEST_F(WorkflowScriptTest, SubActionTheDefinitionLacksAnswersOnALaterStepWithEmptyInfo) {
    Batches.clear();
    std::string Page = Create("TQX.NotificationCenter"), TaskId = StartScripted();
    std::string Task = Create("TQX.Task", TaskId);
    ASSERT_FALSE(Page.empty());
    EXPECT_EQ(Value(Call(Task, R"({"method":"runSubAction","name":"absent","callbackId":"sub-1"})")), "true");
    EXPECT_TRUE(Batches.empty());
    EXPECT_TRUE(RunMainLoopUntil([] {
        WorkflowApp_Process();
        return !Batches.empty();
    }));
    ASSERT_EQ(Batches.size(), 1u);
    EXPECT_EQ(Batches[0], R"([{"callbackId":"sub-1","type":"Task","sender":")" + TaskId + R"(","info":{}}])");
}

TEST_F(WorkflowScriptTest, CompleteWithUnsuccessfulJsonRunsFailure) {
    std::string Task = Create("TQX.Task", StartScripted());
    EXPECT_EQ(Value(Call(Task, R"({"method":"complete","json":"{\"successful\": false}"})")), "true");
    EXPECT_TRUE(RunMainLoopUntil([] { return Captured.find("failure ran") != std::string::npos; }));
    EXPECT_EQ(Captured.find("success ran"), std::string::npos);
}

TEST_F(WorkflowScriptTest, ClassFactoryChecksTheObjectAndSharesTheApplication) {
    std::string TaskId = StartScripted();
    EXPECT_EQ(Create("TQX.Task", FlowId), "");
    EXPECT_NE(Captured.find("Instance " + FlowId + " is not a type of TQX.Task"), std::string::npos);
    EXPECT_EQ(Create("TQX.Workflow", TaskId), "");
    EXPECT_EQ(Create("TQX.Nothing"), "");
    char AppId[64] = "", ManagerId[64] = "";
    WorkflowApp_GetInstanceId(AppId, (int32)sizeof(AppId));
    WorkflowManager_GetInstanceId(ManagerId, (int32)sizeof(ManagerId));
    EXPECT_EQ(Create("TQX.App"), AppId);
    EXPECT_EQ(Create("TQX.WorkflowApp"), AppId);
    EXPECT_EQ(Create("TQX.WorkflowManager"), ManagerId);
    // The task's reference keeps it alive after its workflow's own release.
    std::string Task = Create("TQX.Task", TaskId);
    EXPECT_EQ(Value(Call(Task, R"({"method":"getName"})")), R"("job")");
}

TEST_F(WorkflowScriptTest, WorkflowAndApplicationEdgeCases) {
    std::string TaskId = StartScripted();
    std::string Flow = Create("TQX.Workflow", FlowId), App = Create("TQX.WorkflowApp");
    WorkflowApp_AddMacro("who", "world");
    CommandLine_Init("velmarsh --alpha=1 beta gamma");
    struct Row {
        const std::string *Id;
        std::string Request;
        int32 Ran;
        const char *Expected;
    };
    const Row Rows[] = {
        {&Flow, R"({"method":"expandString"})", 0, R"("")"},
        {&Flow, R"({"method":"hasTask","instanceId":")" + TaskId + "\"}", 1, "true"},
        {&Flow, R"({"method":"hasRemoteWorkflow","instanceId":")" + FlowId + "\"}", 1, "true"},
        {&Flow, R"({"method":"hasRemoteWorkflow","instanceId":"elsewhere"})", 1, "false"},
        {&Flow, R"({"method":"isTaskRunning","name":"job"})", 1, "true"},
        {&Flow, R"({"method":"runTaskWithMacros","name":"plain","macros":"{oops"})", 1, "false"},
        {&App, R"({"method":"getConfig","key":"storage.requests"})", 0, R"("")"},
        {&App, R"({"method":"getConfig","key":"storage.requests","defaultValue":"x"})", 1, R"("8")"},
        {&App, R"({"method":"getCommandField","index":2.0})", 1, R"("beta")"},
        {&App, R"({"method":"getCommandFieldByName","commandField":"alpha"})", 1, R"("1")"},
        {&App, R"({"method":"isCommandFieldSet","commandField":"alpha"})", 1, "true"},
        {&App, R"({"method":"getCommandField","index":-4})", 1, R"("")"},
        {&App, R"({"method":"expandString","expand":"hello {who}"})", 1, R"("hello world")"},
        {&App, R"({"method":"convertToEntitizedString","utf8string":"caf\u00e9"})", 1, R"("caf&#233;")"},
        {&App, R"({"method":"convertFromEntitizedString","entitizedString":"caf&#233;"})", 1, R"("caf\u00E9")"},
        {&App, R"({"method":"getWorkflowByTaskId","task":")" + TaskId + R"(","traverse":true})", 1, nullptr},
        {&App, R"({"method":"isTaskInWorkflow","task":")" + TaskId + R"(","workflow":")" + FlowId +
                   R"(","traverse":false})",
         1, "true"},
        {&App, R"({"method":"setExitCode","exitCode":"3"})", 0, "false"},
        {&App, R"({"method":"setExitCode","exitCode":3})", 1, "true"},
        {&App, R"({"method":"getExitCode"})", 1, "3"},
        {&App, R"({"method":"debugPrint","message":"%n%n%n"})", 1, "true"},
        {&App, R"({"method":"sendCrashEvent","format":"x","info":"[broken"})", 1, "false"},
        {&App, R"({"method":"jwsVerifyKey","signature":"a.b.c","key":"AAAA"})", 1, "false"},
        {&App, R"({"method":"jwsVerifyKeyStore","signature":"%s.%n.%x","store":""})", 1, "false"},
        {&App, R"({"method":"setPreventSystemShutdown","preventSystemShutdown":false})", 1, "true"},
        {&App, R"({"method":"getPreventSystemShutdown"})", 1, "false"},
    };
    for (const Row &Each : Rows) {
        Answer Out = Call(*Each.Id, Each.Request);
        EXPECT_EQ(Out.Ran, Each.Ran) << Each.Request;
        if (Each.Expected != nullptr) EXPECT_EQ(Value(Out), Each.Expected) << Each.Request;
        else EXPECT_EQ(Value(Out), "\"" + FlowId + "\"") << Each.Request;
    }
    EXPECT_NE(Captured.find("%n%n%n"), std::string::npos);
    WorkflowApp_SetExitCode(0);
    WorkflowApp_SetPreventSystemShutdown(TRUE);
    CommandLine_Remove();
}

TEST_F(WorkflowScriptTest, DebugLoggingShowsThroughTheGettersAndAvailabilityKeepsToTheId) {
    std::string App = Create("TQX.WorkflowApp"), Manager = Create("TQX.WorkflowManager");
    char Original[320] = "";
    WorkflowApp_GetDebugFilename(Original, sizeof(Original));
    uint32 Flags = Debug_Flags();
    const std::string Renamed = std::string(Original) + "-renamed";
    ASSERT_TRUE(WorkflowApp_SetDebugLogging(Renamed.c_str(), Flags ^ DEBUG_FLAG_COMMIT));
    EXPECT_EQ(Value(Call(App, R"({"method":"getDebugFilename"})")), "\"" + Renamed + "\"");
    EXPECT_EQ(Value(Call(App, R"({"method":"getDebugFlags"})")), std::to_string(Flags ^ DEBUG_FLAG_COMMIT));
    ASSERT_TRUE(WorkflowApp_SetDebugLogging(Original, Flags));
    EXPECT_EQ(Value(Call(App, R"({"method":"getDebugFlags"})")), std::to_string(Flags));

    // A page may name a workflow whose handle is already gone.
    struct Row {
        const char *Request;
        const char *Answer;
        bool Available;
    };
    const Row Rows[] = {
        {R"({"method":"setTaskAvailability","workflow":"gone","name":"install","available":true})", "true", true},
        {R"({"method":"setTaskAvailability","workflow":"gone","name":"install","available":true})", "true", true},
        {R"({"method":"clearTaskAvailability","workflow":"gone"})", "true", false},
        {R"({"method":"setTaskAvailability","workflow":"gone","name":"install","available":true})", "true", true},
        {R"({"method":"setTaskAvailability","workflow":"gone","name":"install","available":false})", "true", false},
        {R"({"method":"clearTaskAvailability","workflow":"never-seen"})", "true", false},
    };
    for (const Row &Each : Rows) {
        Answer Out = Call(Manager, Each.Request);
        EXPECT_EQ(Out.Ran, 1) << Each.Request;
        EXPECT_EQ(Value(Out), Each.Answer) << Each.Request;
        EXPECT_EQ(WorkflowManager_IsTaskAvailable("gone", "install") != 0, Each.Available) << Each.Request;
    }
}

TEST_F(WorkflowScriptTest, LoadInteropAuthenticatesFirstAndFreesOneFinishedRecordPerTick) {
    const std::string Fixture = std::string(RUNTIME_BINARY_DIR) + "/tests/fixtures/interop_fixture.so";
    const std::string Text = std::string(RUNTIME_SOURCE_DIR) + "/tests/workflow/data/app.json";
    std::string App = Create("TQX.WorkflowApp");
    Libraries.clear();
    NotificationCenter_AddObserver("Interop", "Load", this, OnLibrary);
    NotificationCenter_AddObserver("Interop", "Unload", this, OnLibrary);
    SetMainLoopTick([] { WorkflowApp_Process(); });
    struct Case {
        uint32 Security;
        std::string Name, Path;
        const char *Fired;
    };
    // An ELF library passes the code-signature check of this build with the
    // switch on; a file that is no program does not; with the switch off a
    // library that cannot be loaded still reports failure.
    const Case Cases[] = {
        {0, "off", Fixture, "Load off:1"},
        {1, "on", Fixture, "Load on:1"},
        {1, "text", Text, "Load text:0"},
        {0, "absent", "/nonexistent/library.so", "Load absent:0"},
    };
    for (const Case &Each : Cases) {
        Libraries.clear();
        Authenticate_SetEnabled(Each.Security);
        Answer Out = Call(App, R"({"method":"loadInterop","name":")" + Each.Name + R"(","path":")" + Each.Path + "\"}");
        EXPECT_EQ(Value(Out), "true");
        EXPECT_TRUE(Libraries.empty()); // only on a later tick
        EXPECT_TRUE(RunMainLoopUntil([] { return !Libraries.empty(); })) << Each.Name;
        EXPECT_EQ(Libraries, std::vector<std::string>{Each.Fired});
    }
    Libraries.clear();
    EXPECT_EQ(Value(Call(App, R"({"method":"unloadInterop","name":"off","path":")" + Fixture + "\"}")), "true");
    EXPECT_EQ(Value(Call(App, R"({"method":"unloadInterop","name":"on","path":")" + Fixture + "\"}")), "true");
    EXPECT_EQ(Libraries, (std::vector<std::string>{"Unload off:1", "Unload on:1"}));

    // Two finished authentications leave on two ticks, one each.
    SetMainLoopTick(nullptr);
    Authenticate_SetEnabled(0);
    WorkflowApp_LoadInterop("a", "/nonexistent/a.so");
    WorkflowApp_LoadInterop("b", "/nonexistent/b.so");
    int32 Count = 0;
    std::vector<int32> Counts;
    for (int Tick = 0; Tick < 3; Tick++) {
        WorkflowApp_ProcessInterop();
        WorkflowApp_GetPendingInteropCount(&Count);
        Counts.push_back(Count);
    }
    EXPECT_EQ(Counts, (std::vector<int32>{1, 0, 0}));
    NotificationCenter_RemoveObserver("Interop", "Load", this, OnLibrary);
    NotificationCenter_RemoveObserver("Interop", "Unload", this, OnLibrary);
    Authenticate_SetEnabled(1);
}

} // namespace
