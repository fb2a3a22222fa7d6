// The paths the encoder's search keeps and the candidates they extend into, as plain arrays,
// and the decoder's arithmetic as the search does it.
// Included by xa_encoder.cpp alone, inside its own translation unit, so that the search compiled
// for each instruction set inlines all of it.
#pragma once

#include "xa_encoder.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace lvlsnd {
namespace {

// The search: the codings with the least greedy error are searched again, keeping at each
// sample the partial paths with the least squared error so far; and the best few encodings of
// each unit are carried into the next, since the encoding best for one unit need not leave
// the state best for the next. The widths are chosen by bench/encoder_quality.py.
constexpr std::size_t largestWidth = 32;
// The widths of a search of one unit alone: 4 paths of 4 codings.
constexpr EncoderSearch unitSearch{4, 4, 1};

// The parameter byte of lane `c` of `rankCodings`.
constexpr std::uint8_t parameterOf(std::size_t c) {
  return static_cast<std::uint8_t>(c / (largestRange + 1) << 4 | c % (largestRange + 1));
}

// A coding with its greedy result, the first pass's ranking.
struct Coding {
  std::uint8_t parameter = 0;
  std::int64_t error = std::numeric_limits<std::int64_t>::max();
  SoundUnit unit;
  PredictorState state;
};

// A beam: the partial paths of least error at one sample, in order of error, as plain arrays:
// their squared errors, from the search's start, the decoder states they reached, and their
// 4-bit samples so far, sample `k` in bits `4 * (k % 16)` of word `k / 16`, with the number of
// the start they came from in bits 48 and up of the second word.
struct Beam {
  std::array<std::int64_t, largestWidth> errors{};
  std::array<int, largestWidth> previous{};
  std::array<int, largestWidth> beforePrevious{};
  std::array<std::array<std::uint64_t, 2>, largestWidth> nibbles{};
  std::size_t count = 0;
};

constexpr unsigned startBit = 48;

// Candidates: each path of a beam extends into at most 4 (see `extend`), the candidate
// `4 * path + i` being its `i`-th 4-bit sample from the lowest it tries. A candidate's key
// holds its error in the high bits and that number in the low ones, so that keys order
// candidates as the beam keeps them: by error, and of equal errors the first found (path by
// path, 4-bit samples upwards) first.
constexpr std::size_t candidatesPerPath = 4;
constexpr unsigned candidateBits = 7;
static_assert(largestWidth * candidatesPerPath <= std::size_t{1} << candidateBits);
using Key = std::int64_t;
constexpr Key noCandidate = std::numeric_limits<Key>::max();
// Errors are counted from the best start of a search, so they stay far below this (2^32 a
// sample at the very most); a path that reached it is given up.
constexpr std::int64_t largestError = std::int64_t{1} << (63 - candidateBits);

// The candidates of one sample: the keys of path `p` in order at `[0][p]` to `[3][p]`, and what
// candidate `i` of path `p` decodes to at `[i][p]`.
struct Candidates {
  std::array<std::array<Key, largestWidth>, candidatesPerPath> keys;
  std::array<std::array<int, largestWidth>, candidatesPerPath> decoded;
  std::array<int, largestWidth> lowestSample;
};

// decodeSample's arithmetic split in two, so that the part that does not depend on the 4-bit
// sample is taken once for all the samples tried, and written without a branch, so that the
// passes below turn into vector instructions: the sum before the 4-bit sample's part...
inline int predictionSum(int gainPrevious, int previous, int gainBeforePrevious,
                         int beforePrevious) {
  return gainPrevious * previous + gainBeforePrevious * beforePrevious + 32;
}

// ...and the 16-bit sample that `sample` decodes to from it, the step being `scale`
// (64 << shift), clamped as the decoder clamps.
inline int decodedFrom(int prediction, int sample, int scale) {
  return std::min(std::max((prediction + sample * scale) >> 6, -32768), 32767);
}

} // namespace
} // namespace lvlsnd
