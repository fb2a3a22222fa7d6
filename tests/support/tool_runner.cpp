#include "tool_runner.hpp"

#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

std::string shellQuoted(const std::string& text) {
  std::string quoted(1, '\'');
  for (char c : text) {
    if (c == '\'') {
      quoted.append("'\\''");
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

std::string environmentOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string readText(const fs::path& path, bool foldCrLf) {
  auto bytes = readFile(path.string().c_str());
  std::string text(bytes.begin(), bytes.end());
  if (foldCrLf) {
    std::string folded;
    for (std::size_t k = 0; k < text.size(); ++k) {
      if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) {
        folded += text[k];
      }
    }
    text = folded;
  }
  return text;
}

} // namespace

Scratch makeScratch() {
  auto pattern = (fs::temp_directory_path() / "lvlsnd-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a scratch folder");
  }
  Scratch scratch{pattern, fs::path(pattern) / "work"};
  fs::create_directory(scratch.work);
  return scratch;
}

void removeScratch(const Scratch& scratch) {
  std::error_code ignored;
  fs::remove_all(scratch.root, ignored);
}

bool haveStrace() {
  return !runningWindowsBuild() && std::system("strace -V >/dev/null 2>&1") == 0;
}

bool runningWindowsBuild() {
  return environmentOr("LVLSND_EXE", "").ends_with(".exe");
}

std::string toolPath(const std::string& tool) {
  // The other tools sit beside the extractor, with its file name extension.
  fs::path extractor = environmentOr("LVLSND_EXE", LVLSND_TOOL_PATH);
  return (extractor.parent_path() / (tool + extractor.extension().string())).string();
}

ToolRun runLvlsnd(const Scratch& scratch, const std::vector<std::string>& arguments) {
  return runTool(scratch, "lvlsnd", arguments);
}

ToolRun runTool(const Scratch& scratch, const std::string& tool,
                const std::vector<std::string>& arguments) {
  return runToolUnder(scratch, environmentOr("LVLSND_LAUNCHER", ""), tool, arguments);
}

ToolRun runTraced(const Scratch& scratch, const std::string& straceOptions, const std::string& tool,
                  const std::vector<std::string>& arguments) {
  // LeakSanitizer stops a sanitized build that runs under ptrace.
  return runToolUnder(scratch,
                      "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null " + straceOptions, tool,
                      arguments);
}

ToolRun runToolUnder(const Scratch& scratch, const std::string& launcher, const std::string& tool,
                     const std::vector<std::string>& arguments) {
  auto executable = toolPath(tool);
  // Each test has an encoding cache of its own, beside its work folder.
  std::vector<std::string> words = {"cd",
                                    shellQuoted(scratch.work.string()),
                                    "&&",
                                    "export",
                                    "XDG_CACHE_HOME=" +
                                        shellQuoted((scratch.root / "cache").string()),
                                    "&&"};
  if (!launcher.empty()) {
    words.push_back(launcher);
  }
  words.push_back(shellQuoted(executable));
  for (const auto& argument : arguments) {
    words.push_back(shellQuoted(argument));
  }
  words.insert(words.end(), {"< /dev/null >", shellQuoted((scratch.root / "stdout").string()), "2>",
                             shellQuoted((scratch.root / "stderr").string())});
  std::string command;
  for (const auto& word : words) {
    command.append(word).push_back(' ');
  }

  ToolRun run;
  int result = std::system(command.c_str());
  run.status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  run.windowsBuild = executable.ends_with(".exe");
  run.rawOut = readText(scratch.root / "stdout", false);
  run.out = readText(scratch.root / "stdout", run.windowsBuild);
  run.err = readText(scratch.root / "stderr", run.windowsBuild);
  for (const auto& item : fs::directory_iterator(scratch.work)) {
    if (!item.is_regular_file()) {
      continue;
    }
    run.files[item.path().filename().string()] = readFile(item.path().string().c_str());
  }
  return run;
}
