#include "replace_tool.hpp"

#include "command_line.hpp"
#include "file_lock.hpp"
#include "file_update.hpp"
#include "inputs.hpp"
#include "level_file.hpp"
#include "wav.hpp"
#include "xa_encoder.hpp"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lvlsnd {

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
  // The files a link to LEVEL or OUT leads to, resolved once: the lock, the backup and the write
  // all use them, so that a link pointed elsewhere meanwhile changes nothing.
  std::string target;
  std::string outTarget;
  LevelStream level;
  FileLock lock;
  FileLock outLock;   // on the file OUT leads to, when it exists
  std::string backup; // in place: the backup's name, written when `writeBackup`
  bool writeBackup = false;
  std::int64_t levelSize = 0;
  SoundEntry entry;
};

// Opens the level file and takes its lock.
Outcome openLevelFile(Replacement& replacement) {
  const char* level = replacement.levelPath;
  if (!resolveLink(level, replacement.target)) {
    return systemProblem(level, "Cannot open", errno);
  }
  const char* target = replacement.target.c_str();
  // A run that finished meanwhile may have renamed a new file over the name; the locked file
  // must be the one the name leads to, so the name is opened again once the lock is held.
  for (int attempt = 0; attempt < 3; ++attempt) {
    replacement.lock = lockFile(target);
    if (replacement.lock.busy) {
      return Problem{level, "Being changed by another run", ""};
    }
    if (!replacement.lock.held) {
      return systemProblem(level, "Cannot open", errno);
    }
    replacement.level = openLevelStream(target);
    if (replacement.level.source.file == nullptr) {
      return systemProblem(level, "Cannot open", errno);
    }
    replacement.levelSize = sourceSize(replacement.level.source);
    if (replacement.levelSize < 0) {
      // A block device has no size here.
      return sizeProblem(level, errno);
    }
    switch (compareFiles(replacement.lock.identity, replacement.level.identity)) {
    case Sameness::same:
      return std::nullopt;
    case Sameness::unknown:
      return systemProblem(level, "Cannot read", replacement.lock.identity.error);
    case Sameness::different:
      break;
    }
    closeLevelStream(replacement.level);
    releaseLock(replacement.lock);
  }
  return Problem{level, "Being changed by another run", ""};
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

// Finds the entry that INDEX names in the level file's sound table; the problem when it cannot
// take a sound.
Outcome findEntry(Replacement& replacement) {
  auto& level = replacement.level;
  auto refused = [&](const std::string& text) { return Problem{replacement.levelPath, text, ""}; };
  std::array<std::uint8_t, 12> start{};
  readBytes(level, start);
  if (!level.failed && startsLikeWav(start)) {
    return refused("A WAV file, not a level file; the order is LEVEL INDEX SOUND.wav");
  }
  seekLevel(level, 0);
  seekLevel(level, readSoundHeaderOffset(level));
  auto table = readSoundTable(level);
  if (level.failed) {
    return systemProblem(replacement.levelPath, "Cannot read", level.error);
  }
  std::string text = replacement.indexText;
  std::size_t index = 0;
  if (!readDecimal(text, index)) {
    return refused(text + " is not an entry index");
  }
  if (index < 1 || index >= table.entries.size()) {
    return refused("No entry " + text + " in the sound table" + effectsOf(table));
  }
  replacement.entry = table.entries[index];
  auto groupsEnd = std::int64_t{replacement.entry.groupOffset} +
                   std::int64_t{replacement.entry.groupCount} * std::int64_t{storedGroupSize};
  if (replacement.entry.groupCount <= 0) {
    return refused("Entry " + text + " has no stored groups" + effectsOf(table));
  }
  if (groupsEnd > replacement.levelSize) {
    return refused("The stored groups of entry " + text + " do not lie inside the file");
  }
  return std::nullopt;
}

// Whether the source starts as an effect file does: a whole XA sound group, and no RIFF/WAVE
// header.
bool startsLikeEffectFile(ByteSource& source) {
  RawGroup start{};
  auto read = readAt(source, 0, start);
  return read.got == start.size() && !startsLikeWav(start) && isXaSoundGroup(start);
}

// Reads the WAV file's sound, at most as long as the entry.
Outcome readSound(const Replacement& replacement, WavSound& sound) {
  const char* path = replacement.wavPath;
  std::FILE* wav = openInput(path);
  // The reader walks the file by offset, from its size: only a regular file has one.
  if (wav == nullptr) {
    return systemProblem(path, "Cannot open", errno);
  }
  if (fileSize(wav) < 0) {
    auto problem = sizeProblem(path, errno);
    std::fclose(wav);
    return problem;
  }
  auto wanted = static_cast<std::size_t>(replacement.entry.groupCount) * samplesPerEffectGroup;
  auto source = fileSource(wav);
  Outcome problem;
  if (startsLikeEffectFile(source)) {
    problem = Problem{path, "Not a WAV file; lvlsnd-wav turns effect files into WAV files", ""};
  } else if ((problem = readWavSound(source, wanted, sound))) {
    problem->name = path;
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
Outcome checkOut(Replacement& replacement) {
  const char* out = replacement.outPath;
  auto refused = [&](const std::string& text) { return Problem{out, text, ""}; };
  if (!resolveLink(out, replacement.outTarget)) {
    return systemProblem(out, "Cannot open", errno);
  }
  const RunInput inputs[] = {{replacement.levelPath, replacement.level.identity},
                             runInput(replacement.wavPath)};
  auto match = findInput(replacement.outTarget, inputs);
  if (match.problem) {
    return match.problem;
  }
  if (match.index == 0) {
    return refused("Is the level file; leave out -o to change it in place");
  }
  if (match.index == 1) {
    return refused("Is the WAV file");
  }
  const char* target = replacement.outTarget.c_str();
  switch (kindOfName(target, true)) {
  case NameKind::missing:
    return std::nullopt;
  case NameKind::other:
    return refused("Not a regular file");
  case NameKind::unknown:
    return systemProblem(out, "Cannot open", errno);
  case NameKind::regularFile:
    break;
  }
  replacement.outLock = lockFile(target);
  if (!replacement.outLock.held) {
    return replacement.outLock.busy ? refused("Being changed by another run")
                                    : systemProblem(out, "Cannot open", errno);
  }
  return std::nullopt;
}

// The refusals that keep a run from writing a wrong or unwanted file. In place it decides
// whether the backup is written; with -o it takes OUT's lock when OUT exists.
Outcome checkDestination(Replacement& replacement) {
  const char* level = replacement.levelPath;
  if (replacement.outPath != nullptr) {
    return checkOut(replacement);
  }
  auto names = nameCount(replacement.level.source.file);
  if (names == 0) {
    return systemProblem(level, "Cannot read", errno);
  }
  if (names > 1) {
    return Problem{level,
                   "Has other names (hard links) that would keep the old bytes; write a copy "
                   "with -o",
                   ""};
  }
  switch (writabilityOf(replacement.level.source.file, replacement.target.c_str())) {
  case Writability::writable:
    break;
  case Writability::readOnly:
    return Problem{level, "Read-only", ""};
  case Writability::unknown:
    return systemProblem(level, "Cannot read", errno);
  }
  // Only "nothing there" means there is no backup yet: any other answer might hide the backup
  // of the original, which must never be replaced by a copy of a changed level file.
  replacement.backup = replacement.target + ".bak";
  switch (kindOfName(replacement.backup.c_str(), false)) {
  case NameKind::missing:
    replacement.writeBackup = true;
    return std::nullopt;
  case NameKind::regularFile:
    return std::nullopt;
  case NameKind::other:
    return Problem{replacement.backup, "Not a regular file; the original would not be kept", ""};
  case NameKind::unknown:
    break;
  }
  return systemProblem(replacement.backup, "Cannot read", errno);
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

// The problem of a read of the level file that failed or came up short: a read with no error
// that came up short means the file was cut while it was copied.
Problem levelReadProblem(const Replacement& replacement) {
  if (replacement.level.failed) {
    return systemProblem(replacement.levelPath, "Cannot read", replacement.level.error);
  }
  return {replacement.levelPath, "Cannot read", "it got shorter while it was read"};
}

// Copies the level file's bytes from the current position up to `end` into `out`.
Outcome copyLevelBytes(Replacement& replacement, std::int64_t end, FileUpdate& out,
                       const std::string& outName, std::vector<std::uint8_t>& buffer) {
  auto& level = replacement.level;
  while (level.position < end) {
    auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(end - level.position, static_cast<std::int64_t>(buffer.size())));
    auto start = level.position;
    readBytes(level, std::span(buffer).first(count));
    // A level file cut short while it is copied reads as 255 from its end and stops there.
    if (level.failed || level.position != start + static_cast<std::int64_t>(count)) {
      return levelReadProblem(replacement);
    }
    if (!writeToUpdate(out, buffer.data(), count)) {
      return systemProblem(outName, "Cannot write", out.error);
    }
  }
  return std::nullopt;
}

// Writes the level file, with `groups` in place of the entry's stored groups (or unchanged
// when there are none), into `out`, the update of the file called `outName`.
Outcome writeLevelBytes(Replacement& replacement, const std::vector<StoredGroup>& groups,
                        FileUpdate& out, const std::string& outName) {
  std::vector<std::uint8_t> buffer(copyBufferSize);
  auto groupsStart = std::int64_t{replacement.entry.groupOffset};
  auto groupBytes = groups.size() * storedGroupSize;
  seekLevel(replacement.level, 0);
  if (!groups.empty()) {
    if (auto problem = copyLevelBytes(replacement, groupsStart, out, outName, buffer)) {
      return problem;
    }
    if (!writeToUpdate(out, groups.data(), groupBytes)) {
      return systemProblem(outName, "Cannot write", out.error);
    }
    seekLevel(replacement.level, groupsStart + static_cast<std::int64_t>(groupBytes));
  }
  return copyLevelBytes(replacement, replacement.levelSize, out, outName, buffer);
}

// Writes the level file with `groups` in place of the entry's stored groups (or unchanged
// when there are none) as `target`, the file the name `path` was found to lead to, through a
// file update; `targetLock` guards that file. On a problem the file is as it was, or already
// complete.
Outcome writeLevelFile(Replacement& replacement, const std::vector<StoredGroup>& groups,
                       const std::string& path, const std::string& target, FileLock* targetLock) {
  FileUpdate update;
  if (!beginUpdateAt(update, target, UpdateKind::userData)) {
    return Problem{path, "Cannot create", reasonNotBegun(update)};
  }
  Outcome problem;
  if (!copyPermissions(replacement.level.source.file, update.file,
                       replacement.outPath == nullptr)) {
    problem = systemProblem(path, "Cannot write", errno);
  }
  if (!problem) {
    problem = writeLevelBytes(replacement, groups, update, path);
  }
  if (!problem && !groups.empty()) {
    // Read in full: nothing holds the level file open while it is replaced.
    closeLevelStream(replacement.level);
  }
  if (!problem && !commitUpdate(update, targetLock)) {
    problem = systemProblem(path, "Cannot write", update.error);
  }
  abandonUpdate(update);
  return problem;
}

// The refusal of a sound at another rate than the effect's.
Outcome checkRate(const Replacement& replacement, const WavSound& sound) {
  if (sound.sampleRate == replacement.rate) {
    return std::nullopt;
  }
  auto rate = std::to_string(replacement.rate);
  auto soundRate = std::to_string(sound.sampleRate);
  if (sound.sampleRate == 0) {
    return Problem{replacement.wavPath, "0 Hz is no rate", ""};
  }
  // --rate is advised only where it would be taken.
  bool rateTaken = sound.sampleRate >= lowestEffectRate && sound.sampleRate <= highestEffectRate;
  return Problem{replacement.wavPath,
                 soundRate + " Hz, but the effect plays at " + rate + " Hz; resample it to " +
                     rate + " Hz" + (rateTaken ? " or give --rate " + soundRate : ""),
                 ""};
}

// Everything a run does once the level file is open and locked.
Outcome replaceEffect(Replacement& replacement, Console console) {
  WavSound sound;
  auto problem = findEntry(replacement);
  if (!problem) {
    problem = readSound(replacement, sound);
  }
  if (!problem) {
    problem = checkRate(replacement, sound);
  }
  if (!problem) {
    problem = checkDestination(replacement);
  }
  if (problem) {
    return problem;
  }
  auto effectSamples =
      static_cast<std::uint64_t>(replacement.entry.groupCount) * samplesPerEffectGroup;
  std::fprintf(console.out,
               "Replacing effect %s (%s, %s at %" PRIu32 " Hz, %s units) in %s from %s...\n",
               replacement.indexText,
               counted(static_cast<std::uint64_t>(replacement.entry.groupCount), "group").c_str(),
               secondsOf(effectSamples, replacement.rate).c_str(), replacement.rate,
               replacement.entry.unitSelector == 0 ? "even" : "odd", replacement.levelPath,
               replacement.wavPath);
  auto frames = sound.frames;
  auto groups = encodedGroups(replacement, std::move(sound.samples));
  if (groups.empty()) {
    return systemProblem(replacement.levelPath, "Cannot read", replacement.level.error);
  }
  // In place, the level file's bytes are first kept as LEVEL.bak, unless that exists already;
  // the backup is on the disk before the level file is replaced.
  if (replacement.writeBackup && (problem = writeLevelFile(replacement, {}, replacement.backup,
                                                           replacement.backup, nullptr))) {
    return problem;
  }
  bool inPlace = replacement.outPath == nullptr;
  auto* targetLock = inPlace ? &replacement.lock : &replacement.outLock;
  if ((problem = writeLevelFile(replacement, groups,
                                inPlace ? replacement.levelPath : replacement.outPath,
                                inPlace ? replacement.target : replacement.outTarget,
                                targetLock->held ? targetLock : nullptr))) {
    return problem;
  }
  if (frames > effectSamples) {
    return Problem{replacement.wavPath,
                   "Kept the first " + secondsOf(effectSamples, replacement.rate) + " of " +
                       secondsOf(frames, replacement.rate),
                   ""};
  }
  return std::nullopt;
}

} // namespace

int lvlsndReplaceMain(int argc, const char* const* argv, Console console) {
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
  if (!problem) {
    problem = replaceEffect(replacement, console);
  }
  if (problem) {
    complain(console, *problem);
  }
  closeLevelStream(replacement.level);
  releaseLock(replacement.lock);
  releaseLock(replacement.outLock);
  return problem ? exitComplaint : exitDone;
}

} // namespace lvlsnd
