// Drives and files of the simulated machine: Windows paths resolved on host
// folders, with the sharing, read-only and attribute rules of Windows kept
// by the machine itself (the tests run as root, who may write anything).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/sim/SimState.h"

namespace uninst::sim {
namespace {

constexpr std::uint32_t kFileShareWrite = 0x00000002u;
constexpr std::uint32_t kDosAttributeMask = kFileAttributeHidden | kFileAttributeSystem;
constexpr char kDosAttributeName[] = "user.DOSATTRIB";
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
// Version resources live in small program files; a bigger file is not read.
constexpr long kLargestReadableFile = 64L * 1024 * 1024;

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

// Components after Windows' lexical clean-up: "." dropped, ".." removes the
// component before it but never leaves the drive's root.
std::vector<std::string> NormalComponents(const std::string& rest) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end])) ++end;
    const std::string component = rest.substr(start, end - start);
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  return components;
}

bool StatHost(const std::string& hostPath, struct stat* status) {
  return ::stat(hostPath.c_str(), status) == 0;
}

bool IsDirectory(const std::string& hostPath) {
  struct stat status {};
  return StatHost(hostPath, &status) && S_ISDIR(status.st_mode);
}

// The entry of `directory` whose name equals `name` case-insensitively; the
// exact spelling wins, then the first in byte order, so the choice is stable
// on a case-sensitive host.
std::optional<std::string> FindEntry(const std::string& directory, const std::string& name) {
  struct stat status {};
  if (::lstat((directory + "/" + name).c_str(), &status) == 0) return name;
  std::optional<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string candidate = entry.path().filename().string();
    if (NamesEqual(candidate, name) && (!found || candidate < *found)) found = candidate;
  }
  return found;
}

FileTime FromTimespec(const struct timespec& time) {
  if (time.tv_sec < -kSecondsFrom1601To1970) return FileTime{};
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.tv_sec + kSecondsFrom1601To1970);
  return FileTime{seconds * kTicksPerSecond + static_cast<std::uint64_t>(time.tv_nsec) / 100};
}

// A time of 0 (or all ones) leaves the time unchanged, as in Windows.
struct timespec ToTimespec(const FileTime* time) {
  struct timespec result {};
  if (!time || time->ticks == 0 || time->ticks == ~std::uint64_t{0}) {
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  result.tv_sec = static_cast<time_t>(time->ticks / kTicksPerSecond) -
                  static_cast<time_t>(kSecondsFrom1601To1970);
  result.tv_nsec = static_cast<long>(time->ticks % kTicksPerSecond) * 100;
  return result;
}

std::optional<std::uint32_t> ReadDosAttributeText(const std::string& hostPath) {
  char text[32] = {};
  const ssize_t length = ::getxattr(hostPath.c_str(), kDosAttributeName, text, sizeof(text) - 1);
  if (length <= 0) return std::nullopt;
  text[length] = '\0';
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 16));
}

bool WriteDosAttributeText(const std::string& hostPath, std::uint32_t attributes) {
  if (attributes == 0) {
    return ::removexattr(hostPath.c_str(), kDosAttributeName) == 0 || errno == ENODATA;
  }
  char text[32];
  const int length = std::snprintf(text, sizeof(text), "0x%x", attributes);
  return ::setxattr(hostPath.c_str(), kDosAttributeName, text, static_cast<std::size_t>(length),
                    0) == 0;
}

bool IsReadOnly(const struct stat& status) { return (status.st_mode & 0222) == 0; }

}  // namespace

long SimMachine::State::FindExisting(const std::string& windowsPath, Resolution* resolution,
                                     struct stat* status) const {
  *resolution = Resolve(windowsPath, false);
  if (!resolution->Found()) return resolution->Error();
  return StatHost(resolution->hostPath, status) ? kErrorSuccess : kErrorFileNotFound;
}

long Resolution::Error() const {
  return status == Status::kFileMissing ? kErrorFileNotFound : kErrorPathNotFound;
}

bool ReadHostFile(const std::string& hostPath, std::vector<std::uint8_t>* bytes) {
  std::FILE* file = std::fopen(hostPath.c_str(), "rb");
  if (!file) return false;
  bool ok = std::fseek(file, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(file) : -1;
  ok = ok && size >= 0 && size <= kLargestReadableFile && std::fseek(file, 0, SEEK_SET) == 0;
  if (ok) {
    bytes->resize(static_cast<std::size_t>(size));
    ok = std::fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
  }
  std::fclose(file);
  return ok;
}

Resolution SimMachine::State::Resolve(const std::string& windowsPath,
                                      bool createDirectories) const {
  Resolution result;
  char letter = 0;
  std::string rest;
  if (!SplitDrive(windowsPath, &letter, &rest)) return result;
  const auto drive = drives.find(letter);
  if (drive == drives.end()) return result;
  const std::vector<std::string> components = NormalComponents(rest);
  std::string host = drive->second;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const bool last = i + 1 == components.size();
    const std::optional<std::string> entry = FindEntry(host, components[i]);
    if (!entry && last) {
      result.status = Resolution::Status::kFileMissing;
      result.hostPath = host + "/" + components[i];
      return result;
    }
    if (!entry &&
        !(createDirectories && ::mkdir((host + "/" + components[i]).c_str(), 0755) == 0)) {
      return result;
    }
    host += "/" + (entry ? *entry : components[i]);
    if (!last && !IsDirectory(host)) return result;
  }
  result.status = Resolution::Status::kFound;
  result.hostPath = host;
  return result;
}

std::uint32_t SimMachine::State::AttributesOf(const std::string& hostPath) const {
  struct stat status {};
  if (!StatHost(hostPath, &status)) return kInvalidFileAttributes;
  std::uint32_t attributes =
      S_ISDIR(status.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  if (IsReadOnly(status)) attributes |= kFileAttributeReadOnly;
  std::optional<std::uint32_t> dos = ReadDosAttributeText(hostPath);
  if (!dos) {
    const auto kept = dosAttributes.find(hostPath);
    if (kept != dosAttributes.end()) dos = kept->second;
  }
  return attributes | (dos.value_or(0) & kDosAttributeMask);
}

void SimMachine::State::ApplyAttributes(const std::string& hostPath, std::uint32_t attributes) {
  struct stat status {};
  if (!StatHost(hostPath, &status)) return;
  const mode_t mode = (attributes & kFileAttributeReadOnly)
                          ? (status.st_mode & ~mode_t{0222})
                          : (IsReadOnly(status) ? status.st_mode | S_IWUSR : status.st_mode);
  ::chmod(hostPath.c_str(), mode & 07777);
  const std::uint32_t dos = attributes & kDosAttributeMask;
  dosAttributes.erase(hostPath);
  if (!WriteDosAttributeText(hostPath, dos) && dos != 0) dosAttributes[hostPath] = dos;
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
    if (open.hostPath == hostPath && conflicts(open.access, open.share)) return true;
  }
  return false;
}

bool SimMachine::State::IsOpenOrInUse(const std::string& hostPath) const {
  if (inUse.count(hostPath)) return true;
  for (const auto& [handle, open] : files) {
    if (open.hostPath == hostPath) return true;
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
  for (const auto& [letter, folder] : drives) {
    if (folder == hostPath) return true;
  }
  return false;
}

void SimMachine::State::ForgetFile(const std::string& hostPath) {
  creationTimes.erase(hostPath);
  dosAttributes.erase(hostPath);
}

FindData SimMachine::State::StatusOf(const std::string& hostPath) const {
  FindData data;
  struct stat status {};
  if (!StatHost(hostPath, &status)) return data;
  data.attributes = AttributesOf(hostPath);
  data.lastAccessTime = FromTimespec(status.st_atim);
  data.lastWriteTime = FromTimespec(status.st_mtim);
  const auto created = creationTimes.find(hostPath);
  data.creationTime = created != creationTimes.end() ? created->second : data.lastWriteTime;
  data.size = S_ISDIR(status.st_mode) ? 0 : static_cast<std::uint64_t>(status.st_size);
  return data;
}

// Machine set-up, for tests and uninst-sim.

void SimMachine::MapDrive(char letter, const std::string& hostFolder) {
  std::error_code error;
  std::filesystem::create_directories(hostFolder, error);
  m_state->drives[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = hostFolder;
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
  const std::string host = CreateHostPath(windowsPath);
  if (host.empty()) return;
  std::FILE* file = std::fopen(host.c_str(), "wb");
  if (!file) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  const FileTime time{FileTimeFromUnix(lastWriteUnixSeconds)};
  const struct timespec times[2] = {ToTimespec(&time), ToTimespec(&time)};
  ::utimensat(AT_FDCWD, host.c_str(), times, 0);
  m_state->creationTimes[host] = time;
}

bool SimMachine::FileExists(const std::string& windowsPath) const {
  const std::optional<std::string> host = HostPath(windowsPath);
  return host && !IsDirectory(*host);
}

void SimMachine::SetAttributesOf(const std::string& windowsPath, std::uint32_t attributes) {
  if (const std::optional<std::string> host = HostPath(windowsPath)) {
    m_state->ApplyAttributes(*host, attributes);
  }
}

std::uint32_t SimMachine::AttributesOf(const std::string& windowsPath) const {
  const std::optional<std::string> host = HostPath(windowsPath);
  return host ? m_state->AttributesOf(*host) : kInvalidFileAttributes;
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
                                  bool /*inheritHandle*/) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kCreateFile, windowsPath)) return kInvalidFile;
  Resolution resolution;
  struct stat status {};
  long error = m_state->FindExisting(windowsPath, &resolution, &status);
  if (!error && S_ISDIR(status.st_mode)) error = kErrorAccessDenied;
  if (!error && (access & kGenericWrite) && IsReadOnly(status)) error = kErrorAccessDenied;
  if (!error && m_state->SharingConflict(resolution.hostPath, access, shareMode)) {
    error = kErrorSharingViolation;
  }
  if (error) {
    m_state->lastError = error;
    return kInvalidFile;
  }
  const FileHandle handle = m_state->NewHandle();
  m_state->files[handle] = State::OpenFile{windowsPath, resolution.hostPath, access, shareMode};
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
  if (!StatHost(open->hostPath, &status)) {
    m_state->lastError = kErrorFileNotFound;
    return false;
  }
  const FindData data = m_state->StatusOf(open->hostPath);
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
  if (!StatHost(open->hostPath, &status)) {
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
  if (::utimensat(AT_FDCWD, open->hostPath.c_str(), times, 0) != 0) {
    m_state->lastError = kErrorInvalidParameter;
    return false;
  }
  if (ToTimespec(creation).tv_nsec != UTIME_OMIT)
    m_state->creationTimes[open->hostPath] = *creation;
  return true;
}

bool SimMachine::FindFile(const char* path, FindData* data) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kFindFile, windowsPath)) return false;
  const Resolution resolution = m_state->Resolve(windowsPath, false);
  struct stat status {};
  // A drive's root is no directory entry, so a search for it finds nothing.
  const bool isRoot = resolution.Found() && m_state->IsDriveRoot(resolution.hostPath);
  if (!resolution.Found() || isRoot || !StatHost(resolution.hostPath, &status)) {
    m_state->lastError = resolution.Found() ? kErrorFileNotFound : resolution.Error();
    return false;
  }
  if (data) *data = m_state->StatusOf(resolution.hostPath);
  return true;
}

std::uint32_t SimMachine::GetFileAttributes(const char* path) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kGetFileAttributes, windowsPath)) return kInvalidFileAttributes;
  const Resolution resolution = m_state->Resolve(windowsPath, false);
  if (!resolution.Found()) {
    m_state->lastError = resolution.Error();
    return kInvalidFileAttributes;
  }
  return m_state->AttributesOf(resolution.hostPath);
}

bool SimMachine::SetFileAttributes(const char* path, std::uint32_t attributes) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kSetFileAttributes, windowsPath)) return false;
  const Resolution resolution = m_state->Resolve(windowsPath, false);
  if (!resolution.Found()) {
    m_state->lastError = resolution.Error();
    return false;
  }
  m_state->ApplyAttributes(resolution.hostPath, attributes);
  return true;
}

bool SimMachine::DeleteFile(const char* path) {
  const std::string windowsPath = path ? path : "";
  if (Enter(Op::kDeleteFile, windowsPath)) return false;
  Resolution resolution;
  struct stat status {};
  long error = m_state->FindExisting(windowsPath, &resolution, &status);
  if (!error && (S_ISDIR(status.st_mode) || IsReadOnly(status))) error = kErrorAccessDenied;
  if (!error && m_state->IsOpenOrInUse(resolution.hostPath)) error = kErrorSharingViolation;
  if (!error && ::unlink(resolution.hostPath.c_str()) != 0) error = kErrorAccessDenied;
  if (error) {
    m_state->lastError = error;
    return false;
  }
  m_state->ForgetFile(resolution.hostPath);
  return true;
}

}  // namespace uninst::sim
