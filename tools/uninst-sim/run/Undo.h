// The undo record a real run leaves in its machine folder, read from the
// run's journal, and the undo that puts the folder back as it was.
//
//   .uninst-sim-undo/N/       one record per run, the last run's the highest
//     files/K                 the file the run deleted as journal entry K
//     registry.reg            registry.reg as it was, when the run saved it
//     undo.reg                the deleted keys and values, for regedit
//     journal                 what to put back, one change a line
#pragma once

#include <cstdint>
#include <string>

#include "platform/sim/HostFiles.h"
#include "platform/sim/Journal.h"
#include "tools/uninst-sim/Outcome.h"
#include "tools/uninst-sim/machine/MachineFolder.h"
#include "tools/uninst-sim/regfile/RegFile.h"

namespace uninst::tool {

class UndoRecord {
 public:
  // Makes the next record of the machine folder.
  static Outcome<UndoRecord> Create(const MachineFolder& folder);

  int Fd() const { return m_record.Get(); }
  // Where the run's deleted files go.
  sim::UniqueFd FilesFolder() const;
  const std::string& Name() const { return m_name; }
  // Notes a change of a file in the record's journal as it happens, so that
  // a run killed midway can still be undone as far as it went.
  void Note(const sim::JournalEntry& entry, std::size_t number) const;
  // Ends the journal, flushed to disk, and writes undo.reg once the run has
  // ended; `saved` tells whether registry.reg was replaced (and the old one
  // kept here). "" on success.
  std::string Finish(const sim::Journal& journal, const MachineFolder& folder, bool saved) const;
  // Removes the record of a run that changed nothing, and gives the machine
  // folder back its times.
  void Discard(const MachineFolder& folder) const;

 private:
  // Appends to the journal, which a killed process leaves to the system to
  // write; false when that failed.
  bool Append(const std::string& text) const;

  sim::UniqueFd m_record;
  sim::UniqueFd m_journal;
  std::string m_name;  // ".uninst-sim-undo/N"
};

// The deleted keys and values in regedit's REGEDIT4 form, what importing them
// would give back: in the code page, or as UTF-8 behind its mark.
Outcome<std::string> UndoRegText(const sim::Journal& journal, std::uint32_t codePage,
                                 RegEncoding encoding = RegEncoding::kBytes);

// What the run changed, for people: the registry as a diff of registry.reg,
// then the files.
std::string FormatDiff(const sim::Journal& journal, std::uint32_t codePage);

// Puts back what the last run recorded changed; "" on success, else why it
// was refused (`started` false: nothing was changed) or where it stopped.
// `done` receives the files put back.
std::string UndoLastRun(const MachineFolder& folder, std::string* done, bool* started);

}  // namespace uninst::tool
