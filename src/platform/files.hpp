// Files on either system: UTF-8 names, 64-bit positions, which file a name leads to, what a name
// is, and what may be done to a file. Every call that fails leaves errno saying why, on Windows
// too.
#pragma once

#include "problem.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace lvlsnd {

// Paths are UTF-8 throughout; Windows opens and removes through its wide API, since its narrow
// one takes the ANSI code page.
SystemResult<std::FILE*> openFile(const char* path, const char* mode);
SystemStatus removeFile(const char* path);

// Seeks with a 64-bit offset from the start: `long` is 32 bits on Windows, so plain fseek
// cannot reach offsets of 2^31 or more there.
SystemStatus seekFile(std::FILE* file, std::int64_t offset);
// The size of an open regular file; ESPIPE for one that has none (a pipe, say), or why the
// system cannot say.
SystemResult<std::int64_t> fileSize(std::FILE* file);

// Opens an input that can be read at any offset: a regular file or a block device. Null for
// anything else (a directory, FIFO, socket or terminal) and for what cannot be opened, at once:
// a FIFO with no writer is never waited for.
SystemResult<std::FILE*> openInput(const char* path);

// Which file a name or an open stream leads to, whatever the link: device and inode on POSIX
// systems, volume serial number and file index on Windows; and its size and modification time,
// to tell whether it changed. `unknown` when the system could not say (a failing disk, a network
// folder that timed out), with the error; `none` when nothing is there.
enum class IdentityKind { unknown, none, known };
struct FileIdentity {
  IdentityKind kind = IdentityKind::unknown;
  int error = 0; // errno, when unknown
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::int64_t size = 0;
  std::int64_t modified = 0;      // in the system's own units
  std::int64_t statusChanged = 0; // POSIX systems: when its size, names or permissions changed
  bool regular = false;           // a regular file, not a folder, device or link
};

FileIdentity identityOf(std::FILE* file);
FileIdentity identityOf(const char* path);

// Whether two identities are one file. There is no answer when either is unknown: a check that
// guards a file must then refuse, never take it for "another file".
enum class Sameness { different, same, unknown };
Sameness compareFiles(const FileIdentity& a, const FileIdentity& b);
// Whether `now` is the very file `then` was, unchanged: the same file, size and modification
// time. False when either is unknown.
bool unchangedSince(const FileIdentity& then, const FileIdentity& now);

// Gives `to` the permission bits of `from` (POSIX systems), so that a file written anew in
// place of another keeps who may read and write it. With `keepOwner` its owner and group too, as
// far as the system allows: the group alone when the owner cannot be kept, and without the
// set-user-ID bit when the owner is not kept, the set-group-ID bit when the group is not (they
// would mean another user). Its extended attributes too, its POSIX ACL among them, as
// cp --preserve=all keeps them (those the user may not set, left out). Failed when the bits, the
// ACL or the user's own attributes could not be read or given.
SystemStatus copyPermissions(std::FILE* from, std::FILE* to, bool keepOwner);

// The file a symbolic link leads to, when `path` is one, or `path` itself. A file changed in
// place is changed there, so the link stays a link. Failed when the name or the link cannot be
// resolved: never the link's own name in its place.
SystemResult<std::string> resolveLink(const char* path);

// Whether the open file may be written: `readOnly` when nobody should (it has no write
// permission bit at all, root included, or it carries the Windows read-only attribute),
// `denied` when this user may not, `unknown` when the system cannot say (with the error of
// why, for these two).
enum class Writability { writable, readOnly, denied, unknown };
SystemResult<Writability> writabilityOf(std::FILE* file, const char* path);
// Makes the folder `path` (its parent must exist); done too when it is a folder already.
SystemStatus makeFolder(const char* path);
// How many names (hard links) the open file has.
SystemResult<std::uint64_t> nameCount(std::FILE* file);

} // namespace lvlsnd
