// The resampler: how long a resampled sound is, and that it keeps its pitch.
#include "resample.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace lvlsnd;

namespace {

std::vector<std::int16_t> sine(double frequency, std::uint32_t rate, std::size_t count) {
  std::vector<std::int16_t> samples(count);
  for (std::size_t k = 0; k < count; ++k) {
    samples[k] = static_cast<std::int16_t>(
        10000 * std::sin(2 * M_PI * frequency * static_cast<double>(k) / rate));
  }
  return samples;
}

// Upward zero crossings: a sine's frequency times its seconds.
std::size_t risingCrossings(const std::vector<std::int16_t>& samples) {
  std::size_t count = 0;
  for (std::size_t k = 1; k < samples.size(); ++k) {
    count += samples[k - 1] < 0 && samples[k] >= 0 ? 1 : 0;
  }
  return count;
}

TEST(Resample, ASoundKeepsItsPitchAndSecondsAtAnyRate) {
  struct Case {
    std::uint32_t from;
    std::size_t samples;
    std::size_t frames; // the whole sound's, when only its beginning was read
    std::size_t length; // at 37800 Hz
  };
  const Case cases[] = {
      {44100, 44100, 44100, 37800},
      {8000, 8000, 8000, 37800},
      {768000, 76800, 76800, 3780},
      {1000, 1000, 1000, 37800},
      {44100, 4410, 44100, 3780},
      {562088, 3, 3, 0},
      {22050, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto samples = resampled(sine(440, c.from, c.samples), c.frames, c.from, 37800);
    EXPECT_EQ(samples.size(), c.length) << c.from;
    EXPECT_EQ(resampledLength(c.samples, c.from, 37800), c.length) << c.from;
    // 440 Hz stays 440 Hz: as many crossings a second, give or take the edges.
    auto seconds = static_cast<double>(c.length) / 37800;
    EXPECT_NEAR(static_cast<double>(risingCrossings(samples)), 440 * seconds, 2) << c.from;
  }
}

} // namespace
