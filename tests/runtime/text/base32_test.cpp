// Base32 against Python's b32encode (translated to the caller's alphabet),
// and the buffer rules it shares with Base64.
#include "runtime/text/base32.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

using Base32Test = RuntimeTest;

// A shuffled alphabet, so that a mix-up of indexes cannot pass unnoticed.
constexpr char Alphabet[] = "k3bqzx7mwa5ptfhg2ndy6evrs4cuji9o";

std::string Encode(const std::string &Data, int32 *Result) {
    int32 size = 0;
    EXPECT_EQ(Base32_CalculateEncodeSize(int32(Data.size()), &size), 1);
    std::vector<char> out(size_t(size), '#');
    int32 written = -1;
    *Result = Base32_Encode(Data.data(), int32(Data.size()), Alphabet, out.data(), size, &written);
    EXPECT_EQ(written, size - 1);
    EXPECT_EQ(out[size_t(written)], 0);
    return std::string(out.data(), size_t(written));
}

}  // namespace

TEST_F(Base32Test, MatchesPythonForLengthsAndRandomData) {
    std::mt19937 random(7130);
    std::vector<std::string> data;
    for (size_t length = 0; length <= 100; length++) data.emplace_back(length, '\0');
    for (int32 i = 0; i < 30; i++) data.emplace_back(random() % 3000, '\0');
    std::string input;
    for (std::string &bytes : data) {
        for (char &c : bytes) c = char(random() & 0xFF);
        input += ToHex(bytes) + "\n";
    }
    const std::string reference = RunPython(
        "import base64, sys\n"
        "table = bytes.maketrans(b'ABCDEFGHIJKLMNOPQRSTUVWXYZ234567', b'" + std::string(Alphabet) + "')\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    print('>' + base64.b32encode(bytes.fromhex(line)).translate(table).decode())\n",
        input);
    std::istringstream lines(reference);
    for (const std::string &bytes : data) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        int32 result = 0;
        EXPECT_EQ(">" + Encode(bytes, &result), line) << "length " << bytes.size();
        EXPECT_EQ(result, 1);
    }
}

TEST_F(Base32Test, PaddingAndSizes) {
    int32 result = 0;
    const std::string twenty = Encode(std::string(20, '\x5a'), &result);
    EXPECT_EQ(twenty.size(), 32u);
    EXPECT_EQ(twenty.find('='), std::string::npos);
    const std::string one = Encode("\xff", &result);
    EXPECT_EQ(one.size(), 8u);
    EXPECT_EQ(one.substr(2), "======");
    EXPECT_EQ(Encode("ab", &result).substr(4), "====");
    EXPECT_EQ(Encode("abc", &result).substr(5), "===");
    EXPECT_EQ(Encode("abcd", &result).substr(7), "=");

    const int32 sizes[][2] = {{0, 1}, {1, 9}, {5, 9}, {6, 17}, {20, 33}, {1342177275, 2147483641}};
    for (const auto &row : sizes) {
        int32 size = -1;
        EXPECT_EQ(Base32_CalculateEncodeSize(row[0], &size), 1);
        EXPECT_EQ(size, row[1]) << row[0];
    }
    int32 size = -1;
    EXPECT_EQ(Base32_CalculateEncodeSize(1342177276, &size), 0);
    EXPECT_EQ(Base32_CalculateEncodeSize(-1, &size), 0);
    EXPECT_EQ(size, 0);
}

TEST_F(Base32Test, BufferRules) {
    char out[32];
    int32 written = -1;
    // Exactly filled: success without a terminator.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base32_Encode("abcde", 5, Alphabet, out, 8, &written), 1);
    EXPECT_EQ(written, 8);
    EXPECT_EQ(out[8], '#');
    // Out of room: the whole groups that fitted, terminated when room is left.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base32_Encode("abcdefghij", 10, Alphabet, out, 12, &written), 0);
    EXPECT_EQ(written, 8);
    EXPECT_EQ(out[8], 0);
    EXPECT_EQ(Base32_Encode("a", 1, Alphabet, out, 1, &written), 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Base32_Encode("a", 1, Alphabet, out, 7, &written), 0);
    // Empty input: "" and 1.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base32_Encode("", 0, Alphabet, out, 0, &written), 1);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(Base32_Encode("", 0, Alphabet, out, 1, &written), 1);
    EXPECT_EQ(out[0], 0);
    // An alphabet of fewer than 32 characters, or a negative length, is refused.
    EXPECT_EQ(Base32_Encode("a", 1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ23456", out, 32, &written), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Base32_Encode("a", -1, Alphabet, out, 32, &written), 0);
}

TEST(Base32Death, NullPointersStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char out[16];
    int32 written;
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            Base32_Encode("a", 1, nullptr, out, 16, &written);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            Base32_CalculateEncodeSize(1, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
