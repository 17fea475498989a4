#include "tests/support/python.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/temp_root.h"

namespace {

// One word for the shell, whatever the text holds.
std::string ShellQuoted(const std::string &Text) {
    std::string Quoted = "'";
    for (char Character : Text) Quoted += Character == '\'' ? std::string("'\\''") : std::string(1, Character);
    return Quoted + "'";
}

} // namespace

std::string RunPython(const std::string &Script, const std::string &Input) {
    std::string ScriptPath = TempRoot() + "/runtime_test_py_XXXXXX";
    std::string InputPath = TempRoot() + "/runtime_test_in_XXXXXX";
    int ScriptFd = mkstemp(ScriptPath.data());
    int InputFd = ScriptFd >= 0 ? mkstemp(InputPath.data()) : -1;
    if (ScriptFd < 0 || InputFd < 0) {
        ADD_FAILURE() << "cannot create temporary files in " << TempRoot() << ": " << strerror(errno);
        if (ScriptFd >= 0) {
            close(ScriptFd);
            unlink(ScriptPath.c_str());
        }
        return "";
    }
    if (write(ScriptFd, Script.data(), Script.size()) != (ssize_t)Script.size() ||
        write(InputFd, Input.data(), Input.size()) != (ssize_t)Input.size())
        ADD_FAILURE() << "cannot write temporary files";
    close(ScriptFd);
    close(InputFd);
    std::string Command = ShellQuoted(RUNTIME_PYTHON) + " " + ShellQuoted(ScriptPath) + " < " + ShellQuoted(InputPath);
    FILE *Pipe = popen(Command.c_str(), "r");
    std::string Output;
    if (Pipe) {
        char Buffer[65536];
        size_t Count;
        while ((Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output.append(Buffer, Count);
        int Status = pclose(Pipe);
        if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) ADD_FAILURE() << "python failed:\n" << Script;
    } else {
        ADD_FAILURE() << "cannot start python";
    }
    unlink(ScriptPath.c_str());
    unlink(InputPath.c_str());
    return Output;
}

std::string ToHex(const std::string &Bytes) {
    static const char Digits[] = "0123456789abcdef";
    std::string Hex;
    Hex.reserve(Bytes.size() * 2);
    for (unsigned char C : Bytes) {
        Hex.push_back(Digits[C >> 4]);
        Hex.push_back(Digits[C & 15]);
    }
    return Hex;
}

std::string FromHex(const std::string &Hex) {
    std::string Bytes;
    for (size_t i = 0; i + 1 < Hex.size(); i += 2) Bytes.push_back((char)strtol(Hex.substr(i, 2).c_str(), nullptr, 16));
    return Bytes;
}
