// The INI reader on arbitrary bytes. Checks: a load never reads or writes
// out of bounds; what loaded saves, and our own output loads again to the
// same text.
#include <stdint.h>

#include <string>

#include "formats/ini.h"
#include "runtime/containers/dictionary.h"
#include "runtime/debug.h"
#include "runtime/streams/memory_stream.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Quiet(void *, const char *, ...) { return 1; }

struct Doc {
    Ini *Object = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        Ini_Create(&Object);
        Ini_SetPrintCallback(Object, nullptr, Quiet);
        Dictionary_Create(&Dict);
        Dictionary_SetPrintCallback(Dict, nullptr, Quiet);
        Dictionary_SetPrivateKeys(Dict, 0);
        Ini_SetDictionaryHandle(Object, Dict);
    }
    ~Doc() {
        Ini_Delete(&Object);
        Dictionary_Release(&Dict);
    }
    int32 Load(const char *Text, int32 Length) {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        if (Length > 0) MemoryStream_SetPointer(Memory, const_cast<char *>(Text), Length, Length);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        const int32 Result = Ini_LoadStream(Object, Stream);
        MemoryStream_Delete(&Memory);
        return Result;
    }
    std::string Save() {
        MemoryStream *Memory = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, TRUE);
        StreamStruct *Stream = nullptr;
        MemoryStream_GetStreamHandle(Memory, &Stream);
        Check(Ini_SaveStream(Object, Stream) == 1);
        std::string Out;
        if (MemoryStream_GetUsed(Memory) > 0) {
            char *Bytes = nullptr;
            MemoryStream_GetPointer(Memory, &Bytes);
            Out.assign(Bytes, (size_t)MemoryStream_GetUsed(Memory));
            MemoryStream_ReleasePointer(Memory, &Bytes);
        }
        MemoryStream_Delete(&Memory);
        return Out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-ini.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 20) return 0;
    Doc First;
    const int32 Loaded = First.Load(reinterpret_cast<const char *>(Data), (int32)Size);
    Check(Loaded == 0 || Loaded == 1);
    const std::string Saved = First.Save();
    Doc Again;
    Check(Again.Load(Saved.data(), (int32)Saved.size()) == 1);
    Check(Again.Save() == Saved);
    return 0;
}
