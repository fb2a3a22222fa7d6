// What both halves of the platform layer share: comparing identities, the parts of a path, the
// list of temporary files with the file updates built on it, and closing standard output.
#include "platform_halves.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

std::string reasonOf(int error) {
  return error == 0 ? "" : std::strerror(error); // no number, no reason
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}

std::string folderOf(const std::string& path) {
  auto separator = path.find_last_of(pathSeparators);
  if (separator == std::string::npos) {
    return ".";
  }
  if (path[separator] == ':') {
    return path.substr(0, separator + 1) + "."; // a drive's current folder, as in "C:level3.dat"
  }
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

namespace {

// std::filesystem takes a path as UTF-8 only when it comes as char8_t.
fs::path pathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const fs::path& path) {
  auto text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

fs::path absoluteOf(const std::string& path) {
  std::error_code ignored;
  return fs::absolute(pathOf(path), ignored).lexically_normal();
}

} // namespace

std::string absoluteFolderOf(const std::string& path) {
  return utf8Of(absoluteOf(path).parent_path());
}

std::string relativePathFrom(const std::string& path, const std::string& folder) {
  // Both as absolutePath and absoluteFolderOf write them, so that their separators agree.
  return utf8Of(pathOf(absolutePath(path)).lexically_relative(pathOf(folder)));
}

std::string absolutePath(const std::string& path) {
  return utf8Of(absoluteOf(path));
}

std::string lastNameOf(const std::string& path) {
  return utf8Of(pathOf(path).filename());
}

namespace {

// The temporary files not yet renamed or removed. It changes only while the interrupt
// handlers are held off, so they always find it whole.
std::vector<std::string> temporaryFiles;

void forgetTemporaryFile(const std::string& path) {
  std::erase(temporaryFiles, path);
}

} // namespace

void removeTemporaryFiles() {
  for (const auto& path : temporaryFiles) {
    removeFile(path.c_str());
  }
}

FileUpdate beginUpdate(const std::string& path, UpdateKind kind) {
  static const bool removedAtExit = std::atexit(removeTemporaryFiles) == 0;
  (void)removedAtExit;
  FileUpdate update;
  update.kind = kind;
  if (!resolveLink(path.c_str(), update.target)) {
    update.failure = reasonOf(errno);
    return update;
  }
  auto targetKind = kindOfName(update.target.c_str(), true);
  if (targetKind == NameKind::other || targetKind == NameKind::unknown) {
    update.failure = targetKind == NameKind::other ? "not a regular file" : reasonOf(errno);
    return update;
  }
  // Held from before the file exists until it is listed, so that no interrupt leaves it behind.
  holdInterrupts();
  update.file = createExclusiveFile(folderOf(update.target), update.temporary);
  if (update.file != nullptr) {
    temporaryFiles.push_back(update.temporary);
  } else {
    update.failure = reasonOf(errno);
  }
  releaseInterrupts();
  if (update.file != nullptr && update.kind == UpdateKind::remakeable &&
      !giveOrdinaryPermissions(update.file)) {
    update.failure = reasonOf(errno);
    abandonUpdate(update);
  }
  return update;
}

void abandonUpdate(FileUpdate& update) {
  if (update.file != nullptr) {
    std::fclose(update.file);
    update.file = nullptr;
  }
  holdInterrupts();
  removeFile(update.temporary.c_str());
  forgetTemporaryFile(update.temporary);
  releaseInterrupts();
}

bool commitUpdate(FileUpdate& update, FileLock* targetLock) {
  bool userData = update.kind == UpdateKind::userData;
  bool written = userData ? flushToDisk(update.file) : std::fflush(update.file) == 0;
  if (!written) {
    update.failure = reasonOf(errno);
  }
  bool closed = std::fclose(update.file) == 0;
  if (written && !closed) {
    update.failure = reasonOf(errno);
  }
  update.file = nullptr;
  if (!written || !closed) {
    abandonUpdate(update);
    return false;
  }
  if (targetLock != nullptr) {
    releaseLockBeforeReplacing(*targetLock);
  }
  holdInterrupts();
  bool renamed = renameOver(update.temporary, update.target);
  if (!renamed) {
    update.failure = reasonOf(errno);
    removeFile(update.temporary.c_str());
  }
  forgetTemporaryFile(update.temporary);
  releaseInterrupts();
  if (renamed && userData && !flushFolder(folderOf(update.target))) {
    update.failure = reasonOf(errno);
    return false;
  }
  return renamed;
}

int closeStandardOutput(const char* program, int status) {
  bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  written = std::fclose(stdout) == 0 && written;
  if (!written) {
    std::fprintf(stderr, "%s: Cannot write standard output\n", program);
    return 1;
  }
  return status;
}
