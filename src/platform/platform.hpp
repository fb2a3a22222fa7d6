// What differs between Windows and POSIX systems, behind one set of calls: UTF-8 paths, 64-bit
// file positions, which file a name leads to, locks, the one careful way to write a file, and
// the console. platform_posix.cpp and platform_windows.cpp each define the calls for their
// system (the build picks one); platform_common.cpp holds what both share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The system's words for an error number (errno), as in "No such file or directory"; empty for
// 0. Every call here that fails leaves errno saying why, on Windows too.
std::string reasonOf(int error);

// Paths are UTF-8 throughout; Windows opens and removes through its wide API, since its narrow
// one takes the ANSI code page.
std::FILE* openFile(const char* path, const char* mode);
bool removeFile(const char* path);

// Seeks with a 64-bit offset from the start: `long` is 32 bits on Windows, so plain fseek
// cannot reach offsets of 2^31 or more there.
bool seekFile(std::FILE* file, std::int64_t offset);
// The size of an open regular file; -1 when it has none (a pipe, say).
std::int64_t fileSize(std::FILE* file);

// Opens an input that can be read at any offset: a regular file or a block device. Null for
// anything else (a directory, FIFO, socket or terminal) and for what cannot be opened, at once:
// a FIFO with no writer is never waited for.
std::FILE* openInput(const char* path);

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
// place of another keeps who may read and write it. With `keepOwner` its owner and group too, as
// far as the system allows: the group alone when the owner cannot be kept, and without the
// set-user-ID bit when the owner is not kept, the set-group-ID bit when the group is not (they
// would mean another user). False when the bits could not be read or given.
bool copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner);

// What a name leads to, links followed or not; `unknown` when asking failed for another reason
// than that nothing is there (a failing disk, a network folder that timed out).
enum class NameKind { missing, regularFile, other, unknown };
NameKind kindOfName(const char* path, bool followLinks);

// Puts in `target` the file a symbolic link leads to, when `path` is one, or `path` itself. A
// file changed in place is changed there, so the link stays a link. False when the name or the
// link cannot be resolved: never the link's own name in its place.
bool resolveLink(const char* path, std::string& target);
// The folder part of a path, "." when it has none.
std::string folderOf(const std::string& path);
// The absolute folder that holds `path`, "." and ".." taken out by the text alone, "/" between
// its names.
std::string absoluteFolderOf(const std::string& path);
// `path` relative to the absolute folder `folder`, "/" between its names; empty when there is
// no relative way (another drive of a Windows system).
std::string relativePathFrom(const std::string& path, const std::string& folder);
// The absolute form of `path`, as absoluteFolderOf writes folders.
std::string absolutePath(const std::string& path);
// The last name of a path: "level3.dat" of "maps/level3.dat"; empty when it ends in a separator.
std::string lastNameOf(const std::string& path);

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

// A file being written anew: the one way a program replaces or creates a file it must not leave
// half-written. Its bytes go to an exclusive temporary file beside the target, ".lvlsnd-XXXXXX"
// (never written through an existing name or a planted link), which Ctrl+C, SIGTERM, closing
// the console or the end of the program removes until it is renamed over the target.
//
// How much an update guards against a power cut. The user's data (a level file, its backup) is
// forced to the disk before the rename and the folder after it, so that a power cut leaves the
// old file or the new one, never an empty one. A file that can always be made again (a WAV file,
// a page) is not, so that writing it costs what copying does; it gets the permissions an
// ordinary new file gets (0666 less the umask), where the user's data copies its own.
enum class UpdateKind { userData, remakeable };
struct FileUpdate {
  std::string target;        // where the file goes: the file a symbolic link leads to
  std::string temporary;     // the temporary file's name
  std::FILE* file = nullptr; // open for writing; null when the update could not begin
  UpdateKind kind = UpdateKind::userData;
  std::string failure; // why it could not begin or be committed
};
// Begins writing the file `path` leads to. The update's file is null when the link cannot be
// resolved, the temporary file cannot be created, or the target is something else than a
// regular file (a folder, a device) or cannot be told: nothing is ever renamed over such a thing.
FileUpdate beginUpdate(const std::string& path, UpdateKind kind);
// Closes the temporary file and renames it over the target, flushed as its kind asks.
// `targetLock`, when not null, guards the target; Windows renames nothing over an open
// file, so there it is released just before the rename (elsewhere it is held through it, so no
// second run reads the old file in between). Returns false when any step failed; the temporary
// file is then removed, and the target is as it was unless only the folder's flush failed.
bool commitUpdate(FileUpdate& update, FileLock* targetLock);
// Closes and removes the temporary file; the target stays as it was.
void abandonUpdate(FileUpdate& update);

// What every program does first: a write past the file-size limit (ulimit -f) fails as a write,
// reported and cleaned up, instead of ending the program (SIGXFSZ is ignored).
void startProgram();

// Standard output is flushed and closed when a program ends; when that shows that some of it
// was never written (a full disk, a closed pipe), the program says so and ends with status 1,
// since what it printed was lost. Returns the exit status.
int closeStandardOutput(const char* program, int status);

// Windows alone: the program's wide-character arguments as UTF-8, with the console's output code
// page set to UTF-8 until endUtf8Console, which also puts it back when Ctrl+C, Ctrl+Break or
// closing the console interrupts the program.
struct Utf8Arguments {
  std::vector<std::string> texts;
  std::vector<const char*> pointers; // into texts
};
Utf8Arguments startUtf8Console(int argc, wchar_t** argv);
// Closes standard output as closeStandardOutput does and restores the console's code page.
int endUtf8Console(const char* program, int status);
