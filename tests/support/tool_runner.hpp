// Runs the real lvlsnd executable in a scratch working directory and collects everything it
// produced: exit status, standard output, standard error and the files it left behind.
#pragma once

#include "level_builder.hpp"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// A scratch folder for one test: level files go in `root`, the tool runs in `root/work`, so
// the files in `work` are exactly what the tool wrote.
struct Scratch {
  std::filesystem::path root;
  std::filesystem::path work;
};

Scratch makeScratch();
void removeScratch(const Scratch& scratch);

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
  std::string rawOut; // standard output before CR LF folding
  bool windowsBuild = false;
  std::map<std::string, Bytes> files; // every regular file in the working directory, by name
};

// Runs `tool` ("lvlsnd", "lvlsnd-wav" or "lvlsnd-replace") with `arguments` in
// `scratch.work`. The tools are the ones this build made, or when LVLSND_EXE is set (to the
// path of lvlsnd.exe, say) the ones beside it, run through LVLSND_LAUNCHER (such as wine64)
// when that is set too. Output of a Windows build has its CR LF folded to LF.
ToolRun runTool(const Scratch& scratch, const std::string& tool,
                const std::vector<std::string>& arguments);
ToolRun runLvlsnd(const Scratch& scratch, const std::vector<std::string>& arguments);
// The same under strace with `straceOptions` ("-e inject=write:signal=SIGINT:when=2", say), for
// a native build where strace is installed (haveStrace).
ToolRun runTraced(const Scratch& scratch, const std::string& straceOptions, const std::string& tool,
                  const std::vector<std::string>& arguments);
// The same run through `launcher` (words before the program's path; none when empty).
ToolRun runToolUnder(const Scratch& scratch, const std::string& launcher, const std::string& tool,
                     const std::vector<std::string>& arguments);
bool haveStrace();
std::string toolPath(const std::string& tool);
bool runningWindowsBuild();
