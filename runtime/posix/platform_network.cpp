// Network facts: see platform_network.h.
#include <arpa/inet.h>
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
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

// A socket address in the diagnostics' compared form (IPv4 mapped into IPv6).
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

bool IsMapped(const uint8 *Address) {
    static const uint8 Prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return memcmp(Address, Prefix, 12) == 0;
}

bool IsWildcard(const uint8 *Address) {
    static const uint8 Any6[16] = {};
    static const uint8 Any4[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0, 0, 0};
    return memcmp(Address, Any6, 16) == 0 || memcmp(Address, Any4, 16) == 0;
}

inet_diag_req_v2 TcpRequest(int Family) {
    inet_diag_req_v2 Request{};
    Request.sdiag_family = (uint8)Family;
    Request.sdiag_protocol = IPPROTO_TCP;
    Request.id.idiag_cookie[0] = Request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return Request;
}

// One question to the kernel's socket diagnostics and its whole answer: a
// single message for one socket, parts up to a closing one for a listing.
// The kernel answers while it is asked, so the wait is bounded only as a
// guard. Nobody but the kernel can send to this socket (other users may not
// write to a diagnostics socket); its sender is checked all the same.
bool Ask(const inet_diag_req_v2 &Request, bool Listing, std::vector<PlatformTcpEntry> *Entries) {
    const int Fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (Fd < 0) {
        // Every peer is refused from now on: said once, with why.
        static std::atomic<bool> Said{false};
        if (!Said.exchange(true))
            Log_Error("The kernel's socket diagnostics cannot be asked (errno %d): no peer's owner is known\n", errno);
        return false;
    }
    const timeval Guard{2, 0};
    setsockopt(Fd, SOL_SOCKET, SO_RCVTIMEO, &Guard, sizeof(Guard));
    struct {
        nlmsghdr Header;
        inet_diag_req_v2 Body;
    } Message{};
    Message.Header.nlmsg_len = sizeof(Message);
    Message.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    Message.Header.nlmsg_flags = (uint16)(NLM_F_REQUEST | (Listing ? NLM_F_DUMP : 0));
    Message.Header.nlmsg_seq = 1;
    Message.Body = Request;
    sockaddr_nl Kernel{};
    Kernel.nl_family = AF_NETLINK;
    int32 Result = -1;
    if (sendto(Fd, &Message, sizeof(Message), 0, reinterpret_cast<sockaddr *>(&Kernel), sizeof(Kernel)) ==
        (ssize_t)sizeof(Message)) {
        // The kernel fills a listing's parts up to 32 KB for a reader that
        // offers that much.
        std::vector<uint8> Buffer(32768);
        for (Result = 0; Result == 0;) {
            sockaddr_nl From{};
            socklen_t Size = sizeof(From);
            const ssize_t Got = recvfrom(Fd, Buffer.data(), Buffer.size(), MSG_TRUNC,
                                         reinterpret_cast<sockaddr *>(&From), &Size);
            if (Got < 0 && errno == EINTR) continue;
            if (Got <= 0 || (size_t)Got > Buffer.size() || From.nl_pid != 0) {
                Result = -1;
                break;
            }
            Result = PlatformNetwork_DiagAnswer(Buffer.data(), (size_t)Got, Entries);
            if (Result == 0 && !Listing) Result = 1;
        }
    }
    close(Fd);
    return Result > 0;
}

// The owner of the listener that took a connection to Peer: a listener on
// Peer's very address takes it before any wildcard one (and listeners that
// share an address and port share their owner); failing that, every
// wildcard listener on the port must have one owner. The kernel lists only
// the listeners on that port, of either family.
int32 ListenerUid(const Endpoint &Peer, uint32 *OutUid) {
    std::vector<PlatformTcpEntry> Entries;
    for (int Family : {AF_INET, AF_INET6}) {
        inet_diag_req_v2 Request = TcpRequest(Family);
        Request.idiag_states = 1u << TcpListening;
        Request.id.idiag_sport = htons((uint16)Peer.Port);
        if (!Ask(Request, true, &Entries)) return 0;
    }
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

int32 PlatformNetwork_DiagAnswer(const uint8 *Bytes, size_t Size, std::vector<PlatformTcpEntry> *Entries) {
    for (size_t At = 0; Size - At >= NLMSG_HDRLEN;) {
        nlmsghdr Header;
        memcpy(&Header, Bytes + At, sizeof(Header));
        if (Header.nlmsg_len < NLMSG_HDRLEN || Header.nlmsg_len > Size - At) return -1;
        const uint8 *Body = Bytes + At + NLMSG_HDRLEN;
        const size_t BodySize = Header.nlmsg_len - NLMSG_HDRLEN;
        int Error = 0;
        switch (Header.nlmsg_type) {
        case NLMSG_DONE:
            if (BodySize >= sizeof(Error)) memcpy(&Error, Body, sizeof(Error));
            return Error < 0 ? -1 : 1;
        case NLMSG_ERROR:
            // No socket of that address and port pair is an answer too.
            if (BodySize < sizeof(Error)) return -1;
            memcpy(&Error, Body, sizeof(Error));
            return Error == 0 || Error == -ENOENT ? 1 : -1;
        case SOCK_DIAG_BY_FAMILY: {
            inet_diag_msg Message;
            if (BodySize < sizeof(Message)) return -1;
            memcpy(&Message, Body, sizeof(Message));
            PlatformTcpEntry Entry{};
            if (Message.idiag_family == AF_INET) {
                Entry.Local[10] = Entry.Local[11] = Entry.Remote[10] = Entry.Remote[11] = 0xff;
                memcpy(Entry.Local + 12, Message.id.idiag_src, 4);
                memcpy(Entry.Remote + 12, Message.id.idiag_dst, 4);
            } else if (Message.idiag_family == AF_INET6) {
                memcpy(Entry.Local, Message.id.idiag_src, 16);
                memcpy(Entry.Remote, Message.id.idiag_dst, 16);
            } else {
                return -1;
            }
            Entry.LocalPort = ntohs(Message.id.idiag_sport);
            Entry.RemotePort = ntohs(Message.id.idiag_dport);
            Entry.State = Message.idiag_state;
            Entry.Uid = Message.idiag_uid;
            Entry.Inode = Message.idiag_inode;
            Entries->push_back(Entry);
            break;
        }
        default: return -1;
        }
        const size_t Step = NLMSG_ALIGN(Header.nlmsg_len);
        if (Step >= Size - At) break;
        At += Step;
    }
    return 0;
}

// The peer's socket is asked for by its own address and port pair (ours
// reversed), so the answer costs the same however many sockets the machine
// holds. The kernel answers such a question with the listener on that
// address when the connection itself is gone: only the established
// connection of exactly these ends counts.
extern "C" int32 Platform_GetTcpPeerUid(int32 Socket, uint32 *OutUid) {
    Debug_CheckPointer(OutUid);
    *OutUid = 0;
    Endpoint Own, Peer;
    if (!Ends(Socket, &Own, &Peer)) return 0;
    const bool Four = IsMapped(Own.Address) && IsMapped(Peer.Address);
    inet_diag_req_v2 Request = TcpRequest(Four ? AF_INET : AF_INET6);
    Request.idiag_states = ~0u;
    Request.id.idiag_sport = htons((uint16)Peer.Port);
    Request.id.idiag_dport = htons((uint16)Own.Port);
    memcpy(Request.id.idiag_src, Four ? Peer.Address + 12 : Peer.Address, Four ? 4 : 16);
    memcpy(Request.id.idiag_dst, Four ? Own.Address + 12 : Own.Address, Four ? 4 : 16);
    std::vector<PlatformTcpEntry> Entries;
    if (!Ask(Request, false, &Entries)) return 0;
    for (const PlatformTcpEntry &Entry : Entries)
        if (Entry.State == TcpEstablished && Entry.LocalPort == Peer.Port && Entry.RemotePort == Own.Port &&
            memcmp(Entry.Local, Peer.Address, 16) == 0 && memcmp(Entry.Remote, Own.Address, 16) == 0) {
            // Not accepted yet (no inode) and shown as root: older kernels
            // show root for every such connection, so the listener decides.
            if (Entry.Uid == 0 && Entry.Inode == 0) return ListenerUid(Peer, OutUid);
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
