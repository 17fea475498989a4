// JSON object: lifecycle, options, print family and reset. The scanner is in
// json_read.cpp, the writer in json_write.cpp, the error table in
// json_errors.cpp.
#include "runtime/documents/json.h"

#include <string.h>

#include <new>

#include "runtime/documents/document_handle.h"
#include "runtime/documents/json_internal.h"
#include "runtime/memory.h"

CLASSPRINT_DEFINE(JSON, JSON, JSON_CLASSID, "JSON", Print)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return JSON_Delete(static_cast<JSON **>(HandleAddress)); }

} // namespace

CLASS_DEFINE_REFERENCE(JSON, JSON, JSON_CLASSID)

int32 JSON_Create(JSON **Handle) {
    Debug_CheckPointer(Handle);
    return document_handle::Create(Handle, JSON_CLASSID, DeleteThroughClass, [](JSON *Json) {
        Json->Minify = TRUE;
        Json->PrivateKeys = TRUE;
        Json->Line = 1;
        for (JSONLevel &Level : Json->Levels) Level.Index = -1;
        MemoryStream_Create(&Json->Value);
        MemoryStream_SetAutoGrow(Json->Value, TRUE);
    });
}

int32 JSON_Delete(JSON **Handle) {
    Debug_CheckPointer(Handle);
    JSON_Check(*Handle);
    return document_handle::Delete(Handle, [](JSON *Json) {
        MemoryStream_Delete(&Json->Value);
        CallbackBase_Reset(&Json->ValueCallback);
    });
}

int32 JSON_SetDictionaryHandle(JSON *Handle, Dictionary *Dict) {
    JSON_Check(Handle);
    return document_handle::SetDictionary(Handle, Dict);
}

int32 JSON_GetDictionaryHandle(JSON *Handle, Dictionary **Dict) {
    JSON_Check(Handle);
    return document_handle::GetDictionary(Handle, Dict);
}

int32 JSON_SetMinify(JSON *Handle, int32 Minify) {
    JSON_Check(Handle);
    return document_handle::SetMinify(Handle, Minify);
}

int32 JSON_GetMinify(JSON *Handle, int32 *Minify) {
    JSON_Check(Handle);
    return document_handle::GetMinify(Handle, Minify);
}

int32 JSON_SetPrivateKeys(JSON *Handle, int32 PrivateKeys) {
    JSON_Check(Handle);
    Handle->PrivateKeys = PrivateKeys;
    return TRUE;
}

int32 JSON_GetPrivateKeys(JSON *Handle, int32 *PrivateKeys) {
    JSON_Check(Handle);
    Debug_CheckPointer(PrivateKeys);
    *PrivateKeys = Handle->PrivateKeys;
    return TRUE;
}

int32 JSON_SetValueCallback(JSON *Handle, void *User, JSON_ValueFunc Function) {
    JSON_Check(Handle);
    return CallbackBase_Set(&Handle->ValueCallback, User, Function);
}

int32 JSON_Reset(JSON *Handle) {
    JSON_Check(Handle);
    for (JSONLevel &Level : Handle->Levels) {
        Level.Kind = JSON_KIND_NONE;
        Level.Index = -1;
        Level.Target = nullptr;
        Level.KeyStart = 0;
        Level.KeyLength = 0;
        Level.Key[0] = 0;
    }
    Handle->KeyBits = 0;
    Handle->Depth = 0;
    Handle->Line = 1;
    Handle->LineStart = 0;
    JsonInternal_ClearValueState(Handle);
    Handle->LastError = JSON_ERROR_NONE;
    Handle->CharCount = 0;
    Handle->ValueStart = 0;
    MemoryStream_DiscardAll(Handle->Value);
    if (Handle->Dict != nullptr) Dictionary_Reset(Handle->Dict);
    return TRUE;
}

int32 JSON_VerboseLog(JSON *Handle, int32 Level, const char *Format, ...) {
    JSON_Check(Handle);
    if (!JSON_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = JSON_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 JSON_LoadBufferCharged(JSON *Handle, const void *Bytes, int32 Size, int32 *Refused) {
    JSON_Check(Handle);
    Debug_CheckPointer(Refused);
    *Refused = FALSE;
    Dictionary *Root = Handle->Dict;
    if (Root == nullptr) return FALSE;
    MemoryCharge Charge{};
    const int32 Was = Memory_SetThrowWhenExhausted(TRUE, nullptr);
    int32 Result = FALSE;
    try {
        Memory_SetThreadCharge(&Charge);
        Result = JSON_LoadBuffer(Handle, Bytes, Size);
        Memory_SetThreadCharge(nullptr);
        Dictionary_HoldCharge(Root, Charge.Bytes);
    } catch (const std::bad_alloc &) {
        // What unwinding freed was counted off; the tree's rest goes here.
        Memory_SetThreadCharge(nullptr);
        Dictionary_Reset(Root);
        MemoryBudget_Give(Charge.Bytes);
        *Refused = TRUE;
        Result = FALSE;
    }
    Memory_SetThrowWhenExhausted(Was, nullptr);
    return Result;
}

int32 JSON_LoadTextCharged(Dictionary *Root, const char *Text, int32 *Refused) {
    Debug_CheckPointer(Root);
    Debug_CheckPointer(Text);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Root);
    const int32 Result = JSON_LoadBufferCharged(Reader, Text, (int32)strlen(Text), Refused);
    JSON_Delete(&Reader);
    return Result;
}
