// Base64 text encodings of binary data: standard Base64 with "=" padding for
// certificates, HTTP authentication and script buffers, URL-safe Base64
// without padding for JWS and JWK values, and the Base64 macro keys of string
// expansion.
//
// Every operation works on the caller's buffers and reports the produced
// length through an out-parameter; nothing is allocated except the transient
// buffer of a macro decode. Encoders write whole groups of four characters
// and terminate the text only when room is left after it, so a buffer filled
// exactly still succeeds; size buffers with Base64_CalculateEncodeSize and
// Base64_CalculateDecodeSize.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// The 64 characters of the standard alphabet, and the 256-entry reverse table
// (alphabet characters give their value, "=" gives 0, all else 128).
extern const char Base64EncodeLookup[65];
extern const uint8 Base64DecodeLookup[256];

// 4 x ceil(Length / 3) + 1: the text of Length bytes and its terminator.
int32 Base64_CalculateEncodeSize(int32 Length, int32 *Size);
// Length / 4 x 3 + 10: always holds the bytes of a text of Length characters.
int32 Base64_CalculateDecodeSize(int32 Length, int32 *Size);

// 1 when every byte was encoded (no input gives "" and 1); 0 with the whole
// groups that fitted when the output runs out of room first.
int32 Base64_Encode(const void *Data, int32 Length, char *Output, int32 Size, int32 *Written);
// Decodes the text up to its terminator (the length does not stop it). 1 when
// the text ends at a group boundary; 0 when it ends inside a group, holds a
// character outside the alphabet, Size is below 5 or the output cannot take
// three more bytes and a terminator. The output is always terminated and
// Written counts the bytes decoded, also those before a failure.
int32 Base64_Decode(const char *Text, int32 IgnoredLength, void *Output, int32 Size, int32 *Written);

// URL-safe forms: "-" and "_" in place of "+" and "/", no trailing "=".
int32 Base64_UrlEncode(const void *Data, int32 Length, char *Output, int32 Size, int32 *Written);
// Decodes Length characters (or up to an earlier terminator); a length of 1
// modulo 4 cannot be Base64 and fails.
int32 Base64_UrlDecode(const char *Text, int32 Length, void *Output, int32 Size, int32 *Written);

// Macro provider for FromBase64, Base64Decode, ToBase64, Base64Encode,
// Base64ToHex, HexToBase64, ToBase64Url, Base64UrlEncode, FromBase64Url and
// Base64UrlDecode (names without case, argument required). 1 when the name
// was taken, whether or not the conversion succeeded; the result is always
// terminated within Size.
int32 Base64_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

RUNTIME_EXTERN_C_END
