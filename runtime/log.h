// The log: one line composer for every module, written to the console, the
// log file, an external print callback or a print override. Lines are at most
// 4,095 characters; every stamped line is preceded by the local time
// ("mm/dd/yyyy hh:mm:ss "), whose text is rebuilt only when the time changed.
//
// The log record (GlobalLog) lives from Debug_Init to Debug_Remove; nothing is
// logged outside that span. Its recursive lock serialises console and file
// writes, the stamp text and file switching. The log file's name is the base
// name with, in this order, the local date (per-day), the file id, ".P<pid>"
// (per-process) and ".T<tid>" (per-thread, threads other than the main one)
// put before its extension; a fatal message with flag 0x40 goes to the base
// name + ".err". Files are created owner-only (0600) and never opened through
// a symbolic link; folders the log creates for itself are owner-only (0700).
#pragma once

#include "runtime/types.h"

#define LOG_ERROR 0
#define LOG_WARNING 1
#define LOG_INFO 2
#define LOG_DEBUG 3
// Lines at this level carry no "LEVEL - " prefix (the log header uses it).
#define LOG_NOPREFIX 0xFFFFFFFFu

#define LOG_LINE_SIZE 4096
#define LOG_NAME_SIZE 1024
#define LOG_STAMP_SIZE 80
#define LOG_VERBOSE_NAME_SIZE 40
#define LOG_VERBOSE_LIST_SIZE 240

RUNTIME_EXTERN_C_BEGIN

// One item of the `verbose` switch, kept in the order given.
typedef struct LogVerboseStruct {
    char Name[LOG_VERBOSE_NAME_SIZE]; // wildcard pattern, letters without case
    int32 Negated;                    // 1 for an item written with a leading "!"
    int32 Level;                      // default 1
    struct LogVerboseStruct *Next;
} LogVerboseStruct;

typedef struct LogStruct {
    void *Lock;
    float64 LastStampTime;
    char StampText[LOG_STAMP_SIZE];
    int32 File; // descriptor of the open log file; 0 means closed
    void *Console;
    char BaseName[LOG_NAME_SIZE];
    char FileId[LOG_NAME_SIZE];
    char CurrentPath[LOG_NAME_SIZE];
    LogVerboseStruct *Verbose;
} LogStruct;

extern LogStruct *GlobalLog;
extern const char *Log_LevelStringTable[4];

typedef int32 (*Log_PrintFunc)(void *User, const char *Format, ...);

int32 Log_PrintInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, ...);
int32 Log_PrintVInt(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format, int32 Stamp,
                    va_list Arguments);
// Writes the start of a line at Level and Indent ("LEVEL - " and the
// indent's spaces, as Log_PrintVInt puts them) into Text, which has room for
// LOG_LINE_SIZE bytes, and terminates it; the bytes written. A caller that
// composes the rest of the line itself hands it on with Log_WriteString.
int32 Log_BeginLine(uint32 Level, int32 Indent, char *Text);
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
// The folder of the log file FilePath opened (read-only, close-on-exec) when
// it is one the log may go into: a real folder, not a link, of this user's
// own (root's, for a root process) that no other user can write. -1
// otherwise. Whatever removes or makes log files works through this handle,
// so it never acts in a folder the log itself would refuse.
int32 Log_OpenFolder(const char *FilePath);
int32 Log_Fork(const char *CommandLine);
// The rule for what no log line shows (see log_redact.cpp): a name that holds
// a secret (a password, passphrase, token, key, Authorization or Cookie),
// Length bytes of it or, when negative, up to its terminator; a path of
// names ("a\\b", "a/b", "a.b") any of whose segments is one. Tracers that
// print a member by its path show LOG_SECRET_MASK for its value then.
int32 Log_IsSecretName(const char *Name, int32 Length);
int32 Log_IsSecretPath(const char *Path);

// The log record's start and end; only Debug_Init, Debug_Remove call them.
// Log_Init makes the record, reads the file id, sets the base name and, when
// logging is enabled, the verbose list. Log_Remove frees the verbose list and
// the lock (before the leak report); Log_CloseFile closes the open file (also
// when the output or the file name changes).
int32 Log_Init(const char *Path);
int32 Log_Remove(void);
int32 Log_CloseFile(void);

RUNTIME_EXTERN_C_END

#define LOG_SECRET_MASK "***"

#ifdef __cplusplus
#include <string>
// Text with every secret it shows masked into Output: a secret name's value
// beside it and a URL's password. 0, leaving Output alone, when there was
// none. Every line the log writes passes through it.
int32 Log_Redact(const char *Text, std::string &Output);
#endif

#define Log_Print(Level, ...) Log_PrintInt((Level), __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Error(...) Log_PrintInt(LOG_ERROR, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Warning(...) Log_PrintInt(LOG_WARNING, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Info(...) Log_PrintInt(LOG_INFO, __FILE__, __LINE__, 0, __VA_ARGS__)
#define Log_Debug(...) Log_PrintInt(LOG_DEBUG, __FILE__, __LINE__, 0, __VA_ARGS__)
