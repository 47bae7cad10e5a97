#include "tools/uninst-sim/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace uninst::tool {

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  int Close() {
    const int result = m_fd >= 0 ? ::close(m_fd) : 0;
    m_fd = -1;
    return result;
  }

 private:
  int m_fd;
};

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

// Makes the rename itself durable.
void SyncDirectory(const std::string& directory) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() >= 0) ::fsync(fd.Get());
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
  const std::filesystem::path target(path);
  std::string directory = target.parent_path().string();
  if (directory.empty()) directory = ".";
  std::string temp = directory + "/." + target.filename().string() + ".XXXXXX";
  UniqueFd fd(::mkstemp(temp.data()));
  if (fd.Get() < 0) return SystemError("cannot create a temporary file in", directory);
  TempFileGuard guard(temp);
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  if (::fchmod(fd.Get(), mode) != 0) return SystemError("cannot set the mode of", temp);
  if (!WriteAll(calls, fd.Get(), bytes)) return SystemError("cannot write", temp);
  if (calls.fsync(fd.Get()) != 0) return SystemError("cannot flush", temp);
  if (fd.Close() != 0) return SystemError("cannot close", temp);
  if (calls.rename(temp.c_str(), path.c_str()) != 0) return SystemError("cannot replace", path);
  guard.Release();
  SyncDirectory(directory);
  return "";
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    *error = path + " is missing or is not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = SystemError("cannot open", path);
    return false;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  *bytes = content.str();
  return true;
}

}  // namespace uninst::tool
