// The selection network of the search: the least candidates of a sample put in order, so that
// a beam keeps the paths of least error.
// Included by xa_encoder.cpp alone, inside its own translation unit, so that the search compiled
// for each instruction set inlines all of it.
#pragma once

#include "paths.hpp"

namespace lvlsnd {
namespace {

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

} // namespace
} // namespace lvlsnd
