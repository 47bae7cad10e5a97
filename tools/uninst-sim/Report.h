// What a run changed on the machine, as text for the terminal and as JSON.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/RegFile.h"

namespace uninst::tool {

struct MachineState {
  std::vector<RegKeyEntry> keys;
  std::vector<std::string> files;  // Windows paths
};

struct DeletedValue {
  std::string key;
  std::string name;
};

struct RunReport {
  std::string commandLine;
  bool dryRun = false;
  std::vector<sim::MessageBoxRecord> boxes;
  std::vector<std::string> answerWarnings;
  std::vector<std::string> keysDeleted;
  std::vector<DeletedValue> valuesDeleted;  // of keys that remain
  std::vector<std::string> filesDeleted;
  bool restartRequested = false;

  bool RegistryChanged() const { return !keysDeleted.empty() || !valuesDeleted.empty(); }
};

// Fills the deletions of `report` from the states before and after the run.
void CompareStates(const MachineState& before, const MachineState& after, RunReport* report);

std::string FormatSummary(const RunReport& report);
std::string FormatJson(const RunReport& report);

}  // namespace uninst::tool
