// A machine on which the drive's package is fully installed, next to
// registrations and files of other devices that an uninstall must leave alone.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/sim/SimMachine.h"

namespace uninst::test {

struct FullInstall {
  // Keys a full uninstall deletes, each with everything below it.
  std::vector<std::string> removedKeys;
  // Neighbouring keys that must survive.
  std::vector<std::string> keptKeys;
  // (key, value name) pairs.
  std::vector<std::pair<std::string, std::string>> removedValues;
  std::vector<std::pair<std::string, std::string>> keptValues;
  // The drive's files, in the order a full run with /V asks about them.
  std::vector<std::string> removedFiles;
  std::vector<std::string> keptFiles;
};

// Seeds the registry and the files below C:\WINDOWS of `machine`, whose drive C
// must already be mapped, and returns what a full uninstall should change. The
// machine gets ANSI code page 932; registry links below the drive's instance,
// device and class keys lead into another program's keys.
FullInstall SeedFullInstall(sim::SimMachine& machine);

}  // namespace uninst::test
