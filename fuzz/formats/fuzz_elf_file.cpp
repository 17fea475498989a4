// ELF section lookup and the ".version.json" values, on arbitrary bytes taken as a whole file. Checks: no read outside
// the file, no crash or hang, and what is handed out lies inside the file.
#include <stdint.h>

#include <string>

#include "core/debug.h"
#include "core/dictionary.h"
#include "core/formats/elf_file.h"

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
    return 0;
}
