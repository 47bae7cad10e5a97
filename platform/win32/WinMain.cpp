// The Windows program: the one application object and the entry point.
#include "app/Startup.h"
#include "app/UninstallApp.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>

namespace {

// Constant-initialized and trivially destroyed: no start-up code, no guard,
// nothing registered for exit.
uninst::Win32Platform& GetWin32Platform() {
  static uninst::Win32Platform platform;
  return platform;
}

uninst::UninstallApp theApp(GetWin32Platform());

}  // namespace

// The application strips the program name from GetCommandLineA itself, so
// the runtime's lpCmdLine is not used.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return uninst::RunApplication(theApp); }
