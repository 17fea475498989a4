// Helpers for C++ dispatchers: reading a method's parameters in their
// declared order (after the first failure, already logged by ApiGen, nothing
// more is read) and writing a typed "returnValue" that starts at its default
// (empty text, 0, false, Null), so a call whose parameters were not all read
// answers the default.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/script/api_gen.h"

struct ApiGenParameters {
    Dictionary *Request;
    const char *ClassName;
    const char *Method;
    bool Read = true;

    ApiGenParameters &Text(const char *Name, const char **Value) {
        *Value = nullptr;
        if (Read) Read = ApiGen_GetStringPtr(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
    ApiGenParameters &Flag(const char *Name, uint32 *Value) {
        *Value = 0;
        if (Read) Read = ApiGen_GetBoolean(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
    ApiGenParameters &Int32(const char *Name, int32 *Value) {
        *Value = 0;
        if (Read) Read = ApiGen_GetInt32(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
    ApiGenParameters &Int64(const char *Name, int64 *Value) {
        *Value = 0;
        if (Read) Read = ApiGen_GetInt64(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
    ApiGenParameters &Float64(const char *Name, float64 *Value) {
        *Value = 0;
        if (Read) Read = ApiGen_GetFloat64(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
    ApiGenParameters &Child(const char *Name, Dictionary **Value) {
        *Value = nullptr;
        if (Read) Read = ApiGen_GetDictionary(Request, ClassName, Method, Name, Value) == TRUE;
        return *this;
    }
};

struct ApiGenAnswer {
    enum Kind { Text, Boolean, Int32, Int64, Float64, Null, None } Type = Boolean;
    char Buffer[APIGEN_TEXT_SIZE] = "";
    int64 Number = 0;
    float64 Real = 0;

    void Write(Dictionary *Result) const {
        switch (Type) {
        case Text: Dictionary_SetStringByKey(Result, "returnValue", Buffer); break;
        case Boolean: Dictionary_SetBooleanByKey(Result, "returnValue", Number == 1); break;
        case Int32: Dictionary_SetInt32ByKey(Result, "returnValue", (int32)Number); break;
        case Int64: Dictionary_SetInt64ByKey(Result, "returnValue", Number); break;
        case Float64: Dictionary_SetFloat64ByKey(Result, "returnValue", Real); break;
        case Null: Dictionary_AddNull(Result, "returnValue", nullptr); break;
        case None: break;
        }
    }
};

// One call of a script class: reads the method, lets Dispatch(Hash, Get, Out)
// read the parameters and run it (false: a selector the class does not
// have), then writes the answer. TRUE when the method was known and every
// parameter was read.
template <typename DispatchFunction>
int32 ApiGenInvoke(Dictionary *Request, Dictionary *Result, const char *ClassName, DispatchFunction Dispatch) {
    const char *Method = nullptr;
    uint32 Hash = 0;
    if (!ApiGen_GetMethod(Request, ClassName, &Method, &Hash)) return FALSE;
    ApiGenParameters Get{Request, ClassName, Method};
    ApiGenAnswer Out;
    if (!Dispatch(Hash, Get, Out)) return FALSE;
    Out.Write(Result);
    return Get.Read ? TRUE : FALSE;
}
