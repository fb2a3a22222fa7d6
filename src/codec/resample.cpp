#include "resample.hpp"

#include "environment.hpp"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace lvlsnd {

std::uint64_t resampledLength(std::uint64_t frames, std::uint32_t from, std::uint32_t to) {
  // 64 bits hold any WAV file's frames (2^32 at most) times any rate (under 2^20).
  return (frames * to + from / 2) / from;
}

std::uint64_t framesFor(std::uint64_t samples, std::uint32_t from, std::uint32_t to) {
  return (samples * from + to - 1) / to + from;
}

std::vector<std::int16_t> resampled(std::span<const std::int16_t> samples, std::uint64_t frames,
                                    std::uint32_t from, std::uint32_t to) {
  std::vector<float> in(samples.size());
  std::transform(samples.begin(), samples.end(), in.begin(),
                 [](std::int16_t sample) { return static_cast<float>(sample) / 32768.0f; });
  auto length = resampledLength(std::max<std::uint64_t>(frames, samples.size()), from, to);
  auto wanted = std::min(length, resampledLength(samples.size(), from, to));
  std::vector<float> out(static_cast<std::size_t>(wanted));
  if (out.empty() || in.empty()) {
    return std::vector<std::int16_t>(out.size()); // libsoxr takes no empty buffer
  }
  // libsoxr takes its vector instructions where the processor has them, and those may round
  // otherwise than its plain double-precision code: the plain code everywhere.
  setEnvironment("SOXR_USE_SIMD", "0");
  auto io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  auto quality = soxr_quality_spec(SOXR_VHQ, 0);
  auto runtime = soxr_runtime_spec(1);
  std::size_t done = 0;
  auto error = soxr_oneshot(from, to, 1, in.data(), in.size(), nullptr, out.data(), out.size(),
                            &done, &io, &quality, &runtime);
  if (error != nullptr) {
    done = 0; // only settings of its own making could be refused: silence, never noise
  }
  std::vector<std::int16_t> result(out.size());
  for (std::size_t k = 0; k < done; ++k) {
    auto value = std::clamp(static_cast<double>(out[k]) * 32768.0, -32768.0, 32767.0);
    result[k] = static_cast<std::int16_t>(std::lround(value));
  }
  return result;
}

} // namespace lvlsnd
