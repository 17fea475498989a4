// Data-store search on arbitrary bytes taken as a whole file: the region
// finders (PE, disk image, ELF) and the store reader. Checks: no read goes
// outside the file, and a found text is no longer than the store allows.
#include <stdint.h>
#include <string.h>

#include <string>

#include "content/executable.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-data-store.log", nullptr, 0) != 0;
    (void)Started;
    const ExecutableSource File{Size, [&](uint64 Offset, void *Out, size_t Length) {
                                    if (Offset > Size || Length > Size - Offset) return false;
                                    memcpy(Out, Data + Offset, Length);
                                    return true;
                                }};
    std::string Text;
    if (ExecutableDataStore_Find(File, Text)) Check(Text.size() <= (256u << 20));
    else Check(Text.empty());
    return 0;
}
