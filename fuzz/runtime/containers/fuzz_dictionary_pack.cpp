// Packed Dictionary bytes, arbitrary: reading them must never read out of
// bounds or nest deeper than the reader allows, and a tree they gave must
// pack and unpack to itself (the first packing may normalise, the second
// gives the same bytes).
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <string_view>

#include "runtime/containers/dictionary.h"
#include "runtime/containers/dictionary_pack.h"
#include "runtime/debug.h"

namespace {

std::string Repacked(std::string_view Bytes, bool *Read) {
    Dictionary *Tree = nullptr;
    Dictionary_Create(&Tree);
    *Read = DictionaryPack_Read(Tree, Bytes) != 0;
    std::string Out;
    if (*Read && !DictionaryPack_Write(Tree, &Out)) abort();
    Dictionary_Release(&Tree);
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-dictionary-pack.log", nullptr, 0) != 0;
    (void)Started;
    bool Read = false;
    const std::string First = Repacked(std::string_view(reinterpret_cast<const char *>(Data), Size), &Read);
    if (!Read) return 0;
    bool Again = false;
    if (Repacked(First, &Again) != First || !Again) abort();
    return 0;
}
