// The platform layer on Windows, through its wide-character API (WIN32_LEAN_AND_MEAN comes from
// the build).
#include "platform_halves.hpp"

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <windows.h>

namespace lvlsnd {

const char* const pathSeparators = "/\\:";

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

// Says in errno why the last Windows call failed, as the C runtime's own calls do.
void setErrnoFromLastError() {
  switch (GetLastError()) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
    errno = ENOENT;
    break;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
    errno = EACCES;
    break;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    errno = EEXIST;
    break;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    errno = ENOSPC;
    break;
  case ERROR_NOT_SAME_DEVICE:
    errno = EXDEV;
    break;
  case ERROR_WRITE_PROTECT:
    errno = EROFS;
    break;
  default:
    errno = EIO;
  }
}

FileIdentity identityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &information) == 0) {
    setErrnoFromLastError();
    return {IdentityKind::unknown, errno, 0, 0, 0, 0, 0, false};
  }
  auto notRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
  auto modified = std::uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32 |
                  information.ftLastWriteTime.dwLowDateTime;
  auto size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
  return {IdentityKind::known,
          0,
          information.dwVolumeSerialNumber,
          std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow,
          static_cast<std::int64_t>(size),
          static_cast<std::int64_t>(modified),
          0,
          (information.dwFileAttributes & notRegular) == 0};
}

} // namespace

SystemResult<std::FILE*> openFile(const char* path, const char* mode) {
  auto widePath = wideOf(path);
  auto wideMode = wideOf(mode);
  if (widePath.empty()) {
    return {nullptr, ENOENT}; // no name, or one that is no UTF-8
  }
  std::FILE* file = _wfopen(widePath.c_str(), wideMode.c_str());
  return {file, file != nullptr ? 0 : errno};
}

SystemStatus removeFile(const char* path) {
  if (DeleteFileW(wideOf(path).c_str()) == 0) {
    setErrnoFromLastError();
    return {errno};
  }
  return {};
}

SystemStatus seekFile(std::FILE* file, std::int64_t offset) {
  return {_fseeki64(file, offset, SEEK_SET) == 0 ? 0 : errno};
}

SystemResult<std::int64_t> fileSize(std::FILE* file) {
  struct _stati64 status {};
  if (_fstati64(_fileno(file), &status) != 0) {
    return {0, errno};
  }
  if ((status.st_mode & _S_IFMT) != _S_IFREG) {
    return {0, ESPIPE};
  }
  return {status.st_size};
}

SystemResult<std::FILE*> openInput(const char* path) {
  auto opened = openFile(path, "rb");
  if (!opened.failed() && GetFileType(reinterpret_cast<HANDLE>(
                              _get_osfhandle(_fileno(opened.value)))) != FILE_TYPE_DISK) {
    std::fclose(opened.value);
    return {nullptr, ESPIPE}; // opened, but not readable by offset
  }
  return opened;
}

FileIdentity identityOf(std::FILE* file) {
  return identityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

namespace {

// Which file `path` leads to; a reparse point (a link) itself when `followLinks` is false.
FileIdentity identityOfPath(const char* path, bool followLinks) {
  // Opened for no access at all, only to ask which file the name leads to.
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle =
      CreateFileW(wideOf(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    auto error = GetLastError();
    setErrnoFromLastError();
    bool nothing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return {nothing ? IdentityKind::none : IdentityKind::unknown, errno, 0, 0, 0, 0, 0, false};
  }
  auto identity = identityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

} // namespace

FileIdentity identityOf(const char* path) {
  return identityOfPath(path, true);
}

SystemStatus copyPermissions(std::FILE*, std::FILE*, bool) {
  return {}; // a Windows file's attributes are not carried over: a new file is writable
}

SystemResult<std::string> resolveLink(const char* path) {
  auto wide = wideOf(path);
  auto attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    auto error = GetLastError();
    setErrnoFromLastError();
    // Nothing there yet: the name itself.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? SystemResult<std::string>{path}
               : SystemResult<std::string>{"", errno};
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return {path};
  }
  HANDLE handle =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    setErrnoFromLastError();
    return {"", errno};
  }
  std::wstring resolved(32768, L'\0');
  auto length = GetFinalPathNameByHandleW(
      handle, resolved.data(), static_cast<DWORD>(resolved.size()), FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length == 0 || length >= resolved.size()) {
    return {"", ENAMETOOLONG};
  }
  resolved.resize(length);
  // The final path comes as \\?\C:\... or \\?\UNC\server\...; without the prefix it is an
  // ordinary path again, in which "/" separates folders too.
  if (resolved.starts_with(L"\\\\?\\UNC\\")) {
    resolved.replace(0, 8, L"\\\\");
  } else if (resolved.starts_with(L"\\\\?\\")) {
    resolved.erase(0, 4);
  }
  return {utf8Of(resolved.c_str())};
}

SystemResult<Writability> writabilityOf(std::FILE*, const char* path) {
  auto attributes = GetFileAttributesW(wideOf(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    setErrnoFromLastError();
    return {Writability::unknown, errno};
  }
  return {(attributes & FILE_ATTRIBUTE_READONLY) != 0 ? Writability::readOnly
                                                      : Writability::writable};
}

SystemResult<std::uint64_t> nameCount(std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION information{};
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (GetFileInformationByHandle(handle, &information) == 0) {
    setErrnoFromLastError();
    return {0, errno};
  }
  return {information.nNumberOfLinks};
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
    setErrnoFromLastError();
    lock.error = errno;
    return lock;
  }
  auto range = lockedRange();
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) ==
      0) {
    lock.busy = GetLastError() == ERROR_LOCK_VIOLATION;
    setErrnoFromLastError();
    lock.error = errno;
    CloseHandle(handle);
    return lock;
  }
  lock = {true, false, 0, identityOfHandle(handle), reinterpret_cast<std::intptr_t>(handle)};
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

bool holdFolder(const std::string& path, HeldFolder& folder) {
  // Windows renames by path: the folder is only looked at.
  auto attributes = GetFileAttributesW(wideOf(path.c_str()).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    setErrnoFromLastError();
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return false;
  }
  folder = {path, -1};
  return true;
}

void releaseFolder(HeldFolder&) {}

FileIdentity identityIn(const HeldFolder& folder, const std::string& name) {
  return identityOfPath(pathIn(folder.path, name).c_str(), false);
}

std::FILE* openIn(const HeldFolder& folder, const std::string& name) {
  auto opened = openInput(pathIn(folder.path, name).c_str());
  errno = opened.error;
  return opened.value;
}

std::FILE* createUnnamedIn(const HeldFolder&, bool) {
  return nullptr; // Windows has no file of no name
}

std::FILE* createNamedIn(const HeldFolder& folder, bool, std::string& temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = temporaryName();
    auto path = pathIn(folder.path, temporary);
    // Shared for deletion alone, so that the console handler can remove it while it is open.
    HANDLE handle = CreateFileW(wideOf(path.c_str()).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
        continue;
      }
      setErrnoFromLastError();
      break;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    std::FILE* file = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (file == nullptr) {
      descriptor >= 0 ? _close(descriptor) : CloseHandle(handle);
      DeleteFileW(wideOf(path.c_str()).c_str());
      break;
    }
    return file;
  }
  temporary.clear();
  return nullptr;
}

bool copyContents(std::FILE*, std::FILE*) {
  errno = ENOSYS; // createUnnamedIn makes no file of no name here
  return false;
}

FinalStep nameNewFile(std::FILE*, const HeldFolder&, const std::string&) {
  errno = ENOSYS; // createUnnamedIn makes none here
  return FinalStep::failed;
}

namespace {

bool moveIn(const HeldFolder& folder, const std::string& from, const std::string& name,
            DWORD flags) {
  auto source = wideOf(pathIn(folder.path, from).c_str());
  auto target = wideOf(pathIn(folder.path, name).c_str());
  if (MoveFileExW(source.c_str(), target.c_str(), flags | MOVEFILE_WRITE_THROUGH) == 0) {
    setErrnoFromLastError();
    return false;
  }
  return true;
}

} // namespace

FinalStep renameAsNew(const HeldFolder& folder, const std::string& from, const std::string& name) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
  if (moveIn(folder, from, name, 0)) {
    return FinalStep::done;
  }
  return errno == EEXIST ? FinalStep::changed : FinalStep::failed;
}

FinalStep replaceWith(const HeldFolder& folder, const std::string& from, const std::string& name,
                      const FileIdentity& expected, UpdateGuard guard, bool& oldFileOut) {
  oldFileOut = false;
  return replaceAfterLooking(folder, from, name, expected, guard);
}

bool renameIn(const HeldFolder& folder, const std::string& from, const std::string& name) {
  return moveIn(folder, from, name, MOVEFILE_REPLACE_EXISTING);
}

bool removeIn(const HeldFolder& folder, const std::string& name) {
  auto removed = removeFile(pathIn(folder.path, name).c_str());
  errno = removed.error;
  return !removed.failed();
}

bool flushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) {
    return false;
  }
  if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == 0) {
    setErrnoFromLastError();
    return false;
  }
  return true;
}

bool flushFolder(const HeldFolder&) {
  return true; // the move wrote through
}

namespace {

// The console handler runs on a thread of its own: it waits while the program changes the list
// of temporary files.
SRWLOCK temporaryListLock = SRWLOCK_INIT;

} // namespace

void holdInterrupts() {
  AcquireSRWLockExclusive(&temporaryListLock);
}

void releaseInterrupts() {
  ReleaseSRWLockExclusive(&temporaryListLock);
}

namespace {

// The console's output code page before the program switched it; 0 when it was not switched.
volatile UINT savedCodePage = 0;

void restoreCodePage() {
  if (savedCodePage != 0) {
    SetConsoleOutputCP(savedCodePage);
  }
}

// Ctrl+C, Ctrl+Break and closing the console end the program without returning from it; the
// temporary files are removed and the console's code page put back first. Returning FALSE lets
// the default handling end it.
// The note setInterruptNote keeps, and where it goes (null: nowhere), under the hold.
std::string interruptNote;
HANDLE interruptNoteHandle = nullptr;

BOOL WINAPI cleanUpOnInterrupt(DWORD) {
  holdInterrupts();
  removeTemporaryFiles();
  if (interruptNoteHandle != nullptr) {
    DWORD written = 0;
    WriteFile(interruptNoteHandle, interruptNote.data(), static_cast<DWORD>(interruptNote.size()),
              &written, nullptr);
  }
  releaseInterrupts();
  restoreCodePage();
  return FALSE;
}

} // namespace

Utf8Arguments startUtf8Console(int argc, wchar_t** argv) {
  Utf8Arguments arguments;
  for (int k = 0; k < argc; ++k) {
    arguments.texts.push_back(utf8Of(argv[k]));
  }
  for (const auto& text : arguments.texts) {
    arguments.pointers.push_back(text.c_str());
  }
  savedCodePage = GetConsoleOutputCP();
  SetConsoleCtrlHandler(cleanUpOnInterrupt, TRUE);
  SetConsoleOutputCP(CP_UTF8);
  return arguments;
}

void setInterruptNote(std::FILE* stream, const std::string& note) {
  holdInterrupts();
  interruptNote = note;
  interruptNoteHandle =
      stream != nullptr ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))) : nullptr;
  releaseInterrupts();
}

namespace {

// A program started from Explorer, by a double click or a drop, gets a console of its own that
// closes as the program ends: where it is the console's only process and reads from it, it waits
// for Enter, so that its messages can be read. Never for input that is no console.
void waitWhenTheConsoleIsItsOwn() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  DWORD processes[2];
  if (GetConsoleMode(input, &mode) == 0 || GetConsoleProcessList(processes, 2) != 1) {
    return;
  }
  std::fputs("Press Enter to close", stderr);
  std::fflush(stderr);
  wchar_t line[256];
  DWORD got = 0;
  ReadConsoleW(input, line, 256, &got, nullptr);
}

} // namespace

int endUtf8Console(const char* program, int status) {
  status = closeStandardOutput(program, status);
  waitWhenTheConsoleIsItsOwn();
  restoreCodePage();
  return status;
}

void startProgram(const char* program) {
  startProgramOnEither(program);
  // Windows has no file-size signal.
}

void setEnvironment(const char* name, const char* value) {
  _putenv_s(name, value);
}

std::optional<std::string> environmentValue(const char* name) {
  const wchar_t* value = _wgetenv(wideOf(name).c_str());
  if (value == nullptr || *value == L'\0') {
    return std::nullopt;
  }
  return utf8Of(value);
}

SystemStatus makeFolder(const char* path) {
  auto wide = wideOf(path);
  if (CreateDirectoryW(wide.c_str(), nullptr) != 0) {
    return {};
  }
  auto error = GetLastError();
  auto attributes = GetFileAttributesW(wide.c_str());
  if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {};
  }
  SetLastError(error);
  setErrnoFromLastError();
  return {errno};
}

bool isTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

} // namespace lvlsnd
