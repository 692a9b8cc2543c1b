// The hash library against std::unordered_map<std::string, void*> (the named peer) on the two key shapes the
// client uses: short text keys (configuration) and 8-byte binary keys (user id + room id of a video window).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "components/hash.h"

namespace {

std::vector<std::string> make_keys(int n, bool binary) {
    std::vector<std::string> keys;
    for (int i = 0; i < n; ++i) {
        if (binary) {
            uint32_t ids[2] = {uint32_t(100000 + i * 7), uint32_t(7)};
            keys.emplace_back(reinterpret_cast<const char*>(ids), sizeof ids);
        } else {
            keys.push_back("colour_key_" + std::to_string(i));
        }
    }
    return keys;
}

void BM_HashLibraryLookup(benchmark::State& state) {
    auto keys = make_keys(int(state.range(0)), state.range(1) != 0);
    HHASH t = hash_init(120);
    for (auto& k : keys)
        hash_add(t, k.data(), k.size(), &k);
    size_t i = 0;
    for (auto _ : state) {
        const std::string& k = keys[i++ % keys.size()];
        benchmark::DoNotOptimize(hash_get(t, k.data(), k.size()));
    }
    hash_destroy(t, nullptr, nullptr, nullptr);
}

void BM_UnorderedMapLookup(benchmark::State& state) {
    auto keys = make_keys(int(state.range(0)), state.range(1) != 0);
    std::unordered_map<std::string, void*> m;
    for (auto& k : keys)
        m.emplace(k, &k);
    size_t i = 0;
    for (auto _ : state) {
        const std::string& k = keys[i++ % keys.size()];
        auto it = m.find(std::string(k.data(), k.size()));
        benchmark::DoNotOptimize(it);
    }
}

} // namespace

BENCHMARK(BM_HashLibraryLookup)->Args({14, 0})->Args({1000, 0})->Args({16, 1})->Args({1000, 1});
BENCHMARK(BM_UnorderedMapLookup)->Args({14, 0})->Args({1000, 0})->Args({16, 1})->Args({1000, 1});
BENCHMARK_MAIN();
