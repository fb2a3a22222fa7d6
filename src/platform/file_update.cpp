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
  bug(std::string(what) + " (file update of " + path + ")");
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

namespace {

// The folders files are written in, each held open from its first update to the end of the run
// (FoldersOfRun): a run writes many files into one folder, which is looked up once.
std::vector<HeldFolder> heldFolders;
int runsGoingOn = 0;
int updatesBegun = 0;

} // namespace

FoldersOfRun::FoldersOfRun() {
  ++runsGoingOn;
}

FoldersOfRun::~FoldersOfRun() {
  if (--runsGoingOn > 0) {
    return;
  }
  if (updatesBegun > 0) {
    misused("folders let go while a file update is begun", "");
  }
  for (auto& folder : heldFolders) {
    releaseFolder(folder);
  }
  heldFolders.clear();
}

bool FileUpdate::holdFolderOf(const std::string& path) {
  name_ = lastNameOf(path);
  if (name_.empty() || name_ == "." || name_ == "..") {
    errno = EISDIR;
    return false;
  }
  auto folder = folderOf(path);
  letFolderGo();
  for (const auto& held : heldFolders) {
    if (held.path == folder) {
      folder_ = held;
      return true;
    }
  }
  if (!holdFolder(folder, folder_)) {
    return false;
  }
  ownsFolder_ = runsGoingOn == 0;
  if (!ownsFolder_) {
    heldFolders.push_back(folder_);
  }
  return true;
}

void FileUpdate::letFolderGo() {
  if (ownsFolder_) {
    releaseFolder(folder_);
    ownsFolder_ = false;
  }
}

Outcome FileUpdate::failure(const char* text, int error) {
  return systemProblem(path_, text, error);
}

// The one look at the name: a link followed once to the file it leads to (whose folder is then
// the one held), and what is there told apart. Refused when that is no regular file, one of the
// files to avoid, or cannot be told.
Outcome FileUpdate::lookUpName() {
  lookedUp_ = true;
  found_ = identityIn(folder_, name_);
  if (found_.kind == IdentityKind::known && !found_.regular && rules_.links == LinkRule::follow) {
    auto target = resolveLink(path_.c_str());
    if (target.failed()) {
      return failure("Cannot create", target.error);
    }
    if (target.value != path_) {
      if (!holdFolderOf(target.value)) {
        return failure("Cannot create", errno);
      }
      found_ = identityIn(folder_, name_);
    }
  }
  nameRefused_ = true;
  if (found_.kind == IdentityKind::unknown) {
    return failure("Cannot create", found_.error);
  }
  if (found_.kind == IdentityKind::known && !found_.regular) {
    return Problem{path_, "Cannot create", "not a regular file"};
  }
  for (const auto& avoided : rules_.avoid) {
    if (found_.kind == IdentityKind::known &&
        compareFiles(found_, avoided) != Sameness::different) {
      return Problem{path_, "Cannot create", ""};
    }
  }
  nameRefused_ = false;
  return std::nullopt;
}

Outcome FileUpdate::begin(const std::string& path, UpdateRules rules) {
  static const bool removedAtExit = std::atexit(removeTemporaryFiles) == 0;
  (void)removedAtExit;
  if (state_ != UpdateState::notBegun) {
    misused("begun twice", path);
  }
  path_ = path;
  rules_ = std::move(rules);
  if (!holdFolderOf(path)) {
    int error = errno;
    letFolderGo();
    return failure("Cannot create", error);
  }
  if (rules_.lookUp == LookUp::atBegin) {
    if (auto problem = lookUpName()) {
      letFolderGo();
      return problem;
    }
  }
  state_ = UpdateState::begun;
  ++updatesBegun;
  return std::nullopt;
}

const FileIdentity& FileUpdate::found() const {
  if (!lookedUp_) {
    misused("asked what it found before it looked", path_);
  }
  return found_;
}

SystemResult<std::FILE*> FileUpdate::openFound(bool& changed) const {
  std::FILE* file = openIn(folder_, name_);
  int error = errno;
  auto opened = file != nullptr ? identityOf(file) : identityIn(folder_, name_);
  changed = opened.kind != IdentityKind::unknown &&
            !isExpectedFile(found_, opened, UpdateGuard::unchangedFile);
  if (file != nullptr && changed) {
    std::fclose(file);
    file = nullptr;
  }
  return {file, file == nullptr && !changed ? error : 0};
}

std::FILE* FileUpdate::newFile() {
  if (state_ != UpdateState::begun) {
    misused("written while not begun", path_);
  }
  if (file_ != nullptr || spoiled_) {
    return file_;
  }
  // A name that holds nothing needs no temporary name: the file gets its name when complete, and
  // until then no interrupt can leave it behind. A name not looked at yet is taken to hold
  // nothing until the final step finds otherwise.
  bool remakeable = rules_.kind == UpdateKind::remakeable;
  if (!lookedUp_ || found_.kind == IdentityKind::none) {
    file_ = createUnnamedIn(folder_, remakeable);
  }
  if (file_ == nullptr && !lookedUp_) {
    spoiled_ = lookUpName();
  }
  if (file_ == nullptr && !spoiled_) {
    // Held from before the file exists until it is listed, so that no interrupt leaves it
    // behind.
    holdInterrupts();
    file_ = createNamedIn(folder_, remakeable, temporary_);
    int error = errno;
    if (file_ != nullptr) {
      temporaryPath_ = pathIn(folder_.path, temporary_);
      temporaryFiles.push_back(temporaryPath_);
    }
    releaseInterrupts();
    if (file_ == nullptr) {
      spoiled_ = failure("Cannot create", error);
    }
  }
  if (file_ != nullptr) {
    // Every caller writes whole chunks; a buffer would only add a copy.
    std::setvbuf(file_, nullptr, _IONBF, 0);
  }
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
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    holdInterrupts();
    removeOrNoteLeftover(folder_, temporary_, temporaryPath_);
    forgetTemporaryFile(temporaryPath_);
    temporary_.clear();
    releaseInterrupts();
  }
}

void FileUpdate::abandon() {
  if (state_ != UpdateState::begun) {
    return;
  }
  dropNewFile();
  letFolderGo();
  --updatesBegun;
  state_ = UpdateState::abandoned;
}

namespace {

// Flushes the new file as its kind asks; false, with errno, when it failed.
bool flushNewFile(std::FILE* file, UpdateKind kind) {
  return kind == UpdateKind::userData ? flushToDisk(file) : std::fflush(file) == 0;
}

} // namespace

// Gives the complete file of no name its name while the name is free. A name not looked at yet
// that turns out taken is looked at now: a link leads elsewhere, where the name may be free; a
// file there that may be replaced is replaced as a file found at begin is, through a temporary
// name.
FinalStep FileUpdate::nameUnnamedFile() {
  auto step = nameNewFile(file_, folder_, name_);
  if (step != FinalStep::changed || lookedUp_) {
    return step;
  }
  auto unnamedIn = folder_.path;
  if ((spoiled_ = lookUpName())) {
    return FinalStep::failed;
  }
  bool sameFolder = folder_.path == unnamedIn;
  if (found_.kind == IdentityKind::none && sameFolder) {
    return nameNewFile(file_, folder_, name_);
  }
  if (!giveTemporaryName(sameFolder)) {
    return FinalStep::failed;
  }
  bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) {
    return FinalStep::failed;
  }
  return found_.kind == IdentityKind::none
             ? renameAsNew(folder_, temporary_, name_)
             : replaceWith(folder_, temporary_, name_, found_, rules_.guard, oldFileOut_);
}

// Gives the file of no name a temporary name in the folder held now, listed for the interrupt
// handlers, which stay held off until the final step ends: a link to it where it was made, or
// a copy where a link under the name led to another folder, which may be on another file system.
bool FileUpdate::giveTemporaryName(bool sameFolder) {
  if (!holdingInterrupts_) {
    holdInterrupts();
    holdingInterrupts_ = true;
  }
  if (!sameFolder) {
    std::FILE* copy = createNamedIn(folder_, rules_.kind == UpdateKind::remakeable, temporary_);
    if (copy == nullptr) {
      return false;
    }
    temporaryPath_ = pathIn(folder_.path, temporary_);
    temporaryFiles.push_back(temporaryPath_);
    bool copied = copyContents(file_, copy) && flushNewFile(copy, rules_.kind);
    std::fclose(file_);
    file_ = copy;
    return copied;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto name = temporaryName();
    auto step = nameNewFile(file_, folder_, name);
    if (step == FinalStep::done) {
      temporary_ = name;
      temporaryPath_ = pathIn(folder_.path, temporary_);
      temporaryFiles.push_back(temporaryPath_);
      return true;
    }
    if (step == FinalStep::failed) {
      return false;
    }
  }
  return false;
}

// Puts the complete new file in place of what was found; the interrupt handlers are held off
// while a temporary name is on their list.
Outcome FileUpdate::finalStep() {
  auto step = FinalStep::failed;
  oldFileOut_ = false;
  if (temporary_.empty()) {
    // A file of no name, closed once named (the name goes again when the close shows that a
    // write was lost).
    step = nameUnnamedFile();
    int error = errno;
    bool closed = file_ == nullptr || std::fclose(file_) == 0;
    file_ = nullptr;
    if (step == FinalStep::done && !closed && temporary_.empty()) {
      error = errno;
      removeIn(folder_, name_);
      step = FinalStep::failed;
    }
    errno = error;
  } else if (found_.kind == IdentityKind::none) {
    step = renameAsNew(folder_, temporary_, name_);
  } else {
    step = replaceWith(folder_, temporary_, name_, found_, rules_.guard, oldFileOut_);
  }
  int error = errno;
  if (!temporary_.empty() && (step != FinalStep::done || oldFileOut_)) {
    removeOrNoteLeftover(folder_, temporary_, temporaryPath_);
  }
  if (!temporary_.empty()) {
    forgetTemporaryFile(temporaryPath_);
    temporary_.clear();
  }
  targetChanged_ = step == FinalStep::changed;
  if (step == FinalStep::done) {
    return std::nullopt;
  }
  if (spoiled_) {
    return spoiled_; // the name, looked at now, was refused
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
  if (!problem && !flushNewFile(file_, rules_.kind)) {
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
  // Only a temporary name is on the list the interrupt handlers read.
  holdingInterrupts_ = !temporary_.empty();
  if (holdingInterrupts_) {
    holdInterrupts();
  }
  problem = finalStep();
  if (holdingInterrupts_) {
    releaseInterrupts();
    holdingInterrupts_ = false;
  }
  bool placed = !problem;
  if (placed && rules_.kind == UpdateKind::userData && !flushFolder(folder_)) {
    problem = failure("Cannot write", errno);
  }
  letFolderGo();
  --updatesBegun;
  state_ = placed ? UpdateState::committed : UpdateState::abandoned;
  return problem;
}

} // namespace lvlsnd
