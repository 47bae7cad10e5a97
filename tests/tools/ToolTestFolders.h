// Scratch folders for the uninst-sim tests, and a byte-exact picture of a
// folder tree to prove that a run left it alone.
#pragma once

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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

inline ToolRun RunWith(const std::vector<std::string>& args, const std::string& keys = "",
                       bool terminal = false, const FileCalls& saveCalls = SystemFileCalls()) {
  std::istringstream in(keys);
  std::ostringstream out;
  std::ostringstream err;
  ToolRun run;
  run.status = RunTool(args, {in, terminal, out, err}, saveCalls);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace uninst::tool::testing
