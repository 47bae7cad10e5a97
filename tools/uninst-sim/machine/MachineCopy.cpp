#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sim/HostFiles.h"
#include "tools/uninst-sim/machine/FolderRules.h"
#include "tools/uninst-sim/machine/MachineFolder.h"

namespace uninst::tool {

namespace {

// Copies a regular file with its mode, times and DOS attributes, leaving the
// original's access time alone where the host allows.
std::string CopyFileAt(int fromFolder, const std::string& fromName, int to,
                       const std::string& toName) {
  struct stat status {};
  const sim::UniqueFd in = sim::OpenEntryAt(fromFolder, fromName, &status);
  if (!in.Valid()) return SystemError("cannot open", fromName);
  ::fcntl(in.Get(), F_SETFL, O_NOATIME | O_NONBLOCK);
  const sim::UniqueFd out(
      ::openat(to, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out.Valid()) return SystemError("cannot create", toName);
  char buffer[65536];
  ssize_t got = 0;
  while ((got = ::read(in.Get(), buffer, sizeof buffer)) > 0) {
    if (::write(out.Get(), buffer, static_cast<std::size_t>(got)) != got) {
      return SystemError("cannot write", toName);
    }
  }
  if (got < 0) return SystemError("cannot read", fromName);
  char attribute[64];
  const ssize_t length = ::fgetxattr(in.Get(), sim::kDosAttributeName, attribute, sizeof attribute);
  if (length > 0) {
    ::fsetxattr(out.Get(), sim::kDosAttributeName, attribute, static_cast<std::size_t>(length), 0);
  }
  const timespec times[2] = {status.st_atim, status.st_mtim};
  ::futimens(out.Get(), times);
  ::fchmod(out.Get(), status.st_mode & 07777);
  return "";
}

// Copies a drive folder under the same rule as loading it; folders get their
// modes once their content is in.
std::string CopyDrive(int from, const std::string& fromDirectory, const DriveFolder& drive,
                      int to) {
  if (::mkdirat(to, drive.folderName.c_str(), 0700) != 0) {
    return SystemError("cannot create", drive.folderName);
  }
  const sim::UniqueFd target = sim::OpenDirectoryAt(to, drive.folderName);
  if (!target.Valid()) return SystemError("cannot open", drive.folderName);
  const std::string root = fromDirectory + "/" + drive.folderName;
  const auto copy = [&](const sim::TreeEntry& entry) -> std::string {
    std::string refusal = Refusal(root + "/" + entry.relative, *entry.status);
    if (!refusal.empty()) return refusal;
    const char* name = entry.relative.c_str();
    if (entry.type != S_IFDIR) {
      return CopyFileAt(entry.directory, entry.name, target.Get(), entry.relative);
    }
    if (entry.leaving) {
      ::fchmodat(target.Get(), name, entry.status->st_mode & 07777, AT_SYMLINK_NOFOLLOW);
      return "";
    }
    return ::mkdirat(target.Get(), name, 0700) == 0 ? "" : SystemError("cannot create", name);
  };
  return WalkDrive(from, fromDirectory, drive, sim::TreeDetail::kStatus, copy);
}

}  // namespace

std::string CopyMachineFolder(const MachineFolder& folder, const std::string& to) {
  const std::string& from = folder.directory;
  if (::mkdir(to.c_str(), 0700) != 0 && errno != EEXIST) return SystemError("cannot create", to);
  const sim::UniqueFd source(::open(from.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const sim::UniqueFd target(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!source.Valid() || !target.Valid()) return SystemError("cannot open", to);
  for (const char* name : {kRegistryFileName, kSettingsFileName}) {
    struct stat status {};
    if (::fstatat(source.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string error = Refusal(from + "/" + name, status);
    if (error.empty()) error = CopyFileAt(source.Get(), name, target.Get(), name);
    if (!error.empty()) return error;
  }
  for (const DriveFolder& drive : folder.drives) {
    const std::string error = CopyDrive(source.Get(), from, drive, target.Get());
    if (!error.empty()) return error;
  }
  return "";
}

}  // namespace uninst::tool
