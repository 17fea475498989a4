// The run's fetch of its document. "file://" documents are read on the next
// tick of the notification center (JSON when the path ends in "json", else
// YAML), so a result never arrives inside the start that asked for it and a
// cancel in between drops it. Other schemes fail their attempt with the
// client's "Connect" error until the HTTP client serves runs.
#include "core/formats/json.h"
#include "core/formats/yaml.h"
#include "core/log.h"
#include "core/notification_center.h"
#include "core/path.h"
#include "core/string.h"
#include "workflow/workflow_run_internal.h"

namespace {

constexpr int32 ErrorConnect = 950;
constexpr int32 ErrorOS = 964;
constexpr int32 ErrorJSON = 987;
constexpr int32 ErrorCustom = 900;
constexpr int32 PathSize = 4096;

bool ReadFile(const char *Path, Dictionary *Target, int32 *Error, int32 *SubCode) {
    if (!Path_Exists(Path)) {
        *Error = ErrorOS;
        *SubCode = 2; // ENOENT
        return false;
    }
    int32 Code = 0;
    int32 Loaded = 0;
    if (String_CompareEndingWithoutCase(Path, "json")) {
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Target);
        Loaded = JSON_LoadFile(Reader, Path);
        JSON_GetLastError(Reader, &Code);
        JSON_Release(&Reader);
        *Error = Loaded ? 0 : ErrorJSON;
    } else {
        YAML *Reader = nullptr;
        YAML_Create(&Reader);
        YAML_SetDictionaryHandle(Reader, Target);
        Loaded = YAML_LoadFile(Reader, Path);
        YAML_GetLastError(Reader, &Code);
        YAML_Release(&Reader);
        *Error = Loaded ? 0 : ErrorCustom;
    }
    *SubCode = Loaded ? 0 : Code;
    return Loaded != 0;
}

int32 OnFetchTick(void *User, const char *, const char *, const char *, Dictionary *) {
    WorkflowRun *Self = static_cast<WorkflowRun *>(User);
    WorkflowRunInt_CancelFetch(Self);
    int32 Error = 0, SubCode = 0;
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    if (String_CompareBeginningWithoutCase(Self->Url, "file://")) {
        char Path[PathSize];
        if (!Path_ConvertFromURL(Self->Url, Path, (int32)sizeof(Path))) Error = ErrorOS;
        else ReadFile(Path, Parsed, &Error, &SubCode);
    } else {
        Log_Error("The HTTP client does not serve workflow runs in this build (%s)\n", Self->Url);
        Error = ErrorConnect;
    }
    // The run may go with its task while the document is handled.
    WorkflowRun_AddRef(Self);
    WorkflowRunInt_DocumentArrived(Self, Error, SubCode, Error == 0 ? Parsed : nullptr);
    void *Handle = Self;
    WorkflowRun_Release(&Handle);
    Dictionary_Release(&Parsed);
    return TRUE;
}

} // namespace

int32 WorkflowRunInt_Fetch(WorkflowRun *Self) {
    if (Self->Fetching) return TRUE;
    Self->Fetching = TRUE;
    return NotificationCenter_AddProcessObserver(RunId(Self), Self, OnFetchTick);
}

int32 WorkflowRunInt_CancelFetch(WorkflowRun *Self) {
    if (!Self->Fetching) return TRUE;
    Self->Fetching = FALSE;
    return NotificationCenter_RemoveProcessObserver(RunId(Self), Self, OnFetchTick);
}
