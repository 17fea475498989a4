// installer-package table of contents and package check, on arbitrary bytes taken as a whole file. Checks: no read outside
// the file, no crash or hang, and what is handed out lies inside the file.
#include <stdint.h>

#include <string>

#include "content/pkg_file.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-pkg-file.log", nullptr, 0) != 0;
    (void)Started;
    const ExecutableSource File = ExecutableSource_FromBytes(std::string_view((const char *)Data, Size));
    [[maybe_unused]] auto Ignore = [](const void *, size_t) { return true; };
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    PkgHeader Head;
    std::string Compressed, Xml;
    if (PkgFile_ReadTableOfContents(File, Head, Compressed, Xml)) Check(Xml.size() <= Head.Inflated);
    PkgFile_Verify(nullptr, File);
    Dictionary_Release(&Values);
    return 0;
}
