// The round trip a removal gives a file's times before deleting it: read by
// name, then written back through the 32-bit local seconds, with the
// attributes reset.
#pragma once

#include "files/LocalTime.h"
#include "platform/Platform.h"

namespace uninst {

// The three times of a file as found by name.
struct FileStatus {
  LocalSeconds creation;
  LocalSeconds lastAccess;
  LocalSeconds lastWrite;
};

// The times of the file at `path`; all absent when it cannot be found. An
// absent creation or last-access time takes the last-write time.
FileStatus ReadFileStatus(Platform& platform, const char* path);

// Writes `status` back to the file at `path` with no attributes. Times that
// cannot be converted back stay as they are. False when the attributes or the
// times could not be written.
[[nodiscard]] bool WriteFileStatus(Platform& platform, const char* path, const FileStatus& status);

}  // namespace uninst
