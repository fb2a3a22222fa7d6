#include "effects.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <span>
#include <vector>

namespace {

// Writes every byte of `raw`, so chunks can be converted in place without clearing them.
void convertInto(const StoredGroup& stored, std::uint8_t unitSelector, RawGroup& raw) {
  // The selected units' parameters go to the odd positions of each run of four; the run is
  // written twice.
  const std::size_t firstUnit = unitSelector == 0 ? 0 : 1;
  for (std::size_t half = 0; half < 2; ++half) {
    const auto* parameters = stored.data() + 4 * half;
    for (std::size_t copy = 0; copy < 2; ++copy) {
      auto* written = raw.data() + 8 * half + 4 * copy;
      written[0] = 0;
      written[1] = parameters[firstUnit];
      written[2] = 0;
      written[3] = parameters[firstUnit + 2];
    }
  }
  // Each data byte keeps only the selected unit's nibble, moved to the high (odd) half.
  const auto* data = stored.data() + soundUnitCount;
  auto* samples = raw.data() + 2 * soundUnitCount;
  if (unitSelector == 0) {
    for (std::size_t n = 0; n < sampleDataSize; ++n) {
      samples[n] = static_cast<std::uint8_t>(data[n] << 4);
    }
  } else {
    for (std::size_t n = 0; n < sampleDataSize; ++n) {
      samples[n] = static_cast<std::uint8_t>(data[n] & 0xF0);
    }
  }
}

} // namespace

RawGroup convertGroup(const StoredGroup& stored, std::uint8_t unitSelector) {
  RawGroup raw;
  convertInto(stored, unitSelector, raw);
  return raw;
}

std::string effectFileName(std::int32_t levelNumber, int entryIndex) {
  // Room for any 32-bit level number and index, so no name is ever cut short.
  std::array<char, 48> name{};
  std::snprintf(name.data(), name.size(), "effect%d_%d.raw", levelNumber, entryIndex);
  return name.data();
}

namespace {

// Stored groups go through these fixed-size buffers, a chunk at a time, so memory stays flat
// however long an effect is. A chunk of stored groups is read from the level file as one run
// of bytes, so the groups must lie back to back.
constexpr std::size_t groupsPerChunk = 1024;
static_assert(sizeof(StoredGroup) == storedGroupSize && sizeof(RawGroup) == rawGroupSize);

struct GroupChunks {
  std::vector<StoredGroup> stored = std::vector<StoredGroup>(groupsPerChunk);
  std::vector<RawGroup> raw = std::vector<RawGroup>(groupsPerChunk);
};

// Converts the entry's stored groups into `file`.
Transfer writeGroups(LevelStream& level, const SoundEntry& entry, std::FILE* file,
                     GroupChunks& chunks) {
  seekLevel(level, entry.groupOffset);
  std::size_t remaining = entry.groupCount > 0 ? static_cast<std::size_t>(entry.groupCount) : 0;
  while (remaining > 0) {
    auto count = std::min(remaining, groupsPerChunk);
    auto storedBytes = std::as_writable_bytes(std::span(chunks.stored).first(count));
    readBytes(level, {reinterpret_cast<std::uint8_t*>(storedBytes.data()), storedBytes.size()});
    if (level.failed) {
      return Transfer::readFailed;
    }
    for (std::size_t k = 0; k < count; ++k) {
      convertInto(chunks.stored[k], entry.unitSelector, chunks.raw[k]);
    }
    if (std::fwrite(chunks.raw.data(), rawGroupSize, count, file) != count) {
      return Transfer::writeFailed;
    }
    remaining -= count;
  }
  return Transfer::done;
}

// Creating a file truncates it, so an effect file is never created over the level file
// itself: a level file named like one of its effects, or linked under such a name, would be
// destroyed while it is still being read.
std::FILE* createEffectFile(const LevelRun& run, const std::string& name) {
  if (sameFile(identityOf(name.c_str()), run.level.identity)) {
    return nullptr;
  }
  return std::fopen(name.c_str(), "wb");
}

// Writes one effect file. Returns false when the level file could not be read for it.
bool writeEffect(LevelRun& run, const SoundEntry& entry, const std::string& name,
                 GroupChunks& chunks) {
  std::FILE* file = createEffectFile(run, name);
  if (file == nullptr) {
    std::fprintf(run.console.err, "%s: Cannot create\n", name.c_str());
    return true;
  }
  // Whole chunks are written at once; the file's own buffer would only split them.
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::fprintf(run.console.out, "Extracting %s (%d groups) from %s @$%" PRIx32 "...\n",
               name.c_str(), entry.groupCount, run.path, entry.groupOffset);
  auto transfer = writeGroups(run.level, entry, file, chunks);
  bool closed = std::fclose(file) == 0;
  if (transfer == Transfer::done && closed) {
    return true;
  }
  // A truncated effect must not be left looking complete.
  std::remove(name.c_str());
  if (transfer != Transfer::readFailed) {
    std::fprintf(run.console.err, "%s: Cannot write\n", name.c_str());
    return true;
  }
  // A bad sector spoils this effect, not the others: the next entry is read afresh.
  std::fprintf(run.console.err, "%s: Cannot read\n", run.path);
  clearReadFailure(run.level);
  return false;
}

} // namespace

bool writeEffects(LevelRun& run, const SoundTable& table) {
  GroupChunks chunks;
  bool allRead = true;
  for (std::size_t index = 1; index < table.entries.size(); ++index) {
    const auto& entry = table.entries[index];
    if (entry.groupCount != 0) {
      auto name = effectFileName(run.levelNumber, static_cast<int>(index));
      allRead = writeEffect(run, entry, name, chunks) && allRead;
    }
  }
  return allRead;
}
