// YAML: reads the subset of YAML that configuration files need into a
// Dictionary and writes a Dictionary back as YAML. The application
// configuration, window configurations, workflow documents and YAML bodies
// fetched by the document loader are read with it.
//
// The subset: block mappings and sequences by indentation, flow sequences
// "[...]" and mappings "{...}", plain, single- and double-quoted scalars,
// comments and the document markers "---" and "...". Indentation is spaces
// (a tab may follow it as a blank, but not stand in it). Block scalars ("|",
// ">"), anchors, aliases, tags, directives and explicit keys are not
// interpreted: "&a x" is the plain scalar "&a x". A plain scalar ends at a
// "#" anywhere in it. Quoted scalars are Strings; a plain scalar is Null
// ("null"), Boolean ("true", "false"; without case outside flow
// collections), a Float64 holding its text when it is a number (decimal with
// optional point and exponent, 0x hexadecimal, 0o octal; a leading sign,
// inside flow collections only "-" before a decimal), else a String.
//
// Shape: as with JSON, the document's top-level value is one unnamed item of
// the attached Dictionary (Dictionary_SkipRoot steps into it); members keep
// their order and repeated keys give repeated items. A key or "- " without a
// value gives a Null item.
//
// Limits: 31 collections may be open at once (a deeper block level fails
// with YAML_ERROR_DEPTH, a deeper flow bracket with YAML_ERROR_FIELDTYPE);
// keys are at most 318 bytes (a longer one fails with YAML_ERROR_FIELDTYPE).
// Messages end with "[... @ line:column]", both counted from 1.
//
// Ownership: the object never owns the attached Dictionary; every load
// empties it first. One thread uses an object at a time; it has no lock.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define YAML_CLASSID 0x52AD693Au

#define YAML_MAX_LEVELS 32
#define YAML_KEY_SIZE 320

// Verbose level of the parse trace (each value as it is stored).
#define YAML_VERBOSELEVEL_PARSE 9

// Kinds of the scanner's levels and tokens.
#define YAML_TYPE_NONE 0
#define YAML_TYPE_LINE_START 1
#define YAML_TYPE_SEQUENCE 2
#define YAML_TYPE_FLOW_SEQUENCE 3
#define YAML_TYPE_MAP_KEY 4
#define YAML_TYPE_FLOW_MAP 5
#define YAML_TYPE_DOCUMENT_START 6
#define YAML_TYPE_DOCUMENT_END 7
#define YAML_TYPE_PLAIN 8
#define YAML_TYPE_DOUBLE_QUOTED 9
#define YAML_TYPE_SINGLE_QUOTED 10
#define YAML_TYPE_COMMENT 11

// Last-error codes.
#define YAML_ERROR_NONE 0
// A "..." line, or "---" after content: only one document is read.
#define YAML_ERROR_END_OF_DOCUMENT 1
#define YAML_ERROR_EMPTY 2
// The input ended inside a quoted scalar or a flow collection.
#define YAML_ERROR_END_OF_STREAM 3
// A bracket that cannot be opened or closed, a line starting "-" without a
// blank ("-5"), a key of 319 bytes or more, text after "---" on its line, a
// tab in the indentation of a block line that holds more than a comment.
#define YAML_ERROR_FIELDTYPE 4
#define YAML_ERROR_ESCAPE 5
#define YAML_ERROR_DEPTH 6

RUNTIME_EXTERN_C_BEGIN

typedef struct YAML YAML;

// ---- Lifecycle ----
int32 YAML_Create(YAML **Handle);
// Frees the object and clears the handle; the Dictionary is not touched.
int32 YAML_Delete(YAML **Handle);
CLASS_DECLARE_REFERENCE(YAML, YAML)
// Clears the scanner and the last error and empties the attached Dictionary.
int32 YAML_Reset(YAML *Handle);
int32 YAML_SetDictionaryHandle(YAML *Handle, Dictionary *Dict);
// 1 only when a Dictionary is attached.
int32 YAML_GetDictionaryHandle(YAML *Handle, Dictionary **Dict);
int32 YAML_GetLastError(YAML *Handle, int32 *Code);
// The code's name ("EndOfStream" ...); "Unknown" for a code without one.
const char *YAML_TranslateError(int32 Code);

CLASSPRINT_DECLARE(YAML, YAML)
int32 YAML_VerboseLog(YAML *Handle, int32 Level, const char *Format, ...);

// ---- Readers: 1 when the last error is 0 and the stream has no error ----
// Resets, then reads the stream to its end.
int32 YAML_LoadStream(YAML *Handle, StreamStruct *Stream);
// The same through a 4,096-byte read buffer.
int32 YAML_LoadStreamBuffered(YAML *Handle, StreamStruct *Stream);
int32 YAML_LoadBuffer(YAML *Handle, const void *Bytes, int32 Size);
// "Unable to open file (%s)" and 0 when the file cannot be opened.
int32 YAML_LoadFile(YAML *Handle, const char *Path);
// The incremental step: reads one piece (the stream's length, or to its end
// when it has none); Count receives the bytes taken. 1 when the piece was
// taken and the document may go on; 0 when the stream gave no bytes (the end
// of the input: what is pending is completed, and input without any byte
// fails with YAML_ERROR_EMPTY), on an end marker, or on an error. Call
// YAML_Reset before the first piece.
int32 YAML_Scan(YAML *Handle, StreamStruct *Stream, int32 *Count);

// ---- Writers: 1 on success; 0 without a Dictionary, for one without items,
// or when a write fails or moves fewer bytes than asked ----
int32 YAML_SaveStream(YAML *Handle, StreamStruct *Stream);
// Into the caller's buffer, which never grows; Written = bytes written.
int32 YAML_SaveBuffer(YAML *Handle, void *Buffer, int32 Capacity, int32 *Written);
// Size = the bytes YAML_SaveStream would write.
int32 YAML_SaveBufferEstimate(YAML *Handle, int32 *Size);

RUNTIME_EXTERN_C_END
