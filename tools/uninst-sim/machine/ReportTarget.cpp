#include "tools/uninst-sim/machine/ReportTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/machine/AtomicFile.h"

namespace uninst::tool {

namespace {

// No real tree is deeper; a loop of bind mounts could be.
constexpr int kMaxFolderDepth = 4096;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the open folder `folder` is `machine` or lies below it, found
// by climbing from it, so that no path spelling can hide it.
bool IsInside(int folder, const struct stat& machine) {
  sim::UniqueFd current(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  for (int depth = 0; current.Valid() && depth < kMaxFolderDepth; ++depth) {
    struct stat here {};
    struct stat parent {};
    if (::fstat(current.Get(), &here) != 0) return false;
    if (SameFile(here, machine)) return true;
    sim::UniqueFd up(::openat(current.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!up.Valid() || ::fstat(up.Get(), &parent) != 0 || SameFile(parent, here)) return false;
    current = std::move(up);
  }
  return false;
}

// The folder that is to hold the report, open, after every check; `name`
// receives the report's name in it and `mode` the mode to give it.
sim::UniqueFd OpenTarget(const std::string& path, const MachineFolder& machine, std::string* name,
                         mode_t* mode, std::string* refusal) {
  const std::size_t slash = path.rfind('/');
  const std::string folderPath =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name->empty() || *name == "." || *name == "..") {
    *refusal = "the report " + path + " is a folder";
    return sim::UniqueFd();
  }
  sim::UniqueFd folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) {
    *refusal = errno == ENOENT ? "the folder of the report " + path + " does not exist"
                               : "the folder of the report " + path +
                                     " cannot be opened: " + std::strerror(errno);
    return folder;
  }
  struct stat status {};
  *mode = 0644;
  if (::fstatat(folder.Get(), name->c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    const char* kind = S_ISDIR(status.st_mode)   ? "a folder"
                       : S_ISREG(status.st_mode) ? nullptr
                                                 : sim::ForbiddenKind(status);
    if (kind) {
      *refusal = "the report " + path + " is " + kind + "; name a regular file or a new one";
      return sim::UniqueFd();
    }
    *mode = status.st_mode & 07777;
  }
  if (IsInside(folder.Get(), machine.opened)) {
    *refusal = "the report " + path + " is inside the machine folder " + machine.directory +
               "; name a file outside it";
    return sim::UniqueFd();
  }
  return folder;
}

}  // namespace

std::string CheckReportTarget(const std::string& path, const MachineFolder& machine) {
  std::string name;
  std::string refusal;
  mode_t mode = 0;
  OpenTarget(path, machine, &name, &mode, &refusal);
  return refusal;
}

std::string WriteReportFile(const std::string& path, const MachineFolder& machine,
                            const std::string& text) {
  std::string name;
  std::string refusal;
  mode_t mode = 0;
  const sim::UniqueFd folder = OpenTarget(path, machine, &name, &mode, &refusal);
  if (!folder.Valid()) return refusal;
  return WriteFileAtomically(folder.Get(), name, path, text, mode);
}

}  // namespace uninst::tool
