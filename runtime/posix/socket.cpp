// POSIX TCP for the least transport (see runtime/posix/socket.h).
#include "runtime/posix/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/log.h"
#include "runtime/posix/platform_network.h"
#include "runtime/text/string_print.h"
#include "runtime/text/string.h"

int32 Socket_Connect(const char *Host, int32 Port, int32 *Descriptor, int32 *Error) {
    Debug_CheckPointer(Host);
    Debug_CheckPointer(Descriptor);
    Debug_CheckPointer(Error);
    *Descriptor = -1;
    *Error = 0;
    if (Port <= 0 || Port > 65535) {
        *Error = EINVAL;
        return FALSE;
    }
    addrinfo Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo *Found = nullptr;
    int Code = getaddrinfo(Host, nullptr, &Hints, &Found);
    if (Code != 0 || Found == nullptr) {
        Log_Error("Unable to resolve host (%s): %s\n", Host, gai_strerror(Code));
        *Error = Code == EAI_SYSTEM ? errno : EHOSTUNREACH;
        if (Found != nullptr) freeaddrinfo(Found);
        return FALSE;
    }
    sockaddr_in Address{};
    memcpy(&Address, Found->ai_addr, sizeof(Address));
    freeaddrinfo(Found);
    Address.sin_port = htons((uint16_t)Port);
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) {
        *Error = errno;
        return FALSE;
    }
    int One = 1;
    setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof(One));
    if (connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)) != 0 && errno != EINPROGRESS) {
        *Error = errno;
        close(Fd);
        return FALSE;
    }
    *Descriptor = Fd;
    return TRUE;
}

int32 Socket_ConnectStep(int32 Descriptor, int32 *Error) {
    Debug_CheckPointer(Error);
    pollfd Poll{Descriptor, POLLOUT, 0};
    int Count = poll(&Poll, 1, 0);
    if (Count < 0) {
        *Error = errno;
        return SOCKET_FAILED;
    }
    if (Count == 0) return SOCKET_PENDING;
    int Code = 0;
    socklen_t Length = sizeof(Code);
    if (getsockopt(Descriptor, SOL_SOCKET, SO_ERROR, &Code, &Length) != 0) Code = errno;
    *Error = Code;
    return Code == 0 ? SOCKET_READY : SOCKET_FAILED;
}

int32 Socket_Send(int32 Descriptor, const void *Bytes, int32 Length, int32 *Sent, int32 *Error) {
    Debug_CheckPointer(Sent);
    Debug_CheckPointer(Error);
    *Sent = 0;
    *Error = 0;
    if (Length <= 0) return TRUE;
    ssize_t Count = send(Descriptor, Bytes, (size_t)Length, MSG_NOSIGNAL);
    if (Count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return TRUE;
        *Error = errno;
        return FALSE;
    }
    *Sent = (int32)Count;
    return TRUE;
}

int32 Socket_Receive(int32 Descriptor, void *Buffer, int32 Size, int32 *Received, int32 *Closed, int32 *Error) {
    Debug_CheckPointer(Received);
    Debug_CheckPointer(Closed);
    Debug_CheckPointer(Error);
    *Received = 0;
    *Closed = 0;
    *Error = 0;
    ssize_t Count = recv(Descriptor, Buffer, (size_t)Size, MSG_DONTWAIT);
    if (Count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return TRUE;
        *Error = errno;
        return FALSE;
    }
    if (Count == 0) *Closed = 1;
    *Received = (int32)Count;
    return TRUE;
}

int32 Socket_Close(int32 *Descriptor) {
    Debug_CheckPointer(Descriptor);
    if (*Descriptor >= 0) close(*Descriptor);
    *Descriptor = -1;
    return TRUE;
}

int32 Socket_GetRemoteAddress(int32 Descriptor, char *Address, int32 Size, int32 *Port) {
    Debug_CheckPointer(Address);
    Debug_CheckPointer(Port);
    sockaddr_in Peer{};
    socklen_t Length = sizeof(Peer);
    if (getpeername(Descriptor, reinterpret_cast<sockaddr *>(&Peer), &Length) != 0) return FALSE;
    if (inet_ntop(AF_INET, &Peer.sin_addr, Address, (socklen_t)Size) == nullptr) return FALSE;
    *Port = ntohs(Peer.sin_port);
    return TRUE;
}

int32 Socket_GetMachineByName(MachineStruct *Machine, const char *Name) {
    Debug_CheckPointer(Machine);
    Debug_CheckPointer(Name);
    memset(Machine, 0, sizeof(*Machine));
    if (Name[0] == 0) {
        if (gethostname(Machine->Name, sizeof(Machine->Name) - 1) != 0) return 0;
    } else if (strlen(Name) > SOCKET_MACHINENAME_LENGTH) {
        return 0;
    } else {
        strcpy(Machine->Name, Name);
    }
    in_addr Numeric{};
    if (inet_pton(AF_INET, Machine->Name, &Numeric) == 1) {
        memcpy(&Machine->Address, &Numeric, sizeof(Machine->Address));
        return 1;
    }
    addrinfo Hints{}, *Found = nullptr;
    Hints.ai_family = AF_INET;
    if (getaddrinfo(Machine->Name, nullptr, &Hints, &Found) != 0 || Found == nullptr) return 0;
    memcpy(&Machine->Address, &reinterpret_cast<sockaddr_in *>(Found->ai_addr)->sin_addr, sizeof(Machine->Address));
    freeaddrinfo(Found);
    return 1;
}

int32 Socket_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    (void)Argument;
    Debug_CheckPointer(Name);
    bool Machine = String_CompareWithoutCase(Name, "MachineName") == 1;
    bool Address = String_CompareWithoutCase(Name, "IntranetIP") == 1;
    bool Hardware = String_CompareWithoutCase(Name, "MACAddress") == 1;
    if (!Machine && !Address && !Hardware) return FALSE;
    if (Machine) {
        char Host[SOCKET_MACHINENAME_LENGTH + 1] = "";
        if (gethostname(Host, sizeof(Host) - 1) != 0) Host[0] = 0;
        String_CopyLength(Output, Host, Size);
        return TRUE;
    }
    PlatformAdapter Chosen{};
    bool Found = false;
    for (int32 Index = 0; !Found && Index < 256; Index++) {
        PlatformAdapter Each{};
        if (!Platform_GetAdapterByIndex(Index, 0, &Each)) break;
        if (Each.Up && !Each.Loopback) {
            Chosen = Each;
            Found = true;
        }
    }
    uint8 *Bytes = Chosen.HardwareAddress;
    if (Address) String_Print(Output, Size, "%s", Found ? Chosen.AddressText : "0.0.0.0");
    else String_Print(Output, Size, "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", Bytes[0], Bytes[1], Bytes[2], Bytes[3], Bytes[4], Bytes[5]);
    return TRUE;
}
