// Macro expansion: every configurable text (paths, URLs, file names,
// templates, pipe names) may carry macros, a name in braces with an optional
// ":" and argument: {Temp}, {Env:HOME}, {PathJoin:{UserHome},Downloads}.
// String_Expand replaces them in place, innermost first. A name is offered,
// in this fixed order, to the platform values, the built-in functions, the
// expand-key providers of other modules and last to the caller's callback;
// the first that answers gives the value. Unknown names and a "{" not
// followed by an ASCII letter or digit stay as plain text.
//
// Bounds: the working text is 8,192 bytes, a macro's name text at most 8,139
// bytes and one value at most 8,139 bytes plus its terminator. A value that
// does not fit, a nesting deeper than 32 macros, or more than 1,000
// replacements in one expansion (values that lead back to themselves) fail
// the expansion: 0, the caller's text unchanged, a DEBUG log line.
//
// No shared state: the working areas belong to the call, and providers and
// the callback run on the caller's thread. A provider or callback may expand
// texts of its own.
#pragma once

#include "runtime/types.h"

#define STRING_EXPAND_WORK_SIZE 8192
// Every provider writes its value into an output of this size.
#define STRING_EXPAND_RESULT_SIZE 8140
#define STRING_EXPAND_MAX_DEPTH 32
#define STRING_EXPAND_MAX_REPLACEMENTS 1000

RUNTIME_EXTERN_C_BEGIN

typedef struct Dictionary Dictionary;

// A macro provider (module providers and callers' callbacks alike): 1 when it
// produced the value of Name (into Output, terminated within Size); any other
// result means the name is not its own. Argument is null when the macro has
// no ":"; names are to be compared without case.
typedef int32 (*String_ExpandFunc)(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

// The places of the expand-key providers of other modules, in the order they
// are asked. The path, Base64, URL and socket keys belong to the runtime and
// are always there; the executable, hash, registry and HMAC keys belong to
// modules above it, which set their provider at start-up.
#define STRING_EXPAND_PROVIDER_PATH 0
#define STRING_EXPAND_PROVIDER_EXECUTABLE 1
#define STRING_EXPAND_PROVIDER_BASE64 2
#define STRING_EXPAND_PROVIDER_HASH 3
#define STRING_EXPAND_PROVIDER_URL 4
#define STRING_EXPAND_PROVIDER_SOCKET 5
#define STRING_EXPAND_PROVIDER_REGISTRY 6
#define STRING_EXPAND_PROVIDER_HMAC 7
#define STRING_EXPAND_PROVIDER_COUNT 8
// Puts Provider (null: none) at Slot; 0 for a slot out of range.
int32 String_SetExpandProvider(int32 Slot, String_ExpandFunc Provider);

// Expands Text (Size bytes of room) in place. 1 on success, also when there
// was nothing to expand; 0 when an expansion failed (Text unchanged). The
// result is cut at Size - 1 bytes. Callback may be null.
int32 String_Expand(char *Text, int32 Size, void *User, String_ExpandFunc Callback);
// As String_Expand, and names (in Stuck, StuckSize bytes; "" when none) the
// first macro that stays unexpanded for good though it has a value: one
// whose value is the macro itself, or that made the expansion fail (a value
// that leads back to itself, grows past the bounds, or nests too deep).
int32 String_ExpandNamingStuck(char *Text, int32 Size, void *User, String_ExpandFunc Callback, char *Stuck,
                               int32 StuckSize);
// Flags of String_ExpandEx and String_ExpandDictionaryEx.
// {This} (any case, with an argument too) stays as written: for callers whose
// own texts give "this" a meaning of their own, where a copy of the text in
// front of it would be acted on as if it had been written.
#define STRING_EXPAND_KEEP_THIS 1u
// As String_ExpandNamingStuck (Stuck may be null), with Flags.
int32 String_ExpandEx(char *Text, int32 Size, void *User, String_ExpandFunc Callback, uint32 Flags, char *Stuck,
                      int32 StuckSize);
// Expands the macro whose "{" is at Open inside Work (a working buffer of
// STRING_EXPAND_WORK_SIZE bytes), after the macros nested in it.
int32 String_ExpandInternal(char *Work, char *Open, void *User, String_ExpandFunc Callback);
// The platform values ({Temp}, {UserHome}, {CPUCount}, {Env:NAME} ...) into
// an Output of STRING_EXPAND_RESULT_SIZE bytes; 1 when Name is one of them and
// its value was produced.
int32 String_ExpandPlatform(const char *Name, const char *Argument, char *Output);
// Expands every String item of the Dictionary and of all its child
// Dictionaries and lists, in a buffer of the working size. An item that does
// not fit that, before or after its expansion, or holds a NUL byte, is left as
// it is rather than cut. An item whose expansion fails keeps its text.
// Always 1.
int32 String_ExpandDictionary(Dictionary *Handle, void *User, String_ExpandFunc Callback);
// As String_ExpandDictionary, with the flags of String_ExpandEx.
int32 String_ExpandDictionaryEx(Dictionary *Handle, void *User, String_ExpandFunc Callback, uint32 Flags);

RUNTIME_EXTERN_C_END
