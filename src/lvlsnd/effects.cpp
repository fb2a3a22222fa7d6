#include "effects.hpp"

#include "file_update.hpp"
#include "xa_adpcm.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <span>
#include <vector>

namespace lvlsnd {

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

// Converts the entry's stored groups into the update's file. False when the level file could
// not be read (the stream says so) or the file could not be written.
bool writeGroups(LevelStream& level, const SoundEntry& entry, FileUpdate& update,
                 GroupChunks& chunks) {
  seekLevel(level, entry.groupOffset);
  std::size_t remaining = entry.groupCount > 0 ? static_cast<std::size_t>(entry.groupCount) : 0;
  while (remaining > 0) {
    auto count = std::min(remaining, groupsPerChunk);
    auto storedBytes = std::as_writable_bytes(std::span(chunks.stored).first(count));
    readBytes(level, {reinterpret_cast<std::uint8_t*>(storedBytes.data()), storedBytes.size()});
    if (level.failed) {
      return false;
    }
    for (std::size_t k = 0; k < count; ++k) {
      chunks.raw[k] = convertGroup(chunks.stored[k], entry.unitSelector);
    }
    if (!update.write(chunks.raw.data(), count * rawGroupSize)) {
      return false;
    }
    remaining -= count;
  }
  return true;
}

// Writes one effect file through a file update, so that it is complete or as it was. Its name
// never leads to the level file: a level file named like one of its effects, or linked under
// such a name, would be replaced by its own effect; when the system cannot tell, the effect is
// not written. A name that holds nothing cannot be the level file, so it is looked at only when
// it turns out taken, once the effect is written. The progress line comes once the file could
// be created and its name was not refused, before any complaint of its writing. lvlsnd's
// messages give no reason.
Outcome writeEffect(LevelRun& run, const SoundEntry& entry, const std::string& name,
                    GroupChunks& chunks) {
  FileUpdate update;
  Problem cannotCreate{name, "Cannot create", ""};
  if (update.begin(name, {.lookUp = LookUp::whenTaken, .avoid = {&run.level.identity, 1}}) ||
      update.newFile() == nullptr) {
    return cannotCreate;
  }
  bool written = writeGroups(run.level, entry, update, chunks);
  auto problem = written ? update.commit() : std::nullopt;
  if (update.nameRefused()) {
    return cannotCreate;
  }
  std::fprintf(run.console.out, "Extracting %s (%d groups) from %s @$%" PRIx32 "...\n",
               name.c_str(), entry.groupCount, run.path, entry.groupOffset);
  if (written && !problem) {
    return std::nullopt;
  }
  if (run.level.failed) {
    return Problem{run.path, "Cannot read", ""};
  }
  // Something put under the name meanwhile is what the name would have been refused for.
  return update.targetChanged() ? cannotCreate : Problem{name, "Cannot write", ""};
}

} // namespace

bool writeEffects(LevelRun& run, const SoundTable& table) {
  GroupChunks chunks;
  bool allWritten = true;
  for (std::size_t index = 1; index < table.entries.size(); ++index) {
    const auto& entry = table.entries[index];
    if (entry.groupCount == 0) {
      continue;
    }
    auto name = effectFileName(run.levelNumber, static_cast<int>(index));
    if (auto problem = writeEffect(run, entry, name, chunks)) {
      complain(run.console, *problem);
      allWritten = false;
    }
    if (run.level.failed) {
      // A bad sector spoils this effect, not the others: the next entry is read afresh.
      clearReadFailure(run.level);
    }
  }
  return allWritten;
}

} // namespace lvlsnd
