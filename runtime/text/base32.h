// Base32 encoding (RFC 4648 bit grouping and "=" padding) over an alphabet
// the caller supplies; the browser engine's random content host name is made
// with it. There is no decoder.
//
// Works on the caller's buffers like Base64_Encode: whole groups of eight
// characters, the terminator only when room is left after the text.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 8 x ceil(Length / 5) + 1: the text of Length bytes and its terminator.
int32 Base32_CalculateEncodeSize(int32 Length, int32 *Size);
// Alphabet holds at least 32 characters. 1 when every byte was encoded; 0
// with the whole groups that fitted when the output runs out of room first.
int32 Base32_Encode(const void *Data, int32 Length, const char *Alphabet, char *Output, int32 Size,
                    int32 *Written);

RUNTIME_EXTERN_C_END
