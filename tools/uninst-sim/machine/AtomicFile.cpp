#include "tools/uninst-sim/machine/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/sim/HostFiles.h"

namespace uninst::tool {

namespace {

using sim::UniqueFd;

// Removes the temporary file unless the rename has consumed it.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : m_path(std::move(path)) {}
  ~TempFileGuard() {
    if (!m_path.empty()) ::unlink(m_path.c_str());
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  void Release() { m_path.clear(); }

 private:
  std::string m_path;
};

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(const FileCalls& calls, int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = calls.write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// The temporary file beside `path`, for mkstemp: ".NAME.XXXXXX".
std::string TempPattern(const std::string& path, std::string* directory) {
  const std::filesystem::path target(path);
  *directory = target.parent_path().string();
  if (directory->empty()) *directory = ".";
  return *directory + "/." + target.filename().string() + ".XXXXXX";
}

bool IsTempName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Makes the rename itself durable.
void SyncDirectory(const std::string& directory) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) ::fsync(fd.Get());
}

}  // namespace

FileCalls SystemFileCalls() {
  return FileCalls{
      [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
      [](int fd) { return ::fsync(fd); },
      [](const char* from, const char* to) { return ::rename(from, to); },
  };
}

std::string WriteFileAtomically(const std::string& path, const std::string& bytes,
                                const FileCalls& calls) {
  std::string directory;
  std::string temp = TempPattern(path, &directory);
  UniqueFd fd(::mkstemp(temp.data()));
  if (!fd.Valid()) return SystemError("cannot create a temporary file in", directory);
  TempFileGuard guard(temp);
  struct stat old {};
  const bool replacesFile = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const mode_t mode = replacesFile ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd.Get(), mode) != 0) return SystemError("cannot set the mode of", temp);
  if (!WriteAll(calls, fd.Get(), bytes)) return SystemError("cannot write", temp);
  if (calls.fsync(fd.Get()) != 0) return SystemError("cannot flush", temp);
  if (fd.Reset() != 0) return SystemError("cannot close", temp);
  if (calls.rename(temp.c_str(), path.c_str()) != 0) return SystemError("cannot replace", path);
  guard.Release();
  SyncDirectory(directory);
  return "";
}

std::string ProbeWritable(const std::string& path) {
  std::string directory;
  std::string temp = TempPattern(path, &directory);
  const UniqueFd fd(::mkstemp(temp.data()));
  if (!fd.Valid()) return SystemError("cannot create a temporary file in", directory);
  ::unlink(temp.c_str());
  return "";
}

std::vector<std::string> RemoveUnfinishedWrites(const std::string& path) {
  std::string directory;
  TempPattern(path, &directory);
  const std::string prefix = "." + std::filesystem::path(path).filename().string() + ".";
  std::vector<std::string> removed;
  const UniqueFd folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<sim::FolderEntry> entries;
  if (!folder.Valid() || !sim::ListFolder(folder.Get(), &entries)) return removed;
  for (const sim::FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    struct stat status {};
    if (IsTempName(name, prefix) &&
        ::fstatat(folder.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode) && ::unlinkat(folder.Get(), name.c_str(), 0) == 0) {
      removed.push_back(name);
    }
  }
  return removed;
}

}  // namespace uninst::tool
