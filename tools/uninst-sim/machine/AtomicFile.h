// Replacing a file in an open folder so that a reader sees either the old or
// the new content, never a mixture, even after a crash; and never a file
// that changed since it was read.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace uninst::tool {

// The system calls the replacement makes; tests swap them to fail midway.
struct FileCalls {
  std::function<ssize_t(int, const void*, std::size_t)> write;
  std::function<int(int)> fsync;
  // renameat2 within one folder: (folder, from, to, flags).
  std::function<int(int, const char*, const char*, unsigned)> rename;
};
FileCalls SystemFileCalls();

// What tells a file apart from a later content at the same name.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};
};
FileIdentity IdentityOf(const struct stat& status);
bool operator==(const FileIdentity& a, const FileIdentity& b);

// Writes `bytes` with `mode` to a temporary file beside `name` in `folder`,
// flushes it to disk and renames it over `name`. "" on success, else what
// failed (`label` names the file); the old file is then untouched and the
// temporary file removed.
std::string WriteFileAtomically(int folder, const std::string& name, const std::string& label,
                                const std::string& bytes, mode_t mode,
                                const FileCalls& calls = SystemFileCalls());

// A file's bytes in parts, written one after the other: a large file made
// of parts of another is never copied whole.
using ByteParts = std::vector<std::string_view>;

// Puts `bytes` at `name` in `folder` in place of the file `expected` that was
// read there, keeping its mode: the new file is exchanged with the old one,
// and the file it displaced must be `expected`, else the two are exchanged
// back and the new text is kept beside as NAME.uninst-sim-unsaved, so that
// nothing is lost. The displaced file moves to `keepIn`/`keepAs`, or is
// removed when `keepIn` is -1. "" on success, else what happened.
std::string ReplaceReadFile(int folder, const std::string& name, const ByteParts& bytes,
                            const FileIdentity& expected, mode_t mode, int keepIn,
                            const std::string& keepAs, const FileCalls& calls = SystemFileCalls());

// Proves that a temporary file can be made beside `name`: "" or why not.
std::string ProbeWritable(int folder, const std::string& name, const std::string& label);

// Removes the temporary files that a killed replacement of `name` left:
// only those with the name and the mark this code gives them. Returns
// their names.
std::vector<std::string> RemoveUnfinishedWrites(int folder, const std::string& name);

}  // namespace uninst::tool
