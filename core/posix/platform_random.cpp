// GUIDs and secure random bytes from the kernel's generator (getrandom).
//
// The generator never fails once the kernel has seeded it, so a failure here
// means the process cannot make keys or ids it can trust: a fatal stop.
#include <errno.h>
#include <sys/random.h>

#include "core/debug.h"
#include "core/posix/platform.h"

extern "C" int32 Platform_CryptFill(void *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    int32 Status = Length < 0 ? EINVAL : 0;
    auto *Bytes = static_cast<uint8 *>(Buffer);
    for (int32 Filled = 0; Status == 0 && Filled < Length;) {
        ssize_t Count = getrandom(Bytes + Filled, (size_t)(Length - Filled), 0);
        if (Count > 0)
            Filled += (int32)Count;
        else if (Count < 0 && errno != EINTR)
            Status = errno;
    }
    if (Status != 0)
        Debug_AbortInt(__FILE__, __LINE__,
                       "Assertion failed (Result == errSecSuccess)\nCrypt unable to fill buffer (%d:%d)", Length,
                       Status);
    return 1;
}

extern "C" int32 Platform_CreateGuid(uint8 Guid[16]) {
    Debug_CheckPointer(Guid);
    Platform_CryptFill(Guid, 16);
    // A random (version 4) UUID of the RFC 4122 variant, bytes in canonical order.
    Guid[6] = (uint8)((Guid[6] & 0x0F) | 0x40);
    Guid[8] = (uint8)((Guid[8] & 0x3F) | 0x80);
    return 1;
}
