// The encoder of lvlsnd-replace: sound units found for 16-bit samples by searching the 4-bit
// samples that the decoder's own arithmetic turns back into them.
#include "xa_encoder.hpp"

#include <limits>

namespace lvlsnd {

namespace {

// The 4-bit sample that comes closest to what the prediction left over: the difference
// divided by the step, rounded half away from zero, within -8 to 7.
int nearestSample(int difference, int shift) {
  int half = (1 << shift) >> 1;
  int quotient = difference >= 0 ? (difference + half) >> shift : -((half - difference) >> shift);
  return std::clamp(quotient, -8, 7);
}

// Encodes `samples` with one coding into `unit`, as long as its squared error stays below
// `bound`. Returns the squared error (at least `bound` once it was given up).
std::int64_t encodeWith(std::span<const std::int16_t, samplesPerUnit> samples,
                        const UnitCoding& coding, std::int64_t bound, PredictorState& state,
                        SoundUnit& unit) {
  std::int64_t error = 0;
  for (std::size_t k = 0; k < samplesPerUnit && error < bound; ++k) {
    int sample = nearestSample(samples[k] - predicted(coding, state), coding.shift);
    std::int64_t difference = samples[k] - decodeSample(sample, coding, state);
    error += difference * difference;
    unit.nibbles[k] = static_cast<std::uint8_t>(sample & 0x0F);
  }
  return error;
}

} // namespace

namespace {

// The search: the codings with the least greedy error are searched again, keeping at each
// sample the partial paths with the least squared error so far; and the best few encodings of
// each unit are carried into the next, since the encoding best for one unit need not leave
// the state best for the next. The widths are chosen by bench/encoder_quality.py.
constexpr std::size_t largestWidth = 32;
// The widths of a search of one unit alone: 4 paths of 4 codings.
constexpr EncoderSearch unitSearch{4, 4, 1};

// A coding with its greedy result, the first pass's ranking.
struct Coding {
  std::uint8_t parameter = 0;
  std::int64_t error = std::numeric_limits<std::int64_t>::max();
  SoundUnit unit;
  PredictorState state;
};

// A partial path: the decoder state it reached and its squared error so far.
struct Path {
  std::int64_t error = 0;
  PredictorState state;
};

// How a path of one sample more came about: the path it extends and the 4-bit sample it adds.
struct Step {
  std::uint8_t parent = 0;
  std::int8_t sample = 0;
};

// The paths of least error at one sample, in order of error, and how each came about.
struct Beam {
  std::array<Path, largestWidth> paths{};
  std::array<Step, largestWidth> steps{};
  std::size_t count = 0;
  std::size_t width = 0;
};

// Keeps `path` in the beam if it is among the best so far.
void offer(Beam& beam, const Path& path, Step step) {
  if (beam.count == beam.width && path.error >= beam.paths[beam.count - 1].error) {
    return;
  }
  auto at = std::min(beam.count, beam.width - 1);
  for (; at > 0 && beam.paths[at - 1].error > path.error; --at) {
    beam.paths[at] = beam.paths[at - 1];
    beam.steps[at] = beam.steps[at - 1];
  }
  beam.paths[at] = path;
  beam.steps[at] = step;
  beam.count = std::min(beam.count + 1, beam.width);
}

// Ranks every filter and range by the greedy encoding's error, keeping the best `count` in
// order.
std::array<Coding, largestWidth> rankCodings(std::span<const std::int16_t, samplesPerUnit> samples,
                                             const PredictorState& state, std::size_t count) {
  std::array<Coding, largestWidth> best{};
  for (int filter = 0; filter < filterCount; ++filter) {
    for (int range = 0; range <= largestRange; ++range) {
      Coding tried;
      tried.parameter = static_cast<std::uint8_t>(filter << 4 | range);
      tried.state = state;
      tried.error = encodeWith(samples, unitCoding(filter, range), best[count - 1].error,
                               tried.state, tried.unit);
      tried.unit.parameter = tried.parameter;
      if (tried.error < best[count - 1].error) {
        best[count - 1] = tried;
        std::stable_sort(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(count),
                         [](const Coding& a, const Coding& b) { return a.error < b.error; });
      }
    }
  }
  return best;
}

// Offers the paths that `path` extends into at `target`: each 4-bit sample from one below the
// floor of the ideal value to one above its ceiling, within -8 to 7, decoded by the decoder's
// own step so that its rounding and clamp are part of the search. A sample that the clamp
// decodes to the same value as the one below it leads nowhere new and is left out, so that
// copies of one path do not fill the beam. A path whose error reaches `bound` is not offered.
void extend(const Path& path, std::uint8_t parent, int target, const UnitCoding& coding,
            std::int64_t bound, Beam& next) {
  // decodeSample's sum, its part that does not depend on the 4-bit sample taken once.
  int prediction = coding.gainPrevious * path.state.previous +
                   coding.gainBeforePrevious * path.state.beforePrevious + 32;
  int scale = 64 << coding.shift;
  int difference = target - (prediction >> 6);
  int floor = difference >> coding.shift;
  int ceiling = floor + ((difference & ((1 << coding.shift) - 1)) != 0 ? 1 : 0);
  // Far outside -8 to 7 the only candidate left is the nearest end.
  int highest = std::clamp(ceiling + 1, -8, 7);
  int lastDecoded = std::numeric_limits<int>::min();
  for (int sample = std::clamp(floor - 1, -8, 7); sample <= highest; ++sample) {
    int decoded = std::clamp((prediction + sample * scale) >> 6, -32768, 32767);
    if (decoded == lastDecoded) {
      continue;
    }
    lastDecoded = decoded;
    std::int64_t error = target - decoded;
    Path extended{path.error + error * error, {decoded, path.state.previous}};
    if (extended.error < bound) {
      offer(next, extended, {parent, static_cast<std::int8_t>(sample)});
    }
  }
}

// One coding's 4-bit samples searched with a beam of partial paths: the paths it ended with,
// best first, and the steps that lead to each.
struct CodingSearch {
  Beam beam;
  std::array<std::array<Step, largestWidth>, samplesPerUnit> steps{};
};

// Searches the unit from the paths of `beam`. A path whose error reaches `bound` is of no use to
// the caller and is dropped: errors only grow, so would every path it leads to, and the useful
// ones rank before it, so they come out the same without it.
void searchFrom(std::span<const std::int16_t, samplesPerUnit> samples, const UnitCoding& coding,
                const Beam& beam, std::int64_t bound, CodingSearch& search) {
  // Two beams in turn, each sample's extending the one before.
  std::array<Beam, 2> beams;
  beams[0] = beam;
  beams[1].width = beam.width;
  for (std::size_t k = 0; k < samplesPerUnit; ++k) {
    const auto& current = beams[k % 2];
    auto& next = beams[(k + 1) % 2];
    next.count = 0;
    for (std::size_t p = 0; p < current.count; ++p) {
      // The paths come best first, and none extends into less error than its own: from the
      // first one of no use, or shut out of a full beam, none after it enters.
      const auto& path = current.paths[p];
      if (path.error >= bound ||
          (next.count == next.width && path.error >= next.paths[next.count - 1].error)) {
        break;
      }
      extend(path, static_cast<std::uint8_t>(p), samples[k], coding, bound, next);
    }
    std::copy_n(next.steps.begin(), next.count, search.steps[k].begin());
  }
  search.beam = beams[samplesPerUnit % 2];
}

void searchWith(std::span<const std::int16_t, samplesPerUnit> samples, const UnitCoding& coding,
                const PredictorState& state, std::size_t width, std::int64_t bound,
                CodingSearch& search) {
  Beam beam;
  beam.width = width;
  beam.paths[0].state = state;
  beam.count = 1;
  searchFrom(samples, coding, beam, bound, search);
}

// The samples of the search's path `p`, found by walking back through the steps. Returns the
// path it started from.
std::size_t samplesOfPath(const CodingSearch& search, std::size_t p, SoundUnit& unit) {
  for (std::size_t k = samplesPerUnit; k-- > 0;) {
    unit.nibbles[k] = static_cast<std::uint8_t>(search.steps[k][p].sample & 0x0F);
    p = search.steps[k][p].parent;
  }
  return p;
}

// One encoding of the effect up to the end of a unit: its squared error from the effect's
// start, the decoder state it leaves, and, for the walk back, its unit and which encoding of
// the unit before it follows.
struct Hypothesis {
  std::int64_t error = 0;
  PredictorState state;
  SoundUnit unit;
  std::uint32_t parent = 0;
};

// The best encodings of a unit, in order of error, no two leaving the same state (the one of
// more error could never end better).
struct Carried {
  std::array<Hypothesis, largestWidth> kept{};
  std::size_t count = 0;
  std::size_t width = 0;
};

bool sameState(const PredictorState& a, const PredictorState& b) {
  return a.previous == b.previous && a.beforePrevious == b.beforePrevious;
}

constexpr std::int64_t noBound = std::numeric_limits<std::int64_t>::max();

// The error from which on `carry` keeps nothing: that of the worst kept, once they are full.
std::int64_t keptBound(const Carried& carried) {
  return carried.count == carried.width ? carried.kept[carried.count - 1].error : noBound;
}

// Keeps `hypothesis` if it is among the best so far. Of equal errors the first offered stays
// first, so that the search decides the same way on every run.
void carry(Carried& carried, const Hypothesis& hypothesis) {
  for (std::size_t k = 0; k < carried.count; ++k) {
    if (sameState(carried.kept[k].state, hypothesis.state)) {
      if (carried.kept[k].error <= hypothesis.error) {
        return;
      }
      std::copy(carried.kept.begin() + static_cast<std::ptrdiff_t>(k + 1),
                carried.kept.begin() + static_cast<std::ptrdiff_t>(carried.count),
                carried.kept.begin() + static_cast<std::ptrdiff_t>(k));
      --carried.count;
      break;
    }
  }
  if (carried.count == carried.width && hypothesis.error >= carried.kept[carried.count - 1].error) {
    return;
  }
  auto at = std::min(carried.count, carried.width - 1);
  for (; at > 0 && carried.kept[at - 1].error > hypothesis.error; --at) {
    carried.kept[at] = carried.kept[at - 1];
  }
  carried.kept[at] = hypothesis;
  carried.count = std::min(carried.count + 1, carried.width);
}

// The codings of a unit ranked by rankCodings.
using Ranking = std::array<Coding, largestWidth>;

// Offers the encodings of a unit that a search of it alone finds from `from`, whose codings
// `ranked` ranks (for `unitSearch.codings`): the greedy one of the best coding, then the paths
// of each coding searched, with the widths of `unitSearch`. Returns the one such a search would
// choose: the best, the greedy one on a tie.
Hypothesis offerEncodingsAlone(std::span<const std::int16_t, samplesPerUnit> samples,
                               const Ranking& ranked, const Hypothesis& from, std::uint32_t parent,
                               Carried& next) {
  Hypothesis alone{from.error + ranked[0].error, ranked[0].state, ranked[0].unit, parent};
  carry(next, alone);
  CodingSearch searched;
  for (std::size_t c = 0; c < unitSearch.codings; ++c) {
    if (ranked[c].error == std::numeric_limits<std::int64_t>::max()) {
      break;
    }
    // A path is of use while it may still be kept, or come out better than `alone`.
    auto bound = std::max(keptBound(next), alone.error) - from.error;
    searchWith(samples, unitCodingOf(ranked[c].parameter), from.state, unitSearch.beam, bound,
               searched);
    for (std::size_t p = 0; p < searched.beam.count; ++p) {
      Hypothesis encoding{
          from.error + searched.beam.paths[p].error, searched.beam.paths[p].state, {}, parent};
      encoding.unit.parameter = ranked[c].parameter;
      samplesOfPath(searched, p, encoding.unit);
      if (p == 0 && encoding.error < alone.error) {
        alone = encoding;
      }
      carry(next, encoding);
    }
  }
  return alone;
}

// Offers the encodings of a unit that carry on from any of `carried`: for each of the codings
// best from the best of them, one beam of paths that starts from all of them at once, so that
// a path from a worse start survives only by coming out better.
void offerEncodingsCarried(std::span<const std::int16_t, samplesPerUnit> samples,
                           const Ranking& ranked, const Carried& carried,
                           const EncoderSearch& search, Carried& next) {
  Beam starts;
  starts.width = search.beam;
  for (std::size_t h = 0; h < carried.count; ++h) {
    starts.paths[h] = {carried.kept[h].error, carried.kept[h].state};
  }
  starts.count = carried.count;
  CodingSearch searched;
  for (std::size_t c = 0; c < search.codings; ++c) {
    if (ranked[c].error == std::numeric_limits<std::int64_t>::max()) {
      break;
    }
    searchFrom(samples, unitCodingOf(ranked[c].parameter), starts, keptBound(next), searched);
    for (std::size_t p = 0; p < searched.beam.count; ++p) {
      const auto& path = searched.beam.paths[p];
      // The paths come best first: once one cannot be kept, none after it can.
      if (next.count == next.width && path.error >= next.kept[next.count - 1].error) {
        break;
      }
      Hypothesis encoding{path.error, path.state, {}, 0};
      encoding.unit.parameter = ranked[c].parameter;
      encoding.parent = static_cast<std::uint32_t>(samplesOfPath(searched, p, encoding.unit));
      carry(next, encoding);
    }
  }
}

// A kept encoding of a unit, as the walk back needs it: its nibbles two to a byte, so that
// the longest effect's traces take 16 bytes for each encoding carried.
struct Trace {
  std::uint8_t parameter = 0;
  std::uint8_t parent = 0;
  std::array<std::uint8_t, samplesPerUnit / 2> nibblePairs{};
};

Trace traceOf(const Hypothesis& hypothesis) {
  Trace trace{hypothesis.unit.parameter, static_cast<std::uint8_t>(hypothesis.parent), {}};
  for (std::size_t k = 0; k < trace.nibblePairs.size(); ++k) {
    trace.nibblePairs[k] = static_cast<std::uint8_t>(hypothesis.unit.nibbles[2 * k] |
                                                     hypothesis.unit.nibbles[2 * k + 1] << 4);
  }
  return trace;
}

SoundUnit unitOf(const Trace& trace) {
  SoundUnit unit;
  unit.parameter = trace.parameter;
  for (std::size_t k = 0; k < trace.nibblePairs.size(); ++k) {
    unit.nibbles[2 * k] = trace.nibblePairs[k] & 0x0F;
    unit.nibbles[2 * k + 1] = static_cast<std::uint8_t>(trace.nibblePairs[k] >> 4);
  }
  return unit;
}

// Where `carried` holds `hypothesis`'s state at no more error, or `carried.count`.
std::size_t indexAsGood(const Carried& carried, const Hypothesis& hypothesis) {
  std::size_t k = 0;
  while (k < carried.count && (!sameState(carried.kept[k].state, hypothesis.state) ||
                               carried.kept[k].error > hypothesis.error)) {
    ++k;
  }
  return k;
}

} // namespace

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
                       std::clamp<std::size_t>(widths.carried, 1, largestWidth)};
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
  for (std::size_t u = 0; u < unitCount; ++u) {
    auto unitSamples = std::span(padded).subspan(u * samplesPerUnit).first<samplesPerUnit>();
    Carried next;
    next.width = search.carried;
    auto aloneRanked = rankCodings(unitSamples, carried.kept[alone].state, unitSearch.codings);
    auto aloneNext = offerEncodingsAlone(unitSamples, aloneRanked, carried.kept[alone],
                                         static_cast<std::uint32_t>(alone), next);
    if (search.carried > 1) {
      // The codings are ranked from the best carried, which is often the one searched alone.
      bool sameRanking = alone == 0 && search.codings == unitSearch.codings;
      offerEncodingsCarried(unitSamples,
                            sameRanking
                                ? aloneRanked
                                : rankCodings(unitSamples, carried.kept[0].state, search.codings),
                            carried, search, next);
    }
    alone = indexAsGood(next, aloneNext);
    if (alone == next.count) {
      // Worse than every other kept: it takes the last place.
      alone = next.count - 1;
      next.kept[alone] = aloneNext;
    }
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
