// uninst-sim: runs the uninstaller over a simulated machine kept in a folder.
#include <unistd.h>

#include <iostream>

#include "tools/uninst-sim/run/Tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status =
      uninst::tool::RunTool(args, {std::cin, ::isatty(0) == 1, std::cout, std::cerr});
  uninst::tool::HoldStopSignals();
  return status;
}
