// The workflow application in its minimal form (see workflow_app.h).
#include "workflow/app/workflow_app.h"

#include <string.h>

#include "net/web_get_request.h"
#include "runtime/log.h"
#include "net/analytics.h"

#include <string>

#include "runtime/text/string.h"
#include "runtime/text/url.h"
#include "workflow/task_internal.h"
#include "workflow/app/workflow_app_config.h"
#include "workflow/app/workflow_app_life.h"
#include "workflow/app/workflow_app_tick.h"
#include "workflow/workflow_application.h"
#include "workflow/workflow.h"
#include "workflow/workflow_event.h"

namespace {

struct Application {
    TaskTypeList *Types = nullptr;
    Dictionary *Macros = nullptr;
    std::string ContentPlace;
    int32 Verbose = 0;
    uint32 ShuttingDown = 0;
};

Application App;

} // namespace

int32 WorkflowApp_Init(void) {
    if (App.Types != nullptr) return FALSE;
    TaskTypeList_Create(&App.Types);
    TaskTypeList_AddDefaultTasks(App.Types);
    Dictionary_Create(&App.Macros);
    Dictionary_SetCaseSensitive(App.Macros, FALSE);
    App.ShuttingDown = 0;
    WorkflowApp_InitLife();
    WorkflowApp_InitConfig();
    WorkflowApp_InitTick();
    // The engine asks the application through these; they stay set after
    // Remove, where each answers from the application's reset state.
    static constexpr WorkflowApplication Hooks{WorkflowApp_ExpandKey, WorkflowApp_GetVerbose,
                                               WorkflowApp_IsShuttingDown, WorkflowApp_IsWorker,
                                               WorkflowApp_IsTaskInWorkflow, WorkflowApp_GetTaskTypeListHandle,
                                               WorkflowApp_GetContentPlace};
    WorkflowApplication_Set(&Hooks);
    return TRUE;
}

namespace {

// The HTTP client's X-Cache counts go to analytics once, as the application
// ends (unless "analytics.sendWebGetXCache" is false).
void SendXCacheCounts() {
    uint32 Send = TRUE;
    WorkflowApp_GetConfigBoolean("analytics.sendWebGetXCache", TRUE, &Send);
    if (!Send) return (void)WebGet_XCacheRemove();
    Dictionary *Counts = nullptr;
    WebGet_XCacheLockDictionaryHandle(&Counts);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Counts, &Item); Item != nullptr; Dictionary_ItemGetNext(Counts, Item, &Item)) {
        const char *Host = nullptr;
        Dictionary *Entry = nullptr, *Event = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Counts, Item, &Host) || Host == nullptr ||
            !Dictionary_ItemGetDictionaryHandle(Counts, Item, &Entry) || Entry == nullptr)
            continue;
        int64 Hit = 0, Miss = 0;
        Dictionary_GetInt64ByKey(Entry, "hit", &Hit);
        Dictionary_GetInt64ByKey(Entry, "miss", &Miss);
        Log_Info("X-Cache - %s - hit %lld - miss %lld\n", Host, (long long)Hit, (long long)Miss);
        Dictionary_Create(&Event);
        Dictionary_SetStringByKey(Event, "host", Host);
        Dictionary_SetInt64ByKey(Event, "hit", Hit);
        Dictionary_SetInt64ByKey(Event, "miss", Miss);
        Analytics_SendEventXCache(Event);
        Dictionary_Release(&Event);
    }
    WebGet_XCacheUnlockDictionaryHandle();
    WebGet_XCacheRemove();
}

} // namespace

int32 WorkflowApp_Remove(void) {
    if (App.Types == nullptr) return TRUE;
    SendXCacheCounts();
    // Events still waiting or running when the application ends hold their
    // workflows; they go before the runs that made those workflows.
    WorkflowEvent_RemoveAll();
    WorkflowApp_RemoveTick();
    WorkflowApp_RemoveConfig();
    WorkflowApp_RemoveLife();
    TaskTypeList_Release(&App.Types);
    TaskEventInt_Forget();
    TaskInt_ForgetStatusChanges();
    Dictionary_Release(&App.Macros);
    App = Application();
    return TRUE;
}

TaskTypeList *WorkflowApp_GetTaskTypeListHandle(void) { return App.Types; }
Dictionary *WorkflowApp_GetMacroDictionaryHandle(void) { return App.Macros; }

namespace {

// The content's macro and place. What a server makes of a query cannot be
// told from its text: content whose URL holds one has no place.
int32 SetContent(const char *Url, bool Folder) {
    Debug_CheckPointer(Url);
    if (App.Macros == nullptr) return FALSE;
    std::string Macro = Url;
    if (const size_t Slash = Macro.find_last_of('/'); Folder && Slash != std::string::npos) Macro.erase(Slash + 1);
    if (!Workflow_StoreMacro(App.Macros, "contentUrl", Macro.c_str(), (int32)Macro.size())) return FALSE;
    // Judged as the documents beside it are, as they are fetched.
    std::string Fixed(strlen(Url) + 2, '\0'), Place(strlen(Url) + 16, '\0');
    if (strpbrk(Url, "?#") != nullptr || !URL_FixPath(Url, 0, Fixed.data(), (int32)Fixed.size()) ||
        !URL_ResolvePlace(Fixed.c_str(), Place.data(), (int32)Place.size()))
        Place.clear();
    Place.resize(strlen(Place.c_str()));
    if (Folder && !Place.empty()) Place.erase(Place.rfind('/') + 1);
    App.ContentPlace = Place;
    return TRUE;
}

} // namespace

int32 WorkflowApp_SetContentUrl(const char *Url) { return SetContent(Url, false); }

int32 WorkflowApp_SetContentDocument(const char *Url) { return SetContent(Url, true); }

int32 WorkflowApp_GetContentPlace(char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    if (App.ContentPlace.empty() || (int64)App.ContentPlace.size() >= (int64)Size) return FALSE;
    String_CopyLength(Output, App.ContentPlace.c_str(), Size);
    return TRUE;
}

int32 WorkflowApp_ExpandKey(void *, const char *Name, const char *, char *Output, int32 Size) {
    if (String_CompareWithoutCase(Name, "AppVersion")) {
        String_CopyLength(Output, WORKFLOWAPP_LIBRARY_VERSION, Size);
        return TRUE;
    }
    if (String_CompareWithoutCase(Name, "RestartArguments")) {
        WorkflowApp_GetRestartArguments(Output, Size);
        return TRUE;
    }
    const char *Text = nullptr;
    int32 Length = 0;
    // A name longer than a key names no macro (its first bytes would find
    // another).
    if (App.Macros == nullptr || strlen(Name) > DICTIONARY_MAX_KEY_LENGTH ||
        !Dictionary_GetBufferPtrByKey(App.Macros, Name, &Text, &Length) || Text == nullptr)
        return FALSE;
    return Workflow_CopyMacroValue(Text, Length, Output, Size);
}

int32 WorkflowApp_SetVerbose(int32 Verbose) {
    App.Verbose = Verbose;
    return TRUE;
}

int32 WorkflowApp_GetVerbose(void) { return App.Verbose; }

int32 WorkflowApp_SetShuttingDown(uint32 Flag) {
    App.ShuttingDown = Flag;
    return TRUE;
}

int32 WorkflowApp_IsShuttingDown(void) { return App.ShuttingDown != 0; }
