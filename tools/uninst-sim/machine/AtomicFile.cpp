#include "tools/uninst-sim/machine/AtomicFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/sim/HostFiles.h"

namespace uninst::tool {

namespace {

using sim::UniqueFd;

// A temporary file carries this extended attribute from its creation, so
// that a file a person made under a similar name is never taken for one.
constexpr char kTempMark[] = "user.uninst-sim.temporary";
constexpr char kTempInfix[] = ".uninst-sim-save-";
constexpr char kUnsavedSuffix[] = ".uninst-sim-unsaved";
constexpr std::size_t kRandomLength = 12;

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string TempPrefix(const std::string& name) { return "." + name + kTempInfix; }

// A temporary file beside `name`, made new, marked, and removed again unless
// Keep() is called.
class TempFile {
 public:
  TempFile(int folder, const std::string& name) : m_folder(folder) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !m_fd.Valid(); ++attempt) {
      m_name = TempPrefix(name);
      for (std::size_t i = 0; i < kRandomLength; ++i) m_name += kLetters[random() % 36];
      m_fd.Reset(::openat(folder, m_name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (!m_fd.Valid() && errno != EEXIST) break;
    }
    // Where the file system keeps no mark, a leftover is never removed.
    if (m_fd.Valid()) ::fsetxattr(m_fd.Get(), kTempMark, "", 0, 0);
  }
  ~TempFile() { Remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Valid() const { return m_fd.Valid(); }
  int Fd() const { return m_fd.Get(); }
  const std::string& Name() const { return m_name; }
  int Close() { return m_fd.Reset(); }
  void Keep() { m_name.clear(); }
  void Remove() {
    m_fd.Reset();
    if (!m_name.empty()) ::unlinkat(m_folder, m_name.c_str(), 0);
    m_name.clear();
  }

 private:
  int m_folder;
  std::string m_name;
  UniqueFd m_fd;
};

bool WriteAll(const FileCalls& calls, int fd, const ByteParts& parts) {
  for (const std::string_view bytes : parts) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written = calls.write(fd, bytes.data() + done, bytes.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      done += static_cast<std::size_t>(written);
    }
  }
  return true;
}

// Makes a new temporary file hold `bytes` on disk; "" or what failed.
std::string FillTemp(TempFile& temp, const std::string& label, const ByteParts& bytes, mode_t mode,
                     const FileCalls& calls) {
  if (!temp.Valid()) return SystemError("cannot create a temporary file beside", label);
  if (::fchmod(temp.Fd(), mode) != 0) return SystemError("cannot set the mode of", temp.Name());
  if (!WriteAll(calls, temp.Fd(), bytes)) return SystemError("cannot write", temp.Name());
  if (calls.fsync(temp.Fd()) != 0) return SystemError("cannot flush", temp.Name());
  return "";
}

bool IsOurTemp(int folder, const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + kRandomLength || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  struct stat status {};
  const UniqueFd fd = sim::OpenEntryAt(folder, name, &status);
  return fd.Valid() && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
         ::fgetxattr(fd.Get(), kTempMark, nullptr, 0) == 0;
}

}  // namespace

FileCalls SystemFileCalls() {
  return FileCalls{
      [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); },
      [](int fd) { return ::fsync(fd); },
      [](int folder, const char* from, const char* to, unsigned flags) {
        return ::renameat2(folder, from, folder, to, flags);
      },
  };
}

FileIdentity IdentityOf(const struct stat& status) {
  return FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

std::string WriteFileAtomically(int folder, const std::string& name, const std::string& label,
                                const std::string& bytes, mode_t mode, const FileCalls& calls) {
  TempFile temp(folder, name);
  std::string error = FillTemp(temp, label, {bytes}, mode, calls);
  if (!error.empty()) return error;
  ::fremovexattr(temp.Fd(), kTempMark);
  if (temp.Close() != 0) return SystemError("cannot close", temp.Name());
  if (calls.rename(folder, temp.Name().c_str(), name.c_str(), 0) != 0) {
    return SystemError("cannot replace", label);
  }
  temp.Keep();
  ::fsync(folder);
  return "";
}

std::string ReplaceReadFile(int folder, const std::string& name, const ByteParts& bytes,
                            const FileIdentity& expected, mode_t mode, int keepIn,
                            const std::string& keepAs, const FileCalls& calls) {
  TempFile temp(folder, name);
  std::string error = FillTemp(temp, name, bytes, mode, calls);
  if (!error.empty()) return error;
  struct stat current {};
  const bool unchanged = ::fstatat(folder, name.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0 &&
                         IdentityOf(current) == expected;
  if (unchanged && calls.rename(folder, temp.Name().c_str(), name.c_str(), RENAME_EXCHANGE) != 0) {
    return SystemError("cannot replace", name);
  }
  // The temporary name now holds the file that was at `name`, which the
  // exchange gave a new change time; a file put there since the look above
  // is another file or has another modification time.
  struct stat displaced {};
  const bool same =
      unchanged && ::fstatat(folder, temp.Name().c_str(), &displaced, AT_SYMLINK_NOFOLLOW) == 0 &&
      displaced.st_ino == current.st_ino && displaced.st_dev == current.st_dev &&
      displaced.st_size == current.st_size && SameTime(displaced.st_mtim, current.st_mtim);
  ::fremovexattr(temp.Fd(), kTempMark);
  temp.Close();
  if (!same) {
    const bool back =
        !unchanged || calls.rename(folder, temp.Name().c_str(), name.c_str(), RENAME_EXCHANGE) == 0;
    const std::string unsaved = name + kUnsavedSuffix;
    const std::string tempName = temp.Name();
    temp.Keep();
    if (back &&
        ::renameat2(folder, tempName.c_str(), folder, unsaved.c_str(), RENAME_NOREPLACE) == 0) {
      return name +
             " was changed by someone else since it was read: it stays as it is, and "
             "this run's registry was written beside it to " +
             unsaved;
    }
    return name + " was changed by someone else since it was read: both are kept, " +
           (back ? name + " as it is and this run's registry in " + tempName
                 : "this run's registry in " + name + " and the other in " + tempName);
  }
  const bool kept = keepIn >= 0 && ::renameat2(folder, temp.Name().c_str(), keepIn, keepAs.c_str(),
                                               RENAME_NOREPLACE) == 0;
  if (kept || ::unlinkat(folder, temp.Name().c_str(), 0) == 0) temp.Keep();
  ::fsync(folder);
  return "";
}

std::string ProbeWritable(int folder, const std::string& name, const std::string& label) {
  const TempFile temp(folder, name);
  return temp.Valid() ? "" : SystemError("cannot create a temporary file beside", label);
}

std::vector<std::string> RemoveUnfinishedWrites(int folder, const std::string& name) {
  const std::string prefix = TempPrefix(name);
  std::vector<std::string> removed;
  std::vector<sim::FolderEntry> entries;
  if (!sim::ListFolder(folder, &entries)) return removed;
  for (const sim::FolderEntry& entry : entries) {
    if (IsOurTemp(folder, entry.name, prefix) && ::unlinkat(folder, entry.name.c_str(), 0) == 0) {
      removed.push_back(entry.name);
    }
  }
  return removed;
}

}  // namespace uninst::tool
