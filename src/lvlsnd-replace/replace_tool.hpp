// lvlsnd-replace: encodes a WAV file into the stored groups of one sound entry of a level
// file, leaving every other byte of the file as it was.
#pragma once

#include "messages.hpp"

namespace lvlsnd {

// The whole program: options, level file, entry index, WAV file; returns the exit status.
int lvlsndReplaceMain(int argc, const char* const* argv, Console console);

} // namespace lvlsnd
