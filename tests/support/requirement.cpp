#include "tests/support/requirement.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <iostream>
#include <map>

bool MissingRequirementFails() {
    const char *Value = getenv("CI");
    return Value != nullptr && strcmp(Value, "true") == 0;
}

bool HaveCommand(const std::string &Name) {
    return system(("command -v '" + Name + "' >/dev/null 2>&1").c_str()) == 0;
}

bool HavePythonModule(const std::string &Module) {
    static std::map<std::string, bool> Known;
    auto Found = Known.find(Module);
    if (Found == Known.end())
        Found = Known.emplace(Module, system((std::string(RUNTIME_PYTHON) + " -c 'import " + Module +
                                             "' >/dev/null 2>&1").c_str()) == 0).first;
    return Found->second;
}

std::string WycheproofDirectory() { return RUNTIME_SOURCE_DIR "/tests/fixtures/wycheproof"; }

bool RequirePart(bool Present, const std::string &What) {
    if (Present) return true;
    if (MissingRequirementFails())
        ADD_FAILURE() << What << " is missing (with CI=true every tool and vector must be present)";
    else
        std::cerr << "part skipped: " << What << " is missing\n";
    return false;
}

bool RunAsRoot() { return geteuid() == 0; }
