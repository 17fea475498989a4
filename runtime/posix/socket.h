// The least TCP transport: non-blocking IPv4 client sockets that the main
// loop ticks with zero-wait polls. Sends never raise SIGPIPE.
#pragma once

#include "runtime/types.h"

// Step results.
#define SOCKET_PENDING 0
#define SOCKET_READY 1
#define SOCKET_FAILED 2

// A resolved machine: its name and IPv4 address (four bytes in text order,
// first number first in memory, as the String IP helpers take it).
#define SOCKET_MACHINENAME_LENGTH 255
typedef struct MachineStruct {
    char Name[SOCKET_MACHINENAME_LENGTH + 1];
    uint32 Address;
} MachineStruct;

RUNTIME_EXTERN_C_BEGIN

// Resolves Host (AF_INET) and starts a non-blocking connect. 1 and the
// descriptor, or 0 with the platform error (an unresolved name gives
// EHOSTUNREACH-like ENOENT, refused connects ECONNREFUSED, and so on).
int32 Socket_Connect(const char *Host, int32 Port, int32 *Descriptor, int32 *Error);
// Whether the connect has finished: READY, PENDING or FAILED with the error.
int32 Socket_ConnectStep(int32 Descriptor, int32 *Error);
// Sends what the socket takes now; Sent may be 0. 0 with the error on failure.
int32 Socket_Send(int32 Descriptor, const void *Bytes, int32 Length, int32 *Sent, int32 *Error);
// Reads what is there: 1 with Received (0 when nothing yet), Closed set when
// the peer has closed; 0 with the error on failure.
int32 Socket_Receive(int32 Descriptor, void *Buffer, int32 Size, int32 *Received, int32 *Closed, int32 *Error);
int32 Socket_Close(int32 *Descriptor);
// The local and remote address of a connected socket, for error reports.
int32 Socket_GetRemoteAddress(int32 Descriptor, char *Address, int32 Size, int32 *Port);
// Fills Machine for Name: an empty Name means this host's own name; a dotted
// IPv4 address is taken as it stands, any other name is resolved and its
// first IPv4 answer taken. 1 when an IPv4 address was obtained; 0 (Address
// 0) for an unresolvable or over-long name.
int32 Socket_GetMachineByName(MachineStruct *Machine, const char *Name);

RUNTIME_EXTERN_C_END

RUNTIME_EXTERN_C_BEGIN
// Macro provider: "MachineName" (this host's name), "IntranetIP" (the IPv4
// address of the first interface that is up and not the loopback, dotted;
// "0.0.0.0" without one) and "MACAddress" (that interface's hardware
// address, "%.2X:...", six bytes). Names without case; 0 for any other.
int32 Socket_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);
RUNTIME_EXTERN_C_END
