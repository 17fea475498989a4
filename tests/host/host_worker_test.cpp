// The elevated hand-over across processes with the built program; the
// checks are in host_worker_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

TEST(HostWorker, ElevatedRunGoesThroughTheWorker) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_worker_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' elevated";
    int Status = system(Command.c_str());
    EXPECT_EQ(WIFEXITED(Status) ? WEXITSTATUS(Status) : -1, 0);
}

} // namespace
