// What a run changed on the machine, as text for the terminal and as JSON.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/regfile/RegFile.h"

namespace uninst::tool {

// The paths of a registry's keys with the names of their values, in
// enumeration order, packed into one block: what a run's deletions are found
// from, at a fraction of what a copy of a whole machine's registry costs.
class RegistryNames {
 public:
  using Visitor =
      std::function<void(std::string_view path, const std::vector<std::string_view>& names)>;

  explicit RegistryNames(const sim::Registry& registry);
  void ForEach(const Visitor& visit) const;

 private:
  // Each key: the path's length and bytes, the number of values, and each
  // value name's length and bytes; lengths as 32-bit numbers.
  std::string m_block;
};

struct MachineState {
  RegistryNames keys;
  std::vector<std::string> files;  // Windows paths
};

struct DeletedValue {
  std::string key;
  std::string name;
};

// What became of registry.reg at the end of a run.
enum class RegistrySave { kNotNeeded, kSaved, kFailed, kDryRun };

struct RunReport {
  std::string commandLine;
  bool dryRun = false;
  RegistrySave save = RegistrySave::kNotNeeded;
  std::string saveError;      // kFailed: why
  std::string interruptedBy;  // the signal that stopped the run ("SIGINT"), or ""
  std::vector<sim::MessageBoxRecord> boxes;
  std::vector<std::string> answerWarnings;
  std::vector<std::string> keysDeleted;
  std::vector<DeletedValue> valuesDeleted;  // of keys that remain
  std::vector<std::string> filesDeleted;
  bool restartRequested = false;

  bool RegistryChanged() const { return !keysDeleted.empty() || !valuesDeleted.empty(); }
};

// Fills the deletions of `report`: what the state before the run holds and
// the registry and the files after it no longer do.
void CompareStates(const MachineState& before, const sim::Registry& registryAfter,
                   const std::vector<std::string>& filesAfter, RunReport* report);

std::string FormatSummary(const RunReport& report);
std::string FormatJson(const RunReport& report);

// Text that is safe to print at a terminal: control characters, bytes that
// are not UTF-8 and C1 controls are shown as \xNN.
std::string TerminalText(const std::string& text);

}  // namespace uninst::tool
