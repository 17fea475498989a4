// Dispatcher of "TQX.FileSystem": parameters in their declared order, then
// one native operation; its answer becomes "returnValue".
//
// Page input never reaches a fatal stop: every native operation called here
// takes any text, the copy's flag is a Boolean the getter has checked, and
// the attempt counts are fixed at 1.
#include "platform/path_script.h"

#include <string.h>

#include "platform/path_size.h"
#include "runtime/files/path.h"
#include "runtime/posix/platform.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

constexpr const char *ClassName = "Path";

// Runs the method; false for a selector the class does not have.
bool Dispatch(uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
    const char *Path, *Other;
    uint32 Flag;
    int32 Error = 0;
    char *Buffer = Out.Buffer;
    constexpr int32 Size = APIGEN_TEXT_SIZE;
    switch (Hash) {
    case Crc32Const("pathResolve"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Read) Path_Resolve(Path, Buffer, Size);
        return true;
    case Crc32Const("pathConvertToUrl"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Read) Path_ConvertToURL(Path, Buffer, Size);
        return true;
    case Crc32Const("pathConvertFromUrl"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("url", &Path).Read) Path_ConvertFromURL(Path, Buffer, Size);
        return true;
    case Crc32Const("pathParseDirectory"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Read) Path_ParseDirectory(Path, Buffer, Size);
        return true;
    case Crc32Const("pathParseName"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Read) Path_ParseFilename(Path, Buffer, Size);
        return true;
    case Crc32Const("pathParseNameWithoutExtension"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Read) Path_ParseFilenameWithoutExtension(Path, Buffer, Size);
        return true;
    case Crc32Const("pathParseExtension"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Flag("includeDot", &Flag).Read) Path_ParseExtension(Path, (int32)Flag, Buffer, Size);
        return true;
    case Crc32Const("pathFixSlash"):
        Out.Type = ApiGenAnswer::Text;
        if (Get.Text("path", &Path).Flag("trailingSlash", &Flag).Read) {
            String_CopyLength(Buffer, Path, Size);
            Path_FixSlash(Buffer, Size, (int32)Flag);
        }
        return true;
    case Crc32Const("pathCompare"):
        if (Get.Text("path", &Path).Text("comparePath", &Other).Flag("ignoreCase", &Flag).Read)
            Out.Number = Path_Compare(Path, Other, (int32)Flag);
        return true;
    case Crc32Const("fileExists"):
        if (Get.Text("path", &Path).Read) Out.Number = Path_Exists(Path);
        return true;
    case Crc32Const("fileGetSize"): {
        Out.Type = ApiGenAnswer::Int64;
        uint64 Bytes = 0;
        if (Get.Text("path", &Path).Read) Path_GetFileSize(Path, &Bytes);
        Out.Number = (int64)Bytes;
        return true;
    }
    case Crc32Const("fileErase"):
        Out.Type = ApiGenAnswer::Int32;
        if (Get.Text("path", &Path).Read) Path_EraseFile(Path, 1, &Error);
        Out.Number = Error;
        return true;
    case Crc32Const("fileCopy"):
        if (Get.Text("sourceFilename", &Path).Text("targetFilename", &Other).Flag("failIfExists", &Flag).Read)
            Out.Number = Path_CopyFile(Path, Other, (int32)Flag, 1, nullptr, nullptr, nullptr);
        return true;
    case Crc32Const("directoryExists"):
        if (Get.Text("path", &Path).Read) Out.Number = Path_DirectoryExists(Path);
        return true;
    case Crc32Const("directoryIsEmpty"):
        if (Get.Text("path", &Path).Read) Out.Number = Path_IsDirectoryEmpty(Path);
        return true;
    case Crc32Const("directoryCreate"):
        Out.Type = ApiGenAnswer::Int32;
        if (Get.Text("path", &Path).Read) Path_CreateDirectory(Path, 0, &Error);
        Out.Number = Error;
        return true;
    case Crc32Const("directoryErase"):
        Out.Type = ApiGenAnswer::Int32;
        if (Get.Text("path", &Path).Read) Path_EraseDirectory(Path, 1, &Error);
        Out.Number = Error;
        return true;
    case Crc32Const("directoryGetSize"):
        if (Get.Text("path", &Path).Text("callbackId", &Other).Read) Out.Number = Path_GetDirectorySize(Path, Other);
        return true;
    case Crc32Const("getFreeDiskSpace"): {
        Out.Type = ApiGenAnswer::Int64;
        uint64 Bytes = 0;
        if (Get.Text("path", &Path).Read) Platform_GetFreeDiskSpace(Path, &Bytes);
        Out.Number = (int64)Bytes;
        return true;
    }
    case Crc32Const("getCreationTime"):
        Out.Type = ApiGenAnswer::Float64;
        if (Get.Text("path", &Path).Read) Path_GetCreationTime(Path, &Out.Real, nullptr);
        return true;
    case Crc32Const("getModifiedTime"):
        Out.Type = ApiGenAnswer::Float64;
        if (Get.Text("path", &Path).Read) Path_GetModifiedTime(Path, &Out.Real, nullptr);
        return true;
    case Crc32Const("setGroup"):
        if (Get.Text("path", &Path).Text("type", &Other).Read) Out.Number = Path_SetGroup(Path, Other);
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int32 Path_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    return ApiGenInvoke(Request, Result, ClassName, Dispatch);
}
