// The parts of a path, by its text alone: "/" separates folders everywhere, "\" and a drive's
// ":" on Windows too.
#pragma once

#include "problem.hpp"

#include <string>

namespace lvlsnd {

// The folder part of a path, "." when it has none.
std::string folderOf(const std::string& path);
// The absolute folder that holds `path`, "." and ".." taken out by the text alone, "/" between
// its names; failed when the current folder cannot be told (as for absolutePath).
SystemResult<std::string> absoluteFolderOf(const std::string& path);
// The absolute `path` relative to the absolute folder `folder`, "/" between its names; empty when
// there is no relative way (another drive of a Windows system).
std::string relativePathFrom(const std::string& path, const std::string& folder);
// The absolute form of `path`, as absoluteFolderOf writes folders.
SystemResult<std::string> absolutePath(const std::string& path);
// The last name of a path: "level3.dat" of "maps/level3.dat"; empty when it ends in a separator.
std::string lastNameOf(const std::string& path);

} // namespace lvlsnd
