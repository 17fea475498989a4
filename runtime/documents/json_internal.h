// Private to the JSON module (json.cpp, json_read.cpp, json_write.cpp,
// json_errors.cpp, json_file.cpp): the object's record and the helpers its
// files share.
//
// Level d of the stack describes the value being scanned at nesting depth d.
// Its key segment names the member being read one level further down (for an
// array level: the element index as decimal text), and its key bit says the
// segment holds a member key still waiting for its value. Depth is the level
// being scanned; containers are open on levels 0 ... Depth - 1.
#pragma once

#include "runtime/callback.h"
#include "runtime/documents/json.h"
#include "runtime/streams/memory_stream.h"

// The handle check every public JSON operation makes first.
#define JSON_Check(Handle) Class_CheckHandle((Handle), JSON_CLASSID)

// Number states (the sub-state while a number is scanned).
enum JsonNumberState : int32 {
    JsonNumberStart = 0,
    JsonNumberLeadingZero,
    JsonNumberDigits,
    JsonNumberExponentMark,
    JsonNumberNeedDigit,
    JsonNumberLeadingMinus,
};

// String sub-states.
enum JsonStringState : int32 {
    JsonStringPlain = 0,
    JsonStringEscape = 1,
    JsonStringUnicode = 2,
};

#define JSON_NUMBER_POINT 0x1
#define JSON_NUMBER_EXPONENT 0x2

typedef struct JSONLevel {
    int32 Kind;           // value kind being scanned at this level
    int32 Index;          // an array level: index of the last element begun; -1 before the first
    Dictionary *Target;   // receives this level's items; null without a Dictionary
    int32 KeyStart;       // where the stored key begins in Key: behind its last backslash
    int32 KeyLength;      // the stored key's length: from KeyStart to the first NUL behind it
    char Key[JSON_KEY_SIZE];
} JSONLevel;

struct JSON {
    ClassStruct Class;
    ClassPrintStruct Print;
    JSONLevel Levels[JSON_MAX_LEVELS];
    uint32 KeyBits;          // bit d: level d's key segment holds a waiting key
    int32 Depth;             // 0 ... 32
    MemoryStream *Value;     // text of the scalar being scanned
    int32 Line;              // 1 + line feeds consumed
    int64 LineStart;         // character count just behind the last line feed
    int32 ValueSeen;
    int32 CommaSeen;
    int32 SubState;          // string or number state
    int32 NumberFlags;
    char UnicodeDigits[4];
    int32 UnicodeCount;
    uint32 PendingSurrogate; // a high surrogate escape waiting for its low half
    char Literal[8];         // true, false, null as collected
    int32 LiteralLength;
    int32 LastError;
    int64 CharCount;         // characters consumed since the last reset
    int64 ValueStart;        // CharCount where the current scalar's text began
    Dictionary *Dict;        // attached, not owned
    CallbackStruct ValueCallback;
    int32 Minify;
    int32 PrivateKeys;
};

// Logs a parse message through the print family.
void JsonInternal_Report(JSON *Json, const char *Format, ...);
// Sets the last error and logs the message.
void JsonInternal_Fail(JSON *Json, int32 Code, const char *Format, ...);

// Clears what the scanner keeps about the value in progress (separators seen,
// sub-state, partial number, literal and escape), as at the start of a value.
inline void JsonInternal_ClearValueState(JSON *Json) {
    Json->ValueSeen = 0;
    Json->CommaSeen = 0;
    Json->SubState = 0;
    Json->NumberFlags = 0;
    Json->LiteralLength = 0;
    Json->UnicodeCount = 0;
    Json->PendingSurrogate = 0;
}
