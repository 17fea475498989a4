// Private to the VCDiff decoder (vcdiff_decoder.cpp, vcdiff_code_table.cpp,
// vcdiff_address_cache.cpp): the records of its three objects.
#pragma once

#include "formats/vcdiff_decoder.h"

#define VCDIFF_CODE_TABLE_SIZE 256
#define VCDIFF_SAME_ENTRIES (VCDIFF_SAME_SIZE * 256)

struct CodeTable {
    ClassStruct Class;
    CodeTableEntry Entries[VCDIFF_CODE_TABLE_SIZE][2];
};

struct AddressCache {
    ClassStruct Class;
    uint64 Near[VCDIFF_NEAR_SIZE];
    int32 NextSlot;
    uint64 Same[VCDIFF_SAME_ENTRIES];
    const uint8 *Addresses;
    uint32 Length;
    uint32 Position;
};

// A section of the delta buffer, read in place.
typedef struct VCDiffSection {
    const uint8 *Data;
    uint32 Length;
    uint32 Position;
} VCDiffSection;

struct VCDiffDecoder {
    ClassStruct Class;
    const uint8 *Delta;
    uint32 DeltaLength;
    uint32 DeltaPosition;
    const uint8 *Source;
    uint32 SourceLength;
    uint64 SourceWindowOffset;
    uint8 WindowIndicator;
    uint64 SourceSegmentSize;
    uint64 SourceSegmentPosition;
    uint64 WindowLength;
    uint32 DeltaIndicator;
    VCDiffSection DataSection;
    VCDiffSection Instructions;
    VCDiffSection AddressSection;
    uint32 PieceIndex;
    uint32 PieceCount;
    int32 Ready; // 1 after a successful Init
    CodeTable *Table;
    AddressCache *Cache;
    int32 LastMode;
};
