// BlockPool: first-fit runs of blocks in one arena, marked in a bit field.
// See block_pool.h.
//
// The arena holds two blocks more than the budget asks for, so that the
// first block can start at a multiple of the block size.
#include "runtime/containers/block_pool.h"

#include "runtime/class.h"
#include "runtime/containers/bit_field.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"

struct BlockPool {
    ClassStruct Class;
    const char *File; // creator, named in the leak message
    uint32 Line;
    uint32 BlockSize;
    uint32 MemorySize; // the budget last set
    BitField *BitFieldHandle; // one bit per block, set while in use
    uint8 *Base;              // the first block, a multiple of BlockSize
    void *Arena;
    int32 ArenaSize;
};

#define BlockPool_Check(Handle) Class_CheckHandle((Handle), BLOCKPOOL_CLASSID)

namespace {

int64 BlocksFor(const BlockPool *Pool, int64 Bytes) { return (Bytes + Pool->BlockSize - 1) / Pool->BlockSize; }

void FreeArena(BlockPool *Pool) {
    if (Pool->Arena) Pool->Arena = Memory_Free(Pool->Arena, Pool->ArenaSize);
    Pool->ArenaSize = 0;
    Pool->Base = nullptr;
}

} // namespace

int32 BlockPool_CreateReal(BlockPool **Handle, const char *File, int32 Line) {
    Debug_CheckPointer(Handle);
    BlockPool *Pool = static_cast<BlockPool *>(Memory_AllocInt((int32)sizeof(BlockPool), MEMORY_FLAG_ZERO, File, Line));
    Class_InitHeader(Pool, BLOCKPOOL_CLASSID, nullptr);
    Pool->File = File;
    Pool->Line = (uint32)Line;
    Pool->BlockSize = BLOCKPOOL_DEFAULT_BLOCK_SIZE;
    BitField_Create(&Pool->BitFieldHandle);
    *Handle = Pool;
    return TRUE;
}

int32 BlockPool_Delete(BlockPool **Handle) {
    Debug_CheckPointer(Handle);
    BlockPool *Pool = *Handle;
    BlockPool_Check(Pool);
    int32 Marked = 0;
    BitField_GetNonZeroBits(Pool->BitFieldHandle, &Marked);
    if (Marked)
        Log_Debug("Not all block pool memory was freed (%d) for (%s/%d)\n", Marked, Pool->File, (int32)Pool->Line);
    FreeArena(Pool);
    BitField_Release(&Pool->BitFieldHandle);
    Memory_Delete(Pool);
    *Handle = nullptr;
    return TRUE;
}

int32 BlockPool_SetBlockSize(BlockPool *Handle, uint32 Bytes) {
    BlockPool_Check(Handle);
    if (Bytes == Handle->BlockSize) return TRUE;
    // Runs in an existing arena were laid out for the old size; a new size
    // would address past its end.
    if (Bytes < 1 || Bytes > INT32_MAX || Handle->Arena) return FALSE;
    Handle->BlockSize = Bytes;
    return TRUE;
}

int32 BlockPool_GetBlockSize(BlockPool *Handle, uint32 *Bytes) {
    BlockPool_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->BlockSize;
    return TRUE;
}

int32 BlockPool_SetMemorySize(BlockPool *Handle, uint32 Bytes) {
    BlockPool_Check(Handle);
    if (Bytes == Handle->MemorySize) return TRUE;
    if (!BitField_IsEmpty(Handle->BitFieldHandle)) return FALSE;
    const int64 Blocks = BlocksFor(Handle, Bytes);
    const int64 ArenaSize = (Blocks + 2) * Handle->BlockSize;
    if (Bytes > 0 && ArenaSize > INT32_MAX) return FALSE;
    FreeArena(Handle);
    Handle->MemorySize = Bytes;
    // Without an arena there must be no blocks either, or a later allocation
    // would hand out addresses in the arena just freed.
    BitField_SetTotalBits(Handle->BitFieldHandle, Bytes > 0 ? (int32)Blocks : 0);
    if (Bytes == 0) return TRUE;
    Handle->ArenaSize = (int32)ArenaSize;
    Handle->Arena = Memory_Alloc(Handle->ArenaSize);
    const uintptr Start = (uintptr)Handle->Arena;
    Handle->Base = static_cast<uint8 *>(Handle->Arena) + (Handle->BlockSize - Start % Handle->BlockSize) % Handle->BlockSize;
    return TRUE;
}

int32 BlockPool_GetMemorySize(BlockPool *Handle, uint32 *Bytes) {
    BlockPool_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->MemorySize;
    return TRUE;
}

int32 BlockPool_Alloc(BlockPool *Handle, int32 Size, void **Pointer) {
    BlockPool_Check(Handle);
    Debug_CheckPointer(Pointer);
    *Pointer = nullptr;
    if (Size < 1) return FALSE;
    const int64 Needed = BlocksFor(Handle, Size);
    int32 Total = 0;
    BitField_GetTotalBits(Handle->BitFieldHandle, &Total);
    int32 RunStart = 0;
    int32 RunLength = 0;
    for (int32 Block = 0; Block < Total && RunLength < Needed; Block++) {
        if (BitField_IsSet(Handle->BitFieldHandle, Block)) {
            RunStart = Block + 1;
            RunLength = 0;
        } else {
            RunLength++;
        }
    }
    if (RunLength < Needed) return FALSE;
    BitField_SetRange(Handle->BitFieldHandle, RunStart, RunLength);
    *Pointer = Handle->Base + (int64)RunStart * Handle->BlockSize;
    return TRUE;
}

int32 BlockPool_Free(BlockPool *Handle, int32 Size, void **Pointer) {
    BlockPool_Check(Handle);
    Debug_CheckPointer(Pointer);
    // The run must be one this pool handed out: inside the arena, on a block
    // boundary, and every block of it in use.
    const uintptr Address = (uintptr)*Pointer;
    const uintptr Base = (uintptr)Handle->Base;
    int32 Total = 0;
    BitField_GetTotalBits(Handle->BitFieldHandle, &Total);
    const int64 Offset = Base && Address >= Base ? (int64)(Address - Base) : -1;
    const int64 BlockStart = Offset >= 0 ? Offset / Handle->BlockSize : -1;
    const int64 BlockCount = Size > 0 ? BlocksFor(Handle, Size) : 0;
    const bool Allocated = Offset >= 0 && Offset % Handle->BlockSize == 0 && BlockCount > 0 &&
                           BlockStart + BlockCount <= Total &&
                           BitField_IsRangeSet(Handle->BitFieldHandle, (int32)BlockStart, (int32)BlockCount);
    if (!Allocated)
        Debug_Abort("Assertion failed (BitField_IsRangeSet(BlockPool->BitFieldHandle, BlockStart, BlockCount))\n"
                    "Attempt to free unallocated memory");
    BitField_ClearRange(Handle->BitFieldHandle, (int32)BlockStart, (int32)BlockCount);
    *Pointer = nullptr;
    return TRUE;
}
