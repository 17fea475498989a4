// The platform layer: the operating-system services under everything else.
// This header holds its smallest and most widely used pieces (error numbers
// and their classes, socket error texts, atomics and bit scans, raw threads,
// sleeping, GUIDs, secure random bytes, environment variables, facts about
// the running process, the console hooks and standard streams, the two
// UTF-16 converters, and the start and stop of the module). It also includes
// the folder, system-fact and file primitives, so callers include one header.
//
// Conventions: operations answer 1 for success and 0 for failure and leave the
// cause in errno, which the caller reads at once with Platform_GetLastError
// and logs as "[LE: %d]". Pointer arguments are checked: a null one is the
// fatal stop "Pointer is NULL\n", and a thread handle of another class stops
// with the class-mismatch message.
#pragma once

#include "runtime/types.h"
#include "runtime/posix/platform_file.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/posix/platform_network.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/posix/platform_system.h"

#define PLATFORMTHREAD_CLASSID 0x2e551e15u

// Container mode of a thread that uses the application framework: lowered
// priority and a per-loop memory pool (no pool exists on this platform).
#define PLATFORM_THREAD_MODE_PLAIN 0
#define PLATFORM_THREAD_MODE_COCOA 1

// A platform error number is 0, 100000 + errno for a failed system call, or a
// negative status code of a platform framework passed through unchanged.
#define PLATFORM_ERROR_ERRNO_BASE 100000

RUNTIME_EXTERN_C_BEGIN

// Process-wide records. GlobalPlatform is made by Platform_CommonInit and
// GlobalPlatformOSX by Platform_Init; both live until Platform_Remove.
typedef struct GlobalPlatformStruct {
    // The single-instance mark; null until the single-instance service sets it.
    void *AppMark;
} GlobalPlatformStruct;

typedef struct GlobalPlatformOSXStruct {
    // Serialises certificate trust evaluation (a critical section).
    void *TrustLock;
} GlobalPlatformOSXStruct;

extern GlobalPlatformStruct *GlobalPlatform;
extern GlobalPlatformOSXStruct *GlobalPlatformOSX;

// One row of Platform_SocketErrorStringTable; row 0 (-1, "Unknown Error") is
// also the answer for a number that is in no row.
typedef struct PlatformSocketErrorString {
    int32 Number;
    const char *Text;
} PlatformSocketErrorString;

#define PLATFORM_SOCKET_ERROR_COUNT 46
extern const PlatformSocketErrorString Platform_SocketErrorStringTable[PLATFORM_SOCKET_ERROR_COUNT];

typedef int32 (*Platform_ThreadFunc)(void *Context);
typedef void (*Platform_ConsoleControlFunc)(int32 Signal);

// Module start and stop.
int32 Platform_Init(void);
int32 Platform_CommonInit(void);
int32 Platform_Remove(void);
int32 Platform_CommonRemove(void);
// What a service above the primitives holds until the platform stops (the
// proxy auto-config's script heap): it hands Platform_Remove the step that
// frees it, which runs first; null removes it. Always 1.
typedef int32 (*Platform_RemoveFunc)(void);
int32 Platform_SetRemoveStep(Platform_RemoveFunc Function);

// Error numbers.
int32 Platform_GetLastError(void);
int32 Platform_GetLastSocketError(void);
const char *Platform_TranslateSocketError(int32 Number);
int32 Platform_GetErrorString(int32 Error, char *Buffer, int32 Length);
int32 Platform_ErrorNone(int32 Error);
int32 Platform_ErrorMissing(int32 Error);
int32 Platform_ErrorAccessDenied(int32 Error);
int32 Platform_ErrorAccessInvalid(int32 Error);
int32 Platform_ErrorNotEnoughSpace(int32 Error);
int32 Platform_ErrorLocked(int32 Error);
int32 Platform_ErrorNotSupported(int32 Error);
int32 Platform_ErrorAlreadyExists(int32 Error);
// The class name: "None", "Missing", "AccessDenied", "AccessInvalid",
// "NotEnoughSpace", "Locked", "NotSupported", else "Unknown".
const char *Platform_TranslateError(int32 Error);

// Atomics (sequentially consistent). 32-bit operands must be 4-byte aligned
// and pointer operands pointer-aligned; anything else is a fatal stop.
int32 Platform_Increment(int32 *Value);
int32 Platform_Decrement(int32 *Value);
int32 Platform_Add(int32 *Value, int32 Amount);
// Answers the value found before; the exchange took place when it equals
// Comparand. Platform_CAS(p, 0, 0) is the atomic read.
int32 Platform_CAS(int32 *Destination, int32 Exchange, int32 Comparand);
void *Platform_CASPointer(void **Destination, void *Exchange, void *Comparand);
// Bit scans of a 32-bit value; the answer for 0 is not defined.
int32 Platform_CTZ(uint32 Value);
int32 Platform_CLZ(uint32 Value);

// Raw threads. A thread id is the kernel's thread id (gettid).
// Begin: 1, a new joinable thread running Function(Context), its record in
// *Handle and its id in *ThreadId; 0 with both outputs 0 when creation fails.
int32 Platform_ThreadBegin(Platform_ThreadFunc Function, void *Context, uint32 *ThreadId, void **Handle);
// Frees the record and clears *Handle; does not stop or join the thread.
int32 Platform_ThreadEnd(void **Handle);
// Waits for the thread to end; 1 when joined, 0 (errno set) when not.
int32 Platform_ThreadJoin(void *Thread);
int32 Platform_ThreadContainerStart(void *Thread, int32 Mode);
int32 Platform_ThreadTick(void *Thread);
int32 Platform_ThreadContainerEnd(void *Thread);
uint32 Platform_ThreadGetCurrentId(void);
// Only the thread itself may set its name; names are cut to 15 bytes.
int32 Platform_ThreadSetDescription(void *Thread, uint32 ThreadId, const char *Name);
// Sleeps max(Milliseconds, 15) ms.
int32 Platform_SleepMS(int32 Milliseconds);

// Random values.
int32 Platform_CreateGuid(uint8 Guid[16]);
int32 Platform_CryptFill(void *Buffer, int32 Length);

// Environment and process facts.
int32 Platform_SetEnvironmentVariable(const char *Name, const char *Value);
int32 Platform_GetEnvironmentVariable(const char *Name, char *Buffer, int32 Length);
int32 Platform_IsElevated(int32 *Elevated);
int32 Platform_IsDebuggerPresent(void);
int32 Platform_GetParentProcessId(int32 ProcessId);
// When the process started (clock ticks after boot), which tells it from a
// later process given the same id; 0 for a process that does not exist or
// has ended (a zombie).
uint64 Platform_GetProcessStartTime(int32 ProcessId);

// Console. There is no console to attach on this platform: Alloc, Free and
// SetTitle answer 1 and do nothing.
int32 Platform_AllocConsole(void);
int32 Platform_FreeConsole(void);
int32 Platform_SetConsoleTitle(const char *Title);
int32 Platform_SetupConsoleControl(void);
int32 Platform_SetConsoleControlOverride(Platform_ConsoleControlFunc Function);
// 0, 1, 2: standard input, output, error (a FILE *); other numbers: null.
void *Platform_GetStdHandle(int32 Number);
// 1 when all Length bytes were written (and flushed); Written may be null.
int32 Platform_WriteStd(void *Stream, const void *Buffer, int32 Length, int32 *Written);

// UTF-16 <-> UTF-8. Both convert up to the input's terminator or InputLength
// units (a negative InputLength: up to the terminator). With Output null they
// only count. The result is the number of output units (bytes for UTF-8)
// produced, terminator not counted, or -1 when the input holds a unit that
// cannot be converted (a lone surrogate, an invalid UTF-8 sequence). A
// character that does not fit whole ends the conversion; the output is
// terminated when room is left and never written beyond OutputSize.
// *OutCount = input units consumed; for the UTF-8 direction it includes the
// terminator when the terminator was reached.
int32 Platform_WideChar16ToMultiByte(int32 *OutCount, char *Output, int32 OutputSize, const uint16 *Input,
                                     int32 InputLength);
int32 Platform_MultiByteToWideChar16(int32 *OutCount, uint16 *Output, int32 OutputSize, const char *Input,
                                     int32 InputLength);

RUNTIME_EXTERN_C_END
