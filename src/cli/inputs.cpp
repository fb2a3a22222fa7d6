#include "inputs.hpp"

namespace lvlsnd {

RunInput runInput(const std::string& name) {
  return {name, identityOf(name.c_str())};
}

InputMatch findInput(const std::string& path, std::span<const RunInput> inputs) {
  auto output = identityOf(path.c_str());
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
