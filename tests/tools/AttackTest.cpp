// uninst-sim as an attacker or a careless user would drive it: things done
// to the machine folder before the run or while a message box waits. Each
// run's status and words are the truth, and the canary folder outside the
// machine folder (content, modes, times, attributes; $TMPDIR too) stays as
// it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "tests/tools/ToolTestFolders.h"

namespace uninst::tool {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

struct Paths {
  fs::path machine;
  fs::path canary;
};

using Act = void (*)(const Paths&);

// Runs `action` when the run first reads a key at a prompt, then gives `keys`.
class PromptHook : public std::streambuf {
 public:
  PromptHook(std::function<void()> action, std::string keys)
      : m_action(std::move(action)), m_keys(std::move(keys)) {}

 protected:
  int_type underflow() override {
    if (m_action) {
      m_action();
      m_action = nullptr;
      setg(m_keys.data(), m_keys.data(), m_keys.data() + m_keys.size());
    }
    return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
  }

 private:
  std::function<void()> m_action;
  std::string m_keys;
};

struct AttackCase {
  const char* name;
  Act plant;                      // before the run
  std::vector<std::string> args;  // MACHINE and CANARY stand for the folders
  Act atPrompt;                   // at the first prompt read from the terminal
  int status;
  const char* said;                       // in the output or the errors
  bool (*holds)(const Paths&) = nullptr;  // what else must be true after
  // The output goes to a pipe nobody reads: a write raises SIGPIPE.
  bool outputClosed = false;
};

void Nothing(const Paths&) {}

const fs::path kMovedDriver = "drive_c/WINDOWS/SYSTEM/IOSUBSYS/KMNFD.VXD";

const AttackCase kAttacks[] = {
    {"PeoplesFilesBesideTheRegistryStay",
     [](const Paths& p) {
       testing::WriteText(p.machine / ".registry.reg.backup", "mine");
       testing::WriteText(p.machine / ".registry.reg.before", "mine too");
     },
     {"--answers", "no"},
     nullptr,
     kExitNothingRemoved,
     "Files deleted (0)",
     [](const Paths& p) {
       return fs::exists(p.machine / ".registry.reg.backup") &&
              fs::exists(p.machine / ".registry.reg.before");
     }},
    {"FileMovedAsideAtAPromptIsNotReportedDeleted",
     Nothing,
     {"--answers", "yes", "--", "/E", "/V"},
     [](const Paths& p) { fs::rename(p.machine / kMovedDriver, p.machine / "moved.vxd"); },
     kExitOk,
     "Files deleted (22)",
     [](const Paths& p) { return fs::exists(p.machine / "moved.vxd"); }},
    {"RegistryEditedDuringTheRunIsKept",
     Nothing,
     {"--answers", "yes"},
     [](const Paths& p) {
       std::ofstream(p.machine / "registry.reg", std::ios::app)
           << "[HKEY_LOCAL_MACHINE\\Added]\r\n";
     },
     kExitOutputFailed,
     "registry.reg.uninst-sim-unsaved",
     [](const Paths& p) {
       return testing::ReadText(p.machine / "registry.reg").find("Added") != std::string::npos &&
              fs::exists(p.machine / "registry.reg.uninst-sim-unsaved");
     }},
    // The folder is swapped for the canary at a prompt: the run goes on in
    // the folder it opened.
    {"MachineSwappedAtAPrompt",
     Nothing,
     {"--answers", "yes"},
     [](const Paths& p) {
       fs::rename(p.machine, p.machine.string() + "-moved");
       fs::rename(p.canary, p.machine);
     },
     kExitOk,
     "Files deleted (23)",
     [](const Paths& p) {
       fs::rename(p.machine, p.canary);
       fs::rename(p.machine.string() + "-moved", p.machine);
       return testing::ReadText(p.machine / "registry.reg").find("PID_FFFF") == std::string::npos;
     }},
    {"SecondRunIsRefusedWhileTheFirstHoldsTheFolder",
     Nothing,
     {"--answers", "yes"},
     [](const Paths& p) {
       const testing::ToolRun second =
           testing::RunWith({"--machine", p.machine.string(), "--answers", "yes"});
       testing::WriteText(p.machine.parent_path() / "second.txt",
                          std::to_string(second.status) + " " + second.err);
     },
     kExitOk,
     "Files deleted (23)",
     [](const Paths& p) {
       return testing::ReadText(p.machine.parent_path() / "second.txt")
                  .find("2 uninst-sim: another uninst-sim is working on") == 0;
     }},
    {"ReportThroughALinkIsRefused",
     [](const Paths& p) { fs::create_symlink(p.canary / "AUTOEXEC.BAT", p.canary / "r.json"); },
     {"--answers", "yes", "--report", "CANARY/r.json"},
     nullptr,
     kExitUsage,
     "r.json is a symbolic link"},
    {"ReportOnAFifoIsRefused",
     [](const Paths& p) { ::mkfifo((p.machine.parent_path() / "fifo").c_str(), 0644); },
     {"--answers", "yes", "--report", "MACHINE/../fifo"},
     nullptr,
     kExitUsage,
     "fifo is a FIFO"},
    {"ReportInsideTheMachineThroughItsParent",
     Nothing,
     {"--answers", "yes", "--report", "MACHINE/drive_c/../registry.reg"},
     nullptr,
     kExitUsage,
     "is inside the machine folder"},
    {"InterruptedRunStillReports",
     Nothing,
     {"--answers", "yes", "--report", "MACHINE/../r.json", "--", "/E", "/V"},
     [](const Paths&) { std::raise(SIGINT); },
     128 + SIGINT,
     "Interrupted by SIGINT",
     [](const Paths& p) {
       return testing::ReadText(p.machine.parent_path() / "r.json")
                  .find("\"interruptedBy\": \"SIGINT\"") != std::string::npos;
     }},
    {"DryRunLeavesTheTemporaryFolderAlone",
     Nothing,
     {"--dry-run", "--answers", "yes,yes"},
     nullptr,
     kExitOk,
     "Dry run: the machine folder was not changed",
     [](const Paths& p) { return !fs::exists(p.machine / ".uninst-sim-undo"); }},
    {"OutputNobodyReadsDoesNotStopTheRun",
     Nothing,
     {"--answers", "yes,no"},
     nullptr,
     kExitOk,
     "the standard output was closed",
     [](const Paths& p) {
       return testing::ReadText(p.machine / "registry.reg").find("PID_FFFF") == std::string::npos;
     },
     true},
    {"UndoIsRefusedWhenADeletedFileIsBack",
     [](const Paths& p) {
       testing::RunWith({"--machine", p.machine.string(), "--answers", "yes,no"});
       testing::WriteText(p.machine / kMovedDriver, "a new one");
     },
     {"--undo"},
     nullptr,
     kExitUsage,
     "KMNFD.VXD exists again",
     [](const Paths& p) { return testing::ReadText(p.machine / kMovedDriver) == "a new one"; }},
};

class Attacks : public ::testing::TestWithParam<AttackCase> {};

// Files with modes, times and attributes, and what a careless cleaner of
// the temporary folder would take for its own.
void MakeCanary(const fs::path& canary) {
  fs::copy(testing::DemoMachine() / "drive_c", canary, fs::copy_options::recursive);
  fs::create_directories(canary / "uninst-sim-1-x86_64");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(canary)) {
    if (!entry.is_regular_file()) continue;
    ::setxattr(entry.path().c_str(), sim::kDosAttributeName, "0x6", 3, 0);
    const timespec times[2] = {{978307200, 0}, {978307200, 0}};
    ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
  }
}

TEST_P(Attacks, AreToldTheTruthAndLeaveTheCanaryAlone) {
  const AttackCase& c = GetParam();
  ScratchFolder scratch;
  const Paths paths{scratch.Path() / "machine", scratch.Path() / "canary"};
  testing::CopyDemoMachine(paths.machine);
  MakeCanary(paths.canary);
  c.plant(paths);
  const auto canary = testing::TreePicture(paths.canary);
  const char* previous = std::getenv("TMPDIR");
  const std::string kept = previous ? previous : "";
  ::setenv("TMPDIR", paths.canary.c_str(), 1);

  std::vector<std::string> args = {"--machine", paths.machine.string()};
  for (std::string arg : c.args) {
    for (const auto& [word, path] :
         {std::pair{"MACHINE", paths.machine}, std::pair{"CANARY", paths.canary}}) {
      if (arg.rfind(word, 0) == 0) arg.replace(0, std::strlen(word), path.string());
    }
    args.push_back(arg);
  }
  // Yes to a question, else Enter for OK.
  std::string answers;
  for (int box = 0; box < 32; ++box) answers += "y\n\n";
  PromptHook hook(c.atPrompt ? std::function<void()>([&] { c.atPrompt(paths); }) : nullptr,
                  answers);
  std::istream keys(&hook);
  std::ostringstream out;
  std::ostringstream err;
  int pipe[2] = {-1, -1};
  ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
  ::close(pipe[0]);
  __gnu_cxx::stdio_filebuf<char> unread(pipe[1], std::ios::out);
  std::ostream closed(&unread);
  const int status =
      RunTool(args, {keys, c.atPrompt != nullptr, c.outputClosed ? closed : out, err});
  previous ? ::setenv("TMPDIR", kept.c_str(), 1) : ::unsetenv("TMPDIR");
  // What the stream still holds goes nowhere, without a SIGPIPE for this test.
  struct sigaction ignore {};
  struct sigaction before {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &before);
  unread.close();
  ::sigaction(SIGPIPE, &before, nullptr);

  EXPECT_EQ(status, c.status) << err.str();
  EXPECT_NE((out.str() + err.str()).find(c.said), std::string::npos) << out.str() << err.str();
  EXPECT_TRUE(!c.holds || c.holds(paths));
  EXPECT_EQ(testing::TreePicture(paths.canary), canary);
}

INSTANTIATE_TEST_SUITE_P(UninstSim, Attacks, ::testing::ValuesIn(kAttacks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace uninst::tool
