// Version information of executables: the values "FileVersion",
// "ProductVersion", "ProductName" and "CompanyName" that the log header prints
// and the module log directory uses.
//
// The readers of executable formats are not part of this tree yet, so no file
// is known to carry these values: every query answers 0 with an empty text,
// and the callers leave out what they would have shown.
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

// Path null: the running executable. 1 and the value copied into Text (cut to
// Size) when the file carries it; else 0 and an empty text.
int32 Executable_GetFileVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductName(const char *Path, char *Text, int32 Size);
int32 Executable_GetCompanyName(const char *Path, char *Text, int32 Size);
// Releases what was cached about the running executable; 1.
int32 Executable_Shutdown(void);

RUNTIME_EXTERN_C_END
