// What both halves of the platform layer share, beside the file update: comparing identities,
// the parts of a path, and closing standard output.
#include "platform_halves.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace lvlsnd {

namespace fs = std::filesystem;

std::string reasonOf(int error) {
  return error == 0 ? "" : std::strerror(error); // no number, no reason
}

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

// Empty, with errno, when the current folder cannot be told.
fs::path absoluteOf(const std::string& path) {
  std::error_code error;
  auto absolute = fs::absolute(pathOf(path), error);
  if (error) {
    errno = error.value();
    return {};
  }
  return absolute.lexically_normal();
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

std::string temporaryNamePrefix(const std::string& folder) {
  return folder == "." ? ".lvlsnd-" : folder + "/.lvlsnd-";
}

bool renameAfterLooking(const std::string& from, const std::string& to,
                        const FileIdentity& expected, bool& changed) {
  auto now = identityOf(to.c_str());
  if (now.kind == IdentityKind::unknown) {
    errno = now.error;
    return false;
  }
  changed = expected.kind == IdentityKind::known ? !unchangedSince(expected, now)
                                                 : now.kind != IdentityKind::none;
  return !changed && renameOver(from, to);
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
