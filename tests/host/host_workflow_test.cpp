// The host's workflow job end to end through the built program: the demo
// from a path and from a peer, exit codes, usage errors, what a document
// that cannot run or a fetch that cannot work says, signals, a cancel
// during the fetch, analytics batches, a task type implemented by a page
// script, and the configuration's registry whitelist, pool limits and cache
// minimum age. The checks themselves are in
// host_workflow_check.py (Python's json parses the summary line).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

namespace {

int RunCase(const std::string &Name) {
    std::string Command = std::string(RUNTIME_PYTHON) + " '" + RUNTIME_SOURCE_DIR +
                          "/tests/host/host_workflow_check.py' '" + RUNTIME_BINARY_DIR + "/host/velmarsh' '" +
                          RUNTIME_SOURCE_DIR + "' " + Name;
    int Status = system(Command.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

class HostWorkflow : public testing::TestWithParam<const char *> {};

TEST_P(HostWorkflow, CaseHolds) { EXPECT_EQ(RunCase(GetParam()), 0) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Cases, HostWorkflow,
                         testing::Values("demo_path", "demo_http", "exit_code", "usage", "interrupt",
                                         "second_signal_at_once", "interrupt_load_fetch",
                                         "runaway", "cancel_during_fetch", "interrupt_endless_fetch",
                                         "analytics", "no_entry", "outcomes", "refusals", "local_failures",
                                         "document_errors", "fetch_never_works",
                                         "remote_retry", "warnings", "progress_line", "signed_path",
                                         "signed_http", "signed_children", "script_task", "registry_whitelist", "pool_hosts",
                                         "cache_min_age", "self_update", "exit_codes", "implode",
                                         "load_failures", "nested_outcomes", "unreadable"));

} // namespace
