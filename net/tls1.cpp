// TLS tables (see tls1.h).
#include "net/tls1.h"

#include <atomic>

#include "runtime/log.h"
#include "runtime/text/string.h"

namespace {

struct Suite {
    const char *Name;
    uint16 Id;
};

constexpr Suite Suites[TLS1_CIPHER_COUNT] = {
    {"ecdhe-ecdsa-aes256-gcm-sha384", 0xC02C}, {"ecdhe-rsa-aes256-gcm-sha384", 0xC030},
    {"ecdhe-ecdsa-aes128-gcm-sha256", 0xC02B}, {"ecdhe-rsa-aes128-gcm-sha256", 0xC02F},
    {"rsa-aes256-gcm-sha384", 0x009D},         {"rsa-aes128-gcm-sha256", 0x009C},
    {"ecdhe-ecdsa-aes256-sha384", 0xC024},     {"ecdhe-rsa-aes256-sha384", 0xC028},
    {"ecdhe-ecdsa-aes256-sha", 0xC00A},        {"ecdhe-rsa-aes256-sha", 0xC014},
    {"ecdhe-ecdsa-aes128-sha256", 0xC023},     {"ecdhe-rsa-aes128-sha256", 0xC027},
    {"ecdhe-ecdsa-aes128-sha", 0xC009},        {"ecdhe-rsa-aes128-sha", 0xC013},
    {"rsa-aes256-sha256", 0x003D},             {"rsa-aes256-sha", 0x0035},
    {"rsa-aes128-sha256", 0x003C},             {"rsa-aes128-sha", 0x002F},
};

std::atomic<uint32> Enabled{0}; // bit i: Suites[i]
std::atomic<uint16> MinVersion{TLS1_VERSION_1_0};
std::atomic<uint16> MaxVersion{TLS1_VERSION_1_2};

int32 IndexOf(uint16 Id) {
    for (int32 Index = 0; Index < TLS1_CIPHER_COUNT; Index++)
        if (Suites[Index].Id == Id) return Index;
    return -1;
}

uint16 Clamp(uint16 Version) {
    return Version < TLS1_VERSION_1_0 ? TLS1_VERSION_1_0 : Version > TLS1_VERSION_1_2 ? TLS1_VERSION_1_2 : Version;
}

} // namespace

uint16 TLS1_CipherTranslate(const char *Name) {
    Debug_CheckPointer(Name);
    for (const Suite &Each : Suites)
        if (String_CompareWithoutCase(Each.Name, Name)) return Each.Id;
    Log_Error("Unknown cipher suite: %s\n", Name);
    return 0;
}

const char *TLS1_CipherName(int32 Index) {
    return Index >= 0 && Index < TLS1_CIPHER_COUNT ? Suites[Index].Name : nullptr;
}

int32 TLS1_CipherEnable(uint16 Id, uint32 Flag) {
    int32 Index = IndexOf(Id);
    if (Index < 0) return FALSE;
    if (Flag) Enabled.fetch_or(1u << Index);
    else Enabled.fetch_and(~(1u << Index));
    return TRUE;
}

int32 TLS1_CipherIsEnabled(uint16 Id) {
    int32 Index = IndexOf(Id);
    return Index >= 0 && (Enabled.load() & (1u << Index)) != 0;
}

int32 TLS1_CipherReset(void) {
    Enabled.store(0);
    return TRUE;
}

uint16 TLS1_VersionTranslate(const char *Text) {
    Debug_CheckPointer(Text);
    if (String_Compare(Text, "1.0")) return TLS1_VERSION_1_0;
    if (String_Compare(Text, "1.1")) return TLS1_VERSION_1_1;
    if (String_Compare(Text, "1.2")) return TLS1_VERSION_1_2;
    return 0;
}

int32 TLS_VersionSetMin(uint16 Version) {
    MinVersion.store(Clamp(Version));
    return TRUE;
}

int32 TLS_VersionSetMax(uint16 Version) {
    MaxVersion.store(Clamp(Version));
    return TRUE;
}

uint16 TLS_VersionGetMin(void) { return MinVersion.load(); }
uint16 TLS_VersionGetMax(void) { return MaxVersion.load(); }
