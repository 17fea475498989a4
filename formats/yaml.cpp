// YAML object: lifecycle, print family and reset. The reader is in
// yaml_read.cpp, the writer in yaml_write.cpp, file loading in yaml_file.cpp.
#include "formats/yaml.h"

#include "formats/yaml_internal.h"
#include "runtime/documents/document_handle.h"
#include "runtime/memory.h"

CLASSPRINT_DEFINE(YAML, YAML, YAML_CLASSID, "YAML", Print)

namespace {

constexpr int32 InitialBufferSize = 320;

int32 DeleteThroughClass(void *HandleAddress) { return YAML_Delete(static_cast<YAML **>(HandleAddress)); }

MemoryStream *NewBuffer() {
    MemoryStream *Buffer = nullptr;
    MemoryStream_Create(&Buffer);
    MemoryStream_SetAutoGrow(Buffer, TRUE);
    MemoryStream_Size(Buffer, InitialBufferSize, FALSE, FALSE);
    return Buffer;
}

} // namespace

CLASS_DEFINE_REFERENCE(YAML, YAML, YAML_CLASSID)

int32 YAML_Create(YAML **Handle) {
    Debug_CheckPointer(Handle);
    return document_handle::Create(Handle, YAML_CLASSID, DeleteThroughClass, [](YAML *Yaml) {
        Yaml->Value = NewBuffer();
        Yaml->LineBuffer = NewBuffer();
        YAML_Reset(Yaml);
    });
}

int32 YAML_Delete(YAML **Handle) {
    Debug_CheckPointer(Handle);
    YAML_Check(*Handle);
    return document_handle::Delete(Handle, [](YAML *Yaml) {
        MemoryStream_Delete(&Yaml->Value);
        MemoryStream_Delete(&Yaml->LineBuffer);
    });
}

int32 YAML_Reset(YAML *Handle) {
    YAML_Check(Handle);
    for (YAMLLevel &Level : Handle->Levels) {
        Level.Indent = 0;
        Level.Kind = YAML_TYPE_NONE;
        Level.Target = nullptr;
        Level.Key[0] = 0;
    }
    Handle->Levels[0].Kind = YAML_TYPE_LINE_START;
    Handle->WaitingBits = 0;
    Handle->Depth = 0;
    Handle->FlowBase = -1;
    Handle->LastError = YAML_ERROR_NONE;
    Handle->CharCount = 0;
    Handle->Line = 1;
    Handle->Column = 1;
    Handle->ScalarLine = 1;
    Handle->ScalarColumn = 1;
    Handle->SubState = YAML_TYPE_NONE;
    Handle->PendingPlain = FALSE;
    Handle->PendingIndent = -1;
    Handle->FoldBreaks = 0;
    Handle->FoldNoBlank = FALSE;
    Handle->FoldKeep = 0;
    Handle->ContentSeen = FALSE;
    Handle->Ended = FALSE;
    MemoryStream_DiscardAll(Handle->Value);
    MemoryStream_DiscardAll(Handle->LineBuffer);
    if (Handle->Dict != nullptr) Dictionary_Reset(Handle->Dict);
    return TRUE;
}

int32 YAML_SetDictionaryHandle(YAML *Handle, Dictionary *Dict) {
    YAML_Check(Handle);
    return document_handle::SetDictionary(Handle, Dict);
}

int32 YAML_GetDictionaryHandle(YAML *Handle, Dictionary **Dict) {
    YAML_Check(Handle);
    return document_handle::GetDictionary(Handle, Dict);
}

int32 YAML_GetLastError(YAML *Handle, int32 *Code) {
    YAML_Check(Handle);
    Debug_CheckPointer(Code);
    *Code = Handle->LastError;
    return TRUE;
}

const char *YAML_TranslateError(int32 Code) {
    static const char *const Names[] = {"Unknown", "EndOfDocument", "Empty",  "EndOfStream",
                                        "FieldType", "Escape",      "Depth"};
    return Code >= 0 && Code < (int32)(sizeof(Names) / sizeof(Names[0])) ? Names[Code] : "Unknown";
}

int32 YAML_VerboseLog(YAML *Handle, int32 Level, const char *Format, ...) {
    YAML_Check(Handle);
    if (!YAML_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = YAML_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}
