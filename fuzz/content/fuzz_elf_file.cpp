// ELF section lookup and the ".version.json" values, on arbitrary bytes taken as a whole file. Checks: no read outside
// the file, no crash or hang, and what is handed out lies inside the file.
#include <stdint.h>

#include <string>

#include "content/elf_file.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-elf-file.log", nullptr, 0) != 0;
    (void)Started;
    const ExecutableSource File = ExecutableSource_FromBytes(std::string_view((const char *)Data, Size));
    [[maybe_unused]] auto Ignore = [](const void *, size_t) { return true; };
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    ElfFile_ReadInfo(File, Values);
    uint64 Offset, Length;
    if (ElfFile_FindSection(File, ".datastore", Offset, Length)) Check(ElfFile_Class(File) != 0);
    Dictionary_Release(&Values);
    // The header readers over the same bytes as a stream: every section
    // entry the header names, each read whole or refused.
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    if (Size > 0 && Size < INT32_MAX) MemoryStream_SetPointer(Memory, const_cast<uint8_t *>(Data), (int32)Size, (int32)Size);
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Stream);
    Elf32_Ehdr Narrow;
    Elf64_Ehdr Wide;
    const int32 Class = ELFFile_GetHeaders(Stream, &Narrow, &Wide);
    Check(Class == 0 || Class == 1 || Class == 2);
    if (Class != 0) {
        const uint64 Table = Class == 1 ? Narrow.e_shoff : Wide.e_shoff;
        const int Count = Class == 1 ? Narrow.e_shnum : Wide.e_shnum;
        const void *Header = Class == 1 ? (const void *)&Narrow : (const void *)&Wide;
        if (Table < Size && Stream_Seek(Stream, (int64)Table, STREAM_SEEK_SET)) {
            Elf32_Shdr Section32;
            Elf64_Shdr Section64;
            for (int Index = 0; Index < Count; Index++)
                if (!ELFFile_ReadSection(Stream, Header, &Section32, &Section64)) break;
        }
    }
    MemoryStream_Delete(&Memory);
    return 0;
}
