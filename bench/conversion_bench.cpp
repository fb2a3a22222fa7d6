// Throughput of the group conversion, in stored bytes per second.
#include "xa_adpcm.hpp"

#include <benchmark/benchmark.h>
#include <vector>

using namespace lvlsnd;

namespace {

void convertGroups(benchmark::State& state) {
  const auto unitSelector = static_cast<std::uint8_t>(state.range(0));
  std::vector<StoredGroup> stored(1024);
  for (std::size_t k = 0; k < stored.size(); ++k) {
    stored[k].fill(static_cast<std::uint8_t>(k * 31));
  }
  std::vector<RawGroup> raw(stored.size());
  for (auto _ : state) {
    for (std::size_t k = 0; k < stored.size(); ++k) {
      raw[k] = convertGroup(stored[k], unitSelector);
    }
    benchmark::DoNotOptimize(raw.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(stored.size() * storedGroupSize));
}

BENCHMARK(convertGroups)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
