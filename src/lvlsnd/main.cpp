// lvlsnd: extracts the sound effects of a level file into effect files.
#include "console.hpp"
#include "run.hpp"

LVLSND_CONSOLE_MAIN(lvlsnd::lvlsndMain, "lvlsnd")
