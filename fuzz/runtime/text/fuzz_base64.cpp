// Base64, URL-safe Base64 and Base32 on arbitrary input: decoders on any text
// into buffers of exactly the size they are given (tight or too small), so
// that a write past the end is caught; encoders round-trip through the
// decoders; the macro provider always terminates within its size.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/text/base32.h"
#include "runtime/text/base64.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

// Decodes into a heap buffer of exactly Size bytes and checks the contract.
std::string DecodeInto(bool Url, const std::string &Text, int32 Length, int32 Size, int32 *Result) {
    std::vector<uint8> out(static_cast<size_t>(Size));
    int32 written = -1;
    *Result = Url ? Base64_UrlDecode(Text.c_str(), Length, out.data(), Size, &written)
                  : Base64_Decode(Text.c_str(), Length, out.data(), Size, &written);
    Check(written >= 0);
    if (Size > 0) Check(written < Size && out[size_t(written)] == 0);
    if (*Result) Check(Size >= 5);
    return std::string(reinterpret_cast<char *>(out.data()), size_t(written));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 2 || Size > 1 << 16) return 0;
    const uint32 selector = Data[0], slack = Data[1];
    const std::string bytes(reinterpret_cast<const char *>(Data + 2), Size - 2);
    const std::string &text = bytes;  // as a text it ends at its first NUL
    const int32 length = int32(bytes.size());

    // Decoders: the calculated size always suffices for a text that decodes.
    int32 needed = 0, result = 0;
    Base64_CalculateDecodeSize(int32(strlen(text.c_str())) + 2, &needed);
    DecodeInto(false, text, length, needed, &result);
    const int32 tight = int32(slack % uint32(needed + 1));
    DecodeInto(false, text, length, tight, &result);
    const int32 urlLength = selector & 1 ? length : int32(slack % uint32(length + 1));
    DecodeInto(true, text, urlLength, needed, &result);
    DecodeInto(true, text, urlLength, tight, &result);
    DecodeInto(true, text, length + int32(slack), tight, &result);

    // Encoders into exact and short buffers; whatever succeeds decodes back.
    int32 encodeSize = 0;
    Base64_CalculateEncodeSize(length, &encodeSize);
    const int32 shortBy = int32(slack % 6);
    for (int32 size : {encodeSize, encodeSize - 1, std::max(encodeSize - shortBy, 0)}) {
        std::vector<char> out(static_cast<size_t>(size));
        int32 written = -1;
        const int32 encoded = Base64_Encode(bytes.data(), length, out.data(), size, &written);
        Check(written >= 0 && written <= size && written % 4 == 0);
        if (encoded) {
            const std::string copy(out.data(), size_t(written));
            Check(DecodeInto(false, copy, written, needed + encodeSize, &result) == bytes && result == 1);
        }
        written = -1;
        const int32 urlEncoded = Base64_UrlEncode(bytes.data(), length, out.data(), size, &written);
        Check(urlEncoded == encoded && written >= 0 && written <= size);
        if (urlEncoded) {
            const std::string copy(out.data(), size_t(written));
            Check(DecodeInto(true, copy, written, needed + encodeSize, &result) == bytes && result == 1);
        }
    }
    int32 base32Size = 0;
    Base32_CalculateEncodeSize(length, &base32Size);
    for (int32 size : {base32Size, base32Size - 1 - shortBy}) {
        size = std::max(size, 0);
        std::vector<char> out(static_cast<size_t>(size));
        int32 written = -1;
        const int32 encoded =
            Base32_Encode(bytes.data(), length, "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", out.data(), size, &written);
        Check(written >= 0 && written <= size && written % 8 == 0);
        Check(encoded == (size >= base32Size - 1));
    }

    // The macro provider on the text as its argument.
    static const char *const Names[] = {"FromBase64",  "Base64Decode", "ToBase64",      "Base64Encode",
                                        "Base64ToHex", "HexToBase64",  "ToBase64Url",   "Base64UrlEncode",
                                        "FromBase64Url", "Base64UrlDecode"};
    const int32 macroSize = int32(slack) + 1;
    std::vector<char> out(static_cast<size_t>(macroSize));
    Check(Base64_ExpandKey(nullptr, Names[selector % 10], text.c_str(), out.data(), macroSize) == 1);
    Check(strnlen(out.data(), size_t(macroSize)) < size_t(macroSize));
    return 0;
}
