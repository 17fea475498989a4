// The keyed sources of the stand-in seam (see platform_stand_in.h).
#include "runtime/posix/platform_stand_in.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

#include "runtime/debug.h"
#include "runtime/posix/platform_file.h"

namespace {

std::mutex Lock;
std::map<std::string, std::string> &Values() {
    static std::map<std::string, std::string> Table;
    return Table;
}

} // namespace

std::string PlatformStandIn_Value(const char *Key, const char *Default) {
    Debug_CheckPointer(Key);
    {
        std::lock_guard Guard(Lock);
        auto Found = Values().find(Key);
        if (Found != Values().end()) return Found->second;
    }
    const std::string Variable = std::string("VELMARSH_") + Key;
    if (const char *Value = getenv(Variable.c_str()); Value != nullptr && Value[0] != 0) return Value;
    return Default != nullptr ? Default : "";
}

int32 PlatformStandIn_Set(const char *Key, const char *Value) {
    Debug_CheckPointer(Key);
    std::lock_guard Guard(Lock);
    if (Value == nullptr) Values().erase(Key);
    else Values()[Key] = Value;
    return 1;
}

int32 PlatformStandIn_Get(const char *Key, const char *Default, char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    const std::string Value = PlatformStandIn_Value(Key, nullptr);
    const std::string &Answer = Value.empty() && Default != nullptr ? std::string(Default) : Value;
    if (Length > 0) {
        const size_t Count = std::min(Answer.size(), (size_t)Length - 1);
        memcpy(Buffer, Answer.data(), Count);
        Buffer[Count] = 0;
    }
    return !Value.empty();
}

bool PlatformStandIn_ReadFile(const std::string &Path, std::string &Text, size_t Limit) {
    // Some of these (proxy.conf, say) are the user's files: a FIFO or a
    // device put there must not hold the caller in the open or the reads.
    int Descriptor = Platform_OpenRegular(Path.c_str(), O_RDONLY, 0);
    if (Descriptor < 0) return false;
    Text.clear();
    char Chunk[4096];
    for (ssize_t Count; Text.size() < Limit && (Count = read(Descriptor, Chunk, sizeof(Chunk))) > 0;)
        Text.append(Chunk, (size_t)Count);
    close(Descriptor);
    if (Text.size() > Limit) Text.resize(Limit);
    return true;
}
