// The VCDiff decoder on arbitrary deltas against a fixed source. The first
// byte chooses the target capacity and the source window offset. Checks: Init
// and Decode answer 0 or 1, never write past the capacity (the target sits at
// the end of its allocation, so a write past it is seen), never read outside
// the delta or the source, and the length they report stays within the
// capacity.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "formats/vcdiff_decoder.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-vcdiff.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 1 || Size > 1 << 20) return 0;
    static uint8 Source[1024];
    static const bool Filled = [] {
        for (size_t i = 0; i < sizeof(Source); i++) Source[i] = (uint8)(i * 7 + 3);
        return true;
    }();
    (void)Filled;
    const uint32 Capacity = (uint32)(Data[0] & 0x3F) * 64;
    const uint64 Offset = (Data[0] & 0xC0) == 0xC0 ? ~(uint64)0 - 3 : (uint64)(Data[0] >> 6) * 100;
    // The delta and the target fill their allocations exactly.
    uint8 *Delta = static_cast<uint8 *>(malloc(Size > 1 ? Size - 1 : 1));
    memcpy(Delta, Data + 1, Size - 1);
    uint8 *Target = static_cast<uint8 *>(malloc(Capacity > 0 ? Capacity : 1));
    VCDiffDecoder *Decoder = nullptr;
    VCDiffDecoder_Create(&Decoder);
    VCDiffDecoder_SetDeltaBuffer(Decoder, Delta, (uint32)(Size - 1));
    VCDiffDecoder_SetSourceBuffer(Decoder, Source, sizeof(Source));
    VCDiffDecoder_SetSourceWindowOffset(Decoder, Offset);
    const int32 Ready = VCDiffDecoder_Init(Decoder);
    Check(Ready == 0 || Ready == 1);
    if (Ready) {
        uint32 Length = 0;
        const int32 Decoded = VCDiffDecoder_Decode(Decoder, Target, Capacity, &Length);
        Check(Decoded == 0 || Decoded == 1);
        Check(Length <= Capacity);
    }
    VCDiffDecoder_Delete(&Decoder);
    free(Target);
    free(Delta);
    return 0;
}
