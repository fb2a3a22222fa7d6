#include "platform.hpp"

#include <sys/stat.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <random>
#include <string>
#include <vector>
#include <windows.h>
constexpr const char* pathSeparators = "/\\:";
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
constexpr const char* pathSeparators = "/";
#endif

#ifdef _WIN32

namespace {

std::wstring wideOf(const char* text) {
  int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (size <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
  wide.pop_back(); // the terminating zero
  return wide;
}

std::string utf8Of(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

FileIdentity identityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &information) == 0) {
    return {};
  }
  return {true, information.dwVolumeSerialNumber,
          std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow};
}

} // namespace

std::FILE* openFile(const char* path, const char* mode) {
  auto widePath = wideOf(path);
  auto wideMode = wideOf(mode);
  return widePath.empty() ? nullptr : _wfopen(widePath.c_str(), wideMode.c_str());
}

bool removeFile(const char* path) {
  return _wremove(wideOf(path).c_str()) == 0;
}

bool seekFile(std::FILE* file, std::int64_t offset) {
  return _fseeki64(file, offset, SEEK_SET) == 0;
}

std::int64_t fileSize(std::FILE* file) {
  struct _stati64 status {};
  if (_fstati64(_fileno(file), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) {
    return -1;
  }
  return status.st_size;
}

bool readableByOffset(std::FILE* file) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return GetFileType(handle) == FILE_TYPE_DISK;
}

FileIdentity identityOf(std::FILE* file) {
  return identityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

FileIdentity identityOf(const char* path) {
  // Opened for no access at all, only to ask which file the name leads to.
  HANDLE handle =
      CreateFileW(wideOf(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  auto identity = identityOfHandle(handle);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
  }
  return identity;
}

void copyPermissions(std::FILE*, std::FILE*, bool) {
  // A Windows file's attributes are not carried over: a new file is writable.
}

NameKind kindOfName(const char* path, bool followLinks) {
  auto attributes = GetFileAttributesW(wideOf(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return NameKind::missing;
  }
  auto notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                    (followLinks ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
  return (attributes & notRegular) != 0 ? NameKind::other : NameKind::regularFile;
}

std::string linkTarget(const char* path) {
  auto wide = wideOf(path);
  auto attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  HANDLE handle =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return path;
  }
  std::wstring target(32768, L'\0');
  auto length = GetFinalPathNameByHandleW(handle, target.data(), static_cast<DWORD>(target.size()),
                                          FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length == 0 || length >= target.size()) {
    return path;
  }
  target.resize(length);
  // The final path comes as \\?\C:\... or \\?\UNC\server\...; without the prefix it is an
  // ordinary path again, in which "/" separates folders too.
  if (target.starts_with(L"\\\\?\\UNC\\")) {
    target.replace(0, 8, L"\\\\");
  } else if (target.starts_with(L"\\\\?\\")) {
    target.erase(0, 4);
  }
  return utf8Of(target.c_str());
}

bool isReadOnly(std::FILE*, const char* path) {
  auto attributes = GetFileAttributesW(wideOf(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::uint64_t nameCount(std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION information{};
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return GetFileInformationByHandle(handle, &information) != 0 ? information.nNumberOfLinks : 0;
}

namespace {

// The lock covers one byte far past any level file's end, so that it keeps no reader out:
// Windows locks are mandatory for the bytes they cover.
OVERLAPPED lockedRange() {
  OVERLAPPED range{};
  range.Offset = 0xFFFFFFFE;
  range.OffsetHigh = 0x7FFFFFFF;
  return range;
}

} // namespace

FileLock lockFile(const char* path) {
  FileLock lock;
  HANDLE handle =
      CreateFileW(wideOf(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return lock;
  }
  auto range = lockedRange();
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) ==
      0) {
    lock.busy = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(handle);
    return lock;
  }
  lock = {true, false, identityOfHandle(handle), reinterpret_cast<std::intptr_t>(handle)};
  return lock;
}

void releaseLock(FileLock& lock) {
  if (lock.held) {
    CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
  }
  lock = {};
}

void releaseLockBeforeReplacing(FileLock& lock) {
  releaseLock(lock);
}

namespace {

// The temporary files not yet renamed or removed, for the console handler that removes them
// when Ctrl+C or closing the console ends the program; the handler runs on a thread of its own.
constexpr std::size_t pendingSlots = 2;
std::wstring pendingTemporary[pendingSlots];
volatile LONG pendingUsed[pendingSlots] = {};

void rememberTemporary(const std::string& path) {
  for (std::size_t k = 0; k < pendingSlots; ++k) {
    if (pendingUsed[k] == 0) {
      pendingTemporary[k] = wideOf(path.c_str());
      pendingUsed[k] = 1;
      return;
    }
  }
}

void forgetTemporary(const std::string& path) {
  auto wide = wideOf(path.c_str());
  for (std::size_t k = 0; k < pendingSlots; ++k) {
    if (pendingUsed[k] != 0 && pendingTemporary[k] == wide) {
      pendingUsed[k] = 0;
    }
  }
}

void removePendingTemporaryFiles() {
  for (std::size_t k = 0; k < pendingSlots; ++k) {
    if (pendingUsed[k] != 0) {
      DeleteFileW(pendingTemporary[k].c_str());
    }
  }
}

} // namespace

std::FILE* createTemporaryFile(const std::string& folder, std::string& path) {
  static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder + "/.lvlsnd-";
    for (int k = 0; k < 6; ++k) {
      path += letters[random() % (sizeof letters - 1)];
    }
    HANDLE handle = CreateFileW(wideOf(path.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
        continue;
      }
      return nullptr;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    std::FILE* file = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (file == nullptr) {
      descriptor >= 0 ? _close(descriptor) : CloseHandle(handle);
      DeleteFileW(wideOf(path.c_str()).c_str());
      return nullptr;
    }
    rememberTemporary(path);
    return file;
  }
  return nullptr;
}

void removeTemporaryFile(const std::string& path) {
  DeleteFileW(wideOf(path.c_str()).c_str());
  forgetTemporary(path);
}

bool renameTemporaryFile(const std::string& path, const std::string& target) {
  if (MoveFileExW(wideOf(path.c_str()).c_str(), wideOf(target.c_str()).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    return false;
  }
  forgetTemporary(path);
  return true;
}

bool flushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 &&
         FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0;
}

bool flushFolder(const std::string&) {
  return true; // the rename wrote through
}

namespace {

// The console's output code page before the tool switched it; 0 when it was not switched.
volatile UINT savedCodePage = 0;

void restoreCodePage() {
  if (savedCodePage != 0) {
    SetConsoleOutputCP(savedCodePage);
  }
}

// Ctrl+C, Ctrl+Break and closing the console end the tool without returning from it; the
// console's code page is put back and the temporary files removed first. Returning FALSE lets the
// default handling end it.
BOOL WINAPI restoreCodePageOnInterrupt(DWORD) {
  removePendingTemporaryFiles();
  restoreCodePage();
  return FALSE;
}

} // namespace

int runWindowsConsoleTool(int argc, wchar_t** argv, ToolMain tool, const char* program) {
  std::vector<std::string> arguments;
  for (int k = 0; k < argc; ++k) {
    arguments.push_back(utf8Of(argv[k]));
  }
  std::vector<const char*> argumentPointers;
  for (const auto& argument : arguments) {
    argumentPointers.push_back(argument.c_str());
  }
  savedCodePage = GetConsoleOutputCP();
  SetConsoleCtrlHandler(restoreCodePageOnInterrupt, TRUE);
  SetConsoleOutputCP(CP_UTF8);
  int status = closeStandardOutput(program, tool(argc, argumentPointers.data(), {stdout, stderr}));
  restoreCodePage();
  return status;
}

#else

std::FILE* openFile(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool removeFile(const char* path) {
  return std::remove(path) == 0;
}

bool seekFile(std::FILE* file, std::int64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t fileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
    return -1;
  }
  return status.st_size;
}

bool readableByOffset(std::FILE* file) {
  struct stat status {};
  return fstat(fileno(file), &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

namespace {

FileIdentity identityOfStatus(const struct stat& status) {
  return {true, static_cast<std::uint64_t>(status.st_dev),
          static_cast<std::uint64_t>(status.st_ino)};
}

} // namespace

FileIdentity identityOf(std::FILE* file) {
  struct stat status {};
  return fstat(fileno(file), &status) == 0 ? identityOfStatus(status) : FileIdentity{};
}

FileIdentity identityOf(const char* path) {
  struct stat status {};
  return stat(path, &status) == 0 ? identityOfStatus(status) : FileIdentity{};
}

void copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner) {
  struct stat status {};
  if (fstat(fileno(from), &status) != 0) {
    return;
  }
  auto mode = status.st_mode & 07777;
  if (keepOwner && fchown(fileno(to), status.st_uid, status.st_gid) != 0) {
    mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID); // they would now mean another owner
  }
  fchmod(fileno(to), mode);
}

NameKind kindOfName(const char* path, bool followLinks) {
  struct stat status {};
  if ((followLinks ? stat(path, &status) : lstat(path, &status)) != 0) {
    return NameKind::missing;
  }
  return S_ISREG(status.st_mode) ? NameKind::regularFile : NameKind::other;
}

std::string linkTarget(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) {
    return path;
  }
  char* target = realpath(path, nullptr);
  if (target == nullptr) {
    return path;
  }
  std::string resolved = target;
  std::free(target);
  return resolved;
}

bool isReadOnly(std::FILE* file, const char* path) {
  struct stat status {};
  return fstat(fileno(file), &status) != 0 || (status.st_mode & 0222) == 0 ||
         access(path, W_OK) != 0;
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
    lock.busy = errno == EWOULDBLOCK;
    close(descriptor);
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

namespace {

// The temporary files not yet renamed or removed, for the signal handler that removes them
// when Ctrl+C, SIGTERM or a closed terminal stops the program: plain arrays, since a signal
// handler may touch nothing else.
constexpr std::size_t pendingSlots = 2;
constexpr std::size_t pendingPathSize = 4096;
char pendingTemporary[pendingSlots][pendingPathSize];
volatile std::sig_atomic_t pendingUsed[pendingSlots] = {};

extern "C" void removePendingAndStop(int signalNumber) {
  for (std::size_t k = 0; k < pendingSlots; ++k) {
    if (pendingUsed[k] != 0) {
      unlink(pendingTemporary[k]);
    }
  }
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

bool rememberTemporary(const std::string& path) {
  static const bool handlersSet = [] {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
      std::signal(signalNumber, removePendingAndStop);
    }
    return true;
  }();
  for (std::size_t k = 0; handlersSet && k < pendingSlots; ++k) {
    if (pendingUsed[k] == 0 && path.size() < pendingPathSize) {
      std::memcpy(pendingTemporary[k], path.c_str(), path.size() + 1);
      pendingUsed[k] = 1;
      return true;
    }
  }
  return false;
}

void forgetTemporary(const std::string& path) {
  for (std::size_t k = 0; k < pendingSlots; ++k) {
    if (pendingUsed[k] != 0 && path == pendingTemporary[k]) {
      pendingUsed[k] = 0;
    }
  }
}

} // namespace

std::FILE* createTemporaryFile(const std::string& folder, std::string& path) {
  path = folder + "/.lvlsnd-XXXXXX";
  // mkstemp opens with O_CREAT | O_EXCL under a random name, readable by the owner alone
  // until the permissions are copied.
  int descriptor = mkstemp(path.data());
  if (descriptor < 0) {
    return nullptr;
  }
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr || !rememberTemporary(path)) {
    file != nullptr ? std::fclose(file) : close(descriptor);
    unlink(path.c_str());
    return nullptr;
  }
  return file;
}

void removeTemporaryFile(const std::string& path) {
  unlink(path.c_str());
  forgetTemporary(path);
}

bool renameTemporaryFile(const std::string& path, const std::string& target) {
  if (std::rename(path.c_str(), target.c_str()) != 0) {
    return false;
  }
  forgetTemporary(path);
  return true;
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

#endif

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

int closeStandardOutput(const char* program, int status) {
  bool written = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  written = std::fclose(stdout) == 0 && written;
  if (!written) {
    std::fprintf(stderr, "%s: Cannot write standard output\n", program);
    return 1;
  }
  return status;
}
