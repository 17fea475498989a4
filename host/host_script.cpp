// The host's page script (see host_script.h).
//
// Every entry into the engine goes through one gate (Bounded): the page's
// code, describing what it threw, and its finalizers when the heap goes all
// run with the interrupt and the deadline. Every entry runs protected
// (duk_safe_call), pushes included: a script may have left its heap full,
// and an error outside a protected call ends the process. The bodies of
// those calls hold no C++ object with a destructor, since an error leaves
// them by longjmp.
#include "host/host_script.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "duktape.h"
#include "host/host_progress.h"
#include "platform/posix/script_heap.h"
#include "runtime/containers/dictionary.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform_file.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/interop.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode_codec.h"
#include "workflow/tasks/script_task.h"

namespace {

// The bridge: an expression whose function takes the global object and the
// natives, sets up TQX and answers the delivery function. The natives and the
// delivery function are arguments and a value in the engine's stash, which no
// page code can reach: a page that overwrites a global, or the builtins it
// has, cannot stop its batches. The builtins are taken before the page runs.
constexpr char Shim[] = R"JS((function (global, create, call, release) {
  var S = String, parse = JSON.parse, stringify = JSON.stringify;
  global.TQX = {
    create: function (className, instanceId) { return create(S(className), instanceId ? S(instanceId) : ''); },
    release: function (instanceId) {
      if (!release(S(instanceId)))
        throw new Error('TQX.release: this page holds no reference to ' + instanceId);
      return true;
    },
    call: function (instanceId, method, params) {
      var request = {};
      for (var key in params || {}) request[key] = params[key];
      request.method = method;
      var text = call(S(instanceId), stringify(request), S(method));
      return text ? parse(text).returnValue : undefined;
    }
  };
  return function (text) {
    var items = parse(text);
    if (typeof global.onBatch === 'function') global.onBatch(items);
  };
}))JS";

// Read whole, so bounded: a page script is source text, far below this.
constexpr off_t ScriptLimit = 16 << 20;
constexpr char ScriptLimitText[] = "16 MiB";
// Generous for a page, and still far from what sinks the machine.
constexpr size_t HeapLimitBytes = 256u << 20;
constexpr char HeapLimitText[] = "256 MiB";
// After the first interrupt, each later call into the page gets this long.
constexpr int64_t GraceNs = 1000000000;
constexpr size_t ReasonLimit = 900;

// Instance ids are matched without case, as the center matches them.
struct NoCase {
    bool operator()(const std::string &Left, const std::string &Right) const {
        return strcasecmp(Left.c_str(), Right.c_str()) < 0;
    }
};
struct NoCaseHash {
    size_t operator()(const std::string &Text) const {
        size_t Hash = 14695981039346656037u;
        for (unsigned char Each : Text) Hash = (Hash ^ (size_t)tolower(Each)) * 1099511628211u;
        return Hash;
    }
};
struct NoCaseEqual {
    bool operator()(const std::string &Left, const std::string &Right) const {
        return strcasecmp(Left.c_str(), Right.c_str()) == 0;
    }
};
// What the page holds, by id or key: each lookup costs the same whatever
// the page made before.
using Names = std::unordered_set<std::string, NoCaseHash, NoCaseEqual>;

// A batch as it was handed over, with the facts the host acts on after the
// page had it (each item's sender and whether the center retained it): the
// text itself is never read back.
struct Batch {
    std::string Text;
    std::vector<std::string> Senders;
    std::vector<int32> Retained;
    // Every item came of the engine's own loop: the page has nothing to do
    // that would keep the run.
    bool LoopOnly = true;
};

struct Page {
    duk_context *Context = nullptr;
    std::vector<Batch> Batches;
    bool Delivering = false;
    // Set once the run has ended: the bridge then makes and calls nothing.
    bool Ended = false;
    bool ToldEnded = false;
    // Set once a refused fire was told, and a call the memory budget refused.
    bool Swollen = false;
    bool OverBudget = false;
    // Why the page stopped (an interrupt, a failed load); empty while it runs.
    std::string Stopped;
    // The page's "TQX.ScriptTaskHandler" and "TQX.NotificationCenter"
    // instances, the task types and observers it added through them: they
    // go with their page.
    Names Handlers, Centers;
    Names Types, Observers;
    // Interop references the page took through its centers and has not
    // released: the page's own, they go with it.
    std::map<std::string, int64_t, NoCase> References;
    std::string Reply;
    // The refusals the log has told (method and reason).
    std::set<std::string> Told;
};

Page Script;
ScriptHeap Heap{0, 0, HeapLimitBytes};
// A heap left for the process's end, still reachable so that no leak check
// counts it.
duk_context *volatile Abandoned = nullptr;
// The page's instances are released by this requester.
int Requester = 0;
// Set from the signal handler: the first interrupt, and whether the page
// runs at this moment.
volatile sig_atomic_t Interrupted = 0;
volatile sig_atomic_t Running = 0;

// A JSON text's top object (its unnamed root stepped into), or null. The
// caller releases Parsed.
Dictionary *ParseObject(const char *Text, size_t Length, Dictionary **Parsed) {
    Dictionary_Create(Parsed);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, *Parsed);
    Dictionary *Inner = nullptr;
    if (Length < (size_t)INT32_MAX && JSON_LoadBuffer(Reader, Text, (int32)Length))
        Dictionary_SkipRoot(*Parsed, &Inner);
    JSON_Release(&Reader);
    return Inner;
}

void Tell(const std::string &Reason) {
    Log_Error("%s\n", Reason.c_str());
    HostProgress_Say(("velmarsh: " + Reason).c_str());
}

int32 Execute(void *, const char *, const char *Text, void *Reserved) {
    if (Text == nullptr) return TRUE;
    Batch Made;
    Made.LoopOnly = Reserved != nullptr;
    const auto *Facts = static_cast<const InteropBatchFacts *>(Reserved);
    // The batch itself when this page is the last to have it: not copied.
    if (Facts != nullptr && Facts->Text != nullptr) Made.Text.swap(*static_cast<std::string *>(Facts->Text));
    else Made.Text = Text;
    if (Facts != nullptr)
        for (int32 Index = 0; Index < Facts->Count; Index++) {
            Made.Senders.emplace_back(Facts->Senders[Index]);
            Made.Retained.push_back(Facts->Retained[Index]);
            Made.LoopOnly = Made.LoopOnly && Facts->Loop[Index];
        }
    Script.Batches.push_back(std::move(Made));
    return TRUE;
}

duk_ret_t Create(duk_context *Context) {
    const char *ClassName = duk_require_string(Context, 0);
    char Id[INTEROP_ID_SIZE] = "";
    String_CopyLength(Id, duk_require_string(Context, 1), (int32)sizeof(Id));
    if (Script.Ended ||
        !Interop_DispatchCreateInstance(ClassName, Id, (int32)sizeof(Id), &Requester, nullptr, Execute))
        Id[0] = 0;
    if (Id[0] != 0 && strcmp(ClassName, "TQX.ScriptTaskHandler") == 0) Script.Handlers.insert(Id);
    if (Id[0] != 0 && strcmp(ClassName, "TQX.NotificationCenter") == 0) Script.Centers.insert(Id);
    duk_push_string(Context, Id);
    return 1;
}

// An instance id as the center counts its references: cut like a key. The
// page's own note of them keeps no more, so that ids past that length, all
// counted as one, cost the host one entry.
std::string CenterKey(std::string Id) {
    if (Id.size() > DICTIONARY_MAX_KEY_LENGTH) Id.resize(unicode::CutLengthUtf8(Id.c_str(), DICTIONARY_MAX_KEY_LENGTH));
    return Id;
}

// Keeps the lists of what the page holds: a type that one of its handlers
// registered, an observer that one of its centers added (and that the
// handler or center took); an "unregister" or a removal drops it.
void NoteCall(bool Handler, const char *Request, const std::string &Reply) {
    Dictionary *Asked = nullptr, *Answered = nullptr;
    Dictionary *Call = ParseObject(Request, strlen(Request), &Asked);
    Dictionary *Answer = ParseObject(Reply.data(), Reply.size(), &Answered);
    const char *Method = nullptr;
    uint32 Taken = 0;
    if (Call != nullptr && Answer != nullptr && Dictionary_GetStringPtrByKey(Call, "method", &Method) &&
        Dictionary_GetBooleanByKey(Answer, "returnValue", &Taken) && Taken) {
        auto Text = [Call](const char *Key) {
            const char *Value = nullptr;
            return std::string(Dictionary_GetStringPtrByKey(Call, Key, &Value) && Value != nullptr ? Value : "");
        };
        if (Handler) {
            std::string Name = Text("name");
            if (strcmp(Method, "register") == 0) Script.Types.insert(Name);
            else if (strcmp(Method, "unregister") == 0) Script.Types.erase(Name);
        } else if (strcmp(Method, "addRefInteropReference") == 0) {
            Script.References[CenterKey(Text("instanceId"))]++;
        } else if (strcmp(Method, "releaseInteropReference") == 0) {
            auto Found = Script.References.find(CenterKey(Text("instanceId")));
            if (Found != Script.References.end() && --Found->second <= 0) Script.References.erase(Found);
        } else if (strstr(Method, "Observer") != nullptr) {
            // Type, name, sender (empty: any) and callback id, as one key.
            std::string Key = Text("type") + '\n' + Text("notification") + '\n' + Text("sender") + '\n' +
                              Text("callbackId");
            if (strncmp(Method, "add", 3) == 0) Script.Observers.insert(Key);
            else if (strncmp(Method, "remove", 6) == 0) Script.Observers.erase(Key);
        }
    }
    Dictionary_Release(&Asked);
    Dictionary_Release(&Answered);
}

// A refusal the answer explains is logged with the method it answers, once
// for each method and reason (the host's own few texts), so that a page
// repeating a refused call does not flood the log.
void TellRefusal(const char *Method, const std::string &Reply) {
    if (Reply.find("\"error\"") == std::string::npos) return;
    Dictionary *Answered = nullptr;
    const char *Why = nullptr;
    if (Dictionary *Answer = ParseObject(Reply.data(), Reply.size(), &Answered);
        Answer != nullptr && Dictionary_GetStringPtrByKey(Answer, "error", &Why) && Why != nullptr &&
        Script.Told.insert(std::string(Method) + '\n' + Why).second)
        Log_Warning("Page call - %s %s\n", Method, Why);
    Dictionary_Release(&Answered);
}

// Observers the page left behind go with it.
void DropObservers() {
    for (const std::string &Key : Script.Observers) {
        std::string Part[4];
        size_t From = 0;
        for (int Index = 0; Index < 4; Index++) {
            size_t To = Index < 3 ? Key.find('\n', From) : Key.size();
            Part[Index] = Key.substr(From, To - From);
            From = To + 1;
        }
        if (Part[2].empty())
            NotificationCenter_RemoveObserverInterop(Part[0].c_str(), Part[1].c_str(), Part[3].c_str());
        else
            NotificationCenter_RemoveInstanceObserverInterop(Part[0].c_str(), Part[1].c_str(), Part[2].c_str(),
                                                             Part[3].c_str());
    }
    Script.Observers.clear();
}

duk_ret_t Call(duk_context *Context) {
    const char *Id = duk_require_string(Context, 0);
    const char *Request = duk_require_string(Context, 1);
    // The request's own "method" (the bridge sets it last, over any the
    // page gave), so that the host reads the request again only for the
    // calls whose answers change what the page holds.
    const char *Method = duk_require_string(Context, 2);
    if (Script.Ended) {
        // Refused, not silent: a page that asks after the end (onUnload, a
        // finalizer) hears false, as it would for any call that cannot act.
        if (!Script.ToldEnded) Log_Warning("Page call - refused: the run has ended\n");
        Script.ToldEnded = true;
        static constexpr char Refusal[] = R"({"error":"refused: the run has ended","returnValue":false})";
        duk_push_lstring(Context, Refusal, sizeof(Refusal) - 1);
        return 1;
    }
    const uint32 Refused = Interop_GetRefusedCount();
    const int64 BudgetRefused = MemoryBudget_GetRefusedCount();
    MemoryStream *Stream = nullptr;
    MemoryStream_Create(&Stream);
    MemoryStream_SetAutoGrow(Stream, TRUE);
    Script.Reply.clear();
    if (Interop_DispatchInvokeJSON(Id, Request, Stream) == 1) {
        const char *Pointer = nullptr;
        MemoryStream_GetPointer(Stream, &Pointer);
        Script.Reply.assign(Pointer, (size_t)MemoryStream_GetUsed(Stream));
        MemoryStream_ReleasePointer(Stream, &Pointer);
    }
    MemoryStream_Release(&Stream);
    const bool Handler = Script.Handlers.count(Id) != 0, Center = Script.Centers.count(Id) != 0;
    if (Handler || Center) TellRefusal(Method, Script.Reply);
    const bool Noted = Handler ? strcmp(Method, "register") == 0 || strcmp(Method, "unregister") == 0
                               : Center && strcmp(Method, "fire") != 0 && strcmp(Method, "fireAfterDelay") != 0;
    if (Noted) NoteCall(Handler, Request, Script.Reply);
    const bool OverBudget = MemoryBudget_GetRefusedCount() != BudgetRefused;
    if (Interop_GetRefusedCount() != Refused && !OverBudget && !Script.Swollen) {
        Script.Swollen = true;
        Tell(std::string("a fire of the page script was refused: what waits for the page is bounded to ") +
             INTEROP_QUEUE_LIMIT_TEXT);
    }
    // Only a call that answered false: a document read on another thread
    // meanwhile may have been the one refused.
    if (OverBudget && !Script.OverBudget &&
        Script.Reply.find("\"returnValue\":false") != std::string::npos) {
        Script.OverBudget = true;
        Tell("a call of the page script was refused: what the host would hold for it passes the memory budget of " +
             std::to_string(MemoryBudget_GetLimit() >> 20) + " MiB");
    }
    duk_push_lstring(Context, Script.Reply.data(), Script.Reply.size());
    return 1;
}

// The last release of a handler or center takes its id off the page's lists.
duk_ret_t Release(duk_context *Context) {
    const char *Id = duk_require_string(Context, 0);
    const bool Released = Interop_DispatchReleaseInstance(Id) != 0;
    if (Released && !Interop_DispatchHasInstance(Id)) {
        Script.Handlers.erase(Id);
        Script.Centers.erase(Id);
    }
    duk_push_boolean(Context, Released);
    return 1;
}

duk_ret_t Print(duk_context *Context) {
    Log_Info("Script - %s\n", duk_safe_to_string(Context, 0));
    return 0;
}

void Fatal(void *, const char *Message) { Log_Error("Script engine stopped: %s\n", Message != nullptr ? Message : ""); }

// ---- Protected bodies (no C++ objects with destructors in them) ----

duk_ret_t SetUpBody(duk_context *Context, void *) {
    duk_push_c_function(Context, Print, 1);
    duk_put_global_string(Context, "print");
    duk_eval_string(Context, Shim);
    duk_push_global_object(Context);
    duk_push_c_function(Context, Create, 2);
    duk_push_c_function(Context, Call, 3);
    duk_push_c_function(Context, Release, 1);
    duk_call(Context, 4);
    duk_push_global_stash(Context);
    duk_swap_top(Context, -2);
    duk_put_prop_string(Context, -2, "deliver");
    return 0;
}

struct Source {
    const char *Text;
    size_t Length;
    const char *Name;
};

duk_ret_t RunBody(duk_context *Context, void *User) {
    const Source *Given = static_cast<const Source *>(User);
    duk_push_lstring(Context, Given->Text, Given->Length);
    duk_push_string(Context, Given->Name);
    duk_compile(Context, 0);
    duk_call(Context, 0);
    return 0;
}

duk_ret_t DeliverBody(duk_context *Context, void *User) {
    const std::string *Batch = static_cast<const std::string *>(User);
    duk_push_global_stash(Context);
    duk_get_prop_string(Context, -1, "deliver");
    duk_push_lstring(Context, Batch->data(), Batch->size());
    duk_call(Context, 1);
    return 0;
}

duk_ret_t UnloadBody(duk_context *Context, void *) {
    if (duk_get_global_string(Context, "onUnload") && duk_is_function(Context, -1)) duk_call(Context, 0);
    return 0;
}

// The thrown value as text, with its line when it has one.
duk_ret_t DescribeBody(duk_context *Context, void *) {
    duk_int_t Line = 0;
    if (duk_is_object(Context, 0)) {
        duk_get_prop_string(Context, 0, "lineNumber");
        if (duk_is_number(Context, -1)) Line = duk_get_int(Context, -1);
        duk_pop(Context);
    }
    const char *Text = duk_safe_to_string(Context, 0);
    if (Line > 0) duk_push_sprintf(Context, "%s (line %d)", Text, (int)Line);
    else duk_dup(Context, 0);
    return 1;
}

// ---- The gate into the engine ----

// Runs Step (a protected call into the engine, or the heap's destruction)
// within the page's bounds: the first interrupt reaches it while it runs;
// after that interrupt it gets a short grace; Within (nanoseconds, 0: none)
// bounds it from its start. Answers whether the interrupt ended it; sets
// Expired when Within did.
template <typename Step> bool Bounded(int64_t Within, bool &Expired, Step &&Run) {
    Heap.Refused = false;
    // Running first: an interrupt from here on sets the deadline itself,
    // one before it is seen below.
    Running = 1;
    int64_t Deadline = 0;
    if (Interrupted) Deadline = ScriptHeap_Now() + GraceNs;
    if (Within != 0 && (Deadline == 0 || ScriptHeap_Now() + Within < Deadline)) Deadline = ScriptHeap_Now() + Within;
    if (Deadline != 0) {
        int64_t None = 0;
        __atomic_compare_exchange_n(&Heap.Deadline, &None, Deadline, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    }
    Run();
    Running = 0;
    const int64_t Reached = __atomic_exchange_n(&Heap.Deadline, 0, __ATOMIC_SEQ_CST);
    const bool Past = Reached != 0 && (Reached == 1 || ScriptHeap_Now() > Reached);
    // A page that caught what the interrupt threw and went on is stopped
    // all the same.
    const bool Stopped = Past && (Reached == 1 || Interrupted);
    Expired = Past && !Stopped;
    return Stopped;
}

// The thrown value on the stack's top described (its own toString and
// getters are page code), within the grace: "an error that cannot be
// shown" when that fails or runs out of time. Pops the value.
std::string Describe(duk_context *Context, bool &Stopped) {
    bool Expired = false;
    duk_int_t Code = DUK_EXEC_ERROR;
    Stopped = Bounded(GraceNs, Expired, [&] { Code = duk_safe_call(Context, DescribeBody, nullptr, 1, 1); });
    std::string Text = "an error that cannot be shown";
    if (Code == DUK_EXEC_SUCCESS && !Stopped && !Expired && duk_is_string(Context, -1))
        Text = duk_get_string(Context, -1);
    duk_pop(Context);
    return Text;
}

// Runs one body in the page. False with the failure in Error (and the page
// stopped when the interrupt ended it).
bool Enter(duk_safe_call_function Body, void *User, std::string &Error) {
    if (Script.Context == nullptr || !Script.Stopped.empty()) return false;
    duk_context *Context = Script.Context;
    bool Expired = false;
    duk_int_t Code = DUK_EXEC_ERROR;
    bool Stopped = Bounded(0, Expired, [&] { Code = duk_safe_call(Context, Body, User, 0, 1); });
    const bool OutOfMemory = Heap.Refused;
    if (Code == DUK_EXEC_SUCCESS && !Stopped) {
        duk_pop(Context);
        return true;
    }
    if (!Stopped) Error = Describe(Context, Stopped);
    else duk_pop(Context);
    if (Stopped) {
        Error = "the page script was interrupted";
        Script.Stopped = Error;
        return false;
    }
    if (OutOfMemory)
        Error = std::string("it ran out of memory (its heap is limited to ") + HeapLimitText + "): " + Error;
    if (Error.size() > ReasonLimit) Error = Error.substr(0, ReasonLimit) + "...";
    return false;
}

// The heap goes once the run has ended: what the page's finalizers run then
// gets no time (they end at the engine's first check) and no memory (so no
// finalizer makes more to finalize), and the bridge refuses them anything.
void DestroyHeap() {
    Script.Ended = true;
    // After an interrupt the process is on its way out, and taking a full
    // heap apart takes seconds: it is left for the process's end.
    if (Interrupted) {
        Abandoned = Script.Context;
        Script.Context = nullptr;
        return;
    }
    bool Expired = false;
    Heap.Closing = true;
    Bounded(1, Expired, [] { duk_destroy_heap(Script.Context); });
    Script.Context = nullptr;
}

// The page's types go with it, and their running tasks fail with why.
void DropTypes(const char *Reason) {
    Names Types;
    Types.swap(Script.Types);
    for (const std::string &Each : Types) {
        ScriptTaskHandler_Unregister(Each.c_str());
        ScriptTask_FailType(Each.c_str(), Reason);
    }
}

// After the page had a batch: the senders the center retained for the page
// are released, as a page's own bridge does once the page has seen them. When
// the page could not handle the batch (Reason), the script tasks it was about
// fail with the reason.
void AfterBatch(const Batch &Given, const char *Reason) {
    for (size_t Index = 0; Index < Given.Senders.size(); Index++) {
        const std::string &Sender = Given.Senders[Index];
        if (Sender.empty()) continue;
        if (Reason != nullptr) ScriptTask_FailTask(Sender.c_str(), Reason);
        if (Given.Retained[Index]) NotificationCenter_ReleaseInteropReference(Sender.c_str());
    }
}

// Hands each queued batch to onBatch(items), after the bridge's step that
// queued it, so the page may call the bridge again from its handler.
int32 Deliver(void *, const char *, const char *, const char *, Dictionary *) {
    if (Script.Context == nullptr || Script.Delivering || Script.Batches.empty()) return TRUE;
    Script.Delivering = true;
    std::vector<Batch> Batches;
    Batches.swap(Script.Batches);
    for (const Batch &Batch : Batches) {
        bool WasStopped = !Script.Stopped.empty();
        std::string Error;
        // What the page fires in answer to the loop alone is the loop's too.
        NotificationCenter_SetLoopEcho(Batch.LoopOnly ? 1 : 0);
        const bool Entered = !WasStopped && Enter(DeliverBody, const_cast<std::string *>(&Batch.Text), Error);
        NotificationCenter_SetLoopEcho(0);
        if (Entered) {
            AfterBatch(Batch, nullptr);
            continue;
        }
        if (WasStopped) {
            AfterBatch(Batch, Script.Stopped.c_str());
            continue;
        }
        std::string Reason = Script.Stopped.empty() ? "the page script failed in onBatch: " + Error : Error;
        Tell(Reason);
        AfterBatch(Batch, Reason.c_str());
        if (!Script.Stopped.empty()) DropTypes(Reason.c_str());
    }
    Script.Delivering = false;
    return TRUE;
}

std::string TooLarge(const char *Path) {
    return std::string("the script is larger than ") + ScriptLimitText + ": " + Path;
}

// The checks a user's file gets before it is read whole: it exists, can be
// read, is a regular file (a FIFO would hold the reader, a device would
// never end) and is neither empty nor too large. The descriptor is open
// without blocking; -1 with the reason.
int OpenScript(const char *Path, off_t *Size, std::string &Reason) {
    int Fd = Platform_OpenRegular(Path, O_RDONLY, 0);
    struct stat Facts {};
    if (Fd < 0 || fstat(Fd, &Facts) != 0) {
        int Code = errno;
        if (Fd >= 0) close(Fd);
        if (Code == EISDIR) Reason = std::string("the script is a directory: ") + Path;
        else if (Code == EINVAL) Reason = std::string("the script is not a regular file: ") + Path;
        else if (Code == ENOENT || Code == ENOTDIR) Reason = std::string("no such script file: ") + Path;
        else if (Code == EACCES || Code == EPERM)
            Reason = std::string("cannot read the script ") + Path + ": permission denied";
        else Reason = std::string("cannot read the script ") + Path + ": " + strerror(Code);
        return -1;
    }
    if (Facts.st_size == 0) Reason = std::string("the script is empty: ") + Path;
    else if (Facts.st_size > ScriptLimit) Reason = TooLarge(Path);
    if (!Reason.empty()) {
        close(Fd);
        return -1;
    }
    *Size = Facts.st_size;
    return Fd;
}

bool ReadScript(const char *Path, std::string &Text, std::string &Reason) {
    off_t Size = 0;
    int Fd = OpenScript(Path, &Size, Reason);
    if (Fd < 0) return false;
    char Chunk[65536];
    ssize_t Got = 0;
    while ((off_t)Text.size() <= ScriptLimit &&
           ((Got = read(Fd, Chunk, sizeof(Chunk))) > 0 || (Got < 0 && errno == EINTR)))
        if (Got > 0) Text.append(Chunk, (size_t)Got);
    int Code = errno;
    close(Fd);
    if (Got < 0) Reason = std::string("cannot read the script ") + Path + ": " + strerror(Code);
    else if (Text.empty()) Reason = std::string("the script is empty: ") + Path;
    else if ((off_t)Text.size() > ScriptLimit) Reason = TooLarge(Path);
    return Reason.empty();
}

} // namespace

int32 HostScript_CheckFile(const char *Path, char *Reason, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Reason);
    std::string Why;
    off_t Length = 0;
    int Fd = OpenScript(Path, &Length, Why);
    if (Fd >= 0) close(Fd);
    String_CopyLength(Reason, Why.c_str(), Size);
    return Fd >= 0;
}

int32 HostScript_Load(const char *Path, char *Reason, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Reason);
    Reason[0] = 0;
    std::string Text, Why;
    if (!ReadScript(Path, Text, Why)) {
        String_CopyLength(Reason, Why.c_str(), Size);
        return FALSE;
    }
    if (Script.Context != nullptr) HostScript_Remove();
    Heap = ScriptHeap{0, 0, HeapLimitBytes};
    Script.Context = duk_create_heap(ScriptHeap_Allocate, ScriptHeap_Reallocate, ScriptHeap_Free, &Heap, Fatal);
    if (Script.Context == nullptr) {
        String_CopyLength(Reason, "cannot start the script engine", Size);
        return FALSE;
    }
    NotificationCenter_AddProcessObserver("HostScript", &Script, Deliver);
    Source Given{Text.data(), Text.size(), Path};
    if (!Enter(SetUpBody, nullptr, Why) || !Enter(RunBody, &Given, Why)) {
        Why = std::string("the script ") + Path + " failed: " + Why;
        String_CopyLength(Reason, Why.c_str(), Size);
        // What the page set up before it failed goes with it; it never
        // gets to say goodbye.
        if (Script.Stopped.empty()) Script.Stopped = Why;
        HostScript_Remove();
        return FALSE;
    }
    return TRUE;
}

int32 HostScript_IsIdle(void) {
    if (Script.Context == nullptr) return TRUE;
    for (const Batch &Each : Script.Batches)
        if (!Each.LoopOnly) return FALSE;
    return TRUE;
}

void HostScript_Interrupt(void) {
    Interrupted = 1;
    if (Running) __atomic_store_n(&Heap.Deadline, (int64_t)1, __ATOMIC_SEQ_CST);
}

int32 HostScript_Remove(void) {
    if (Script.Context == nullptr) return TRUE;
    NotificationCenter_RemoveProcessObserver("HostScript", &Script, Deliver);
    // The run has ended: from here the bridge makes and calls nothing. The
    // page says goodbye first (observers, task types), as a page does
    // when it unloads.
    Script.Ended = true;
    std::string Error;
    if (Script.Stopped.empty() && !Enter(UnloadBody, nullptr, Error))
        Tell(Script.Stopped.empty() ? "the page script failed in onUnload: " + Error : Error);
    DropTypes(Script.Stopped.empty() ? "the page script has ended" : Script.Stopped.c_str());
    DropObservers();
    for (const auto &[Instance, Count] : Script.References)
        for (int64_t Each = 0; Each < Count; Each++) NotificationCenter_ReleaseInteropReference(Instance.c_str());
    Script.References.clear();
    if (Interop_IsInitialized()) {
        Interop_RemoveInstancesActiveInRequester(&Requester);
        // Only the bridge's step releases the instances' objects.
        Interop_Process();
    }
    DestroyHeap();
    Script = Page();
    return TRUE;
}
