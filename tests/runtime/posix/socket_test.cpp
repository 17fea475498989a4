// Name resolution against Python's socket.gethostbyname (the same system
// resolver) for the local host, a numeric name, this host's own name and a
// name that cannot resolve.
#include "runtime/posix/socket.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/text/string.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

TEST(Socket, GetMachineByNameMatchesPython) {
    RuntimeScope Scope;
    const char *const Names[] = {"localhost", "192.0.2.17", "", "no-such-host.invalid"};
    std::string Input;
    for (const char *Name : Names) Input += std::string(Name) + "\n";
    std::string Expected = RunPython(R"(
import sys, socket
for name in sys.stdin.read().split('\n')[:-1]:
    try:
        print(socket.gethostname() if name == '' else name, socket.gethostbyname(name or socket.gethostname()))
    except OSError:
        print(name, '-')
)", Input);
    std::string Actual;
    for (const char *Name : Names) {
        MachineStruct Machine;
        char Text[48] = "-";
        if (Socket_GetMachineByName(&Machine, Name)) {
            String_ConvertFromIP(&Machine.Address, 0, Text, sizeof(Text));
        } else {
            EXPECT_EQ(Machine.Address, 0u) << Name;
        }
        Actual += std::string(Machine.Name) + " " + Text + "\n";
    }
    EXPECT_EQ(Actual, Expected);
}

TEST(Socket, GetMachineByNameRefusesOverLongNames) {
    RuntimeScope Scope;
    MachineStruct Machine;
    const std::string Longest(SOCKET_MACHINENAME_LENGTH, '1');
    EXPECT_FALSE(Socket_GetMachineByName(&Machine, (Longest + "1").c_str()));
    EXPECT_STREQ(Machine.Name, "");
    EXPECT_FALSE(Socket_GetMachineByName(&Machine, Longest.c_str())); // fits, but names nothing
    EXPECT_EQ(Machine.Name, Longest);
}

} // namespace
