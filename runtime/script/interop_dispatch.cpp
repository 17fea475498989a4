// Method calls through the bridge: a request Dictionary (or its JSON text)
// reaches the instance's invoke function with the method selector added.
//
// The selector is the CRC-32 of the method name's bytes, stored in the
// request as the private Int32 "#methodHash" (so it reads back signed); the
// dispatchers compare it as uint32 with Crc32Const constants.
#include <string.h>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/script/interop_internal.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

int32 Interop_DispatchInvoke(const char *InstanceId, Dictionary *Request, Dictionary *Result) {
    Interop_AssertMainThread();
    Interop_Global();
    Debug_CheckPointer(InstanceId);
    Dictionary_Reset(Result);
    const char *Method = nullptr;
    if (!Dictionary_GetStringPtrByKey(Request, "method", &Method) || Method == nullptr) Method = "";
    char MethodText[INTEROP_METHOD_SIZE]; // log lines show at most 119 characters of it
    String_CopyLength(MethodText, Method, (int32)sizeof(MethodText));

    InteropCursor Cursor;
    InteropInstance *Instance = Interop_LookUp(InstanceId, &Cursor);
    if (Instance == nullptr) {
        Log_Debug("Unable to dispatch invoke. (%s not found) (%s)\n", InstanceId, MethodText);
        return FALSE;
    }
    int32 Answer = FALSE;
    if (__atomic_load_n(&Instance->RefCount, __ATOMIC_SEQ_CST) <= __atomic_load_n(&Instance->Borrowed, __ATOMIC_SEQ_CST)) {
        // Released by every holder during a use still under way: it leaves at
        // the next step and answers nothing more.
        Log_Debug("Unable to dispatch invoke. (%s released) (%s)\n", InstanceId, MethodText);
    } else if (Instance->Invoke == nullptr) {
        Log_Debug("%s does not contain invoke callback. (%s)\n", InstanceId, MethodText);
    } else {
        uint32 Hash = CRC_Update(0, Method, (uint32)strlen(Method));
        Dictionary_SetInt32ByKey(Request, "#methodHash", (int32)Hash);
        Answer = Instance->Invoke(Instance->User, Request, Result) != 0 ? TRUE : FALSE;
    }
    Interop_LookUpEnd(Instance, &Cursor);
    return Answer;
}

int32 Interop_DispatchInvokeJSON(const char *InstanceId, const char *JsonText, MemoryStream *ResultStream) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(InstanceId);
    Debug_CheckPointer(JsonText);
    Debug_CheckPointer(ResultStream);
    MemoryStream_DiscardAll(ResultStream);

    Dictionary *Request = nullptr;
    Dictionary_Create(&Request);
    // What a page's request costs as parsed is charged while the call runs:
    // one past the memory budget is refused before it is read whole.
    int32 Refused = FALSE;
    int32 Answer = JSON_LoadTextCharged(Request, JsonText, &Refused);
    if (Refused) {
        Log_Warning("Interop - A call was refused: its request passes the memory budget of %lld MiB\n",
                    (long long)(MemoryBudget_GetLimit() >> 20));
    } else if (Answer == 0) {
        Log_Debug("Invoker unable to parse method string as json (%s)\n", JsonText);
    } else if (Answer == 1) {
        Dictionary *Inner = nullptr;
        Dictionary_SkipRoot(Request, &Inner);
        // The answer object is the one unnamed child: written without the
        // root's braces, the stream holds exactly {"returnValue":...}.
        Dictionary *Result = nullptr, *Child = nullptr;
        Dictionary_Create(&Result);
        Dictionary_AddDictionary(Result, nullptr, &Child, nullptr);
        Answer = Interop_DispatchInvoke(InstanceId, Inner, Child);
        if (Answer == 1) {
            StreamStruct *Stream = nullptr;
            MemoryStream_GetStreamHandle(ResultStream, &Stream);
            JSON_SetDictionaryHandle(Global->Writer, Result);
            Answer = JSON_SaveStream(Global->Writer, Stream);
        }
        Dictionary_Release(&Result);
    }
    Dictionary_Release(&Request);
    return Answer;
}
