// The simulated machine's private state: open handles, drives, the file
// attributes the host cannot hold, and the armed faults.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/HostFiles.h"
#include "platform/sim/Journal.h"
#include "platform/sim/RegistryNode.h"
#include "platform/sim/ShortNames.h"
#include "platform/sim/SimMachine.h"

namespace uninst::sim {

// Windows error codes that only the simulated machine gives.
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInsufficientBuffer = 122;
constexpr long kErrorBadPathname = 161;
constexpr long kErrorOperationAborted = 995;
constexpr long kErrorBadKey = 1010;
constexpr long kErrorResourceTypeNotFound = 1813;
constexpr long kErrorResourceNameNotFound = 1814;

constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// Where a Windows path leads on the host. Every folder on the way was opened
// inside the one before it, never through a link.
struct Resolution {
  enum class Status { kFound, kFileMissing, kPathMissing };
  Status status = Status::kPathMissing;
  std::string hostPath;  // the entry's host path, which names it in the state
  char drive = 0;
  std::string relative;  // the entry's host path below its drive's folder
  UniqueFd folder;       // kFound, kFileMissing: the open folder holding the entry
  std::string name;      // the entry's name in `folder`; "." for a drive's root

  bool Found() const { return status == Status::kFound; }
  long Error() const;  // the Windows error for a path that was not found
};

struct SimMachine::State {
  struct KeyHandle {
    Registry::Node* node = nullptr;
    std::weak_ptr<char> life;
    std::uint32_t access = 0;
    std::string path;        // below HKEY_LOCAL_MACHINE, for fault matching
    std::string storedPath;  // the key's own path, as stored, links followed
  };
  struct OpenFile {
    std::string windowsPath;
    Resolution resolution;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    UniqueFd fd;
  };
  struct Drive {
    std::string folder;
    UniqueFd fd;
  };
  // The names of a host folder by their upper-cased form, kept while the
  // folder's modification time shows no change. `settled` is false when that
  // time was too recent to tell a later change from this state.
  struct FolderListing {
    struct timespec modified {};
    bool settled = false;
    std::map<std::string, std::set<std::string>> namesByFolded;
    // The folder's short names, which outlive its listings.
    ShortNameTable* shortNames = nullptr;
  };
  using FolderId = std::pair<dev_t, ino_t>;
  struct ArmedFault {
    Fault fault;
    int matched = 0;
  };

  std::map<char, Drive> drives;
  mutable std::map<FolderId, FolderListing> listings;
  mutable std::map<FolderId, ShortNameTable> shortNames;
  std::map<RegHandle, KeyHandle> keys;
  std::map<FileHandle, OpenFile> files;
  std::uintptr_t nextHandle = 0x1000;

  // By host path: what the host file system cannot store.
  std::map<std::string, FileTime> creationTimes;
  std::map<std::string, std::uint32_t> dosAttributes;  // where setxattr fails
  std::set<std::string> inUse;

  const MachineConfig* config = nullptr;  // the machine's, for its ANSI code page
  Journal journal;
  // A dry run: changes are journaled, never made on the host.
  bool hostUnchanged = false;
  // Where deleted files move to be put back later; unset: they are unlinked.
  UniqueFd keptDeletions;
  std::function<void(const TraceEntry&)> trace;  // observes the trace, on request
  std::vector<ArmedFault> faults;
  std::map<std::uint64_t, long> failingCalls;
  long lastError = 0;

  std::uintptr_t NewHandle();
  // The bias of the machine's time zone on its clock now, in minutes.
  std::int64_t BiasNow() const;
  // What a registry call answers for a handle that is not open: Windows 98
  // knows no such key, NT no such handle.
  long BadHandleError() const {
    return config->family == WindowsFamily::k9x ? kErrorBadKey : kErrorInvalidHandle;
  }
  // Path below HKEY_LOCAL_MACHINE of `path` opened relative to `root`.
  std::string KeyPathOf(RegHandle root, const char* path, const NameRules& names) const;
  // The key behind a handle: 0, or 6 (not open) or 1018 (deleted since).
  long KeyOf(Registry& registry, RegHandle key, Registry::Node** node, std::uint32_t* access,
             std::string* storedPath = nullptr) const;
  long ResolveKey(Registry& registry, RegHandle root, const char* path, Registry::Node** node,
                  std::string* storedPath) const;
  // Whether a registry link stands on the way from `root` along `path`.
  bool MeetsLink(Registry& registry, RegHandle root, const char* path) const;

  // Files.
  Resolution Resolve(const std::string& windowsPath, bool createDirectories) const;
  std::optional<std::string> FindFolded(int folder, const std::string& name) const;
  FolderListing& ListingOf(int folder) const;
  const ShortNameTable& ShortNamesOf(const FolderListing& listing) const;
  // Deletes the file `fd` found at `resolution`, keeping the folder's
  // listing, and journals it.
  bool RemoveEntry(const Resolution& resolution, int fd);
  // Writes attributes or times (`times`, for futimens) of the file `fd` found
  // at `resolution` and journals them.
  void ApplyAttributes(const Resolution& resolution, int fd, const struct stat& status,
                       std::uint32_t attributes, bool bySetup);
  bool ApplyTimes(const Resolution& resolution, int fd, const struct timespec times[2],
                  bool bySetup);
  // The journal entry of a change to the file at `resolution`, with what the
  // file `fd` holds now.
  JournalEntry FileEntry(JournalEntry::Kind kind, const Resolution& resolution, int fd,
                         bool bySetup) const;
  void Record(JournalEntry entry, const Resolution& resolution);
  const FileOverlay* OverlayOf(const std::string& hostPath) const;
  // Opens the entry of an existing Windows path (see OpenEntryAt); 0 or the
  // Windows error.
  long OpenExisting(const std::string& windowsPath, Resolution* resolution, UniqueFd* fd,
                    struct stat* status) const;
  std::uint32_t AttributesOf(int fd, const struct stat& status, const std::string& hostPath) const;
  // Another open, or a program using the file, conflicts with this one.
  bool SharingConflict(const std::string& hostPath, std::uint32_t access,
                       std::uint32_t share) const;
  bool IsOpenOrInUse(const std::string& hostPath) const;
  bool IsDriveRoot(const std::string& hostPath) const;
  // The Windows path a file handle was opened with; "" for no open file.
  std::string FilePathOf(FileHandle file) const;
  // The open file, or nullptr (last error 6).
  OpenFile* FileOf(FileHandle file);
  void ForgetFile(const std::string& hostPath);
  FindData StatusOf(int fd, const struct stat& status, const std::string& hostPath) const;
  // The bytes of a file's version resource as a machine of `family` reads
  // them; false with the Windows error (which may be 0) when there are none.
  bool ReadVersionResource(const std::string& windowsPath, WindowsFamily family,
                           std::vector<std::uint8_t>* resource, long* error) const;
};

}  // namespace uninst::sim
