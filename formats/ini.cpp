// Ini object: lifecycle, options, print family, reset and dump. The reader is
// in ini_read.cpp, the writer in ini_write.cpp, files in ini_file.cpp.
#include "formats/ini.h"

#include "formats/ini_internal.h"
#include "runtime/documents/document_handle.h"
#include "runtime/memory.h"

CLASSPRINT_DEFINE(Ini, Ini, INI_CLASSID, "Ini", Print)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return Ini_Delete(static_cast<Ini **>(HandleAddress)); }

// Hands the Dictionary's dump lines to the Ini object's printer.
int32 DumpThroughIni(void *User, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Ini_VPrint(static_cast<Ini *>(User), 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

} // namespace

CLASS_DEFINE_REFERENCE(Ini, Ini, INI_CLASSID)

int32 Ini_Create(Ini **Handle) {
    Debug_CheckPointer(Handle);
    return document_handle::Create(Handle, INI_CLASSID, DeleteThroughClass,
                                   [](Ini *Object) { Object->LineEnding = "\r\n"; });
}

int32 Ini_Delete(Ini **Handle) {
    Debug_CheckPointer(Handle);
    Ini_Check(*Handle);
    return document_handle::Delete(Handle, [](Ini *Object) { Ini_Reset(Object); });
}

int32 Ini_SetDictionaryHandle(Ini *Handle, Dictionary *Dict) {
    Ini_Check(Handle);
    return document_handle::SetDictionary(Handle, Dict);
}

int32 Ini_Reset(Ini *Handle) {
    Ini_Check(Handle);
    if (Handle->Dict != nullptr) Dictionary_Reset(Handle->Dict);
    return TRUE;
}

int32 Ini_Dump(Ini *Handle) {
    Ini_Check(Handle);
    if (Handle->Dict == nullptr) return FALSE;
    void *OldUser = nullptr;
    ClassPrint_Func OldFunction = nullptr;
    Dictionary_GetPrintCallback(Handle->Dict, &OldUser, &OldFunction);
    Dictionary_SetPrintCallback(Handle->Dict, Handle, DumpThroughIni);
    const int32 Result = Dictionary_Dump(Handle->Dict);
    Dictionary_SetPrintCallback(Handle->Dict, OldUser, OldFunction);
    return Result;
}

int32 Ini_SetLineEnding(Ini *Handle, const char *Text) {
    Ini_Check(Handle);
    Debug_CheckPointer(Text);
    Handle->LineEnding = Text;
    return TRUE;
}

int32 Ini_VerboseLog(Ini *Handle, int32 Level, const char *Format, ...) {
    Ini_Check(Handle);
    if (!Ini_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Ini_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}
