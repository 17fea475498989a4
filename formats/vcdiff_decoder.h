// VCDiff decoder: rebuilds one target piece from a delta and the source
// bytes the delta refers to (the delta step of a storage request).
//
// The delta is one VCDIFF window (RFC 3284, default code table, near cache
// of 4, same cache of 3) without the VCDIFF file header, whose window header
// has a shape of its own:
//
//   window indicator            1 byte (only bit 0x08 is examined)
//   source segment size         64-bit integer
//   source segment position     64-bit integer (read, not used)
//   a length                    64-bit integer (read, not used)
//   delta indicator             32-bit integer, must be 0
//   data section length         64-bit integer, below 2^31
//   instructions section length 32-bit integer
//   addresses section length    32-bit integer
//   source window piece index   32-bit integer, only with bit 0x08
//   source window piece count   32-bit integer, only with bit 0x08
//
// followed by the data, instructions and addresses sections. Integers are
// RFC 3284 variable-length integers; one that does not fit its width (more
// than 5 or 10 bytes, or a value above the width) fails. A RUN instruction
// takes its byte from the instructions section, right after its opcode and
// size, not from the data section.
//
// Every address and bound is checked without overflow: an address at or
// beyond "here" (source segment size + bytes written), a wrapped near or
// here-relative address, and a copy past the source buffer or the target's
// capacity each fail the decode. Failures answer 0 without logging; a partial
// target may have been written.
//
// Ownership: the delta and source buffers are the caller's and must outlive
// the decode; the decoder reads them in place and allocates nothing per
// window. One thread uses a decoder at a time.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define VCDIFFDECODER_CLASSID 0x5DAAAF9Fu
#define CODETABLE_CLASSID 0x7E464F2Bu
#define ADDRESSCACHE_CLASSID 0xEF0A770Cu

// Instruction types of code table entries.
#define VCDIFF_NOOP 0
#define VCDIFF_ADD 1
#define VCDIFF_RUN 2
#define VCDIFF_COPY 3

#define VCDIFF_NEAR_SIZE 4
#define VCDIFF_SAME_SIZE 3
// Window indicator bit: the source window piece numbers follow the header.
#define VCDIFF_WINDOW_PIECES 0x08

RUNTIME_EXTERN_C_BEGIN

typedef struct VCDiffDecoder VCDiffDecoder;
typedef struct CodeTable CodeTable;
typedef struct AddressCache AddressCache;

typedef struct CodeTableEntry {
    uint8 Type; // VCDIFF_NOOP ... VCDIFF_COPY
    uint8 Size; // 0: the size follows in the instructions section
    uint8 Mode; // address mode of a COPY
} CodeTableEntry;

// ---- Code table ----
// Creates the table filled with the RFC 3284 default table. Always 1.
int32 CodeTable_Create(CodeTable **Handle);
int32 CodeTable_Delete(CodeTable **Handle);
int32 CodeTable_InitDefault(CodeTable *Handle);
// 256.
int32 CodeTable_GetSize(CodeTable *Handle);
// 0 for an opcode outside the table or a half other than 0 or 1.
int32 CodeTable_GetEntry(CodeTable *Handle, int32 Opcode, int32 Half, CodeTableEntry *Entry);

// ---- Address cache ----
int32 AddressCache_Create(AddressCache **Handle);
int32 AddressCache_Delete(AddressCache **Handle);
// Empties both caches and reads addresses from the given section.
int32 AddressCache_Reset(AddressCache *Handle, const uint8 *Addresses, uint32 Length);
// Decodes the next address of a COPY in Mode at Here and updates the caches.
// 0 for an unknown mode, an unreadable section, a wrapped address or one at
// or beyond Here.
int32 AddressCache_Decode(AddressCache *Handle, uint64 Here, int32 Mode, uint64 *Address);
int32 AddressCache_Update(AddressCache *Handle, uint64 Address);
// Integer readers over (Buffer, Length) at *Position, which advances past
// what was read: 0 at the end of the buffer, for an integer longer than its
// width allows (5 or 10 bytes) or a value that does not fit the width.
int32 AddrCache_ReadByte(const uint8 *Buffer, uint32 Length, uint32 *Position, uint8 *Value);
int32 AddrCache_ReadVarInt32(const uint8 *Buffer, uint32 Length, uint32 *Position, uint32 *Value);
int32 AddrCache_ReadVarInt64(const uint8 *Buffer, uint32 Length, uint32 *Position, uint64 *Value);

// ---- Decoder ----
int32 VCDiffDecoder_Create(VCDiffDecoder **Handle);
int32 VCDiffDecoder_Delete(VCDiffDecoder **Handle);
CLASS_DECLARE_REFERENCE(VCDiffDecoder, VCDiffDecoder)
int32 VCDiffDecoder_SetDeltaBuffer(VCDiffDecoder *Handle, const void *Data, uint32 Length);
int32 VCDiffDecoder_SetSourceBuffer(VCDiffDecoder *Handle, const void *Data, uint32 Length);
// Where the source segment starts in the source buffer (0 unless set).
int32 VCDiffDecoder_SetSourceWindowOffset(VCDiffDecoder *Handle, uint64 Offset);
// Reads the window header and sets up the sections; 1 on success.
int32 VCDiffDecoder_Init(VCDiffDecoder *Handle);
int32 VCDiffDecoder_SetSourceWindowPieceIndex(VCDiffDecoder *Handle, uint32 Index);
int32 VCDiffDecoder_GetSourceWindowPieceIndex(VCDiffDecoder *Handle, uint32 *Index);
int32 VCDiffDecoder_SetSourceWindowPieceCount(VCDiffDecoder *Handle, uint32 Count);
int32 VCDiffDecoder_GetSourceWindowPieceCount(VCDiffDecoder *Handle, uint32 *Count);
// Runs the window's instructions, appending to Target at *Length (in/out)
// and never past Capacity. 1 when the instructions section was used up.
int32 VCDiffDecoder_Decode(VCDiffDecoder *Handle, void *Target, uint32 Capacity, uint32 *Length);

RUNTIME_EXTERN_C_END
