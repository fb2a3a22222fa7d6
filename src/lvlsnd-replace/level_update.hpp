// The level file lvlsnd-replace changes: opened and locked once, its sound table read, where
// the changed file may go checked, the bytes of the entries being changed held in memory, and
// the whole file written once, in place (after its backup) or to OUT.
#pragma once

#include "file_lock.hpp"
#include "file_update.hpp"
#include "inputs.hpp"
#include "level_file.hpp"
#include "problem.hpp"
#include "xa_adpcm.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lvlsnd {

struct LevelTarget {
  const char* path = nullptr;    // as typed
  const char* outPath = nullptr; // null: the level file is changed in place
  bool force = false;            // OUT may replace an existing file
  // The file a link to LEVEL leads to, resolved once: the lock, the read and the backup's name
  // use it, so that a link pointed elsewhere meanwhile changes nothing.
  std::string target;
  LevelStream level;
  FileLock lock;
  FileLock outLock; // on the file OUT held, when it held one
  // The updates the destination's check began, each with the name looked up then: the level
  // file in place or OUT, and in place the backup, when there is none yet.
  FileUpdate update;
  FileUpdate backup;
  std::int64_t size = 0;
  SoundTable table;
};

// Where the entry's stored groups end in the level file.
std::int64_t groupsEnd(const SoundEntry& entry);

// Opens the level file and takes its lock.
Outcome openLevelFile(LevelTarget& level);
// Reads the sound table; the problem when the file is a WAV file or an effect file given in its
// place, or cannot be read.
Outcome readLevelTable(LevelTarget& level);
// The entry `index` (as typed: `indexText`) names; the problem when it cannot take a sound.
Outcome findEntry(const LevelTarget& level, const std::string& indexText, SoundEntry& entry);
// The refusals that keep a run from writing a wrong or unwanted file, none of the `inputs` (the
// WAV files) among them; it begins the updates of what the run writes, so that what it checked
// is what they replace. In place it decides whether the backup is written; with -o it takes
// OUT's lock when OUT exists.
Outcome checkDestination(LevelTarget& level, std::span<const RunInput> inputs);

// A run of the level file's bytes as the run changes them: the stored groups of one or more
// entries, read once.
struct LevelBytes {
  std::int64_t offset = 0;
  std::vector<std::uint8_t> bytes;
};
// Reads the bytes of the stored groups of `entries`, entries that overlap in one run.
Outcome readEntryBytes(LevelTarget& level, std::span<const SoundEntry> entries,
                       std::vector<LevelBytes>& runs);
// The entry's stored groups as `runs` hold them now, and the same put back.
std::vector<StoredGroup> groupsOf(const std::vector<LevelBytes>& runs, const SoundEntry& entry);
void putGroups(std::vector<LevelBytes>& runs, const SoundEntry& entry,
               const std::vector<StoredGroup>& groups);

// Writes the level file with `runs` in place of its bytes: in place (after its backup, when
// there is none yet) or to OUT. On a problem every file is as it was, or already complete.
Outcome writeLevel(LevelTarget& level, const std::vector<LevelBytes>& runs);
void closeLevel(LevelTarget& level);

// Whether the source starts as an effect file does: a whole XA sound group, and no RIFF/WAVE
// header. An effect file given for the level file or a WAV file would read as noise.
bool startsLikeEffectFile(ByteSource& source);

} // namespace lvlsnd
