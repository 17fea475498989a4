#include "tests/support/system.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <gtest/gtest.h>

namespace {

std::string TmpdirOrTmp() {
    const char *Parent = getenv("TMPDIR");
    return Parent != nullptr && *Parent != 0 ? Parent : "/tmp";
}

// Whether a user who is neither owner nor group of any folder on the way can
// enter Folder.
bool EveryUserEnters(const std::string &Folder) {
    char Resolved[PATH_MAX];
    if (realpath(Folder.c_str(), Resolved) == nullptr) return false;
    for (std::string Step = Resolved;; Step.erase(std::max<size_t>(Step.rfind('/'), 1))) {
        struct stat Status;
        if (stat(Step.c_str(), &Status) != 0 || !S_ISDIR(Status.st_mode) || (Status.st_mode & S_IXOTH) == 0)
            return false;
        if (Step == "/") return true;
    }
}

std::string FolderEveryUserEnters() {
    for (const std::string &Candidate : {TmpdirOrTmp(), std::string("/tmp"), std::string("/dev/shm")})
        if (EveryUserEnters(Candidate)) return Candidate;
    ADD_FAILURE() << "neither TMPDIR (" << TmpdirOrTmp() << "), /tmp nor /dev/shm lets every user through";
    return TmpdirOrTmp();
}

} // namespace

TempDirectory::TempDirectory() : TempDirectory(TmpdirOrTmp()) {}

TempDirectory::TempDirectory(const std::string &Parent) {
    std::string Template = Parent + "/" + program_invocation_short_name + "_XXXXXX";
    if (mkdtemp(Template.data()) == nullptr) ADD_FAILURE() << "cannot make " << Template << ": " << strerror(errno);
    Path = Template;
}

SharedDirectory::SharedDirectory() : TempDirectory(FolderEveryUserEnters()) {
    if (chmod(Path.c_str(), 0755) != 0) ADD_FAILURE() << "cannot open " << Path << " to every user";
}

std::string SharedDirectory::Copy(const std::string &File) const {
    std::string Target = Path + "/" + std::filesystem::path(File).filename().string();
    struct stat Status;
    std::error_code Error;
    if (stat(File.c_str(), &Status) != 0 ||
        !std::filesystem::copy_file(File, Target, std::filesystem::copy_options::overwrite_existing, Error) ||
        chmod(Target.c_str(), (Status.st_mode & S_IXUSR) != 0 ? 0755 : 0644) != 0)
        ADD_FAILURE() << "cannot copy " << File << " to " << Path;
    return Target;
}

std::string SharedDirectory::CopyProgram() const {
    const std::string Module = RUNTIME_BINARY_DIR "/host/velmarsh_gtk.so";
    if (access(Module.c_str(), F_OK) == 0) Copy(Module);
    return Copy(RUNTIME_BINARY_DIR "/host/velmarsh");
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
    // The copy, where the other user can reach it, lives for the child's run.
    std::optional<SharedDirectory> Shared;
    std::string Program = SelfExecutable();
    if (Prefix.find(Nobody) != std::string::npos) Program = Shared.emplace().Copy(Program);
    return CommandOutput(Prefix + " '" + Program + "' --gtest_also_run_disabled_tests --gtest_filter=" + Filter +
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
