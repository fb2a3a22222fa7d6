#include "effects.hpp"

#include "xa_adpcm.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <span>
#include <vector>

std::string effectFileName(std::int32_t levelNumber, int entryIndex) {
  // Room for any 32-bit level number and index, so no name is ever cut short.
  std::array<char, 48> name{};
  std::snprintf(name.data(), name.size(), "effect%d_%d.raw", levelNumber, entryIndex);
  return name.data();
}

namespace {

// Stored groups go through these fixed-size buffers, a chunk at a time. A chunk of stored
// groups is read from the level file as one run of bytes, so the groups must lie back to back.
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
      chunks.raw[k] = convertGroup(chunks.stored[k], entry.unitSelector);
    }
    if (std::fwrite(chunks.raw.data(), rawGroupSize, count, file) != count) {
      return Transfer::writeFailed;
    }
    remaining -= count;
  }
  return Transfer::done;
}

// Writes one effect file. Its name never leads to the level file: a level file named like one
// of its effects, or linked under such a name, would be destroyed while it is still being read.
// Returns false when the level file could not be read for it.
bool writeEffect(LevelRun& run, const SoundEntry& entry, const std::string& name,
                 GroupChunks& chunks) {
  std::FILE* file = createOutput(name, run.level.identity, run.console);
  if (file == nullptr) {
    return true;
  }
  std::fprintf(run.console.out, "Extracting %s (%d groups) from %s @$%" PRIx32 "...\n",
               name.c_str(), entry.groupCount, run.path, entry.groupOffset);
  auto transfer = writeGroups(run.level, entry, file, chunks);
  transfer = finishOutput(file, name, transfer, run.path, run.console);
  if (transfer != Transfer::readFailed) {
    return true;
  }
  // A bad sector spoils this effect, not the others: the next entry is read afresh.
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
