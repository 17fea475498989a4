// JSON: reads JSON text into a Dictionary and writes a Dictionary back as
// JSON text. Workflow documents, the configuration, script calls and their
// answers, notification payloads and HTTP bodies all pass through it.
//
// The reader is an incremental scanner that looks at one character at a
// time without look-ahead, so a document may arrive in pieces (JSON_Scan)
// and every value may be handed to a value callback before, or instead of,
// being stored. It is deliberately lenient: colons and commas may be
// missing, trailing commas pass, any closing bracket closes the current
// container, and numbers keep the exact text they were written with (every
// number becomes a Float64 item holding that text). The top-level value is
// stored as one keyless item of the attached Dictionary (Dictionary_SkipRoot
// steps into it); members keep their order and repeated keys give repeated
// items. Whole-document loads fail, with "UnknownLength", on input that ends
// inside a value or an open container.
//
// Ownership: the object never owns the attached Dictionary; every load
// empties it first. Options (minify, private keys, callbacks) persist across
// loads. One thread uses an object at a time; it has no lock.
//
// Nesting: 31 containers may be open at once (the level stack has 32
// levels; the 32nd opening bracket fails with "FieldType"). Member keys are
// at most 318 bytes. Messages end with "[... @ line:column]", both counted
// from 1 over the input's bytes and line feeds.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

// The XML object carries the same class id.
#define JSON_CLASSID 0xC9B82F72u

// Levels of the level stack and the sizes of its texts.
#define JSON_MAX_LEVELS 32
#define JSON_KEY_SIZE 320
#define JSON_PATH_SIZE 1024

// Value kinds, as handed to the value callback.
#define JSON_KIND_NONE 0
#define JSON_KIND_STRING 1
#define JSON_KIND_NUMBER 2
#define JSON_KIND_OBJECT 3
#define JSON_KIND_ARRAY 4
#define JSON_KIND_BOOLEAN 5
#define JSON_KIND_NULL 6

// Last-error codes (names in JSON_ErrorStringTable).
#define JSON_ERROR_NONE 0
#define JSON_ERROR_ZEROLENGTH 1
#define JSON_ERROR_UNKNOWNLENGTH 2
#define JSON_ERROR_TYPE 3
#define JSON_ERROR_FIELDTYPE 4
#define JSON_ERROR_STRING 5
#define JSON_ERROR_INTEGER 6
#define JSON_ERROR_BOOLEAN 7
#define JSON_ERROR_NULL 8
#define JSON_ERROR_DECODESIGNATURE 9
#define JSON_ERROR_AUTHENTICATE 10
#define JSON_ERROR_BUILD 11

RUNTIME_EXTERN_C_BEGIN

typedef struct JSON JSON;

typedef struct JSONErrorString {
    int32 Code;
    const char *Name;
} JSONErrorString;

extern const JSONErrorString JSON_ErrorStringTable[12];

// Sees every value as it completes (keys are not values). Path is the value
// path: the keys from the root joined by backslashes, array elements by their
// index. Text and Length are the collected text (empty for a container);
// StreamPosition is the character count where the value's text began (for a
// container, at its bracket); NodePosition and NodeSize both carry Length.
// Answer nonzero to accept; to refuse, set ErrorCode to a nonzero code (a
// refusal without a code is a fatal stop) and the load fails with it.
typedef int32 (*JSON_ValueFunc)(JSON *Json, void *User, const char *Path, int32 Kind, const char *Text,
                                int32 Length, int64 StreamPosition, int32 NodePosition, int32 NodeSize,
                                int32 *ErrorCode);

// ---- Lifecycle and options ----
// A zeroed object with minify and private keys on. Always 1.
int32 JSON_Create(JSON **Handle);
// Frees the object and clears the handle; the Dictionary is not touched.
int32 JSON_Delete(JSON **Handle);
CLASS_DECLARE_REFERENCE(JSON, JSON)
int32 JSON_SetDictionaryHandle(JSON *Handle, Dictionary *Dict);
// 1 only when a Dictionary is attached.
int32 JSON_GetDictionaryHandle(JSON *Handle, Dictionary **Dict);
int32 JSON_SetMinify(JSON *Handle, int32 Minify);
int32 JSON_GetMinify(JSON *Handle, int32 *Minify);
// On: a private item's key is written with a leading ".".
int32 JSON_SetPrivateKeys(JSON *Handle, int32 PrivateKeys);
int32 JSON_GetPrivateKeys(JSON *Handle, int32 *PrivateKeys);
int32 JSON_GetLastError(JSON *Handle, int32 *Code);
int32 JSON_SetLastError(JSON *Handle, int32 Code);
// The code's name; "Unknown" for a code outside the table.
const char *JSON_TranslateError(int32 Code);
int32 JSON_SetValueCallback(JSON *Handle, void *User, JSON_ValueFunc Function);
// Clears the scanner state and the last error and empties the attached
// Dictionary.
int32 JSON_Reset(JSON *Handle);

// ---- Print family (lines go to the log at DEBUG unless a callback is set) ----
CLASSPRINT_DECLARE(JSON, JSON)
// Prints only when the verbose level admits Level.
int32 JSON_VerboseLog(JSON *Handle, int32 Level, const char *Format, ...);

// ---- Readers: 1 on success, 0 on failure (last error and log line) ----
// Resets, then scans the stream to its end or to the end of the top-level
// value (what follows is not read). A parse failure is also recorded as the
// stream's last error unless the stream has one of its own.
int32 JSON_LoadStream(JSON *Handle, StreamStruct *Stream);
// The same through a 4,096-byte read buffer.
int32 JSON_LoadStreamBuffered(JSON *Handle, StreamStruct *Stream);
// "Unable to open file (%s)" and 0 when the file cannot be opened.
int32 JSON_LoadFile(JSON *Handle, const char *Path);
int32 JSON_LoadBuffer(JSON *Handle, const void *Bytes, int32 Size);
// The same, but what follows the top-level value may only be blanks (space,
// tab, CR, LF): anything else fails with "Type" ("Unexpected characters
// after the document"), so that no bytes of a signed text go unread.
int32 JSON_LoadBufferWhole(JSON *Handle, const void *Bytes, int32 Size);
// As JSON_LoadBuffer, on the main thread or any other, with every allocation
// of the parse charged to the process's memory budget as it is made (a list
// of small items costs many times its bytes): a text whose tree would pass
// the budget is refused while it is read (0, *Refused set, the Dictionary
// emptied); else the Dictionary (a root) holds the charge until it goes.
int32 JSON_LoadBufferCharged(JSON *Handle, const void *Bytes, int32 Size, int32 *Refused);
// Formats with the system's print engine (%js gives JSON-escaped text) and
// loads the result; 1 also when the load failed without a last error.
int32 JSON_LoadString(JSON *Handle, const char *Format, ...);
int32 JSON_LoadStringV(JSON *Handle, const char *Format, va_list Arguments);
// The incremental step over one piece: Count receives the characters consumed.
// 1 when the whole piece (the stream's length) was consumed and the document
// goes on in the next piece; 0 when the top-level value is complete, the
// stream gives no more characters, or on an error (the last error says
// which). An empty stream fails with "ZeroLength"; after a failure nothing
// more is read until the next reset. Call JSON_Reset once before the first
// piece. Characters read past the end of the document are given
// back to a stream that can seek.
int32 JSON_Scan(JSON *Handle, StreamStruct *Stream, int32 *Count);
// Copies the Index-th (from 0) backslash-separated segment of a value path
// into Output (cut to Size - 1 bytes); 0 when the path has fewer segments.
int32 JSON_GetKeyByDepth(const char *Path, int32 Index, char *Output, int32 Size);

// ---- Writers: 1 on success; 0 without a Dictionary, for one without items,
// or when a write fails or moves fewer bytes than asked ----
int32 JSON_SaveStream(JSON *Handle, StreamStruct *Stream);
// Into the caller's buffer, which never grows; Written = bytes written.
int32 JSON_SaveBuffer(JSON *Handle, void *Buffer, int32 Capacity, int32 *Written);
// Size = the bytes JSON_SaveStream would write.
int32 JSON_SaveBufferEstimate(JSON *Handle, int32 *Size);
// Writes through a 4,096-byte buffer and cuts the file at the end of the
// text; "Unable to open file (%s)" and 0 when it cannot be opened.
int32 JSON_SaveFile(JSON *Handle, const char *Path);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
// Writes Root as minified JSON, in one pass, into Text (replaced); the
// writers' rules hold, so 0 for a Dictionary without items.
int32 JSON_SaveMinifiedText(Dictionary *Root, std::string &Text);
// Reads Text, to its NUL, into Root as JSON_LoadBufferCharged does, through
// a reader of its own: how the host reads what a page hands it.
int32 JSON_LoadTextCharged(Dictionary *Root, const char *Text, int32 *Refused);
#endif
