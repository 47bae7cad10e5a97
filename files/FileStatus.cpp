#include "files/FileStatus.h"

#include <cstdint>

#include "core/PlatformHandle.h"

namespace uninst {

namespace {

LocalSeconds OrLastWrite(const LocalSeconds& time, const LocalSeconds& lastWrite) {
  return time.IsAbsent() ? lastWrite : time;
}

// False for an absent time and for one that cannot be converted back.
bool ConvertBack(Platform& platform, const LocalSeconds& time, FileTime* utc) {
  return time.InSpan() && time.seconds != 0 &&
         FileTimeFromLocalSeconds(platform, time.seconds, utc);
}

// Writes back the times that convert; the others stay as they are.
bool WriteTimes(Platform& platform, const char* path, const FileStatus& status) {
  const LocalSeconds* const sources[] = {&status.creation, &status.lastAccess, &status.lastWrite};
  FileTime times[3];
  const FileTime* written[3] = {};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    if (ConvertBack(platform, *sources[i], &times[i])) {
      written[i] = &times[i];
      any = true;
    }
  }
  if (!any) return true;
  OpenedFile file(platform,
                  platform.CreateFile(path, kGenericRead | kGenericWrite, kFileShareRead, false));
  return file.IsValid() && platform.SetFileTime(file.Get(), written[0], written[1], written[2]);
}

}  // namespace

FileStatus ReadFileStatus(Platform& platform, const char* path) {
  FileStatus status;
  FindData found;
  if (!platform.FindFile(path, &found)) return status;
  status.lastWrite = LocalSecondsFromFileTime(platform, found.lastWriteTime);
  status.creation =
      OrLastWrite(LocalSecondsFromFileTime(platform, found.creationTime), status.lastWrite);
  status.lastAccess =
      OrLastWrite(LocalSecondsFromFileTime(platform, found.lastAccessTime), status.lastWrite);
  return status;
}

// A read-only file loses its attribute before the time write, which needs it
// writable.
bool WriteFileStatus(Platform& platform, const char* path, const FileStatus& status) {
  const std::uint32_t current = platform.GetFileAttributes(path);
  if (current == kInvalidFileAttributes) return false;
  const bool readOnly = (current & kFileAttributeReadOnly) != 0;
  if (current != 0 && readOnly && !platform.SetFileAttributes(path, 0)) return false;
  if (!status.lastWrite.IsAbsent() && !WriteTimes(platform, path, status)) return false;
  if (current != 0 && !readOnly && !platform.SetFileAttributes(path, 0)) return false;
  return true;
}

}  // namespace uninst
