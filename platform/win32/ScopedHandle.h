// One RAII holder for every kind of Windows handle: the layer, its tests and
// the Wine helpers close what they open on every way out of a scope.
#pragma once

#include <windows.h>

namespace uninst {

// `Close` is the Windows function that releases a `Handle`. A null handle and
// INVALID_HANDLE_VALUE, the two failure values of the opening calls, are
// never closed.
template <typename Handle, auto Close>
class ScopedHandle {
 public:
  explicit ScopedHandle(Handle handle = nullptr) : m_handle(handle) {}
  ~ScopedHandle() {
    if (IsValid()) Close(m_handle);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const {
    return m_handle != nullptr && m_handle != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
  }
  Handle Get() const { return m_handle; }
  // For the calls that hand the handle back through a pointer.
  Handle* Receive() { return &m_handle; }

 private:
  Handle m_handle;
};

using ScopedKey = ScopedHandle<HKEY, ::RegCloseKey>;
using ScopedFind = ScopedHandle<HANDLE, ::FindClose>;
using ScopedKernelHandle = ScopedHandle<HANDLE, ::CloseHandle>;
using ScopedDc = ScopedHandle<HDC, ::DeleteDC>;
using ScopedBitmap = ScopedHandle<HBITMAP, ::DeleteObject>;

}  // namespace uninst
