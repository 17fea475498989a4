// The VCDIFF address cache (RFC 3284 section 5.3, near 4, same 3) and the
// variable-length integer readers of the decoder.
//
// Addresses live in the joint space of the source segment followed by the
// target written so far; "here" is the first address not yet written. Every
// decoded address must lie below here: a here-relative distance larger than
// here, or a near offset that wraps past 2^64, is refused rather than
// wrapped into a plausible-looking position.
#include <string.h>

#include "formats/vcdiff_decoder.h"
#include "formats/vcdiff_internal.h"
#include "runtime/memory.h"

namespace {

int32 DeleteThroughClass(void *HandleAddress) {
    return AddressCache_Delete(static_cast<AddressCache **>(HandleAddress));
}

// Reads an integer of at most MaxBytes bytes whose value fits in Bits bits.
int32 ReadVarInt(const uint8 *Buffer, uint32 Length, uint32 *Position, int32 MaxBytes, int32 Bits,
                 uint64 *Value) {
    const uint64 Limit = Bits == 64 ? ~(uint64)0 : ((uint64)1 << Bits) - 1;
    uint64 Result = 0;
    uint32 At = *Position;
    for (int32 Count = 0; Count < MaxBytes; Count++) {
        if (At >= Length) return FALSE;
        const uint8 Byte = Buffer[At++];
        // Another 7 bits must not push set bits out of the width.
        if (Result > (Limit >> 7)) return FALSE;
        Result = (Result << 7) | (Byte & 0x7F);
        if ((Byte & 0x80) == 0) {
            *Position = At;
            *Value = Result;
            return TRUE;
        }
    }
    return FALSE;
}

} // namespace

int32 AddrCache_ReadByte(const uint8 *Buffer, uint32 Length, uint32 *Position, uint8 *Value) {
    Debug_CheckPointer(Position);
    Debug_CheckPointer(Value);
    if (*Position >= Length) return FALSE;
    *Value = Buffer[(*Position)++];
    return TRUE;
}

int32 AddrCache_ReadVarInt32(const uint8 *Buffer, uint32 Length, uint32 *Position, uint32 *Value) {
    Debug_CheckPointer(Position);
    Debug_CheckPointer(Value);
    uint64 Wide = 0;
    if (!ReadVarInt(Buffer, Length, Position, 5, 32, &Wide)) return FALSE;
    *Value = (uint32)Wide;
    return TRUE;
}

int32 AddrCache_ReadVarInt64(const uint8 *Buffer, uint32 Length, uint32 *Position, uint64 *Value) {
    Debug_CheckPointer(Position);
    Debug_CheckPointer(Value);
    return ReadVarInt(Buffer, Length, Position, 10, 64, Value);
}

int32 AddressCache_Create(AddressCache **Handle) {
    Debug_CheckPointer(Handle);
    AddressCache *Cache = Memory_New(AddressCache);
    Class_InitHeader(Cache, ADDRESSCACHE_CLASSID, DeleteThroughClass);
    *Handle = Cache;
    return TRUE;
}

int32 AddressCache_Delete(AddressCache **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, ADDRESSCACHE_CLASSID);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

int32 AddressCache_Reset(AddressCache *Handle, const uint8 *Addresses, uint32 Length) {
    Class_CheckHandle(Handle, ADDRESSCACHE_CLASSID);
    memset(Handle->Near, 0, sizeof(Handle->Near));
    memset(Handle->Same, 0, sizeof(Handle->Same));
    Handle->NextSlot = 0;
    Handle->Addresses = Addresses;
    Handle->Length = Addresses != nullptr ? Length : 0;
    Handle->Position = 0;
    return TRUE;
}

int32 AddressCache_Update(AddressCache *Handle, uint64 Address) {
    Class_CheckHandle(Handle, ADDRESSCACHE_CLASSID);
    Handle->Near[Handle->NextSlot] = Address;
    Handle->NextSlot = (Handle->NextSlot + 1) % VCDIFF_NEAR_SIZE;
    Handle->Same[Address % VCDIFF_SAME_ENTRIES] = Address;
    return TRUE;
}

int32 AddressCache_Decode(AddressCache *Handle, uint64 Here, int32 Mode, uint64 *Address) {
    Class_CheckHandle(Handle, ADDRESSCACHE_CLASSID);
    Debug_CheckPointer(Address);
    constexpr int32 NearFirst = 2;
    constexpr int32 SameFirst = NearFirst + VCDIFF_NEAR_SIZE;
    uint64 Result = 0;
    if (Mode < 0 || Mode >= SameFirst + VCDIFF_SAME_SIZE) return FALSE;
    if (Mode < SameFirst) {
        uint64 Value = 0;
        if (!AddrCache_ReadVarInt64(Handle->Addresses, Handle->Length, &Handle->Position, &Value)) return FALSE;
        if (Mode == 0) {
            Result = Value;
        } else if (Mode == 1) {
            if (Value > Here) return FALSE;
            Result = Here - Value;
        } else {
            const uint64 Base = Handle->Near[Mode - NearFirst];
            if (Value > ~(uint64)0 - Base) return FALSE;
            Result = Base + Value;
        }
    } else {
        uint8 Index = 0;
        if (!AddrCache_ReadByte(Handle->Addresses, Handle->Length, &Handle->Position, &Index)) return FALSE;
        Result = Handle->Same[(Mode - SameFirst) * 256 + Index];
    }
    if (Result >= Here) return FALSE;
    AddressCache_Update(Handle, Result);
    *Address = Result;
    return TRUE;
}
