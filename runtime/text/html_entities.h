// HTML character references in UTF-8 and UTF-16 texts: texts from web pages,
// feeds or localisation files may carry named and numeric references
// (&amp;, &#233;, &#x20AC;), and texts that must cross an ASCII-only channel
// are written with decimal references.
//
// Decoding drops CR and LF from the source, looks a name up with its case
// first and then without, and writes numeric references as whole code points
// (a surrogate pair in UTF-16); a reference to 0 stays as text, so a decoded
// text never ends early, and a number that is no Unicode scalar value becomes
// U+FFFD. Destinations are the caller's; results are always terminated when
// the size is at least 1. Null pointers are the fatal stop "Pointer is NULL\n".
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 1 when the whole source was decoded, 0 when the destination filled first.
int32 StringUtf8_DecodeHtml(const char *Source, char *Destination, int32 Size);
int32 StringUtf16_DecodeHtml(const uint16 *Source, uint16 *Destination, int32 Units);

// ASCII bytes are copied, every other character becomes "&#<decimal>;" (an
// ill-formed sequence that of U+FFFD); stops before a reference that does
// not fit. Always 1.
int32 StringUtf8_EncodeString(const char *Source, char *Destination, int32 Size);
// The inverse: "&#" or "##" starts a reference that runs through the next
// ";" (or to the end of the text) and gives the character of its number.
// Always 1.
int32 StringUtf8_DecodeString(const char *Source, char *Destination, int32 Size);

RUNTIME_EXTERN_C_END
