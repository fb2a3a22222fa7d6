// A test fixture with its own scratch folder, for tests that write level files.
#pragma once

#include "support/level_builder.hpp"
#include "support/tool_runner.hpp"

#include "effects.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>

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
  for (std::size_t at = 0; at < groups.size(); at += storedGroupSize) {
    StoredGroup stored;
    std::copy_n(groups.begin() + static_cast<std::ptrdiff_t>(at), storedGroupSize, stored.begin());
    auto converted = convertGroup(stored, unitSelector);
    raw.insert(raw.end(), converted.begin(), converted.end());
  }
  return raw;
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
