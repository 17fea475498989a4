// Application bundles: a folder named "*.app" or "*.framework" (without case)
// with an Info.plist ("Contents/Info.plist", or "Resources/Info.plist" for a
// framework), whose keys are the bundle's info values.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 AppBundle_IsValid(const char *Path);
int32 AppBundle_GetInfoPlistPath(const char *Path, char *Out, int32 Size);
// The executable the bundle names ("Contents/MacOS/" and CFBundleExecutable,
// or the bundle's own name without its extension).
int32 AppBundle_GetExecutablePath(const char *Path, char *Out, int32 Size);
// FileVersion, ProductVersion, ProductName, LegalCopyright and CompanyName
// from their bundle keys, then every Info.plist key. A path inside a bundle's
// executable folder stands for its bundle.
// An Info.plist past APPBUNDLE_INFO_MOST bytes is refused, with a line
// saying so, before it is read.
#define APPBUNDLE_INFO_MOST (1024 * 1024)
int32 AppBundle_GetInfoDictionary(const char *Path, Dictionary *Dict);
int32 AppBundle_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size);

RUNTIME_EXTERN_C_END
