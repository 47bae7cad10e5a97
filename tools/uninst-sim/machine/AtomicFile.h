// Replacing a file so that a reader sees either the old or the new content,
// never a mixture, even after a crash.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

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
// file is then untouched and the temporary file removed. A link at `path`
// is replaced, never written through.
std::string WriteFileAtomically(const std::string& path, const std::string& bytes,
                                const FileCalls& calls = SystemFileCalls());

// Proves that WriteFileAtomically can create its temporary file beside
// `path`: "" or why not.
std::string ProbeWritable(const std::string& path);

// Removes the temporary files that WriteFileAtomically leaves beside `path`
// when the process is killed before it ends; returns their names.
std::vector<std::string> RemoveUnfinishedWrites(const std::string& path);

}  // namespace uninst::tool
