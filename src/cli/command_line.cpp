#include "command_line.hpp"

namespace lvlsnd {

namespace {

Problem usageProblem(const std::string& text) {
  return {"", text, ""};
}

// Reads the value option at argv[k], and its value: the next argument for the option alone
// (k moves past it), or attached, after "=" for a long option and right after the letter for
// a short one ("--rate=HZ", "-oOUT").
void readValueOption(CommandLine& line, std::initializer_list<std::string_view> valueOptions,
                     int argc, const char* const* argv, int& k) {
  std::string_view argument = argv[k];
  std::size_t option = 0;
  for (auto name : valueOptions) {
    auto attached = std::string(name) + (name.starts_with("--") ? "=" : "");
    if (argument == name) {
      if (k + 1 >= argc) {
        line.problem = usageProblem(std::string(name) + " needs a value");
        return;
      }
      line.values[option] = argv[++k];
      return;
    }
    if (argument.starts_with(attached)) {
      line.values[option] = argv[k] + attached.size();
      return;
    }
    ++option;
  }
  line.problem = usageProblem("unknown option '" + std::string(argument) + "'");
}

// Sets the flag `argument` names; false when it names none.
bool readFlagOption(CommandLine& line, std::initializer_list<std::string_view> flagOptions,
                    std::string_view argument) {
  std::size_t flag = 0;
  for (auto name : flagOptions) {
    if (argument == name) {
      line.flags[flag] = true;
      return true;
    }
    ++flag;
  }
  return false;
}

} // namespace

CommandLine readCommandLine(int argc, const char* const* argv,
                            std::initializer_list<std::string_view> valueOptions,
                            std::initializer_list<std::string_view> flagOptions) {
  CommandLine line;
  line.values.resize(valueOptions.size());
  line.flags.resize(flagOptions.size());
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
    } else if (!readFlagOption(line, flagOptions, argument)) {
      readValueOption(line, valueOptions, argc, argv, k);
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

void noteOperandProblem(CommandLine& line, const char* problem) {
  if (!line.problem && !line.help && !line.version) {
    line.problem = usageProblem(problem);
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
