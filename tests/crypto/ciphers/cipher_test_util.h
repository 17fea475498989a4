// Helpers of the cipher tests: byte strings from hex, seeded random bytes,
// a test parameter for the portable and the processor path of AES, and
// Python's cryptography package as an oracle.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/ciphers/aes_internal.h"
#include "runtime/types.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"

using Bytes = std::vector<uint8>;

inline Bytes Hex(const std::string &Text) {
    const std::string Raw = FromHex(Text);
    return Bytes(Raw.begin(), Raw.end());
}

inline std::string HexOf(const uint8 *Data, size_t Length) {
    return ToHex(std::string(reinterpret_cast<const char *>(Data), Length));
}
inline std::string HexOf(const Bytes &Data) { return HexOf(Data.data(), Data.size()); }

inline Bytes RandomBytes(size_t Length, std::mt19937 &Random) {
    Bytes Out(Length);
    for (uint8 &Byte : Out) Byte = (uint8)Random();
    return Out;
}

// Runs a test once on the portable path and once on the processor path
// (skipped with a message when the processor lacks AES-NI or PCLMULQDQ).
class AesPathTest : public ::testing::TestWithParam<bool> {
  protected:
    std::unique_ptr<RuntimeScope> Runtime;
    void SetUp() override {
        Runtime = std::make_unique<RuntimeScope>();
        if (GetParam() && !AES_ProcessorHasFastPath())
            GTEST_SKIP() << "processor has no AES-NI/PCLMULQDQ: fast path not tested";
        AES_UseProcessorPath(GetParam());
    }
    void TearDown() override {
        AES_UseProcessorPath(true);
        Runtime.reset();
    }
};

inline std::string PathName(const ::testing::TestParamInfo<bool> &Info) {
    return Info.param ? "Processor" : "Portable";
}

// True when Python's cryptography package can be imported.
inline bool HavePythonCryptography() { return HavePythonModule("cryptography"); }
