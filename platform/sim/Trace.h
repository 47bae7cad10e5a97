// The reads, removals and answers the program asked of the simulated machine,
// in order, kept on request: what led to each change of a run is read from
// them, the changes themselves from the journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace uninst::sim {

struct TraceEntry {
  enum class Kind {
    kKeyOpened,
    kSubKeyNamed,
    kValueRead,
    kKeyDeleted,
    kValueDeleted,
    kFileOpened,
    kFileDeleted,
    kBoxAnswered,
  };
  static constexpr std::size_t kNoJournalEntry = static_cast<std::size_t>(-1);

  Kind kind = Kind::kKeyOpened;
  // Registry calls: the key below HKEY_LOCAL_MACHINE as the program named it.
  std::string keyPath;
  // kSubKeyNamed: the subkey (its stored name, also where the program could
  // not read it); value calls: the value; file calls: the Windows path.
  std::string name;
  // The call's Windows error, 0 for success; kBoxAnswered: the answer.
  long result = 0;
  // kKeyOpened that failed: a registry link on the way, which is never followed.
  bool atLink = false;
  // kValueRead that succeeded: the type and the bytes handed back.
  std::uint32_t type = 0;
  std::string data;
  // A deletion that succeeded: the number of its journal entry.
  std::size_t journalEntry = kNoJournalEntry;
};

}  // namespace uninst::sim
