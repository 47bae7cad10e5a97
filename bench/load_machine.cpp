// Times the loading of a machine folder as uninst-sim loads it before a run,
// registry.reg above all: the part of a run that a whole run's time hides.
//
//     load-machine FOLDER     prints the seconds taken
#include <chrono>
#include <cstdio>

#include "tools/uninst-sim/machine/MachineFolder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: load-machine FOLDER\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const uninst::tool::Outcome<uninst::tool::MachineFolder> folder =
      uninst::tool::ReadMachineFolder(argv[1]);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  if (!folder.Ok()) {
    std::fprintf(stderr, "load-machine: %s\n", folder.Error().c_str());
    return 1;
  }
  std::printf("%.3f\n", seconds.count());
  return 0;
}
