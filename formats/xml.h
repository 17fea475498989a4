// XML: reads XML text into a Dictionary and writes a Dictionary back as XML.
// HTTP bodies, installer tables of contents, the files the XML tasks edit and
// property lists (Plist) pass through it.
//
// The reader is a small tag scanner, not a validating parser: it accepts any
// input except an empty one and never fails on broken markup. Elements
// become Dictionary items keyed by their tag (repeated tags give repeated
// items, in document order); attributes become items keyed "-name" (String,
// or Null without a value); element text becomes a String "#text", trimmed
// of blanks, and an element whose only content is text collapses into a
// String item holding it. Declarations ("?xml", "!DOCTYPE", comments) become
// Dictionary items whose words are Null attributes. The five predefined
// entities and numeric character references are decoded in text and
// attribute values; any other "&name;" stays as written. Attribute values
// may be quoted with double or single quotes. Closing tags are not matched:
// each one closes the innermost open element.
//
// The writer escapes what the reader decodes, and writes blanks at either
// end of a text as character references, so every String it writes reads
// back byte for byte. Minify (on by default) writes one line; off, every
// element stands on its own line indented by four blanks per level.
//
// Ownership: the object never owns the attached Dictionary; every load
// empties it first and turns its private-keys option off ("#text" must stay
// a key). One thread uses an object at a time; it has no lock.
//
// Nesting: at most 31 elements may be open at once; a tag that would open a
// 32nd fails the load with "Depth". Tag and attribute names of 319 bytes or
// more are not stored. Messages end with "[... @ line:column]", both counted
// from 1 over the input's bytes and line feeds.
#pragma once

#include <stdarg.h>

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

// The JSON object carries the same class id.
#define XML_CLASSID 0xC9B82F72u

#define XML_MAX_LEVELS 32
#define XML_KEY_SIZE 320
#define XML_PATH_SIZE 1024

// Value kinds, as handed to the value callback.
#define XML_KIND_NONE 0
#define XML_KIND_TEXT 1
#define XML_KIND_ELEMENT 3
#define XML_KIND_ATTRIBUTE 6
#define XML_KIND_DECLARATION_END 8

// Last-error codes (names in XML_ErrorStringTable).
#define XML_ERROR_NONE 0
#define XML_ERROR_ZEROLENGTH 1
#define XML_ERROR_DEPTH 2
#define XML_ERROR_KEY 3

RUNTIME_EXTERN_C_BEGIN

typedef struct XML XML;

typedef struct XMLErrorString {
    int32 Code;
    const char *Name;
} XMLErrorString;

extern const XMLErrorString XML_ErrorStringTable[4];

// Sees every value before it is stored: elements, attributes, text and the
// ends of declarations. Path is the value path (the tags from the top joined
// by backslashes, ending with the value's own key); Text and Length are the
// decoded text (empty for an element). StreamPosition is the character count
// where the value's text began; NodePosition and NodeSize both carry Length.
// The answer is ignored: the callback cannot refuse a value.
typedef int32 (*XML_ValueFunc)(XML *Xml, void *User, const char *Path, int32 Kind, const char *Text, int32 Length,
                               int64 StreamPosition, int32 NodePosition, int32 NodeSize);

// ---- Lifecycle and options ----
// A zeroed object with minify on. Always 1.
int32 XML_Create(XML **Handle);
// Frees the object and clears the handle; the Dictionary is not touched.
int32 XML_Delete(XML **Handle);
CLASS_DECLARE_REFERENCE(XML, XML)
int32 XML_SetDictionaryHandle(XML *Handle, Dictionary *Dict);
// 1 only when a Dictionary is attached.
int32 XML_GetDictionaryHandle(XML *Handle, Dictionary **Dict);
int32 XML_SetMinify(XML *Handle, int32 Minify);
int32 XML_GetMinify(XML *Handle, int32 *Minify);
int32 XML_GetLastError(XML *Handle, int32 *Code);
int32 XML_SetLastError(XML *Handle, int32 Code);
// The code's name; "Unknown" for a code outside the table.
const char *XML_TranslateError(int32 Code);
int32 XML_SetValueCallback(XML *Handle, void *User, XML_ValueFunc Function);
// Clears the levels, counters and last error and empties the attached
// Dictionary.
int32 XML_Reset(XML *Handle);

// ---- Print family (lines go to the log at DEBUG unless a callback is set) ----
CLASSPRINT_DECLARE(XML, XML)
// Prints only when the verbose level admits Level.
int32 XML_VerboseLog(XML *Handle, int32 Level, const char *Format, ...);

// ---- Readers: 1 on success, 0 on failure (last error and log line) ----
// Resets, then scans the stream to its end.
int32 XML_LoadStream(XML *Handle, StreamStruct *Stream);
// "Unable to open file (%s)" and 0 when the file cannot be opened.
int32 XML_LoadFile(XML *Handle, const char *Path);
int32 XML_LoadBuffer(XML *Handle, const void *Bytes, int32 Size);
// Formats with the system's print engine and loads the result.
int32 XML_LoadString(XML *Handle, const char *Format, ...);
int32 XML_LoadStringV(XML *Handle, const char *Format, va_list Arguments);
// The incremental step over one piece (call XML_Reset before the first):
// Count receives the characters consumed. 1 after consuming the stream's
// length (the document may go on in the next piece); 0 when the stream gives
// no more characters, has length 0 ("ZeroLength") or on an error. After a
// failure nothing more is read until the next reset.
int32 XML_Scan(XML *Handle, StreamStruct *Stream, int32 *Count);

// ---- Writers: 1 on success; 0 without a Dictionary, for one without items,
// for elements nested deeper than the reader accepts, or when a write fails
// or moves fewer bytes than asked ----
int32 XML_SaveStream(XML *Handle, StreamStruct *Stream);
// Into the caller's buffer, which never grows; Written = bytes written.
int32 XML_SaveBuffer(XML *Handle, void *Buffer, int32 Capacity, int32 *Written);
// Size = the bytes XML_SaveStream would write.
int32 XML_SaveBufferEstimate(XML *Handle, int32 *Size);
// Writes through a 4,096-byte buffer and cuts the file at the end of the
// text; "Unable to open file (%s)" and 0 when it cannot be opened.
int32 XML_SaveFile(XML *Handle, const char *Path);

// ---- Building a Dictionary to be written as XML (Item, Child optional) ----
int32 XML_AddElement(Dictionary *Dict, const char *Name, Dictionary **Child, DictionaryItem **Item);
int32 XML_AddStringElement(Dictionary *Dict, const char *Name, const char *Text, DictionaryItem **Item);
int32 XML_EnsureElement(Dictionary *Dict, const char *Name, DictionaryItem **Item, Dictionary **Child);
int32 XML_EnsureStringElement(Dictionary *Dict, const char *Name, const char *Text);
// The String item "-Name" (added, or set when present).
int32 XML_AddAttribute(Dictionary *Dict, const char *Name, const char *Value, DictionaryItem **Item);
int32 XML_EnsureAttribute(Dictionary *Dict, const char *Name, const char *Value);
// Finds or appends the "?xml" declaration; sets "-version" and "-encoding"
// (a null argument removes the item) and keeps the Null item "-?" last.
int32 XML_EnsureRoot(Dictionary *Dict, const char *Version, const char *Encoding, DictionaryItem **Item);
// The "!DOCTYPE" declaration right after "?xml" (or appended), holding
// exactly the four words as Null attributes. Quotes the written DOCTYPE
// should carry are part of the words. A null word is a fatal stop.
int32 XML_EnsureDocType(Dictionary *Dict, const char *A, const char *B, const char *C, const char *D,
                        DictionaryItem **Item);
// Merges the Dictionary of the source document's first item into that of
// the destination's (Dictionary_Merge flags); 0 when either document lacks
// a first container item.
int32 XML_Merge(XML *Destination, XML *Source, uint32 Mode);

RUNTIME_EXTERN_C_END
