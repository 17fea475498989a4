// A page for script-class tests: the core family registered with the bridge,
// instances created for one window, notification batches collected, and
// JSON calls. Start the bridge first (StartBridge) and end the page before
// ending it.
#pragma once

#include <string>
#include <vector>

class ScriptPage {
  public:
    ScriptPage();
    ~ScriptPage();
    ScriptPage(const ScriptPage &) = delete;
    ScriptPage &operator=(const ScriptPage &) = delete;
    // The new instance's id, "" when the class is not made.
    std::string Create(const char *ClassName);
    std::string Call(const std::string &Id, const std::string &Json);
    // Runs process steps (bounded) until a batch holds Text; all batches so far.
    std::string PumpUntil(const std::string &Text, int Steps = 4000);
    // Selectors of the names (one per line) from zlib.crc32, as decimal lines.
    static std::string PythonSelectors(const std::vector<std::string> &Names);
    std::vector<std::string> Batches;
};

// A JSON string literal for the text.
std::string JsonQuote(const std::string &Text);
