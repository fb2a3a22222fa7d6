#include "problem.hpp"

#include "files.hpp"

namespace lvlsnd {

Problem systemProblem(const std::string& name, const std::string& text, int error) {
  return {name, text, reasonOf(error), true};
}

std::string describe(const Problem& problem) {
  return problem.reason.empty() ? problem.text : problem.text + " (" + problem.reason + ")";
}

} // namespace lvlsnd
