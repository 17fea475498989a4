// Runs Python 3 (standard library only) as an independent reference for tests.
#pragma once

#include <string>

// Runs the script with the given standard input; returns its standard output.
// A failing script fails the calling test (ADD_FAILURE) and returns "".
std::string RunPython(const std::string &Script, const std::string &Input = "");

// Hex text of bytes, and bytes of hex text, for passing binary data to Python.
std::string ToHex(const std::string &Bytes);
std::string FromHex(const std::string &Hex);
