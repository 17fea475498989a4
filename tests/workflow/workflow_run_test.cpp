// Workflow runs of YAML documents from file URLs: the generated macro task
// "load", entry points chosen by arguments, the run's notifications, a fetch
// error, a missing "url", and an elevated run without an end point.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/class.h"
#include "runtime/debug.h"
#include "crypto/trust/authenticate.h"
#include "runtime/notification/notification_center.h"
#include "tests/support/log_capture.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "workflow/task_type_list.h"
#include "workflow/app/workflow_app.h"
#include "workflow/workflow_event.h"
#include "workflow/workflow_run.h"

namespace {

struct RunNotes {
    std::vector<std::string> Names; // RunStart, Run, Complete in order
    Dictionary *Complete = nullptr;
    int RunSuccessful = -1; // "successful" of the last Run notification
};

RunNotes *Notes = nullptr;
Workflow *Made = nullptr;

int32 OnRunStart(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Id = nullptr;
    Dictionary_GetStringPtrByKey(Info, "workflow", &Id);
    Made = static_cast<Workflow *>(Class_ConvertFromInstanceId(Id));
    return TRUE;
}

int32 OnRun(void *, const char *, const char *Name, const char *, Dictionary *Info) {
    Notes->Names.emplace_back(Name);
    uint32 Flag = 0;
    if (std::string(Name) == "Run")
        Notes->RunSuccessful = Dictionary_GetBooleanByKey(Info, "successful", &Flag) && Flag;
    if (std::string(Name) == "Complete") {
        Dictionary_Create(&Notes->Complete);
        Dictionary_Merge(Notes->Complete, Info, DICTIONARY_MERGE_OVERWRITE);
    }
    return TRUE;
}

class RunTest : public WorkflowTest {
  protected:
    TempDirectory Directory;
    RunNotes Notes_;
    void SetUp() override {
        WorkflowTest::SetUp();
        Notes = &Notes_;
        Authenticate_SetEnabled(0);
        TaskTypeList_Add(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
        for (const char *Name : {"RunStart", "Run", "Complete"})
            NotificationCenter_AddObserver("WorkflowRun", Name, this, OnRun);
        TestTaskStarts().clear();
    }
    void TearDown() override {
        for (const char *Name : {"RunStart", "Run", "Complete"})
            NotificationCenter_RemoveObserver("WorkflowRun", Name, this, OnRun);
        if (Notes_.Complete != nullptr) Dictionary_Release(&Notes_.Complete);
        TaskTypeList_Remove(WorkflowApp_GetTaskTypeListHandle(), &TestTask_INTERFACE);
        WorkflowRun_SetElevatedOverride(-1);
        Notes = nullptr;
        WorkflowTest::TearDown();
    }
    std::string Url(const std::string &Name, const std::string &Text) {
        std::ofstream(Directory / Name) << Text;
        return "file://" + (Directory / Name);
    }
    // A "global" run of the request, driven to completion.
    bool Run(const std::string &Json) {
        NotificationCenter_FireAfterDelayInterop("WorkflowRun", "Start", nullptr, 0, Json.c_str());
        return RunMainLoopUntil([&] { return Notes_.Complete != nullptr; });
    }
    std::vector<std::string> Errors() {
        std::vector<std::string> List;
        Dictionary *Items = nullptr;
        if (Notes_.Complete == nullptr || !Dictionary_GetListByKey(Notes_.Complete, "errors", &Items)) return List;
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Items, &Item); Item != nullptr; Dictionary_ItemGetNext(Items, Item, &Item)) {
            const char *Text = nullptr;
            Dictionary_ItemGetStringPtr(Items, Item, &Text);
            List.emplace_back(Text != nullptr ? Text : "");
        }
        return List;
    }
};

TEST_F(RunTest, LoadOfAnotherTypeRunsAfterTheMacrosAndArgumentsChooseTheEntryPoint) {
    Captured.clear();
    Debug_PrintCallback(CaptureLog);
    std::string Doc = "load:\n  type: Log\n  message: 'loaded with {colour} from {workflowDirectory}'\n"
                      "start:\n  type: Test\n  outcome: fail\n"
                      "install:\n  type: Log\n  message: 'install runs as {colour}'\n"
                      "unload:\n  type: Log\n  message: unloading\n";
    std::string Link = Url("doc.yaml", Doc);
    // No manager here: the run's own "start" is queued by the test.
    Made = nullptr;
    NotificationCenter_AddObserver("WorkflowRun", "RunStart", this, OnRunStart);
    NotificationCenter_FireAfterDelayInterop(
        "WorkflowRun", "Start", nullptr, 0,
        ("{\"url\":\"" + Link + "\",\"start\":\"install\",\"macros\":{\"colour\":\"teal\"}}").c_str());
    ASSERT_TRUE(RunMainLoopUntil([&] { return Captured.find("loaded with teal") != std::string::npos; }));
    ASSERT_NE(Made, nullptr);
    EXPECT_NE(Captured.find("from " + Directory.Path), std::string::npos);
    Workflow_QueueTask(Made, "start", nullptr, nullptr);
    Workflow_QueueTask(Made, "unload", nullptr, nullptr);
    ASSERT_TRUE(RunMainLoopUntil([&] { return Notes_.Complete != nullptr; }));
    EXPECT_NE(Captured.find("install runs as teal"), std::string::npos) << "the argument's task is \"start\"";
    EXPECT_TRUE(TestTaskStarts().empty()) << "the document's own start was moved aside";
    EXPECT_EQ(Notes_.Names, (std::vector<std::string>{"RunStart", "Run", "Complete"}));
    EXPECT_EQ(Notes_.RunSuccessful, 1) << "the fetch succeeded";
    uint32 Successful = 0;
    Dictionary_GetBooleanByKey(Notes_.Complete, "successful", &Successful);
    EXPECT_TRUE(Successful);
    NotificationCenter_RemoveObserver("WorkflowRun", "RunStart", this, OnRunStart);
    Debug_PrintCallback(nullptr);
}

TEST_F(RunTest, FailuresCompleteTheRunUnsuccessfully) {
    struct Case {
        std::string Request;
        const char *Error;
    } Cases[] = {
        {"{\"nourl\":1}", "Task_Error_MissingArg"},
        {"{\"url\":\"" + Url("e.yaml", "start:\n  type: Log\n  message: x\n") + "\",\"elevated\":true}",
         "Launch_Error_RunElevated"},
    };
    WorkflowRun_SetElevatedOverride(0);
    // Without an end point the hand-over fails at once (launching would
    // start this test program as the worker).
    WorkflowRun_SetNotificationEndPointHandle(nullptr);
    for (const Case &Each : Cases) {
        Notes_.Names.clear();
        if (Notes_.Complete != nullptr) Dictionary_Release(&Notes_.Complete);
        ASSERT_TRUE(Run(Each.Request)) << Each.Request;
        std::vector<std::string> Found = Errors();
        EXPECT_NE(std::find(Found.begin(), Found.end(), Each.Error), Found.end()) << Each.Request;
        uint32 Successful = 1;
        Dictionary_GetBooleanByKey(Notes_.Complete, "successful", &Successful);
        EXPECT_FALSE(Successful);
    }
    EXPECT_EQ(WorkflowRun_GetRunningCount(), 0);
}

} // namespace
