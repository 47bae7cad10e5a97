#include "tools/uninst-sim/run/Tool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>

#include "app/Startup.h"
#include "app/Switches.h"
#include "app/UninstallApp.h"
#include "platform/sim/CodePage.h"
#include "platform/sim/HostFiles.h"
#include "platform/sim/SimMachine.h"
#include "tools/uninst-sim/machine/AtomicFile.h"
#include "tools/uninst-sim/machine/MachineCheck.h"
#include "tools/uninst-sim/machine/MachineFolder.h"
#include "tools/uninst-sim/machine/ReportTarget.h"
#include "tools/uninst-sim/run/BoxAnswerer.h"
#include "tools/uninst-sim/run/Options.h"
#include "tools/uninst-sim/run/Report.h"
#include "tools/uninst-sim/run/Undo.h"

namespace uninst::tool {

namespace fs = std::filesystem;

namespace {

constexpr char kToolName[] = "uninst-sim";
constexpr char kStandardOutput[] = "-";

struct SignalName {
  int signal;
  const char* name;
};
constexpr SignalName kStopSignals[] = {
    {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};

// While it lives, SIGINT, SIGTERM and SIGHUP stop the run rather than the
// process, so that the run ends as any other: the simulated machine fails
// every call from then on, the registry is saved as far as the run went and
// the report is written. A blocking read of the terminal is interrupted too
// (no SA_RESTART). SIGPIPE is ignored, so that output nobody reads any more
// (a pager quit early) fails its writes instead of killing the run midway. A
// handler can only leave its mark in a static.
class InterruptGuard {
 public:
  InterruptGuard() {
    s_signal = 0;
    struct sigaction action {};
    action.sa_handler = [](int signal) { s_signal = signal; };
    sigemptyset(&action.sa_mask);
    // A signal ignored by whoever started the tool (nohup) stays ignored.
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i].signal, nullptr, &m_previous[i]);
      if (m_previous[i].sa_handler != SIG_IGN)
        ::sigaction(kStopSignals[i].signal, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &m_previousPipe);
  }
  ~InterruptGuard() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i].signal, &m_previous[i], nullptr);
    }
    ::sigaction(SIGPIPE, &m_previousPipe, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  static const volatile std::sig_atomic_t* Flag() { return &s_signal; }
  // The name of the signal received, or "".
  static std::string Received() {
    for (const SignalName& known : kStopSignals) {
      if (known.signal == s_signal) return known.name;
    }
    return "";
  }
  static int ExitStatus() { return 128 + s_signal; }

 private:
  static volatile std::sig_atomic_t s_signal;
  struct sigaction m_previous[std::size(kStopSignals)];
  struct sigaction m_previousPipe;
};

volatile std::sig_atomic_t InterruptGuard::s_signal = 0;

void Say(ToolStreams& streams, const std::string& message) {
  streams.err << kToolName << ": " << TerminalText(message) << "\n";
}

void Warn(ToolStreams& streams, const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) Say(streams, "warning: " + warning);
}

int Fail(ToolStreams& streams, int status, const std::string& message) {
  Say(streams, message);
  if (status == kExitUsage) streams.err << "Try '" << kToolName << " --help'.\n";
  return status;
}

int RefuseStrictly(ToolStreams& streams, const char* when) {
  Say(streams, std::string("--strict: the warnings above refuse the run; ") + when);
  return kExitUsage;
}

// The windows directory the program's /D switch gives it, as the program
// reads its command line, or nullopt without one.
std::optional<std::string> SwitchDirectory(const Options& options, const MachineFolder& folder) {
  sim::SimMachine reader;
  reader.Config().ansiCodePage = AnsiCodePageOf(folder.settings);
  std::string line = ProgramCommandLine(options);
  const Switches switches = ReadSwitches(line.data(), reader);
  if (!switches.directoryGiven) return std::nullopt;
  return std::string(switches.directory);
}

// Names the machine and says what is wrong with it; false when --strict
// then refuses the run.
bool AcceptMachine(const Options& options, const MachineFolder& folder, ToolStreams& streams) {
  if (!options.quiet) streams.out << TerminalText(DescribeMachine(folder)) << "\n";
  const std::vector<std::string> warnings =
      MachineWarnings(folder, SwitchDirectory(options, folder));
  Warn(streams, warnings);
  return !options.strict || warnings.empty();
}

// Everything that can be refused before the run starts.
std::string CheckBeforeRun(const Options& options, const MachineFolder& folder) {
  const std::string unwritable =
      RegFileProblem(folder.registry.registry, AnsiCodePageOf(folder.settings));
  if (!unwritable.empty()) return unwritable;
  if (!options.reportPath.empty() && options.reportPath != kStandardOutput) {
    const std::string refused = CheckReportTarget(options.reportPath, folder);
    if (!refused.empty()) return refused;
  }
  return options.dryRun ? ""
                        : ProbeWritable(folder.fd.Get(), kRegistryFileName,
                                        folder.directory + "/" + kRegistryFileName);
}

// The machine's texts are in its ANSI code page; people and the report read
// UTF-8.
sim::MessageBoxRecord BoxInUtf8(sim::MessageBoxRecord box, std::uint32_t codePage) {
  box.caption = sim::CodePageToUtf8Lossy(codePage, box.caption);
  box.text = sim::CodePageToUtf8Lossy(codePage, box.text);
  return box;
}

RunReport RunProgram(const Options& options, MachineFolder& folder, sim::SimMachine& machine,
                     ToolStreams& streams) {
  if (options.dryRun) machine.KeepHostUnchanged();
  SetUpMachine(folder, machine);
  machine.Config().commandLine = ProgramCommandLine(options);
  BoxAnswerer answerer(options.answers.value_or(std::vector<int>{}),
                       streams.inIsTerminal ? &streams.in : nullptr, streams.out, options.quiet,
                       InterruptGuard::Flag());
  const std::uint32_t codePage = machine.Config().ansiCodePage;
  std::optional<RunExplainer> explainer;
  if (options.explain != ExplainLevel::kNone || !options.reportPath.empty()) {
    explainer.emplace(machine.GetJournal(), codePage, options.explain == ExplainLevel::kAll);
    machine.ObserveTrace([&explainer](const sim::TraceEntry& entry) { explainer->Take(entry); });
  }
  machine.SetResponder([&answerer, codePage](const sim::MessageBoxRecord& box) {
    return answerer.Answer(BoxInUtf8(box, codePage));
  });

  RunReport report;
  report.commandLine = machine.Config().commandLine;
  report.dryRun = options.dryRun;
  {
    auto app = std::make_unique<UninstallApp>(machine);
    RunApplication(*app);
  }
  ReadJournal(machine.GetJournal(), codePage, &report);
  if (explainer) {
    machine.ObserveTrace(nullptr);
    report.explanations = explainer->Finish();
  }
  for (const sim::MessageBoxRecord& box : machine.Boxes()) {
    report.boxes.push_back(BoxInUtf8(box, codePage));
  }
  report.answerWarnings = answerer.Warnings();
  report.restartRequested = machine.RestartRequested();
  return report;
}

// What SIGKILL left of an earlier run: the temporary file of a save beside
// registry.reg. A dry run changes nothing, this neither.
void RemoveLeftovers(const Options& options, const MachineFolder& folder, ToolStreams& streams) {
  if (options.dryRun) return;
  for (const std::string& name : RemoveUnfinishedWrites(folder.fd.Get(), kRegistryFileName)) {
    Say(streams, "removed " + name +
                     ", left by a save of registry.reg that was killed before it ended; "
                     "registry.reg is the one from before that save");
  }
}

// The report to --report: "-" is `standardOutput`. "" or what failed.
std::string WriteReport(const Options& options, const MachineFolder& folder,
                        const RunReport& report, std::ostream& standardOutput) {
  if (options.reportPath.empty()) return "";
  if (options.reportPath != kStandardOutput) {
    return WriteReportFile(options.reportPath, folder, FormatJson(report));
  }
  standardOutput << FormatJson(report);
  return "";
}

// Under --strict the answers of --answers are first tried in a dry run over
// a reading of the folder of its own, answered from the list alone: they must
// answer every box the run asks, no more and no fewer. Says what the machine
// is meanwhile. Returns the exit status that refuses the run, if any.
std::optional<int> RehearseAnswers(const Options& options, ToolStreams& streams) {
  Outcome<MachineFolder> folder = ReadMachineFolder(options.machineDirectory, FolderUse::kRead);
  if (!folder.Ok()) return Fail(streams, kExitUsage, folder.Error());
  Options rehearsal = options;
  rehearsal.dryRun = true;
  const std::string refused = CheckBeforeRun(rehearsal, folder.Value());
  if (!refused.empty()) return Fail(streams, kExitUsage, refused);
  if (!AcceptMachine(options, folder.Value(), streams)) {
    return RefuseStrictly(streams, "nothing was changed");
  }
  std::ostream nowhere(nullptr);
  ToolStreams silent{streams.in, false, nowhere, nowhere};
  sim::SimMachine machine;
  machine.StopWhen(InterruptGuard::Flag());
  const RunReport report = RunProgram(rehearsal, folder.Value(), machine, silent);
  Warn(streams, report.answerWarnings);
  if (!report.answerWarnings.empty()) return RefuseStrictly(streams, "nothing was changed");
  return std::nullopt;
}

// Saves the registry, then says what became of the run: a failed save first,
// then the summary, the report and an interruption. Returns the exit status.
int EndRun(const Options& options, const MachineFolder& folder, sim::SimMachine& machine,
           const UndoRecord* record, const FileCalls& saveCalls, RunReport& report,
           ToolStreams& streams, std::ostream& standardOutput) {
  if (options.dryRun) {
    report.save = RegistrySave::kDryRun;
  } else if (report.RegistryChanged()) {
    report.saveError = SaveRegistry(folder, machine.GetRegistry(), machine.GetJournal(), saveCalls,
                                    record ? record->Fd() : -1, kRegistryFileName);
    report.save = report.saveError.empty() ? RegistrySave::kSaved : RegistrySave::kFailed;
  }
  if (report.save == RegistrySave::kFailed) {
    Say(streams,
        "registry.reg could not be saved, so it keeps the old registry while the files listed "
        "were deleted: " +
            report.saveError);
  }
  const std::uint32_t codePage = AnsiCodePageOf(folder.settings);
  std::string undoError;
  if (record && !report.Changed()) {
    record->Discard(folder);
  } else if (record) {
    undoError = record->Finish(machine.GetJournal(), folder, report.save == RegistrySave::kSaved);
    if (undoError.empty()) report.undoRecord = record->Name();
  }
  if (!undoError.empty()) Say(streams, "the run cannot be undone: " + undoError);
  if (!options.quiet) streams.out << FormatSummary(report);
  if (options.explain != ExplainLevel::kNone)
    streams.out << FormatExplanations(report.explanations);
  if (options.diff) streams.out << FormatDiff(machine.GetJournal(), codePage);
  Warn(streams, report.answerWarnings);
  const std::string reportError = WriteReport(options, folder, report, standardOutput);
  if (!reportError.empty()) return Fail(streams, kExitOutputFailed, reportError);
  if (report.save == RegistrySave::kFailed || !undoError.empty()) return kExitOutputFailed;
  if (!report.interruptedBy.empty()) {
    Say(streams, "interrupted by " + report.interruptedBy +
                     ": the run was stopped; what it did is listed above" +
                     (report.save == RegistrySave::kSaved ? " and saved in registry.reg" : ""));
    return InterruptGuard::ExitStatus();
  }
  // A real run's answers were tried before it began.
  if (options.strict && options.dryRun && !report.answerWarnings.empty()) {
    return RefuseStrictly(streams, "it was a dry run");
  }
  return report.RemovedSomething() ? kExitOk : kExitNothingRemoved;
}

int Undo(const Options& options, ToolStreams& streams) {
  Outcome<MachineFolder> folder = ReadMachineFolder(options.machineDirectory, FolderUse::kChange);
  if (!folder.Ok()) return Fail(streams, kExitUsage, folder.Error());
  std::string done;
  bool started = false;
  const std::string error = UndoLastRun(folder.Value(), &done, &started);
  if (!error.empty()) return Fail(streams, started ? kExitOutputFailed : kExitUsage, error);
  if (options.quiet) return kExitOk;
  streams.out << "Undone: the machine folder is back as it was before the last run.\n";
  if (!done.empty()) streams.out << "Files put back:\n" << done;
  return kExitOk;
}

int RunOverMachine(const Options& options, ToolStreams& streams, std::ostream& standardOutput,
                   const FileCalls& saveCalls) {
  const bool rehearse = options.strict && options.answers && !options.dryRun;
  if (rehearse) {
    if (const std::optional<int> refused = RehearseAnswers(options, streams)) return *refused;
  }
  Outcome<MachineFolder> folder = ReadMachineFolder(
      options.machineDirectory, options.dryRun ? FolderUse::kRead : FolderUse::kChange);
  if (!folder.Ok()) return Fail(streams, kExitUsage, folder.Error());
  const std::string refused = CheckBeforeRun(options, folder.Value());
  if (!refused.empty()) return Fail(streams, kExitUsage, refused);
  if (!rehearse && !AcceptMachine(options, folder.Value(), streams)) {
    return RefuseStrictly(streams, "nothing was changed");
  }

  RemoveLeftovers(options, folder.Value(), streams);
  sim::SimMachine machine;
  std::optional<UndoRecord> record;
  if (!options.dryRun) {
    Outcome<UndoRecord> made = UndoRecord::Create(folder.Value());
    if (!made.Ok()) return Fail(streams, kExitOutputFailed, made.Error());
    record = std::move(made.Value());
    machine.KeepDeletedFilesIn(record->FilesFolder());
    machine.ObserveJournal([&record](const sim::JournalEntry& entry, std::size_t number) {
      record->Note(entry, number);
    });
  }
  machine.StopWhen(InterruptGuard::Flag());
  RunReport report = RunProgram(options, folder.Value(), machine, streams);
  report.interruptedBy = InterruptGuard::Received();
  return EndRun(options, folder.Value(), machine, record ? &*record : nullptr, saveCalls, report,
                streams, standardOutput);
}

}  // namespace

void HoldStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const SignalName& known : kStopSignals) sigaddset(&signals, known.signal);
  ::sigprocmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

int RunTool(const std::vector<std::string>& args, ToolStreams streams, const FileCalls& saveCalls) {
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
  if (!options.undo && !options.answers && !streams.inIsTerminal) {
    return Fail(streams, kExitUsage,
                "standard input is not a terminal, so the message boxes need --answers");
  }
  const InterruptGuard interrupt;
  // Standard output that carries the report carries nothing else: what
  // people read goes to standard error.
  ToolStreams shown{streams.in, streams.inIsTerminal,
                    options.reportPath == kStandardOutput ? streams.err : streams.out, streams.err};
  const int status = options.undo ? Undo(options, streams)
                                  : RunOverMachine(options, shown, streams.out, saveCalls);
  if (!streams.out.flush()) {
    Say(streams,
        "the standard output was closed before the end: part of what was shown is "
        "lost, but the run went on to its end");
  }
  return status;
}

}  // namespace uninst::tool
