// Builds WAV files chunk by chunk for the tests, apart from the tools' own WAV code.
#pragma once

#include "level_builder.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Chunk = std::pair<std::string, Bytes>; // a four-letter tag and the chunk's bytes

// A fmt chunk's bytes; `subformat` other than 0 makes it WAVE_FORMAT_EXTENSIBLE.
Bytes fmtBytes(std::uint16_t format, std::uint16_t channels, std::uint16_t bits,
               std::uint16_t subformat = 0, std::uint32_t rate = 37800);

// "RIFF", size, "WAVE", then the chunks, each padded to an even size.
Bytes wavFile(const std::vector<Chunk>& chunks);

// A 16-bit mono WAV file.
Bytes monoWav(const std::vector<std::int16_t>& samples, std::uint32_t rate = 37800);
