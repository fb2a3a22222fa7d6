// A file being written anew: the one way every program writes a file, new or in place of
// another, so that it is never left half-written and never lands anywhere but where it was
// checked.
//
// The name is looked up once: a symbolic link is resolved (or refused), the folder the file lands
// in is held open, and what the name holds then is `found()`, checked against the files the
// update must not replace (UpdateRules::avoid) and by the caller (an edit, say). Every later
// step works relative to the held folder and the final name, so a link pointed elsewhere
// meanwhile redirects nothing. The look is at begin, or, for a name no caller needs to see
// first, only when the final step finds the name taken: a name that holds nothing cannot be an
// input. The bytes go to a file of no name where the system has them (O_TMPFILE), else to an
// exclusive temporary file beside the target, ".lvlsnd-XXXXXX", which Ctrl+C, SIGTERM, SIGHUP,
// SIGQUIT, closing the console or the end of the program removes. The final step replaces only
// what was found:
//   - nothing found: the file gets the name only while it is still free;
//   - a file found: the two are exchanged, and what came out must be that very file (unchanged
//     too, for UpdateGuard::unchangedFile, and looked at once more), or they are exchanged back.
// Otherwise the commit fails with `targetChanged()` and nothing is written. Windows has no
// exchange: there the name is looked at just before the file is moved over it.
//
//   notBegun --begin--> begun --commit--> committed
//       |                 |
//       +--(it could not) +--abandon (or the destructor)--> abandoned
//
// Writing or committing an update that is not begun, or beginning one twice, is a programming
// error that ends the program at once with a message, before anything is renamed or written.
// A write that failed spoils the update: committing it abandons it.
#pragma once

#include "file_lock.hpp"
#include "problem.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace lvlsnd {

// How much an update guards against a power cut. The user's data (a level file, its backup) is
// forced to the disk before the final step and the folder after it, so that a power cut leaves
// the old file or the new one, never an empty one. A file that can always be made again (an
// effect file, a WAV file, a page) is not, so that writing it costs what copying does; it gets
// the permissions an ordinary new file gets (0666 less the umask), where the caller copies the
// user's data's own.
enum class UpdateKind { userData, remakeable };
// What the name must still hold at the final step: the file found at begin, or that file with
// its size and modification time as they were (an edit the caller looked at and kept).
enum class UpdateGuard { sameFile, unchangedFile };
// A symbolic link under the name: followed once (the file it leads to is replaced, and the link
// stays a link), or taken as something that is no regular file (a backup's name, say).
enum class LinkRule { follow, refuse };
// When the name is looked at: at begin, for a caller that checks what it holds (found()); or
// only when the final step finds it taken, since a name that holds nothing cannot be an input
// (the names of a level's many effect files, say).
enum class LookUp { atBegin, whenTaken };
enum class UpdateState { notBegun, begun, committed, abandoned };

struct UpdateRules {
  UpdateKind kind = UpdateKind::remakeable;
  UpdateGuard guard = UpdateGuard::sameFile;
  LinkRule links = LinkRule::follow;
  LookUp lookUp = LookUp::atBegin;
  // The files the name must not hold (the run's inputs), which outlive the update: found there,
  // or when the system cannot tell, the update is refused (nameRefused).
  std::span<const FileIdentity> avoid = {};
};

// The folder an update's file lands in, held open (a descriptor on POSIX systems; Windows works
// by its path), as the user sees it.
struct HeldFolder {
  std::string path;
  std::intptr_t handle = -1;
};

// The folders a run writes in are held from their first update to the end of the run, so that
// each is looked up once: the run owns one of these, declared before its updates, and its end
// lets them go (a library used for run after run, by a fuzzer in a folder of its own each time,
// looks each folder up again).
// Without one, an update holds its folder for itself alone.
class FoldersOfRun {
public:
  FoldersOfRun();
  ~FoldersOfRun();
  FoldersOfRun(const FoldersOfRun&) = delete;
  FoldersOfRun& operator=(const FoldersOfRun&) = delete;
};

// How a final step ended: done, refused because the name no longer held what was found (nothing
// written), or failed (errno says why; nothing written).
enum class FinalStep { done, changed, failed };

class FileUpdate {
public:
  FileUpdate() = default;
  ~FileUpdate() { abandon(); }
  FileUpdate(const FileUpdate&) = delete; // one temporary file, one owner
  FileUpdate& operator=(const FileUpdate&) = delete;

  // Holds the folder `path` lands in and, by `rules.lookUp`, looks the name up. The problem,
  // "Cannot create (<reason>)" naming `path`, when the link or the folder cannot be resolved or
  // held, when the system cannot say what the name holds, when it holds something else than a
  // regular file (a folder, a device: nothing is ever put in place of such a thing), or one of
  // `rules.avoid`: the last three with nameRefused().
  Outcome begin(const std::string& path, UpdateRules rules);
  // What the name held at begin: `none`, or the regular file's identity (LookUp::atBegin).
  const FileIdentity& found() const;
  // Opens the file found, for reading (to compare with); none, with `changed` when the name no
  // longer holds it as it was, or failed when it cannot be opened.
  SystemResult<std::FILE*> openFound(bool& changed) const;
  // The new file, created at the first call; null, with the problem kept for commit, when it
  // cannot be created.
  std::FILE* newFile();
  // Writes `size` bytes to the new file; false, with the update spoiled, when they could not all
  // be written.
  bool write(const void* bytes, std::size_t size);
  // Flushes the new file as its kind asks and puts it in place of what was found. `targetLock`,
  // when not null, guards the target; Windows replaces no open file, so there it is released
  // just before the final step (elsewhere it is held through it, so no second run reads the old
  // file in between). The problem "Cannot write (<reason>)" when a step failed; the update is
  // then abandoned and the target as it was, unless only the folder's flush failed. With
  // `targetChanged()` when the name no longer held what was found.
  Outcome commit(FileLock* targetLock = nullptr);
  bool targetChanged() const { return targetChanged_; }
  // Whether the name was refused for what it held, or what it held could not be told.
  bool nameRefused() const { return nameRefused_; }
  // Closes and removes the new file of a begun update; the target stays as it was. Nothing, when
  // the update is not begun.
  void abandon();
  UpdateState state() const { return state_; }

private:
  Outcome lookUpName();
  bool holdFolderOf(const std::string& path);
  Outcome failure(const char* text, int error);
  Outcome finalStep();
  FinalStep nameUnnamedFile();
  bool giveTemporaryName(bool sameFolder);
  void dropNewFile();
  void letFolderGo();

  UpdateState state_ = UpdateState::notBegun;
  UpdateRules rules_;
  std::string path_; // as the caller named it, for messages
  HeldFolder folder_;
  bool ownsFolder_ = false; // held for this update alone, with no FoldersOfRun
  std::string name_;        // the final name in that folder
  bool lookedUp_ = false;
  FileIdentity found_;
  std::FILE* file_ = nullptr;
  std::string temporary_;     // the new file's name in the folder; empty while it has none
  std::string temporaryPath_; // the same as the user sees it, for messages and the signal handlers
  Outcome spoiled_;           // why a write or the creation failed
  bool targetChanged_ = false;
  bool nameRefused_ = false;
  bool oldFileOut_ = false;        // the final step's exchange brought the old file out
  bool holdingInterrupts_ = false; // while the final step changes the list of temporary files
};

} // namespace lvlsnd
