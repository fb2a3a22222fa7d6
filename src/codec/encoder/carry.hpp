// The carry between units: the best few encodings of each unit, no two leaving the same
// decoder state, carried into the next, and the walk back that picks the units of the best.
// Included by xa_encoder.cpp alone, inside its own translation unit, so that the search compiled
// for each instruction set inlines all of it.
#pragma once

#include "beam.hpp"
#include "ranking.hpp"

namespace lvlsnd {
namespace {

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
[[gnu::always_inline]] inline Hypothesis
offerEncodingsAlone(std::span<const std::int16_t, samplesPerUnit> samples, const Ranking& ranked,
                    const Hypothesis& from, std::uint32_t parent, Carried& next) {
  Hypothesis alone{from.error + ranked[0].error, ranked[0].state, ranked[0].unit, parent};
  carry(next, alone);
  Beam searched;
  for (std::size_t c = 0; c < unitSearch.codings; ++c) {
    if (ranked[c].error == std::numeric_limits<std::int64_t>::max()) {
      break;
    }
    // A path is of use while it may still be kept, or come out better than `alone`.
    auto bound = std::max(keptBound(next), alone.error) - from.error;
    searchAlone(samples, unitCodingOf(ranked[c].parameter), from.state, bound, searched);
    for (std::size_t p = 0; p < searched.count; ++p) {
      Hypothesis encoding{from.error + searched.errors[p], stateOf(searched, p), {}, parent};
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
[[gnu::always_inline]] inline void
offerEncodingsCarried(std::span<const std::int16_t, samplesPerUnit> samples, const Ranking& ranked,
                      const Carried& carried, const EncoderSearch& search, Carried& next) {
  Beam starts;
  for (std::size_t h = 0; h < carried.count; ++h) {
    starts.errors[h] = carried.kept[h].error;
    starts.previous[h] = carried.kept[h].state.previous;
    starts.beforePrevious[h] = carried.kept[h].state.beforePrevious;
  }
  starts.count = carried.count;
  Beam searched;
  for (std::size_t c = 0; c < search.codings; ++c) {
    if (ranked[c].error == std::numeric_limits<std::int64_t>::max()) {
      break;
    }
    searchFrom(samples, unitCodingOf(ranked[c].parameter), starts, search.beam, keptBound(next),
               searched);
    for (std::size_t p = 0; p < searched.count; ++p) {
      // The paths come best first: once one cannot be kept, none after it can.
      if (searched.errors[p] >= keptBound(next)) {
        break;
      }
      Hypothesis encoding{searched.errors[p], stateOf(searched, p), {}, 0};
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

// Searches a unit from the encodings `carried` into `next`; returns where the encoding of a
// search of the unit alone is in `next`, given where `alone` was in `carried`.
[[gnu::always_inline]] inline std::size_t
searchUnit(std::span<const std::int16_t, samplesPerUnit> samples, const EncoderSearch& search,
           const Carried& carried, std::size_t alone, Carried& next) {
  auto aloneRanked = rankCodings(samples, carried.kept[alone].state, unitSearch.codings);
  auto aloneNext = offerEncodingsAlone(samples, aloneRanked, carried.kept[alone],
                                       static_cast<std::uint32_t>(alone), next);
  if (search.carried > 1) {
    // The codings are ranked from the best carried, which is often the one searched alone.
    bool sameRanking = alone == 0 && search.codings == unitSearch.codings;
    offerEncodingsCarried(samples,
                          sameRanking ? aloneRanked
                                      : rankCodings(samples, carried.kept[0].state, search.codings),
                          carried, search, next);
  }
  auto at = indexAsGood(next, aloneNext);
  if (at == next.count) {
    // Worse than every other kept: it takes the last place.
    at = next.count - 1;
    next.kept[at] = aloneNext;
  }
  return at;
}

} // namespace
} // namespace lvlsnd
