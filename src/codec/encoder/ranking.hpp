// The first pass of the search: every filter and range encoded greedily side by side, ranked
// by its error.
// Included by xa_encoder.cpp alone, inside its own translation unit, so that the search compiled
// for each instruction set inlines all of it.
#pragma once

#include "paths.hpp"

namespace lvlsnd {
namespace {

// Every filter and range, encoded greedily side by side: lane `c` is filter `c / 13`, range
// `c % 13`, the order of their parameter bytes; the lanes past the last are never chosen.
constexpr std::size_t codingCount = filterCount * (largestRange + 1);
constexpr std::size_t codingLanes = 56; // 52 rounded up to whole vectors of 8

struct CodingLanes {
  std::array<int, codingLanes> gainPrevious{};
  std::array<int, codingLanes> gainBeforePrevious{};
  std::array<int, codingLanes> shift{};
};

CodingLanes codingLanesOf() {
  CodingLanes lanes;
  for (std::size_t c = 0; c < codingLanes; ++c) {
    auto coding = c < codingCount ? unitCodingOf(parameterOf(c)) : UnitCoding{0, 0, 0};
    lanes.gainPrevious[c] = coding.gainPrevious;
    lanes.gainBeforePrevious[c] = coding.gainBeforePrevious;
    lanes.shift[c] = coding.shift;
  }
  return lanes;
}

// Ranks every filter and range by the error of its greedy encoding, each 4-bit sample the one
// nearest to what the prediction left over (rounded half away from zero), keeping the best
// `count` in order; of equal errors, the one of the lower parameter byte first.
[[gnu::always_inline]] inline std::array<Coding, largestWidth>
rankCodings(std::span<const std::int16_t, samplesPerUnit> samples, const PredictorState& state,
            std::size_t count) {
  static const auto lanes = codingLanesOf();
  std::array<int, codingLanes> previous;
  std::array<int, codingLanes> beforePrevious;
  std::array<std::uint64_t, codingLanes> errors{};
  std::array<std::array<std::uint8_t, codingLanes>, samplesPerUnit> nibbles;
  previous.fill(state.previous);
  beforePrevious.fill(state.beforePrevious);
  for (std::size_t k = 0; k < samplesPerUnit; ++k) {
    int target = samples[k];
    for (std::size_t c = 0; c < codingLanes; ++c) {
      int shift = lanes.shift[c];
      int prediction = predictionSum(lanes.gainPrevious[c], previous[c],
                                     lanes.gainBeforePrevious[c], beforePrevious[c]);
      int difference = target - (prediction >> 6);
      int half = (1 << shift) >> 1;
      int quotient =
          difference >= 0 ? (difference + half) >> shift : -((half - difference) >> shift);
      int sample = std::min(std::max(quotient, -8), 7);
      int decoded = decodedFrom(prediction, sample, 64 << shift);
      auto miss = static_cast<std::uint32_t>(target - decoded);
      errors[c] += miss * miss;
      beforePrevious[c] = previous[c];
      previous[c] = decoded;
      nibbles[k][c] = static_cast<std::uint8_t>(sample & 0x0F);
    }
  }
  // Keys as in the search: the error, then the lane.
  std::array<Key, codingLanes> keys;
  for (std::size_t c = 0; c < codingLanes; ++c) {
    keys[c] = c < codingCount ? static_cast<Key>(errors[c] << 6 | c) : noCandidate;
  }
  std::array<Coding, largestWidth> best{};
  for (std::size_t r = 0; r < count; ++r) {
    auto least = *std::min_element(keys.begin(), keys.end());
    auto c = static_cast<std::size_t>(least & 63);
    keys[c] = noCandidate;
    best[r].parameter = parameterOf(c);
    best[r].error = static_cast<std::int64_t>(errors[c]);
    best[r].unit.parameter = best[r].parameter;
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      best[r].unit.nibbles[k] = nibbles[k][c];
    }
    best[r].state = {previous[c], beforePrevious[c]};
  }
  return best;
}

} // namespace
} // namespace lvlsnd
