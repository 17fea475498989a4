// ApiGen: what every script class dispatcher shares. A dispatcher, called by
// the script bridge as invoke(user, request, result), reads the method
// selector, reads each parameter by name and exact type, calls one native
// operation and writes its answer under "returnValue" in the result.
//
// The request is the Dictionary parsed from the page's JSON: "method" (the
// lowerCamelCase name), the bridge's private Int32 "methodHash" (the CRC-32 of
// the name; dispatchers switch on Crc32Const("name") constants) and one item
// per parameter. JSON gives text as String, every number as Float64, objects
// as Dictionary and arrays as List.
//
// Getters take (request, class name, method name, parameter name, ...): the
// two names only serve the log. Each answers 1, or logs at ERROR and answers
// 0; a null output handle is a fatal stop. Byte data crosses the bridge as
// Base64 text; the buffer helpers allocate from the runtime allocator and are
// freed with their size.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

// Dispatchers write text answers through buffers of this size.
#define APIGEN_TEXT_SIZE 8192

RUNTIME_EXTERN_C_BEGIN

// The method's name (the request's own text) and its selector.
int32 ApiGen_GetMethod(Dictionary *Request, const char *ClassName, const char **MethodName, uint32 *MethodHash);
// The item keyed ParameterName when its type is exactly Type.
int32 ApiGen_GetParam(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int32 Type, DictionaryItem **Item);

int32 ApiGen_GetBoolean(Dictionary *Request, const char *ClassName, const char *MethodName,
                        const char *ParameterName, uint32 *Flag);
// Numbers: the JSON number's text read as an integer (cut to 32 bits) or a double.
int32 ApiGen_GetInt32(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int32 *Value);
int32 ApiGen_GetInt64(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                      int64 *Value);
int32 ApiGen_GetFloat64(Dictionary *Request, const char *ClassName, const char *MethodName,
                        const char *ParameterName, float64 *Value);
// Copies at most Size - 1 characters.
int32 ApiGen_GetString(Dictionary *Request, const char *ClassName, const char *MethodName, const char *ParameterName,
                       char *Buffer, int32 Size);
// The request's own text, valid while the request lives.
int32 ApiGen_GetStringPtr(Dictionary *Request, const char *ClassName, const char *MethodName,
                          const char *ParameterName, const char **Text);
// The item's child container (no reference added).
int32 ApiGen_GetDictionary(Dictionary *Request, const char *ClassName, const char *MethodName,
                           const char *ParameterName, Dictionary **Child);

// Decodes Base64 text into a new buffer of Size bytes with a NUL after the
// Length decoded bytes; answers the decoder's result. Delete frees it with
// its size and clears both (also for an empty handle).
int32 ApiGen_CreateBase64DecodedBuffer(const char *Text, uint8 **Buffer, int32 *Length, int32 *Size);
int32 ApiGen_DeleteBase64DecodedBuffer(uint8 **Buffer, int32 *Size);
// Encodes Length bytes into new terminated Base64 text; 0 (nothing
// allocated) for no data. Delete frees it with its size and clears both.
int32 ApiGen_CreateBase64EncodedBuffer(const void *Data, int32 Length, char **Text, int32 *Size);
int32 ApiGen_DeleteBase64EncodedBuffer(char **Text, int32 *Size);

RUNTIME_EXTERN_C_END
