// The host's page script (see host_script.h).
#include "host/host_script.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "duktape.h"
#include "runtime/log.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string.h"

namespace {

constexpr char Shim[] = R"JS(
var TQX = {
  create: function (className, instanceId) { return __tqxCreate(String(className), instanceId ? String(instanceId) : ''); },
  release: function (instanceId) { return __tqxRelease(String(instanceId)); },
  call: function (instanceId, method, params) {
    var request = {};
    for (var key in params || {}) request[key] = params[key];
    request.method = method;
    var text = __tqxCall(String(instanceId), JSON.stringify(request));
    return text ? JSON.parse(text).returnValue : undefined;
  }
};
// Senders the center retained for this page are released once the page
// has seen the batch, as a page's own bridge script does.
function __tqxDeliver(text) {
  var items = JSON.parse(text);
  try {
    if (typeof onBatch === 'function') onBatch(items);
  } finally {
    items.forEach(function (item) { if (item && item.retained) __tqxReleaseSender(String(item.sender)); });
  }
}
)JS";

struct Page {
    duk_context *Context = nullptr;
    std::vector<std::string> Batches;
    bool Delivering = false;
};

Page Script;
// The page's instances are released by this requester.
int Requester = 0;

int32 Execute(void *, const char *, const char *Batch, void *) {
    if (Batch != nullptr) Script.Batches.emplace_back(Batch);
    return TRUE;
}

duk_ret_t Create(duk_context *Context) {
    char Id[INTEROP_ID_SIZE] = "";
    String_CopyLength(Id, duk_require_string(Context, 1), (int32)sizeof(Id));
    if (!Interop_DispatchCreateInstance(duk_require_string(Context, 0), Id, (int32)sizeof(Id), &Requester, nullptr,
                                        Execute))
        Id[0] = 0;
    duk_push_string(Context, Id);
    return 1;
}

duk_ret_t Call(duk_context *Context) {
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    std::string Text;
    if (Interop_DispatchInvokeJSON(duk_require_string(Context, 0), duk_require_string(Context, 1), Stream) == 1) {
        const char *Pointer = nullptr;
        MemoryStream_GetPointer(Stream, &Pointer);
        Text.assign(Pointer, (size_t)MemoryStream_GetUsed(Stream));
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);
    duk_push_lstring(Context, Text.data(), Text.size());
    return 1;
}

duk_ret_t Release(duk_context *Context) {
    duk_push_boolean(Context, Interop_DispatchReleaseInstance(duk_require_string(Context, 0)) != 0);
    return 1;
}

duk_ret_t ReleaseSender(duk_context *Context) {
    NotificationCenter_ReleaseInteropReference(duk_require_string(Context, 0));
    return 0;
}

duk_ret_t Print(duk_context *Context) {
    Log_Info("Script - %s\n", duk_safe_to_string(Context, 0));
    return 0;
}

void LogError(const char *What) { Log_Error("Script error in %s: %s\n", What, duk_safe_to_string(Script.Context, -1)); }

// Hands each queued batch to onBatch(items), after the bridge's step that
// queued it, so the page may call the bridge again from its handler.
int32 Deliver(void *, const char *, const char *, const char *, Dictionary *) {
    if (Script.Context == nullptr || Script.Delivering || Script.Batches.empty()) return TRUE;
    Script.Delivering = true;
    std::vector<std::string> Batches;
    Batches.swap(Script.Batches);
    for (const std::string &Batch : Batches) {
        duk_context *Context = Script.Context;
        duk_get_global_string(Context, "__tqxDeliver");
        duk_push_lstring(Context, Batch.data(), Batch.size());
        if (duk_pcall(Context, 1) != DUK_EXEC_SUCCESS) LogError("onBatch");
        duk_pop(Context);
    }
    Script.Delivering = false;
    return TRUE;
}

void Fatal(void *, const char *Message) { Log_Error("Script engine stopped: %s\n", Message != nullptr ? Message : ""); }

} // namespace

int32 HostScript_Load(const char *Path, char *Reason, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Reason);
    std::ifstream File(Path, std::ios::binary);
    std::ostringstream Text;
    if (!File || !(Text << File.rdbuf())) {
        String_Print(Reason, Size, "cannot read the script %s", Path);
        return FALSE;
    }
    if (Script.Context != nullptr) HostScript_Remove();
    Script.Context = duk_create_heap(nullptr, nullptr, nullptr, nullptr, Fatal);
    if (Script.Context == nullptr) {
        String_Print(Reason, Size, "cannot start the script engine");
        return FALSE;
    }
    duk_context *Context = Script.Context;
    duk_push_c_function(Context, Create, 2);
    duk_put_global_string(Context, "__tqxCreate");
    duk_push_c_function(Context, Call, 2);
    duk_put_global_string(Context, "__tqxCall");
    duk_push_c_function(Context, Release, 1);
    duk_put_global_string(Context, "__tqxRelease");
    duk_push_c_function(Context, ReleaseSender, 1);
    duk_put_global_string(Context, "__tqxReleaseSender");
    duk_push_c_function(Context, Print, 1);
    duk_put_global_string(Context, "print");
    NotificationCenter_AddProcessObserver("HostScript", &Script, Deliver);
    std::string Source = Text.str();
    if (duk_peval_string(Context, Shim) != 0 ||
        duk_peval_lstring(Context, Source.data(), Source.size()) != 0) {
        String_Print(Reason, Size, "the script %s failed: %s", Path, duk_safe_to_string(Context, -1));
        HostScript_Remove();
        return FALSE;
    }
    duk_pop(Context);
    return TRUE;
}

int32 HostScript_Remove(void) {
    if (Script.Context == nullptr) return TRUE;
    NotificationCenter_RemoveProcessObserver("HostScript", &Script, Deliver);
    // The page says goodbye first (observers, task types), as a page does
    // when it unloads.
    if (duk_get_global_string(Script.Context, "onUnload") && duk_pcall(Script.Context, 0) != DUK_EXEC_SUCCESS)
        LogError("onUnload");
    duk_pop(Script.Context);
    if (Interop_IsInitialized()) {
        Interop_RemoveInstancesActiveInRequester(&Requester);
        // Only the bridge's step releases the instances' objects.
        Interop_Process();
    }
    duk_destroy_heap(Script.Context);
    Script = Page();
    return TRUE;
}
