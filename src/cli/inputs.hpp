// The files a run reads, which no file it writes may be, whatever name or link leads there.
#pragma once

#include "files.hpp"
#include "problem.hpp"

#include <cstddef>
#include <span>
#include <string>

namespace lvlsnd {

struct RunInput {
  std::string name; // as typed
  FileIdentity identity;
};

RunInput runInput(const std::string& name);

// Which of `inputs` the output `path` leads to: its index, or `inputs.size()` when it leads to
// none; or, when the system cannot tell for the output or for an input, the problem "Cannot read
// (<reason>)" naming that file, which keeps the output from being written.
struct InputMatch {
  std::size_t index = 0;
  Outcome problem;
};
InputMatch findInput(const std::string& path, std::span<const RunInput> inputs);

} // namespace lvlsnd
