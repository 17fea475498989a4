// Ini: reads INI files into a Dictionary and writes a Dictionary back as an
// INI file (the INI read and write tasks use it).
//
// Shape: key=value lines before the first section are String items of the
// attached Dictionary; each "[name]" section is a Dictionary item of that
// name holding its lines' String items. Repeated sections share one item,
// repeated keys give repeated items. A line is split at its first "=", and
// the blanks around it stay part of key and value. Lines starting with ";"
// are comments. While a line is read, a backslash before ":", ";", "\",
// "n", "r" or "t" gives ":", ";", "\", line feed, carriage return or tab; a
// backslash before anything else stays. A line holds at most 4,097
// characters after its escapes are resolved.
//
// Ownership: the object never owns the attached Dictionary. Loading adds to
// it without emptying it first; deleting the object empties it. One thread
// uses an object at a time; it has no lock.
#pragma once

#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define INI_CLASSID 0x438B69F6u

// The longest line, in characters after escapes.
#define INI_MAX_LINE 4097
// Verbose level of the parse trace (comments, sections, parameters).
#define INI_VERBOSELEVEL_PARSE 1

RUNTIME_EXTERN_C_BEGIN

typedef struct Ini Ini;

// Line ending "\r\n". Always 1.
int32 Ini_Create(Ini **Handle);
// Empties the attached Dictionary (when one is attached), frees the object
// and clears the handle.
int32 Ini_Delete(Ini **Handle);
CLASS_DECLARE_REFERENCE(Ini, Ini)
int32 Ini_SetDictionaryHandle(Ini *Handle, Dictionary *Dict);
// Empties the attached Dictionary.
int32 Ini_Reset(Ini *Handle);
// Dumps the attached Dictionary through the object's print routine.
int32 Ini_Dump(Ini *Handle);
// Text that ends every written line; not copied, so it must outlive the
// object. A null text is a fatal stop.
int32 Ini_SetLineEnding(Ini *Handle, const char *Text);

CLASSPRINT_DECLARE(Ini, Ini)
int32 Ini_VerboseLog(Ini *Handle, int32 Level, const char *Format, ...);

// Readers: 1 when the input ended after well-formed lines; 0 at a malformed
// or too long line (logged with its line number), when the stream fails, or
// without a Dictionary. Items read before a failure stay.
int32 Ini_LoadStream(Ini *Handle, StreamStruct *Stream);
// "Unable to open file (%s)" (verbose log) and 0 when it cannot be opened.
int32 Ini_LoadFile(Ini *Handle, const char *Path);

// Writers: 1 when every byte was written. Items without a key or text,
// containers nested deeper than a section, and keys that would read back as
// something else (empty, starting with ";" or "[", holding "=") are left out
// with a log line. A write that fails or moves fewer bytes fails the save.
int32 Ini_SaveStream(Ini *Handle, StreamStruct *Stream);
// Writes through a 4,096-byte buffer and cuts the file at the end of the
// text; "Unable to open file (%s)" and 0 when it cannot be opened.
int32 Ini_SaveFile(Ini *Handle, const char *Path);

RUNTIME_EXTERN_C_END
