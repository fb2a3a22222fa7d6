// The encoder: 16-bit samples as the sound units of 4-bit XA ADPCM groups, whose decoding comes
// as close to them as a search of their 4-bit samples finds. Only lvlsnd-replace encodes.
#pragma once

#include "xa_adpcm.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lvlsnd {

// Encodes 28 samples with the filter (0 to 3) and range (0 to 12) whose decoding comes
// closest, in least squared error, and leaves `state` as a decoder's after the unit. For the
// few best codings the 4-bit samples are searched together, since rounding one sample changes
// the prediction of all the ones after it; the result is never worse than rounding each.
SoundUnit encodeUnit(std::span<const std::int16_t, samplesPerUnit> samples, PredictorState& state);
// The same with each sample rounded to the nearest 4-bit value: the search's first pass.
SoundUnit encodeUnitGreedy(std::span<const std::int16_t, samplesPerUnit> samples,
                           PredictorState& state);

// How widely the encoder searches a unit, each from 1 to 32: the codings of least greedy error
// searched (ranked from the best encoding so far), the partial paths kept at each sample by
// one search of a coding from all the encodings carried, and the encodings of each unit
// carried into the next.
// The instructions the search runs on: the widest this processor has (AVX2, else SSE4.2, on
// x86-64), or one set by name, of which a processor that lacks it runs the widest below it
// that it has. All choose the very same units; the sets by name are there to show it.
// The edition of the encoder's output: raise it whenever any sound encodes to other units, so
// that encodings remembered from an earlier edition are not taken for this one's.
inline constexpr int encoderEdition = 1;

enum class SearchInstructions { widest, avx2, sse42, baseline };

// The name of the instructions a search asked for runs on here: "AVX2", "SSE4.2" or
// "baseline".
const char* searchInstructionsName(SearchInstructions asked = SearchInstructions::widest);

struct EncoderSearch {
  std::size_t codings = 4;
  std::size_t beam = 20;
  std::size_t carried = 10;
  SearchInstructions instructions = SearchInstructions::widest;
};

// Encodes `samples`, padded with silence to whole units, as consecutive units from a decoder
// state of 0: of the encodings the search carries from unit to unit, the one of least squared
// error over all the samples. Never worse than deciding each unit alone (`carried` 1), which
// is never worse than rounding. When `unitsDone` is given, it counts the units searched, so
// that another thread can show how far the search is.
std::vector<SoundUnit> encodeUnits(std::span<const std::int16_t> samples,
                                   const EncoderSearch& search = {},
                                   std::atomic<std::size_t>* unitsDone = nullptr);

} // namespace lvlsnd
