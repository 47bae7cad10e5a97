// uninst-sim killed at random moments: registry.reg is always whole, old or
// new; SIGINT and SIGTERM end the run with a word on how far it went and
// leave nothing behind; what SIGKILL leaves, the next run removes and names,
// and an undo gives back the files of a run stopped anywhere.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/tools/ToolTestFolders.h"

namespace uninst::tool {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

struct KillCase {
  const char* name;
  int signal;
  bool dryRun;
};

class Kills : public ::testing::TestWithParam<KillCase> {};

// Runs the tool in a child process as main() does, with a slow flush so that a kill may
// land in the middle of the save; its output goes to `out` and `err`.
pid_t StartRun(const std::vector<std::string>& args, const fs::path& temp, const fs::path& out,
               const fs::path& err) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  ::setenv("TMPDIR", temp.c_str(), 1);
  FileCalls calls = SystemFileCalls();
  calls.fsync = [](int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    return ::fsync(fd);
  };
  const testing::ToolRun run = testing::RunWith(args, "", false, calls);
  HoldStopSignals();
  testing::WriteText(out, run.out);
  testing::WriteText(err, run.err);
  ::_exit(run.status);
}

bool HoldsUnfinishedSave(const fs::path& machine) {
  for (const fs::directory_entry& entry : fs::directory_iterator(machine)) {
    if (entry.path().filename().string().rfind(".registry.reg.", 0) == 0) return true;
  }
  return false;
}

TEST_P(Kills, LeaveTheFolderOldOrNewWithoutDebris) {
  const KillCase& c = GetParam();
  std::random_device device;
  const unsigned seed = device();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 3; ++round) {
    ScratchFolder scratch;
    const fs::path machine = scratch.Path() / "machine";
    const fs::path temp = scratch.Path() / "tmp";
    testing::CopyDemoMachine(machine);
    fs::create_directory(temp);
    const std::string registry = testing::ReadText(machine / "registry.reg");
    const auto drive = testing::TreePicture(machine / "drive_c");
    std::vector<std::string> args = {"--machine", machine.string(), "--answers", "yes,no"};
    if (c.dryRun) args.push_back("--dry-run");

    const pid_t child = StartRun(args, temp, scratch.Path() / "out", scratch.Path() / "err");
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
    ::kill(child, c.signal);
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    const std::string err = testing::ReadText(scratch.Path() / "err");
    const bool changed = testing::ReadText(machine / "registry.reg") != registry;
    EXPECT_TRUE(ReadMachineFolder(machine.string()).Ok());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 128 + c.signal) {
      EXPECT_NE(err.find("interrupted by SIG"), std::string::npos) << err;
      EXPECT_EQ(changed, err.find("saved in registry.reg") != std::string::npos) << err;
    } else if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), kExitOk) << err;
      EXPECT_EQ(changed, !c.dryRun);
    } else {
      // Killed outright: by SIGKILL, or by another signal before the run began.
      EXPECT_TRUE(c.signal == SIGKILL || !changed);
    }
    if (c.signal != SIGKILL) {
      EXPECT_FALSE(HoldsUnfinishedSave(machine));
      EXPECT_TRUE(fs::is_empty(temp));
    }

    // Whenever the run stopped, an undo gives its files back.
    if (!c.dryRun) {
      const testing::ToolRun undo = testing::RunWith({"--machine", machine.string(), "--undo"});
      if (undo.status == kExitOk) {
        EXPECT_EQ(testing::TreePicture(machine / "drive_c"), drive);
      } else {
        EXPECT_NE(undo.err.find("there is no run to undo"), std::string::npos) << undo.err;
      }
    }

    // The next run of the same kind clears what a kill left, and says so.
    const bool leftover = HoldsUnfinishedSave(machine) || !fs::is_empty(temp);
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    ::setenv("TMPDIR", temp.c_str(), 1);
    args[3] = "no";
    const testing::ToolRun next = testing::RunWith(args);
    previous ? ::setenv("TMPDIR", kept.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(next.status, kExitNothingRemoved) << next.err;
    EXPECT_EQ(leftover, next.err.find("uninst-sim: removed ") != std::string::npos) << next.err;
    EXPECT_FALSE(HoldsUnfinishedSave(machine));
    EXPECT_TRUE(fs::is_empty(temp));
  }
}

INSTANTIATE_TEST_SUITE_P(
    UninstSim, Kills,
    ::testing::Values(KillCase{"Interrupt", SIGINT, false}, KillCase{"Terminate", SIGTERM, false},
                      KillCase{"Kill", SIGKILL, false}, KillCase{"InterruptDryRun", SIGINT, true},
                      KillCase{"KillDryRun", SIGKILL, true}),
    [](const ::testing::TestParamInfo<KillCase>& info) { return info.param.name; });

}  // namespace
}  // namespace uninst::tool
