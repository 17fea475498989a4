// Process-level scaffolding for tests that touch the file system, the
// environment or their own program file. Each object restores what it changed
// when it goes out of scope.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A fresh directory under $TMPDIR (else /tmp) named after the test program,
// removed with everything in it at the end; a failed removal fails the
// running test.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory &) = delete;
    TempDirectory &operator=(const TempDirectory &) = delete;
    std::string operator/(const std::string &Name) const { return Path + "/" + Name; }
    std::string Path;
};

// Sets (or, for a null value, unsets) an environment variable for a scope and
// restores the earlier state after.
class ScopedEnv {
  public:
    ScopedEnv(const char *Name, const char *Value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    const char *Name;
    std::string Saved;
    bool HadValue = false;
};

// The absolute path of the running test program ("" when it cannot be read).
std::string SelfExecutable();

// The whole content of a file, byte for byte ("" when it cannot be read).
std::string ReadFile(const std::string &Path);

// Runs a shell command and answers what it wrote to its standard output.
std::string CommandOutput(const std::string &Command);

// The prefix that runs a command as the unprivileged user 65534.
extern const std::string Nobody;

// Runs one (disabled) test of this program in a child process, behind Prefix
// (environment assignments, Nobody), and answers everything it printed.
std::string RunChildTest(const std::string &Filter, const std::string &Prefix = "");

// Whether Read() answers the free space of Directory as statvfs(2) reports it
// for an unprivileged writer (f_bavail * f_frsize). Other programs write while
// the test runs, so Read() is bracketed by two readings of statvfs and must lie
// between them; an attempt whose bracket moved too much to judge is tried again.
bool FreeSpaceMatchesStatvfs(const std::string &Directory, const std::function<uint64_t()> &Read);
