// A WAV file's sound as lvlsnd-replace puts it into an effect, shared with lvlsnd-wav, which
// asks whether an edit is in the level: as much of it read as the effect takes, brought to the
// effect's rate, cut and padded to its length; the key under which its encoding is remembered;
// and the digests that tell two encodings apart.
#pragma once

#include "byte_source.hpp"
#include "encoding_cache.hpp"
#include "problem.hpp"
#include "wav.hpp"
#include "xa_adpcm.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace lvlsnd {

// Whether a WAV file's own rate is one its sound can be resampled from.
bool takesRate(std::uint32_t wavRate);

// Reads the WAV file's layout and as many of its samples as an effect of `effectSamples`
// samples at `rate` takes (none when its own rate is not taken). The problem when it is no WAV
// file the reader takes; its name is left to the caller.
Outcome readSoundFor(ByteSource& source, std::uint64_t effectSamples, std::uint32_t rate,
                     WavSound& sound);

// The whole sound's length at `rate`, in samples.
std::uint64_t lengthAtRate(const WavSound& sound, std::uint32_t rate);

// The samples that go into an effect of `effectSamples` samples at `rate`: the sound read by
// readSoundFor, resampled when its rate is another, its beginning when it is longer, padded
// with silence when shorter.
std::vector<std::int16_t> samplesForEffect(const WavSound& sound, std::uint32_t rate,
                                           std::uint64_t effectSamples);

// What shapes the encoding of a sound read by readSoundFor: its samples and rate, the whole
// sound's length, the effect's rate and length, whether it was cut, and the encoder's edition.
Digest encodingKey(const WavSound& sound, std::uint32_t rate, std::uint64_t effectSamples,
                   bool cut);

// The digest of an effect's groups as an effect file holds them: of encoded units, or of the
// units an entry's stored groups hold (`unitSelector` picks them).
Digest digestOfUnits(std::span<const SoundUnit> units);
Digest digestOfStoredGroups(std::span<const StoredGroup> groups, std::uint8_t unitSelector);

} // namespace lvlsnd
