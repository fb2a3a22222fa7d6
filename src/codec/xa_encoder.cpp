// The encoder of lvlsnd-replace: sound units found for 16-bit samples by searching the 4-bit
// samples that the decoder's own arithmetic turns back into them.
#include "xa_encoder.hpp"

#include <algorithm>
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

// Puts each of the first `count` of `keys` at its place in the order of `values` (all
// different) in `placed`, those past its end at its last place. The values are counted a whole
// vector of 8 at a time, the last filled up with the greatest value, whose place is of no use.
template <typename Value, std::size_t size>
[[gnu::always_inline]] inline void placeInOrder(std::array<Value, size>& values, std::size_t count,
                                                const std::array<Key, size>& keys,
                                                std::array<Key, largestWidth + 1>& placed) {
  auto rounded = (count + 7) / 8 * 8;
  std::fill(values.begin() + static_cast<std::ptrdiff_t>(count),
            values.begin() + static_cast<std::ptrdiff_t>(rounded),
            std::numeric_limits<Value>::max());
  std::array<Value, size> rank;
  std::fill_n(rank.begin(), rounded, 0);
  for (std::size_t j = 0; j < count; ++j) {
    auto value = values[j];
    for (std::size_t i = 0; i < rounded; ++i) {
      rank[i] += value < values[i] ? 1 : 0;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    placed[std::min(static_cast<std::size_t>(rank[i]), largestWidth)] = keys[i];
  }
}

// `selectLeast` for a beam of at most 4 paths, as the search of a unit alone keeps. The least
// 4 of two lists of 4 in order are the lesser of each pair of the first list's `i`-th and the
// second's `3 - i`-th, which a network of four exchanges puts in order; so the paths' lists are
// merged one by one, no branch taken on what they hold.
constexpr std::size_t narrowWidth = candidatesPerPath;

[[gnu::always_inline]] inline std::size_t selectLeastNarrow(const Candidates& candidates,
                                                            std::size_t count, std::size_t width,
                                                            std::span<Key, largestWidth> least) {
  std::array<Key, narrowWidth> kept;
  kept.fill(noCandidate);
  auto order = [&kept](std::size_t a, std::size_t b) {
    auto lower = std::min(kept[a], kept[b]);
    kept[b] = std::max(kept[a], kept[b]);
    kept[a] = lower;
  };
  for (std::size_t p = 0; p < count; ++p) {
    for (std::size_t i = 0; i < narrowWidth; ++i) {
      kept[i] = std::min(kept[i], candidates.keys[narrowWidth - 1 - i][p]);
    }
    order(0, 2);
    order(1, 3);
    order(0, 1);
    order(2, 3);
  }
  std::size_t found = 0;
  for (std::size_t r = 0; r < width; ++r) {
    least[r] = kept[r];
    found += kept[r] != noCandidate ? 1u : 0u;
  }
  return found;
}

// Puts the `width` least keys of the first `count` paths' candidates (all different) in order
// into `least`; returns how many there are.
[[gnu::always_inline]] inline std::size_t selectLeast(const Candidates& candidates,
                                                      std::size_t count, std::size_t width,
                                                      Key lowest,
                                                      std::span<Key, largestWidth> least) {
  if (width <= narrowWidth) {
    return selectLeastNarrow(candidates, count, width, least);
  }
  // A key above which none is among the least: the largest of `width` keys offered, the
  // `j + 1` least of each of the first `width / (j + 1)` paths (rounded up), whichever `j`
  // gives the lowest.
  Key threshold = noCandidate;
  for (std::size_t j = 0; j < candidatesPerPath; ++j) {
    auto paths = (width + j) / (j + 1);
    if (paths <= count) {
      Key largest = 0;
      for (std::size_t p = 0; p < paths; ++p) {
        largest = std::max(largest, candidates.keys[j][p]);
      }
      threshold = std::min(threshold, largest);
    }
  }
  // The keys up to the threshold, none left out where there is none. A path's come first in
  // its order: all four are copied, and the next path's copied over those beyond.
  auto end = threshold == noCandidate ? noCandidate : threshold + 1;
  std::array<Key, (largestWidth + 2) * candidatesPerPath> below;
  std::size_t belowCount = 0;
  for (std::size_t p = 0; p < count; ++p) {
    std::size_t taken = 0;
    for (std::size_t j = 0; j < candidatesPerPath; ++j) {
      below[belowCount + j] = candidates.keys[j][p];
      taken += candidates.keys[j][p] < end ? 1u : 0u;
    }
    belowCount += taken;
  }
  // Each key's place in order: how many are less. Where all lie within 2^31 of the least any
  // key can be, their distances from it order them as well, in vectors of twice the lanes.
  std::array<Key, largestWidth + 1> placed;
  if (threshold - lowest < Key{1} << 31) {
    std::array<std::int32_t, (largestWidth + 2) * candidatesPerPath> distances;
    for (std::size_t i = 0; i < belowCount; ++i) {
      distances[i] = static_cast<std::int32_t>(below[i] - lowest);
    }
    placeInOrder<std::int32_t>(distances, belowCount, below, placed);
  } else {
    placeInOrder<Key>(below, belowCount, below, placed);
  }
  auto kept = std::min(belowCount, width);
  std::copy_n(placed.begin(), kept, least.begin());
  return kept;
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
