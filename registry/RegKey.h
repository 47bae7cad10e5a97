// An open registry key that is closed when it goes out of scope, so no path
// through a sweep can leak a handle.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace uninst {

class RegKey {
 public:
  explicit RegKey(Platform& platform) : m_platform(platform) {}
  ~RegKey() { Close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  // RegOpenKey: the plain open, without an access mask.
  [[nodiscard]] bool Open(RegHandle root, const char* path) {
    Close();
    m_open = m_platform.RegOpenKey(root, path, &m_handle) == kErrorSuccess;
    return m_open;
  }

  [[nodiscard]] bool OpenEx(RegHandle root, const char* path, std::uint32_t access) {
    Close();
    m_open = m_platform.RegOpenKeyEx(root, path, access, &m_handle) == kErrorSuccess;
    return m_open;
  }

  void Close() {
    if (m_open) (void)m_platform.RegCloseKey(m_handle);
    m_open = false;
  }

  RegHandle Handle() const { return m_handle; }

 private:
  Platform& m_platform;
  RegHandle m_handle = 0;
  bool m_open = false;
};

}  // namespace uninst
