// RC4: see rc4.h.
#include "crypto/ciphers/rc4.h"

#include <string.h>

#include <utility>

#include "runtime/debug.h"
#include "runtime/memory.h"

struct RC4 {
    ClassStruct Class;
    uint8 I;
    uint8 J;
    uint32 S[256];
    uint32 KeyLength;
};

#define RC4_Check(Handle) Class_CheckHandle((Handle), RC4_CLASSID)

namespace {

constexpr int32 MaximumKeyLength = 256;

// (A + B) mod 256 for A below 256. On x86-64 one byte-register add does it
// and leaves the upper bits zero, so the result indexes S with no extension.
inline uint64 AddLowByte(uint64 A, uint64 B) {
#if defined(__x86_64__)
    __asm__("addb %b1, %b0" : "+r"(A) : "r"(B));
    return A;
#else
    return (uint8)(A + B);
#endif
}

void ResetState(RC4 *Rc4) {
    Rc4->I = Rc4->J = 0;
    for (int K = 0; K < 256; K++) Rc4->S[K] = (uint8)K;
    Rc4->KeyLength = 0;
}

int32 DeleteThroughClass(void *HandleAddress) { return RC4_Delete(static_cast<RC4 **>(HandleAddress)); }
int32 CreateSlot(void **Context) { return RC4_Create(reinterpret_cast<RC4 **>(Context)); }
int32 DeleteSlot(void **Context) { return RC4_Delete(reinterpret_cast<RC4 **>(Context)); }
RC4 *Self(void *Context) { return static_cast<RC4 *>(Context); }

} // namespace

const CryptSymmetricInterface RC4_INTERFACE = {
    "RC4",
    0,
    CreateSlot,
    DeleteSlot,
    [](void *C, const uint8 *K, int32 L) { return RC4_SetKey(Self(C), K, L); },
    nullptr,
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return RC4_Encrypt(Self(C), I, O, L); },
    [](void *C, const uint8 *I, uint8 *O, int32 L) { return RC4_Decrypt(Self(C), I, O, L); },
    nullptr,
    nullptr,
    nullptr,
};

CLASS_DEFINE_REFERENCE(RC4, RC4, RC4_CLASSID)

int32 RC4_Create(RC4 **Handle) {
    Debug_CheckPointer(Handle);
    RC4 *Rc4 = Memory_New(RC4);
    Class_InitHeader(Rc4, RC4_CLASSID, DeleteThroughClass);
    ResetState(Rc4);
    *Handle = Rc4;
    return TRUE;
}

int32 RC4_Delete(RC4 **Handle) {
    Debug_CheckPointer(Handle);
    RC4 *Rc4 = *Handle;
    RC4_Check(Rc4);
    explicit_bzero(Rc4->S, sizeof(Rc4->S));
    Rc4->I = Rc4->J = 0;
    Rc4->KeyLength = 0;
    Rc4->Class.ClassId = 0;
    Memory_Delete(Rc4);
    *Handle = nullptr;
    return TRUE;
}

int32 RC4_SetKey(RC4 *Handle, const uint8 *Key, int32 Length) {
    RC4_Check(Handle);
    ResetState(Handle);
    if (Length >= MaximumKeyLength) Debug_Abort("Key length too long (%d > %d)\n", Length, MaximumKeyLength);
    if (Length < 1) return FALSE;
    Debug_CheckPointer(Key);
    uint8 J = 0;
    for (int K = 0; K < 256; K++) {
        J = (uint8)(J + Handle->S[K] + Key[K % Length]);
        std::swap(Handle->S[K], Handle->S[J]);
    }
    Handle->KeyLength = (uint32)Length;
    return TRUE;
}

int32 RC4_Encrypt(RC4 *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    RC4_Check(Handle);
    if (Length < 1) return TRUE;
    Debug_CheckPointer(In);
    Debug_CheckPointer(Out);
    // The state is worked on in a local copy: bytes stored through Out could
    // otherwise alias it, and every step would reload. Words, not bytes: a
    // byte table measured a third slower here (partial-register merges).
    uint32 S[256];
    for (int K = 0; K < 256; K++) S[K] = Handle->S[K];
    // I runs unmasked: only its low byte indexes S, and a 32-bit wrap keeps
    // that right. J stays below 256 through AddLowByte, one add per step.
    uint32 I = Handle->I;
    uint64 J = Handle->J;
    // One step in the published order, S[I] given by its slot. S[I] is
    // loaded after the previous step's stores, so when the swap just moved
    // it the store is forwarded.
    auto Step = [&](uint32 *SlotI) -> uint64 {
        const uint64 Si = *SlotI;
        J = AddLowByte(J, Si);
        const uint64 Sj = S[J];
        S[J] = (uint32)Si;
        *SlotI = (uint32)Sj;
        return S[AddLowByte(Sj, Si)];
    };
    auto Next = [&]() -> uint32 {
        I++;
        return (uint32)Step(&S[(uint8)I]);
    };
    // Single steps until I + 1 is a multiple of eight: the eight slots of
    // S[I] that a word then takes lie at fixed offsets and never wrap.
    int32 K = 0;
    for (; K < Length && (I & 7) != 7; K++) Out[K] = (uint8)(In[K] ^ Next());
    // Eight key bytes gathered into one word, applied with one load and store.
    for (; K + 8 <= Length; K += 8) {
        uint32 *P = S + (uint8)(I + 1);
        uint64 Key = Step(P);
        Key |= Step(P + 1) << 8;
        Key |= Step(P + 2) << 16;
        Key |= Step(P + 3) << 24;
        Key |= Step(P + 4) << 32;
        Key |= Step(P + 5) << 40;
        Key |= Step(P + 6) << 48;
        Key |= Step(P + 7) << 56;
        I += 8;
        uint64 Word;
        memcpy(&Word, In + K, 8);
        Word ^= Key;
        memcpy(Out + K, &Word, 8);
    }
    for (; K < Length; K++) Out[K] = (uint8)(In[K] ^ Next());
    for (int K = 0; K < 256; K++) Handle->S[K] = (uint8)S[K];
    explicit_bzero(S, sizeof(S));
    Handle->I = (uint8)I;
    Handle->J = (uint8)J;
    return TRUE;
}

int32 RC4_Decrypt(RC4 *Handle, const uint8 *In, uint8 *Out, int32 Length) {
    return RC4_Encrypt(Handle, In, Out, Length);
}
