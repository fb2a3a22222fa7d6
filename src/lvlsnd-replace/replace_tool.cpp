#include "replace_tool.hpp"

#include "command_line.hpp"
#include "level_file.hpp"
#include "wav.hpp"
#include "xa_adpcm.hpp"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr const char* usageText =
    "Usage: lvlsnd-replace [-o OUT] [--rate HZ] LEVEL INDEX SOUND.wav\n"
    "Function: Replaces an Orrelin sound effect in level data with the sound of a WAV file\n"
    "INDEX is the M of effectN_M.raw; LEVEL is changed in place and first kept as LEVEL.bak\n"
    "SOUND.wav must be at the rate the effect plays at, 37800 Hz unless --rate says otherwise\n"
    "  -o OUT      write the changed level file to OUT and leave LEVEL as it is\n"
    "  --rate HZ   the rate the game plays the effect at, 1000 to 192000 (default 37800)\n"
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
  std::uint32_t rate = defaultEffectRate;
  LevelStream level;
  FileLock lock;
  FileLock outLock;   // on the file OUT leads to, when it exists
  std::string backup; // in place: the backup's name, written when `writeBackup`
  bool writeBackup = false;
  std::int64_t levelSize = 0;
  SoundEntry entry;
};

// Opens the level file and takes its lock. Returns why it cannot, or "".
std::string openLevelFile(Replacement& replacement) {
  // A run that finished meanwhile may have renamed a new file over the name; the locked file
  // must be the one the name leads to, so the name is opened again once the lock is held.
  for (int attempt = 0; attempt < 3; ++attempt) {
    replacement.lock = lockFile(replacement.levelPath);
    if (replacement.lock.busy) {
      return "Being changed by another run";
    }
    if (!replacement.lock.held) {
      return withReason("Cannot open", reasonOf(errno));
    }
    replacement.level = openLevelStream(replacement.levelPath);
    if (replacement.level.source.file == nullptr) {
      return withReason("Cannot open", reasonOf(errno));
    }
    replacement.levelSize = sourceSize(replacement.level.source);
    if (replacement.levelSize < 0) {
      return withReason("Cannot open", reasonOf(ESPIPE)); // a block device has no size here
    }
    if (sameFile(replacement.lock.identity, replacement.level.identity)) {
      return "";
    }
    closeLevelStream(replacement.level);
    releaseLock(replacement.lock);
  }
  return "Being changed by another run";
}

// Whether a file starts with a RIFF/WAVE header.
bool startsLikeWav(const std::uint8_t* start) {
  return std::memcmp(start, "RIFF", 4) == 0 && std::memcmp(start + 8, "WAVE", 4) == 0;
}

// The entries that hold stored groups, for a message: "; its effects are 1, 2, 4", the first
// ten of a longer list and how many there are.
std::string effectsOf(const SoundTable& table) {
  constexpr std::size_t shown = 10;
  std::vector<std::size_t> effects;
  for (std::size_t index = 1; index < table.entries.size(); ++index) {
    if (table.entries[index].groupCount > 0) {
      effects.push_back(index);
    }
  }
  if (effects.empty()) {
    return "; it holds no effects";
  }
  std::string text = "; its effects are ";
  for (std::size_t k = 0; k < std::min(effects.size(), shown); ++k) {
    text += (k == 0 ? "" : ", ") + std::to_string(effects[k]);
  }
  if (effects.size() > shown) {
    text += ", ... (" + std::to_string(effects.size()) + " in all)";
  }
  return text;
}

// Finds the entry that INDEX names in the level file's sound table. Returns why it cannot take
// a sound, or an empty text.
std::string findEntry(Replacement& replacement) {
  auto& level = replacement.level;
  std::array<std::uint8_t, 12> start{};
  readBytes(level, start);
  if (!level.failed && startsLikeWav(start.data())) {
    return "A WAV file, not a level file; the order is LEVEL INDEX SOUND.wav";
  }
  seekLevel(level, 0);
  seekLevel(level, readSoundHeaderOffset(level));
  auto table = readSoundTable(level);
  if (level.failed) {
    return withReason("Cannot read", reasonOf(level.error));
  }
  std::string_view text = replacement.indexText;
  std::size_t index = 0;
  if (!readDecimal(text, index)) {
    return std::string(text) + " is not an entry index";
  }
  if (index < 1 || index >= table.entries.size()) {
    return "No entry " + std::string(text) + " in the sound table" + effectsOf(table);
  }
  replacement.entry = table.entries[index];
  auto groupsEnd = std::int64_t{replacement.entry.groupOffset} +
                   std::int64_t{replacement.entry.groupCount} * std::int64_t{storedGroupSize};
  if (replacement.entry.groupCount <= 0) {
    return "Entry " + std::string(text) + " has no stored groups" + effectsOf(table);
  }
  if (groupsEnd > replacement.levelSize) {
    return "The stored groups of entry " + std::string(text) + " do not lie inside the file";
  }
  return "";
}

// Reads the WAV file's sound, at most as long as the entry. Returns why it cannot, or "".
std::string readSound(const Replacement& replacement, WavSound& sound) {
  std::FILE* wav = openInput(replacement.wavPath);
  // The reader walks the file by offset, from its size: only a regular file has one.
  if (wav == nullptr) {
    return withReason("Cannot open", reasonOf(errno));
  }
  if (fileSize(wav) < 0) {
    std::fclose(wav);
    return withReason("Cannot open", reasonOf(ESPIPE));
  }
  auto wanted = static_cast<std::size_t>(replacement.entry.groupCount) * samplesPerEffectGroup;
  auto source = fileSource(wav);
  auto problem = readWavSound(source, wanted, sound);
  RawGroup start{};
  if (problem == "Not a WAV file" && readAt(source, 0, start).got == start.size() &&
      isXaSoundGroup(start)) {
    problem += "; lvlsnd-wav turns effect files into WAV files";
  }
  std::fclose(wav);
  return problem;
}

// Seconds of `samples` at `rate`, with three decimals.
std::string secondsOf(std::uint64_t samples, std::uint32_t rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(samples) / rate);
  return text;
}

// The refusals of an OUT that is an input or no regular file, and of one another run is
// changing: its lock is taken, as the level file's is, and held until it is replaced.
std::pair<std::string, std::string> checkOut(Replacement& replacement) {
  const char* out = replacement.outPath;
  auto identity = identityOf(out);
  if (sameFile(identity, replacement.level.identity)) {
    return {out, "Is the level file; leave out -o to change it in place"};
  }
  if (sameFile(identity, identityOf(replacement.wavPath))) {
    return {out, "Is the WAV file"};
  }
  auto kind = kindOfName(out, true);
  if (kind == NameKind::other) {
    return {out, "Not a regular file"};
  }
  if (kind == NameKind::unknown) {
    return {out, withReason("Cannot open", reasonOf(errno))};
  }
  if (kind == NameKind::regularFile) {
    replacement.outLock = lockFile(out);
    if (!replacement.outLock.held) {
      return {out, replacement.outLock.busy ? "Being changed by another run"
                                            : withReason("Cannot open", reasonOf(errno))};
    }
  }
  return {};
}

// The refusals that keep a run from writing a wrong or unwanted file. In place it decides
// whether the backup is written; with -o it takes OUT's lock when OUT exists. Returns the
// complaint's file and problem, or an empty problem.
std::pair<std::string, std::string> checkDestination(Replacement& replacement) {
  const char* level = replacement.levelPath;
  if (replacement.outPath != nullptr) {
    return checkOut(replacement);
  }
  std::string target;
  if (!resolveLink(level, target)) {
    return {level, withReason("Cannot open", reasonOf(errno))};
  }
  if (nameCount(replacement.level.source.file) > 1) {
    return {level, "Has other names (hard links) that would keep the old bytes; write a copy "
                   "with -o"};
  }
  if (isReadOnly(replacement.level.source.file, target.c_str())) {
    return {level, "Read-only"};
  }
  // Only "nothing there" means there is no backup yet: any other answer might hide the backup
  // of the original, which must never be replaced by a copy of a changed level file.
  replacement.backup = target + ".bak";
  switch (kindOfName(replacement.backup.c_str(), false)) {
  case NameKind::missing:
    replacement.writeBackup = true;
    return {};
  case NameKind::regularFile:
    return {};
  case NameKind::other:
    return {replacement.backup, "Not a regular file; the original would not be kept"};
  case NameKind::unknown:
    break;
  }
  return {replacement.backup, withReason("Cannot read", reasonOf(errno))};
}

// The entry's stored groups with the sound encoded into its units, padded with silence.
// Empty when they cannot be read.
std::vector<StoredGroup> encodedGroups(Replacement& replacement, std::vector<std::int16_t> sound) {
  std::vector<StoredGroup> groups(static_cast<std::size_t>(replacement.entry.groupCount));
  seekLevel(replacement.level, replacement.entry.groupOffset);
  auto bytes = std::as_writable_bytes(std::span(groups));
  readBytes(replacement.level, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()});
  if (replacement.level.failed) {
    return {};
  }
  sound.resize(groups.size() * samplesPerEffectGroup);
  auto units = encodeUnits(sound);
  for (std::size_t k = 0; k < groups.size(); ++k) {
    auto groupUnits = std::span(units).subspan(k * unitsPerEffectGroup);
    storeUnits(groups[k], replacement.entry.unitSelector, groupUnits.first<unitsPerEffectGroup>());
  }
  return groups;
}

// Copies the level file's bytes from the current position up to `end` into `out`.
Transfer copyLevelBytes(LevelStream& level, std::int64_t end, std::FILE* out,
                        std::vector<std::uint8_t>& buffer) {
  while (level.position < end) {
    auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(end - level.position, static_cast<std::int64_t>(buffer.size())));
    auto start = level.position;
    readBytes(level, std::span(buffer).first(count));
    // A level file cut short while it is copied reads as 255 from its end and stops there.
    if (level.failed || level.position != start + static_cast<std::int64_t>(count)) {
      return Transfer::readFailed;
    }
    if (std::fwrite(buffer.data(), 1, count, out) != count) {
      return Transfer::writeFailed;
    }
  }
  return Transfer::done;
}

// Writes the level file, with `groups` in place of the entry's stored groups (or unchanged
// when there are none), into the open temporary file `out`.
Transfer writeLevelBytes(Replacement& replacement, const std::vector<StoredGroup>& groups,
                         std::FILE* out) {
  std::vector<std::uint8_t> buffer(copyBufferSize);
  auto& level = replacement.level;
  auto groupsStart = std::int64_t{replacement.entry.groupOffset};
  auto groupBytes = groups.size() * storedGroupSize;
  seekLevel(level, 0);
  if (!groups.empty()) {
    auto transfer = copyLevelBytes(level, groupsStart, out, buffer);
    if (transfer != Transfer::done) {
      return transfer;
    }
    if (std::fwrite(groups.data(), 1, groupBytes, out) != groupBytes) {
      return Transfer::writeFailed;
    }
    seekLevel(level, groupsStart + static_cast<std::int64_t>(groupBytes));
  }
  return copyLevelBytes(level, replacement.levelSize, out, buffer);
}

// Writes the level file with `groups` in place of the entry's stored groups (or unchanged
// when there are none) as the file `path` leads to, through a file update; `targetLock` guards
// that file when it is the level file. Returns false after a complaint; the file is then as it
// was, or already complete.
bool writeLevelFile(Replacement& replacement, const std::vector<StoredGroup>& groups,
                    const std::string& path, FileLock* targetLock, Console console) {
  auto update = beginUpdate(path, UpdateKind::userData);
  if (update.file == nullptr) {
    complain(console, path, withReason("Cannot create", update.failure));
    return false;
  }
  if (!copyPermissions(replacement.level.source.file, update.file,
                       replacement.outPath == nullptr)) {
    auto reason = reasonOf(errno);
    abandonUpdate(update);
    complain(console, path, withReason("Cannot write", reason));
    return false;
  }
  auto transfer = writeLevelBytes(replacement, groups, update.file);
  if (transfer != Transfer::done) {
    const auto& level = replacement.level;
    // A read with no error that came up short: the file was cut while it was copied.
    auto reason = transfer == Transfer::writeFailed ? reasonOf(errno)
                  : level.failed                    ? reasonOf(level.error)
                                 : std::string("it got shorter while it was read");
    abandonUpdate(update);
    complainOfTransfer(console, transfer, replacement.levelPath, path, reason);
    return false;
  }
  if (!groups.empty()) {
    // Read in full: nothing holds the level file open while it is replaced.
    closeLevelStream(replacement.level);
  }
  if (!commitUpdate(update, targetLock)) {
    complain(console, path, withReason("Cannot write", update.failure));
    return false;
  }
  return true;
}

int replaceEffect(Replacement& replacement, Console console) {
  auto problem = findEntry(replacement);
  if (!problem.empty()) {
    complain(console, replacement.levelPath, problem);
    return exitComplaint;
  }
  WavSound sound;
  problem = readSound(replacement, sound);
  if (problem.empty() && sound.sampleRate != replacement.rate) {
    problem = std::to_string(sound.sampleRate) + " Hz, but the effect plays at " +
              std::to_string(replacement.rate) + " Hz; resample it to " +
              std::to_string(replacement.rate) + " Hz or give --rate " +
              std::to_string(sound.sampleRate);
  }
  if (!problem.empty()) {
    complain(console, replacement.wavPath, problem);
    return exitComplaint;
  }
  auto [refused, refusal] = checkDestination(replacement);
  if (!refusal.empty()) {
    complain(console, refused, refusal);
    return exitComplaint;
  }
  auto effectSamples =
      static_cast<std::uint64_t>(replacement.entry.groupCount) * samplesPerEffectGroup;
  std::fprintf(console.out,
               "Replacing effect %s (%d groups, %s at %" PRIu32 " Hz, %s units) in "
               "%s from %s...\n",
               replacement.indexText, replacement.entry.groupCount,
               secondsOf(effectSamples, replacement.rate).c_str(), replacement.rate,
               replacement.entry.unitSelector == 0 ? "even" : "odd", replacement.levelPath,
               replacement.wavPath);
  auto frames = sound.frames;
  auto groups = encodedGroups(replacement, std::move(sound.samples));
  if (groups.empty()) {
    complain(console, replacement.levelPath,
             withReason("Cannot read", reasonOf(replacement.level.error)));
    return exitComplaint;
  }
  // In place, the level file's bytes are first kept as LEVEL.bak, unless that exists already;
  // the backup is on the disk before the level file is replaced.
  if (replacement.writeBackup &&
      !writeLevelFile(replacement, {}, replacement.backup, nullptr, console)) {
    return exitComplaint;
  }
  bool inPlace = replacement.outPath == nullptr;
  auto* targetLock = inPlace ? &replacement.lock : &replacement.outLock;
  if (!writeLevelFile(replacement, groups, inPlace ? replacement.levelPath : replacement.outPath,
                      targetLock->held ? targetLock : nullptr, console)) {
    return exitComplaint;
  }
  if (frames > effectSamples) {
    complain(console, replacement.wavPath,
             "Kept the first " + secondsOf(effectSamples, replacement.rate) + " of " +
                 secondsOf(frames, replacement.rate));
    return exitComplaint;
  }
  return exitDone;
}

} // namespace

int runReplaceTool(int argc, const char* const* argv, Console console) {
  auto line = readCommandLine(argc, argv, {"-o", "--rate"});
  Replacement replacement;
  readRateOption(line, line.values[1], replacement.rate);
  if (line.operands.size() != 3) {
    noteOperandProblem(line, "LEVEL, INDEX and SOUND.wav are needed");
  }
  if (auto status = answerCommandLine(line, "lvlsnd-replace", usageText, console)) {
    return *status;
  }
  replacement.levelPath = line.operands[0];
  replacement.indexText = line.operands[1];
  replacement.wavPath = line.operands[2];
  replacement.outPath = line.values[0];
  auto problem = openLevelFile(replacement);
  int status = exitComplaint;
  if (!problem.empty()) {
    complain(console, replacement.levelPath, problem);
  } else {
    status = replaceEffect(replacement, console);
  }
  closeLevelStream(replacement.level);
  releaseLock(replacement.lock);
  releaseLock(replacement.outLock);
  return status;
}
