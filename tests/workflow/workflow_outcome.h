// What the workflow-file tests share: the folder of their documents and the
// result callback a Workflow_RunTask reports to.
#pragma once

#include <string>

#include "runtime/containers/dictionary.h"
#include "workflow/workflow.h"

inline const std::string DataDir = std::string(RUNTIME_SOURCE_DIR) + "/tests/workflow/data/";

// Filled in by Record when the run completes.
struct Outcome {
    bool Done = false;
    bool Successful = false;
    std::string Errors;
};

inline int32 Record(Workflow *, void *User, Dictionary *Result) {
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
