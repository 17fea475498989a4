// Network facts: see platform_network.h.
#include <arpa/inet.h>
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_network.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/posix/system_text.h"
#include "runtime/text/url.h"

namespace {

using namespace SystemText;

constexpr size_t FileLimit = 4 << 20;

bool ReadFile(const std::string &Path, std::string &Text) { return PlatformStandIn_ReadFile(Path, Text, FileLimit); }

std::string AddressText(uint32 Address) {
    char Text[INET_ADDRSTRLEN] = {};
    in_addr Value{Address};
    inet_ntop(AF_INET, &Value, Text, sizeof(Text));
    return Text;
}

} // namespace

std::vector<std::string> PlatformNetwork_NameServers(std::string_view Text) {
    std::vector<std::string> Servers;
    Lines(Text, [&](std::string_view Line) {
        std::vector<std::string_view> Parts = Fields(Line);
        if (Parts.size() < 2 || Parts[0] != "nameserver" || Parts[1].size() >= INET_ADDRSTRLEN) return;
        const std::string Address(Parts[1]);
        in_addr Value;
        if (inet_pton(AF_INET, Address.c_str(), &Value) == 1) Servers.push_back(AddressText(Value.s_addr));
    });
    return Servers;
}

uint32 PlatformNetwork_DefaultGateway(std::string_view Text, std::string_view Interface) {
    uint32 Gateway = 0;
    bool First = true;
    Lines(Text, [&](std::string_view Line) {
        if (First) { // the header
            First = false;
            return;
        }
        std::vector<std::string_view> Parts = Fields(Line);
        uint64 Destination = 0, Via = 0, Flags = 0, Mask = 0;
        if (Gateway != 0 || Parts.size() < 8 || Parts[0] != Interface || !ParseHex(Parts[1], Destination) ||
            !ParseHex(Parts[2], Via) || !ParseHex(Parts[3], Flags) || !ParseHex(Parts[7], Mask))
            return;
        // A default route (0.0.0.0/0) that is up and goes through a gateway.
        if (Destination == 0 && Mask == 0 && (Flags & 0x3) == 0x3) Gateway = (uint32)Via;
    });
    return Gateway;
}

uint64 PlatformNetwork_TcpInode(std::string_view Text, uint32 Address, int32 Port) {
    uint64 Inode = 0;
    Lines(Text, [&](std::string_view Line) {
        std::vector<std::string_view> Parts = Fields(Line);
        if (Inode != 0 || Parts.size() < 10) return;
        const size_t Colon = Parts[1].find(':');
        uint64 Local = 0, LocalPort = 0, Value = 0;
        if (Colon == std::string_view::npos || !ParseHex(Parts[1].substr(0, Colon), Local) ||
            !ParseHex(Parts[1].substr(Colon + 1), LocalPort))
            return;
        // The kernel prints the address as the 32-bit word in memory order.
        if ((uint32)Local != Address || (int32)LocalPort != Port || !ParseDecimal(Parts[9], UINT64_MAX, Value)) return;
        Inode = Value;
    });
    return Inode;
}

namespace {

// "ADDRESS:PORT" as the socket tables print it: the address as 32-bit words
// in memory order (one for IPv4, four for IPv6), the port in hexadecimal.
bool ParseTableAddress(std::string_view Text, bool V6, uint8 *Address, int32 *Port) {
    const size_t Colon = Text.find(':');
    const size_t Words = V6 ? 4 : 1;
    uint64 Value = 0;
    if (Colon != Words * 8 || !ParseHex(Text.substr(Colon + 1), Value) || Value > 65535) return false;
    *Port = (int32)Value;
    uint8 Bytes[16] = {};
    for (size_t Word = 0; Word < Words; Word++) {
        uint64 Part = 0;
        if (!ParseHex(Text.substr(Word * 8, 8), Part)) return false;
        const uint32 Memory = (uint32)Part;
        memcpy(Bytes + Word * 4, &Memory, 4);
    }
    if (V6) {
        memcpy(Address, Bytes, 16);
    } else {
        memset(Address, 0, 10);
        Address[10] = Address[11] = 0xff;
        memcpy(Address + 12, Bytes, 4);
    }
    return true;
}

} // namespace

std::vector<PlatformTcpEntry> PlatformNetwork_TcpEntries(std::string_view Text, bool V6) {
    std::vector<PlatformTcpEntry> Entries;
    Lines(Text, [&](std::string_view Line) {
        std::vector<std::string_view> Parts = Fields(Line);
        PlatformTcpEntry Entry{};
        uint64 State = 0, Uid = 0, Inode = 0;
        if (Parts.size() < 10 || !ParseTableAddress(Parts[1], V6, Entry.Local, &Entry.LocalPort) ||
            !ParseTableAddress(Parts[2], V6, Entry.Remote, &Entry.RemotePort) || !ParseHex(Parts[3], State) ||
            State > 255 || Parts[7].size() > 10 || !ParseDecimal(Parts[7], UINT32_MAX, Uid) ||
            Parts[9].size() > 20 || !ParseDecimal(Parts[9], UINT64_MAX, Inode))
            return;
        Entry.State = (int32)State;
        Entry.Uid = (uint32)Uid;
        Entry.Inode = Inode;
        Entries.push_back(Entry);
    });
    return Entries;
}

extern "C" int32 Platform_GetDNS(char *Primary, char *Secondary) {
    Debug_CheckPointer(Primary);
    Debug_CheckPointer(Secondary);
    constexpr int32 Size = INET_ADDRSTRLEN;
    Primary[0] = Secondary[0] = 0;
    std::vector<std::string> Servers;
    const std::string Steered = PlatformStandIn_Value("RESOLV_CONF", "");
    if (!Steered.empty()) {
        std::string Text;
        if (ReadFile(Steered, Text)) Servers = PlatformNetwork_NameServers(Text);
    } else {
        struct __res_state State {};
        if (res_ninit(&State) != 0) return 0;
        for (int Index = 0; Index < State.nscount; Index++)
            if (State.nsaddr_list[Index].sin_family == AF_INET)
                Servers.push_back(AddressText(State.nsaddr_list[Index].sin_addr.s_addr));
        res_nclose(&State);
    }
    if (Servers.empty()) return 0;
    Copy(Servers[0], Primary, Size);
    if (Servers.size() > 1) Copy(Servers[1], Secondary, Size);
    return 1;
}

extern "C" int32 Platform_GetAdapterByIndex(int32 Index, int32 Kind, PlatformAdapter *Out) {
    Debug_CheckPointer(Out);
    memset(Out, 0, sizeof(*Out));
    if (Kind > 0 || Index < 0) return 0;
    ifaddrs *List = nullptr;
    if (getifaddrs(&List) != 0) return 0;
    std::string Routes;
    ReadFile(PlatformStandIn_Value("PROC_ROOT", "/proc") + "/net/route", Routes);
    int32 Seen = 0, Result = 0;
    for (ifaddrs *Entry = List; Entry != nullptr && !Result; Entry = Entry->ifa_next) {
        if (Entry->ifa_addr == nullptr || Entry->ifa_addr->sa_family != AF_INET) continue;
        // The link-layer entry of the same interface: without it the next
        // address takes this index.
        const sockaddr_ll *Link = nullptr;
        for (ifaddrs *Other = List; Other != nullptr && Link == nullptr; Other = Other->ifa_next)
            if (Other->ifa_addr != nullptr && Other->ifa_addr->sa_family == AF_PACKET &&
                strcmp(Other->ifa_name, Entry->ifa_name) == 0)
                Link = reinterpret_cast<const sockaddr_ll *>(Other->ifa_addr);
        if (Link == nullptr || Seen++ != Index) continue;
        Copy(Entry->ifa_name, Out->Name, sizeof(Out->Name));
        Out->Address = reinterpret_cast<sockaddr_in *>(Entry->ifa_addr)->sin_addr.s_addr;
        Out->Mask = Entry->ifa_netmask ? reinterpret_cast<sockaddr_in *>(Entry->ifa_netmask)->sin_addr.s_addr : 0;
        Out->Gateway = PlatformNetwork_DefaultGateway(Routes, Entry->ifa_name);
        Copy(AddressText(Out->Address), Out->AddressText, sizeof(Out->AddressText));
        Copy(AddressText(Out->Mask), Out->MaskText, sizeof(Out->MaskText));
        if (Out->Gateway != 0) Copy(AddressText(Out->Gateway), Out->GatewayText, sizeof(Out->GatewayText));
        if (Link->sll_halen == 6) memcpy(Out->HardwareAddress, Link->sll_addr, 6);
        for (uint8 Byte : Out->HardwareAddress) Out->HasHardwareAddress |= Byte != 0;
        Out->Up = (Entry->ifa_flags & IFF_UP) != 0;
        Out->Loopback = (Entry->ifa_flags & IFF_LOOPBACK) != 0;
        Out->Always = 1;
        // The link types as the socket module knows them (Ethernet 6, loopback 24).
        const int32 Type = Link->sll_hatype == ARPHRD_ETHER      ? 6
                           : Link->sll_hatype == ARPHRD_LOOPBACK ? 24
                                                                 : (int32)Link->sll_hatype;
        Out->LinkTypeBit = Type & 1;
        Result = 1;
    }
    freeifaddrs(List);
    return Result;
}

extern "C" int32 Platform_GetSocketPID(uint32 Address, int32 Port, int32 *OutPid) {
    Debug_CheckPointer(OutPid);
    *OutPid = 0;
    const std::string Proc = PlatformStandIn_Value("PROC_ROOT", "/proc");
    std::string Table;
    if (!ReadFile(Proc + "/net/tcp", Table)) {
        Log_Debug("Error getting pid list size: %d\n", errno);
        return 0;
    }
    const uint64 Inode = PlatformNetwork_TcpInode(Table, Address, Port);
    if (Inode == 0) return 0;
    const std::string Wanted = "socket:[" + std::to_string(Inode) + "]";
    DIR *Processes = opendir(Proc.c_str());
    if (Processes == nullptr) {
        Log_Debug("Error getting proc list: %d\n", errno);
        return 0;
    }
    while (dirent *Entry = readdir(Processes)) {
        if (!isdigit((unsigned char)Entry->d_name[0])) continue;
        const std::string Folder = Proc + "/" + Entry->d_name + "/fd";
        DIR *Descriptors = opendir(Folder.c_str());
        if (Descriptors == nullptr) continue; // gone, or not ours to see
        while (dirent *Link = readdir(Descriptors)) {
            char Target[64];
            const ssize_t Count = readlink((Folder + "/" + Link->d_name).c_str(), Target, sizeof(Target) - 1);
            if (Count <= 0 || std::string_view(Target, (size_t)Count) != Wanted) continue;
            *OutPid = atoi(Entry->d_name);
            break;
        }
        closedir(Descriptors);
        if (*OutPid != 0) break;
    }
    closedir(Processes);
    return *OutPid != 0;
}

namespace {

constexpr int32 TcpEstablished = 1;
constexpr int32 TcpListening = 10;

struct Endpoint {
    uint8 Address[16] = {};
    int32 Port = 0;
};

// A socket address in the tables' form (IPv4 mapped into IPv6).
bool FromSocketAddress(const sockaddr_storage &Storage, Endpoint *Out) {
    if (Storage.ss_family == AF_INET) {
        const auto *Four = reinterpret_cast<const sockaddr_in *>(&Storage);
        Out->Address[10] = Out->Address[11] = 0xff;
        memcpy(Out->Address + 12, &Four->sin_addr, 4);
        Out->Port = ntohs(Four->sin_port);
        return true;
    }
    if (Storage.ss_family == AF_INET6) {
        const auto *Six = reinterpret_cast<const sockaddr_in6 *>(&Storage);
        memcpy(Out->Address, &Six->sin6_addr, 16);
        Out->Port = ntohs(Six->sin6_port);
        return true;
    }
    return false;
}

bool Ends(int32 Socket, Endpoint *Own, Endpoint *Peer) {
    sockaddr_storage Storage{};
    socklen_t Size = sizeof(Storage);
    if (getsockname(Socket, reinterpret_cast<sockaddr *>(&Storage), &Size) != 0 || !FromSocketAddress(Storage, Own))
        return false;
    Storage = {};
    Size = sizeof(Storage);
    return getpeername(Socket, reinterpret_cast<sockaddr *>(&Storage), &Size) == 0 && FromSocketAddress(Storage, Peer);
}

// Both socket tables, read straight from the kernel. A table that cannot be
// read leaves the answer unknown, so the callers refuse.
bool SocketTables(std::vector<PlatformTcpEntry> *Entries) {
    constexpr size_t TableLimit = 64 << 20;
    bool Read = false;
    for (bool V6 : {false, true}) {
        std::string Text;
        if (!PlatformStandIn_ReadFile(V6 ? "/proc/net/tcp6" : "/proc/net/tcp", Text, TableLimit)) continue;
        Read = true;
        std::vector<PlatformTcpEntry> Found = PlatformNetwork_TcpEntries(Text, V6);
        Entries->insert(Entries->end(), Found.begin(), Found.end());
    }
    return Read;
}


bool IsWildcard(const uint8 *Address) {
    static const uint8 Any6[16] = {};
    static const uint8 Any4[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0};
    return memcmp(Address, Any6, 16) == 0 || memcmp(Address, Any4, 16) == 0;
}

// The owner of the listener that took a connection to Peer: a listener on
// Peer's very address takes it before any wildcard one (and listeners that
// share an address and port share their owner); failing that, every
// wildcard listener on the port must have one owner.
int32 ListenerUid(const std::vector<PlatformTcpEntry> &Entries, const Endpoint &Peer, uint32 *OutUid) {
    for (bool Exact : {true, false}) {
        int32 Found = 0;
        for (const PlatformTcpEntry &Entry : Entries) {
            if (Entry.State != TcpListening || Entry.LocalPort != Peer.Port ||
                (Exact ? memcmp(Entry.Local, Peer.Address, 16) != 0 : !IsWildcard(Entry.Local)))
                continue;
            if (Found && Entry.Uid != *OutUid) {
                *OutUid = 0;
                return 0;
            }
            *OutUid = Entry.Uid;
            Found = 1;
        }
        if (Found) return 1;
    }
    return 0;
}

} // namespace

extern "C" int32 Platform_GetTcpPeerUid(int32 Socket, uint32 *OutUid) {
    Debug_CheckPointer(OutUid);
    *OutUid = 0;
    Endpoint Own, Peer;
    std::vector<PlatformTcpEntry> Entries;
    if (!Ends(Socket, &Own, &Peer) || !SocketTables(&Entries)) return 0;
    for (const PlatformTcpEntry &Entry : Entries)
        if (Entry.State == TcpEstablished && Entry.LocalPort == Peer.Port && Entry.RemotePort == Own.Port &&
            memcmp(Entry.Local, Peer.Address, 16) == 0 && memcmp(Entry.Remote, Own.Address, 16) == 0) {
            // Not accepted yet (no inode) and shown as root: older kernels
            // show root for every such connection, so the listener decides.
            if (Entry.Uid == 0 && Entry.Inode == 0) return ListenerUid(Entries, Peer, OutUid);
            *OutUid = Entry.Uid;
            return 1;
        }
    return 0;
}

extern "C" uint32 Platform_GetLauncherUid(void) {
    const uid_t Real = getuid();
    if (Real != 0) return (uint32)Real;
    for (const char *Name : {"PKEXEC_UID", "SUDO_UID"}) {
        char Text[16] = "";
        if (!Platform_GetEnvironmentVariable(Name, Text, (int32)sizeof(Text)) || Text[0] == 0) continue;
        uint64 Value = 0;
        if (strlen(Text) <= 10 && ParseDecimal(Text, UINT32_MAX - 1, Value)) return (uint32)Value;
    }
    return 0;
}
