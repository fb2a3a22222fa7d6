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

// Which of `inputs` the output `found` (what the output's name `path` held when its update
// looked it up) is: its index, or `inputs.size()` when it is none of them, as a name that held
// nothing is; or, when the system cannot tell for the output or for an input, the problem
// "Cannot read (<reason>)" naming that file, which keeps the output from being written.
struct InputMatch {
  std::size_t index = 0;
  Outcome problem;
};
InputMatch findInput(const FileIdentity& found, const std::string& path,
                     std::span<const RunInput> inputs);

} // namespace lvlsnd
