// Move-only owners of the handles the Platform hands out. Each holder keeps
// the Platform that opened its handle and closes it there on every way out
// of a scope, so no path through a phase or a test can leak one.
#pragma once

#include "platform/Platform.h"

namespace uninst {

// `Traits` names the handle type, the value that holds nothing (what a failed
// open leaves) and the call that closes a handle.
template <typename Traits>
class PlatformHandle {
 public:
  using Handle = typename Traits::Handle;

  explicit PlatformHandle(Platform& platform, Handle handle = Traits::kNone)
      : m_platform(&platform), m_handle(handle) {}
  ~PlatformHandle() { Reset(); }
  PlatformHandle(const PlatformHandle&) = delete;
  PlatformHandle& operator=(const PlatformHandle&) = delete;
  PlatformHandle(PlatformHandle&& other)
      : m_platform(other.m_platform), m_handle(other.Release()) {}
  PlatformHandle& operator=(PlatformHandle&& other) {
    if (this != &other) {
      Reset();
      m_platform = other.m_platform;
      m_handle = other.Release();
    }
    return *this;
  }

  bool IsValid() const { return m_handle != Traits::kNone; }
  Handle Get() const { return m_handle; }
  // Hands the handle over without closing it: closing is then the caller's.
  [[nodiscard]] Handle Release() {
    const Handle handle = m_handle;
    m_handle = Traits::kNone;
    return handle;
  }
  // Closes what is held, then holds `handle`.
  void Reset(Handle handle = Traits::kNone) {
    if (IsValid()) Traits::Close(*m_platform, m_handle);
    m_handle = handle;
  }
  // For the calls that hand a handle back through a pointer. What was held is
  // closed first, so that it cannot leak, and the call finds nothing there.
  [[nodiscard]] Handle* Receive() {
    Reset();
    return &m_handle;
  }

 private:
  Platform* m_platform;
  Handle m_handle;
};

struct RegKeyTraits {
  using Handle = RegHandle;
  static constexpr RegHandle kNone = 0;
  static void Close(Platform& platform, RegHandle key) { (void)platform.RegCloseKey(key); }
};

struct FileTraits {
  using Handle = FileHandle;
  static constexpr FileHandle kNone = kInvalidFile;
  static void Close(Platform& platform, FileHandle file) { (void)platform.CloseHandle(file); }
};

// An open registry key; open it with `RegOpenKey(..., key.Receive())`.
using RegKey = PlatformHandle<RegKeyTraits>;
// A file opened with `CreateFile`.
using OpenedFile = PlatformHandle<FileTraits>;

}  // namespace uninst
