// PBKDF2 (RFC 8018, section 5.2) with HMAC as the pseudo-random function.
//
// The password is keyed once: the inner and outer pad states are hashed into
// two stack contexts, and every iteration starts from copies of them, so
// the loop costs two digest finishes and no allocation. The result equals
// keying an HMAC object per iteration.
#include <alloca.h>
#include <string.h>

#include <algorithm>

#include "crypto/digests/digest_internal.h"
#include "crypto/digests/hmac.h"
#include "crypto/digests/sha1.h"

namespace {

// Largest output HMACSHA1_DeriveKey gives (its length is a 16-bit number).
constexpr int32 MaxDerivedLength = 65535;

// A stack context released (and so wiped) when the derivation ends.
struct Stacked {
    const HashInterface *Interface;
    void *Memory;
    Stacked(const HashInterface *Interface, void *Memory) : Interface(Interface), Memory(Memory) {
        Interface->Stack(Memory);
    }
    ~Stacked() { Interface->Unstack(Memory); }
    Stacked(const Stacked &) = delete;
    Stacked &operator=(const Stacked &) = delete;
};

// One HMAC from the keyed pad states: Work = Inner + Data, finish, then
// Work = Outer + inner digest, finish; the MAC lands in Mac.
void Mac(const HashInterface *Interface, void *Inner, void *Outer, void *Work, const uint8 *Data, uint32 Length,
         uint8 *Mac, uint32 DigestSize) {
    Interface->CopyTo(Inner, Work);
    Interface->Process(Work, Data, Length);
    Interface->Generate(Work);
    Interface->GetDigest(Work, Mac, (int32)DigestSize);
    Interface->CopyTo(Outer, Work);
    Interface->Process(Work, Mac, DigestSize);
    Interface->Generate(Work);
    Interface->GetDigest(Work, Mac, (int32)DigestSize);
}

} // namespace

int32 HMAC_DeriveKey(const HashInterface *Interface, const void *Password, uint32 PasswordLength, const void *Salt,
                     uint32 SaltLength, int32 Iterations, void *Output, int32 OutLength) {
    Debug_CheckPointer(Interface);
    Debug_CheckPointer(Password);
    Debug_CheckPointer(Salt);
    Debug_CheckPointer(Output);
    if (OutLength < 0) return FALSE;
    uint8 *Out = static_cast<uint8 *>(Output);
    if (Iterations < 1) {
        memset(Out, 0, (size_t)OutLength);
        return TRUE;
    }
    const uint32 BlockSize = Interface->BlockSize, DigestSize = Interface->DigestSize;
    const size_t Room = ((size_t)Interface->SizeOf() + 15) & ~(size_t)15;
    Stacked Inner(Interface, alloca(Room)), Outer(Interface, alloca(Room)), Salted(Interface, alloca(Room)),
        Work(Interface, alloca(Room));
    uint8 *Key = static_cast<uint8 *>(alloca(std::max(BlockSize, DigestSize)));
    uint8 *U = static_cast<uint8 *>(alloca(DigestSize));
    uint8 *T = static_cast<uint8 *>(alloca(DigestSize));

    // The key block: the password, or its digest when longer than a block.
    memset(Key, 0, std::max(BlockSize, DigestSize));
    if (PasswordLength > BlockSize) {
        Interface->Process(Work.Memory, Password, PasswordLength);
        Interface->Generate(Work.Memory);
        Interface->GetDigest(Work.Memory, Key, (int32)DigestSize);
    } else if (PasswordLength != 0) {
        memcpy(Key, Password, PasswordLength);
    }
    for (uint32 At = 0; At < BlockSize; At++) Key[At] ^= 0x36;
    Interface->Process(Inner.Memory, Key, BlockSize);
    for (uint32 At = 0; At < BlockSize; At++) Key[At] ^= 0x36 ^ 0x5c;
    Interface->Process(Outer.Memory, Key, BlockSize);
    digest::Wipe(Key, std::max(BlockSize, DigestSize));
    Interface->CopyTo(Inner.Memory, Salted.Memory);
    if (SaltLength != 0) Interface->Process(Salted.Memory, Salt, SaltLength);

    for (uint32 Block = 1; (uint64)(Block - 1) * DigestSize < (uint64)OutLength; Block++) {
        const uint8 Index[4] = {(uint8)(Block >> 24), (uint8)(Block >> 16), (uint8)(Block >> 8), (uint8)Block};
        Mac(Interface, Salted.Memory, Outer.Memory, Work.Memory, Index, 4, U, DigestSize);
        memcpy(T, U, DigestSize);
        for (int32 Round = 1; Round < Iterations; Round++) {
            Mac(Interface, Inner.Memory, Outer.Memory, Work.Memory, U, DigestSize, U, DigestSize);
            for (uint32 At = 0; At < DigestSize; At++) T[At] ^= U[At];
        }
        const uint64 Offset = (uint64)(Block - 1) * DigestSize;
        memcpy(Out + Offset, T, (size_t)std::min<uint64>(DigestSize, (uint64)OutLength - Offset));
    }
    digest::Wipe(U, DigestSize);
    digest::Wipe(T, DigestSize);
    return TRUE;
}

int32 HMACSHA1_DeriveKey(const void *Password, uint32 PasswordLength, const void *Salt, uint32 SaltLength,
                         int32 Iterations, void *Output, int32 OutLength) {
    Debug_CheckPointer(Password);
    Debug_CheckPointer(Salt);
    Debug_CheckPointer(Output);
    if (OutLength > MaxDerivedLength) return FALSE;
    return HMAC_DeriveKey(&SHA1_INTERFACE, Password, PasswordLength, Salt, SaltLength, Iterations, Output, OutLength);
}
