// Arbitrary format strings through the print engine. Every integer-class
// argument is the same pointer to a zero-padded text block that is valid as
// UTF-8, UTF-16, 32-bit text and an IPv4 address, so any conversion may take
// any argument and integer or width conversions just read its bits. Eight
// doubles fill the floating-point argument registers; a float conversion past
// them reads the pointer's bits. Because every slot holds the same bits, each
// call prints the same text however its own fixed arguments shift the
// variadic ones between registers and stack. The format is limited to 20
// conversions, which take at most 60 of the 64 pointers passed. Output goes
// into exact-size heap buffers so that a write past the end is caught.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "runtime/text/string_print.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

// Text block, aligned for 32-bit units and ending in at least 16 zero bytes.
alignas(16) const char Block[64] = "abc\xC3\xA9\"\\\n\x01\xF0\x9F\x98\x80xyz\xFF\xFE\xED\xA0\x80Q\x7F";

int32 CountPieces(void *User, uint32 Flags, const char *Text, int32 Length, uint32 *Written) {
    Check(Length >= 0 && (Length == 0 || Text != nullptr) && Flags <= 3);
    *static_cast<int64 *>(User) += Length;
    *Written = (uint32)Length;
    return 1;
}

#define ARGS8 Block, Block, Block, Block, Block, Block, Block, Block
#define ARGS64 \
    0.1, -1e300, NAN, INFINITY, 5e-324, 123.456, -0.0, 1e22, ARGS8, ARGS8, ARGS8, ARGS8, ARGS8, ARGS8, ARGS8, ARGS8

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 1 || Size > 4096) return 0;
    const int32 BufferSize = Data[0];
    std::string Format(reinterpret_cast<const char *>(Data + 1), Size - 1);
    Format.resize(strnlen(Format.c_str(), Format.size()));
    int Conversions = 0;
    for (char Char : Format) Conversions += Char == '%';
    if (Conversions > 20) return 0;

    const int32 Length = String_GetPrintLength(Format.c_str(), ARGS64);
    Check(Length >= 0);

    int64 Streamed = 0;
    String_PrintFormatEx(Format.c_str(), &Streamed, CountPieces, ARGS64);
    Check(Streamed == Length);

    std::unique_ptr<char[]> Buffer(new char[BufferSize > 0 ? (size_t)BufferSize : 1]);
    const int32 Written = String_Print(Buffer.get(), BufferSize, Format.c_str(), ARGS64);
    if (BufferSize > 0) {
        Check(Written == (Length < BufferSize ? Length : BufferSize - 1));
        Check(Buffer[(size_t)Written] == 0);
    } else {
        Check(Written == 0);
    }
    return 0;
}
