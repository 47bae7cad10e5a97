#include "platform/sim/HostFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace uninst::sim {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool SameEntry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool ListFolder(int folder, std::vector<FolderEntry>* entries) {
  UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = listing.Valid() ? ::fdopendir(listing.Get()) : nullptr;
  if (!dir) return false;
  listing.Release();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      entries->push_back(FolderEntry{
          name, static_cast<mode_t>(entry->d_type == DT_UNKNOWN ? 0 : DTTOIF(entry->d_type))});
    }
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0;
}

namespace {

std::string WalkFolder(int folder, const std::string& label, const std::string& prefix,
                       TreeDetail detail, const TreeVisitor& visit) {
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, &entries)) {
    return "cannot read " + label + "/" + prefix + ": " + std::strerror(errno);
  }
  for (const FolderEntry& listed : entries) {
    const std::string& name = listed.name;
    struct stat status {};
    mode_t type = listed.type;
    if (detail == TreeDetail::kStatus || type == 0) {
      if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = status.st_mode & S_IFMT;
    }
    const struct stat* full = detail == TreeDetail::kStatus ? &status : nullptr;
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    std::string stop = visit(TreeEntry{relative, folder, name, type, full, false});
    if (!stop.empty()) return stop;
    if (type != S_IFDIR) continue;
    {
      const UniqueFd sub = OpenDirectoryAt(folder, name);
      if (!sub.Valid())
        return "cannot open " + label + "/" + relative + ": " + std::strerror(errno);
      stop = WalkFolder(sub.Get(), label, relative, detail, visit);
    }
    if (stop.empty()) stop = visit(TreeEntry{relative, folder, name, type, full, true});
    if (!stop.empty()) return stop;
  }
  return "";
}

}  // namespace

int UniqueFd::Release() {
  const int fd = m_fd;
  m_fd = -1;
  return fd;
}

int UniqueFd::Reset(int fd) {
  const int result = m_fd >= 0 ? ::close(m_fd) : 0;
  m_fd = fd;
  return result;
}

const char* ForbiddenKind(const struct stat& status) {
  switch (status.st_mode & S_IFMT) {
    case S_IFDIR:
      return nullptr;
    case S_IFREG:
      return status.st_nlink > 1 ? "a hard link" : nullptr;
    case S_IFLNK:
      return "a symbolic link";
    case S_IFIFO:
      return "a FIFO";
    case S_IFSOCK:
      return "a socket";
    default:
      return "a device node";
  }
}

std::uint64_t MountOf(int directory, const std::string& name) {
  struct statx status {};
  const int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
  if (::statx(directory, name.c_str(), flags, STATX_MNT_ID, &status) != 0) return 0;
  return (status.stx_mask & STATX_MNT_ID) ? status.stx_mnt_id : 0;
}

UniqueFd OpenDirectoryAt(int directory, const std::string& name) {
  UniqueFd folder(
      ::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.Valid() && MountOf(folder.Get()) != MountOf(directory)) {
    errno = EXDEV;
    return UniqueFd();
  }
  return folder;
}

UniqueFd OpenEntryAt(int directory, const std::string& name, struct stat* status) {
  struct stat before {};
  if (::fstatat(directory, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0) return UniqueFd();
  if (ForbiddenKind(before)) {
    errno = S_ISLNK(before.st_mode) ? ELOOP : EPERM;
    return UniqueFd();
  }
  UniqueFd fd(::openat(directory, name.c_str(), kOpenFlags));
  // The entry may have been swapped between the two looks.
  if (fd.Valid() &&
      (::fstat(fd.Get(), status) != 0 || !SameEntry(before, *status) || ForbiddenKind(*status))) {
    errno = EPERM;
    return UniqueFd();
  }
  return fd;
}

bool ReadEntryAt(int directory, const std::string& name, std::size_t limit, std::string* bytes,
                 struct stat* read) {
  struct stat status {};
  const UniqueFd fd = OpenEntryAt(directory, name, &status);
  if (read) *read = status;
  if (!fd.Valid()) return false;
  if (!S_ISREG(status.st_mode)) {
    errno = EISDIR;
    return false;
  }
  if (static_cast<std::uint64_t>(status.st_size) > limit) {
    errno = EFBIG;
    return false;
  }
  std::string content(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t got = ::read(fd.Get(), content.data() + done, content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  content.resize(done);
  *bytes = std::move(content);
  return true;
}

std::string WalkTree(int root, const std::string& label, TreeDetail detail,
                     const TreeVisitor& visit) {
  return WalkFolder(root, label, "", detail, visit);
}

}  // namespace uninst::sim
