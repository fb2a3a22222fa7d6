#include "replace_tool.hpp"

#include "command_line.hpp"
#include "level_file.hpp"
#include "wav.hpp"

#include <cinttypes>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

void storeUnits(StoredGroup& group, std::uint8_t unitSelector,
                std::span<const SoundUnit, unitsPerEffectGroup> units) {
  const std::size_t firstUnit = unitSelector == 0 ? 0 : 1;
  for (std::size_t slot = 0; slot < unitsPerEffectGroup; ++slot) {
    auto unit = 2 * slot + firstUnit;
    group[unit] = units[slot].parameter;
    for (std::size_t k = 0; k < samplesPerUnit; ++k) {
      // Even units have the low nibble of their byte, odd units the high one.
      auto& byte = group[soundUnitCount + sampleByteOf(k, unit)];
      auto nibble = units[slot].nibbles[k];
      byte = static_cast<std::uint8_t>(unit % 2 == 0 ? (byte & 0xF0) | nibble
                                                     : (byte & 0x0F) | nibble << 4);
    }
  }
}

namespace {

constexpr int exitReplaced = 0;
constexpr int exitComplaint = 1;
constexpr int exitUsage = 2;

constexpr const char* usageText =
    "Usage: lvlsnd-replace [-o OUT] LEVEL INDEX SOUND.wav\n"
    "Function: Replaces an Orrelin sound effect in level data with the sound of a WAV file\n"
    "INDEX is the M of effectN_M.raw; LEVEL is changed in place and first kept as LEVEL.bak\n"
    "  -o OUT      write the changed level file to OUT and leave LEVEL as it is\n"
    "  -h, --help  print this text\n"
    "  --version   print the version\n";

// The level file is copied through this buffer.
constexpr std::size_t copyBufferSize = 64 * 1024;

// What one run works on: the arguments, and the level file with its sound table.
struct Replacement {
  const char* levelPath = nullptr;
  const char* indexText = nullptr;
  const char* wavPath = nullptr;
  const char* outPath = nullptr; // null: the level file is changed in place
  LevelStream level;
  std::int64_t levelSize = 0;
  SoundEntry entry;
};

void complain(Console console, const std::string& name, const std::string& problem) {
  std::fprintf(console.err, "%s: %s\n", name.c_str(), problem.c_str());
}

// Finds the entry that INDEX names in the level file's sound table. Returns why it cannot take
// a sound, or an empty text.
std::string findEntry(Replacement& replacement) {
  auto& level = replacement.level;
  seekLevel(level, readSoundHeaderOffset(level));
  auto table = readSoundTable(level);
  std::string_view text = replacement.indexText;
  std::size_t index = 0;
  if (!readDecimal(text, index)) {
    return std::string(text) + " is not an entry index";
  }
  if (index < 1 || index >= table.entries.size()) {
    return "No entry " + std::string(text) + " in the sound table";
  }
  replacement.entry = table.entries[index];
  auto groupsEnd = std::int64_t{replacement.entry.groupOffset} +
                   std::int64_t{replacement.entry.groupCount} * std::int64_t{storedGroupSize};
  if (replacement.entry.groupCount <= 0) {
    return "Entry " + std::string(text) + " has no stored groups";
  }
  if (groupsEnd > replacement.levelSize) {
    return "The stored groups of entry " + std::string(text) + " do not lie inside the file";
  }
  return "";
}

// The entry's stored groups with the sound encoded into its units, padded with silence.
std::vector<StoredGroup> encodedGroups(Replacement& replacement, std::vector<std::int16_t> sound) {
  std::vector<StoredGroup> groups(static_cast<std::size_t>(replacement.entry.groupCount));
  seekLevel(replacement.level, replacement.entry.groupOffset);
  auto bytes = std::as_writable_bytes(std::span(groups));
  readBytes(replacement.level, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
  sound.resize(groups.size() * samplesPerEffectGroup);
  auto units = encodeUnits(sound);
  for (std::size_t k = 0; k < groups.size(); ++k) {
    auto groupUnits = std::span(units).subspan(k * unitsPerEffectGroup);
    storeUnits(groups[k], replacement.entry.unitSelector, groupUnits.first<unitsPerEffectGroup>());
  }
  return groups;
}

// Copies the level file's bytes from the current position up to `end` into `out`.
bool copyLevelBytes(LevelStream& level, std::int64_t end, std::FILE* out,
                    std::vector<std::uint8_t>& buffer) {
  while (level.position < end) {
    auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(end - level.position, static_cast<std::int64_t>(buffer.size())));
    auto start = level.position;
    readBytes(level, std::span(buffer).first(count));
    // A level file cut short while it is copied reads as 255 from its end and stops there.
    bool read = level.position == start + static_cast<std::int64_t>(count);
    if (!read || std::fwrite(buffer.data(), 1, count, out) != count) {
      return false;
    }
  }
  return true;
}

// Writes the level file with `groups` in place of the entry's stored groups (or unchanged
// when there are none) to a temporary file beside `target`. Returns the temporary file's
// name, or an empty one after a complaint.
std::string writeTemporaryLevelFile(Replacement& replacement,
                                    const std::vector<StoredGroup>& groups,
                                    const std::string& target, Console console) {
  auto temporary = target + "." + std::to_string(processNumber()) + ".tmp";
  std::FILE* out = openFile(temporary.c_str(), "wb");
  if (out == nullptr) {
    complain(console, target, "Cannot create");
    return "";
  }
  copyPermissions(replacement.level.file, out);
  std::vector<std::uint8_t> buffer(copyBufferSize);
  auto& level = replacement.level;
  auto groupsStart = std::int64_t{replacement.entry.groupOffset};
  auto groupBytes = groups.size() * storedGroupSize;
  seekLevel(level, 0);
  bool written = true;
  if (!groups.empty()) {
    written = copyLevelBytes(level, groupsStart, out, buffer) &&
              std::fwrite(groups.data(), 1, groupBytes, out) == groupBytes;
    level.position = groupsStart + static_cast<std::int64_t>(groupBytes);
  }
  written = copyLevelBytes(level, replacement.levelSize, out, buffer) && written;
  written = std::fclose(out) == 0 && written;
  if (!written) {
    removeFile(temporary.c_str());
    complain(console, target, "Cannot write");
    return "";
  }
  return temporary;
}

// Renames the complete temporary file over `target`, so that an interrupted run never leaves
// a half-written file there.
bool moveIntoPlace(const std::string& temporary, const std::string& target, Console console) {
  if (renameOver(temporary.c_str(), target.c_str())) {
    return true;
  }
  removeFile(temporary.c_str());
  complain(console, target, "Cannot write");
  return false;
}

// Reads the WAV file's sound, at most as long as the entry. Returns why it cannot, or "".
std::string readSound(const Replacement& replacement, WavSound& sound) {
  std::FILE* wav = openFile(replacement.wavPath, "rb");
  if (wav == nullptr) {
    return "Cannot open";
  }
  auto wanted = static_cast<std::size_t>(replacement.entry.groupCount) * samplesPerEffectGroup;
  auto problem = readWavSound(wav, wanted, sound);
  std::fclose(wav);
  return problem;
}

int replaceEffect(Replacement& replacement, Console console) {
  auto problem = findEntry(replacement);
  if (!problem.empty()) {
    complain(console, replacement.levelPath, problem);
    return exitComplaint;
  }
  WavSound sound;
  problem = readSound(replacement, sound);
  if (!problem.empty()) {
    complain(console, replacement.wavPath, problem);
    return exitComplaint;
  }
  std::fprintf(console.out, "Replacing effect %s (%d groups, %s units) in %s from %s...\n",
               replacement.indexText, replacement.entry.groupCount,
               replacement.entry.unitSelector == 0 ? "even" : "odd", replacement.levelPath,
               replacement.wavPath);
  auto groups = encodedGroups(replacement, std::move(sound.samples));
  // In place, the level file's bytes are first kept as LEVEL.bak, unless that exists already.
  std::string target = replacement.outPath != nullptr ? replacement.outPath : replacement.levelPath;
  std::string backup = target + ".bak";
  if (replacement.outPath == nullptr && !fileExists(backup.c_str())) {
    auto copy = writeTemporaryLevelFile(replacement, {}, backup, console);
    if (copy.empty() || !moveIntoPlace(copy, backup, console)) {
      return exitComplaint;
    }
  }
  auto changed = writeTemporaryLevelFile(replacement, groups, target, console);
  // Windows renames nothing over a file that is still open.
  closeLevelStream(replacement.level);
  if (changed.empty() || !moveIntoPlace(changed, target, console)) {
    return exitComplaint;
  }
  if (sound.leftOut != 0) {
    std::fprintf(console.err, "%s: Left out %" PRIu64 " samples past the effect's length\n",
                 replacement.wavPath, sound.leftOut);
    return exitComplaint;
  }
  return exitReplaced;
}

} // namespace

int runReplaceTool(int argc, const char* const* argv, Console console) {
  auto line = readCommandLine(argc, argv, "-o");
  if (line.problem.empty() && !line.help && !line.version && line.operands.size() != 3) {
    line.problem = "LEVEL, INDEX and SOUND.wav are needed";
  }
  if (!line.problem.empty()) {
    std::fprintf(console.err, "lvlsnd-replace: %s\n%s", line.problem.c_str(), usageText);
    return exitUsage;
  }
  if (line.help || line.version) {
    std::fputs(line.help ? usageText : "lvlsnd-replace " LVLSND_VERSION "\n", console.out);
    return exitReplaced;
  }
  Replacement replacement;
  replacement.levelPath = line.operands[0];
  replacement.indexText = line.operands[1];
  replacement.wavPath = line.operands[2];
  replacement.outPath = line.value;
  replacement.level = openLevelStream(replacement.levelPath);
  replacement.levelSize = replacement.level.file != nullptr ? fileSize(replacement.level.file) : -1;
  if (replacement.levelSize < 0) {
    closeLevelStream(replacement.level);
    complain(console, replacement.levelPath, "Cannot open");
    return exitComplaint;
  }
  int status = replaceEffect(replacement, console);
  closeLevelStream(replacement.level);
  return status;
}
