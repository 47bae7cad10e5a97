#include "files/FileVersion.h"

#include <cstdint>
#include <cstdlib>

#include "core/Text.h"
#include "files/AppendNumber.h"

namespace uninst {

namespace {

// A heap block that lives for one call.
class TemporaryBlock {
 public:
  explicit TemporaryBlock(std::size_t size) : m_data(std::malloc(size)) {}
  ~TemporaryBlock() { std::free(m_data); }
  TemporaryBlock(const TemporaryBlock&) = delete;
  TemporaryBlock& operator=(const TemporaryBlock&) = delete;

  void* Get() const { return m_data; }

 private:
  void* m_data;
};

// Copies at most capacity - 1 bytes and a terminator, as lstrcpynA does.
void CopyCut(char* dest, int capacity, const char* source) {
  if (capacity < 1) return;
  int length = 0;
  while (length < capacity - 1 && source[length] != '\0') {
    dest[length] = source[length];
    ++length;
  }
  dest[length] = '\0';
}

// "a.b.c.d" from the high and low 16 bits of the two version words.
void FormatVersion(std::uint32_t high, std::uint32_t low, Text& text) {
  const std::uint16_t numbers[] = {
      static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
      static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
  text.Clear();
  for (std::uint16_t value : numbers) {
    if (!text.IsEmpty()) text.Append(".");
    AppendNumber(text, value, 1);
  }
}

// Reads the fixed version information into `info`; false when the file has none.
bool ReadFixedFileInfo(Platform& platform, const char* path, FixedFileInfo* info) {
  const std::uint32_t size = platform.GetFileVersionInfoSize(path);
  if (size == 0) return false;
  // The version block is read as 32-bit words: give it whole ones.
  const std::uint32_t rounded = (size + 3u) & ~3u;
  if (rounded < size) return false;
  TemporaryBlock block(rounded);
  if (block.Get() == nullptr) return false;
  return platform.GetFileVersionInfo(path, size, block.Get()) &&
         platform.QueryFixedFileInfo(block.Get(), info);
}

}  // namespace

bool GetFileVersionText(Platform& platform, const char* path, int versionKind, char* dest,
                        int capacity) {
  Text text;
  FixedFileInfo info;
  if (ReadFixedFileInfo(platform, path, &info)) {
    if (versionKind != kProductVersion) {
      FormatVersion(info.fileVersionMS, info.fileVersionLS, text);
    } else {
      FormatVersion(info.productVersionMS, info.productVersionLS, text);
    }
  }
  if (capacity < 1) return false;
  CopyCut(dest, capacity, text.Get());
  return dest[0] != '\0';
}

}  // namespace uninst
