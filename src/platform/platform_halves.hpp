// What each half of the platform layer (platform_posix.cpp, platform_windows.cpp) gives the part
// both share (platform_common.cpp, file_update.cpp), beside the calls of the public headers.
// Only the platform layer includes it.
#pragma once

#include "console.hpp"
#include "file_lock.hpp"
#include "file_update.hpp"
#include "files.hpp"
#include "paths.hpp"

#include <cstdio>
#include <string>

namespace lvlsnd {

// The characters that separate folders in a path.
extern const char* const pathSeparators;

// The start of a temporary file's name in `folder`, ".lvlsnd-" there (in the current folder
// without "./", so that messages name it as the user sees it).
std::string temporaryNamePrefix(const std::string& folder);
// Creates a new file for writing in `folder` under a short name nobody can predict,
// ".lvlsnd-XXXXXX", exclusively: never through an existing name or a planted link. Null when
// it cannot be created; `path` receives its name.
std::FILE* createExclusiveFile(const std::string& folder, std::string& path);
// Gives a new file the permissions an ordinary create gives (POSIX systems); false when it
// cannot.
bool giveOrdinaryPermissions(std::FILE* file);
// Renames `from` over `to`, written through to the disk where the system can.
bool renameOver(const std::string& from, const std::string& to);
// The same, only while `to` is still `expected` (none: nothing there), unchanged. On Linux the
// files are exchanged and what came out is looked at, then exchanged back if it changed, so no
// save in between is lost; elsewhere `to` is looked at just before the rename. False with
// `changed` set when it was not unchanged, or with errno when a step failed.
bool renameOverIfUnchanged(const std::string& from, const std::string& to,
                           const FileIdentity& expected, bool& changed);
// The way without an exchange (platform_common.cpp): `to` looked at, then `from` renamed over it.
bool renameAfterLooking(const std::string& from, const std::string& to,
                        const FileIdentity& expected, bool& changed);
// Flushes the file's data to the disk.
bool flushToDisk(std::FILE* file);
// Flushes the folder itself, so that a rename in it is on the disk (POSIX systems; Windows
// renames write through).
bool flushFolder(const std::string& folder);
// Releases the lock on a file that is about to be replaced where the system needs it.
void releaseLockBeforeReplacing(FileLock& lock);

// Keeps the interrupt handlers out while the list of temporary files changes, so that they
// never see it half changed: a POSIX signal handler runs in the middle of the program, the
// Windows console handler on a thread of its own. On POSIX systems the first hold also installs
// the signal handlers; the Windows console handler comes with the console (startUtf8Console).
void holdInterrupts();
void releaseInterrupts();

// Names on standard error each temporary file that could not be removed, and why
// (file_update.cpp); true when there was any.
bool reportLeftoverFiles();

// Removes every temporary file not yet renamed or removed (file_update.cpp): what the
// interrupt handlers and the end of the program call. It only reads the list and removes
// files, as a signal handler may.
void removeTemporaryFiles();

} // namespace lvlsnd
