// Process start-up: from the process command line to InitInstance and back.
#pragma once

#include "app/UninstallApp.h"
#include "platform/Platform.h"

namespace uninst {

// The command-line text after the program name: a quoted name up to and
// including its closing quote (or everything, without one), else everything
// up to the first byte at or below 0x20; then the bytes 0x01 to 0x20 after it.
const char* StripProgramName(const char* commandLine, Platform& platform);

// Sets the error mode, hands the command line to the application, calls
// InitInstance once and returns the process exit code (always 0).
int RunApplication(UninstallApp& app);

}  // namespace uninst
