// What each half of the platform layer (platform_posix.cpp, platform_windows.cpp) gives the part
// both share (platform_common.cpp, file_update.cpp), beside the calls of the public headers.
// Only the platform layer includes it.
#pragma once

#include "console.hpp"
#include "environment.hpp"
#include "file_lock.hpp"
#include "file_update.hpp"
#include "files.hpp"
#include "paths.hpp"

#include <cstdio>
#include <string>

namespace lvlsnd {

// The characters that separate folders in a path.
extern const char* const pathSeparators;

// A short name for a temporary file that nobody can predict, ".lvlsnd-XXXXXX".
std::string temporaryName();
// `name` in `folder` as the user sees it: without "./" in the current folder, so that messages
// name a leftover as the user would type it.
std::string pathIn(const std::string& folder, const std::string& name);

// Holds `folder` open for the updates of files in it (POSIX systems; Windows works by the path,
// which `folder.path` keeps), to the end of the run; false, with errno, when it cannot.
bool holdFolder(const std::string& path, HeldFolder& folder);
void releaseFolder(HeldFolder& folder);
// What `name` in the folder is, a symbolic link not followed: `none` when nothing is there.
FileIdentity identityIn(const HeldFolder& folder, const std::string& name);
// Opens `name` in the folder for reading, a link not followed; null, with errno, when it cannot
// or it is no regular file.
std::FILE* openIn(const HeldFolder& folder, const std::string& name);
// Creates a new file for writing in the folder, with no name (Linux's O_TMPFILE); null where the
// system cannot. `ordinary`: the permissions an ordinary new file gets; else readable by its
// owner alone until the caller copies the user's file's own.
std::FILE* createUnnamedIn(const HeldFolder& folder, bool ordinary);
// The same exclusively under a temporary name, never through an existing name or a planted
// link (`temporary` receives it); null, with errno, when it cannot be created.
std::FILE* createNamedIn(const HeldFolder& folder, bool ordinary, std::string& temporary);

// Copies the whole of `from`, a file of no name, into `to`; false, with errno, when it cannot.
bool copyContents(std::FILE* from, std::FILE* to);
// Gives the file of no name the name `name`, only while nothing is there.
FinalStep nameNewFile(std::FILE* file, const HeldFolder& folder, const std::string& name);
// Renames `from` to `name`, only while nothing is there.
FinalStep renameAsNew(const HeldFolder& folder, const std::string& from, const std::string& name);
// Puts `from` in place of `name`, only while `name` still holds `expected` (unchanged, by
// `guard`). Where the system exchanges the two (Linux), the old file comes out under `from`
// (`oldFileOut`), is looked at, and is exchanged back when it is not the file expected; on a
// file system that cannot exchange, and on Windows, `name` is looked at just before `from` is
// renamed over it.
FinalStep replaceWith(const HeldFolder& folder, const std::string& from, const std::string& name,
                      const FileIdentity& expected, UpdateGuard guard, bool& oldFileOut);
// The way without an exchange (platform_common.cpp): `name` looked at, then `from` renamed over it.
FinalStep replaceAfterLooking(const HeldFolder& folder, const std::string& from,
                              const std::string& name, const FileIdentity& expected,
                              UpdateGuard guard);
// Renames `from` over `name`, whatever is there.
bool renameIn(const HeldFolder& folder, const std::string& from, const std::string& name);
bool removeIn(const HeldFolder& folder, const std::string& name);
// Whether `now` is the file `expected`, and unchanged when `guard` asks.
bool isExpectedFile(const FileIdentity& expected, const FileIdentity& now, UpdateGuard guard);
// Waits, for a test, just before the final step of a file called `name`: when the environment
// names it (LVLSND_TEST_PAUSE_NAME), until the FIFO LVLSND_TEST_PAUSE_FIFO has been opened for
// writing and closed again, so that the test can change the name in between.
void pauseBeforeFinalStep(const std::string& name);
// Flushes the file's data to the disk.
bool flushToDisk(std::FILE* file);
// Flushes the folder itself, so that a rename in it is on the disk (POSIX systems; Windows
// renames write through).
bool flushFolder(const HeldFolder& folder);
// What startProgram does on both systems: keeps the program's name for programName, and ends the
// program when memory runs out.
void startProgramOnEither(const char* program);
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
