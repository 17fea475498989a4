// System facts: the system's name and version from os-release, the machine's
// bitness from uname, and the debug-key request (no keyboard state here).
//
// The version is cached on first success for the life of the process, as the
// log header and crash reports read it repeatedly; the cache is filled under
// a lock so concurrent first readers agree; a failed read is tried again.
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/utsname.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>

#include "core/debug.h"
#include "core/posix/platform.h"

namespace {

constexpr const char *OsReleaseFiles[] = {"/etc/os-release", "/usr/lib/os-release"};
constexpr size_t VersionCacheSize = 120;

char CachedVersion[VersionCacheSize];
std::mutex VersionLock;

void Copy(std::string_view Text, char *Buffer, int32 Length) {
    if (Length < 1) return;
    size_t Count = std::min(Text.size(), (size_t)Length - 1);
    memcpy(Buffer, Text.data(), Count);
    Buffer[Count] = 0;
}

// An os-release value: shell-style, optionally in double or single quotes,
// where a backslash escapes the next character inside double quotes.
std::string UnquoteValue(std::string_view Value) {
    std::string Result;
    if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') && Value.back() == Value.front()) {
        bool Double = Value.front() == '"';
        Value = Value.substr(1, Value.size() - 2);
        for (size_t Index = 0; Index < Value.size(); Index++) {
            if (Double && Value[Index] == '\\' && Index + 1 < Value.size()) Index++;
            Result += Value[Index];
        }
        return Result;
    }
    return std::string(Value);
}

// The value of Key in the first readable os-release file; empty when absent.
std::string ReadOsRelease(std::string_view Key) {
    for (const char *Path : OsReleaseFiles) {
        FILE *File = fopen(Path, "re");
        if (File == nullptr) continue;
        std::string Found;
        char Line[1024];
        while (fgets(Line, sizeof(Line), File) != nullptr) {
            std::string_view Text(Line);
            while (!Text.empty() && isspace((unsigned char)Text.back())) Text.remove_suffix(1);
            if (Text.size() > Key.size() && Text.substr(0, Key.size()) == Key && Text[Key.size()] == '=') {
                Found = UnquoteValue(Text.substr(Key.size() + 1));
                break;
            }
        }
        fclose(File);
        return Found;
    }
    return {};
}

} // namespace

extern "C" int32 Platform_GetVersion(char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    std::lock_guard Guard(VersionLock);
    if (CachedVersion[0] == 0) Copy(ReadOsRelease("VERSION_ID"), CachedVersion, VersionCacheSize);
    Copy(CachedVersion, Buffer, Length);
    return Length > 0 && Buffer[0] != 0;
}

extern "C" int32 Platform_GetName(char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    Copy(ReadOsRelease("NAME"), Buffer, Length);
    return Length > 0 && Buffer[0] != 0;
}

extern "C" int32 Platform_GetSystemBitness(int32 *Bitness) {
    Debug_CheckPointer(Bitness);
    *Bitness = 0;
    utsname Names{};
    if (uname(&Names) != 0) return 0;
    *Bitness = strcasecmp(Names.machine, "x86_64") == 0 ? 64 : 32;
    return 1;
}

extern "C" int32 Platform_GetDebugFlagsFromKey(uint32 *Flags) {
    Debug_CheckPointer(Flags);
    return 0;
}
