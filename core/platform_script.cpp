// Dispatcher of "TQX.Platform": see platform_script.h.
#include "core/platform_script.h"

#include "core/api_gen_dispatch.h"
#include "core/formats/crc.h"
#include "core/posix/platform.h"
#include "core/posix/platform_process.h"
#include "core/string.h"
#include "core/time.h"

namespace {

constexpr const char *ClassName = "Platform";
constexpr int32 Size = APIGEN_TEXT_SIZE;

bool Dispatch(uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *A, *B, *C, *D, *E, *F;
    uint32 Flag;
    int32 Number, Other;
    float64 Real;
    char *Buffer = Out.Buffer;
    switch (Hash) {
    case Crc32Const("getName"):
        Out.Type = ApiGenAnswer::Text;
        Platform_GetName(Buffer, Size);
        return true;
    case Crc32Const("getBitness"):
        Out.Type = ApiGenAnswer::Int32;
        Platform_GetSystemBitness(&Number);
        Out.Number = Number;
        return true;
    case Crc32Const("getEnvironmentVariable"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("name", &A).Read) Platform_GetEnvironmentVariable(A, Buffer, Size);
        return true;
    case Crc32Const("setEnvironmentVariable"):
        if (Get.Text("name", &A).Text("value", &B).Read) Out.Number = Platform_SetEnvironmentVariable(A, B);
        return true;
    case Crc32Const("translateError"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("error", &Number).Read) String_CopyLength(Buffer, Platform_TranslateError(Number), Size);
        return true;
    case Crc32Const("timeToRFC1123"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Float64("date", &Real).Read) Time_EncodedString(TIME_FORMAT_HTTP, Buffer, Size, Real);
        return true;
    case Crc32Const("access"):
        if (Get.Text("path", &A).Int32("permissions", &Number).Flag("recurse", &Flag).Read)
            Out.Number = Platform_Access(A, Number, (int32)Flag);
        return true;
    case Crc32Const("getProcessPath"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Int32("id", &Number).Read) Platform_ProcessGetPathById(Number, Buffer, Size);
        return true;
    case Crc32Const("findProcess"):
        Out.Type = ApiGenAnswer::Int32;
        if (Get.Text("path", &A).Read) {
            Platform_FindProcess(A, &Number);
            Out.Number = Number;
        }
        return true;
    case Crc32Const("findWindow"):
        if (Get.Text("caption", &A).Text("className", &B).Flag("searchOnlyVisible", &Flag).Read)
            Out.Number = Platform_FindWindow(A, B, (int32)Flag, nullptr);
        return true;
    case Crc32Const("shellOpen"):
        if (Get.Text("path", &A).Read) Out.Number = Platform_ShellOpen(A);
        return true;
    case Crc32Const("preventSystemSleep"):
        if (Get.Flag("prevent", &Flag).Read) Out.Number = Platform_PreventSystemSleep((int32)Flag);
        return true;
    case Crc32Const("reboot"): Out.Number = Platform_Reboot(); return true;
    case Crc32Const("createShortcut"):
        if (Get.Text("executable", &A).Text("parameter", &B).Int32("iconId", &Number).Text("location", &C)
                .Text("description", &D).Text("iconLocation", &E).Int32("flags", &Other).Read)
            Out.Number = Platform_CreateShortcut(A, B, Number, C, D, E, Other);
        return true;
    case Crc32Const("removeShortcut"):
        if (Get.Text("location", &A).Text("description", &B).Read) Out.Number = Platform_RemoveShortcut(A, B);
        return true;
    case Crc32Const("authenticateX509"):
        // No certificate store can be consulted here: nothing validates.
        if (Get.Text("certStoreName", &A).Text("path", &F).Read) Out.Number = FALSE;
        return true;
    default: return false;
    }
}

} // namespace

extern "C" int32 Platform_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    return ApiGenInvoke(Request, Result, ClassName, Dispatch);
}
