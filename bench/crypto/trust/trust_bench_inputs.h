// Shared by trust_bench.cpp and its OpenSSL side: the scratch folder of
// inputs (made once per run) and the OpenSSL benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

namespace trustbench {
const std::string &Folder();
std::string Read(const std::string &Name);
void JwsOpenSsl(benchmark::State &State, const char *Alg, const char *Key);
void CmsOpenSsl(benchmark::State &State);
void Pkcs12OpenSsl(benchmark::State &State);
} // namespace trustbench
