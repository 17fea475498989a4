// Parameter access shared by the script class dispatchers.
#include "runtime/script/api_gen.h"

#include <string.h>

#include <cmath>
#include <limits>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/base64.h"

int32 ApiGen_GetMethod(Dictionary *Request, const char *ClassName, const char **MethodName, uint32 *MethodHash) {
    Debug_CheckPointer(MethodName);
    Debug_CheckPointer(MethodHash);
    *MethodName = nullptr;
    *MethodHash = 0;
    DictionaryItem *Item = nullptr;
    if (!Dictionary_ItemFindByKey(Request, "method", nullptr, &Item)) {
        Log_Error("Class invoker unable to find method (%s)\n", ClassName);
        return FALSE;
    }
    if (!Dictionary_ItemCompareType(Request, Item, DICTIONARY_TYPE_STRING)) {
        Log_Error("Method type is not a string (%s)\n", ClassName);
        return FALSE;
    }
    Dictionary_ItemGetStringPtr(Request, Item, MethodName);
    // Stored as a signed Int32: the bits are the selector.
    int32 Hash = 0;
    if (!Dictionary_GetInt32ByKey(Request, "methodHash", &Hash)) {
        Log_Error("Method lookup hash not found (%s.%s)\n", ClassName, *MethodName);
        return FALSE;
    }
    *MethodHash = (uint32)Hash;
    return TRUE;
}

int32 ApiGen_GetParam(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int32 Type, DictionaryItem **Item) {
    Debug_CheckPointer(ParameterName);
    Debug_CheckPointer(Item);
    *Item = nullptr;
    DictionaryItem *Found = nullptr;
    if (!Dictionary_ItemFindByKey(Request, ParameterName, nullptr, &Found)) {
        Log_Error("Parameter missing (%s.%s::%s)\n", ClassName, MethodName, ParameterName);
        return FALSE;
    }
    if (!Dictionary_ItemCompareType(Request, Found, Type)) {
        Log_Error("Incorrect parameter type (%s.%s::%s)\n", ClassName, MethodName, ParameterName);
        return FALSE;
    }
    *Item = Found;
    return TRUE;
}

namespace {

// A typed parameter: the out-value is cleared first, so a missing or mistyped
// parameter (logged by ApiGen_GetParam) leaves it empty, never stale.
template <typename Value>
int32 GetTyped(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
               int32 Type, int32 (*Read)(Dictionary *, DictionaryItem *, Value *), Value *Out) {
    Debug_CheckPointer(Out);
    *Out = Value{};
    DictionaryItem *Item = nullptr;
    if (!ApiGen_GetParam(Request, ClassName, MethodName, ParameterName, Type, &Item)) return FALSE;
    return Read(Request, Item, Out);
}

// A whole-number parameter: a number its type cannot hold (NaN, an infinity,
// one past its range) is refused rather than wrapped, so that a page passing
// 2^32 for a count or an exit code never gets another value; a fraction is
// refused too, rather than cut to a value the page did not give.
template <typename Whole>
int32 GetWhole(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
               Whole *Out) {
    Debug_CheckPointer(Out);
    *Out = 0;
    float64 Real = 0;
    if (!GetTyped(Request, ClassName, MethodName, ParameterName, DICTIONARY_TYPE_FLOAT64, Dictionary_ItemGetFloat64,
                  &Real))
        return FALSE;
    // Both bounds are powers of two, so exact as doubles.
    constexpr float64 Low = (float64)std::numeric_limits<Whole>::min();
    if (!(Real > Low - 1 && Real < -Low)) {
        Log_Error("Parameter out of range (%s.%s::%s)\n", ClassName, MethodName, ParameterName);
        return FALSE;
    }
    if (Real != std::trunc(Real)) {
        Log_Error("Parameter not a whole number (%s.%s::%s)\n", ClassName, MethodName, ParameterName);
        return FALSE;
    }
    *Out = (Whole)Real;
    return TRUE;
}

} // namespace

int32 ApiGen_GetBoolean(Dictionary *Request, const char *ClassName, const char *MethodName,
                        const char *ParameterName, uint32 *Flag) {
    return GetTyped(Request, ClassName, MethodName, ParameterName, DICTIONARY_TYPE_BOOLEAN, Dictionary_ItemGetBoolean,
                    Flag);
}

int32 ApiGen_GetInt32(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int32 *Value) {
    return GetWhole(Request, ClassName, MethodName, ParameterName, Value);
}

int32 ApiGen_GetInt64(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int64 *Value) {
    return GetWhole(Request, ClassName, MethodName, ParameterName, Value);
}

int32 ApiGen_GetFloat64(Dictionary *Request, const char *ClassName, const char *MethodName,
                        const char *ParameterName, float64 *Value) {
    return GetTyped(Request, ClassName, MethodName, ParameterName, DICTIONARY_TYPE_FLOAT64, Dictionary_ItemGetFloat64,
                    Value);
}

namespace {

// A text parameter read whole: one holding a NUL is refused, since every
// reader takes it up to its first NUL, and "victim\0.tmp" would name (and
// erase, say) "victim".
int32 GetWholeText(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                   DictionaryItem **Item) {
    if (!ApiGen_GetParam(Request, ClassName, MethodName, ParameterName, DICTIONARY_TYPE_STRING, Item)) return FALSE;
    const char *Text = nullptr;
    int32 Length = 0;
    if (Dictionary_ItemGetBufferPtr(Request, *Item, &Text, &Length) && Length > 0 &&
        memchr(Text, 0, (size_t)Length) != nullptr) {
        Log_Error("Parameter holds a NUL (%s.%s::%s)\n", ClassName, MethodName, ParameterName);
        *Item = nullptr;
        return FALSE;
    }
    return TRUE;
}

} // namespace

int32 ApiGen_GetString(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                       char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    DictionaryItem *Item = nullptr;
    if (!GetWholeText(Request, ClassName, MethodName, ParameterName, &Item)) return FALSE;
    return Dictionary_ItemGetString(Request, Item, Buffer, Size);
}

int32 ApiGen_GetStringPtr(Dictionary *Request, const char *ClassName, const char *MethodName,
                          const char *ParameterName, const char **Text) {
    Debug_CheckPointer(Text);
    *Text = nullptr;
    DictionaryItem *Item = nullptr;
    if (!GetWholeText(Request, ClassName, MethodName, ParameterName, &Item)) return FALSE;
    return Dictionary_ItemGetStringPtr(Request, Item, Text);
}

int32 ApiGen_GetDictionary(Dictionary *Request, const char *ClassName, const char *MethodName,
                           const char *ParameterName, Dictionary **Child) {
    return GetTyped(Request, ClassName, MethodName, ParameterName, DICTIONARY_TYPE_DICTIONARY,
                    Dictionary_ItemGetDictionaryHandle, Child);
}

int32 ApiGen_CreateBase64DecodedBuffer(const char *Text, uint8 **Buffer, int32 *Length, int32 *Size) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Length);
    Debug_CheckPointer(Size);
    int32 TextLength = (int32)strnlen(Text, INT32_MAX - 16);
    int32 Needed = 0;
    Base64_CalculateDecodeSize(TextLength, &Needed);
    *Size = Needed + 1;
    *Buffer = static_cast<uint8 *>(Memory_Alloc(*Size));
    *Length = 0;
    int32 Result = Base64_Decode(Text, TextLength, *Buffer, *Size, Length);
    (*Buffer)[*Length] = 0;
    return Result;
}

int32 ApiGen_DeleteBase64DecodedBuffer(uint8 **Buffer, int32 *Size) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Size);
    if (*Buffer != nullptr) *Buffer = static_cast<uint8 *>(Memory_Free(*Buffer, *Size));
    *Size = 0;
    return TRUE;
}

int32 ApiGen_CreateBase64EncodedBuffer(const void *Data, int32 Length, char **Text, int32 *Size) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Size);
    *Text = nullptr;
    *Size = 0;
    if (Data == nullptr || Length <= 0) return FALSE;
    int32 Needed = 0;
    Base64_CalculateEncodeSize(Length, &Needed);
    *Size = Needed + 10;
    *Text = static_cast<char *>(Memory_Alloc(*Size));
    int32 Written = 0;
    int32 Result = Base64_Encode(Data, Length, *Text, *Size, &Written);
    (*Text)[Written] = 0;
    return Result;
}

int32 ApiGen_DeleteBase64EncodedBuffer(char **Text, int32 *Size) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Size);
    if (*Text != nullptr) *Text = static_cast<char *>(Memory_Free(*Text, *Size));
    *Size = 0;
    return TRUE;
}
