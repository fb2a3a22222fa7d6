// The file update and the list of temporary files it keeps, the same on both systems.
#include "platform_halves.hpp"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace lvlsnd {

namespace {

// The temporary files not yet renamed or removed. It changes only while the interrupt
// handlers are held off, so they always find it whole.
std::vector<std::string> temporaryFiles;

void forgetTemporaryFile(const std::string& path) {
  std::erase(temporaryFiles, path);
}

// The temporary files that could not be removed, and why: the end of the program names them.
struct Leftover {
  std::string path;
  int error = 0;
};
std::vector<Leftover> leftovers;

void removeOrNoteLeftover(const std::string& path) {
  if (!removeFile(path.c_str()) && errno != ENOENT) {
    leftovers.push_back({path, errno});
  }
}

// A caller broke the update's rules: it ends here, before anything is renamed or written.
[[noreturn]] void misused(const char* what, const FileUpdate& update) {
  std::fflush(stdout);
  std::fprintf(stderr, "lvlsnd: programming error: %s (file update of %s)\n", what,
               update.target.c_str());
  std::abort();
}

// Removes the temporary file and takes it off the list.
void dropTemporaryFile(const FileUpdate& update) {
  holdInterrupts();
  removeOrNoteLeftover(update.temporary);
  forgetTemporaryFile(update.temporary);
  releaseInterrupts();
}

// Creates the temporary file beside the target and lists it; false when it cannot.
bool createTemporaryFile(FileUpdate& update) {
  // Held from before the file exists until it is listed, so that no interrupt leaves it behind.
  holdInterrupts();
  update.file = createExclusiveFile(folderOf(update.target), update.temporary);
  if (update.file != nullptr) {
    temporaryFiles.push_back(update.temporary);
  }
  update.error = update.file == nullptr ? errno : 0;
  releaseInterrupts();
  return update.file != nullptr;
}

} // namespace

void removeTemporaryFiles() {
  for (const auto& path : temporaryFiles) {
    removeFile(path.c_str());
  }
}

bool reportLeftoverFiles() {
  for (const auto& leftover : leftovers) {
    std::fprintf(stderr, "%s: Cannot remove (%s)\n", leftover.path.c_str(),
                 reasonOf(leftover.error).c_str());
  }
  return !leftovers.empty();
}

bool beginUpdate(FileUpdate& update, const std::string& path, UpdateKind kind) {
  std::string target;
  if (!resolveLink(path.c_str(), target)) {
    update.error = errno;
    return false;
  }
  return beginUpdateAt(update, target, kind);
}

bool beginUpdateAt(FileUpdate& update, const std::string& target, UpdateKind kind) {
  static const bool removedAtExit = std::atexit(removeTemporaryFiles) == 0;
  (void)removedAtExit;
  if (update.state != UpdateState::notBegun) {
    misused("begun twice", update);
  }
  update.kind = kind;
  update.target = target;
  auto targetKind = kindOfName(update.target.c_str(), true);
  if (targetKind == NameKind::other || targetKind == NameKind::unknown) {
    update.notRegular = targetKind == NameKind::other;
    update.error = update.notRegular ? 0 : errno;
    return false;
  }
  if (!createTemporaryFile(update)) {
    return false;
  }
  update.state = UpdateState::begun;
  // Every caller writes whole chunks; a buffer would only add a copy.
  std::setvbuf(update.file, nullptr, _IONBF, 0);
  if (kind == UpdateKind::remakeable && !giveOrdinaryPermissions(update.file)) {
    int error = errno;
    abandonUpdate(update);
    update.error = error;
    return false;
  }
  return true;
}

std::string reasonNotBegun(const FileUpdate& update) {
  return update.notRegular ? "not a regular file" : reasonOf(update.error);
}

bool writeToUpdate(FileUpdate& update, const void* bytes, std::size_t size) {
  if (update.state != UpdateState::begun) {
    misused("written while not begun", update);
  }
  if (!update.writeFailed && std::fwrite(bytes, 1, size, update.file) != size) {
    update.writeFailed = true;
    update.error = errno;
  }
  return !update.writeFailed;
}

void abandonUpdate(FileUpdate& update) {
  if (update.state != UpdateState::begun) {
    return;
  }
  std::fclose(update.file);
  update.file = nullptr;
  dropTemporaryFile(update);
  update.state = UpdateState::abandoned;
}

namespace {

// Flushes and closes the temporary file as the update's kind asks; false, with the error, when
// either failed.
bool closeTemporaryFile(FileUpdate& update) {
  bool userData = update.kind == UpdateKind::userData;
  bool written = userData ? flushToDisk(update.file) : std::fflush(update.file) == 0;
  int error = written ? 0 : errno;
  bool closed = std::fclose(update.file) == 0;
  update.file = nullptr;
  if (written && !closed) {
    error = errno;
  }
  update.error = error;
  return written && closed;
}

} // namespace

bool commitUpdate(FileUpdate& update, FileLock* targetLock) {
  if (update.state != UpdateState::begun) {
    misused("committed while not begun", update);
  }
  if (update.writeFailed) {
    int error = update.error;
    abandonUpdate(update);
    update.error = error;
    return false;
  }
  if (!closeTemporaryFile(update)) {
    dropTemporaryFile(update);
    update.state = UpdateState::abandoned;
    return false;
  }
  if (targetLock != nullptr) {
    releaseLockBeforeReplacing(*targetLock);
  }
  holdInterrupts();
  bool renamed = update.guarded ? renameOverIfUnchanged(update.temporary, update.target,
                                                        update.expected, update.targetChanged)
                                : renameOver(update.temporary, update.target);
  if (!renamed) {
    update.error = errno;
  }
  // After a guarded rename the old file came out under the temporary file's name.
  if (!renamed || (update.guarded && update.expected.kind == IdentityKind::known)) {
    removeOrNoteLeftover(update.temporary);
  }
  forgetTemporaryFile(update.temporary);
  releaseInterrupts();
  update.state = renamed ? UpdateState::committed : UpdateState::abandoned;
  if (renamed && update.kind == UpdateKind::userData && !flushFolder(folderOf(update.target))) {
    update.error = errno;
    return false;
  }
  return renamed;
}

} // namespace lvlsnd
