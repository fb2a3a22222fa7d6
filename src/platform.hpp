// What differs between Windows and POSIX systems, in one place: UTF-8 paths, 64-bit file
// positions, which file a name leads to, and the console the tools write to.
#pragma once

#include <cstdint>
#include <cstdio>

// Where a tool prints: progress lines to `out`, complaints to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
};

// Paths are UTF-8 throughout; Windows opens, removes and renames through its wide API, since
// its narrow one takes the ANSI code page.
std::FILE* openFile(const char* path, const char* mode);
bool removeFile(const char* path);
// Renames `from` to `to`, replacing a file of that name.
bool renameOver(const char* from, const char* to);
bool fileExists(const char* path);

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
// place of another keeps who may read and write it.
void copyPermissions(std::FILE* from, std::FILE* to);

// A number that tells this process from others, for names of temporary files.
unsigned long processNumber();

using ToolMain = int (*)(int argc, const char* const* argv, Console console);

#ifdef _WIN32
// Runs `tool` with the wide-character arguments turned into UTF-8 and the console's output
// code page set to UTF-8, restored when the tool ends or the console interrupts it.
int runWindowsConsoleTool(int argc, wchar_t** argv, ToolMain tool);
#define LVLSND_CONSOLE_MAIN(tool)                                                                  \
  int wmain(int argc, wchar_t** argv) {                                                            \
    return runWindowsConsoleTool(argc, argv, tool);                                                \
  }
#else
#define LVLSND_CONSOLE_MAIN(tool)                                                                  \
  int main(int argc, char** argv) {                                                                \
    return tool(argc, argv, {stdout, stderr});                                                     \
  }
#endif
