// The process command line and its argument vector. The process keeps its
// line once (at most 4,096 bytes) and answers every question about switches
// ("--name" or "--name=value", names without case) and fields from it, or
// from any line a caller passes: a null line means the process line.
//
// Ownership: after Arguments_Init the vector is the platform's (never freed
// here); after CommandLine_Init it is built from the line on the system heap
// and freed by CommandLine_Remove. Arguments_Build vectors belong to the
// caller, who frees them with Arguments_Free. Not thread-safe: the line is
// set up at start (and in a forked child) before other threads read it.
#pragma once

#include "runtime/types.h"

#define COMMAND_LINE_SIZE 4096
#define CORE_SWITCH_FILTER_COUNT 18

RUNTIME_EXTERN_C_BEGIN

int32 Arguments_Init(int32 Count, char **Vector);
int32 Arguments_Remove(void);
int32 Arguments_Get(int32 *Count, char ***Vector);
// How many of the arguments given to Arguments_Init did not fit in the
// process line (whole arguments are left out from the first that does not
// fit); 0 when all did or the line was set otherwise.
int32 Arguments_GetLeftOut(int32 *Count);
// Splits a line into a new vector of system-heap strings.
int32 Arguments_Build(const char *Line, int32 *Count, char ***Vector);
// One pass of the split: counts the tokens, and fills Vector (room for Count
// entries) when it is not null.
int32 Arguments_BuildBySeparator(const char *Line, int32 *Count, char **Vector);
int32 Arguments_Free(int32 *Count, char ***Vector);

int32 CommandLine_Init(const char *Line);
int32 CommandLine_InitWide(const uint16 *Line);
int32 CommandLine_Remove(void);
// Joins a vector with single spaces; an argument with a space or a quote is
// quoted, its quotes doubled, so that the field scanner gives it back whole.
// Only whole arguments are joined: the first that does not fit ends the line.
int32 CommandLine_Build(int32 Count, const char *const *Vector, char *Output, int32 Size);
int32 CommandLine_Append(const char *Text);
int32 CommandLine_Get(const char **Line);

// Fields: stretches between blanks (codes 1-32), with quoted fields and
// quoted values ("--name="a b"") kept whole. Indexes count from 0.
int32 CommandLine_GetFieldBoundary(const char *Line, int32 Index, int32 *Count, const char **Start,
                                   const char **End);
int32 CommandLine_GetFieldCount(const char *Line, int32 *Count);
int32 CommandLine_GetField(const char *Line, int32 Index, char *Output, int32 Size);
int32 CommandLine_GetFieldPtr(const char *Line, int32 Index, const char **Field);
int32 CommandLine_GetFieldCleanAndCopy(const char *Start, const char *End, char *Output, int32 Size);

// Switches.
int32 CommandLine_GetFieldByName(const char *Line, const char *Name, char *Output, int32 Size);
int32 CommandLine_GetFieldName(const char *Field, char *Output, int32 Size);
int32 CommandLine_GetFieldValue(const char *Field, char *Output, int32 Size);
int32 CommandLine_GetFieldValuePtr(const char *Field, const char **Value);
int32 CommandLine_IsFieldSet(const char *Line, const char *Name);

// The runtime's own switches, dropped when a second instance forwards its
// line to the first.
extern const char *const Core_SwitchFilterTable[CORE_SWITCH_FILTER_COUNT];
int32 Core_ShouldRemoveSwitch(const char *Name);

RUNTIME_EXTERN_C_END
