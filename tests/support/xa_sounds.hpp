// Synthetic sounds encoded as 4-bit XA ADPCM sound units, laid into the stored groups of a
// level file. They make the sample level file and let tests decode what the tool extracted.
#pragma once

#include "level_builder.hpp"
#include "xa_encoder.hpp"

#include <cstdint>
#include <vector>

inline constexpr int sampleRate = 37800;

// Stored groups that carry `even` in units 0, 2, 4, 6 and `odd` in units 1, 3, 5, 7, four
// units of each a group, in order; the shorter one is followed by silent units.
Bytes storedGroupsOf(const std::vector<lvlsnd::SoundUnit>& even,
                     const std::vector<lvlsnd::SoundUnit>& odd);

std::vector<std::int16_t> toneSamples();  // 0.3 s of 440 Hz
std::vector<std::int16_t> sweepSamples(); // 0.4 s rising from 200 Hz to 4 kHz
std::vector<std::int16_t> noiseSamples(); // 0.2 s of fading noise

// The sample level file: level 3, with the tone (even units) and the sweep (odd units) in
// shared stored groups, an entry with no groups, and the noise burst in odd units of its own.
inline constexpr int sampleLevel = 3;
inline constexpr int sampleToneEntry = 1;
Bytes sampleLevelFile();
