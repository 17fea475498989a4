// The TLS client's tables: cipher-suite names to their standard 16-bit ids,
// the process-wide set of enabled suites (all off at start), and the
// minimum and maximum protocol versions (0x0301 "1.0" to 0x0303 "1.2"). This
// build carries no TLS client; configuration fills these tables so that one
// can read them.
#pragma once

#include "runtime/types.h"

#define TLS1_VERSION_1_0 0x0301
#define TLS1_VERSION_1_1 0x0302
#define TLS1_VERSION_1_2 0x0303
#define TLS1_CIPHER_COUNT 18

RUNTIME_EXTERN_C_BEGIN

// The suite id of a name (without case), else 0 and "Unknown cipher suite".
uint16 TLS1_CipherTranslate(const char *Name);
// The name of the table entry at Index (0 to TLS1_CIPHER_COUNT - 1), or null.
const char *TLS1_CipherName(int32 Index);
int32 TLS1_CipherEnable(uint16 Id, uint32 Flag);
int32 TLS1_CipherIsEnabled(uint16 Id);
// Turns every suite off.
int32 TLS1_CipherReset(void);
// "1.0", "1.1", "1.2" to their version numbers; anything else 0.
uint16 TLS1_VersionTranslate(const char *Text);
// Versions outside 1.0 to 1.2 are clamped into it.
int32 TLS_VersionSetMin(uint16 Version);
int32 TLS_VersionSetMax(uint16 Version);
uint16 TLS_VersionGetMin(void);
uint16 TLS_VersionGetMax(void);

RUNTIME_EXTERN_C_END
