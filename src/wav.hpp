// WAV files: the canonical header the WAV converter writes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// RIFF, WAVE, a 16-byte fmt chunk and the data chunk's own header.
inline constexpr std::size_t wavHeaderSize = 44;
// RIFF sizes are 32-bit and count from byte 8, so this is the most data a WAV file can hold.
inline constexpr std::uint64_t largestWavData = 0xFFFFFFFFu - (wavHeaderSize - 8);

inline void putU16le(std::uint8_t* bytes, std::uint16_t value) {
  bytes[0] = static_cast<std::uint8_t>(value);
  bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32le(std::uint8_t* bytes, std::uint32_t value) {
  putU16le(bytes, static_cast<std::uint16_t>(value));
  putU16le(bytes + 2, static_cast<std::uint16_t>(value >> 16));
}

// The header of a WAV file of 16-bit PCM mono samples at `sampleRate`, with `dataSize` bytes
// of samples following it.
std::array<std::uint8_t, wavHeaderSize> monoWavHeader(std::uint32_t sampleRate,
                                                      std::uint32_t dataSize);
