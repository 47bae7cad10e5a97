// The Windows program: the one application object and the entry point.
#include "app/Startup.h"
#include "app/UninstallApp.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cstddef>

namespace {

// Constant-initialized and trivially destroyed: no start-up code, no guard,
// nothing registered for exit. It has no state, so nothing ever writes to it:
// constant, it lies with the read-only data, and the program needs no
// writable data section at all.
const uninst::Win32Platform kPlatform;

uninst::UninstallApp theApp(const_cast<uninst::Win32Platform&>(kPlatform));

}  // namespace

#ifdef _MSC_VER

// The static C runtime's start-up constructs the application object and calls
// this. The application strips the program name from GetCommandLineA itself,
// so the runtime's lpCmdLine is not used.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return uninst::RunApplication(theApp); }

#else

// The linker's list of static constructors: a -1 marker, the constructors in
// link order, a null end.
using Constructor = void (*)();
extern "C" const Constructor __CTOR_LIST__[];

namespace {

// In reverse link order, as the GNU start-up code does.
void RunStaticConstructors() {
  std::size_t count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) ++count;
  for (; count > 0; --count) __CTOR_LIST__[count]();
}

}  // namespace

// The process entry point, in place of a C runtime's start-up: the program
// needs no argv, environment, atexit, floating point or thread-local data.
// The application strips the program name from GetCommandLineA itself, and
// its exit code is always 0.
extern "C" void UninstEntry() {
  RunStaticConstructors();
  ExitProcess(static_cast<UINT>(uninst::RunApplication(theApp)));
}

#endif
