// Mach-O slices, code-signature blobs and page hashes, on arbitrary bytes taken as a whole file. Checks: no read outside
// the file, no crash or hang, and what is handed out lies inside the file.
#include <stdint.h>

#include <string>

#include "content/macho_file.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-macho-file.log", nullptr, 0) != 0;
    (void)Started;
    const ExecutableSource File = ExecutableSource_FromBytes(std::string_view((const char *)Data, Size));
    [[maybe_unused]] auto Ignore = [](const void *, size_t) { return true; };
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    MachOFile_CheckCodeDirectories(File, Ignore);
    std::string Payload;
    if (MachOFile_ReadCertificate(File, Payload)) Check(!Payload.empty() && Payload.size() <= Size);
    Dictionary_Release(&Values);
    return 0;
}
