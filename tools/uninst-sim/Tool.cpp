#include "tools/uninst-sim/Tool.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/Startup.h"
#include "app/UninstallApp.h"
#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/AtomicFile.h"
#include "tools/uninst-sim/BoxAnswerer.h"
#include "tools/uninst-sim/MachineFolder.h"
#include "tools/uninst-sim/Options.h"
#include "tools/uninst-sim/Report.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

constexpr char kToolName[] = "uninst-sim";

// A scratch folder removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "uninst-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempFolder() {
    std::error_code code;
    if (!m_path.empty()) fs::remove_all(m_path, code);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

int Fail(ToolStreams& streams, int status, const std::string& message) {
  streams.err << kToolName << ": " << message << "\n";
  if (status == kExitUsage) streams.err << "Try '" << kToolName << " --help'.\n";
  return status;
}

// Proves that registry.reg can be replaced before anything is changed.
std::string CheckFolderWritable(const std::string& directory) {
  std::string probe = (fs::path(directory) / ".uninst-sim-probe-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return "the machine folder " + directory + " is not writable";
  ::close(fd);
  ::unlink(probe.c_str());
  return "";
}

// Everything that can be refused before the run starts.
std::string CheckBeforeRun(const Options& options, const MachineFolder& folder) {
  sim::Registry registry;
  LoadIntoRegistry(folder.registry, registry);
  Outcome<std::string> text =
      RegistryText(registry, folder.registry.format, folder.registry.encoding);
  if (!text.Ok()) return text.Error();
  if (!options.reportPath.empty()) {
    const fs::path parent = fs::absolute(options.reportPath).parent_path();
    std::error_code code;
    if (!fs::is_directory(parent, code)) {
      return "the folder of the report " + options.reportPath + " does not exist";
    }
  }
  return options.dryRun ? "" : CheckFolderWritable(folder.directory);
}

MachineState CaptureState(const MachineFolder& folder, sim::SimMachine& machine) {
  return MachineState{SnapshotOf(machine.GetRegistry()), ListMachineFiles(folder)};
}

RunReport RunProgram(const Options& options, const MachineFolder& folder, sim::SimMachine& machine,
                     ToolStreams& streams) {
  SetUpMachine(folder, machine);
  machine.Config().commandLine = ProgramCommandLine(options);
  BoxAnswerer answerer(options.answers.value_or(std::vector<int>{}),
                       streams.inIsTerminal ? &streams.in : nullptr, streams.out);
  machine.SetResponder(
      [&answerer](const sim::MessageBoxRecord& box) { return answerer.Answer(box); });

  RunReport report;
  report.commandLine = machine.Config().commandLine;
  report.dryRun = options.dryRun;
  const MachineState before = CaptureState(folder, machine);
  {
    auto app = std::make_unique<UninstallApp>(machine);
    RunApplication(*app);
  }
  CompareStates(before, CaptureState(folder, machine), &report);
  report.boxes = machine.Boxes();
  report.answerWarnings = answerer.Warnings();
  report.restartRequested = machine.RestartRequested();
  return report;
}

}  // namespace

int RunTool(const std::vector<std::string>& args, ToolStreams streams) {
  Outcome<Options> parsed = ParseOptions(args);
  if (!parsed.Ok()) return Fail(streams, kExitUsage, parsed.Error());
  const Options& options = parsed.Value();
  if (options.help) {
    streams.out << HelpText();
    return kExitOk;
  }
  if (options.version) {
    streams.out << VersionText();
    return kExitOk;
  }
  if (!options.answers && !streams.inIsTerminal) {
    return Fail(streams, kExitUsage,
                "standard input is not a terminal, so the message boxes need --answers");
  }
  Outcome<MachineFolder> folder = ReadMachineFolder(options.machineDirectory);
  if (!folder.Ok()) return Fail(streams, kExitUsage, folder.Error());
  const std::string refused = CheckBeforeRun(options, folder.Value());
  if (!refused.empty()) return Fail(streams, kExitUsage, refused);

  std::optional<TempFolder> copy;
  if (options.dryRun) {
    copy.emplace();
    if (copy->Path().empty()) {
      return Fail(streams, kExitOutputFailed, "cannot create a temporary folder");
    }
    const std::string error = CopyMachineFolder(folder.Value().directory, copy->Path());
    if (!error.empty()) return Fail(streams, kExitOutputFailed, error);
    folder.Value().directory = copy->Path();
  }
  sim::SimMachine machine;
  const RunReport report = RunProgram(options, folder.Value(), machine, streams);
  streams.out << FormatSummary(report);
  if (!options.dryRun && report.RegistryChanged()) {
    const std::string error = SaveRegistry(folder.Value(), machine.GetRegistry());
    if (!error.empty()) return Fail(streams, kExitOutputFailed, error);
  }
  if (!options.reportPath.empty()) {
    const std::string error = WriteFileAtomically(options.reportPath, FormatJson(report));
    if (!error.empty()) return Fail(streams, kExitOutputFailed, error);
  }
  return kExitOk;
}

}  // namespace uninst::tool
