// ffmpeg and ffprobe, which nobody here wrote, as judges of what the tools write: effect files
// wrapped in CD-XA sectors for ffmpeg's XA ADPCM decoder, and WAV files read back by ffprobe.
#pragma once

#include "level_builder.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Samples = std::vector<std::int16_t>;

bool haveFfmpeg();

// Raw groups wrapped into CD-XA audio sectors of 18 groups (stereo, 37800 Hz), the last one
// padded with silent groups.
Bytes xaSectors(const Bytes& rawGroups);

struct Stereo {
  Samples left;
  Samples right;
};

// What ffmpeg's XA ADPCM decoder makes of `rawGroups`; `folder` takes its scratch files. An
// ffmpeg failure shows as a failed expectation.
Stereo decodeWithFfmpeg(const Bytes& rawGroups, const std::filesystem::path& folder);

// What ffprobe says of a WAV file's stream, as "codec rate channels samples", such as
// "pcm_s16le 37800 1 15120".
std::string probeWav(const std::filesystem::path& wav);

// The samples of a canonical 16-bit mono WAV file: everything after its 44-byte header.
Samples wavSamples(const Bytes& wav);

double signalToNoiseDb(const Samples& source, const Samples& decoded);
