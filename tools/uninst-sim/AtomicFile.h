// Replacing a file so that a reader sees either the old or the new content,
// never a mixture, even after a crash.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

namespace uninst::tool {

// The system calls the replacement makes; tests swap them to fail midway.
struct FileCalls {
  std::function<ssize_t(int, const void*, std::size_t)> write;
  std::function<int(int)> fsync;
  std::function<int(const char*, const char*)> rename;
};
FileCalls SystemFileCalls();

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. Returns "" on success, else what failed; the old
// file is then untouched and the temporary file removed.
std::string WriteFileAtomically(const std::string& path, const std::string& bytes,
                                const FileCalls& calls = SystemFileCalls());

// Reads a whole regular file; on failure `error` says why.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);

}  // namespace uninst::tool
