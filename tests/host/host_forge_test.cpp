// What a page or a document's Notification task fires cannot decide the
// run's outcome, through the built program. The checks themselves are in
// host_forge_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_forge_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostForge : public testing::TestWithParam<const char *> {};

TEST_P(HostForge, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostForge, testing::Values("page_forgeries", "document_forgeries",
                                                    "document_says_nothing_for_the_engine", "page_reentry",
                                                    "record_holds", "page_asks", "signals"));

} // namespace
