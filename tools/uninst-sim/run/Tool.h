// uninst-sim as a function of its arguments and standard streams.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/uninst-sim/machine/AtomicFile.h"

namespace uninst::tool {

// A run that ended normally: 0 when it removed (or, dry, would remove)
// something, 3 when it removed nothing.
constexpr int kExitOk = 0;
constexpr int kExitOutputFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNothingRemoved = 3;
// A run stopped by a signal ends with 128 + the signal's number.

struct ToolStreams {
  std::istream& in;
  bool inIsTerminal;
  std::ostream& out;
  std::ostream& err;
};

// `args` excludes the tool's own name; `saveCalls` write registry.reg back.
// Returns the exit status.
int RunTool(const std::vector<std::string>& args, ToolStreams streams,
            const FileCalls& saveCalls = SystemFileCalls());

// Holds back SIGINT, SIGTERM and SIGHUP, and ignores SIGPIPE, once RunTool
// has returned, so that the exit status stays the run's own.
void HoldStopSignals();

}  // namespace uninst::tool
