// WAV files: the canonical header the WAV converter writes, and the reader of what a sound
// editor writes, for the replacer.
#pragma once

#include "byte_source.hpp"
#include "problem.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lvlsnd {

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

// Whether `start`, a file's first bytes (12 at least for a yes), is a RIFF/WAVE header: a WAV
// file, given where a level file or an effect file belongs.
bool startsLikeWav(std::span<const std::uint8_t> start);

// The header of a WAV file of 16-bit PCM mono samples at `sampleRate`, with `dataSize` bytes
// of samples following it.
std::array<std::uint8_t, wavHeaderSize> monoWavHeader(std::uint32_t sampleRate,
                                                      std::uint32_t dataSize);

// Where a WAV file's sound lies, as the reader finds it: its frames' shape and its data chunk.
struct WavLayout {
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;
  std::uint16_t bits = 0;
  std::uint16_t format = 0; // 1 for PCM, 3 for float (an extensible file's subformat)
  std::int64_t dataStart = 0;
  std::uint64_t frames = 0; // whole frames, cut to what the file holds
};

// Whether a WAV file of `layout` is laid out as lvlsnd-wav writes an effect of `frames` samples:
// 16-bit mono PCM of exactly that many frames (the rate alone may differ). Only such a file can
// hold an effect's samples unedited, when its sample bytes are the very bytes of the effect's.
bool isEffectWavLayout(const WavLayout& layout, std::uint64_t frames);

// The sound of a WAV file, as mono 16-bit samples.
struct WavSound {
  std::vector<std::int16_t> samples; // at most as many as were asked for
  WavLayout layout;                  // its frames: how many the file holds
};
// Finds the sound of a WAV file of a format readWavSound accepts. Returns what makes it
// unreadable; the problem's name is left to the caller.
Outcome readWavLayout(ByteSource& source, WavLayout& layout);
// Reads frames `first` on, as mono 16-bit samples, into all of `samples`; they must lie within
// the layout's frames. Returns "Cannot read" for a read error.
Outcome readWavFrames(ByteSource& source, const WavLayout& layout, std::uint64_t first,
                      std::span<std::int16_t> samples);

// Reads up to `wantedSamples` samples of a WAV file: RIFF chunks in any order, unknown
// chunks skipped; PCM of 8, 16, 24 or 32 bits or float of 32 or 64, plain or
// WAVE_FORMAT_EXTENSIBLE; 1 to 8 channels mixed to mono with equal weights, rounded down. A data
// chunk cut short gives the samples that are there. Returns what makes the file unreadable
// ("Cannot read" for a read error); a file of another kind (MP3, Ogg, FLAC, AIFF) or a WAV file
// of another format is named as what it is.
Outcome readWavSound(ByteSource& source, std::size_t wantedSamples, WavSound& sound);

} // namespace lvlsnd
