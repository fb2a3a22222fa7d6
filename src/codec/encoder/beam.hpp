// The search of one unit: the paths of a beam extended sample by sample into their candidates,
// the least of which the next beam keeps.
// Included by xa_encoder.cpp alone, inside its own translation unit, so that the search compiled
// for each instruction set inlines all of it.
#pragma once

#include "paths.hpp"
#include "selection.hpp"

namespace lvlsnd {
namespace {

// The candidates that the first `count` paths of `beam` extend into at `target`: each 4-bit
// sample from one below the floor of the ideal value to one above its ceiling, within -8 to 7,
// decoded by the decoder's own step so that its rounding and clamp are part of the search. A
// sample that the clamp decodes to the same value as the one below it leads nowhere new and is
// left out, so that copies of one path do not fill the beam; so is one whose error reaches
// `limit`. Plain passes over the paths, which the compiler turns into vector instructions.
[[gnu::always_inline]] inline void extend(const Beam& beam, std::size_t count, int target,
                                          const UnitCoding& coding, std::int64_t limit,
                                          Candidates& candidates) {
  // Copies the compiler can keep in registers while it writes the candidates.
  const int gainPrevious = coding.gainPrevious;
  const int gainBeforePrevious = coding.gainBeforePrevious;
  const int shift = coding.shift;
  const int scale = 64 << shift;
  const int remainderMask = (1 << shift) - 1;
  // Whole vectors of paths, those past `count` offering no candidate: the compiler lays the
  // pass out for 8 paths at a time.
  auto rounded = (count + 7) / 8 * 8;
  for (std::size_t p = 0; p < rounded; ++p) {
    int prediction =
        predictionSum(gainPrevious, beam.previous[p], gainBeforePrevious, beam.beforePrevious[p]);
    int difference = target - (prediction >> 6);
    int floor = difference >> shift;
    int ceiling = floor + ((difference & remainderMask) != 0 ? 1 : 0);
    // Far outside -8 to 7 the only candidate left is the nearest end.
    int lowest = std::min(std::max(floor - 1, -8), 7);
    int highest = std::min(std::max(ceiling + 1, -8), 7);
    candidates.lowestSample[p] = lowest;
    // The key of the `i`-th candidate, which decodes to `decoded`; `noCandidate` where it is
    // left out.
    auto keyOf = [&](std::size_t i, int decoded, int decodedBelow) {
      // The square of a miss below 2^16 is below 2^32: an unsigned 32-bit product, exact.
      auto miss = static_cast<std::uint32_t>(target - decoded);
      auto error = beam.errors[p] + static_cast<std::int64_t>(miss * miss);
      bool kept = (p < count) & (lowest + static_cast<int>(i) <= highest) &
                  (decoded != decodedBelow) & (error < limit);
      return kept ? error << candidateBits | static_cast<Key>(candidatesPerPath * p + i)
                  : noCandidate;
    };
    int decoded0 = decodedFrom(prediction, lowest, scale);
    int decoded1 = decodedFrom(prediction, lowest + 1, scale);
    int decoded2 = decodedFrom(prediction, lowest + 2, scale);
    int decoded3 = decodedFrom(prediction, lowest + 3, scale);
    candidates.decoded[0][p] = decoded0;
    candidates.decoded[1][p] = decoded1;
    candidates.decoded[2][p] = decoded2;
    candidates.decoded[3][p] = decoded3;
    // The path's keys put in order by a network of five exchanges.
    std::array<Key, candidatesPerPath> keys{
        keyOf(0, decoded0, std::numeric_limits<int>::min()), keyOf(1, decoded1, decoded0),
        keyOf(2, decoded2, decoded1), keyOf(3, decoded3, decoded2)};
    auto order = [&keys](std::size_t a, std::size_t b) {
      auto least = std::min(keys[a], keys[b]);
      keys[b] = std::max(keys[a], keys[b]);
      keys[a] = least;
    };
    order(0, 1);
    order(2, 3);
    order(0, 2);
    order(1, 3);
    order(1, 2);
    for (std::size_t j = 0; j < candidatesPerPath; ++j) {
      candidates.keys[j][p] = keys[j];
    }
  }
}

// Searches the unit from the paths of `starts`, keeping `width` paths at each sample. A path
// whose error reaches `bound` is of no use to the caller and is dropped: errors only grow, so
// would every path it leads to, and the useful ones rank before it, so they come out the same
// without it.
[[gnu::always_inline]] inline void searchFrom(std::span<const std::int16_t, samplesPerUnit> samples,
                                              const UnitCoding& coding, const Beam& starts,
                                              std::size_t width, std::int64_t bound,
                                              Beam& searched) {
  // Errors from the best start on: the keys' high bits hold them.
  auto base = starts.errors[0];
  auto limit = bound <= base ? 0 : std::min(bound - base, largestError);
  // Two beams in turn, each sample's extending the one before.
  std::array<Beam, 2> beams;
  beams[0] = starts;
  for (std::size_t p = 0; p < starts.count; ++p) {
    beams[0].errors[p] -= base;
    beams[0].nibbles[p] = {0, std::uint64_t{p} << startBit};
  }
  Candidates candidates;
  for (std::size_t k = 0; k < samplesPerUnit; ++k) {
    const auto& beam = beams[k % 2];
    auto& next = beams[(k + 1) % 2];
    // The paths come best first, and none extends into less error than its own.
    std::size_t extended = 0;
    while (extended < beam.count && beam.errors[extended] < limit) {
      ++extended;
    }
    extend(beam, extended, samples[k], coding, limit, candidates);
    std::array<Key, largestWidth> keys;
    next.count = selectLeast(candidates, extended, width, beam.errors[0] << candidateBits, keys);
    for (std::size_t j = 0; j < next.count; ++j) {
      auto c = static_cast<std::size_t>(keys[j] & ((1 << candidateBits) - 1));
      auto p = c / candidatesPerPath;
      auto i = c % candidatesPerPath;
      next.errors[j] = keys[j] >> candidateBits;
      next.previous[j] = candidates.decoded[i][p];
      next.beforePrevious[j] = beam.previous[p];
      auto sample = candidates.lowestSample[p] + static_cast<int>(i);
      next.nibbles[j] = beam.nibbles[p];
      next.nibbles[j][k / 16] |= static_cast<std::uint64_t>(sample & 0x0F) << 4 * (k % 16);
    }
  }
  searched = beams[samplesPerUnit % 2];
  for (std::size_t p = 0; p < searched.count; ++p) {
    searched.errors[p] += base;
  }
}

PredictorState stateOf(const Beam& beam, std::size_t p) {
  return {beam.previous[p], beam.beforePrevious[p]};
}

// Searches the unit from `state` alone, with the widths of `unitSearch`.
[[gnu::always_inline]] inline void
searchAlone(std::span<const std::int16_t, samplesPerUnit> samples, const UnitCoding& coding,
            const PredictorState& state, std::int64_t bound, Beam& searched) {
  Beam start;
  start.previous[0] = state.previous;
  start.beforePrevious[0] = state.beforePrevious;
  start.count = 1;
  searchFrom(samples, coding, start, unitSearch.beam, bound, searched);
}

// The 4-bit samples of path `p` of a searched beam. Returns the start it came from.
std::size_t samplesOfPath(const Beam& searched, std::size_t p, SoundUnit& unit) {
  const auto& nibbles = searched.nibbles[p];
  for (std::size_t k = 0; k < samplesPerUnit; ++k) {
    unit.nibbles[k] = static_cast<std::uint8_t>(nibbles[k / 16] >> 4 * (k % 16) & 0x0F);
  }
  return static_cast<std::size_t>(nibbles[1] >> startBit);
}

} // namespace
} // namespace lvlsnd
