// Base64 throughput beside OpenSSL's block codec (EVP_EncodeBlock and
// EVP_DecodeBlock, which do the same work without line breaks) in one run,
// on 64-byte tokens, 4 KiB and 1 MiB of random bytes. Bytes per second count
// the binary side, so encode and decode figures compare directly.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/text/base64.h"

namespace {

std::string RandomBytes(size_t Length) {
    std::mt19937 random(64);
    std::string bytes(Length, '\0');
    for (char &c : bytes) c = char(random() & 0xFF);
    return bytes;
}

std::string EncodedText(size_t Length) {
    const std::string bytes = RandomBytes(Length);
    std::vector<char> text(4 * ((Length + 2) / 3) + 1);
    int32 written = 0;
    Base64_Encode(bytes.data(), int32(Length), text.data(), int32(text.size()), &written);
    return std::string(text.data(), size_t(written));
}

void EncodeOurs(benchmark::State &State) {
    const std::string bytes = RandomBytes(size_t(State.range(0)));
    int32 size = 0;
    Base64_CalculateEncodeSize(int32(bytes.size()), &size);
    std::vector<char> text(static_cast<size_t>(size));
    int32 written = 0;
    for (auto _ : State) {
        Base64_Encode(bytes.data(), int32(bytes.size()), text.data(), size, &written);
        benchmark::DoNotOptimize(text.data());
    }
    State.SetBytesProcessed(int64(State.iterations()) * State.range(0));
}

void EncodeOpenSsl(benchmark::State &State) {
    const std::string bytes = RandomBytes(size_t(State.range(0)));
    std::vector<unsigned char> text(4 * ((bytes.size() + 2) / 3) + 1);
    for (auto _ : State) {
        benchmark::DoNotOptimize(EVP_EncodeBlock(text.data(), reinterpret_cast<const unsigned char *>(bytes.data()),
                                                 int(bytes.size())));
    }
    State.SetBytesProcessed(int64(State.iterations()) * State.range(0));
}

void DecodeOurs(benchmark::State &State) {
    const std::string text = EncodedText(size_t(State.range(0)));
    int32 size = 0;
    Base64_CalculateDecodeSize(int32(text.size()), &size);
    std::vector<uint8> bytes(static_cast<size_t>(size));
    int32 written = 0;
    for (auto _ : State) {
        if (!Base64_Decode(text.c_str(), int32(text.size()), bytes.data(), size, &written))
            State.SkipWithError("decode failed");
        benchmark::DoNotOptimize(bytes.data());
    }
    State.SetBytesProcessed(int64(State.iterations()) * State.range(0));
}

void DecodeOpenSsl(benchmark::State &State) {
    const std::string text = EncodedText(size_t(State.range(0)));
    std::vector<unsigned char> bytes(text.size() / 4 * 3 + 3);
    for (auto _ : State) {
        if (EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char *>(text.data()), int(text.size())) < 0)
            State.SkipWithError("decode failed");
        benchmark::DoNotOptimize(bytes.data());
    }
    State.SetBytesProcessed(int64(State.iterations()) * State.range(0));
}

}  // namespace

BENCHMARK(EncodeOurs)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(EncodeOpenSsl)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(DecodeOurs)->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(DecodeOpenSsl)->Arg(64)->Arg(4096)->Arg(1 << 20);
