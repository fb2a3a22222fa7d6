// An exclusive advisory lock on a file, which keeps a second run off a file being changed.
#pragma once

#include "files.hpp"

#include <cstdint>

namespace lvlsnd {

// The lock is on a handle of its own, which the system releases when the process ends however
// it ends.
struct FileLock {
  bool held = false;
  bool busy = false; // another process holds it
  int error = 0;     // why it is not held, when it is not
  FileIdentity identity;
  std::intptr_t handle = -1;
};
// Takes the lock on the file `path` leads to, without waiting.
FileLock lockFile(const char* path);
void releaseLock(FileLock& lock);

} // namespace lvlsnd
