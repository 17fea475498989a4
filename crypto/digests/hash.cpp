// The Hash object: one bound HashInterface at a time, or pending bytes that
// wait for one. See hash.h.
#include "crypto/digests/hash.h"

#include <string.h>

#include "crypto/digests/digest_internal.h"
#include "runtime/memory.h"

struct Hash {
    ClassStruct Class;
    void *Context;
    const HashInterface *Interface;
    uint8 *Pending; // HASH_PENDING_SIZE bytes, only while unbound
    uint32 PendingLength;
};

#define Hash_Check(Handle) Class_CheckHandle((Handle), HASH_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return Hash_Delete(static_cast<Hash **>(HandleAddress)); }

void FreePending(Hash *Handle) {
    if (Handle->Pending != nullptr) {
        digest::Wipe(Handle->Pending, HASH_PENDING_SIZE);
        Memory_Free(Handle->Pending, HASH_PENDING_SIZE);
        Handle->Pending = nullptr;
    }
    Handle->PendingLength = 0;
}

void CheckSlots(const HashInterface *Interface) {
    Debug_CheckPointer(Interface->Name);
    Debug_CheckPointer(Interface->Create);
    Debug_CheckPointer(Interface->Delete);
    Debug_CheckPointer(Interface->Reset);
    Debug_CheckPointer(Interface->Process);
    Debug_CheckPointer(Interface->Generate);
    Debug_CheckPointer(Interface->IsGenerated);
    Debug_CheckPointer(Interface->GetDigest);
    Debug_CheckPointer(Interface->GetString);
    if (Interface->DigestSize == 0)
        Debug_Abort("Assertion failed (Interface->DigestSize != 0)\n%s: DigestSize must not be zero\n",
                    "Hash_SetInterface");
}

} // namespace

CLASS_DEFINE_REFERENCE(Hash, Hash, HASH_CLASSID)

int32 Hash_Create(Hash **Handle) {
    Debug_CheckPointer(Handle);
    Hash *Object = Memory_New(Hash);
    Class_InitHeader(Object, HASH_CLASSID, DeleteThroughClass);
    *Handle = Object;
    return TRUE;
}

int32 Hash_Delete(Hash **Handle) {
    Debug_CheckPointer(Handle);
    Hash_Check(*Handle);
    Hash_SetInterface(*Handle, nullptr);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 Hash_SetInterface(Hash *Handle, const HashInterface *Interface) {
    Hash_Check(Handle);
    if (Interface == Handle->Interface) {
        Hash_Reset(Handle);
        return TRUE;
    }
    if (Handle->Context != nullptr) {
        Handle->Interface->Delete(&Handle->Context);
        Handle->Context = nullptr;
    }
    Handle->Interface = Interface;
    if (Interface == nullptr) {
        FreePending(Handle);
        return TRUE;
    }
    CheckSlots(Interface);
    Interface->Create(&Handle->Context);
    int32 Result = TRUE;
    if (Handle->PendingLength != 0) Result = Interface->Process(Handle->Context, Handle->Pending, Handle->PendingLength);
    FreePending(Handle);
    return Result;
}

int32 Hash_GetInterface(Hash *Handle, const HashInterface **Interface) {
    Hash_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = Handle->Interface;
    return TRUE;
}

int32 Hash_Reset(Hash *Handle) {
    Hash_Check(Handle);
    if (Handle->Interface != nullptr) return Handle->Interface->Reset(Handle->Context);
    if (Handle->Pending == nullptr) return FALSE;
    FreePending(Handle);
    return TRUE;
}

int32 Hash_Process(Hash *Handle, const void *Data, uint32 Length, uint32 *Processed) {
    Hash_Check(Handle);
    if (Handle->Interface != nullptr) {
        const int32 Result = Handle->Interface->Process(Handle->Context, Data, Length);
        if (Result == TRUE && Processed != nullptr) *Processed = Length;
        return Result;
    }
    // Before an algorithm is chosen: keep the bytes for the binding, all or
    // nothing, within the bound.
    if ((uint64)Handle->PendingLength + Length > HASH_PENDING_SIZE) return FALSE;
    if (Length != 0) {
        Debug_CheckPointer(Data);
        if (Handle->Pending == nullptr) Handle->Pending = static_cast<uint8 *>(Memory_Alloc(HASH_PENDING_SIZE));
        memcpy(Handle->Pending + Handle->PendingLength, Data, Length);
        Handle->PendingLength += Length;
    }
    if (Processed != nullptr) *Processed = Length;
    return TRUE;
}

int32 Hash_Generate(Hash *Handle) {
    Hash_Check(Handle);
    return Handle->Interface != nullptr ? Handle->Interface->Generate(Handle->Context) : FALSE;
}

int32 Hash_IsGenerated(Hash *Handle) {
    Hash_Check(Handle);
    return Handle->Interface != nullptr ? Handle->Interface->IsGenerated(Handle->Context) : FALSE;
}

int32 Hash_GetDigest(Hash *Handle, void *Output, int32 Size) {
    Hash_Check(Handle);
    return Handle->Interface != nullptr ? Handle->Interface->GetDigest(Handle->Context, Output, Size) : FALSE;
}

int32 Hash_GetString(Hash *Handle, int32 Format, char *Output, int32 Size) {
    Hash_Check(Handle);
    if (Handle->Interface == nullptr) return FALSE;
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    const int32 DigestSize = (int32)Handle->Interface->DigestSize;
    MemoryScope<uint8> Digest(DigestSize);
    int32 Result = Handle->Interface->GetDigest(Handle->Context, Digest.Get(), DigestSize);
    if (Result == TRUE) Result = Hash_ConvertDigestToString(Digest.Get(), DigestSize, Format, Output, Size);
    return Result;
}

int32 Hash_GetDigestSize(Hash *Handle) {
    Hash_Check(Handle);
    return Handle->Interface != nullptr ? (int32)Handle->Interface->DigestSize : 0;
}

int32 Hash_GetBlockSize(Hash *Handle) {
    Hash_Check(Handle);
    return Handle->Interface != nullptr ? (int32)Handle->Interface->BlockSize : 0;
}

int32 Hash_CopyTo(Hash *Source, Hash *Target) {
    Hash_Check(Source);
    Hash_Check(Target);
    if (Source->Interface == nullptr || Source->Interface != Target->Interface) return FALSE;
    Debug_CheckPointer(Source->Interface->CopyTo);
    return Source->Interface->CopyTo(Source->Context, Target->Context);
}
