// lvlsnd: extracts the sound effects of a level file into effect files.
#include "program.hpp"
#include "run.hpp"

LVLSND_CONSOLE_MAIN(runTool, "lvlsnd")
