// Feeds arbitrary bytes to the two texts the process layer parses: a command
// line split into arguments (each argument must be a contiguous run of the
// input less quotes and never reach 8,192 bytes), and the id line an
// elevated shell prints (accepted only as a positive 32-bit decimal).
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/posix/platform_process.h"
#include "runtime/posix/privileged_task.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-process-texts.log", nullptr, 0) != 0;
    (void)Started;
    std::string Text(reinterpret_cast<const char *>(Data), Size);
    char **Arguments = nullptr;
    int32 Count = 0;
    CommandLineToMutableArray(Text.c_str(), &Arguments, &Count);
    size_t Total = 0;
    for (int32 Index = 0; Index < Count; Index++) {
        const size_t Length = strlen(Arguments[Index]);
        if (Length >= PLATFORM_ARGUMENT_SIZE) __builtin_trap();
        Total += Length;
    }
    if (Total > Text.size()) __builtin_trap();
    CommandLineArray_Delete(&Arguments, Count);

    int32 Id = 0;
    if (PrivilegedTask_ParsePidLine(Text.data(), (int32)Size, &Id) && Id <= 0) __builtin_trap();
    return 0;
}
