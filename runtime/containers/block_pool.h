// BlockPool: an arena of equal blocks inside one memory budget. A caller
// sets how many bytes the arena may hold, then takes runs of consecutive
// blocks (first fit) for buffers of any size and gives them back. Used blocks
// are marked in a bit field, one bit per block.
//
// Ownership: the pool owns the arena and the bit field; a run belongs to its
// caller from BlockPool_Alloc to BlockPool_Free. Every address handed out is
// a multiple of the block size. The block size is fixed once an arena exists,
// and the budget changes only while no block is in use. No lock: one thread
// at a time (the owner serialises access).
#pragma once

#include "runtime/types.h"

#define BLOCKPOOL_CLASSID 0x65d358e0u
#define BLOCKPOOL_DEFAULT_BLOCK_SIZE 4096

RUNTIME_EXTERN_C_BEGIN

typedef struct BlockPool BlockPool;

// A pool with 4,096-byte blocks and no arena; File and Line name the creator
// in the leak message. Always 1.
int32 BlockPool_CreateReal(BlockPool **Handle, const char *File, int32 Line);
// Logs blocks still in use, frees the arena whatever is marked, frees the
// pool and clears the handle.
int32 BlockPool_Delete(BlockPool **Handle);

// The block size: set it before the first budget. 0 for a size below 1 or
// while an arena exists (its blocks were laid out for the old size).
int32 BlockPool_SetBlockSize(BlockPool *Handle, uint32 Bytes);
int32 BlockPool_GetBlockSize(BlockPool *Handle, uint32 *Bytes);
// The budget: the same size answers 1; another size answers 0 while any block
// is in use, else replaces the arena with one of ceil(Bytes / block size)
// blocks (0 bytes: no arena).
int32 BlockPool_SetMemorySize(BlockPool *Handle, uint32 Bytes);
int32 BlockPool_GetMemorySize(BlockPool *Handle, uint32 *Bytes);

// 1 with the address of the first free run of blocks covering Size bytes;
// 0 with a null pointer when there is none (or Size is below 1).
int32 BlockPool_Alloc(BlockPool *Handle, int32 Size, void **Pointer);
// Gives back the blocks Pointer and Size cover and clears the pointer; blocks
// that are not all in use are a fatal stop.
int32 BlockPool_Free(BlockPool *Handle, int32 Size, void **Pointer);

RUNTIME_EXTERN_C_END

#define BlockPool_Create(Handle) BlockPool_CreateReal((Handle), __FILE__, __LINE__)
