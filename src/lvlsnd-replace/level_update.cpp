#include "level_update.hpp"

#include "bug.hpp"

#include "command_line.hpp"
#include "effect_names.hpp"
#include "file_update.hpp"
#include "wav.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace lvlsnd {

namespace {

// The level file is copied through this buffer.
constexpr std::size_t copyBufferSize = 64 * 1024;

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

// The complaint of OUT's name when something is put under it meanwhile: what it would have
// had at the start, and without --force that is "Exists".
Problem outChanged(const LevelTarget& level) {
  return {level.outPath,
          level.force ? "Changed during the run; not written"
                      : "Exists; give --force to replace it",
          ""};
}

// The refusals of an OUT that is an input, no regular file or a file the user has (unless
// --force), and of one another run is changing: its lock is taken, as the level file's is, and
// held until it is replaced.
Outcome checkOut(LevelTarget& level, std::span<const RunInput> wavs) {
  const char* out = level.outPath;
  auto refused = [&](const std::string& text) { return Problem{out, text, ""}; };
  if (auto problem = level.update.begin(out, {.kind = UpdateKind::userData})) {
    return problem->systemFailed ? *problem : refused("Not a regular file");
  }
  const auto& found = level.update.found();
  std::vector<RunInput> inputs = {{level.path, level.level.identity}};
  inputs.insert(inputs.end(), wavs.begin(), wavs.end());
  auto match = findInput(found, out, inputs);
  if (match.problem) {
    return match.problem;
  }
  if (match.index == 0) {
    return refused("Is the level file; leave out -o to change it in place");
  }
  if (match.index < inputs.size()) {
    return refused("Is the WAV file");
  }
  if (found.kind == IdentityKind::none) {
    return std::nullopt;
  }
  if (!level.force) {
    return refused("Exists; give --force to replace it");
  }
  auto target = resolveLink(out);
  if (target.failed()) {
    return systemProblem(out, "Cannot open", target.error);
  }
  level.outLock = lockFile(target.value.c_str());
  if (!level.outLock.held) {
    return level.outLock.busy ? refused("Being changed by another run")
                              : systemProblem(out, "Cannot open", level.outLock.error);
  }
  // The lock must be on the file the update found.
  if (compareFiles(level.outLock.identity, found) != Sameness::same) {
    return outChanged(level);
  }
  return std::nullopt;
}

// The problem of a read of the level file that failed or came up short: a read with no error
// that came up short means the file was cut while it was read.
Problem levelReadProblem(const LevelTarget& level) {
  if (level.level.failed) {
    return systemProblem(level.path, "Cannot read", level.level.error);
  }
  return {level.path, "Cannot read", "it got shorter while it was read"};
}

// Reads `bytes` from `offset` on; the problem when the file cannot give them all.
Outcome readLevelBytes(LevelTarget& level, std::int64_t offset, std::span<std::uint8_t> bytes) {
  seekLevel(level.level, offset);
  readBytes(level.level, bytes);
  // A level file cut short reads as 255 from its end and stops there.
  if (level.level.failed || level.level.position != offset + std::ssize(bytes)) {
    return levelReadProblem(level);
  }
  return std::nullopt;
}

// Copies the level file's bytes from the current position up to `end` into `out`.
Outcome copyLevelBytes(LevelTarget& level, std::int64_t end, FileUpdate& out,
                       std::vector<std::uint8_t>& buffer) {
  while (level.level.position < end) {
    auto count = static_cast<std::size_t>(std::min<std::int64_t>(
        end - level.level.position, static_cast<std::int64_t>(buffer.size())));
    auto chunk = std::span(buffer).first(count);
    if (auto problem = readLevelBytes(level, level.level.position, chunk)) {
      return problem;
    }
    if (!out.write(chunk.data(), chunk.size())) {
      return out.commit(); // which gives the write's problem
    }
  }
  return std::nullopt;
}

// Writes the level file, with `runs` in place of its bytes, into `out`.
Outcome writeLevelBytes(LevelTarget& level, const std::vector<LevelBytes>& runs, FileUpdate& out) {
  std::vector<std::uint8_t> buffer(copyBufferSize);
  seekLevel(level.level, 0);
  for (const auto& run : runs) {
    if (auto problem = copyLevelBytes(level, run.offset, out, buffer)) {
      return problem;
    }
    if (!out.write(run.bytes.data(), run.bytes.size())) {
      return out.commit();
    }
    seekLevel(level.level, run.offset + std::ssize(run.bytes));
  }
  return copyLevelBytes(level, level.size, out, buffer);
}

// Writes the level file with `runs` in place of its bytes through `update`, named `path` in
// messages; `targetLock` guards what it replaces. The level file is closed once read in full
// for the last write, so that nothing holds it open while it is replaced. On a problem the file
// is as it was, or already complete.
Outcome writeLevelFile(LevelTarget& level, const std::vector<LevelBytes>& runs, FileUpdate& update,
                       const char* path, FileLock* targetLock, bool lastWrite) {
  std::FILE* file = update.newFile();
  if (file == nullptr) {
    return update.commit(); // which gives the problem
  }
  Outcome problem;
  if (auto copied = copyPermissions(level.level.source.file, file, level.outPath == nullptr);
      copied.failed()) {
    problem = systemProblem(path, "Cannot write", copied.error);
  }
  if (!problem) {
    problem = writeLevelBytes(level, runs, update);
  }
  if (!problem && lastWrite) {
    closeLevelStream(level.level);
  }
  if (!problem) {
    problem = update.commit(targetLock);
  }
  update.abandon();
  if (problem) {
    problem->name = path;
  }
  return problem;
}

} // namespace

std::int64_t groupsEnd(const SoundEntry& entry) {
  return std::int64_t{entry.groupOffset} +
         std::int64_t{entry.groupCount} * std::int64_t{storedGroupSize};
}

// Whether the source starts as an effect file does: a whole XA sound group, and no RIFF/WAVE
// header.
bool startsLikeEffectFile(ByteSource& source) {
  RawGroup start{};
  auto read = readAt(source, 0, start);
  return read.got == start.size() && !startsLikeWav(start) && isXaSoundGroup(start);
}

Outcome openLevelFile(LevelTarget& level) {
  const char* path = level.path;
  auto resolved = resolveLink(path);
  if (resolved.failed()) {
    return systemProblem(path, "Cannot open", resolved.error);
  }
  level.target = resolved.value;
  const char* target = level.target.c_str();
  // A run that finished meanwhile may have renamed a new file over the name; the locked file
  // must be the one the name leads to, so the name is opened again once the lock is held.
  for (int attempt = 0; attempt < 3; ++attempt) {
    level.lock = lockFile(target);
    if (level.lock.busy) {
      return Problem{path, "Being changed by another run", ""};
    }
    if (!level.lock.held) {
      return systemProblem(path, "Cannot open", level.lock.error);
    }
    level.level = openLevelStream(target);
    if (level.level.source.file == nullptr) {
      return systemProblem(path, "Cannot open", level.level.error);
    }
    auto size = fileSize(level.level.source.file);
    if (size.failed()) {
      // A block device has no size here.
      return sizeProblem(path, size.error);
    }
    level.size = size.value;
    switch (compareFiles(level.lock.identity, level.level.identity)) {
    case Sameness::same:
      return std::nullopt;
    case Sameness::unknown:
      return systemProblem(path, "Cannot read", level.lock.identity.error);
    case Sameness::different:
      break;
    }
    closeLevelStream(level.level);
    releaseLock(level.lock);
  }
  return Problem{path, "Being changed by another run", ""};
}

Outcome readLevelTable(LevelTarget& level) {
  auto& stream = level.level;
  auto refused = [&](const std::string& text) { return Problem{level.path, text, ""}; };
  std::array<std::uint8_t, 12> start{};
  readBytes(stream, start);
  if (!stream.failed && startsLikeWav(start)) {
    return refused("A WAV file, not a level file; the order is LEVEL INDEX SOUND.wav");
  }
  // An effect file is named as lvlsnd names it; its groups would read as a sound table of noise.
  if (!stream.failed && effectNameOf(level.path, ".raw") && startsLikeEffectFile(stream.source)) {
    return refused("An effect file, not a level file; lvlsnd extracts effect files from a level "
                   "file");
  }
  seekLevel(stream, 0);
  seekLevel(stream, readSoundHeaderOffset(stream));
  level.table = readSoundTable(stream);
  if (stream.failed) {
    return systemProblem(level.path, "Cannot read", stream.error);
  }
  return std::nullopt;
}

Outcome findEntry(const LevelTarget& level, const std::string& indexText, SoundEntry& entry) {
  auto refused = [&](const std::string& text) { return Problem{level.path, text, ""}; };
  std::size_t index = 0;
  if (!readDecimal(indexText, index)) {
    return refused(indexText + " is not an entry index");
  }
  const auto& entries = level.table.entries;
  if (index < 1 || index >= entries.size()) {
    return refused("No entry " + indexText + " in the sound table" + effectsOf(level.table));
  }
  entry = entries[index];
  if (entry.groupCount <= 0) {
    return refused("Entry " + indexText + " has no stored groups" + effectsOf(level.table));
  }
  if (groupsEnd(entry) > level.size) {
    return refused("The stored groups of entry " + indexText + " do not lie inside the file");
  }
  return std::nullopt;
}

namespace {

// Only "nothing there" means there is no backup yet: any other answer might hide the backup of
// the original, which must never be replaced by a copy of a changed level file. A link is no
// backup.
Outcome checkBackup(LevelTarget& level) {
  auto name = level.target + ".bak";
  auto problem =
      level.backup.begin(name, {.kind = UpdateKind::userData, .links = LinkRule::refuse});
  if (problem) {
    return problem->systemFailed
               ? Problem{name, "Cannot read", problem->reason, true}
               : Problem{name, "Not a regular file; the original would not be kept", ""};
  }
  if (level.backup.found().kind != IdentityKind::none) {
    level.backup.abandon(); // there is one: it is kept as it is
  }
  return std::nullopt;
}

} // namespace

Outcome checkDestination(LevelTarget& level, std::span<const RunInput> inputs) {
  const char* path = level.path;
  if (level.outPath != nullptr) {
    return checkOut(level, inputs);
  }
  auto names = nameCount(level.level.source.file);
  if (names.failed()) {
    return systemProblem(path, "Cannot read", names.error);
  }
  if (names.value > 1) {
    return Problem{path,
                   "Has other names (hard links) that would keep the old bytes; write a copy "
                   "with -o",
                   ""};
  }
  auto writability = writabilityOf(level.level.source.file, level.target.c_str());
  switch (writability.value) {
  case Writability::writable:
    break;
  case Writability::readOnly:
    return Problem{path, "Read-only", ""};
  case Writability::denied:
    return Problem{path,
                   "Cannot write (" + reasonOf(writability.error) + "); write a copy with -o OUT",
                   "", true};
  case Writability::unknown:
    return systemProblem(path, "Cannot read", writability.error);
  }
  // The level file is replaced only while its name holds the locked file.
  if (auto problem = level.update.begin(
          level.target, {.kind = UpdateKind::userData, .links = LinkRule::refuse})) {
    problem->name = path;
    return problem->systemFailed ? *problem : Problem{path, "Being changed by another run", ""};
  }
  if (compareFiles(level.update.found(), level.lock.identity) != Sameness::same) {
    return Problem{path, "Being changed by another run", ""};
  }
  return checkBackup(level);
}

Outcome readEntryBytes(LevelTarget& level, std::span<const SoundEntry> entries,
                       std::vector<LevelBytes>& runs) {
  std::vector<std::pair<std::int64_t, std::int64_t>> spans; // start, end
  for (const auto& entry : entries) {
    spans.emplace_back(entry.groupOffset, groupsEnd(entry));
  }
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<std::int64_t, std::int64_t>> merged;
  for (const auto& span : spans) {
    if (!merged.empty() && span.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, span.second);
    } else {
      merged.push_back(span);
    }
  }
  runs.clear();
  for (const auto& [start, end] : merged) {
    LevelBytes run{start, std::vector<std::uint8_t>(static_cast<std::size_t>(end - start))};
    if (auto problem = readLevelBytes(level, start, run.bytes)) {
      return problem;
    }
    runs.push_back(std::move(run));
  }
  return std::nullopt;
}

namespace {

// Where the entry's stored groups lie in the runs: which run holds them, and from which byte.
struct Place {
  std::size_t run = 0;
  std::size_t at = 0;
};

Place placeOf(const std::vector<LevelBytes>& runs, const SoundEntry& entry) {
  for (std::size_t k = 0; k < runs.size(); ++k) {
    auto end = runs[k].offset + std::ssize(runs[k].bytes);
    if (entry.groupOffset >= runs[k].offset && groupsEnd(entry) <= end) {
      return {k, static_cast<std::size_t>(entry.groupOffset - runs[k].offset)};
    }
  }
  bug("an entry's bytes were not read");
}

} // namespace

std::vector<StoredGroup> groupsOf(const std::vector<LevelBytes>& runs, const SoundEntry& entry) {
  std::vector<StoredGroup> groups(static_cast<std::size_t>(entry.groupCount));
  auto place = placeOf(runs, entry);
  std::memcpy(groups.data(), runs[place.run].bytes.data() + place.at,
              groups.size() * storedGroupSize);
  return groups;
}

void putGroups(std::vector<LevelBytes>& runs, const SoundEntry& entry,
               const std::vector<StoredGroup>& groups) {
  auto place = placeOf(runs, entry);
  std::memcpy(runs[place.run].bytes.data() + place.at, groups.data(),
              groups.size() * storedGroupSize);
}

Outcome writeLevel(LevelTarget& level, const std::vector<LevelBytes>& runs) {
  // In place, the level file's bytes are first kept as LEVEL.bak, unless that exists already;
  // the backup is on the disk before the level file is replaced.
  if (level.backup.state() == UpdateState::begun) {
    auto name = level.target + ".bak";
    if (auto problem = writeLevelFile(level, {}, level.backup, name.c_str(), nullptr, false)) {
      return problem;
    }
  }
  bool inPlace = level.outPath == nullptr;
  auto* targetLock = inPlace ? &level.lock : &level.outLock;
  const char* path = inPlace ? level.path : level.outPath;
  auto problem = writeLevelFile(level, runs, level.update, path,
                                targetLock->held ? targetLock : nullptr, true);
  // OUT is told as it would have been at the start.
  return problem && !inPlace && level.update.targetChanged() ? outChanged(level) : problem;
}

void closeLevel(LevelTarget& level) {
  level.update.abandon();
  level.backup.abandon();
  closeLevelStream(level.level);
  releaseLock(level.lock);
  releaseLock(level.outLock);
}

} // namespace lvlsnd
