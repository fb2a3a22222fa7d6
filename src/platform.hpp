// What differs between Windows and POSIX systems, in one place: UTF-8 paths, 64-bit file
// positions, which file a name leads to, and the console the tools write to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Where a tool prints: progress lines to `out`, complaints to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
};

// How copying data from one file into another ended: the three programs tell a failed read of
// their input from a failed write of their output, since each names another file.
enum class Transfer { done, readFailed, writeFailed };

// Paths are UTF-8 throughout; Windows opens, removes and renames through its wide API, since
// its narrow one takes the ANSI code page.
std::FILE* openFile(const char* path, const char* mode);
bool removeFile(const char* path);

// Seeks with a 64-bit offset from the start: `long` is 32 bits on Windows, so plain fseek
// cannot reach offsets of 2^31 or more there.
bool seekFile(std::FILE* file, std::int64_t offset);
// The size of an open regular file; -1 when it has none (a pipe, say).
std::int64_t fileSize(std::FILE* file);

// Whether an open file can be read at any offset: a regular file or a block device, not a
// directory, pipe or other stream.
bool readableByOffset(std::FILE* file);

// Which file a name or an open stream leads to, whatever the link: device and inode on POSIX
// systems, volume serial number and file index on Windows.
struct FileIdentity {
  bool known = false;
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

FileIdentity identityOf(std::FILE* file);
FileIdentity identityOf(const char* path);
// True only when both are known and the same file.
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// Gives `to` the permission bits of `from` (POSIX systems), so that a file written anew in
// place of another keeps who may read and write it; with `keepOwner` its owner and group too,
// and where they cannot be kept, without the set-user-ID and set-group-ID bits.
void copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner);

// What a name leads to, links followed or not.
enum class NameKind { missing, regularFile, other };
NameKind kindOfName(const char* path, bool followLinks);

// The file a symbolic link leads to, when `path` is one; otherwise `path` itself. A file
// changed in place is changed there, so the link stays a link.
std::string linkTarget(const char* path);
// The folder part of a path, "." when it has none.
std::string folderOf(const std::string& path);

// Whether nobody should write the open file: it has no write permission bit at all (root
// included), this user may not write it, or it carries the Windows read-only attribute.
bool isReadOnly(std::FILE* file, const char* path);
// How many names (hard links) the open file has; 0 when unknown.
std::uint64_t nameCount(std::FILE* file);

// An exclusive advisory lock on a file, on a handle of its own, which the system releases
// when the process ends however it ends.
struct FileLock {
  bool held = false;
  bool busy = false; // another process holds it
  FileIdentity identity;
  std::intptr_t handle = -1;
};
// Takes the lock on the file `path` leads to, without waiting.
FileLock lockFile(const char* path);
void releaseLock(FileLock& lock);
// Windows renames nothing over an open file, so there the lock goes just before the file it
// guards is replaced; elsewhere it stays through the rename, so that no second run reads the
// old file in between.
void releaseLockBeforeReplacing(FileLock& lock);

// Creates a new file for writing in `folder` under a short name nobody can predict,
// ".lvlsnd-XXXXXX", exclusively: never through an existing name or a planted link. Until it is
// renamed or removed, Ctrl+C, SIGTERM or closing the console removes it. Null when it cannot be
// created; `path` receives its name.
std::FILE* createTemporaryFile(const std::string& folder, std::string& path);
void removeTemporaryFile(const std::string& path);
// Renames the complete temporary file over `target`, written through to the disk.
bool renameTemporaryFile(const std::string& path, const std::string& target);
// Flushes the file's data to the disk, so that a power cut after a rename cannot leave an
// empty file under the new name.
bool flushToDisk(std::FILE* file);
// Flushes the folder itself, so that a rename in it is on the disk (POSIX systems; Windows
// renames write through).
bool flushFolder(const std::string& folder);

using ToolMain = int (*)(int argc, const char* const* argv, Console console);

// Standard output is flushed and closed when a program ends; when that shows that some of it
// was never written (a full disk, a closed pipe), the program says so and ends with status 1,
// since what it printed was lost. Returns the exit status.
int closeStandardOutput(const char* program, int status);

#ifdef _WIN32
// Runs `tool` with the wide-character arguments turned into UTF-8 and the console's output
// code page set to UTF-8, restored when the tool ends or the console interrupts it.
int runWindowsConsoleTool(int argc, wchar_t** argv, ToolMain tool, const char* program);
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int wmain(int argc, wchar_t** argv) {                                                            \
    return runWindowsConsoleTool(argc, argv, tool, program);                                       \
  }
#else
#define LVLSND_CONSOLE_MAIN(tool, program)                                                         \
  int main(int argc, char** argv) {                                                                \
    return closeStandardOutput(program, tool(argc, argv, {stdout, stderr}));                       \
  }
#endif
