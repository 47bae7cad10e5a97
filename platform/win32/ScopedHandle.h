// One RAII holder for every kind of Windows handle: the layer, its tests and
// the Wine helpers close what they open on every way out of a scope.
#pragma once

#include <windows.h>

namespace uninst {

// `Release` is the Windows function that closes a `Handle`. A null handle and
// INVALID_HANDLE_VALUE, the two failure values of the opening calls, are
// never closed.
template <typename Handle, auto Release>
class ScopedHandle {
 public:
  explicit ScopedHandle(Handle handle = nullptr) : m_handle(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const {
    return m_handle != nullptr && m_handle != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
  }
  Handle Get() const { return m_handle; }
  // For the calls that hand the handle back through a pointer: what the
  // holder held is released first, so that it cannot leak.
  Handle* Receive() {
    Close();
    return &m_handle;
  }
  // Hands the handle over to the caller, who closes it.
  Handle Detach() {
    const Handle handle = m_handle;
    m_handle = nullptr;
    return handle;
  }
  void Close() {
    if (IsValid()) Release(m_handle);
    m_handle = nullptr;
  }

 private:
  Handle m_handle;
};

using ScopedKey = ScopedHandle<HKEY, ::RegCloseKey>;
using ScopedFind = ScopedHandle<HANDLE, ::FindClose>;
using ScopedKernelHandle = ScopedHandle<HANDLE, ::CloseHandle>;
using ScopedDc = ScopedHandle<HDC, ::DeleteDC>;
using ScopedBitmap = ScopedHandle<HBITMAP, ::DeleteObject>;

}  // namespace uninst
