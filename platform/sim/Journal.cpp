#include "platform/sim/Journal.h"

#include <algorithm>

namespace uninst::sim {

std::string JournalEntry::WindowsPath() const {
  std::string path = std::string(1, drive) + ":\\" + hostRelative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
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
