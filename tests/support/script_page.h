// A page for script-class tests: the core family registered with the bridge,
// instances created for one window, notification batches collected, and
// JSON calls. Start the bridge first (StartBridge) and end the page before
// ending it; ScriptPageTest does both around one instance.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "runtime/types.h"
#include "tests/support/runtime.h"

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
    std::vector<std::string> Batches;
};

// A JSON string literal for the text.
std::string JsonQuote(const std::string &Text);

// A method of a script class and its selector, the CRC-32 of its name.
struct ScriptSelector {
    const char *Method;
    uint32 Value;
};
// Checks each selector against Crc32Const and against Python's zlib.crc32.
void ExpectSelectors(std::span<const ScriptSelector> Selectors);

// The runtime with its log captured, the bridge started and a page holding
// one instance of the class; Call talks to that instance.
class ScriptPageTest : public RuntimeTest {
  protected:
    explicit ScriptPageTest(const char *ClassName) : ClassName(ClassName) {}
    void SetUp() override;
    void TearDown() override;
    std::string Call(const std::string &Json) { return Page->Call(Id, Json); }
    const char *ClassName;
    ScriptPage *Page = nullptr;
    std::string Id;
};
