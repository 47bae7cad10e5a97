// The command-line switches /D, /E, /J and /V.
#pragma once

namespace uninst {

struct Switches {
  bool languageGiven = false;
  bool japanese = false;
  bool directoryGiven = false;
  // Points into the parsed command line; valid while it lives.
  char* directory = nullptr;
  bool confirm = false;
};

// Upper-cases `commandLine` in place (ASCII letters only), splits it at spaces
// in place and reads the switches; a later switch overrides an earlier one.
Switches ReadSwitches(char* commandLine);

}  // namespace uninst
