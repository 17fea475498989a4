// Base64Stream on arbitrary input. As text, written through the stream in
// chunks of input-chosen sizes: the bytes must not depend on where the text
// was cut, must be the standard decoder's answer for text it accepts, and a
// base bounded in size must hold a prefix of them. As bytes, read through the
// stream in odd chunk sizes: the text must be Base64_Encode's, and writing it
// back must give the bytes again. ASan catches any access past the buffer.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/text/base64.h"
#include "runtime/streams/base64_stream.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

// Chunk sizes from a small generator seeded by the input.
struct Chunks {
    uint32 State;
    uint32 Next(uint32 Limit) {
        State = State * 1103515245u + 12345u;
        return 1 + (State >> 16) % Limit;
    }
};

struct Layered {
    Base64Stream *Stream = nullptr;
    MemoryStream *Base = nullptr;
    explicit Layered(int32 Bound) {
        Base64Stream_Create(&Stream);
        MemoryStream_Create(&Base);
        if (Bound > 0)
            MemoryStream_Size(Base, Bound, 0, 0);
        else
            MemoryStream_SetAutoGrow(Base, 1);
        StreamStruct *Record = nullptr;
        MemoryStream_GetStreamHandle(Base, &Record);
        Base64Stream_SetBaseStreamHandle(Stream, Record);
    }
    ~Layered() {
        Base64Stream_Delete(&Stream);
        MemoryStream_Delete(&Base);
    }
    std::string Data() {
        uint8 *Pointer = nullptr;
        if (!MemoryStream_GetPointer(Base, &Pointer)) return "";
        std::string Bytes(reinterpret_cast<char *>(Pointer), (size_t)MemoryStream_GetUsed(Base));
        MemoryStream_ReleasePointer(Base, &Pointer);
        return Bytes;
    }
    // 1 when every call succeeded.
    int32 Write(const std::string &Text, Chunks *Sizes, uint32 Limit) {
        int32 Result = 1;
        for (size_t At = 0; At < Text.size() && Result;) {
            const uint32 Size = (uint32)std::min<size_t>(Sizes->Next(Limit), Text.size() - At);
            uint32 Count = 0;
            Result = Base64Stream_Write(Stream, Text.data() + At, Size, &Count);
            Check(Count <= Size);
            Check(!Result || Count == Size);
            At += Size;
        }
        return Result;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-base64-stream.log", nullptr, 0) != 0;
    (void)Started;
    if (Size < 2 || Size > 1 << 16) return 0;
    const uint32 Seed = Data[0];
    const uint32 Limit = 1 + Data[1] * 9u;
    const std::string Input(reinterpret_cast<const char *>(Data + 2), Size - 2);

    // Decoding: in one piece, in chunks, and into a bounded base.
    std::string Whole;
    {
        Layered One(0);
        Chunks All{0};
        Check(One.Write(Input, &All, (uint32)Input.size() + 1) == 1);
        Whole = One.Data();
    }
    {
        Layered Cut(0);
        Chunks Sizes{Seed};
        Check(Cut.Write(Input, &Sizes, Limit) == 1);
        Check(Cut.Data() == Whole);
    }
    {
        Layered Bounded((int32)(Limit % 2100) + 1);
        Chunks Sizes{Seed};
        Bounded.Write(Input, &Sizes, Limit);
        const std::string Kept = Bounded.Data();
        Check(Whole.compare(0, Kept.size(), Kept) == 0);
    }
    // Text the standard decoder accepts, with "=" only as the padding of the
    // last group, decodes the same through the stream.
    const size_t Padding = Input.find('=');
    const bool Padded = Padding == std::string::npos ||
                        (Input.size() - Padding <= 2 && Input.find_first_not_of('=', Padding) == std::string::npos);
    if (Padded && memchr(Input.data(), 0, Input.size()) == nullptr) {
        int32 Needed = 0, Written = 0;
        Base64_CalculateDecodeSize((int32)Input.size(), &Needed);
        std::vector<uint8> Out((size_t)Needed);
        if (Base64_Decode(Input.c_str(), (int32)Input.size(), Out.data(), Needed, &Written) == 1)
            Check(Whole == std::string(reinterpret_cast<char *>(Out.data()), (size_t)Written));
    }

    // Encoding the input bytes in odd read sizes, and back.
    int32 EncodeSize = 0, Written = 0;
    Base64_CalculateEncodeSize((int32)Input.size(), &EncodeSize);
    std::vector<char> Expected((size_t)EncodeSize);
    Base64_Encode(Input.data(), (int32)Input.size(), Expected.data(), EncodeSize, &Written);
    Layered Source(0);
    uint32 Count = 0;
    if (!Input.empty()) MemoryStream_Write(Source.Base, Input.data(), (uint32)Input.size(), &Count);
    MemoryStream_Seek(Source.Base, 0, STREAM_SEEK_SET);
    Chunks Sizes{Seed ^ 0x5a};
    std::string Text;
    std::vector<char> Chunk(Limit + 4);
    for (uint32 Pass = 1;; Pass++) {
        // Sizes below one group deliver nothing; every 16th ask is whole.
        const uint32 Ask = Sizes.Next(Limit) + (Pass % 16 == 0 ? 4 : 0);
        const int32 Result = Base64Stream_Read(Source.Stream, Chunk.data(), Ask, &Count);
        Check(Count <= Ask && Count % 4 == 0 && Result == (Count > 0));
        Text.append(Chunk.data(), Count);
        if (!Result && Ask >= 4) break;
        Check(Text.size() <= (size_t)Written);
    }
    Check(Text == std::string(Expected.data(), (size_t)Written));
    Layered Back(0);
    Check(Back.Write(Text, &Sizes, Limit) == 1);
    Check(Back.Data() == Input);
    return 0;
}
