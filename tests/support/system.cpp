#include "tests/support/system.h"

#include <errno.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

TempDirectory::TempDirectory() {
    std::string Template = std::string("/tmp/") + program_invocation_short_name + "_XXXXXX";
    Path = mkdtemp(Template.data());
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
