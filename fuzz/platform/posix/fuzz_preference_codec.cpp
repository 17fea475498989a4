// The property-list reader on arbitrary bytes. Checks:
//   - a read answers true or false and never reads or writes out of bounds
//     or recurses without bound;
//   - what reads is written, and our own text reads again and writes the
//     same text (so a store once accepted stays readable after a write).
#include <stdint.h>

#include <string>

#include "platform/posix/preference_value.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string_view Document(reinterpret_cast<const char *>(Data), Size);
    PreferenceValue Value;
    if (!PreferenceCodec_Read(Document, Value)) return 0;
    std::string Written = PreferenceCodec_Write(Value);
    PreferenceValue Again;
    std::string Error;
    Check(PreferenceCodec_Read(Written, Again, &Error));
    Check(PreferenceCodec_Write(Again) == Written);
    return 0;
}
