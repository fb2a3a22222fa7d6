// What both halves of the platform layer share, beside the file update: comparing identities,
// the parts of a path, and closing standard output.
#include "platform_halves.hpp"

#include "bug.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>

namespace lvlsnd {

namespace fs = std::filesystem;

Sameness compareFiles(const FileIdentity& a, const FileIdentity& b) {
  if (a.kind == IdentityKind::unknown || b.kind == IdentityKind::unknown) {
    return Sameness::unknown;
  }
  bool same = a.kind == IdentityKind::known && b.kind == IdentityKind::known &&
              a.volume == b.volume && a.index == b.index;
  return same ? Sameness::same : Sameness::different;
}

bool unchangedSince(const FileIdentity& then, const FileIdentity& now) {
  return compareFiles(then, now) == Sameness::same && then.size == now.size &&
         then.modified == now.modified;
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

// Failed when the current folder cannot be told.
SystemResult<fs::path> absoluteOf(const std::string& path) {
  std::error_code error;
  auto absolute = fs::absolute(pathOf(path), error);
  if (error) {
    return {{}, error.value()};
  }
  return {absolute.lexically_normal()};
}

} // namespace

SystemResult<std::string> absoluteFolderOf(const std::string& path) {
  auto absolute = absoluteOf(path);
  return {utf8Of(absolute.value.parent_path()), absolute.error};
}

std::string relativePathFrom(const std::string& path, const std::string& folder) {
  // Both as absolutePath and absoluteFolderOf write them, so that their separators agree.
  return utf8Of(pathOf(path).lexically_relative(pathOf(folder)));
}

SystemResult<std::string> absolutePath(const std::string& path) {
  auto absolute = absoluteOf(path);
  return {utf8Of(absolute.value), absolute.error};
}

std::string lastNameOf(const std::string& path) {
  auto separator = path.find_last_of(pathSeparators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string temporaryName() {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // Seeded once: the exclusive create, not the name, keeps a planted file out.
  static std::mt19937_64 random{std::random_device{}()};
  std::string name = ".lvlsnd-";
  for (int k = 0; k < 6; ++k) {
    name += letters[random() % (sizeof letters - 1)];
  }
  return name;
}

std::string pathIn(const std::string& folder, const std::string& name) {
  return folder == "." ? name : folder + "/" + name;
}

bool isExpectedFile(const FileIdentity& expected, const FileIdentity& now, UpdateGuard guard) {
  bool same = compareFiles(expected, now) == Sameness::same && now.regular;
  return same && (guard == UpdateGuard::sameFile || unchangedSince(expected, now));
}

FinalStep replaceAfterLooking(const HeldFolder& folder, const std::string& from,
                              const std::string& name, const FileIdentity& expected,
                              UpdateGuard guard) {
  auto now = identityIn(folder, name);
  if (now.kind == IdentityKind::unknown) {
    errno = now.error;
    return FinalStep::failed;
  }
  if (!isExpectedFile(expected, now, guard)) {
    return FinalStep::changed;
  }
  return renameIn(folder, from, name) ? FinalStep::done : FinalStep::failed;
}

void pauseBeforeFinalStep(const std::string& name) {
  static const char* const pausedName = std::getenv("LVLSND_TEST_PAUSE_NAME");
  static const char* const fifo = std::getenv("LVLSND_TEST_PAUSE_FIFO");
  if (pausedName == nullptr || fifo == nullptr || name != pausedName) {
    return;
  }
  // Opening waits for the test to open it for writing; reading ends when the test closes it.
  if (std::FILE* pause = openFile(fifo, "rb").value) {
    while (std::fgetc(pause) != EOF) {
    }
    std::fclose(pause);
  }
}

namespace {

// No exception is thrown for memory that is not there: with none left, not even the exception
// could be made. The message is written with no memory of its own.
void endOutOfMemory() {
  std::fputs(programName(), stderr);
  std::fputs(": Out of memory\n", stderr);
  removeTemporaryFiles();
  std::_Exit(1);
}

} // namespace

void startProgramOnEither(const char* program) {
  nameProgram(program);
  std::set_new_handler(endOutOfMemory);
}

int closeStandardOutput(const char* program, int status) {
  bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  // A temporary file left behind is a failure the user must hear of, to remove it.
  if (reportLeftoverFiles()) {
    status = 1;
  }
  written = std::fclose(stdout) == 0 && written;
  if (!written) {
    std::fprintf(stderr, "%s: Cannot write standard output\n", program);
    return 1;
  }
  return status;
}

} // namespace lvlsnd
