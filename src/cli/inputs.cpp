#include "inputs.hpp"

namespace lvlsnd {

RunInput runInput(const std::string& name) {
  return {name, identityOf(name.c_str())};
}

InputMatch findInput(const FileIdentity& found, const std::string& path,
                     std::span<const RunInput> inputs) {
  if (found.kind == IdentityKind::none) {
    return {inputs.size(), std::nullopt};
  }
  const auto& output = found;
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    switch (compareFiles(output, inputs[k].identity)) {
    case Sameness::same:
      return {k, std::nullopt};
    case Sameness::different:
      break;
    case Sameness::unknown: {
      bool outputUnknown = output.kind == IdentityKind::unknown;
      return {k, systemProblem(outputUnknown ? path : inputs[k].name, "Cannot read",
                               outputUnknown ? output.error : inputs[k].identity.error)};
    }
    }
  }
  return {inputs.size(), std::nullopt};
}

} // namespace lvlsnd
