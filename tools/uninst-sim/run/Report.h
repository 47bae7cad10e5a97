// What a run changed on the machine, as text for the terminal and as JSON.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/regfile/RegFile.h"
#include "tools/uninst-sim/run/Explain.h"

namespace uninst::tool {

// The version of the JSON report's layout (report.schema.json); the report
// before it had none.
constexpr int kReportSchemaVersion = 2;

struct DeletedValue {
  std::string key;  // with its root
  std::string name;
  ValueData data;
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
  std::vector<std::string> keysDeleted;     // with their root
  std::vector<DeletedValue> valuesDeleted;  // of keys that remain
  std::vector<std::string> filesDeleted;
  // Files whose attributes or times the run wrote and which stayed.
  std::vector<std::string> filesChanged;
  bool restartRequested = false;
  std::string undoRecord;  // where the run's undo record is, below the folder, or ""
  // What led to each change, and with --explain=all what was kept and why.
  std::vector<Explanation> explanations;

  bool RegistryChanged() const { return !keysDeleted.empty() || !valuesDeleted.empty(); }
  bool RemovedSomething() const { return RegistryChanged() || !filesDeleted.empty(); }
  bool Changed() const {
    return RegistryChanged() || !filesDeleted.empty() || !filesChanged.empty();
  }
};

// Fills the changes of `report` from the journal of the run, in UTF-8 from
// the machine's ANSI code page; the changes the machine's settings made are
// no part of it.
void ReadJournal(const sim::Journal& journal, std::uint32_t codePage, RunReport* report);

// "MB_YESNO|MB_ICONQUESTION": the names of a message box style's flags.
std::string StyleNames(std::uint32_t style);

std::string FormatSummary(const RunReport& report);
std::string FormatJson(const RunReport& report);

// Text that is safe to print at a terminal: control characters, bytes that
// are not UTF-8 and C1 controls are shown as \xNN.
std::string TerminalText(const std::string& text);

}  // namespace uninst::tool
