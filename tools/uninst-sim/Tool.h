// uninst-sim as a function of its arguments and standard streams.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace uninst::tool {

constexpr int kExitOk = 0;
constexpr int kExitOutputFailed = 1;
constexpr int kExitUsage = 2;

struct ToolStreams {
  std::istream& in;
  bool inIsTerminal;
  std::ostream& out;
  std::ostream& err;
};

// `args` excludes the tool's own name. Returns the exit status.
int RunTool(const std::vector<std::string>& args, ToolStreams streams);

}  // namespace uninst::tool
