// The anchor-bundle reader and the certificate shape check on arbitrary
// bytes. Checks: no read or write out of bounds; every certificate the
// bundle yields passes the shape check; the check never accepts a strict
// prefix of a certificate it accepted.
#include <stdint.h>

#include <string>

#include "crypto/trust/platform_trust.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string_view Bytes(reinterpret_cast<const char *>(Data), Size);
    for (const std::string &Der : PlatformTrust_ReadBundle(Bytes)) Check(PlatformTrust_IsCertificate(Der));
    if (PlatformTrust_IsCertificate(Bytes) && !Bytes.empty())
        Check(!PlatformTrust_IsCertificate(Bytes.substr(0, Bytes.size() - 1)));
    return 0;
}
