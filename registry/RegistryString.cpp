#include "registry/RegistryString.h"

#include "core/PlatformHandle.h"

namespace uninst {

namespace {

// Bytes of a terminated string in `dest`, given the `stored` bytes the query
// reported, or 0. Data written without its terminator gets one when it fits.
std::uint32_t TerminateStored(char* dest, std::uint32_t stored, std::uint32_t size) {
  if (stored == 0 || stored > size) return 0;
  if (dest[stored - 1] == '\0') return stored;
  if (stored == size) return 0;
  dest[stored] = '\0';
  return stored + 1;
}

}  // namespace

std::uint32_t ReadRegistryString(Platform& platform, RegHandle root, const char* subkey,
                                 const char* valueName, char* dest, std::uint32_t size) {
  RegKey key(platform);
  if (platform.RegOpenKeyEx(root, subkey, kKeyQueryValue, key.Receive()) != kErrorSuccess) {
    return 0;
  }
  std::uint32_t type = kRegNone;
  std::uint32_t stored = size;
  const long result = platform.RegQueryValueEx(key.Get(), valueName, &type,
                                               reinterpret_cast<std::uint8_t*>(dest), &stored);
  if (result != kErrorSuccess || type != kRegSz) return 0;
  return TerminateStored(dest, stored, size);
}

}  // namespace uninst
