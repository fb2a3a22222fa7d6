// Sounds at another rate than the effect's, brought to the effect's rate by libsoxr at its very
// high quality, so that a WAV file at any rate an editor saves goes in as it sounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace lvlsnd {

// The rates a WAV file may have to be resampled from.
inline constexpr std::uint32_t lowestWavRate = 1000;
inline constexpr std::uint32_t highestWavRate = 768000;

// How many samples `frames` at `from` Hz become at `to` Hz, rounded to the nearest.
std::uint64_t resampledLength(std::uint64_t frames, std::uint32_t from, std::uint32_t to);
// How many samples at `from` Hz are enough to resample the first `samples` at `to` Hz as the
// whole sound would give them: those, and a second more for the filter to look ahead.
std::uint64_t framesFor(std::uint64_t samples, std::uint32_t from, std::uint32_t to);

// `samples` at `from` Hz resampled to `to` Hz: resampledLength(samples.size(), from, to) of
// them, or, when the sound was cut (`frames`, the whole sound's length, being more), the first
// resampledLength(frames, from, to). The same samples on every build: libsoxr's double-precision
// filter without vector instructions, float in and out, rounded to 16 bits.
std::vector<std::int16_t> resampled(std::span<const std::int16_t> samples, std::uint64_t frames,
                                    std::uint32_t from, std::uint32_t to);

} // namespace lvlsnd
