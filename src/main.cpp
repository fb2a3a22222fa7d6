#include "run.hpp"

int main(int argc, char** argv) {
  return runTool(argc, argv, {stdout, stderr});
}
