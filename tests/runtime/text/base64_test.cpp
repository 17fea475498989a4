// Base64 and URL-safe Base64 against Python's base64 module, the buffer
// rules at their edges, and the macro provider.
#include "runtime/text/base64.h"

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

using Base64Test = RuntimeTest;

std::string Encode(const std::string &Data, int32 *Result = nullptr) {
    int32 size = 0;
    EXPECT_EQ(Base64_CalculateEncodeSize(int32(Data.size()), &size), 1);
    std::vector<char> out(size_t(size), '#');
    int32 written = -1;
    const int32 result = Base64_Encode(Data.data(), int32(Data.size()), out.data(), size, &written);
    if (Result) *Result = result;
    EXPECT_EQ(out[size_t(written)], 0);
    return std::string(out.data(), size_t(written));
}

std::string UrlEncode(const std::string &Data) {
    int32 size = 0;
    Base64_CalculateEncodeSize(int32(Data.size()), &size);
    std::vector<char> out(size_t(size), '#');
    int32 written = -1;
    EXPECT_EQ(Base64_UrlEncode(Data.data(), int32(Data.size()), out.data(), size, &written), 1);
    EXPECT_EQ(out[size_t(written)], 0);
    return std::string(out.data(), size_t(written));
}

// Decodes into a buffer of exactly Size bytes (default: the calculated size).
std::string Decode(const std::string &Text, int32 *Result, int32 Size = -1, bool Url = false) {
    if (Size < 0) Base64_CalculateDecodeSize(int32(Text.size()) + (Url ? 2 : 0), &Size);
    std::vector<uint8> out(size_t(Size), 0xEE);
    int32 written = -1;
    *Result = Url ? Base64_UrlDecode(Text.c_str(), int32(Text.size()), out.data(), Size, &written)
                  : Base64_Decode(Text.c_str(), int32(Text.size()), out.data(), Size, &written);
    EXPECT_GE(written, 0);
    if (Size > 0) {
        EXPECT_EQ(out[size_t(written)], 0) << "output not terminated";
    }
    return std::string(reinterpret_cast<char *>(out.data()), size_t(written));
}

// Lengths 0-100, then 40 random lengths up to 5,000, of random bytes.
std::vector<std::string> ReferenceData() {
    std::mt19937 random(20240611);
    std::vector<std::string> data;
    auto make = [&random](size_t Length) {
        std::string bytes(Length, '\0');
        for (char &c : bytes) c = char(random() & 0xFF);
        return bytes;
    };
    for (size_t length = 0; length <= 100; length++) data.push_back(make(length));
    for (int32 i = 0; i < 40; i++) data.push_back(make(random() % 5000));
    return data;
}

}  // namespace

TEST_F(Base64Test, MatchesPythonStandardAndUrlSafe) {
    const std::vector<std::string> data = ReferenceData();
    std::string input;
    for (const std::string &bytes : data) input += ToHex(bytes) + "\n";
    const std::string reference = RunPython(
        "import base64, sys\n"
        "for line in sys.stdin.read().split('\\n')[:-1]:\n"
        "    b = bytes.fromhex(line)\n"
        "    print(base64.b64encode(b).decode() + '|' + base64.urlsafe_b64encode(b).decode().rstrip('='))\n",
        input);
    std::istringstream lines(reference);
    for (const std::string &bytes : data) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        const std::string standard = line.substr(0, line.find('|'));
        const std::string url = line.substr(line.find('|') + 1);
        SCOPED_TRACE("length " + std::to_string(bytes.size()));
        int32 result = 0;
        EXPECT_EQ(Encode(bytes, &result), standard);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(UrlEncode(bytes), url);
        EXPECT_EQ(Decode(standard, &result), bytes);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(Decode(url, &result, -1, true), bytes);
        EXPECT_EQ(result, 1);
    }
}

TEST_F(Base64Test, CalculatesSizes) {
    const int32 encode[][2] = {{0, 1}, {1, 5}, {2, 5}, {3, 5}, {4, 9}, {6, 9}, {7, 13}, {1610612733, 2147483645}};
    for (const auto &row : encode) {
        int32 size = -1;
        EXPECT_EQ(Base64_CalculateEncodeSize(row[0], &size), 1);
        EXPECT_EQ(size, row[1]) << row[0];
    }
    const int32 decode[][2] = {{0, 10}, {3, 10}, {4, 13}, {8, 16}, {11, 16}, {INT32_MAX, 1610612743}};
    for (const auto &row : decode) {
        int32 size = -1;
        EXPECT_EQ(Base64_CalculateDecodeSize(row[0], &size), 1);
        EXPECT_EQ(size, row[1]) << row[0];
    }
    // Sizes that int32 cannot hold, and negative lengths, are refused.
    int32 size = -1;
    EXPECT_EQ(Base64_CalculateEncodeSize(1610612734, &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(Base64_CalculateEncodeSize(-1, &size), 0);
    EXPECT_EQ(Base64_CalculateDecodeSize(-1, &size), 0);
}

TEST_F(Base64Test, EncodeBufferRules) {
    char out[16];
    int32 written = -1;
    // Two bytes: three characters and one "="; URL-safe, the three alone.
    EXPECT_EQ(Base64_Encode("\xfb\xff", 2, out, 16, &written), 1);
    EXPECT_STREQ(out, "+/8=");
    EXPECT_EQ(Base64_UrlEncode("\xfb\xff", 2, out, 16, &written), 1);
    EXPECT_STREQ(out, "-_8");
    EXPECT_EQ(written, 3);

    // Exactly filled: four characters, no terminator, success.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_Encode("abc", 3, out, 4, &written), 1);
    EXPECT_EQ(written, 4);
    EXPECT_EQ(std::string(out, 5), "YWJj#");

    // Empty input: "" and 1, terminated only when there is room.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_Encode("", 0, out, 0, &written), 1);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(Base64_Encode("", 0, out, 1, &written), 1);
    EXPECT_EQ(out[0], 0);

    // Below two bytes of room with input, or out of room: 0 with the whole
    // groups that fitted, terminated when room is left.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_Encode("a", 1, out, 1, &written), 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Base64_Encode("a", 1, out, 3, &written), 0);
    EXPECT_EQ(written, 0);
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_Encode("abcdefg", 7, out, 10, &written), 0);
    EXPECT_EQ(written, 8);
    EXPECT_EQ(std::string(out, 9), std::string("YWJjZGVm\0", 9));
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_Encode("abcdefg", 7, out, 8, &written), 0);
    EXPECT_EQ(std::string(out, 9), "YWJjZGVm#");
    EXPECT_EQ(Base64_UrlEncode("abcdefg", 7, out, 8, &written), 0);
    EXPECT_EQ(written, 8);

    // URL-safe: the padded text must fit before the "=" is stripped.
    memset(out, '#', sizeof(out));
    EXPECT_EQ(Base64_UrlEncode("ab", 2, out, 4, &written), 1);
    EXPECT_EQ(std::string(out, 4), std::string("YWI\0", 4));
    EXPECT_EQ(Base64_Encode("ab", -1, out, 16, &written), 0);
}

TEST_F(Base64Test, DecodeRejectsWhatThePartNames) {
    struct Case {
        const char *Text;
        int32 Size;
        int32 Result;
        const char *Bytes;
    } cases[] = {
        {"", 5, 1, ""},                     // empty text, minimum buffer
        {"", 4, 0, ""},                     // buffer below 5
        {"QUJD", 4, 0, ""},
        {"QUJD", 5, 1, "ABC"},
        {"QQ==", 5, 1, "A"},
        {"QUI=", 5, 1, "AB"},
        {"QUJDREVG", 6, 0, "ABC"},          // no room for the second group and a terminator
        {"QUJDREVG", 7, 1, "ABCDEF"},
        {"QUJDRA==", 7, 1, "ABCD"},         // a padded group still needs room for three bytes
        {"QUJDRA==", 6, 0, "ABC"},
        {"QUJ", 16, 0, ""},                 // ends inside a group
        {"QUJDR", 16, 0, "ABC"},
        {"QUJDREU", 16, 0, "ABC"},
        {"QUJD\nREVG", 16, 0, "ABC"},       // line break
        {"QUJD REVG", 16, 0, "ABC"},        // blank
        {"QU*D", 16, 0, ""},                // character outside the alphabet
        {"QU-D", 16, 0, ""},                // URL-safe character in standard text
        {"QUJD\xc3\xa9QUJD", 16, 0, "ABC"}, // byte above 0x7F
    };
    for (const Case &c : cases) {
        int32 result = -1;
        const std::string bytes = Decode(c.Text, &result, c.Size);
        EXPECT_EQ(result, c.Result) << '"' << c.Text << "\" into " << c.Size;
        EXPECT_EQ(bytes, c.Bytes) << '"' << c.Text << "\" into " << c.Size;
    }

    // The length argument does not stop the decoder; only the terminator does.
    uint8 out[16];
    int32 written = -1;
    EXPECT_EQ(Base64_Decode("QUJDREVG", 4, out, 16, &written), 1);
    EXPECT_EQ(written, 6);
    EXPECT_EQ(Base64_Decode("QUJDREVG", 0, out, 16, &written), 1);
}

TEST_F(Base64Test, UrlDecodeTakesLengthAndPadding) {
    int32 result = -1;
    EXPECT_EQ(Decode("-_8", &result, -1, true), "\xfb\xff");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Decode("QQ", &result, -1, true), "A");
    EXPECT_EQ(Decode("QUI", &result, -1, true), "AB");
    // The copied text keeps "+", "/" and "=" valid.
    EXPECT_EQ(Decode("+/8=", &result, -1, true), "\xfb\xff");
    EXPECT_EQ(result, 1);
    // A length of 1 modulo 4 fails, as do invalid characters.
    EXPECT_EQ(Decode("QUJDR", &result, -1, true), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Decode("Q", &result, -1, true), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Decode("QU.D", &result, -1, true), "");
    EXPECT_EQ(result, 0);

    uint8 out[16];
    int32 written = -1;
    // Only Length characters are read ...
    EXPECT_EQ(Base64_UrlDecode("QUJDREVG", 4, out, 16, &written), 1);
    EXPECT_EQ(written, 3);
    EXPECT_EQ(Base64_UrlDecode("QUJDREVG", 6, out, 16, &written), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), size_t(written)), "ABCD");
    // ... and a terminator before Length ends the text (the padding behind
    // the Length characters is then never reached).
    EXPECT_EQ(Base64_UrlDecode("QUJD\0EV", 6, out, 16, &written), 1);
    EXPECT_EQ(written, 3);
    EXPECT_EQ(Base64_UrlDecode("QU\0JDRE", 6, out, 16, &written), 0);
    EXPECT_EQ(Base64_UrlDecode("QUJD", -1, out, 16, &written), 0);
    EXPECT_EQ(Base64_UrlDecode("QUJD", 4, out, 4, &written), 0);
}

TEST_F(Base64Test, ExpandKeyAnswersItsNames) {
    char out[64];
    struct Case {
        const char *Name;
        const char *Argument;
        const char *Value;
    } cases[] = {
        {"FromBase64", "SGVsbG8=", "Hello"},
        {"base64decode", "SGVsbG8=", "Hello"},
        {"TOBASE64", "Hello", "SGVsbG8="},
        {"Base64Encode", "Hello", "SGVsbG8="},
        {"Base64ToHex", "AAEC/w==", "000102FF"},
        {"HexToBase64", "000102ff", "AAEC/w=="},
        {"HexToBase64", "0x000102FF", "AAEC/w=="},
        {"ToBase64Url", "\xfb\xff", "-_8"},
        {"Base64UrlEncode", "subjects?_d", "c3ViamVjdHM_X2Q"},
        {"FromBase64Url", "c3ViamVjdHM_X2Q", "subjects?_d"},
        {"Base64UrlDecode", "-_8", "\xfb\xff"},
        {"ToBase64", "", ""},
        // Failed conversions are still answered, with what was converted.
        {"FromBase64", "SGVs*G8=", "Hel"},
        {"FromBase64Url", "SGVsb", ""},
        {"HexToBase64", "4142zz", "QUI="},
    };
    for (const Case &c : cases) {
        memset(out, '#', sizeof(out));
        EXPECT_EQ(Base64_ExpandKey(nullptr, c.Name, c.Argument, out, sizeof(out)), 1) << c.Name;
        EXPECT_STREQ(out, c.Value) << c.Name << ":" << c.Argument;
    }
    // No argument, or a name that is not the provider's: not handled.
    EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase64", nullptr, out, sizeof(out)), 0);
    EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase", "x", out, sizeof(out)), 0);
    EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase64x", "x", out, sizeof(out)), 0);
    EXPECT_EQ(Base64_ExpandKey(nullptr, "Sha1", "x", out, sizeof(out)), 0);
}

TEST_F(Base64Test, ExpandKeyTerminatesWithinSize) {
    // 6,105 bytes encode to exactly 8,140 characters: the provider must leave
    // room for the terminator (the expander reads the result as a text).
    const std::string argument(6105, 'x');
    const std::string full = Encode(argument);
    ASSERT_EQ(full.size(), 8140u);
    std::vector<char> out(8140, '#');
    EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase64", argument.c_str(), out.data(), 8140), 1);
    const std::string value(out.data());
    EXPECT_EQ(value.size(), 8136u);
    EXPECT_EQ(full.compare(0, value.size(), value), 0);
    EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase64Url", argument.c_str(), out.data(), 8140), 1);
    EXPECT_EQ(strlen(out.data()), 8136u);

    // Decoded results are cut at Size - 1, also when decoded through a
    // scratch buffer because Size is small.
    for (int32 size = 1; size <= 8; size++) {
        std::vector<char> small(size_t(size), '#');
        EXPECT_EQ(Base64_ExpandKey(nullptr, "FromBase64", "SGVsbG8gd29ybGQ=", small.data(), size), 1);
        EXPECT_EQ(std::string(small.data()), std::string("Hello world").substr(0, size_t(size - 1)));
        EXPECT_EQ(Base64_ExpandKey(nullptr, "FromBase64Url", "SGVsbG8gd29ybGQ", small.data(), size), 1);
        EXPECT_EQ(std::string(small.data()), std::string("Hello world").substr(0, size_t(size - 1)));
        EXPECT_EQ(Base64_ExpandKey(nullptr, "ToBase64", "Hello", small.data(), size), 1);
        EXPECT_EQ(std::string(small.data()), std::string("SGVsbG8=").substr(0, size_t((size - 1) / 4 * 4)));
        EXPECT_EQ(Base64_ExpandKey(nullptr, "Base64ToHex", "SGVsbG8=", small.data(), size), 1);
        EXPECT_EQ(std::string(small.data()), std::string("48656C6C6F").substr(0, size_t((size - 1) / 2 * 2)));
    }

    // The hex keys take at most 4,096 bytes.
    const std::string hex(2 * 5000, 'a');
    std::vector<char> big(9000);
    EXPECT_EQ(Base64_ExpandKey(nullptr, "HexToBase64", hex.c_str(), big.data(), 9000), 1);
    EXPECT_EQ(std::string(big.data()), Encode(std::string(4096, '\xaa')));
    const std::string text = Encode(std::string(5000, '\x01'));
    EXPECT_EQ(Base64_ExpandKey(nullptr, "Base64ToHex", text.c_str(), big.data(), 9000), 1);
    EXPECT_EQ(strlen(big.data()), 2 * 4095u);
}

TEST(Base64Death, NullOutParametersStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char out[8];
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            Base64_CalculateEncodeSize(3, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            Base64_Encode("abc", 3, out, 8, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope scope;
            int32 written;
            Base64_Decode(nullptr, 0, out, 8, &written);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}
