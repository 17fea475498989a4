// Formatted printing: the one format engine behind every text the system
// composes (log lines, file names, keys, JSON numbers, macro results). The
// engine walks a format and hands the pieces of output to a write callback;
// thin wrappers print into a fixed buffer, measure, or append.
//
// Besides the usual conversions the engine knows %I64d, %js (JSON-escaped
// text), %ipv4 / %v (dotted IPv4 address from four bytes), %r (English
// ordinal), %!s (UTF-16 text), %S / %C (ASCII upper-cased text and character)
// and 32-bit wide texts through the modifiers l, w or the flag #. A lone "l"
// does not widen an integer: only "ll", "I64" and "z" read 64 bits. There is
// no "h" length modifier and no "n" conversion.
//
// The functions deliberately carry no format(printf) attribute: the compiler
// would reject %js, %ipv4 and %r and approve %ld with 64-bit values.
//
// All state lives in the caller's frame; the engine may run on any thread.
// Buffer variants never write past Size and always terminate when Size >= 1.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

// Class id of the StringBuffer writer record.
#define STRINGBUFFER_CLASSID 0x19ee5213

// Write-callback flag bits: FIRST is set on every piece written before the
// first conversion has been completed; LAST on the pieces that end the format.
#define STRING_WRITE_FIRST 0x1
#define STRING_WRITE_LAST 0x2

RUNTIME_EXTERN_C_BEGIN

// Flags form of the write callback; Written is a scratch value the callback
// may fill. Its result is ignored by the engine.
typedef int32 (*String_WriteCallbackEx)(void *User, uint32 Flags, const char *Text, int32 Length, uint32 *Written);
// Simple form (no flags), used by String_VPrintFormat and stream writers.
typedef int32 (*String_WriteCallback)(void *User, const char *Text, int32 Length, uint32 *Written);

// The (user, callback) pair that String_WriteCallbackInt unwraps.
typedef struct StringWriteCallbackPair {
    void *User;
    String_WriteCallback Callback;
} StringWriteCallbackPair;

// Writer behind the buffer variants; lives on the caller's stack. Buffer is
// null when only measuring. Capacity includes the terminator; Overflow bit 0
// is set once something did not fit, after which nothing more is written.
typedef struct StringBuffer {
    ClassStruct Class;
    char *Buffer;
    int32 Used;
    int32 Capacity;
    int32 Overflow;
} StringBuffer;

// 1 when the whole format was processed, 0 at an unknown conversion (what was
// written so far stays written).
int32 String_VPrintFormatEx(const char *Format, void *User, String_WriteCallbackEx Callback, va_list Arguments);
int32 String_VPrintFormat(const char *Format, void *User, String_WriteCallback Callback, va_list Arguments);
// Pair is a StringWriteCallbackPair; drops the flags and calls the simple form.
int32 String_WriteCallbackInt(void *Pair, uint32 Flags, const char *Text, int32 Length, uint32 *Written);
int32 String_PrintFormat(const char *Format, void *User, String_WriteCallback Callback, ...);
int32 String_PrintFormatEx(const char *Format, void *User, String_WriteCallbackEx Callback, ...);

// Bytes written without the terminator; 0 for a Size below 1. Output that does
// not fit is cut at Size - 1 bytes and the overflow message is logged.
int32 String_VPrint(char *Buffer, int32 Size, const char *Format, va_list Arguments);
int32 String_Print(char *Buffer, int32 Size, const char *Format, ...);
// Full length the output would have (without the terminator).
int32 String_GetVPrintLength(const char *Format, va_list Arguments);
int32 String_GetPrintLength(const char *Format, ...);
// Appends behind the text already in Buffer (Size counts it); cuts silently and
// answers the engine's result (1 or 0).
int32 String_VPrintCat(char *Buffer, int32 Size, const char *Format, va_list Arguments);
// Appends through String_VPrint on the rest of the buffer; bytes appended.
int32 String_PrintCat(char *Buffer, int32 Size, const char *Format, ...);

// Length below 0 measures Text. 0 once the record has overflowed, else 1;
// Written receives the bytes copied.
int32 StringBuffer_Append(StringBuffer *Buffer, const char *Text, int32 Length, uint32 *Written);
// Writes the terminator at Used (nothing for a record without room).
int32 StringBuffer_Finalize(StringBuffer *Buffer);

// One decimal digit of a value scaled into [0, 10): with digits left, the
// integer part becomes the digit character, the value keeps ten times the
// fraction and DigitsLeft drops by one; without, the digit is '0'. 1.
int32 Float64_GetDigit(float64 *Value, int32 *DigitsLeft, char *Digit);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
// The %js form of a UTF-8 text, for writers that escape without a format:
// its length in bytes, and the form itself written to Out (which has room
// for that length; never more than 6 bytes per byte of the text), answering
// the end of what it wrote. NUL bytes become \u0000 like every control
// character.
int64 StringPrint_JsonEscapedLength(const uint8 *Text, int32 Length);
char *StringPrint_JsonEscape(const uint8 *Text, int32 Length, char *Out);
// String_VPrint for a caller that handles a text too long for the buffer
// itself: false, and nothing logged, when the output does not fit in Size - 1
// bytes (Buffer then holds it cut); Used receives the bytes written.
bool StringPrint_VPrintFits(char *Buffer, int32 Size, const char *Format, va_list Arguments, int32 *Used);
#endif
