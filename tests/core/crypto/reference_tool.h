// Reference tools (openssl, osslsigncode) that crypto tests compare with.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <string>

namespace crypto_test {

// Whether the tool runs (Probe exits 0). A missing tool fails the calling
// test under CI=true, where every comparison must be made; elsewhere the
// caller leaves out what needs it and says so.
inline bool ReferenceTool(const std::string &Name, const std::string &Probe) {
    if (system((Probe + " >/dev/null 2>&1").c_str()) == 0) return true;
    const char *Ci = getenv("CI");
    if (Ci != nullptr && strcmp(Ci, "true") == 0) ADD_FAILURE() << Name << " is missing (CI=true)";
    else std::cout << "[  NOTE    ] " << Name << " is missing: its comparison is left out\n";
    return false;
}

} // namespace crypto_test
