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

SystemResult<std::FILE*> openFile(const char* path, const char* mode) {
  std::FILE* file = std::fopen(path, mode);
  return {file, file != nullptr ? 0 : errno};
}

SystemStatus removeFile(const char* path) {
  // unlink, not remove: a signal handler may call it.
  return {unlink(path) == 0 ? 0 : errno};
}

SystemStatus seekFile(std::FILE* file, std::int64_t offset) {
  return {fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 ? 0 : errno};
}

SystemResult<std::int64_t> fileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return {0, errno};
  }
  if (!S_ISREG(status.st_mode)) {
    return {0, ESPIPE};
  }
  return {status.st_size};
}

namespace {

// Opens `path` (in the folder `folder`) for reading by offset: a regular file or a block device.
std::FILE* openInputAt(int folder, const char* path, int flags) {
  // Not blocking, so that a FIFO is refused at once instead of waiting for a writer; a regular
  // file or block device then reads as usual.
  int descriptor = openat(folder, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
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

} // namespace

SystemResult<std::FILE*> openInput(const char* path) {
  std::FILE* file = openInputAt(AT_FDCWD, path, 0);
  return {file, file != nullptr ? 0 : errno};
}

namespace {

FileIdentity identityOfStatus(const struct stat& status) {
  auto nanoseconds = [](const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
  };
  return {IdentityKind::known,
          0,
          static_cast<std::uint64_t>(status.st_dev),
          static_cast<std::uint64_t>(status.st_ino),
          static_cast<std::int64_t>(status.st_size),
          nanoseconds(status.st_mtim),
          nanoseconds(status.st_ctim),
          S_ISREG(status.st_mode)};
}

// What a failed stat says: nothing there, or no answer.
FileIdentity identityOfFailure(int error) {
  bool nothing = error == ENOENT || error == ENOTDIR;
  return {nothing ? IdentityKind::none : IdentityKind::unknown, error, 0, 0, 0, 0, 0, false};
}

} // namespace

FileIdentity identityOf(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return {IdentityKind::unknown, errno, 0, 0, 0, 0, 0, false};
  }
  return identityOfStatus(status);
}

FileIdentity identityOf(const char* path) {
  struct stat status {};
  if (stat(path, &status) == 0) {
    return identityOfStatus(status);
  }
  // A path too long for the system names no file that any name of the run could lead to.
  return errno == ENAMETOOLONG ? FileIdentity{IdentityKind::none} : identityOfFailure(errno);
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

SystemStatus copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner) {
  struct stat status {};
  if (fstat(fileno(from), &status) != 0) {
    return {errno};
  }
  auto mode = status.st_mode & 07777;
  if (keepOwner && fchown(fileno(to), status.st_uid, status.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID);
    if (fchown(fileno(to), static_cast<uid_t>(-1), status.st_gid) != 0) {
      mode &= ~static_cast<mode_t>(S_ISGID);
    }
  }
  // The mode first: an ACL then keeps its mask as the mode's group bits.
  bool given = fchmod(fileno(to), mode) == 0 && copyExtendedAttributes(fileno(from), fileno(to));
  return {given ? 0 : errno};
}

SystemResult<std::string> resolveLink(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0) {
    // Nothing there yet: the name itself.
    return errno == ENOENT || errno == ENOTDIR ? SystemResult<std::string>{path}
                                               : SystemResult<std::string>{"", errno};
  }
  if (!S_ISLNK(status.st_mode)) {
    return {path};
  }
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) {
    return {"", errno};
  }
  std::string target = resolved;
  std::free(resolved);
  return {target};
}

SystemResult<Writability> writabilityOf(std::FILE* file, const char* path) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return {Writability::unknown, errno};
  }
  if ((status.st_mode & 0222) == 0) {
    return {Writability::readOnly};
  }
  if (access(path, W_OK) == 0) {
    return {Writability::writable};
  }
  bool denied = errno == EACCES || errno == EROFS || errno == EPERM;
  return {denied ? Writability::denied : Writability::unknown, errno};
}

SystemResult<std::uint64_t> nameCount(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0) {
    return {0, errno};
  }
  return {static_cast<std::uint64_t>(status.st_nlink)};
}

FileLock lockFile(const char* path) {
  FileLock lock;
  // Not blocking: a FIFO would otherwise wait here for a writer.
  int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    lock.error = errno;
    return lock;
  }
  struct stat status {};
  if (flock(descriptor, LOCK_EX | LOCK_NB) != 0 || fstat(descriptor, &status) != 0) {
    lock.error = errno;
    lock.busy = lock.error == EWOULDBLOCK;
    close(descriptor);
    return lock;
  }
  return {true, false, 0, identityOfStatus(status), descriptor};
}

void releaseLock(FileLock& lock) {
  if (lock.held) {
    close(static_cast<int>(lock.handle));
  }
  lock = {};
}

void releaseLockBeforeReplacing(FileLock&) {}

bool holdFolder(const std::string& path, HeldFolder& folder) {
  // Readable, so that it can be flushed; a folder the user may write but not list is held for
  // the names alone.
  int descriptor = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0 && errno == EACCES) {
    descriptor = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  if (descriptor < 0) {
    return false;
  }
  folder = {path, descriptor};
  return true;
}

void releaseFolder(HeldFolder& folder) {
  if (folder.handle >= 0) {
    close(static_cast<int>(folder.handle));
  }
  folder.handle = -1;
}

namespace {

int descriptorOf(const HeldFolder& folder) {
  return static_cast<int>(folder.handle);
}

} // namespace

FileIdentity identityIn(const HeldFolder& folder, const std::string& name) {
  struct stat status {};
  return fstatat(descriptorOf(folder), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
             ? identityOfStatus(status)
             : identityOfFailure(errno);
}

std::FILE* openIn(const HeldFolder& folder, const std::string& name) {
  return openInputAt(descriptorOf(folder), name.c_str(), O_NOFOLLOW);
}

namespace {

// The permissions a new file is created with: an ordinary create's come from the umask; the
// user's data stays the owner's until its own are copied.
mode_t creationMode(bool ordinary) {
  return ordinary ? 0666 : 0600;
}

// A stream on a new file's descriptor; null, with errno and the descriptor closed, when none.
std::FILE* streamOf(int descriptor) {
  std::FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "wb");
  if (file == nullptr && descriptor >= 0) {
    int error = errno;
    close(descriptor);
    errno = error;
  }
  return file;
}

// Whether a file of no name can be linked by its descriptor alone (AT_EMPTY_PATH needs a
// capability most users lack), else through /proc; false once the system said no.
bool linkByDescriptor = true;

} // namespace

std::FILE* createUnnamedIn(const HeldFolder& folder, bool ordinary) {
  // A file of no name gets its name through its descriptor where the system allows it, else
  // through /proc: without /proc it might get none.
  static const bool procThere = access("/proc/self/fd", F_OK) == 0;
  if (!procThere) {
    return nullptr;
  }
  // Readable too, so that it can be copied where it cannot be linked.
  return streamOf(
      openat(descriptorOf(folder), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, creationMode(ordinary)));
}

std::FILE* createNamedIn(const HeldFolder& folder, bool ordinary, std::string& temporary) {
  int descriptor = -1;
  for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
    temporary = temporaryName();
    descriptor =
        openat(descriptorOf(folder), temporary.c_str(),
               O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, creationMode(ordinary));
    if (descriptor < 0 && errno != EEXIST) {
      break;
    }
  }
  std::FILE* file = streamOf(descriptor);
  if (file == nullptr) {
    int error = errno;
    if (descriptor >= 0) {
      unlinkat(descriptorOf(folder), temporary.c_str(), 0);
    }
    temporary.clear();
    errno = error;
  }
  return file;
}

bool copyContents(std::FILE* from, std::FILE* to) {
  if (std::fflush(from) != 0) {
    return false;
  }
  std::vector<char> buffer(64 * 1024);
  for (off_t at = 0;;) {
    auto got = pread(fileno(from), buffer.data(), buffer.size(), at);
    if (got < 0) {
      return false;
    }
    if (got == 0) {
      return true;
    }
    auto size = static_cast<std::size_t>(got);
    if (std::fwrite(buffer.data(), 1, size, to) != size) {
      return false;
    }
    at += got;
  }
}

FinalStep nameNewFile(std::FILE* file, const HeldFolder& folder, const std::string& name) {
  int at = descriptorOf(folder);
  if (linkByDescriptor) {
    if (linkat(fileno(file), "", at, name.c_str(), AT_EMPTY_PATH) == 0) {
      return FinalStep::done;
    }
    if (errno != ENOENT && errno != EPERM) {
      return errno == EEXIST ? FinalStep::changed : FinalStep::failed;
    }
    linkByDescriptor = false; // not allowed here: through /proc from now on
  }
  auto self = "/proc/self/fd/" + std::to_string(fileno(file));
  if (linkat(AT_FDCWD, self.c_str(), at, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return FinalStep::done;
  }
  return errno == EEXIST ? FinalStep::changed : FinalStep::failed;
}

FinalStep renameAsNew(const HeldFolder& folder, const std::string& from, const std::string& name) {
  int at = descriptorOf(folder);
  if (renameat2(at, from.c_str(), at, name.c_str(), RENAME_NOREPLACE) == 0) {
    return FinalStep::done;
  }
  return errno == EEXIST ? FinalStep::changed : FinalStep::failed;
}

bool renameIn(const HeldFolder& folder, const std::string& from, const std::string& name) {
  int at = descriptorOf(folder);
  return renameat(at, from.c_str(), at, name.c_str()) == 0;
}

bool removeIn(const HeldFolder& folder, const std::string& name) {
  return unlinkat(descriptorOf(folder), name.c_str(), 0) == 0;
}

namespace {

// Whether the old file, out under `from` since the exchange, is the one expected; for an edit,
// looked at once more, so that a save written into it just now is not lost.
bool approvedOldFile(const HeldFolder& folder, const std::string& from,
                     const FileIdentity& expected, UpdateGuard guard, int& error) {
  auto cameOut = identityIn(folder, from);
  error = cameOut.kind == IdentityKind::unknown ? cameOut.error : 0;
  if (!isExpectedFile(expected, cameOut, guard)) {
    return false;
  }
  if (guard == UpdateGuard::sameFile) {
    return true;
  }
  auto again = identityIn(folder, from);
  error = again.kind == IdentityKind::unknown ? again.error : 0;
  return unchangedSince(cameOut, again) && again.statusChanged == cameOut.statusChanged;
}

} // namespace

FinalStep replaceWith(const HeldFolder& folder, const std::string& from, const std::string& name,
                      const FileIdentity& expected, UpdateGuard guard, bool& oldFileOut) {
  int at = descriptorOf(folder);
  oldFileOut = false;
  if (renameat2(at, from.c_str(), at, name.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == EINVAL) { // a file system that cannot exchange
      return replaceAfterLooking(folder, from, name, expected, guard);
    }
    return errno == ENOENT ? FinalStep::changed : FinalStep::failed; // ENOENT: it went
  }
  int error = 0;
  if (approvedOldFile(folder, from, expected, guard, error)) {
    oldFileOut = true;
    return FinalStep::done;
  }
  // Back as they were; should the exchange back fail, what came out goes back over the new
  // file, which is only made again.
  if (renameat2(at, from.c_str(), at, name.c_str(), RENAME_EXCHANGE) != 0) {
    renameat(at, from.c_str(), at, name.c_str());
  }
  errno = error;
  return error == 0 ? FinalStep::changed : FinalStep::failed;
}

bool flushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool flushFolder(const HeldFolder& folder) {
  return fsync(descriptorOf(folder)) == 0;
}

namespace {

// Ctrl+C, SIGTERM, SIGQUIT, a closed terminal or a closed pipe (`| head`): the temporary files
// go, then the signal ends the program as it would have.
constexpr int interrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The note setInterruptNote keeps, and where it goes (-1: nowhere).
char interruptNote[256];
std::size_t interruptNoteLength = 0;
int interruptNoteDescriptor = -1;

extern "C" void removeTemporaryFilesAndStop(int signalNumber) {
  removeTemporaryFiles();
  if (interruptNoteDescriptor >= 0) {
    (void)!write(interruptNoteDescriptor, interruptNote, interruptNoteLength);
  }
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

void setInterruptNote(std::FILE* stream, const std::string& note) {
  holdInterrupts();
  interruptNoteLength = std::min(note.size(), sizeof interruptNote);
  std::memcpy(interruptNote, note.data(), interruptNoteLength);
  interruptNoteDescriptor = stream != nullptr ? fileno(stream) : -1;
  releaseInterrupts();
}

void startProgram(const char* program) {
  startProgramOnEither(program);
  std::signal(SIGXFSZ, SIG_IGN);
}

void setEnvironment(const char* name, const char* value) {
  setenv(name, value, 1);
}

std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    return std::nullopt;
  }
  return value;
}

SystemStatus makeFolder(const char* path) {
  if (mkdir(path, 0777) == 0) {
    return {};
  }
  int error = errno;
  struct stat status {};
  bool folder = error == EEXIST && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
  return {folder ? 0 : error};
}

bool isTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

} // namespace lvlsnd
