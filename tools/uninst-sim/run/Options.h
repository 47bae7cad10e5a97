// The command line of uninst-sim.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/uninst-sim/Outcome.h"

namespace uninst::tool {

// What --explain asks for: why each thing was removed, and with "all" also
// why each thing looked at was kept.
enum class ExplainLevel { kNone, kRemoved, kAll };

struct Options {
  bool help = false;
  bool version = false;
  std::string machineDirectory;
  // Message-box answers (kIdYes, ...) in the order the boxes come.
  std::optional<std::vector<int>> answers;
  std::string reportPath;
  bool dryRun = false;
  bool diff = false;
  // Standard output only for the boxes asked at the terminal, what --diff
  // and --explain ask for and a report written there.
  bool quiet = false;
  // Every warning refuses the run before anything changes.
  bool strict = false;
  ExplainLevel explain = ExplainLevel::kNone;
  // Put back what the last run changed instead of running.
  bool undo = false;
  // What follows "--", handed to the program.
  std::vector<std::string> programSwitches;
};

// `args` excludes the tool's own name.
Outcome<Options> ParseOptions(const std::vector<std::string>& args);
Outcome<std::vector<int>> ParseAnswers(const std::string& list);

// The process command line the program sees: "UNINST.EXE" and the switches.
std::string ProgramCommandLine(const Options& options);

const char* HelpText();
// "uninst-sim" and the version of the program it runs.
const char* VersionText();

}  // namespace uninst::tool
