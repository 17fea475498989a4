// The log: one line composer for every module, written to the console, the
// log file, an external print callback or a print override. Lines are at most
// 4,095 characters; stamped lines carry the local time when it changed.
#pragma once

#include "core/types.h"

#define LOG_ERROR 0
#define LOG_WARNING 1
#define LOG_INFO 2
#define LOG_DEBUG 3

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Log_PrintFunc)(void *User, const char *Format, ...);

extern const char *Log_LevelStringTable[4];

int32 Log_PrintInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, ...);
int32 Log_PrintVInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, int32 Stamp,
                    va_list Arguments);
int32 Log_PrintFormat(const char *Format, ...);
int32 Log_PrintString(const char *Text);
int32 Log_PrintStringWithTimeStamp(const char *Text);
int32 Log_PrintBits(uint64 Value, int32 Count);
int32 Log_PrintBitsInt(void *User, Log_PrintFunc Printer, uint64 Value, int32 Count);
int32 Log_PrintBinary(int32 WithText, int32 NewLine, const void *Data, int32 Length);
int32 Log_PrintBinaryInt(void *User, Log_PrintFunc Printer, int32 WithText, int32 NewLine, const void *Data,
                         int32 Length);
int32 Log_GetVerboseLevel(const char *Name, int32 *Level);
int32 Log_SetFilename(const char *Name);
int32 Log_GetFilename(char *Output, int32 Size);
int32 Log_SetLevel(int32 Level);
int32 Log_Level(void);
const char *Log_TranslateLevel(int32 Level);
int32 Log_TranslateLevelString(const char *Text);
int32 Log_IsEnabled(void);
int32 Log_WriteString(const char *Text, int32 Abort, int32 Stamp);
int32 Log_WriteConsole(const char *Text);
int32 Log_WriteFile(const char *Text, int32 Abort);
int32 Log_Fork(const char *CommandLine);

RUNTIME_EXTERN_C_END

#define Log_Print(Level, ...) Log_PrintInt((Level), __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Error(...) Log_PrintInt(LOG_ERROR, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Warning(...) Log_PrintInt(LOG_WARNING, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Info(...) Log_PrintInt(LOG_INFO, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Debug(...) Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, __VA_ARGS__)
