// VCDiff decoder: the window header, the sections and the instruction loop.
//
// Bounds are checked in subtraction form (position <= limit, then size <=
// limit - position) on 64-bit values, so no sum can wrap past a limit.
#include "formats/vcdiff_decoder.h"

#include <string.h>

#include "formats/vcdiff_internal.h"
#include "runtime/memory.h"

namespace {

constexpr uint64 MaxDataLength = (uint64)1 << 31;

int32 DeleteThroughClass(void *HandleAddress) {
    return VCDiffDecoder_Delete(static_cast<VCDiffDecoder **>(HandleAddress));
}

#define VCDiffDecoder_Check(Handle) Class_CheckHandle((Handle), VCDIFFDECODER_CLASSID)

// Points Section at the next Length bytes of the delta after the header.
bool TakeSection(VCDiffDecoder *Decoder, uint64 Length, VCDiffSection *Section) {
    const uint32 Left = Decoder->DeltaLength - Decoder->DeltaPosition;
    if (Length > Left) return false;
    Section->Data = Decoder->Delta + Decoder->DeltaPosition;
    Section->Length = (uint32)Length;
    Section->Position = 0;
    Decoder->DeltaPosition += (uint32)Length;
    return true;
}

class Window {
  public:
    Window(VCDiffDecoder *Decoder, uint8 *Target, uint32 Capacity, uint32 Start)
        : D(Decoder), Target(Target), Capacity(Capacity), Start(Start), Length(Start) {}

    bool Run() {
        VCDiffSection &Code = D->Instructions;
        while (Code.Position < Code.Length) {
            const uint8 Opcode = Code.Data[Code.Position++];
            for (int32 Half = 0; Half < 2; Half++) {
                const CodeTableEntry &Entry = D->Table->Entries[Opcode][Half];
                if (Entry.Type == VCDIFF_NOOP) continue;
                uint32 Size = Entry.Size;
                if (Size == 0 && !AddrCache_ReadVarInt32(Code.Data, Code.Length, &Code.Position, &Size)) return false;
                if (Size > Capacity - Length) return false;
                if (!Execute(Entry, Size)) return false;
                Length += Size;
            }
        }
        return true;
    }

    uint32 Written() const { return Length; }

  private:
    VCDiffDecoder *D;
    uint8 *Target;
    uint32 Capacity;
    uint32 Start;
    uint32 Length;

    bool Execute(const CodeTableEntry &Entry, uint32 Size) {
        switch (Entry.Type) {
            case VCDIFF_ADD: {
                VCDiffSection &Data = D->DataSection;
                if (Size > Data.Length - Data.Position) return false;
                if (Size > 0) memcpy(Target + Length, Data.Data + Data.Position, Size);
                Data.Position += Size;
                return true;
            }
            case VCDIFF_RUN: {
                VCDiffSection &Code = D->Instructions;
                uint8 Byte = 0;
                if (!AddrCache_ReadByte(Code.Data, Code.Length, &Code.Position, &Byte)) return false;
                if (Size > 0) memset(Target + Length, Byte, Size);
                return true;
            }
            case VCDIFF_COPY: return Copy(Entry.Mode, Size);
            default: return false;
        }
    }

    bool Copy(int32 Mode, uint32 Size) {
        const uint64 Segment = D->SourceSegmentSize;
        const uint64 Produced = Length - Start;
        if (Produced > ~(uint64)0 - Segment) return false;
        const uint64 Here = Segment + Produced;
        uint64 Address = 0;
        D->LastMode = Mode;
        if (!AddressCache_Decode(D->Cache, Here, Mode, &Address)) return false;
        if (Address < Segment) {
            const uint64 Limit = D->SourceLength;
            if (D->SourceWindowOffset > Limit || Address > Limit - D->SourceWindowOffset) return false;
            const uint64 From = D->SourceWindowOffset + Address;
            if (Size > Limit - From) return false;
            if (Size > 0) memcpy(Target + Length, D->Source + From, Size);
            return true;
        }
        // Address < Here, so the copy starts inside what this window wrote;
        // byte by byte, so an overlapping copy repeats what it just wrote.
        const uint64 From = Address - Segment + Start;
        uint8 *Out = Target + Length;
        const uint8 *In = Target + From;
        for (uint32 i = 0; i < Size; i++) Out[i] = In[i];
        return true;
    }
};

} // namespace

CLASS_DEFINE_REFERENCE(VCDiffDecoder, VCDiffDecoder, VCDIFFDECODER_CLASSID)

int32 VCDiffDecoder_Create(VCDiffDecoder **Handle) {
    Debug_CheckPointer(Handle);
    VCDiffDecoder *Decoder = Memory_New(VCDiffDecoder);
    Class_InitHeader(Decoder, VCDIFFDECODER_CLASSID, DeleteThroughClass);
    CodeTable_Create(&Decoder->Table);
    AddressCache_Create(&Decoder->Cache);
    Decoder->LastMode = 8;
    *Handle = Decoder;
    return TRUE;
}

int32 VCDiffDecoder_Delete(VCDiffDecoder **Handle) {
    Debug_CheckPointer(Handle);
    VCDiffDecoder *Decoder = *Handle;
    VCDiffDecoder_Check(Decoder);
    CodeTable_Delete(&Decoder->Table);
    AddressCache_Delete(&Decoder->Cache);
    Memory_Delete(Decoder);
    *Handle = nullptr;
    return TRUE;
}

int32 VCDiffDecoder_SetDeltaBuffer(VCDiffDecoder *Handle, const void *Data, uint32 Length) {
    VCDiffDecoder_Check(Handle);
    if (Length > 0) Debug_CheckPointer(Data);
    Handle->Delta = static_cast<const uint8 *>(Data);
    Handle->DeltaLength = Data != nullptr ? Length : 0;
    Handle->DeltaPosition = 0;
    Handle->Ready = FALSE;
    return TRUE;
}

int32 VCDiffDecoder_SetSourceBuffer(VCDiffDecoder *Handle, const void *Data, uint32 Length) {
    VCDiffDecoder_Check(Handle);
    if (Length > 0) Debug_CheckPointer(Data);
    Handle->Source = static_cast<const uint8 *>(Data);
    Handle->SourceLength = Data != nullptr ? Length : 0;
    return TRUE;
}

int32 VCDiffDecoder_SetSourceWindowOffset(VCDiffDecoder *Handle, uint64 Offset) {
    VCDiffDecoder_Check(Handle);
    Handle->SourceWindowOffset = Offset;
    return TRUE;
}

int32 VCDiffDecoder_Init(VCDiffDecoder *Handle) {
    VCDiffDecoder_Check(Handle);
    Handle->Ready = FALSE;
    Handle->DeltaPosition = 0;
    const uint8 *Delta = Handle->Delta;
    const uint32 Size = Handle->DeltaLength;
    uint32 *At = &Handle->DeltaPosition;
    uint64 DataLength = 0;
    uint32 InstructionsLength = 0, AddressesLength = 0;
    if (!AddrCache_ReadByte(Delta, Size, At, &Handle->WindowIndicator)) return FALSE;
    if (!AddrCache_ReadVarInt64(Delta, Size, At, &Handle->SourceSegmentSize)) return FALSE;
    if (!AddrCache_ReadVarInt64(Delta, Size, At, &Handle->SourceSegmentPosition)) return FALSE;
    if (!AddrCache_ReadVarInt64(Delta, Size, At, &Handle->WindowLength)) return FALSE;
    if (!AddrCache_ReadVarInt32(Delta, Size, At, &Handle->DeltaIndicator)) return FALSE;
    // Secondary compression of any section is not supported.
    if (Handle->DeltaIndicator != 0) return FALSE;
    if (!AddrCache_ReadVarInt64(Delta, Size, At, &DataLength) || DataLength >= MaxDataLength) return FALSE;
    if (!AddrCache_ReadVarInt32(Delta, Size, At, &InstructionsLength)) return FALSE;
    if (!AddrCache_ReadVarInt32(Delta, Size, At, &AddressesLength)) return FALSE;
    if (Handle->WindowIndicator & VCDIFF_WINDOW_PIECES) {
        uint32 Index = 0, Count = 0;
        if (!AddrCache_ReadVarInt32(Delta, Size, At, &Index)) return FALSE;
        if (!AddrCache_ReadVarInt32(Delta, Size, At, &Count)) return FALSE;
        Handle->PieceIndex = Index;
        Handle->PieceCount = Count;
    }
    // Taken one after the other, so together they must fit what remains.
    if (!TakeSection(Handle, DataLength, &Handle->DataSection)) return FALSE;
    if (!TakeSection(Handle, InstructionsLength, &Handle->Instructions)) return FALSE;
    if (!TakeSection(Handle, AddressesLength, &Handle->AddressSection)) return FALSE;
    AddressCache_Reset(Handle->Cache, Handle->AddressSection.Data, Handle->AddressSection.Length);
    Handle->LastMode = 8;
    Handle->Ready = TRUE;
    return TRUE;
}

int32 VCDiffDecoder_SetSourceWindowPieceIndex(VCDiffDecoder *Handle, uint32 Index) {
    VCDiffDecoder_Check(Handle);
    Handle->PieceIndex = Index;
    return TRUE;
}

int32 VCDiffDecoder_GetSourceWindowPieceIndex(VCDiffDecoder *Handle, uint32 *Index) {
    VCDiffDecoder_Check(Handle);
    Debug_CheckPointer(Index);
    *Index = Handle->PieceIndex;
    return TRUE;
}

int32 VCDiffDecoder_SetSourceWindowPieceCount(VCDiffDecoder *Handle, uint32 Count) {
    VCDiffDecoder_Check(Handle);
    Handle->PieceCount = Count;
    return TRUE;
}

int32 VCDiffDecoder_GetSourceWindowPieceCount(VCDiffDecoder *Handle, uint32 *Count) {
    VCDiffDecoder_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = Handle->PieceCount;
    return TRUE;
}

int32 VCDiffDecoder_Decode(VCDiffDecoder *Handle, void *Target, uint32 Capacity, uint32 *Length) {
    VCDiffDecoder_Check(Handle);
    Debug_CheckPointer(Length);
    if (Capacity > 0) Debug_CheckPointer(Target);
    // A window decodes once, from a header that was read.
    if (!Handle->Ready || *Length > Capacity) return FALSE;
    Handle->Ready = FALSE;
    Window Run(Handle, static_cast<uint8 *>(Target), Capacity, *Length);
    const bool Done = Run.Run();
    *Length = Run.Written();
    return Done;
}
