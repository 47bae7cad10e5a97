#include "platform/sim/Journal.h"

#include <algorithm>

namespace uninst::sim {

std::string JournalEntry::WindowsPath() const {
  std::string path = std::string(1, drive) + ":\\" + hostRelative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

void JournalEntry::ForEachDeletedKey(
    const std::function<void(const std::string& path, const ValueList& values)>& visit) const {
  const std::size_t base = keyPath.size() - (keys.empty() ? 0 : keys.front().name.size());
  std::string path = keyPath.substr(0, base);
  // The length of the path of each key on the way down to the current one.
  std::vector<std::size_t> lengths;
  for (const DeletedKey& key : keys) {
    lengths.resize(key.depth);
    path.resize(key.depth == 0 ? base : lengths.back());
    if (key.depth > 0) path += '\\';
    path += key.name;
    lengths.push_back(path.size());
    visit(path, key.values);
  }
}

void Journal::Add(JournalEntry entry, const std::string& hostPath) {
  if (!hostPath.empty()) {
    FileOverlay& overlay = m_overlays[hostPath];
    switch (entry.kind) {
      case JournalEntry::Kind::kFileDeleted:
        overlay.deleted = true;
        break;
      case JournalEntry::Kind::kAttributesWritten:
        overlay.attributes = entry.attributes;
        break;
      case JournalEntry::Kind::kTimesWritten:
        if (entry.accessed.tv_nsec != UTIME_OMIT) overlay.accessed = entry.accessed;
        if (entry.modified.tv_nsec != UTIME_OMIT) overlay.modified = entry.modified;
        break;
      default:
        break;
    }
  }
  m_entries.push_back(std::move(entry));
  if (m_observer) m_observer(m_entries.back(), m_entries.size() - 1);
}

const FileOverlay* Journal::OverlayOf(const std::string& hostPath) const {
  const auto found = m_overlays.find(hostPath);
  return found == m_overlays.end() ? nullptr : &found->second;
}

}  // namespace uninst::sim
