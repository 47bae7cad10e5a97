// Times the loading of a machine folder as uninst-sim loads it before a run,
// registry.reg above all: the part of a run that a whole run's time hides.
// With --save, times too the writing back of registry.reg as a run that
// removed nothing writes it: every line looked at, every byte written.
//
//     load-machine FOLDER [--save]     prints the seconds taken by each
#include <chrono>
#include <cstdio>
#include <cstring>

#include "tools/uninst-sim/machine/MachineFolder.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const bool save = argc == 3 && std::strcmp(argv[2], "--save") == 0;
  if (argc != 2 && !save) {
    std::fprintf(stderr, "usage: load-machine FOLDER [--save]\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  const uninst::tool::Outcome<uninst::tool::MachineFolder> folder =
      uninst::tool::ReadMachineFolder(argv[1]);
  const double load = SecondsSince(start);
  if (!folder.Ok()) {
    std::fprintf(stderr, "load-machine: %s\n", folder.Error().c_str());
    return 1;
  }
  std::printf("%.3f\n", load);
  if (!save) return 0;
  start = std::chrono::steady_clock::now();
  const std::string error = uninst::tool::SaveRegistry(
      folder.Value(), folder.Value().registry.registry, uninst::sim::Journal());
  if (!error.empty()) {
    std::fprintf(stderr, "load-machine: %s\n", error.c_str());
    return 1;
  }
  std::printf("%.3f\n", SecondsSince(start));
  return 0;
}
