// The VCDIFF code table: 256 opcodes, each a pair of (type, size, mode)
// instructions, filled with the default table of RFC 3284 section 5.6.
#include <string.h>

#include "formats/vcdiff_decoder.h"
#include "formats/vcdiff_internal.h"
#include "runtime/memory.h"

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return CodeTable_Delete(static_cast<CodeTable **>(HandleAddress)); }

CodeTableEntry Entry(uint8 Type, uint8 Size, uint8 Mode) { return CodeTableEntry{Type, Size, Mode}; }

} // namespace

int32 CodeTable_Create(CodeTable **Handle) {
    Debug_CheckPointer(Handle);
    CodeTable *Table = Memory_New(CodeTable);
    Class_InitHeader(Table, CODETABLE_CLASSID, DeleteThroughClass);
    CodeTable_InitDefault(Table);
    *Handle = Table;
    return TRUE;
}

int32 CodeTable_Delete(CodeTable **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, CODETABLE_CLASSID);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

int32 CodeTable_InitDefault(CodeTable *Handle) {
    Class_CheckHandle(Handle, CODETABLE_CLASSID);
    constexpr uint8 Modes = 2 + VCDIFF_NEAR_SIZE + VCDIFF_SAME_SIZE; // 9
    const CodeTableEntry Noop = Entry(VCDIFF_NOOP, 0, 0);
    int32 Opcode = 0;
    auto Put = [&](CodeTableEntry First, CodeTableEntry Second) {
        Handle->Entries[Opcode][0] = First;
        Handle->Entries[Opcode][1] = Second;
        Opcode++;
    };
    Put(Entry(VCDIFF_RUN, 0, 0), Noop);
    for (uint8 Size = 0; Size <= 17; Size++) Put(Entry(VCDIFF_ADD, Size, 0), Noop);
    for (uint8 Mode = 0; Mode < Modes; Mode++) {
        Put(Entry(VCDIFF_COPY, 0, Mode), Noop);
        for (uint8 Size = 4; Size <= 18; Size++) Put(Entry(VCDIFF_COPY, Size, Mode), Noop);
    }
    for (uint8 Mode = 0; Mode < 6; Mode++)
        for (uint8 Add = 1; Add <= 4; Add++)
            for (uint8 Copy = 4; Copy <= 6; Copy++) Put(Entry(VCDIFF_ADD, Add, 0), Entry(VCDIFF_COPY, Copy, Mode));
    for (uint8 Mode = 6; Mode < Modes; Mode++)
        for (uint8 Add = 1; Add <= 4; Add++) Put(Entry(VCDIFF_ADD, Add, 0), Entry(VCDIFF_COPY, 4, Mode));
    for (uint8 Mode = 0; Mode < Modes; Mode++) Put(Entry(VCDIFF_COPY, 4, Mode), Entry(VCDIFF_ADD, 1, 0));
    Debug_Assert(Opcode == VCDIFF_CODE_TABLE_SIZE, "VCDiff default code table has %d entries", Opcode);
    return TRUE;
}

int32 CodeTable_GetSize(CodeTable *Handle) {
    Class_CheckHandle(Handle, CODETABLE_CLASSID);
    return VCDIFF_CODE_TABLE_SIZE;
}

int32 CodeTable_GetEntry(CodeTable *Handle, int32 Opcode, int32 Half, CodeTableEntry *Entry) {
    Class_CheckHandle(Handle, CODETABLE_CLASSID);
    Debug_CheckPointer(Entry);
    if (Opcode < 0 || Opcode >= VCDIFF_CODE_TABLE_SIZE || Half < 0 || Half > 1) return FALSE;
    *Entry = Handle->Entries[Opcode][Half];
    return TRUE;
}
