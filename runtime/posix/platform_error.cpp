// Platform error numbers, their classes and the socket error texts.
//
// The classes and the socket table name conditions by errno. They are written
// with the errno constants rather than numbers: the values 1-34 are the same
// on every Unix, but above that Linux numbers its errors differently (a
// refused connection is 111 here), and a number copied from another system
// would file an unrelated error under a class or a text. Negative numbers are
// framework status codes, passed through unchanged, and stay as they are.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <span>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"

namespace {

constexpr int32 FromErrno(int32 Number) { return PLATFORM_ERROR_ERRNO_BASE + Number; }

// Linux has no errno for a process limit; the row keeps the table's rows and
// order and never matches a real error.
constexpr int32 NoSuchErrno = INT32_MIN;

constexpr int32 MissingErrors[] = {FromErrno(ENOENT), FromErrno(ESRCH)};
constexpr int32 AccessDeniedErrors[] = {FromErrno(EPERM), FromErrno(EACCES), FromErrno(EBUSY), FromErrno(EROFS),
                                        FromErrno(EAGAIN), -61, -54, 7};
constexpr int32 AccessInvalidErrors[] = {
    FromErrno(ENOENT), FromErrno(EBADF),  FromErrno(EEXIST),   FromErrno(EISDIR),      FromErrno(ENFILE),
    FromErrno(EMFILE), FromErrno(EFBIG),  FromErrno(ESPIPE),   FromErrno(EMLINK),      FromErrno(ENETDOWN),
    FromErrno(ENETUNREACH), FromErrno(ENAMETOOLONG), -43, -42, -38, -37, -23, -120, -925, -1301, -1407, -1410};
constexpr int32 NotEnoughSpaceErrors[] = {FromErrno(ENOSPC), -33, -34, -1425, -1429};
constexpr int32 LockedErrors[] = {FromErrno(EDEADLK), -34, -45, -46, -1425};
constexpr int32 NotSupportedErrors[] = {FromErrno(ENODEV),          FromErrno(EPROTONOSUPPORT), FromErrno(ESOCKTNOSUPPORT),
                                        FromErrno(ENOTSUP),         FromErrno(EPFNOSUPPORT),    FromErrno(EAFNOSUPPORT),
                                        FromErrno(EOPNOTSUPP),      -1424, -1426, -1858, -2405};
constexpr int32 AlreadyExistsErrors[] = {FromErrno(EEXIST)};

int32 IsIn(std::span<const int32> Class, int32 Error) {
    return std::find(Class.begin(), Class.end(), Error) != Class.end();
}

} // namespace

extern "C" const PlatformSocketErrorString Platform_SocketErrorStringTable[PLATFORM_SOCKET_ERROR_COUNT] = {
    {-1, "Unknown Error"},
    {0, "No Error"},
    {EACCES, "Permission denied"},
    {EADDRINUSE, "Address already in use"},
    {EADDRNOTAVAIL, "Cannot assign requested address"},
    {EAFNOSUPPORT, "Address family not supported by protocol family"},
    {EALREADY, "Operation already in progress"},
    {EBADF, "Bad file number"},
    {ECANCELED, "Cancelled"},
    {ECONNABORTED, "Software caused connection abort"},
    {ECONNREFUSED, "Connection refused"},
    {ECONNRESET, "Connection reset by peer"},
    {EDESTADDRREQ, "Destination address required"},
    {EDQUOT, "Disk quota"},
    {EFAULT, "Bad address"},
    {EHOSTDOWN, "Host is down"},
    {EHOSTUNREACH, "No route to host"},
    {EINPROGRESS, "Operation now in progress"},
    {EINTR, "Interrupted function call"},
    {EINVAL, "Invalid argument"},
    {EISCONN, "Socket is already connected"},
    {ELOOP, "Loop"},
    {EMFILE, "Too many open files"},
    {EMSGSIZE, "Message too long"},
    {ENAMETOOLONG, "Name too long"},
    {ENETDOWN, "Network is down"},
    {ENETRESET, "Network dropped connection on reset"},
    {ENETUNREACH, "Network is unreachable"},
    {ENOBUFS, "No buffer space available"},
    {ENOPROTOOPT, "Bad protocol option"},
    {ENOTCONN, "Socket is not connected"},
    {ENOTEMPTY, "Directory not empty"},
    {ENOTSOCK, "Socket operation on non-socket"},
    {EOPNOTSUPP, "Operation not supported"},
    {EPFNOSUPPORT, "Protocol family not supported"},
    {NoSuchErrno, "Too many processes"},
    {EPROTONOSUPPORT, "Protocol not supported"},
    {EPROTOTYPE, "Protocol wrong type for socket"},
    {EREMOTE, "Remote"},
    {ESHUTDOWN, "Cannot send after socket shutdown"},
    {ESOCKTNOSUPPORT, "Socket type not supported"},
    {ESTALE, "Stale"},
    {ETIMEDOUT, "Connection timed out"},
    {ETOOMANYREFS, "Too many references"},
    {EUSERS, "Too many users"},
    {EAGAIN, "Resource temporarily unavailable"},
};

extern "C" int32 Platform_GetLastError(void) {
    int32 Number = errno;
    return Number == 0 ? 0 : FromErrno(Number);
}

extern "C" int32 Platform_GetLastSocketError(void) { return errno; }

extern "C" const char *Platform_TranslateSocketError(int32 Number) {
    for (const PlatformSocketErrorString &Row : Platform_SocketErrorStringTable)
        if (Row.Number == Number) return Row.Text;
    return Platform_SocketErrorStringTable[0].Text;
}

extern "C" int32 Platform_GetErrorString(int32 Error, char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    // No framework comments its status codes here; only C library errors have texts.
    if (Error <= PLATFORM_ERROR_ERRNO_BASE || Length < 1) return 0;
    char Scratch[256];
    const char *Text = strerror_r(Error - PLATFORM_ERROR_ERRNO_BASE, Scratch, sizeof(Scratch));
    size_t Count = std::min(strlen(Text), (size_t)Length - 1);
    memcpy(Buffer, Text, Count);
    Buffer[Count] = 0;
    return 1;
}

extern "C" int32 Platform_ErrorNone(int32 Error) { return Error == 0; }
extern "C" int32 Platform_ErrorMissing(int32 Error) { return IsIn(MissingErrors, Error); }
extern "C" int32 Platform_ErrorAccessDenied(int32 Error) { return IsIn(AccessDeniedErrors, Error); }
extern "C" int32 Platform_ErrorAccessInvalid(int32 Error) { return IsIn(AccessInvalidErrors, Error); }
extern "C" int32 Platform_ErrorNotEnoughSpace(int32 Error) { return IsIn(NotEnoughSpaceErrors, Error); }
extern "C" int32 Platform_ErrorLocked(int32 Error) { return IsIn(LockedErrors, Error); }
extern "C" int32 Platform_ErrorNotSupported(int32 Error) { return IsIn(NotSupportedErrors, Error); }
extern "C" int32 Platform_ErrorAlreadyExists(int32 Error) { return IsIn(AlreadyExistsErrors, Error); }

extern "C" const char *Platform_TranslateError(int32 Error) {
    // Tested in this order; the first class that holds the number names it.
    struct NamedClass {
        int32 (*Test)(int32);
        const char *Name;
    };
    static constexpr NamedClass Classes[] = {
        {Platform_ErrorNone, "None"},
        {Platform_ErrorMissing, "Missing"},
        {Platform_ErrorAccessDenied, "AccessDenied"},
        {Platform_ErrorAccessInvalid, "AccessInvalid"},
        {Platform_ErrorNotEnoughSpace, "NotEnoughSpace"},
        {Platform_ErrorLocked, "Locked"},
        {Platform_ErrorNotSupported, "NotSupported"},
    };
    for (const NamedClass &Class : Classes)
        if (Class.Test(Error)) return Class.Name;
    return "Unknown";
}
