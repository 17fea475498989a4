#include "tests/support/system.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

TempDirectory::TempDirectory() {
    const char *Parent = getenv("TMPDIR");
    std::string Template = std::string(Parent != nullptr && *Parent != 0 ? Parent : "/tmp") + "/" +
                           program_invocation_short_name + "_XXXXXX";
    if (mkdtemp(Template.data()) == nullptr) ADD_FAILURE() << "cannot make " << Template << ": " << strerror(errno);
    Path = Template;
}

TempDirectory::~TempDirectory() {
    std::string Command = "rm -rf '" + Path + "'";
    if (system(Command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << Path;
}

ScopedEnv::ScopedEnv(const char *Name, const char *Value) : Name(Name) {
    if (const char *Old = getenv(Name)) Saved = Old, HadValue = true;
    if (Value) setenv(Name, Value, 1);
    else unsetenv(Name);
}

ScopedEnv::~ScopedEnv() {
    if (HadValue) setenv(Name, Saved.c_str(), 1);
    else unsetenv(Name);
}

std::string SelfExecutable() {
    char Path[4096];
    ssize_t Count = readlink("/proc/self/exe", Path, sizeof(Path) - 1);
    return std::string(Path, Count > 0 ? (size_t)Count : 0);
}

std::string ReadFile(const std::string &Path) {
    std::ifstream Stream(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(Stream), {});
}

std::string CommandOutput(const std::string &Command) {
    std::string Output;
    if (FILE *Pipe = popen(Command.c_str(), "r")) {
        char Buffer[4096];
        size_t Count;
        while ((Count = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output.append(Buffer, Count);
        pclose(Pipe);
    }
    return Output;
}

const std::string Nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

std::string RunChildTest(const std::string &Filter, const std::string &Prefix) {
    return CommandOutput(Prefix + " " + SelfExecutable() + " --gtest_also_run_disabled_tests --gtest_filter=" + Filter +
                         " 2>&1");
}

bool FreeSpaceMatchesStatvfs(const std::string &Directory, const std::function<uint64_t()> &Read) {
    auto Statvfs = [&](uint64_t &Free) {
        struct statvfs Volume;
        if (statvfs(Directory.c_str(), &Volume) != 0) return false;
        Free = (uint64_t)Volume.f_bavail * Volume.f_frsize;
        return true;
    };
    for (int Attempt = 0; Attempt < 50; Attempt++) {
        uint64_t Before = 0, After = 0;
        if (!Statvfs(Before)) return false;
        uint64_t Value = Read();
        if (!Statvfs(After)) return false;
        if (std::min(Before, After) <= Value && Value <= std::max(Before, After)) return true;
    }
    return false;
}
