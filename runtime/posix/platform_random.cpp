// GUIDs and secure random bytes from the kernel's generator (getrandom).
//
// The generator never fails once the kernel has seeded it, so a failure here
// means the process cannot make keys or ids it can trust: a fatal stop.
#include <errno.h>
#include <pthread.h>
#include <string.h>
#include <sys/random.h>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"

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

namespace {

// Ids are made by the thousand (every task, event and page has one), and a
// kernel call each cost more than the rest of the id on a virtual machine:
// each thread draws them from a buffer of 256 filled by one call. A forked
// child must not hand out its parent's ids again, so a fork makes every
// buffer stale.
constexpr int32 GuidBufferBytes = 4096;
uint32 GlobalForkGeneration = 1;

struct GuidBuffer {
    uint8 Bytes[GuidBufferBytes];
    int32 Used = GuidBufferBytes;
    uint32 Generation = 0;
};
thread_local GuidBuffer ThreadGuids;

void AfterFork() { __atomic_add_fetch(&GlobalForkGeneration, 1, __ATOMIC_RELAXED); }

void TakeGuidBytes(uint8 Guid[16]) {
    static const int Registered = pthread_atfork(nullptr, nullptr, AfterFork);
    (void)Registered;
    GuidBuffer &Buffer = ThreadGuids;
    const uint32 Generation = __atomic_load_n(&GlobalForkGeneration, __ATOMIC_RELAXED);
    if (Buffer.Used > GuidBufferBytes - 16 || Buffer.Generation != Generation) {
        Platform_CryptFill(Buffer.Bytes, GuidBufferBytes);
        Buffer.Used = 0;
        Buffer.Generation = Generation;
    }
    memcpy(Guid, Buffer.Bytes + Buffer.Used, 16);
    // Handed-out bytes are not kept.
    memset(Buffer.Bytes + Buffer.Used, 0, 16);
    Buffer.Used += 16;
}

} // namespace

extern "C" int32 Platform_CreateGuid(uint8 Guid[16]) {
    Debug_CheckPointer(Guid);
    TakeGuidBytes(Guid);
    // A random (version 4) UUID of the RFC 4122 variant, bytes in canonical order.
    Guid[6] = (uint8)((Guid[6] & 0x0F) | 0x40);
    Guid[8] = (uint8)((Guid[8] & 0x3F) | 0x80);
    return 1;
}
