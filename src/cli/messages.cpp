#include "messages.hpp"

namespace lvlsnd {

std::string counted(std::uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void complain(Console console, const Problem& problem) {
  std::fflush(console.out);
  std::fprintf(console.err, "%s: %s\n", problem.name.c_str(), describe(problem).c_str());
}

} // namespace lvlsnd
