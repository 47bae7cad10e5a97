// GoogleTest's thread start-up gate, Notification, is built on std::mutex,
// which the win32 thread model of this mingw GCC lacks. This forced include
// supplies it on a Windows event instead; GTEST_HAS_NOTIFICATION_ keeps
// GoogleTest from declaring its own.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : m_event(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(m_event); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { SetEvent(m_event); }
  void WaitForNotification() { WaitForSingleObject(m_event, INFINITE); }

 private:
  HANDLE m_event;
};

}  // namespace internal
}  // namespace testing
