// What the run hands each cleanup phase, and what a phase gives back.
#pragma once

#include "app/UninstallApp.h"

namespace uninst {

enum class SweepOutcome { kGoOn, kCancelled };

struct Run {
  explicit Run(UninstallApp& application) : app(application) {}

  UninstallApp& app;
  // Base of the file paths the phases build, without its trailing backslash.
  const char* windowsDirectory = "";
  // Set when any removal answer is Yes; chooses the closing box.
  bool restartFlag = false;

  // Removes the file whose full path the path buffer holds and applies the
  // rule every phase follows: Cancel ends the phase, Yes sets the restart
  // flag, any other answer goes on.
  [[nodiscard]] SweepOutcome RemovePathBufferFile();
};

}  // namespace uninst
