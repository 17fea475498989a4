// Arbitrary bytes through the UTF-8 -> UTF-16 / 32-bit -> UTF-8 converters.
// Bounded copies write into heap buffers of exactly the size they are given,
// so a write past the end is caught; the source is a copy without terminator,
// so reading past the last index is caught too. Full conversions must agree
// with each other, give valid UTF-8 and be stable on a second pass.
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

// An exact-size heap array; at least one element so that the pointer is never
// null (the converters treat a null destination as a programming error).
template <typename T>
std::unique_ptr<T[]> Exact(int32 Count) {
    return std::unique_ptr<T[]>(new T[Count > 0 ? (size_t)Count : 1]);
}

// Full UTF-8 -> UTF-16 -> UTF-8 conversion of a terminated text.
std::string ThroughUtf16(const std::string &Text) {
    std::vector<uint16> Units(Text.size() + 1);
    StringUtf8_CopyToUtf16(Units.data(), Text.c_str(), (int32)Units.size());
    const int32 Size = StringUtf16_LengthUtf8(Units.data()) + 1;
    std::string Out((size_t)Size, '\0');
    Check(StringUtf16_CopyToUtf8(Out.data(), Units.data(), Size) == Size - 1);
    Out.resize((size_t)Size - 1);
    return Out;
}

std::string ThroughUtf32(const std::string &Text) {
    std::vector<uint32> Units(Text.size() + 1);
    StringUtf8_CopyToUtf32(Units.data(), Text.c_str(), (int32)Units.size());
    const int32 Size = StringUtf32_LengthUtf8(Units.data()) + 1;
    std::string Out((size_t)Size, '\0');
    Check(StringUtf32_CopyToUtf8(Out.data(), Units.data(), Size) == Size - 1);
    Out.resize((size_t)Size - 1);
    return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 2 || Size > 1 << 16) return 0;
    const int32 Units16 = Data[0] % 24, Size8 = Data[1] % 40;
    const int32 Length = (int32)Size - 2;
    // No terminator behind the bytes: LastIndex must keep the reader inside.
    auto Source = Exact<char>(Length);
    memcpy(Source.get(), Data + 2, (size_t)Length);

    auto Out16 = Exact<uint16>(Units16);
    const int32 Written16 = StringUtf8_CopyLengthToUtf16(Out16.get(), Units16, Source.get(), Length - 1);
    Check(Written16 >= 0 && (Units16 == 0 ? Written16 == 0 : Written16 < Units16 && Out16[(size_t)Written16] == 0));

    auto Out32 = Exact<uint32>(Units16);
    const int32 Written32 = StringUtf8_CopyLengthToUtf32(Out32.get(), Units16, Source.get(), Length - 1);
    Check(Written32 >= 0 && (Units16 == 0 ? Written32 == 0 : Written32 < Units16 && Out32[(size_t)Written32] == 0));

    // Back to UTF-8 into a small exact buffer, from the units written (no terminator read).
    auto Out8 = Exact<char>(Size8);
    const int32 Written8 = StringUtf16_CopyLengthToUtf8(Out8.get(), Size8, Out16.get(), Written16);
    Check(Written8 >= 0 && (Size8 == 0 ? Written8 == 0 : Written8 < Size8 && Out8[(size_t)Written8] == 0));
    const int32 Swapped8 = StringUtf16_ESCopyLengthToUtf8(Out8.get(), Size8, Out16.get(), Written16);
    Check(Swapped8 >= 0 && (Size8 == 0 || Swapped8 < Size8));
    const int32 Wide8 = StringUtf32_CopyLengthToUtf8(Out8.get(), Size8, Out32.get(), Written32);
    Check(Wide8 >= 0 && (Size8 == 0 || Wide8 < Size8));
    const int32 Ansi8 = StringAnsi_CopyLengthToUtf8(Out8.get(), Size8, Source.get(), Length);
    Check(Ansi8 >= 0 && (Size8 == 0 || Ansi8 < Size8));

    // The strict platform-backed copies answer all or nothing; whatever they
    // produce equals the lenient conversion.
    auto Strict16 = Exact<uint16>(Units16);
    const int32 Strict = String_CopyLengthToUtf16(Strict16.get(), Units16, Source.get(), Length);
    Check(Strict == 0 ||
          (Strict == Written16 && memcmp(Strict16.get(), Out16.get(), (size_t)(Strict + 1) * sizeof(uint16)) == 0));
    auto Ascii = Exact<char>(Size8);
    const int32 StrictAscii = StringUtf16_CopyLengthToAscii(Ascii.get(), Size8, Out16.get(), Written16);
    Check(StrictAscii == 0 || StrictAscii == Written8);

    // Whole texts (up to the first NUL): both routes give the same valid UTF-8.
    const std::string Text(Source.get(), strnlen(Source.get(), (size_t)Length));
    const std::string Clean = ThroughUtf16(Text);
    Check(Clean == ThroughUtf32(Text));
    Check(ThroughUtf16(Clean) == Clean);
    for (size_t i = 0; i < Clean.size();) {
        uint16 Unit;
        int32 Bytes;
        const bool Valid = CharUtf8_ConvertToUtf16(Clean.c_str() + i, &Unit, &Bytes);
        Check(Valid && Bytes >= 1);
        i += (size_t)Bytes;
    }
    return 0;
}
