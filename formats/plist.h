// Plist: reads and writes XML property lists (key, string, true, false,
// integer, real, array, dict) to and from a Dictionary, and reads or sets
// single values by path. Application bundles' information lists and the
// property-list tasks use it.
//
// It has no parser of its own: files are read and written by the XML object
// and converted between the XML mapping and typed items (string: String,
// true/false: Boolean, integer: Int64, real: Float64, array: List, dict:
// Dictionary). A load adds one keyless item holding the top-level dict (the
// shape of a JSON document); the value operations look paths up below it
// (Dictionary_SkipRoot). Elements data and date are not supported. Only the
// XML form is read: a binary property list, or any file without a plist
// element, fails the load, so that a caller never saves a near-empty list
// over it.
//
// Reals are written as the shortest text that reads back to the same
// double; an empty string element is the empty text.
//
// Ownership: the attached Dictionary is not owned; loads add to it without
// emptying it. One thread uses an object at a time; it has no lock.
#pragma once

#include <stdarg.h>

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define PLIST_CLASSID 0x1E26AE39u

RUNTIME_EXTERN_C_BEGIN

typedef struct Plist Plist;

// ---- Lifecycle and options ----
// Minify off (one element per line, as property-list files are written).
int32 Plist_Create(Plist **Handle);
int32 Plist_Delete(Plist **Handle);
CLASS_DECLARE_REFERENCE(Plist, Plist)
int32 Plist_SetDictionaryHandle(Plist *Handle, Dictionary *Dict);
// 1 only when a Dictionary is attached.
int32 Plist_GetDictionaryHandle(Plist *Handle, Dictionary **Dict);
int32 Plist_SetMinify(Plist *Handle, int32 Minify);
int32 Plist_GetMinify(Plist *Handle, int32 *Minify);
// Empties the attached Dictionary, when there is one.
int32 Plist_Reset(Plist *Handle);

// ---- Print family ----
CLASSPRINT_DECLARE(Plist, Plist)
int32 Plist_VerboseLog(Plist *Handle, int32 Level, const char *Format, ...);

// ---- Files ----
// Adds the file's top-level value to the attached Dictionary. 0 without a
// Dictionary, when the file cannot be read, is not an XML property list
// ("Failed to find plist doctype [%s]") or holds what cannot be converted.
int32 Plist_Load(Plist *Handle, const char *Path);
// A file larger than Bytes is refused by Plist_Load, with a line saying so,
// before it is read (0: no limit, the default).
int32 Plist_SetReadLimit(Plist *Handle, int64 Bytes);
// Writes the attached Dictionary's top-level dict (or a single keyless
// List, as array) as a property-list file. Nothing is written, and the file
// stays as it was, when an item cannot be converted.
int32 Plist_Save(Plist *Handle, const char *Path);

// ---- Conversions ----
// From the XML mapping of an element's content into Destination; 0 after
// "Error while trying to parse plist" (or "Unsupported data type encountered
// [%s]") when a value cannot be read.
int32 Plist_LoadDictionary(Plist *Handle, Dictionary *XmlDict, Dictionary *Destination);
// The members of Source as property-list elements in XmlDict (the content
// of a dict element); 0 for Null and Unknown items ("Unsupported data type
// encountered [%d]").
int32 Plist_SaveDictionary(Plist *Handle, Dictionary *Source, Dictionary *XmlDict);

// ---- Values by path below the top-level dict (0 without a Dictionary or
// when the path names nothing; outputs are cleared first) ----
int32 Plist_HasKey(Plist *Handle, const char *Path);
// The item's text, cut to Size - 1 bytes ("true"/"false" for a Boolean).
int32 Plist_GetValue(Plist *Handle, const char *Path, char *Output, int32 Size);
int32 Plist_GetValueBoolean(Plist *Handle, const char *Path, uint32 *Value);
int32 Plist_GetValueInt64(Plist *Handle, const char *Path, int64 *Value);
int32 Plist_GetValueFloat64(Plist *Handle, const char *Path, float64 *Value);
// Sets the named item to the type and value, or adds an item with that key
// to the top-level dict when the path names nothing.
int32 Plist_SetValue(Plist *Handle, const char *Path, const char *Text);
int32 Plist_SetValueBoolean(Plist *Handle, const char *Path, uint32 Value);
int32 Plist_SetValueInt64(Plist *Handle, const char *Path, int64 Value);
int32 Plist_SetValueFloat64(Plist *Handle, const char *Path, float64 Value);

RUNTIME_EXTERN_C_END
