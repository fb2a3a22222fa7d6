// A file being written anew: the one way every program writes a file, new or in place of
// another, so that it is never left half-written. Its bytes go to an exclusive temporary file
// beside the target, ".lvlsnd-XXXXXX" (never written through an existing name or a planted
// link), which Ctrl+C, SIGTERM, SIGHUP, SIGQUIT, closing the console or the end of the program
// removes until it is renamed over the target.
//
// An update has states, as a lock file of git's does:
//
//   notBegun --beginUpdate--> begun --commitUpdate--> committed
//       |                       |
//       +--(it could not)       +----abandonUpdate--> abandoned
//
// Only a begun update holds a temporary file, and only a begun one may be written or committed:
// beginning one that is not new, or writing or committing one that is not begun, is a
// programming error that ends the program at once with a message, before it renames or writes
// anything. Abandoning one that is not begun does nothing, so every way out of a function may
// abandon, after a commit too. A write that failed spoils the update: committing it abandons it.
#pragma once

#include "file_lock.hpp"

#include <cstddef>
#include <cstdio>
#include <string>

namespace lvlsnd {

// How much an update guards against a power cut. The user's data (a level file, its backup) is
// forced to the disk before the rename and the folder after it, so that a power cut leaves the
// old file or the new one, never an empty one. A file that can always be made again (an effect
// file, a WAV file, a page) is not, so that writing it costs what copying does; it gets the
// permissions an ordinary new file gets (0666 less the umask), where the user's data copies its
// own.
enum class UpdateKind { userData, remakeable };
enum class UpdateState { notBegun, begun, committed, abandoned };

struct FileUpdate {
  UpdateState state = UpdateState::notBegun;
  UpdateKind kind = UpdateKind::userData;
  std::string target;        // where the file goes: the file a symbolic link leads to
  std::string temporary;     // the temporary file's name
  std::FILE* file = nullptr; // open for writing, unbuffered, while begun
  bool writeFailed = false;
  bool notRegular = false; // it could not begin: the target is no regular file
  int error = 0;           // errno of the step that failed
  // What the target must still be when committed, when `guarded` (an edit checked, say): a
  // target changed meanwhile is kept, and the commit fails with `targetChanged`.
  bool guarded = false;
  FileIdentity expected;
  bool targetChanged = false;

  FileUpdate() = default;
  FileUpdate(const FileUpdate&) = delete; // one temporary file, one owner
  FileUpdate& operator=(const FileUpdate&) = delete;
};

// Begins writing the file `path` leads to. False when the link cannot be resolved, the
// temporary file cannot be created, or the target is something else than a regular file (a
// folder, a device) or cannot be told: nothing is ever renamed over such a thing.
bool beginUpdate(FileUpdate& update, const std::string& path, UpdateKind kind);
// The same for `target`, a path that resolveLink gave: it is not resolved again, so that a run
// that resolved a link once writes where it locked, even if the link is pointed elsewhere.
bool beginUpdateAt(FileUpdate& update, const std::string& target, UpdateKind kind);
// Why an update could not begin: the system's words, or "not a regular file".
std::string reasonNotBegun(const FileUpdate& update);
// Writes `size` bytes to the temporary file; false, with the update spoiled, when they could
// not all be written.
bool writeToUpdate(FileUpdate& update, const void* bytes, std::size_t size);
// Closes the temporary file and renames it over the target, flushed as its kind asks.
// `targetLock`, when not null, guards the target; Windows renames nothing over an open file, so
// there it is released just before the rename (elsewhere it is held through it, so no second
// run reads the old file in between). Returns false when any step failed: the update is then
// abandoned and the target as it was, unless only the folder's flush failed (committed).
bool commitUpdate(FileUpdate& update, FileLock* targetLock);
// Closes and removes the temporary file of a begun update; the target stays as it was.
void abandonUpdate(FileUpdate& update);

} // namespace lvlsnd
