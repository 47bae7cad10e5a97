// Drives and files of the simulated machine: Windows paths resolved on host
// folders, with the sharing, read-only and attribute rules of Windows kept
// by the machine itself (the tests run as root, who may write anything).
// Every path is resolved folder by folder from the drive's open folder and
// every entry is used through a descriptor opened without following links, so
// nothing outside the drive folders is ever reached.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/sim/CodePage.h"
#include "platform/sim/SimState.h"

namespace uninst::sim {
namespace {

constexpr std::uint32_t kFileShareWrite = 0x00000002u;
constexpr std::uint32_t kDosAttributeMask =
    kFileAttributeHidden | kFileAttributeSystem | kFileAttributeArchive;
// A host file that carries no DOS attribute text is as Windows makes a file:
// archived, nothing else.
constexpr std::uint32_t kFreshAttributes = kFileAttributeArchive;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The drive letter of a Windows path and the rest of it. A path that starts
// with one separator is on drive C; UNC and relative paths lead nowhere.
bool SplitDrive(const std::string& path, char* letter, std::string* rest) {
  if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
    *letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    *rest = path.substr(2);
    return true;
  }
  if (!path.empty() && IsSeparator(path[0]) && !(path.size() > 1 && IsSeparator(path[1]))) {
    *letter = 'C';
    *rest = path;
    return true;
  }
  return false;
}

// A name as Windows takes it: one trailing period of a folder's name goes,
// and every trailing period and blank of the last name (so "OEM7.INF."
// names OEM7.INF). Names of periods alone are relative steps, never cut.
std::string WindowsName(std::string name, bool last) {
  if (name.find_first_not_of('.') == std::string::npos) return name;
  if (last) {
    name.erase(name.find_last_not_of(". ") + 1);
  } else if (name.back() == '.' && name[name.size() - 2] != '.') {
    name.pop_back();
  }
  return name;
}

// Components after Windows' lexical clean-up: "." dropped, ".." removes the
// component before it but never leaves the drive's root.
std::vector<std::string> NormalComponents(const std::string& rest) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string component = WindowsName(rest.substr(start, end - start), end == rest.size());
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  return components;
}

// File names in UTF-8 compare as Windows compares them, on both families:
// every letter upper-cased, not only ASCII ones.
std::string FoldName(const std::string& name) { return UpperUtf8(name); }

bool Earlier(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileTime FromTimespec(const struct timespec& time) {
  if (time.tv_sec < -kSecondsFrom1601To1970) return FileTime{};
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.tv_sec + kSecondsFrom1601To1970);
  return FileTime{seconds * kFileTimeTicksPerSecond +
                  static_cast<std::uint64_t>(time.tv_nsec) / 100};
}

// A time of 0 (or all ones) leaves the time unchanged, as in Windows.
struct timespec ToTimespec(const FileTime* time) {
  struct timespec result {};
  if (!time || time->ticks == 0 || time->ticks == ~std::uint64_t{0}) {
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  result.tv_sec = static_cast<time_t>(time->ticks / kFileTimeTicksPerSecond) -
                  static_cast<time_t>(kSecondsFrom1601To1970);
  result.tv_nsec = static_cast<long>(time->ticks % kFileTimeTicksPerSecond) * 100;
  return result;
}

std::optional<std::uint32_t> ReadDosAttributeText(int fd) {
  char text[32] = {};
  const ssize_t length = ::fgetxattr(fd, kDosAttributeName, text, sizeof(text) - 1);
  if (length <= 0) return std::nullopt;
  text[length] = '\0';
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 16));
}

bool WriteDosAttributeText(int fd, std::uint32_t attributes) {
  if (attributes == kFreshAttributes) {
    return ::fremovexattr(fd, kDosAttributeName) == 0 || errno == ENODATA;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof(text), "0x%x", attributes);
  return ::fsetxattr(fd, kDosAttributeName, text, static_cast<std::size_t>(length), 0) == 0;
}

bool IsReadOnly(const struct stat& status) { return (status.st_mode & 0222) == 0; }

HostFileState StateOf(int fd) {
  HostFileState state;
  struct stat status {};
  if (::fstat(fd, &status) == 0) {
    state.mode = status.st_mode & 07777;
    state.accessed = status.st_atim;
    state.modified = status.st_mtim;
  }
  char text[256];
  const ssize_t length = ::fgetxattr(fd, kDosAttributeName, text, sizeof text);
  if (length >= 0) state.dosAttribute = std::string(text, static_cast<std::size_t>(length));
  return state;
}

}  // namespace

long Resolution::Error() const {
  return status == Status::kFileMissing ? kErrorFileNotFound : kErrorPathNotFound;
}

Resolution SimMachine::State::Resolve(const std::string& windowsPath,
                                      bool createDirectories) const {
  Resolution result;
  char letter = 0;
  std::string rest;
  // The machine spells paths in its ANSI code page, the host names in UTF-8;
  // bytes that are no text of the code page are looked for as they are.
  const std::string path = CodePageToUtf8(config->ansiCodePage, windowsPath).value_or(windowsPath);
  if (!SplitDrive(path, &letter, &rest)) return result;
  const auto drive = drives.find(letter);
  if (drive == drives.end() || !drive->second.fd.Valid()) return result;
  const std::vector<std::string> components = NormalComponents(rest);
  int folder = drive->second.fd.Get();
  UniqueFd opened;
  std::string host = drive->second.folder;
  std::string relative;
  result.drive = letter;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    // Most paths are spelt as they are stored: the folder opens at once.
    UniqueFd next = OpenDirectoryAt(folder, components[i]);
    std::optional<std::string> entry = components[i];
    if (!next.Valid() && errno == ENOENT) {
      entry = FindFolded(folder, components[i]);
      if (!entry && createDirectories && ::mkdirat(folder, components[i].c_str(), 0755) == 0) {
        entry = components[i];
      }
      if (entry) next = OpenDirectoryAt(folder, *entry);
    }
    if (!next.Valid()) return result;
    host += "/" + *entry;
    relative += *entry + "/";
    opened = std::move(next);
    folder = opened.Get();
  }
  result.folder =
      opened.Valid() ? std::move(opened) : UniqueFd(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (!result.folder.Valid()) return result;
  result.name = ".";
  if (!components.empty()) {
    const std::string& last = components.back();
    struct stat status {};
    std::optional<std::string> entry = last;
    if (::fstatat(folder, last.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      entry = FindFolded(folder, last);
    }
    result.name = entry.value_or(last);
    host += "/" + result.name;
    result.relative = relative + result.name;
    const FileOverlay* overlay = OverlayOf(host);
    if (overlay && overlay->deleted) entry.reset();
    if (!entry) {
      result.status = Resolution::Status::kFileMissing;
      result.hostPath = host;
      return result;
    }
  }
  result.status = Resolution::Status::kFound;
  result.hostPath = host;
  return result;
}

// The entry of `folder` whose name equals `name` case-insensitively when no
// entry is spelt exactly so: the first in byte order, so that the choice is
// stable on a case-sensitive host. Else the entry whose short name it is.
std::optional<std::string> SimMachine::State::FindFolded(int folder,
                                                         const std::string& name) const {
  const FolderListing& listing = ListingOf(folder);
  const std::string folded = FoldName(name);
  const auto found = listing.namesByFolded.find(folded);
  if (found != listing.namesByFolded.end()) return *found->second.begin();
  if (name.find('~') == std::string::npos) return std::nullopt;
  std::optional<std::string> longName = ShortNamesOf(listing).LongNameOf(folded);
  // A long name gone since keeps its short name, naming nothing.
  if (longName) {
    const auto named = listing.namesByFolded.find(FoldName(*longName));
    if (named == listing.namesByFolded.end() || !named->second.count(*longName)) {
      longName.reset();
    }
  }
  return longName;
}

// A missing name would otherwise cost a listing of the whole folder. A
// change made after the listing gives the folder a later modification time
// than the listing saw, as long as that time was older than the clock when
// the listing began; a younger one is listed again.
SimMachine::State::FolderListing& SimMachine::State::ListingOf(int folder) const {
  struct timespec start {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &start);
  struct stat status {};
  if (::fstat(folder, &status) != 0) status = {};
  const FolderId id(status.st_dev, status.st_ino);
  FolderListing& listing = listings[id];
  if (listing.settled && SameTime(listing.modified, status.st_mtim)) return listing;
  listing = FolderListing{status.st_mtim, Earlier(status.st_mtim, start), {}, &shortNames[id]};
  std::vector<FolderEntry> entries;
  ListFolder(folder, &entries);
  for (FolderEntry& entry : entries) {
    listing.namesByFolded[FoldName(entry.name)].insert(std::move(entry.name));
  }
  return listing;
}

// Short names are given in the order of the names, to every name of the
// folder before the machine first deletes one of them, and to names that
// appeared since when a short name is looked for.
const ShortNameTable& SimMachine::State::ShortNamesOf(const FolderListing& listing) const {
  std::vector<std::string> names;
  for (const auto& [folded, spellings] : listing.namesByFolded) {
    names.insert(names.end(), spellings.begin(), spellings.end());
  }
  std::sort(names.begin(), names.end());
  listing.shortNames->Assign(names, [&listing](const std::string& upperName) {
    return listing.namesByFolded.count(upperName) != 0;
  });
  return *listing.shortNames;
}

// The machine's own removal keeps the listing, which it brought up to date
// just before, so that a run deleting files does not list a big folder again.
bool SimMachine::State::RemoveEntry(const Resolution& resolution, int fd) {
  JournalEntry entry = FileEntry(JournalEntry::Kind::kFileDeleted, resolution, fd, false);
  if (hostUnchanged) {
    Record(std::move(entry), resolution);
    return true;
  }
  const int folder = resolution.folder.Get();
  const std::string& name = resolution.name;
  entry.folderBefore = StateOf(folder);
  FolderListing& listing = ListingOf(folder);
  if (!listing.shortNames->Assigned()) ShortNamesOf(listing);
  // A kept file is named by its number in the journal, which hears of it
  // before it moves, so that a kill in between never strands it; a move
  // that fails takes the entry back.
  if (keptDeletions.Valid()) {
    const std::string keptName = std::to_string(journal.Entries().size());
    Record(std::move(entry), resolution);
    if (::renameat(folder, name.c_str(), keptDeletions.Get(), keptName.c_str()) != 0) {
      journal.Withdraw();
      return false;
    }
  } else {
    if (::unlinkat(folder, name.c_str(), 0) != 0) return false;
    Record(std::move(entry), resolution);
  }
  struct stat status {};
  if (!listing.settled || ::fstat(folder, &status) != 0) return true;
  const auto names = listing.namesByFolded.find(FoldName(name));
  if (names != listing.namesByFolded.end()) {
    names->second.erase(name);
    if (names->second.empty()) listing.namesByFolded.erase(names);
  }
  listing.modified = status.st_mtim;
  return true;
}

JournalEntry SimMachine::State::FileEntry(JournalEntry::Kind kind, const Resolution& resolution,
                                          int fd, bool bySetup) const {
  JournalEntry entry;
  entry.kind = kind;
  entry.bySetup = bySetup;
  entry.drive = resolution.drive;
  entry.hostRelative = resolution.relative;
  entry.before = StateOf(fd);
  return entry;
}

void SimMachine::State::Record(JournalEntry entry, const Resolution& resolution) {
  journal.Add(std::move(entry), hostUnchanged ? resolution.hostPath : std::string());
}

const FileOverlay* SimMachine::State::OverlayOf(const std::string& hostPath) const {
  return hostUnchanged ? journal.OverlayOf(hostPath) : nullptr;
}

long SimMachine::State::OpenExisting(const std::string& windowsPath, Resolution* resolution,
                                     UniqueFd* fd, struct stat* status) const {
  *resolution = Resolve(windowsPath, false);
  if (!resolution->Found()) return resolution->Error();
  *fd = OpenEntryAt(resolution->folder.Get(), resolution->name, status);
  if (fd->Valid()) return kErrorSuccess;
  return errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
}

std::uint32_t SimMachine::State::AttributesOf(int fd, const struct stat& status,
                                              const std::string& hostPath) const {
  std::uint32_t attributes = 0;
  const FileOverlay* overlay = OverlayOf(hostPath);
  if (overlay && overlay->attributes) {
    attributes = *overlay->attributes & (kFileAttributeReadOnly | kDosAttributeMask);
  } else {
    if (IsReadOnly(status)) attributes |= kFileAttributeReadOnly;
    std::optional<std::uint32_t> dos = ReadDosAttributeText(fd);
    if (!dos) {
      const auto kept = dosAttributes.find(hostPath);
      dos = kept != dosAttributes.end() ? kept->second : kFreshAttributes;
    }
    attributes |= *dos & kDosAttributeMask;
  }
  if (S_ISDIR(status.st_mode)) {
    return kFileAttributeDirectory | (attributes & ~kFileAttributeArchive);
  }
  // NT names a file with no attribute at all "normal"; the 9x family hands
  // back the directory entry's attribute byte as it is.
  if (attributes == 0 && config->family == WindowsFamily::kNt) return kFileAttributeNormal;
  return attributes;
}

void SimMachine::State::ApplyAttributes(const Resolution& resolution, int fd,
                                        const struct stat& status, std::uint32_t attributes,
                                        bool bySetup) {
  JournalEntry entry = FileEntry(JournalEntry::Kind::kAttributesWritten, resolution, fd, bySetup);
  entry.attributes = attributes;
  Record(std::move(entry), resolution);
  if (hostUnchanged) return;
  const mode_t mode = (attributes & kFileAttributeReadOnly)
                          ? (status.st_mode & ~mode_t{0222})
                          : (IsReadOnly(status) ? status.st_mode | S_IWUSR : status.st_mode);
  ::fchmod(fd, mode & 07777);
  const std::uint32_t dos = attributes & kDosAttributeMask;
  const std::string& hostPath = resolution.hostPath;
  dosAttributes.erase(hostPath);
  if (!WriteDosAttributeText(fd, dos) && dos != kFreshAttributes) dosAttributes[hostPath] = dos;
}

bool SimMachine::State::ApplyTimes(const Resolution& resolution, int fd,
                                   const struct timespec times[2], bool bySetup) {
  JournalEntry entry = FileEntry(JournalEntry::Kind::kTimesWritten, resolution, fd, bySetup);
  entry.accessed = times[0];
  entry.modified = times[1];
  if (!hostUnchanged && ::futimens(fd, times) != 0) return false;
  Record(std::move(entry), resolution);
  return true;
}

bool SimMachine::State::SharingConflict(const std::string& hostPath, std::uint32_t access,
                                        std::uint32_t share) const {
  const auto conflicts = [&](std::uint32_t otherAccess, std::uint32_t otherShare) {
    return ((access & kGenericRead) && !(otherShare & kFileShareRead)) ||
           ((access & kGenericWrite) && !(otherShare & kFileShareWrite)) ||
           ((otherAccess & kGenericRead) && !(share & kFileShareRead)) ||
           ((otherAccess & kGenericWrite) && !(share & kFileShareWrite));
  };
  // A program using the file reads it and lets others read and write.
  if (inUse.count(hostPath) && conflicts(kGenericRead, kFileShareRead | kFileShareWrite)) {
    return true;
  }
  for (const auto& [handle, open] : files) {
    if (open.resolution.hostPath == hostPath && conflicts(open.access, open.share)) return true;
  }
  return false;
}

bool SimMachine::State::IsOpenOrInUse(const std::string& hostPath) const {
  if (inUse.count(hostPath)) return true;
  for (const auto& [handle, open] : files) {
    if (open.resolution.hostPath == hostPath) return true;
  }
  return false;
}

std::string SimMachine::State::FilePathOf(FileHandle file) const {
  const auto open = files.find(file);
  return open == files.end() ? std::string() : open->second.windowsPath;
}

SimMachine::State::OpenFile* SimMachine::State::FileOf(FileHandle file) {
  const auto open = files.find(file);
  if (open != files.end()) return &open->second;
  lastError = kErrorInvalidHandle;
  return nullptr;
}

bool SimMachine::State::IsDriveRoot(const std::string& hostPath) const {
  for (const auto& [letter, drive] : drives) {
    if (drive.folder == hostPath) return true;
  }
  return false;
}

void SimMachine::State::ForgetFile(const std::string& hostPath) {
  creationTimes.erase(hostPath);
  dosAttributes.erase(hostPath);
}

FindData SimMachine::State::StatusOf(int fd, const struct stat& status,
                                     const std::string& hostPath) const {
  FindData data;
  data.attributes = AttributesOf(fd, status, hostPath);
  const FileOverlay* overlay = OverlayOf(hostPath);
  data.lastAccessTime =
      FromTimespec(overlay && overlay->accessed ? *overlay->accessed : status.st_atim);
  data.lastWriteTime =
      FromTimespec(overlay && overlay->modified ? *overlay->modified : status.st_mtim);
  const auto created = creationTimes.find(hostPath);
  data.creationTime = created != creationTimes.end() ? created->second : data.lastWriteTime;
  data.size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
  return data;
}

// Machine set-up, for tests and uninst-sim.

void SimMachine::MapDrive(char letter, const std::string& hostFolder) {
  std::error_code error;
  std::filesystem::create_directories(hostFolder, error);
  MapDrive(letter, hostFolder,
           UniqueFd(::open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
}

void SimMachine::MapDrive(char letter, const std::string& hostFolder, UniqueFd folder) {
  State::Drive& drive =
      m_state->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))];
  drive.folder = hostFolder;
  drive.fd = std::move(folder);
}

std::optional<std::string> SimMachine::HostPath(const std::string& windowsPath) const {
  const Resolution resolution = m_state->Resolve(windowsPath, false);
  if (!resolution.Found()) return std::nullopt;
  return resolution.hostPath;
}

std::string SimMachine::CreateHostPath(const std::string& windowsPath) {
  return m_state->Resolve(windowsPath, true).hostPath;
}

void SimMachine::WriteFile(const std::string& windowsPath, const std::vector<std::uint8_t>& bytes,
                           std::int64_t lastWriteUnixSeconds) {
  const Resolution resolution = m_state->Resolve(windowsPath, true);
  if (resolution.hostPath.empty()) return;
  const UniqueFd file(::openat(resolution.folder.Get(), resolution.name.c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.Valid()) return;
  if (!bytes.empty() && ::write(file.Get(), bytes.data(), bytes.size()) < 0) return;
  const FileTime time{FileTimeFromUnix(lastWriteUnixSeconds)};
  const struct timespec times[2] = {ToTimespec(&time), ToTimespec(&time)};
  ::futimens(file.Get(), times);
  m_state->creationTimes[resolution.hostPath] = time;
}

bool SimMachine::FileExists(const std::string& windowsPath) const {
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  return m_state->OpenExisting(windowsPath, &resolution, &fd, &status) == kErrorSuccess &&
         !S_ISDIR(status.st_mode);
}

void SimMachine::SetAttributesOf(const std::string& windowsPath, std::uint32_t attributes) {
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  if (m_state->OpenExisting(windowsPath, &resolution, &fd, &status) == kErrorSuccess) {
    m_state->ApplyAttributes(resolution, fd.Get(), status, attributes, true);
  }
}

void SimMachine::SetLastWriteTime(const std::string& windowsPath, std::int64_t unixSeconds) {
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  if (m_state->OpenExisting(windowsPath, &resolution, &fd, &status) != kErrorSuccess) return;
  const FileTime time{FileTimeFromUnix(unixSeconds)};
  const struct timespec times[2] = {ToTimespec(&time), ToTimespec(&time)};
  m_state->ApplyTimes(resolution, fd.Get(), times, true);
}

std::uint32_t SimMachine::AttributesOf(const std::string& windowsPath) const {
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  if (m_state->OpenExisting(windowsPath, &resolution, &fd, &status) != kErrorSuccess) {
    return kInvalidFileAttributes;
  }
  return m_state->AttributesOf(fd.Get(), status, resolution.hostPath);
}

void SimMachine::SetInUse(const std::string& windowsPath, bool inUse) {
  const std::optional<std::string> host = HostPath(windowsPath);
  if (!host) return;
  if (inUse) {
    m_state->inUse.insert(*host);
  } else {
    m_state->inUse.erase(*host);
  }
}

// Platform file calls.

FileHandle SimMachine::CreateFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                  bool inheritHandle) {
  const FileHandle handle = OpenFile(path, access, shareMode, inheritHandle);
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kFileOpened;
  entry.name = path ? path : "";
  entry.result = handle == kInvalidFile ? m_state->lastError : kErrorSuccess;
  Note(std::move(entry));
  return handle;
}

FileHandle SimMachine::OpenFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                                bool /*inheritHandle*/) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kCreateFile, windowsPath)) return kInvalidFile;
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  long error = m_state->OpenExisting(windowsPath, &resolution, &fd, &status);
  if (!error && S_ISDIR(status.st_mode)) error = kErrorAccessDenied;
  if (!error && (access & kGenericWrite) &&
      (m_state->AttributesOf(fd.Get(), status, resolution.hostPath) & kFileAttributeReadOnly)) {
    error = kErrorAccessDenied;
  }
  if (!error && m_state->SharingConflict(resolution.hostPath, access, shareMode)) {
    error = kErrorSharingViolation;
  }
  if (error) {
    m_state->lastError = error;
    return kInvalidFile;
  }
  const FileHandle handle = m_state->NewHandle();
  m_state->files[handle] =
      State::OpenFile{windowsPath, std::move(resolution), access, shareMode, std::move(fd)};
  return handle;
}

bool SimMachine::CloseHandle(FileHandle file) {
  if (Enter(Op::kCloseHandle, m_state->FilePathOf(file))) return false;
  if (m_state->files.erase(file)) return true;
  m_state->lastError = kErrorInvalidHandle;
  return false;
}

bool SimMachine::GetFileTime(FileHandle file, FileTime* creation, FileTime* lastAccess,
                             FileTime* lastWrite) {
  if (Enter(Op::kGetFileTime, m_state->FilePathOf(file))) return false;
  const State::OpenFile* open = m_state->FileOf(file);
  if (!open) return false;
  struct stat status {};
  if (::fstat(open->fd.Get(), &status) != 0) {
    m_state->lastError = kErrorFileNotFound;
    return false;
  }
  const FindData data = m_state->StatusOf(open->fd.Get(), status, open->resolution.hostPath);
  if (creation) *creation = data.creationTime;
  if (lastAccess) *lastAccess = data.lastAccessTime;
  if (lastWrite) *lastWrite = data.lastWriteTime;
  return true;
}

std::uint32_t SimMachine::GetFileSize(FileHandle file) {
  if (Enter(Op::kGetFileSize, m_state->FilePathOf(file))) return kInvalidFileSize;
  const State::OpenFile* open = m_state->FileOf(file);
  struct stat status {};
  if (!open) return kInvalidFileSize;
  if (::fstat(open->fd.Get(), &status) != 0) {
    m_state->lastError = kErrorFileNotFound;
    return kInvalidFileSize;
  }
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(status.st_size));
}

bool SimMachine::SetFileTime(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                             const FileTime* lastWrite) {
  if (Enter(Op::kSetFileTime, m_state->FilePathOf(file))) return false;
  const State::OpenFile* open = m_state->FileOf(file);
  if (!open) return false;
  if (!(open->access & kGenericWrite)) {
    m_state->lastError = kErrorAccessDenied;
    return false;
  }
  const struct timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  if (!m_state->ApplyTimes(open->resolution, open->fd.Get(), times, false)) {
    m_state->lastError = kErrorInvalidParameter;
    return false;
  }
  if (ToTimespec(creation).tv_nsec != UTIME_OMIT)
    m_state->creationTimes[open->resolution.hostPath] = *creation;
  return true;
}

bool SimMachine::FindFile(const char* path, FindData* data) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kFindFile, windowsPath)) return false;
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  long error = m_state->OpenExisting(windowsPath, &resolution, &fd, &status);
  // A drive's root is no directory entry, so a search for it finds nothing.
  if (!error && m_state->IsDriveRoot(resolution.hostPath)) error = kErrorFileNotFound;
  if (error) {
    m_state->lastError = error;
    return false;
  }
  if (data) *data = m_state->StatusOf(fd.Get(), status, resolution.hostPath);
  return true;
}

std::uint32_t SimMachine::GetFileAttributes(const char* path) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kGetFileAttributes, windowsPath)) return kInvalidFileAttributes;
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  if (const long error = m_state->OpenExisting(windowsPath, &resolution, &fd, &status)) {
    m_state->lastError = error;
    return kInvalidFileAttributes;
  }
  return m_state->AttributesOf(fd.Get(), status, resolution.hostPath);
}

bool SimMachine::SetFileAttributes(const char* path, std::uint32_t attributes) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kSetFileAttributes, windowsPath)) return false;
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  if (const long error = m_state->OpenExisting(windowsPath, &resolution, &fd, &status)) {
    m_state->lastError = error;
    return false;
  }
  m_state->ApplyAttributes(resolution, fd.Get(), status, attributes, false);
  return true;
}

bool SimMachine::DeleteFile(const char* path) {
  const bool deleted = RemoveFile(path);
  TraceEntry entry;
  entry.kind = TraceEntry::Kind::kFileDeleted;
  entry.name = path ? path : "";
  entry.result = deleted ? kErrorSuccess : m_state->lastError;
  Note(std::move(entry));
  return deleted;
}

bool SimMachine::RemoveFile(const char* path) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kDeleteFile, windowsPath)) return false;
  Resolution resolution;
  UniqueFd fd;
  struct stat status {};
  long error = m_state->OpenExisting(windowsPath, &resolution, &fd, &status);
  if (!error &&
      (S_ISDIR(status.st_mode) ||
       (m_state->AttributesOf(fd.Get(), status, resolution.hostPath) & kFileAttributeReadOnly))) {
    error = kErrorAccessDenied;
  }
  if (!error && m_state->IsOpenOrInUse(resolution.hostPath)) error = kErrorSharingViolation;
  if (!error && !m_state->RemoveEntry(resolution, fd.Get())) {
    error = kErrorAccessDenied;
  }
  if (error) {
    m_state->lastError = error;
    return false;
  }
  m_state->ForgetFile(resolution.hostPath);
  return true;
}

}  // namespace uninst::sim
