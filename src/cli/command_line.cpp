#include "command_line.hpp"

namespace lvlsnd {

Problem usageProblem(const std::string& text) {
  return {"", text, ""};
}

namespace {

// The option of the table that `argument` names, alone or with its value attached (after "="
// for a long name, right after the letter for a short one: "--rate=HZ", "-oOUT"); null for none.
// `attached` is then where that value starts, or null.
const Option* optionNamed(std::span<const Option> options, std::string_view argument,
                          const char*& attached) {
  attached = nullptr;
  for (const auto& option : options) {
    for (auto name : option.names) {
      if (name.empty()) {
        continue;
      }
      if (argument == name) {
        return &option;
      }
      auto prefix = std::string(name) + (name.starts_with("--") ? "=" : "");
      if (option.value != nullptr && argument.starts_with(prefix)) {
        attached = argument.data() + prefix.size();
        return &option;
      }
    }
  }
  return nullptr;
}

// Reads the option at argv[k] into its field: a flag, or a value, attached or the next argument
// (k moves past it).
void readOption(CommandLine& line, std::span<const Option> options, int argc,
                const char* const* argv, int& k) {
  std::string_view argument = argv[k];
  const char* attached = nullptr;
  const auto* option = optionNamed(options, argument, attached);
  if (option == nullptr) {
    line.problem = usageProblem("unknown option '" + std::string(argument) + "'");
  } else if (option->value == nullptr) {
    *option->flag = true;
  } else if (attached != nullptr) {
    *option->value = attached;
  } else if (k + 1 < argc) {
    *option->value = argv[++k];
  } else {
    line.problem = usageProblem(std::string(argument) + " needs a value");
  }
}

} // namespace

CommandLine readCommandLine(int argc, const char* const* argv, std::span<const Option> options) {
  CommandLine line;
  bool optionsEnded = false;
  for (int k = 1; k < argc && !line.problem && !line.help && !line.version; ++k) {
    std::string_view argument = argv[k];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      line.operands.push_back(argv[k]);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      line.help = true;
    } else if (argument == "--version") {
      line.version = true;
    } else {
      readOption(line, options, argc, argv, k);
    }
  }
  return line;
}

void readRateOption(CommandLine& line, const char* value, std::uint32_t& rate) {
  if (!line.problem && value != nullptr &&
      !(readDecimal(std::string_view(value), rate) && rate >= lowestEffectRate &&
        rate <= highestEffectRate)) {
    line.problem = usageProblem("the rate must be an integer from 1000 to 192000, not '" +
                                std::string(value) + "'");
  }
}

void noteOperandProblem(CommandLine& line, const Outcome& problem) {
  if (problem && !line.problem && !line.help && !line.version) {
    line.problem = problem;
  }
}

std::optional<int> answerCommandLine(const CommandLine& line, const char* program,
                                     const char* usage, Console console) {
  if (line.problem) {
    auto problem = *line.problem;
    problem.name = program;
    complain(console, problem);
    std::fputs(usage, console.err);
    return exitUsage;
  }
  if (line.help) {
    std::fputs(usage, console.out);
    return exitDone;
  }
  if (line.version) {
    std::fprintf(console.out, "%s %s\n", program, LVLSND_VERSION);
    return exitDone;
  }
  return std::nullopt;
}

} // namespace lvlsnd
