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

  protected:
    explicit TempDirectory(const std::string &Parent);
};

// A TempDirectory another user (Nobody) can enter, for what a test runs as
// that user and the files it hands it. The checkout, and the TMPDIR of a run,
// may lie in a folder of root's alone (a clone in /root or in a mktemp -d
// folder), so it is made under $TMPDIR only when every folder down to it lets
// every user through, else under /tmp, else /dev/shm. Its mode is 0755.
class SharedDirectory : public TempDirectory {
  public:
    SharedDirectory();
    // Copies a file (the built program, a script) into the directory under its
    // own name, readable and, when the original is, runnable by every user;
    // answers the copy's path.
    std::string Copy(const std::string &File) const;
    // Copies the built program (host/velmarsh), with the GTK module it loads
    // from its own folder when that was built; answers the program's path.
    std::string CopyProgram() const;
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
// (environment assignments, Nobody), and answers everything it printed. Behind
// Nobody the child is a copy of the program in a SharedDirectory.
std::string RunChildTest(const std::string &Filter, const std::string &Prefix = "");

// Whether Read() answers the free space of Directory as statvfs(2) reports it
// for an unprivileged writer (f_bavail * f_frsize). Other programs write while
// the test runs, so Read() is bracketed by two readings of statvfs and must lie
// between them; an attempt whose bracket moved too much to judge is tried again.
bool FreeSpaceMatchesStatvfs(const std::string &Directory, const std::function<uint64_t()> &Read);
