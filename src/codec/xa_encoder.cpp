// The encoder of lvlsnd-replace: sound units found for 16-bit samples by searching the 4-bit
// samples that the decoder's own arithmetic turns back into them.
#include "xa_encoder.hpp"

#include "encoder/carry.hpp"

#include <algorithm>
#include <limits>

namespace lvlsnd {

namespace {

// The search compiled three times: for x86-64's baseline, and for processors with SSE4.2 or
// AVX2, whose vectors compare 64-bit keys and extend and rank the paths several at a time.
// Integer arithmetic alike, so all choose the very same units.
std::size_t searchUnitBaseline(std::span<const std::int16_t, samplesPerUnit> samples,
                               const EncoderSearch& search, const Carried& carried,
                               std::size_t alone, Carried& next) {
  return searchUnit(samples, search, carried, alone, next);
}

#if defined(__x86_64__) || defined(__i386__)
[[gnu::target("sse4.2")]] std::size_t
searchUnitSse42(std::span<const std::int16_t, samplesPerUnit> samples, const EncoderSearch& search,
                const Carried& carried, std::size_t alone, Carried& next) {
  return searchUnit(samples, search, carried, alone, next);
}

[[gnu::target("avx2")]] std::size_t
searchUnitAvx2(std::span<const std::int16_t, samplesPerUnit> samples, const EncoderSearch& search,
               const Carried& carried, std::size_t alone, Carried& next) {
  return searchUnit(samples, search, carried, alone, next);
}

#endif

// The search of a unit compiled for one instruction set, and that set's name.
using UnitSearch = std::size_t (*)(std::span<const std::int16_t, samplesPerUnit>,
                                   const EncoderSearch&, const Carried&, std::size_t, Carried&);
struct SearchCode {
  const char* name;
  UnitSearch search;
};

// The widest of the instructions asked for that this processor has, and its search.
SearchCode searchCodeFor(SearchInstructions asked) {
#if defined(__x86_64__) || defined(__i386__)
  bool avx2 = __builtin_cpu_supports("avx2");
  bool sse42 = __builtin_cpu_supports("sse4.2");
  if ((asked == SearchInstructions::widest || asked == SearchInstructions::avx2) && avx2) {
    return {"AVX2", searchUnitAvx2};
  }
  if (asked != SearchInstructions::baseline && sse42) {
    return {"SSE4.2", searchUnitSse42};
  }
#else
  (void)asked;
#endif
  return {"baseline", searchUnitBaseline};
}

} // namespace

const char* searchInstructionsName(SearchInstructions asked) {
  return searchCodeFor(asked).name;
}

SoundUnit encodeUnitGreedy(std::span<const std::int16_t, samplesPerUnit> samples,
                           PredictorState& state) {
  auto best = rankCodings(samples, state, 1).front();
  state = best.state;
  return best.unit;
}

SoundUnit encodeUnit(std::span<const std::int16_t, samplesPerUnit> samples, PredictorState& state) {
  Carried next;
  next.width = 1;
  auto ranked = rankCodings(samples, state, unitSearch.codings);
  auto best = offerEncodingsAlone(samples, ranked, {0, state, {}, 0}, 0, next);
  state = best.state;
  return best.unit;
}

std::vector<SoundUnit> encodeUnits(std::span<const std::int16_t> samples,
                                   const EncoderSearch& widths,
                                   std::atomic<std::size_t>* unitsDone) {
  EncoderSearch search{std::clamp<std::size_t>(widths.codings, 1, largestWidth),
                       std::clamp<std::size_t>(widths.beam, 1, largestWidth),
                       std::clamp<std::size_t>(widths.carried, 1, largestWidth),
                       widths.instructions};
  auto unitCount = (samples.size() + samplesPerUnit - 1) / samplesPerUnit;
  std::vector<std::int16_t> padded(samples.begin(), samples.end());
  padded.resize(unitCount * samplesPerUnit);
  // Every unit's kept encodings, `search.carried` a unit, for the walk back from the best.
  std::vector<Trace> traces(unitCount * search.carried);
  Carried carried;
  carried.width = 1;
  carried.count = 1;
  // The encodings that searches of each unit alone would make stay among those carried, so
  // that carrying is never worse than deciding each unit alone; `alone` is where they are.
  std::size_t alone = 0;
  auto unitSearch = searchCodeFor(search.instructions).search;
  for (std::size_t u = 0; u < unitCount; ++u) {
    auto unitSamples = std::span(padded).subspan(u * samplesPerUnit).first<samplesPerUnit>();
    Carried next;
    next.width = search.carried;
    alone = unitSearch(unitSamples, search, carried, alone, next);
    for (std::size_t k = 0; k < next.count; ++k) {
      traces[u * search.carried + k] = traceOf(next.kept[k]);
    }
    carried = next;
    if (unitsDone != nullptr) {
      unitsDone->store(u + 1, std::memory_order_relaxed);
    }
  }
  // The best encoding of the last unit, followed back to the first.
  std::vector<SoundUnit> units(unitCount);
  std::size_t h = 0;
  for (std::size_t u = unitCount; u-- > 0;) {
    const auto& trace = traces[u * search.carried + h];
    units[u] = unitOf(trace);
    h = trace.parent;
  }
  return units;
}

} // namespace lvlsnd
