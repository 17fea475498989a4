// Dispatcher of "TQX.Process": see process_script.h.
#include "platform/process_script.h"

#include "platform/process.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

constexpr const char *ClassName = "Process";

using TextSetter = int32 (*)(Process *, const char *);
using TextGetter = int32 (*)(Process *, const char **);
using StreamSetter = int32 (*)(Process *, Dictionary *);
using StreamGetter = int32 (*)(Process *, Dictionary *);

void SetText(Process *Handle, ApiGenParameters &Get, ApiGenAnswer &Out, const char *Name, TextSetter Setter) {
    const char *Text;
    if (Get.Text(Name, &Text).Read) Out.Number = Setter(Handle, Text);
}

void GetText(Process *Handle, ApiGenAnswer &Out, TextGetter Getter) {
    const char *Text = "";
    Out.Type = ApiGenAnswer::Text;
    Getter(Handle, &Text);
    String_CopyLength(Out.Buffer, Text, APIGEN_TEXT_SIZE);
}

void SetStream(Process *Handle, ApiGenParameters &Get, ApiGenAnswer &Out, const char *Name, StreamSetter Setter) {
    Dictionary *Value;
    if (!Get.Child(Name, &Value).Read) return;
    Out.Number = Setter(Handle, Value);
    if (!Out.Number) Get.Read = false;
}

// {"instanceId": id} under "returnValue", or Null when no pipe is set.
void GetStream(Process *Handle, Dictionary *Result, ApiGenAnswer &Out, StreamGetter Getter) {
    Out.Type = ApiGenAnswer::None;
    Dictionary *Scratch = nullptr;
    Dictionary_Create(&Scratch);
    Getter(Handle, Scratch);
    const char *Id = nullptr;
    if (Dictionary_GetStringPtrByKey(Scratch, "instanceId", &Id) && Id != nullptr) {
        Dictionary *Child = nullptr;
        Dictionary_AddDictionary(Result, "returnValue", &Child, nullptr);
        Dictionary_SetStringByKey(Child, "instanceId", Id);
    } else {
        Dictionary_AddNull(Result, "returnValue", nullptr);
    }
    Dictionary_Release(&Scratch);
}

bool Dispatch(Process *Handle, uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out, Dictionary *Result) {
    uint32 Flag;
    int32 Number;
    switch (Hash) {
    case Crc32Const("setApplicationName"):
        SetText(Handle, Get, Out, "applicationName", Process_SetApplicationName);
        return true;
    case Crc32Const("getApplicationName"): GetText(Handle, Out, Process_GetApplicationNamePtr); return true;
    case Crc32Const("getShortApplicationName"):
        Out.Type = ApiGenAnswer::Text;
        Process_GetShortApplicationName(Handle, Out.Buffer, APIGEN_TEXT_SIZE);
        return true;
    case Crc32Const("setArguments"): SetText(Handle, Get, Out, "arguments", Process_SetArguments); return true;
    case Crc32Const("getArguments"): GetText(Handle, Out, Process_GetArgumentsPtr); return true;
    case Crc32Const("setWorkingDirectory"):
        SetText(Handle, Get, Out, "workingDirectory", Process_SetWorkingDirectory);
        return true;
    case Crc32Const("getWorkingDirectory"): GetText(Handle, Out, Process_GetWorkingDirectoryPtr); return true;
    case Crc32Const("setShowWindow"):
        if (Get.Flag("showWindow", &Flag).Read) Out.Number = Process_SetShowWindow(Handle, Flag);
        return true;
    case Crc32Const("getShowWindow"):
        Process_GetShowWindow(Handle, &Flag);
        Out.Number = Flag != 0;
        return true;
    case Crc32Const("setElevationRights"):
        if (Get.Int32("elevationRights", &Number).Read) Out.Number = Process_SetElevationRights(Handle, (uint32)Number);
        return true;
    case Crc32Const("getElevationRights"):
        Out.Type = ApiGenAnswer::Int32;
        Process_GetElevationRights(Handle, &Flag);
        Out.Number = (int32)Flag;
        return true;
    case Crc32Const("setSHA1"): SetText(Handle, Get, Out, "sHA1", Process_SetSHA1); return true;
    case Crc32Const("getSHA1"): GetText(Handle, Out, Process_GetSHA1Ptr); return true;
    case Crc32Const("setSHA1Target"): SetText(Handle, Get, Out, "sHA1Target", Process_SetSHA1Target); return true;
    case Crc32Const("getSHA1Target"): GetText(Handle, Out, Process_GetSHA1TargetPtr); return true;
    case Crc32Const("setAuthenticateTarget"):
        SetText(Handle, Get, Out, "authenticateTarget", Process_SetAuthenticateTarget);
        return true;
    case Crc32Const("getAuthenticateTarget"): GetText(Handle, Out, Process_GetAuthenticateTargetPtr); return true;
    case Crc32Const("setStdin"): SetStream(Handle, Get, Out, "stdin", Process_SetStdin); return true;
    case Crc32Const("getStdin"): GetStream(Handle, Result, Out, Process_GetStdin); return true;
    case Crc32Const("setStdout"): SetStream(Handle, Get, Out, "stdout", Process_SetStdout); return true;
    case Crc32Const("getStdout"): GetStream(Handle, Result, Out, Process_GetStdout); return true;
    case Crc32Const("setStderr"): SetStream(Handle, Get, Out, "stderr", Process_SetStderr); return true;
    case Crc32Const("getStderr"): GetStream(Handle, Result, Out, Process_GetStderr); return true;
    case Crc32Const("launch"): Out.Number = Process_Launch(Handle); return true;
    case Crc32Const("getId"):
        Out.Type = ApiGenAnswer::Int32;
        Process_GetId(Handle, &Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getRunningTime"):
        Out.Type = ApiGenAnswer::Float64;
        Process_GetRunningTime(Handle, &Out.Real);
        return true;
    default: return false;
    }
}

} // namespace

extern "C" int32 Process_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    Process *Handle = static_cast<Process *>(User);
    Class_CheckHandle(reinterpret_cast<ClassStruct *>(Handle), PROCESS_CLASSID);
    return ApiGenInvoke(Request, Result, ClassName,
                        [Handle, Result](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
                            return Dispatch(Handle, Hash, Get, Out, Result);
                        });
}
