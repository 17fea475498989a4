// Ill-formed 16-bit and 32-bit texts into the converters: lone and reversed
// surrogates, values above U+10FFFF and units a platform interface or a
// script engine may hand over. Bounded copies write into exact-size heap
// buffers and read sources without a terminator, so any step past either
// end is caught. Checks: results stay inside their sizes and are terminated;
// the full conversions give valid UTF-8 of the length the Length functions
// announce, one replacement per unit that is not a character; UTF-32 through
// UTF-16 to UTF-8 gives the same text as UTF-32 straight to UTF-8.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/text/unicode.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

template <typename T>
std::unique_ptr<T[]> Exact(int32 Count) {
    return std::unique_ptr<T[]>(new T[Count > 0 ? (size_t)Count : 1]);
}

// Strict UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string &Text) {
    for (size_t i = 0; i < Text.size();) {
        const uint8_t Lead = (uint8_t)Text[i];
        size_t Count = Lead < 0x80 ? 1 : Lead >= 0xC2 && Lead <= 0xDF ? 2 : Lead >= 0xE0 && Lead <= 0xEF ? 3
                                     : Lead >= 0xF0 && Lead <= 0xF4 ? 4 : 0;
        if (Count == 0 || i + Count > Text.size()) return false;
        uint32_t Point = Count == 1 ? Lead : Lead & (0x7F >> Count);
        for (size_t k = 1; k < Count; k++) {
            const uint8_t Byte = (uint8_t)Text[i + k];
            if ((Byte & 0xC0) != 0x80) return false;
            Point = (Point << 6) | (Byte & 0x3F);
        }
        static const uint32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (Point < Least[Count] || Point > 0x10FFFF || (Point >= 0xD800 && Point <= 0xDFFF)) return false;
        i += Count;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 2 || Size > 1 << 16) return 0;
    const int32 Size8 = Data[0] % 48, Units = Data[1] % 24;
    Data += 2;
    Size -= 2;

    // The bytes as 16-bit units; a terminated copy for the whole-text calls.
    const int32 Count16 = (int32)(Size / 2);
    auto Source16 = Exact<uint16>(Count16);
    memcpy(Source16.get(), Data, (size_t)Count16 * 2);
    std::vector<uint16> Text16(Source16.get(), Source16.get() + Count16);
    Text16.push_back(0);

    auto Out8 = Exact<char>(Size8);
    int32 Written = StringUtf16_CopyLengthToUtf8(Out8.get(), Size8, Source16.get(), Count16);
    Check(Written >= 0 && (Size8 == 0 ? Written == 0 : Written < Size8 && Out8[(size_t)Written] == 0));
    Check(Size8 == 0 || ValidUtf8(std::string(Out8.get(), (size_t)Written)));
    Written = StringUtf16_ESCopyLengthToUtf8(Out8.get(), Size8, Source16.get(), Count16);
    Check(Written >= 0 && (Size8 == 0 ? Written == 0 : Written < Size8 && Out8[(size_t)Written] == 0));
    Check(Size8 == 0 || ValidUtf8(std::string(Out8.get(), (size_t)Written)));
    Written = StringUtf16_CopyLengthToAscii(Out8.get(), Size8, Source16.get(), Count16);
    Check(Written >= 0 && (Size8 == 0 || Written < Size8));

    const int32 Length16 = StringUtf16_LengthUtf8(Text16.data());
    std::string Whole16((size_t)Length16 + 1, '\0');
    Check(StringUtf16_CopyToUtf8(Whole16.data(), Text16.data(), Length16 + 1) == Length16);
    Whole16.resize((size_t)Length16);
    Check(ValidUtf8(Whole16));
    char *Copy = nullptr;
    if (StringUtf16_CreateUtf8(Text16.data(), &Copy)) Check(Copy != nullptr && Whole16 == Copy);
    StringUtf16_DeleteUtf8(&Copy);

    // The bytes as 32-bit units.
    const int32 Count32 = (int32)(Size / 4);
    auto Source32 = Exact<uint32>(Count32);
    memcpy(Source32.get(), Data, (size_t)Count32 * 4);
    std::vector<uint32> Text32(Source32.get(), Source32.get() + Count32);
    Text32.push_back(0);

    Written = StringUtf32_CopyLengthToUtf8(Out8.get(), Size8, Source32.get(), Count32);
    Check(Written >= 0 && (Size8 == 0 ? Written == 0 : Written < Size8 && Out8[(size_t)Written] == 0));
    Check(Size8 == 0 || ValidUtf8(std::string(Out8.get(), (size_t)Written)));
    auto Out16 = Exact<uint16>(Units);
    Written = StringUtf32_CopyLengthToUtf16(Out16.get(), Units, Source32.get(), Count32 - 1);
    Check(Written >= 0 && (Units == 0 ? Written == 0 : Written < Units && Out16[(size_t)Written] == 0));

    const int32 Length32 = StringUtf32_LengthUtf8(Text32.data());
    std::string Whole32((size_t)Length32 + 1, '\0');
    Check(StringUtf32_CopyToUtf8(Whole32.data(), Text32.data(), Length32 + 1) == Length32);
    Whole32.resize((size_t)Length32);
    Check(ValidUtf8(Whole32));
    Check(StringUtf32_Length(Text32.data()) <= Count32);

    // 32-bit through UTF-16 to UTF-8 agrees with the direct route.
    std::vector<uint16> Via16((size_t)StringUtf32_Length(Text32.data()) * 2 + 1);
    StringUtf32_CopyToUtf16(Via16.data(), Text32.data(), (int32)Via16.size());
    const int32 LengthVia = StringUtf16_LengthUtf8(Via16.data());
    std::string Through((size_t)LengthVia + 1, '\0');
    StringUtf16_CopyToUtf8(Through.data(), Via16.data(), LengthVia + 1);
    Through.resize((size_t)LengthVia);
    Check(Through == Whole32);
    return 0;
}
