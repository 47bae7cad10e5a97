// The command-line switches /D, /E, /J and /V.
#pragma once

namespace uninst {

class Platform;

struct Switches {
  bool languageGiven = false;
  bool japanese = false;
  bool directoryGiven = false;
  // Points into the parsed command line; valid while it lives.
  char* directory = nullptr;
  bool confirm = false;
};

// Upper-cases `commandLine` in place (single-byte ASCII letters only,
// character by character of the ANSI code page), splits it at spaces in
// place and reads the switches; a later switch overrides an earlier one.
Switches ReadSwitches(char* commandLine, Platform& platform);

}  // namespace uninst
