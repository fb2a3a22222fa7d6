// The platform layer on POSIX systems.
#include "platform_halves.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace lvlsnd {

const char* const pathSeparators = "/";

std::FILE* openFile(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool removeFile(const char* path) {
  // unlink, not remove: a signal handler may call it.
  return unlink(path) == 0;
}

bool seekFile(std::FILE* file, std::int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t fileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return -1;
  }
  if (!S_ISREG(status.st_mode)) {
    errno = ESPIPE;
    return -1;
  }
  return status.st_size;
}

std::FILE* openInput(const char* path) {
  // Not blocking, so that a FIFO is refused at once instead of waiting for a writer; a regular
  // file or block device then reads as usual.
  int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  struct stat status {};
  std::FILE* file = nullptr;
  bool readable = fstat(descriptor, &status) == 0;
  if (readable && !S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : ESPIPE; // opened, but not readable by offset
    readable = false;
  }
  if (readable && fcntl(descriptor, F_SETFL, 0) == 0) {
    file = fdopen(descriptor, "rb");
  }
  if (file == nullptr) {
    int error = errno;
    close(descriptor);
    errno = error;
  }
  return file;
}

namespace {

FileIdentity identityOfStatus(const struct stat& status) {
  return {IdentityKind::known,
          0,
          static_cast<std::uint64_t>(status.st_dev),
          static_cast<std::uint64_t>(status.st_ino),
          static_cast<std::int64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// What a failed stat says: nothing there, or no answer.
FileIdentity identityOfFailure(int error) {
  bool nothing = error == ENOENT || error == ENOTDIR;
  return {nothing ? IdentityKind::none : IdentityKind::unknown, error, 0, 0, 0, 0};
}

} // namespace

FileIdentity identityOf(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return {IdentityKind::unknown, errno, 0, 0, 0, 0};
  }
  return identityOfStatus(status);
}

FileIdentity identityOf(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 ? identityOfStatus(status) : identityOfFailure(errno);
}

namespace {

// The POSIX ACL of a file, kept as an extended attribute.
constexpr const char* accessAcl = "system.posix_acl_access";

// The names of a file's extended attributes, each ended by a zero; false when they cannot be
// listed (a file system without them lists none).
bool attributeNames(int descriptor, std::vector<char>& names) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto size = flistxattr(descriptor, nullptr, 0);
    if (size < 0) {
      return errno == ENOTSUP;
    }
    names.resize(static_cast<std::size_t>(size));
    size = flistxattr(descriptor, names.data(), names.size());
    if (size >= 0) {
      names.resize(static_cast<std::size_t>(size));
      return true;
    }
    if (errno != ERANGE) { // ERANGE: one was added meanwhile
      return false;
    }
  }
  return false;
}

// Copies one extended attribute. Attributes the user may not set (the trusted and security
// ones of another user's) are left out; the ACL and the user's own ones must be copied.
bool copyAttribute(int from, int to, const char* name) {
  auto size = fgetxattr(from, name, nullptr, 0);
  std::vector<char> value(size > 0 ? static_cast<std::size_t>(size) : 0);
  if (size < 0 || (size > 0 && (size = fgetxattr(from, name, value.data(), value.size())) < 0)) {
    return errno == ENODATA; // removed meanwhile
  }
  if (fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) == 0) {
    return true;
  }
  std::string_view text = name;
  bool mustCopy = text.starts_with("user.") || text.starts_with("system.posix_acl");
  return !mustCopy && (errno == EPERM || errno == ENOTSUP);
}

// Gives `to` the extended attributes of `from`, its ACL among them, as cp --preserve=all does;
// an ACL that `to` got from its folder's default ACL and `from` lacks is taken off again.
bool copyExtendedAttributes(int from, int to) {
  std::vector<char> names;
  if (!attributeNames(from, names)) {
    return false;
  }
  bool hasAcl = false;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    hasAcl = hasAcl || std::strcmp(name, accessAcl) == 0;
    if (!copyAttribute(from, to, name)) {
      return false;
    }
  }
  return hasAcl || fremovexattr(to, accessAcl) == 0 || errno == ENODATA || errno == ENOTSUP;
}

} // namespace

bool copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner) {
  struct stat status {};
  if (fstat(fileno(from), &status) != 0) {
    return false;
  }
  auto mode = status.st_mode & 07777;
  if (keepOwner && fchown(fileno(to), status.st_uid, status.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID);
    if (fchown(fileno(to), static_cast<uid_t>(-1), status.st_gid) != 0) {
      mode &= ~static_cast<mode_t>(S_ISGID);
    }
  }
  // The mode first: an ACL then keeps its mask as the mode's group bits.
  return fchmod(fileno(to), mode) == 0 && copyExtendedAttributes(fileno(from), fileno(to));
}

NameKind kindOfName(const char* path, bool followLinks) {
  struct stat status {};
  if ((followLinks ? stat(path, &status) : lstat(path, &status)) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? NameKind::missing : NameKind::unknown;
  }
  return S_ISREG(status.st_mode) ? NameKind::regularFile : NameKind::other;
}

bool resolveLink(const char* path, std::string& target) {
  target = path;
  struct stat status {};
  if (lstat(path, &status) != 0) {
    return errno == ENOENT || errno == ENOTDIR; // nothing there yet: the name itself
  }
  if (!S_ISLNK(status.st_mode)) {
    return true;
  }
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) {
    return false;
  }
  target = resolved;
  std::free(resolved);
  return true;
}

Writability writabilityOf(std::FILE* file, const char* path) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return Writability::unknown;
  }
  if ((status.st_mode & 0222) == 0) {
    return Writability::readOnly;
  }
  if (access(path, W_OK) == 0) {
    return Writability::writable;
  }
  return errno == EACCES || errno == EROFS || errno == EPERM ? Writability::denied
                                                             : Writability::unknown;
}

std::uint64_t nameCount(std::FILE* file) {
  struct stat status {};
  return fstat(fileno(file), &status) == 0 ? static_cast<std::uint64_t>(status.st_nlink) : 0;
}

FileLock lockFile(const char* path) {
  FileLock lock;
  // Not blocking: a FIFO would otherwise wait here for a writer.
  int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return lock;
  }
  struct stat status {};
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0 || fstat(descriptor, &status) != 0) {
    int error = errno;
    lock.busy = error == EWOULDBLOCK;
    close(descriptor);
    errno = error;
    return lock;
  }
  return {true, false, identityOfStatus(status), descriptor};
}

void releaseLock(FileLock& lock) {
  if (lock.held) {
    close(static_cast<int>(lock.handle));
  }
  lock = {};
}

void releaseLockBeforeReplacing(FileLock&) {}

std::FILE* createExclusiveFile(const std::string& folder, std::string& path) {
  path = temporaryNamePrefix(folder) + "XXXXXX";
  // mkstemp opens with O_CREAT | O_EXCL under a random name, readable by the owner alone
  // until the permissions are copied.
  int descriptor = mkstemp(path.data());
  if (descriptor < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    close(descriptor);
    unlink(path.c_str());
  }
  return file;
}

bool giveOrdinaryPermissions(std::FILE* file) {
  static const mode_t mask = [] {
    mode_t current = umask(0);
    umask(current);
    return current;
  }();
  return fchmod(fileno(file), 0666 & ~mask) == 0;
}

bool renameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool renameOverIfUnchanged(const std::string& from, const std::string& to,
                           const FileIdentity& expected, bool& changed) {
  bool nothingThere = expected.kind != IdentityKind::known;
  // Nothing was there: a file that appeared meanwhile stays.
  auto flag = static_cast<unsigned>(nothingThere ? RENAME_NOREPLACE : RENAME_EXCHANGE);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flag) != 0) {
    if (errno == EINVAL) { // a file system that cannot exchange
      return renameAfterLooking(from, to, expected, changed);
    }
    changed = errno == (nothingThere ? EEXIST : ENOENT); // ENOENT: it went meanwhile
    return false;
  }
  if (nothingThere) {
    return true;
  }
  // `from` now holds what was under `to`.
  auto cameOut = identityOf(from.c_str());
  if (unchangedSince(expected, cameOut)) {
    return true; // the caller removes what came out with the temporary file's name
  }
  int error = cameOut.kind == IdentityKind::unknown ? cameOut.error : 0;
  // Back as they were; should the exchange back fail, what came out goes back over the new file,
  // which is only made again.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) != 0) {
    std::rename(from.c_str(), to.c_str());
  }
  changed = error == 0;
  errno = error;
  return false;
}

bool flushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool flushFolder(const std::string& folder) {
  int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    return false;
  }
  bool flushed = fsync(descriptor) == 0;
  return close(descriptor) == 0 && flushed;
}

namespace {

// Ctrl+C, SIGTERM, SIGQUIT, a closed terminal or a closed pipe (`| head`): the temporary files
// go, then the signal ends the program as it would have.
constexpr int interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

extern "C" void removeTemporaryFilesAndStop(int signalNumber) {
  removeTemporaryFiles();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

sigset_t interruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : interrupts) {
    sigaddset(&set, signalNumber);
  }
  return set;
}

sigset_t maskBeforeHolding;

} // namespace

void holdInterrupts() {
  // A signal ignored when the program started (nohup, a background job) stays ignored.
  static const bool handlersSet = [] {
    for (int signalNumber : interrupts) {
      struct sigaction current {};
      if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
        std::signal(signalNumber, removeTemporaryFilesAndStop);
      }
    }
    return true;
  }();
  (void)handlersSet;
  auto set = interruptSet();
  sigprocmask(SIG_BLOCK, &set, &maskBeforeHolding);
}

void releaseInterrupts() {
  sigprocmask(SIG_SETMASK, &maskBeforeHolding, nullptr);
}

void startProgram() {
  std::signal(SIGXFSZ, SIG_IGN);
}

bool isTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

} // namespace lvlsnd
