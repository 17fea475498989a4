// Shared by the digest modules only: byte-order helpers, block buffering,
// the operations every context type has in common, the record builder, and
// the compression functions with their processor-specific variants (which
// the tests also call directly).
//
// Every context type is a struct with the class header first and, among its
// fields, DigestReady and an inline Digest array; DigestLength(context) gives
// the current digest size. The digest lives inside the context, so a stacked
// context takes no heap memory at all.
#pragma once

#include <string.h>

#include <algorithm>

#include "crypto/digests/hash.h"
#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/memory.h"

namespace digest {

inline uint32 Load32Be(const uint8 *At) {
    uint32 Value;
    memcpy(&Value, At, 4);
    return __builtin_bswap32(Value);
}
inline uint32 Load32Le(const uint8 *At) {
    uint32 Value;
    memcpy(&Value, At, 4);
    return Value;
}
inline uint64 Load64Be(const uint8 *At) {
    uint64 Value;
    memcpy(&Value, At, 8);
    return __builtin_bswap64(Value);
}
inline void Store32Be(uint8 *At, uint32 Value) {
    Value = __builtin_bswap32(Value);
    memcpy(At, &Value, 4);
}
inline void Store32Le(uint8 *At, uint32 Value) { memcpy(At, &Value, 4); }
inline void Store64Be(uint8 *At, uint64 Value) {
    Value = __builtin_bswap64(Value);
    memcpy(At, &Value, 8);
}
inline uint32 Rotl32(uint32 Value, int Count) { return (Value << Count) | (Value >> (32 - Count)); }
inline uint32 Rotr32(uint32 Value, int Count) { return (Value >> Count) | (Value << (32 - Count)); }
inline uint64 Rotr64(uint64 Value, int Count) { return (Value >> Count) | (Value << (64 - Count)); }

// Feeds Data into a block-buffered state holding Buffered bytes: whole blocks
// go straight from the caller's memory to Compress(blocks, count).
template <size_t BlockSize, typename CompressFunc>
inline void Absorb(uint8 *Block, size_t Buffered, const uint8 *Data, size_t Length, CompressFunc &&Compress) {
    if (Buffered != 0) {
        const size_t Take = std::min(BlockSize - Buffered, Length);
        memcpy(Block + Buffered, Data, Take);
        Data += Take;
        Length -= Take;
        if (Buffered + Take < BlockSize) return;
        Compress(Block, (size_t)1);
    }
    const size_t Whole = Length / BlockSize;
    if (Whole != 0) {
        Compress(Data, Whole);
        Data += Whole * BlockSize;
        Length -= Whole * BlockSize;
    }
    if (Length != 0) memcpy(Block, Data, Length);
}

// The 0x80 byte, zeros and a length field of LengthBytes at the end of the
// last block (one or two blocks), as MD4, MD5, SHA-1 and SHA-2 pad.
template <size_t BlockSize, size_t LengthBytes, typename WriteLengthFunc, typename CompressFunc>
inline void Pad(uint8 *Block, size_t Buffered, WriteLengthFunc &&WriteLength, CompressFunc &&Compress) {
    Block[Buffered++] = 0x80;
    if (Buffered > BlockSize - LengthBytes) {
        memset(Block + Buffered, 0, BlockSize - Buffered);
        Compress(Block, (size_t)1);
        Buffered = 0;
    }
    memset(Block + Buffered, 0, BlockSize - LengthBytes - Buffered);
    WriteLength(Block + BlockSize - LengthBytes);
    Compress(Block, (size_t)1);
}

inline void Wipe(void *Memory, size_t Size) { explicit_bzero(Memory, Size); }
// Wipes everything of a context behind its class header.
template <typename Type>
inline void WipeFields(Type *Context) {
    Wipe(reinterpret_cast<uint8 *>(Context) + sizeof(ClassStruct), sizeof(Type) - sizeof(ClassStruct));
}

// The compression functions: State is the chaining words, Blocks points at
// Count whole blocks.
using Compress32Func = void (*)(uint32 *State, const uint8 *Blocks, size_t Count);
void Md4Compress(uint32 *State, const uint8 *Blocks, size_t Count);
void Md5Compress(uint32 *State, const uint8 *Blocks, size_t Count);
void Sha1CompressPortable(uint32 *State, const uint8 *Blocks, size_t Count);
void Sha256CompressPortable(uint32 *State, const uint8 *Blocks, size_t Count);
void Sha512Compress(uint64 *State, const uint8 *Blocks, size_t Count);
// SHA-512's two forms: general registers only, and the vector schedule
// (call only when ProcessorHasSha512Vector() is true: AVX, BMI1 and BMI2).
void Sha512CompressPortable(uint64 *State, const uint8 *Blocks, size_t Count);
void Sha512CompressVector(uint64 *State, const uint8 *Blocks, size_t Count);
bool ProcessorHasSha512Vector();
// The SHA extensions' forms; call only when ProcessorHasSha() is true.
void Sha1CompressNi(uint32 *State, const uint8 *Blocks, size_t Count);
void Sha256CompressNi(uint32 *State, const uint8 *Blocks, size_t Count);
// SHA-256's round constants (16-byte aligned for the SHA extensions).
extern const uint32 Sha256K[64];
// Read once from cpuid: SHA extensions with SSSE3 and SSE4.1.
bool ProcessorHasSha();
// The forms chosen at start-up.
extern const Compress32Func Sha1Compress;
extern const Compress32Func Sha256Compress;

} // namespace digest

// The operations every context type shares. Label is the name in the fatal
// stop of a digest read before Generate. Expand once in the type's source,
// after Prefix_Reset is declared and DigestLength(Type *) is defined.
#define DIGEST_DEFINE_COMMON(Prefix, Type, ClassIdValue, Label)                                     \
    CLASS_DEFINE_REFERENCE(Prefix, Type, ClassIdValue)                                              \
    static int32 Prefix##_DeleteThroughClass(void *HandleAddress) {                                 \
        return Prefix##_Delete(static_cast<Type **>(HandleAddress));                                \
    }                                                                                               \
    static void Prefix##_CheckReady(Type *Handle) {                                                 \
        if (Handle->DigestReady != 1)                                                               \
            Debug_Abort("Assertion failed (" Label "->DigestReady)\n" Label " must be generated first!"); \
    }                                                                                               \
    int32 Prefix##_SizeOf(void) { return (int32)sizeof(Type); }                                     \
    int32 Prefix##_Stack(void *Memory) {                                                            \
        Debug_CheckPointer(Memory);                                                                 \
        memset(Memory, 0, sizeof(Type));                                                            \
        static_cast<ClassStruct *>(Memory)->ClassId = ClassIdValue;                                 \
        return Prefix##_Reset(static_cast<Type *>(Memory));                                         \
    }                                                                                               \
    int32 Prefix##_Unstack(void *Memory) {                                                          \
        Class_CheckHandle(Memory, ClassIdValue);                                                    \
        digest::Wipe(Memory, sizeof(Type));                                                         \
        return TRUE;                                                                                \
    }                                                                                               \
    int32 Prefix##_Create(Type **Handle) {                                                          \
        Debug_CheckPointer(Handle);                                                                 \
        Type *Context = Memory_New(Type);                                                           \
        Class_InitHeader(Context, ClassIdValue, Prefix##_DeleteThroughClass);                       \
        Prefix##_Reset(Context);                                                                    \
        *Handle = Context;                                                                          \
        return TRUE;                                                                                \
    }                                                                                               \
    int32 Prefix##_Delete(Type **Handle) {                                                          \
        Debug_CheckPointer(Handle);                                                                 \
        Class_CheckHandle(*Handle, ClassIdValue);                                                   \
        digest::Wipe(*Handle, sizeof(Type));                                                        \
        Memory_Delete(*Handle);                                                                     \
        return TRUE;                                                                                \
    }                                                                                               \
    int32 Prefix##_CopyTo(Type *Source, Type *Target) {                                             \
        Class_CheckHandle(Source, ClassIdValue);                                                    \
        Class_CheckHandle(Target, ClassIdValue);                                                    \
        if (Source != Target)                                                                       \
            memcpy(reinterpret_cast<uint8 *>(Target) + sizeof(ClassStruct),                         \
                   reinterpret_cast<const uint8 *>(Source) + sizeof(ClassStruct),                   \
                   sizeof(Type) - sizeof(ClassStruct));                                             \
        return TRUE;                                                                                \
    }                                                                                               \
    int32 Prefix##_IsGenerated(Type *Handle) {                                                      \
        Class_CheckHandle(Handle, ClassIdValue);                                                    \
        return Handle->DigestReady;                                                                 \
    }                                                                                               \
    int32 Prefix##_GetString(Type *Handle, int32 Format, char *Output, int32 Size) {                \
        Class_CheckHandle(Handle, ClassIdValue);                                                    \
        Prefix##_CheckReady(Handle);                                                                \
        return Hash_ConvertDigestToString(Handle->Digest, DigestLength(Handle), Format, Output, Size); \
    }

// GetDigest of MD2, MD4, MD5 and SHA-1: the leading bytes that fit.
#define DIGEST_DEFINE_GETDIGEST_PREFIX(Prefix, Type, ClassIdValue)                                  \
    int32 Prefix##_GetDigest(Type *Handle, void *Output, int32 Size) {                              \
        Class_CheckHandle(Handle, ClassIdValue);                                                    \
        Prefix##_CheckReady(Handle);                                                                \
        const int32 Count = std::clamp<int32>(Size, 0, DigestLength(Handle));                       \
        if (Count > 0) memcpy(Output, Handle->Digest, (size_t)Count);                               \
        return TRUE;                                                                                \
    }

// GetDigest of SHA-2: the whole digest or nothing.
#define DIGEST_DEFINE_GETDIGEST_WHOLE(Prefix, Type, ClassIdValue)                                   \
    int32 Prefix##_GetDigest(Type *Handle, void *Output, int32 Size) {                              \
        Class_CheckHandle(Handle, ClassIdValue);                                                    \
        Prefix##_CheckReady(Handle);                                                                \
        const int32 Length = DigestLength(Handle);                                                  \
        if (Size < Length) return FALSE;                                                            \
        if (Length > 0) memcpy(Output, Handle->Digest, (size_t)Length);                             \
        return TRUE;                                                                                \
    }

// A HashInterface record: Setup names the type's own SizeOf ... Reset (the
// SHA-224 and SHA-384 entry points), Ops the shared Process ... GetString.
#define DIGEST_DEFINE_INTERFACE(Record, NameText, Block, DigestBytes, Setup, Ops, Type)             \
    const HashInterface Record = {                                                                  \
        NameText,                                                                                   \
        Block,                                                                                      \
        DigestBytes,                                                                                \
        Setup##_SizeOf,                                                                             \
        Setup##_Stack,                                                                              \
        Setup##_Unstack,                                                                            \
        [](void **H) { return Setup##_Create(reinterpret_cast<Type **>(H)); },                      \
        [](void **H) { return Setup##_Delete(reinterpret_cast<Type **>(H)); },                      \
        [](void *S, void *T) { return Setup##_CopyTo(static_cast<Type *>(S), static_cast<Type *>(T)); }, \
        [](void *C) { return Setup##_Reset(static_cast<Type *>(C)); },                              \
        [](void *C, const void *D, uint32 L) { return Ops##_Process(static_cast<Type *>(C), D, L); }, \
        [](void *C) { return Ops##_IsGenerated(static_cast<Type *>(C)); },                          \
        [](void *C) { return Ops##_Generate(static_cast<Type *>(C)); },                             \
        [](void *C, void *O, int32 S) { return Ops##_GetDigest(static_cast<Type *>(C), O, S); },    \
        [](void *C, int32 F, char *O, int32 S) { return Ops##_GetString(static_cast<Type *>(C), F, O, S); }, \
    };
