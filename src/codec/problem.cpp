#include "problem.hpp"

#include "files.hpp"

#include <cerrno>

namespace lvlsnd {

Problem systemProblem(const std::string& name, const std::string& text, int error) {
  return {name, text, reasonOf(error), true};
}

Problem sizeProblem(const std::string& name, int error) {
  return systemProblem(name, error == ESPIPE ? "Cannot open" : "Cannot read", error);
}

std::string describe(const Problem& problem) {
  return problem.reason.empty() ? problem.text : problem.text + " (" + problem.reason + ")";
}

} // namespace lvlsnd
