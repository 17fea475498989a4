// What a test needs from outside its own code: a tool (openssl, node,
// xdelta3, ...), a Python module, a vector file. On a developer's machine a
// missing one skips the test (or the part of it that needs it) and says why.
// With CI=true in the environment it fails the test instead: the CI run's
// set-up (tools/setup.sh) installs everything the tests use, so an absence
// there is a fault of the set-up, not a reason to count the test as passed.
//
// What the run is, in contrast, no set-up changes: who runs the tests (a test
// that plays another user needs root) or how they were built. A test that
// needs such a property skips without it, with CI=true too
// (SKIP_UNLESS_RUN).
#pragma once

#include <gtest/gtest.h>

#include <string>

// True when the environment has CI=true.
bool MissingRequirementFails();

// True when Name is a command found on the PATH.
bool HaveCommand(const std::string &Name);

// True when Python's interpreter for the tests can import Module.
bool HavePythonModule(const std::string &Module);

// The folder of the Wycheproof vector files in the tree.
std::string WycheproofDirectory();

// For a part of a test: answers Present; when it is false, fails the running
// test under CI=true and otherwise notes on standard error that the part was
// skipped for want of What.
bool RequirePart(bool Present, const std::string &What);

// In a test body, a SetUp or a helper returning void: when Present is false,
// ends the test as skipped, or under CI=true as failed. Why is streamed
// (SKIP_UNLESS(HaveCommand("zip"), "zip" << " is not installed")).
#define SKIP_UNLESS(Present, Why)                                                                                 \
    do {                                                                                                           \
        if (!(Present)) {                                                                                          \
            if (MissingRequirementFails()) FAIL() << Why << " (with CI=true every tool and vector must be present)"; \
            GTEST_SKIP() << Why;                                                                                   \
        }                                                                                                          \
    } while (0)

// True when the tests run as root, which playing another user (setpriv) needs.
bool RunAsRoot();

// In a test body, a SetUp or a helper returning void: when the run lacks a
// property the test needs, ends the test as skipped, whatever CI says. Why is
// streamed (SKIP_UNLESS_RUN(RunAsRoot(), "playing another user needs root")).
#define SKIP_UNLESS_RUN(Holds, Why)                                                                               \
    do {                                                                                                           \
        if (!(Holds)) GTEST_SKIP() << Why;                                                                         \
    } while (0)
