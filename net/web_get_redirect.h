// The HTTP client's URL redirection: named rules, each a PCRE2 pattern and a
// replacement, compiled once when added and applied in order to every
// request URL before it is sent. A rule added under an existing name
// replaces it when the existing rule is mutable and is refused otherwise.
// Replacements may name redirect macros ("{name}"), expanded when the rule
// is added. Option lists are comma-separated PCRE2 option names without
// their prefix, compared without case ("caseless", "global"); redirect flag
// names are logged and ignored, as this client defines none. The client's
// User-Agent template lives here too. Safe from any thread.
#pragma once

#include "runtime/types.h"

#define WEBGET_REDIRECT_NAME_SIZE 120
#define WEBGET_URL_SIZE 4096
#define WEBGET_USERAGENT_SIZE 1024

RUNTIME_EXTERN_C_BEGIN

// 1 when added; 0 for a pattern that does not compile (logged with PCRE2's
// message and offset) or an immutable rule of that name.
int32 WebGet_RedirectAdd(const char *Name, uint32 Flags, uint32 Mutable, const char *Pattern, const char *Replacement,
                         uint32 CompileOptions, uint32 SubstituteOptions);
int32 WebGet_RedirectRemove(const char *Name);
int32 WebGet_RedirectReset(void);
int32 WebGet_RedirectGetCount(int32 *Count);
// Output gets the URL after every rule; 1 when a rule changed it. A result
// longer than Size leaves the URL as it was (0).
int32 WebGet_RedirectApply(const char *Url, char *Output, int32 Size);
uint32 WebGet_RedirectFlagsFromStringList(const char *List);
uint32 WebGet_RedirectCompileOptionsFromStringList(const char *List);
uint32 WebGet_RedirectSubstituteOptionsFromStringList(const char *List);
int32 WebGet_RedirectAddMacro(const char *Name, const char *Value);
int32 WebGet_SetUserAgent(const char *Template);
int32 WebGet_GetUserAgent(char *Buffer, int32 Size);

RUNTIME_EXTERN_C_END
