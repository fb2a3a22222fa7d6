// lvlsnd-replace: puts a sound from a WAV file into an effect of a level file.
#include "program.hpp"
#include "replace_tool.hpp"

LVLSND_CONSOLE_MAIN(runReplaceTool, "lvlsnd-replace")
