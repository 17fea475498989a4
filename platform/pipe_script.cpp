// Dispatcher of "TQX.Pipe": see pipe_script.h.
#include "platform/pipe_script.h"

#include "platform/pipe.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

constexpr const char *ClassName = "Pipe";

bool Dispatch(Pipe *Handle, uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *Text;
    uint32 Flag;
    int32 Number;
    switch (Hash) {
    case Crc32Const("setName"):
        if (Get.Text("name", &Text).Read) Out.Number = Pipe_SetName(Handle, Text);
        return true;
    case Crc32Const("getName"):
        Out.Type = ApiGenAnswer::Text;
        Pipe_GetNamePtr(Handle, &Text);
        String_CopyLength(Out.Buffer, Text, APIGEN_TEXT_SIZE);
        return true;
    case Crc32Const("setOpenExisting"):
        if (Get.Flag("openExisting", &Flag).Read) Out.Number = Pipe_SetOpenExisting(Handle, Flag);
        return true;
    case Crc32Const("getOpenExisting"):
        Pipe_GetOpenExisting(Handle, &Flag);
        Out.Number = Flag == 1;
        return true;
    case Crc32Const("setBufferSize"):
        if (Get.Int32("bufferSize", &Number).Read) Out.Number = Pipe_SetBufferSize(Handle, Number);
        return true;
    case Crc32Const("getBufferSize"):
        Out.Type = ApiGenAnswer::Int32;
        Pipe_GetBufferSize(Handle, &Flag);
        Out.Number = (int32)Flag;
        return true;
    case Crc32Const("start"):
        // The answer is the start's; the call itself always succeeds.
        Out.Number = Pipe_Start(Handle);
        return true;
    case Crc32Const("write"): {
        Out.Type = ApiGenAnswer::Int32;
        if (!Get.Text("buffer", &Text).Read) return true;
        uint8 *Bytes = nullptr;
        int32 Length = 0, Size = 0;
        if (ApiGen_CreateBase64DecodedBuffer(Text, &Bytes, &Length, &Size) != TRUE) {
            ApiGen_DeleteBase64DecodedBuffer(&Bytes, &Size);
            Get.Read = false;
            return true;
        }
        uint32 Written = 0;
        Pipe_Write(Handle, Bytes, (uint32)Length, &Written);
        Out.Number = Written;
        ApiGen_DeleteBase64DecodedBuffer(&Bytes, &Size);
        return true;
    }
    default: return false;
    }
}

} // namespace

extern "C" int32 Pipe_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    Pipe *Handle = static_cast<Pipe *>(User);
    Class_CheckHandle(reinterpret_cast<ClassStruct *>(Handle), PIPE_CLASSID);
    return ApiGenInvoke(Request, Result, ClassName, [Handle](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
        return Dispatch(Handle, Hash, Get, Out);
    });
}
