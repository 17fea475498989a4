// HTML reference decoding, decimal-reference encoding and decoding on
// arbitrary input, into destinations of exactly the given size: nothing may
// be written past them and every result must be terminated inside them.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/text/html_entities.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 1 || Size > 1 << 16) return 0;
    const uint32 slack = Data[0];
    const std::string text(reinterpret_cast<const char *>(Data + 1), Size - 1);
    const size_t length = strlen(text.c_str());

    // UTF-8 decoding: a large destination takes everything (references never
    // grow the text by more than a factor of four); a small one is cut.
    for (size_t size : {length * 4 + 1, size_t(slack % (length + 2)) + 1}) {
        std::vector<char> out(size);
        const int32 result = StringUtf8_DecodeHtml(text.c_str(), out.data(), int32(size));
        Check(strnlen(out.data(), size) < size);
        if (size == length * 4 + 1) Check(result == 1);
    }

    // UTF-16 decoding of the bytes taken in pairs.
    std::vector<uint16> units;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const uint16 unit = uint16(uint8(text[i]) | uint8(text[i + 1]) << 8);
        if (unit == 0) break;
        units.push_back(unit);
    }
    units.push_back(0);
    for (size_t count : {units.size() * 2, size_t(slack % units.size()) + 1}) {
        std::vector<uint16> out(count);
        const int32 result = StringUtf16_DecodeHtml(units.data(), out.data(), int32(count));
        bool terminated = false;
        for (uint16 unit : out) terminated = terminated || unit == 0;
        Check(terminated);
        if (count == units.size() * 2) Check(result == 1);
    }

    // Decimal references: both directions, large and cut destinations.
    for (size_t size : {length * 12 + 1, size_t(slack) + 1}) {
        std::vector<char> out(size);
        Check(StringUtf8_EncodeString(text.c_str(), out.data(), int32(size)) == 1);
        Check(strnlen(out.data(), size) < size);
        for (size_t i = 0; out[i]; i++) Check(uint8(out[i]) < 0x80);
        std::vector<char> back(size);
        Check(StringUtf8_DecodeString(text.c_str(), back.data(), int32(size)) == 1);
        Check(strnlen(back.data(), size) < size);
    }
    return 0;
}
