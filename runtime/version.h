// Version texts and boolean words, both read from configuration texts, macro
// arguments and executable version values.
//
// A version is four signed 32-bit parts (major, minor, build, revision),
// missing parts 0, written "%d.%d.%d.%d"; a leading "v"/"V" is allowed and
// parts are separated by "." or ",". Boolean words are "1", "TRUE", "YES",
// "ON" and "0", "FALSE", "NO", "OFF", without case.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 String_EncodeVersion(char *Buffer, int32 Size, int32 Major, int32 Minor, int32 Build, int32 Revision);
// 1 for a valid version; 0 for an empty text or a non-digit in the first three
// parts (the numbers found are stored all the same). Each out-pointer is optional.
int32 String_DecodeVersion(const char *Text, int32 *Major, int32 *Minor, int32 *Build, int32 *Revision);
// Prints the four parts of Text (0 when absent) with the caller's print format.
int32 String_ConvertVersion(char *Output, int32 Size, const char *Text, const char *Format);
// Order: 1 when A is greater, -1 when smaller, 0 when equal; 0 (order 0) when either is invalid.
int32 String_CompareVersion(const char *A, const char *B, int32 *Order);
// 1 and the word's value, 1 and Default for an empty text, 0 and Default otherwise.
int32 String_DecodeBoolean(const char *Text, int32 *Value, int32 Default);

RUNTIME_EXTERN_C_END
