// Hostile workflow documents through the built program: nothing cut, copied,
// misread or left running. The checks are in host_docs_check.py.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_docs_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostDocs : public testing::TestWithParam<const char *> {};

TEST_P(HostDocs, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostDocs, testing::Values("names_whole", "arguments_bounded", "parsed_bounded",
                                                              "records_bounded"));

} // namespace
