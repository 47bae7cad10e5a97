// The one record of what the simulated machine changed, made as each change
// happens, with what stood there before. What a run reports, what a dry run
// shows the program and what an undo puts back are all read from it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/Registry.h"
#include "platform/sim/RegistryNode.h"

namespace uninst::sim {

// What a host file held before a change, enough to put it back exactly.
struct HostFileState {
  mode_t mode = 0;
  std::optional<std::string> dosAttribute;  // the extended attribute's bytes
  struct timespec accessed {};
  struct timespec modified {};
};

// One key of a deleted subtree, parents first: its depth below the deleted
// key (0 for that key) and its name, so that a tree of any depth costs its
// names only, never a full path for each key.
struct DeletedKey {
  std::uint32_t depth = 0;
  std::string name;
  ValueList values;
};

struct JournalEntry {
  enum class Kind { kKeyDeleted, kValueDeleted, kFileDeleted, kAttributesWritten, kTimesWritten };
  Kind kind = Kind::kKeyDeleted;
  // Made by applying the machine's settings rather than by the program.
  bool bySetup = false;

  // Registry changes: the key's path below HKEY_LOCAL_MACHINE, as stored.
  std::string keyPath;
  // kKeyDeleted: the key and every key below it, parents first.
  std::vector<DeletedKey> keys;
  // kValueDeleted: the value as it was, alone in its list.
  ValueList value;

  // File changes: the drive and the entry's host path below its folder
  // ("WINDOWS/INF/X.INF"), and what the entry held before.
  char drive = 'C';
  std::string hostRelative;
  HostFileState before;
  // kFileDeleted: the times of the folder that held the file, before.
  HostFileState folderBefore;
  // kAttributesWritten: the attributes written; kTimesWritten: the times
  // written (UTIME_OMIT where one was left alone).
  std::uint32_t attributes = 0;
  struct timespec accessed {};
  struct timespec modified {};

  bool IsFileChange() const { return kind >= Kind::kFileDeleted; }
  // kKeyDeleted: each key of the subtree with its path below
  // HKEY_LOCAL_MACHINE, parents first.
  void ForEachDeletedKey(
      const std::function<void(const std::string& path, const ValueList& values)>& visit) const;
  // "C:\WINDOWS\INF\X.INF", in the host's names.
  std::string WindowsPath() const;
};

// How a file looks to the program after the changes journaled but never
// made on the host (a dry run).
struct FileOverlay {
  bool deleted = false;
  std::optional<std::uint32_t> attributes;
  std::optional<struct timespec> accessed;
  std::optional<struct timespec> modified;
};

class Journal {
 public:
  // Told of each entry, with its number, as it is added.
  using Observer = std::function<void(const JournalEntry& entry, std::size_t number)>;

  const std::vector<JournalEntry>& Entries() const { return m_entries; }
  void Observe(Observer observer) { m_observer = std::move(observer); }
  // `hostPath` names the file on the host for the overlay.
  void Add(JournalEntry entry, const std::string& hostPath = "");
  // Takes back the last entry of a real run, whose change could not be made
  // after all; an observer was told of it already.
  void Withdraw() { m_entries.pop_back(); }
  // The changes that stand in for the host's state in a dry run; nullptr
  // where nothing was changed.
  const FileOverlay* OverlayOf(const std::string& hostPath) const;

 private:
  std::vector<JournalEntry> m_entries;
  std::map<std::string, FileOverlay> m_overlays;
  Observer m_observer;
};

}  // namespace uninst::sim
