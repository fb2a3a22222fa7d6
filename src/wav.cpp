#include "wav.hpp"

#include <cstring>

namespace {

constexpr std::uint16_t pcmFormat = 1;
constexpr std::uint16_t bytesPerSample = 2;

void putTag(std::uint8_t* bytes, const char (&tag)[5]) {
  std::memcpy(bytes, tag, 4);
}

} // namespace

std::array<std::uint8_t, wavHeaderSize> monoWavHeader(std::uint32_t sampleRate,
                                                      std::uint32_t dataSize) {
  std::array<std::uint8_t, wavHeaderSize> header{};
  auto* bytes = header.data();
  putTag(bytes, "RIFF");
  putU32le(bytes + 4, static_cast<std::uint32_t>(wavHeaderSize - 8 + dataSize));
  putTag(bytes + 8, "WAVE");
  putTag(bytes + 12, "fmt ");
  putU32le(bytes + 16, 16);
  putU16le(bytes + 20, pcmFormat);
  putU16le(bytes + 22, 1); // channels
  putU32le(bytes + 24, sampleRate);
  putU32le(bytes + 28, sampleRate * bytesPerSample);
  putU16le(bytes + 32, bytesPerSample); // block align
  putU16le(bytes + 34, 8 * bytesPerSample);
  putTag(bytes + 36, "data");
  putU32le(bytes + 40, dataSize);
  return header;
}
