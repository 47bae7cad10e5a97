// Scratch folders for the uninst-sim tests, and a byte-exact picture of a
// folder tree to prove that a run left it alone.
#pragma once

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/HostFiles.h"
#include "tests/support/SimFixture.h"
#include "tools/uninst-sim/machine/MachineFolder.h"
#include "tools/uninst-sim/run/Tool.h"

namespace uninst::tool::testing {

namespace fs = std::filesystem;

// The shared scratch folder, seen as a filesystem path.
class ScratchFolder : public testsupport::ScratchFolder {
 public:
  fs::path Path() const { return fs::path(testsupport::ScratchFolder::Path()); }
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline fs::path DemoMachine() {
  return fs::path(__FILE__).parent_path() / ".." / ".." / "examples" / "demo-machine";
}

// A copy of the demo machine that a test may change, with its [files]
// entries applied as any load applies them, so that a later load changes
// nothing by itself.
inline void CopyDemoMachine(const fs::path& to) {
  fs::copy(DemoMachine(), to, fs::copy_options::recursive);
  Outcome<MachineFolder> folder = ReadMachineFolder(to.string());
  ASSERT_TRUE(folder.Ok()) << folder.Error();
  sim::SimMachine machine;
  SetUpMachine(folder.Value(), machine);
}

// Every entry below `root`: contents, mode, last-write time and extended
// attributes.
inline std::map<std::string, std::string> TreePicture(const fs::path& root) {
  std::map<std::string, std::string> picture;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    struct stat status {};
    ::lstat(entry.path().c_str(), &status);
    std::string line = std::to_string(status.st_mode) + " " +
                       std::to_string(status.st_mtim.tv_sec) + "." +
                       std::to_string(status.st_mtim.tv_nsec);
    char names[1024] = {};
    const ssize_t length = ::llistxattr(entry.path().c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
      char value[256] = {};
      ::lgetxattr(entry.path().c_str(), names + at, value, sizeof value - 1);
      line += std::string(" ") + (names + at) + "=" + value;
    }
    if (entry.is_regular_file()) line += " " + ReadText(entry.path());
    picture[fs::relative(entry.path(), root).string()] = line;
  }
  return picture;
}

struct ToolRun {
  int status = 0;
  std::string out;
  std::string err;
};

// Every report a test makes must match the schema shipped with the tool.
inline void ExpectValidReport(const fs::path& report) {
  const fs::path source = fs::path(__FILE__).parent_path() / ".." / "..";
  const std::string command = std::string(UNINST_PYTHON) + " '" +
                              (source / "tests/tools/check_report.py").string() + "' '" +
                              (source / "tools/uninst-sim/report.schema.json").string() + "' '" +
                              report.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    output.append(buffer, got);
  }
  EXPECT_EQ(::pclose(pipe), 0) << output;
}

// The report a run was asked for, when it wrote one; "-" is the standard
// output from its first line "{" on.
inline void ExpectValidReportOf(const std::vector<std::string>& args, const std::string& out) {
  for (std::size_t i = 0; i + 1 < args.size() && args[i] != "--"; ++i) {
    if (args[i] != "--report") continue;
    if (args[i + 1] != "-") {
      if (fs::is_regular_file(args[i + 1])) ExpectValidReport(args[i + 1]);
      continue;
    }
    const std::size_t start = out.rfind("{\n", 0) == 0 ? 0 : out.find("\n{\n");
    ASSERT_NE(start, std::string::npos) << out;
    const testsupport::ScratchFolder scratch;
    const fs::path report = fs::path(scratch.Path()) / "report.json";
    WriteText(report, out.substr(start));
    ExpectValidReport(report);
  }
}

inline ToolRun RunWith(const std::vector<std::string>& args, const std::string& keys = "",
                       bool terminal = false, const FileCalls& saveCalls = SystemFileCalls()) {
  std::istringstream in(keys);
  std::ostringstream out;
  std::ostringstream err;
  ToolRun run;
  run.status = RunTool(args, {in, terminal, out, err}, saveCalls);
  run.out = out.str();
  run.err = err.str();
  if (run.status != kExitUsage) ExpectValidReportOf(args, run.out);
  return run;
}

}  // namespace uninst::tool::testing
