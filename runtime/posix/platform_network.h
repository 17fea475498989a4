// Network facts: what the network transport asks of the operating system.
// Text answers are copied into the caller's buffer (cut to fit, always
// terminated).
//
// Linux sources: name servers from the resolver configuration (res_ninit,
// i.e. /etc/resolv.conf); adapters from getifaddrs, with hardware address
// and flags from the interface's link-layer entry and the gateway from the
// default route of the routing table; the owner of a local TCP endpoint from
// /proc/net/tcp and the processes' descriptors; the user owning either end
// of a loopback TCP connection from the kernel's socket diagnostics
// (netlink), asked about that one socket. Roots and files are steered
// through the stand-in seam (platform_stand_in.h).
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// One network adapter (an IPv4 address of an interface).
typedef struct PlatformAdapter {
    char Name[260];
    char Description[132];
    uint32 Address;        // network order, as in the socket module
    char AddressText[32];
    uint32 Gateway;
    char GatewayText[32];
    uint32 Mask;
    char MaskText[32];
    uint8 HardwareAddress[6];
    int32 Up;
    int32 HasHardwareAddress;
    int32 Loopback;
    int32 Always;          // always 1
    int32 LinkTypeBit;     // low bit of the link-layer type (Ethernet 6, loopback 24)
} PlatformAdapter;

// ---- Network facts ----

// The first and second name servers as dotted text (Secondary empty when
// there is one only); 0 when the resolver lists none.
int32 Platform_GetDNS(char *Primary, char *Secondary);
// The Index-th IPv4 address of the interfaces (Kind above 0: 0). 0 when the
// list runs out.
int32 Platform_GetAdapterByIndex(int32 Index, int32 Kind, PlatformAdapter *Out);
// The process with an IPv4 TCP socket bound to Address (network order) and
// Port; 0 when none.
int32 Platform_GetSocketPID(uint32 Address, int32 Port, int32 *OutPid);

// ---- Who holds the other end of a local TCP connection ----
// These ask the kernel itself (never a steered root): they decide whom a
// peer on this machine is trusted as. Each asks about one socket (or the
// listeners on one port), never reads the whole tables, so its cost does
// not grow with the sockets the machine holds.

// The user owning the socket at the other end of the connected TCP socket
// Socket: the established entry whose local address and port are our
// peer's and whose remote ones are ours (IPv4, or IPv6 with mapped IPv4).
// For a connection this process made, that is the socket its listener
// accepted (or will accept) it on, so it names the listener of this very
// connection whatever else listens on that port. A connection not accepted
// yet that shows root (older kernels show root until the accept) is
// answered by the listener on the peer's very address, else by the
// wildcard listeners on its port when they have one owner. 0 when there is
// none (the peer is not on this machine, or it closed) or it is not known.
int32 Platform_GetTcpPeerUid(int32 Socket, uint32 *OutUid);
// The user who had this process started through an elevator: while the real
// user is root, PKEXEC_UID, else SUDO_UID; otherwise (or when neither holds
// a number) the real user.
uint32 Platform_GetLauncherUid(void);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <map>
#include <string>
#include <string_view>
#include <vector>
// Parsers of the system files, shared with the fuzz targets.
// IPv4 name servers of a resolv.conf text, in order.
std::vector<std::string> PlatformNetwork_NameServers(std::string_view Text);
// The gateway (network order) of the default route through Interface in a
// /proc/net/route text; 0 when there is none.
uint32 PlatformNetwork_DefaultGateway(std::string_view Text, std::string_view Interface);
// The socket inode of the entry with this local IPv4 address (network order)
// and port in a /proc/net/tcp text; 0 when none.
uint64 PlatformNetwork_TcpInode(std::string_view Text, uint32 Address, int32 Port);
// One socket as the kernel's socket diagnostics describe it; IPv4
// addresses in their IPv6-mapped form (::ffff:a.b.c.d), so both families
// compare alike.
struct PlatformTcpEntry {
    uint8 Local[16];
    int32 LocalPort;
    uint8 Remote[16];
    int32 RemotePort;
    int32 State; // the kernel's TCP state: 1 established, 10 listening
    uint32 Uid;
    uint64 Inode; // 0 for a connection not accepted yet
};
// Adds the sockets of one datagram of a socket-diagnostics answer to
// Entries: 1 when the answer ends there (its closing part, or an error
// saying there is no such socket), 0 when more parts may follow, -1 when
// the kernel refused or the bytes are no such answer.
int32 PlatformNetwork_DiagAnswer(const uint8 *Bytes, size_t Size, std::vector<PlatformTcpEntry> *Entries);
#endif
