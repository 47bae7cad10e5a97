// Host files reached relative to an open folder without following links, so
// that the simulated machine and uninst-sim never act outside the folders
// they were given, whatever those folders hold or come to hold.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace uninst::sim {

// The extended attribute that holds a file's DOS attributes, as Samba and
// Wine keep them.
inline constexpr char kDosAttributeName[] = "user.DOSATTRIB";

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  int Release();
  // Closes the descriptor held, if any, and takes `fd`; the result of close.
  int Reset(int fd = -1);

 private:
  int m_fd = -1;
};

// Why an entry may not be used inside a machine folder: nullptr for a folder
// or a regular file with a single name, else "a symbolic link", "a hard link",
// "a FIFO", "a socket" or "a device node".
const char* ForbiddenKind(const struct stat& status);

// An entry of a folder as listed: its name and its type (S_IFREG, S_IFDIR,
// S_IFLNK, ...; 0 when the file system does not tell).
struct FolderEntry {
  std::string name;
  mode_t type = 0;
};

// The entries of the open folder, "." and ".." left out; false with errno set.
bool ListFolder(int folder, std::vector<FolderEntry>* entries);

// The mount that the entry `name` of `directory` (a link not followed; ""
// for `directory` itself) lies on; 0 when it cannot be told.
std::uint64_t MountOf(int directory, const std::string& name = "");

// The folder `name` of `directory`, not reached through a link nor into
// another mount (a mount point fails with EXDEV).
UniqueFd OpenDirectoryAt(int directory, const std::string& name);

// Opens the entry `name` of `directory` to read its content or its status
// without following a link and without blocking: only an entry that
// ForbiddenKind allows is opened. `status` receives its status. On failure
// errno tells why (ELOOP for a link, EPERM for any other forbidden kind).
UniqueFd OpenEntryAt(int directory, const std::string& name, struct stat* status);

// A regular file opened with OpenEntryAt, read whole; false with errno set
// (EFBIG beyond `limit` bytes). `status`, when given, receives its status.
bool ReadEntryAt(int directory, const std::string& name, std::size_t limit, std::string* bytes,
                 struct stat* status = nullptr);

// One entry met by WalkTree: `name` in the open folder `directory`, at
// `relative` ("WINDOWS/INF/X.INF") below the walk's root.
struct TreeEntry {
  const std::string& relative;
  int directory;
  const std::string& name;
  mode_t type;                // S_IFREG, S_IFDIR, S_IFLNK, ...
  const struct stat* status;  // the full status, when the walk was asked for it
  bool leaving;               // a folder met again once its content was walked
};
using TreeVisitor = std::function<std::string(const TreeEntry&)>;
// Types come with the listing of a folder; a full status costs a call per
// entry.
enum class TreeDetail { kTypes, kStatus };

// Visits every entry below the folder `root`, depth first, never entering a
// link. Stops at the first text `visit` returns ("" goes on) or at a folder
// that cannot be read (named from `label`, the root's path), and returns it;
// "" when the walk was complete.
std::string WalkTree(int root, const std::string& label, TreeDetail detail,
                     const TreeVisitor& visit);

}  // namespace uninst::sim
