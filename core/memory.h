// The runtime's allocator: every block is surrounded by 16 guard bytes on each
// side, freed with its size again, counted, and (with tracking on) kept in a
// list so that corruption and leaks are reported with the allocating file and
// line. Nothing may be allocated before Debug_Init while tracking is wanted.
#pragma once

#include "core/types.h"

#define MEMORY_FLAG_PLAIN 1
#define MEMORY_FLAG_ZERO 2

RUNTIME_EXTERN_C_BEGIN

void *Memory_AllocInt(int32 Size, uint32 Flags, const char *File, int32 Line);
void *Memory_FreeInt(void *Pointer, int32 Size, const char *File, int32 Line);
int32 Memory_ValidateInt(void *Pointer, int32 Size, const char *File, int32 Line);
int32 Memory_Check(const char *Label);
int32 Memory_Dump(void);
int32 Memory_Report(void);
int32 Memory_GetSize(int32 *Size);
int32 Memory_TrackerCheck(void *Record, void *BlockStart, int32 Size, const char *File, int32 Line);
int32 Memory_SentinelCheck(int32 Fatal, void *BlockStart, int32 Size, const char *File, int32 Line);
int32 Memory_FindPattern(const void *Buffer, int32 Length, const void *Pattern, int32 PatternLength, const void **Found);
int32 Memory_FindByte(const void *Buffer, int32 Length, uint8 Byte, const void **Found);
int32 Memory_CryptFill(void *Buffer, int32 Length);

RUNTIME_EXTERN_C_END

#define Memory_Alloc(Size) Memory_AllocInt((Size), MEMORY_FLAG_PLAIN, __FILE__, __LINE__)
#define Memory_AllocZero(Size) Memory_AllocInt((Size), MEMORY_FLAG_ZERO, __FILE__, __LINE__)
#define Memory_Free(Pointer, Size) Memory_FreeInt((Pointer), (Size), __FILE__, __LINE__)
#define Memory_Validate(Pointer, Size) Memory_ValidateInt((Pointer), (Size), __FILE__, __LINE__)

#ifdef __cplusplus
// Typed helpers: allocate one zeroed record, free it and clear the pointer.
#define Memory_New(Type) static_cast<Type *>(Memory_AllocZero((int32)sizeof(Type)))
#define Memory_Delete(Pointer) \
    ((Pointer) = static_cast<decltype(Pointer)>(Memory_FreeInt((Pointer), (int32)sizeof(*(Pointer)), __FILE__, __LINE__)))
#endif
