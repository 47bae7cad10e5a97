// The version text shown next to a file in the removal question.
#pragma once

#include "platform/Platform.h"

namespace uninst {

constexpr int kProductVersion = 0;
constexpr int kFileVersion = 1;

// Writes the four numbers of the file version (`versionKind` nonzero) or the
// product version (0) of the file at `path` as "a.b.c.d" into `dest` of
// `capacity` bytes, cut to fit. A file without version information gives "".
// The earlier content of `dest` is always replaced. Returns true when `dest`
// now holds a non-empty text.
bool GetFileVersionText(Platform& platform, const char* path, int versionKind, char* dest,
                        int capacity);

}  // namespace uninst
