// The readers of system files on arbitrary bytes: os-release values, cpuinfo
// lines, locale names, resolv.conf name servers, the routing table, the TCP
// socket table, the kernel's socket-diagnostics answers, proxy settings and
// DHCP leases. Checks: no out-of-bounds access, and every answer stays
// within what the input could give (a name server is a dotted address, a
// value is no longer than the input).
#include <arpa/inet.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/platform_proxy.h"
#include "runtime/posix/platform.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size > 1 << 20) return 0;
    const std::string_view Text(reinterpret_cast<const char *>(Data), Size);
    Check(PlatformSystem_OsReleaseValue(Text, "NAME").size() <= Size);
    std::string Value;
    if (PlatformSystem_CpuInfoValue(Text, "model name", Value)) Check(Value.size() <= Size);
    Check(PlatformSystem_LocaleOf(Text).size() <= Size);
    for (const std::string &Server : PlatformNetwork_NameServers(Text)) {
        in_addr Address;
        Check(inet_pton(AF_INET, Server.c_str(), &Address) == 1);
    }
    PlatformNetwork_DefaultGateway(Text, "eth0");
    PlatformNetwork_TcpInode(Text, 0x0100007f, 8080);
    std::vector<PlatformTcpEntry> Sockets;
    PlatformNetwork_DiagAnswer(Data, Size, &Sockets);
    Check(Sockets.size() <= Size / 88);
    for (const PlatformTcpEntry &Entry : Sockets) Check(Entry.LocalPort < 65536 && Entry.State < 256);
    for (const auto &[Key, Setting] : PlatformNetwork_ProxySettings(Text)) Check(Key.size() + Setting.size() <= Size);
    Check(PlatformNetwork_LeaseWpadURL(Text).size() <= Size);
    return 0;
}
