// The file update and the list of temporary files it keeps, the same on both systems.
#include "platform_halves.hpp"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace lvlsnd {

namespace {

// The temporary files not yet renamed or removed, as the user sees them. It changes only while
// the interrupt handlers are held off, so they always find it whole.
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

void removeOrNoteLeftover(const HeldFolder& folder, const std::string& name,
                          const std::string& path) {
  if (!removeIn(folder, name) && errno != ENOENT) {
    leftovers.push_back({path, errno});
  }
}

// A caller broke the update's rules: it ends here, before anything is renamed or written.
[[noreturn]] void misused(const char* what, const std::string& path) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: programming error: %s (file update of %s)\n", programName(), what,
               path.c_str());
  std::abort();
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

Outcome FileUpdate::failure(const char* text, int error) {
  return systemProblem(path_, text, error);
}

Outcome FileUpdate::begin(const std::string& path, UpdateKind kind, UpdateGuard guard,
                          LinkRule links) {
  static const bool removedAtExit = std::atexit(removeTemporaryFiles) == 0;
  (void)removedAtExit;
  if (state_ != UpdateState::notBegun) {
    misused("begun twice", path);
  }
  path_ = path;
  kind_ = kind;
  guard_ = guard;
  // The one look-up of the name: from here on the folder is held and only the last name is used.
  std::string target = path;
  if (links == LinkRule::follow && !resolveLink(path.c_str(), target)) {
    return failure("Cannot create", errno);
  }
  name_ = lastNameOf(target);
  if (name_.empty() || name_ == "." || name_ == "..") {
    return failure("Cannot create", EISDIR);
  }
  if (!holdFolder(folderOf(target), folder_)) {
    return failure("Cannot create", errno);
  }
  found_ = identityIn(folder_, name_);
  if (found_.kind == IdentityKind::unknown) {
    return failure("Cannot create", found_.error);
  }
  if (found_.kind == IdentityKind::known && !found_.regular) {
    return Problem{path_, "Cannot create", "not a regular file"};
  }
  state_ = UpdateState::begun;
  return std::nullopt;
}

std::FILE* FileUpdate::openFound(bool& changed) const {
  std::FILE* file = openIn(folder_, name_);
  int error = errno;
  auto opened = file != nullptr ? identityOf(file) : identityIn(folder_, name_);
  changed = opened.kind != IdentityKind::unknown &&
            !isExpectedFile(found_, opened, UpdateGuard::unchangedFile);
  if (file != nullptr && changed) {
    std::fclose(file);
    file = nullptr;
  }
  errno = file == nullptr && !changed ? error : 0;
  return file;
}

std::FILE* FileUpdate::newFile() {
  if (state_ != UpdateState::begun) {
    misused("written while not begun", path_);
  }
  if (file_ != nullptr || spoiled_) {
    return file_;
  }
  // Held from before the file exists until it is listed, so that no interrupt leaves it behind.
  // A name that was free needs no temporary name: the file gets its name when complete.
  holdInterrupts();
  bool nothingFound = found_.kind == IdentityKind::none;
  file_ = createIn(folder_, nothingFound, kind_ == UpdateKind::remakeable, temporary_);
  int error = errno;
  if (file_ != nullptr && !temporary_.empty()) {
    temporaryPath_ = pathIn(folder_.path, temporary_);
    temporaryFiles.push_back(temporaryPath_);
  }
  releaseInterrupts();
  if (file_ == nullptr) {
    spoiled_ = failure("Cannot create", error);
    return nullptr;
  }
  // Every caller writes whole chunks; a buffer would only add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return file_;
}

bool FileUpdate::write(const void* bytes, std::size_t size) {
  if (newFile() == nullptr) {
    return false;
  }
  if (std::fwrite(bytes, 1, size, file_) != size) {
    spoiled_ = failure("Cannot write", errno);
  }
  return !spoiled_;
}

void FileUpdate::dropNewFile() {
  holdInterrupts();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    removeOrNoteLeftover(folder_, temporary_, temporaryPath_);
    forgetTemporaryFile(temporaryPath_);
    temporary_.clear();
  }
  releaseInterrupts();
}

void FileUpdate::abandon() {
  if (state_ != UpdateState::begun) {
    return;
  }
  dropNewFile();
  releaseFolder(folder_);
  state_ = UpdateState::abandoned;
}

namespace {

// Flushes the new file as its kind asks; false, with errno, when it failed.
bool flushNewFile(std::FILE* file, UpdateKind kind) {
  return kind == UpdateKind::userData ? flushToDisk(file) : std::fflush(file) == 0;
}

} // namespace

// Puts the complete new file in place of what was found; the interrupt handlers are held off.
Outcome FileUpdate::finalStep() {
  auto step = FinalStep::failed;
  bool oldFileOut = false;
  if (temporary_.empty()) {
    // A file of no name: named while the name is free, then closed (the name goes again when
    // the close shows that a write was lost).
    step = nameNewFile(file_, folder_, name_);
    int error = errno;
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (step == FinalStep::done && !closed) {
      error = errno;
      removeIn(folder_, name_);
      step = FinalStep::failed;
    }
    errno = error;
  } else if (found_.kind == IdentityKind::none) {
    step = renameAsNew(folder_, temporary_, name_);
  } else {
    step = replaceWith(folder_, temporary_, name_, found_, guard_, oldFileOut);
  }
  int error = errno;
  if (!temporary_.empty() && (step != FinalStep::done || oldFileOut)) {
    removeOrNoteLeftover(folder_, temporary_, temporaryPath_);
  }
  forgetTemporaryFile(temporaryPath_);
  temporary_.clear();
  targetChanged_ = step == FinalStep::changed;
  if (step == FinalStep::done) {
    return std::nullopt;
  }
  return targetChanged_ ? Problem{path_, "Changed during the run; not written", ""}
                        : failure("Cannot write", error);
}

Outcome FileUpdate::commit(FileLock* targetLock) {
  if (state_ != UpdateState::begun) {
    misused("committed while not begun", path_);
  }
  Outcome problem = spoiled_;
  if (!problem && newFile() == nullptr) {
    problem = spoiled_;
  }
  if (!problem && !flushNewFile(file_, kind_)) {
    problem = failure("Cannot write", errno);
  }
  // A named file is closed before it is renamed: a close may report a write that was lost.
  if (!problem && !temporary_.empty()) {
    bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) {
      problem = failure("Cannot write", errno);
    }
  }
  if (problem) {
    abandon();
    return problem;
  }
  if (targetLock != nullptr) {
    releaseLockBeforeReplacing(*targetLock);
  }
  pauseBeforeFinalStep(name_);
  holdInterrupts();
  problem = finalStep();
  releaseInterrupts();
  bool placed = !problem;
  if (placed && kind_ == UpdateKind::userData && !flushFolder(folder_)) {
    problem = failure("Cannot write", errno);
  }
  releaseFolder(folder_);
  state_ = placed ? UpdateState::committed : UpdateState::abandoned;
  return problem;
}

} // namespace lvlsnd
