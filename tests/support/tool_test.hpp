// A test fixture with its own scratch folder, for tests that write level files.
#pragma once

#include "level_builder.hpp"
#include "tool_runner.hpp"
#include "xa_adpcm.hpp"

#include <gtest/gtest.h>
#include <span>
#include <sstream>
#include <string>
#include <vector>

class ScratchTest : public ::testing::Test {
protected:
  ~ScratchTest() override { removeScratch(scratch); }

  // Writes `bytes` as `name` beside the working directory and returns the path the tool is
  // given for it, relative to the working directory.
  std::string putLevelFile(const std::string& name, const Bytes& bytes) {
    writeFile((scratch.root / name).string().c_str(), bytes);
    return "../" + name;
  }

  Scratch scratch = makeScratch();
};

// The two lines that every run over a readable level file prints before the effects.
inline std::string headerLines(const std::string& path, const std::string& soundHeaderOffset) {
  return "Reading block header from " + path + " @$0...\nReading sound header from " + path +
         " @$" + soundHeaderOffset + "...\n";
}

// The effect file content for `groups` (whole stored groups, back to back). The conversion
// itself is pinned by the group conversion tests; these tests pin what goes around it.
inline Bytes effectOf(const Bytes& groups, std::uint8_t unitSelector) {
  Bytes raw;
  for (std::size_t at = 0; at < groups.size(); at += lvlsnd::storedGroupSize) {
    lvlsnd::StoredGroup stored;
    std::copy_n(groups.begin() + static_cast<std::ptrdiff_t>(at), lvlsnd::storedGroupSize,
                stored.begin());
    auto converted = lvlsnd::convertGroup(stored, unitSelector);
    raw.insert(raw.end(), converted.begin(), converted.end());
  }
  return raw;
}

// What the system says of a folder opened as a file: Windows refuses the open itself.
inline std::string folderReason() {
  return runningWindowsBuild() ? "Permission denied" : "Is a directory";
}

inline Bytes countingGroups(std::size_t count, std::uint8_t seed) {
  Bytes groups;
  for (std::size_t k = 0; k < count; ++k) {
    auto group = countingGroup(static_cast<std::uint8_t>(seed + 11 * k));
    groups.insert(groups.end(), group.begin(), group.end());
  }
  return groups;
}

inline Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

inline std::string hex(std::uint32_t value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

inline std::string effectLine(const std::string& name, int groups, const std::string& path,
                              std::uint32_t offset) {
  return "Extracting " + name + " (" + std::to_string(groups) + " groups) from " + path + " @$" +
         hex(offset) + "...\n";
}

inline std::string openingLines(int level, const std::string& path, std::uint32_t soundHeader) {
  return "Extracting Orrelin sound effects from level " + std::to_string(level) + " data:\n" +
         headerLines(path, hex(soundHeader));
}

// Raw groups as in an effect file, of random sample data, each odd unit with a random filter
// (0 to 3) and range (0 to 12): loud enough that decoding hits the clamp.
inline Bytes randomRawGroups(std::size_t count, std::uint32_t seed) {
  Bytes groups(count * lvlsnd::rawGroupSize);
  for (std::size_t k = 0; k < groups.size(); ++k) {
    seed = seed * 1664525u + 1013904223u;
    groups[k] = static_cast<std::uint8_t>(seed >> 24);
  }
  for (std::size_t at = 0; at < groups.size(); at += lvlsnd::rawGroupSize) {
    for (std::size_t unit = 1; unit < lvlsnd::soundUnitCount; unit += 2) {
      auto parameter = groups[at + lvlsnd::rawUnitParameters + unit];
      parameter = static_cast<std::uint8_t>((parameter & 0x30) | (parameter & 0x0F) % 13);
      groups[at + lvlsnd::rawUnitParameters + unit] = parameter;
    }
    // Each run of four parameter bytes twice, as in every XA sound group.
    std::copy_n(groups.begin() + static_cast<std::ptrdiff_t>(at + 4), 4,
                groups.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy_n(groups.begin() + static_cast<std::ptrdiff_t>(at + 8), 4,
                groups.begin() + static_cast<std::ptrdiff_t>(at + 12));
  }
  return groups;
}

// The samples lvlsnd-wav decodes from raw groups.
inline std::vector<std::int16_t> decodedSamples(const Bytes& rawGroups) {
  std::vector<std::int16_t> samples(rawGroups.size() / lvlsnd::rawGroupSize *
                                    lvlsnd::samplesPerEffectGroup);
  lvlsnd::PredictorState state;
  for (std::size_t group = 0; group < rawGroups.size() / lvlsnd::rawGroupSize; ++group) {
    auto bytes =
        std::span(rawGroups).subspan(group * lvlsnd::rawGroupSize).first<lvlsnd::rawGroupSize>();
    auto out = std::span(samples).subspan(group * lvlsnd::samplesPerEffectGroup);
    lvlsnd::decodeEffectGroup(bytes, state, out.first<lvlsnd::samplesPerEffectGroup>());
  }
  return samples;
}
