// The zip layout reader on arbitrary bytes taken as a whole archive. Checks:
// no read outside the bytes, no crash or hang, and an accepted layout keeps
// its promise: no more entries than the directory can hold, every entry's
// bytes inside the archive and apart from every other entry's.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "content/zip_layout.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const ZipReadAt ReadAt = [&](uint64 Offset, uint8 *Into, size_t Length) {
        if (Offset > Size || Length > Size - Offset) return false;
        memcpy(Into, Data + Offset, Length);
        return true;
    };
    std::vector<ZipLayoutEntry> Entries;
    std::string Error;
    if (!ZipLayout_Read(Size, ReadAt, Entries, Error)) {
        Check(!Error.empty());
        return 0;
    }
    Check(Entries.size() <= Size / 46);
    std::sort(Entries.begin(), Entries.end(), [](const auto &A, const auto &B) { return A.Start < B.Start; });
    for (size_t I = 0; I < Entries.size(); I++) {
        Check(Entries[I].Start + 30 + Entries[I].CompressedSize <= Entries[I].End && Entries[I].End <= Size);
        if (I > 0) Check(Entries[I - 1].End <= Entries[I].Start);
    }
    return 0;
}
