// How the programs speak: where they print, how they complain, and their exit statuses.
#pragma once

#include "problem.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

namespace lvlsnd {

// Where a program prints: progress lines to `out`, complaints to `err`.
struct Console {
  std::FILE* out;
  std::FILE* err;
};

inline constexpr int exitDone = 0;      // everything asked was done
inline constexpr int exitComplaint = 1; // at least one complaint, each on standard error
inline constexpr int exitUsage = 2;     // the command line was wrong

// A count with its noun, in the singular for one: "1 group", "3 groups".
std::string counted(std::uint64_t count, const std::string& noun);

// The one place a problem is printed: one line on standard error, "<name>: <text> (<reason>)".
// Standard output is flushed first, so that a log of both reads in the order things happened.
void complain(Console console, const Problem& problem);

} // namespace lvlsnd
