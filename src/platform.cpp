#include "platform.hpp"

#include <sys/stat.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <process.h>
#include <string>
#include <vector>
#include <windows.h>
#else
#include <unistd.h>
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

bool renameOver(const char* from, const char* to) {
  return MoveFileExW(wideOf(from).c_str(), wideOf(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool fileExists(const char* path) {
  return GetFileAttributesW(wideOf(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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

void copyPermissions(std::FILE*, std::FILE*) {
  // A Windows file's attributes are not carried over: a new file is writable.
}

unsigned long processNumber() {
  return static_cast<unsigned long>(_getpid());
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
// console's code page is put back first. Returning FALSE lets the default handling end it.
BOOL WINAPI restoreCodePageOnInterrupt(DWORD) {
  restoreCodePage();
  return FALSE;
}

} // namespace

int runWindowsConsoleTool(int argc, wchar_t** argv, ToolMain tool) {
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
  int status = tool(argc, argumentPointers.data(), {stdout, stderr});
  std::fflush(stdout);
  std::fflush(stderr);
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

bool renameOver(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

bool fileExists(const char* path) {
  struct stat status {};
  return lstat(path, &status) == 0;
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

void copyPermissions(std::FILE* from, std::FILE* to) {
  struct stat status {};
  if (fstat(fileno(from), &status) == 0) {
    fchmod(fileno(to), status.st_mode & 07777);
  }
}

unsigned long processNumber() {
  return static_cast<unsigned long>(getpid());
}

#endif

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
