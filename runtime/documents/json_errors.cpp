// JSON last-error codes, their name table and the parse messages.
#include "runtime/documents/json.h"
#include "runtime/documents/json_internal.h"

// The names are part of the system's vocabulary (logs, script answers).
const JSONErrorString JSON_ErrorStringTable[12] = {
    {JSON_ERROR_NONE, "Unknown"},
    {JSON_ERROR_ZEROLENGTH, "ZeroLength"},
    {JSON_ERROR_UNKNOWNLENGTH, "UnknownLength"},
    {JSON_ERROR_TYPE, "Type"},
    {JSON_ERROR_FIELDTYPE, "FieldType"},
    {JSON_ERROR_STRING, "String"},
    {JSON_ERROR_INTEGER, "Integer"},
    {JSON_ERROR_BOOLEAN, "Boolean"},
    {JSON_ERROR_NULL, "Null"},
    {JSON_ERROR_DECODESIGNATURE, "DecodeSignature"},
    {JSON_ERROR_AUTHENTICATE, "Authenticate"},
    {JSON_ERROR_BUILD, "Build"},
};

const char *JSON_TranslateError(int32 Code) {
    for (const JSONErrorString &Row : JSON_ErrorStringTable)
        if (Row.Code == Code) return Row.Name;
    return "Unknown";
}

int32 JSON_GetLastError(JSON *Handle, int32 *Code) {
    JSON_Check(Handle);
    Debug_CheckPointer(Code);
    *Code = Handle->LastError;
    return TRUE;
}

int32 JSON_SetLastError(JSON *Handle, int32 Code) {
    JSON_Check(Handle);
    Handle->LastError = Code;
    return TRUE;
}

void JsonInternal_Report(JSON *Json, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    JSON_VPrint(Json, 0, Format, Arguments);
    va_end(Arguments);
}

void JsonInternal_Fail(JSON *Json, int32 Code, const char *Format, ...) {
    Json->LastError = Code;
    va_list Arguments;
    va_start(Arguments, Format);
    JSON_VPrint(Json, 0, Format, Arguments);
    va_end(Arguments);
}
