#include "tools/uninst-sim/run/Options.h"

#include "platform/Platform.h"
#include "tools/uninst-sim/machine/MachineSettings.h"
#include "tools/uninst-sim/regfile/TextCodec.h"

namespace uninst::tool {

namespace {

struct AnswerWord {
  const char* word;
  const char* letter;
  int answer;
};
constexpr AnswerWord kAnswerWords[] = {
    {"yes", "y", kIdYes},
    {"no", "n", kIdNo},
    {"cancel", "c", kIdCancel},
    {"ok", "o", kIdOk},
};

constexpr char kProgramName[] = "UNINST.EXE";

// Splits "--name=value" into its parts; `value` stays empty without '='.
void SplitInline(const std::string& arg, std::string* name, std::optional<std::string>* value) {
  const std::size_t equals = arg.find('=');
  *name = arg.substr(0, equals);
  if (equals != std::string::npos) *value = arg.substr(equals + 1);
}

// The switch an option without a value sets, or nullptr.
bool* FlagOf(const std::string& name, Options& options) {
  if (name == "--dry-run" || name == "-n") return &options.dryRun;
  if (name == "--diff") return &options.diff;
  if (name == "--undo") return &options.undo;
  if (name == "--quiet" || name == "-q") return &options.quiet;
  if (name == "--strict") return &options.strict;
  return nullptr;
}

// --explain alone, or --explain=all; "" or why not.
std::string ReadExplain(const std::optional<std::string>& value, Options& options) {
  if (value && *value != "all") return "--explain takes no value but =all";
  options.explain = value ? ExplainLevel::kAll : ExplainLevel::kRemoved;
  return "";
}

// --report FILE, or --json as --report -.
std::string ReadReportPath(const std::string& value, Options& options) {
  if (!options.reportPath.empty()) return "--report given twice (--json is --report -)";
  if (value.empty()) return "--report needs a file name";
  options.reportPath = value;
  return "";
}

}  // namespace

Outcome<std::vector<int>> ParseAnswers(const std::string& list) {
  std::vector<int> answers;
  if (list.empty()) return answers;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = list.find(',', start);
    const std::string word = TrimBlanks(list.substr(start, end - start));
    bool known = false;
    for (const AnswerWord& candidate : kAnswerWords) {
      if (EqualsIgnoringAsciiCase(word, candidate.word) ||
          EqualsIgnoringAsciiCase(word, candidate.letter)) {
        answers.push_back(candidate.answer);
        known = true;
      }
    }
    if (!known) {
      return Outcome<std::vector<int>>::Failure("unknown answer \"" + word +
                                                "\" in --answers (use yes, no, cancel, ok)");
    }
    if (end == std::string::npos) return answers;
    start = end + 1;
  }
}

Outcome<Options> ParseOptions(const std::vector<std::string>& args) {
  using Result = Outcome<Options>;
  Options options;
  bool answersGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      options.programSwitches.assign(args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    }
    std::string name;
    std::optional<std::string> value;
    SplitInline(arg, &name, &value);
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--version") {
      options.version = true;
      continue;
    }
    if (bool* flag = FlagOf(name, options)) {
      if (value) return Result::Failure(name + " takes no value");
      *flag = true;
      continue;
    }
    if (name == "--explain" || name == "--json") {
      const std::string problem = name == "--explain" ? ReadExplain(value, options)
                                  : value             ? "--json takes no value"
                                                      : ReadReportPath("-", options);
      if (!problem.empty()) return Result::Failure(problem);
      continue;
    }
    if (name != "--machine" && name != "--answers" && name != "--report") {
      if (arg.rfind("-", 0) == 0 && arg != "-") return Result::Failure("unknown option " + arg);
      return Result::Failure("unexpected argument \"" + arg +
                             "\" (the program's switches go after --)");
    }
    if (!value) {
      if (i + 1 == args.size()) return Result::Failure(name + " needs a value");
      value = args[++i];
    }
    if (name == "--machine") {
      if (!options.machineDirectory.empty()) return Result::Failure("--machine given twice");
      if (value->empty()) return Result::Failure("--machine needs a folder");
      options.machineDirectory = *value;
    } else if (name == "--report") {
      const std::string problem = ReadReportPath(*value, options);
      if (!problem.empty()) return Result::Failure(problem);
    } else {
      if (answersGiven) return Result::Failure("--answers given twice");
      Outcome<std::vector<int>> answers = ParseAnswers(*value);
      if (!answers.Ok()) return Result::Failure(answers.Error());
      options.answers = std::move(answers.Value());
      answersGiven = true;
    }
  }
  if (!options.help && !options.version && options.machineDirectory.empty()) {
    return Result::Failure("--machine DIR is required");
  }
  if (options.undo && (options.dryRun || options.diff || options.answers || options.strict ||
                       options.explain != ExplainLevel::kNone || !options.reportPath.empty() ||
                       !options.programSwitches.empty())) {
    return Result::Failure("--undo takes only --machine and --quiet");
  }
  return options;
}

std::string ProgramCommandLine(const Options& options) {
  std::string line = kProgramName;
  for (const std::string& word : options.programSwitches) line += " " + word;
  return line;
}

const char* HelpText() {
  return R"(Usage: uninst-sim --machine DIR [options] -- [program switches]
  or:  uninst-sim --machine DIR --undo

Runs the uninstaller over a simulated Windows machine kept in the folder DIR,
exactly as UNINST.EXE would run on that machine, and prints what it changed.
The program sees the command line "UNINST.EXE" followed by the switches after
"--", for example: uninst-sim --machine DIR -- /E /V

The run begins with one line on standard output that names the machine: its
family, code pages, windows directory and how many registry keys and files it
holds. Warnings, on standard error, tell what makes the run meaningless or
surprising: a windows directory (machine.ini's, or the one the /D switch
gives) or a drive C: that does not exist, a [files] entry that matches no
file, a machine.ini in UTF-16, and at the end an --answers list that left a
box without an answer or answers over. The run goes on unless --strict is
given. Errors go to standard error as well.

Options:
  --machine DIR      the machine folder (required)
  --answers LIST     answer the message boxes in order from a comma-separated
                     list of yes, no, cancel, ok (or y, n, c, o), blanks
                     around them allowed ("yes, no"). An answer the box does
                     not offer is refused: that box gets no answer. When the
                     list runs out, the terminal is asked.
  --report FILE      also write the summary as JSON to FILE, a new or regular
                     file outside the machine folder (a link, a FIFO or a
                     folder there is refused), through a temporary file
                     beside it; "-" writes it to standard output. Its
                     layout ("schemaVersion": 2) is the JSON Schema
                     share/uninst-sim/report.schema.json
  --json             the same as --report -: the report alone goes to
                     standard output, what people read to standard error
  -n, --dry-run      run without changing anything anywhere: the machine folder
                     is only read (it may be read-only), and the program sees
                     its own changes as the run's journal holds them (a file
                     it deleted is gone, an attribute it cleared is clear);
                     report what would be changed
  --diff             also show what the run changed (with --dry-run: would
                     change) as a diff of registry.reg and a list of files
  --explain[=all]    also say why each registry key, value and file was
                     removed: the sweep and what it read on the way there;
                     with =all, also why each key it looked at was kept
  -q, --quiet        print on standard output only the message boxes asked at
                     the terminal, what --diff and --explain ask for and a
                     report written there; warnings and errors still go to
                     standard error
  --strict           refuse a run that gives a warning, with exit status 2,
                     before anything changes: the --answers list is first
                     tried in a dry run and must answer every box, no more
                     and no fewer; a dry run ends with 2 after its warnings
  --undo             put back what the last run changed, byte for byte, from
                     the undo record it left (see below); refused, changing
                     nothing, when the machine changed since in a way the
                     undo would lose (registry.reg, or a file back at the
                     place of a deleted one)
  -h, --help         show this text
  --version          show the version of uninst-sim and of the program it runs

Message boxes are shown in the terminal with their caption, text and buttons;
answer with Y (Yes), N (No), C (Cancel) or Enter (OK), then Enter. Without a
terminal on standard input, --answers is required; uninst-sim then stops before
changing anything. A box left without an answer acts as a box Windows could not
show. Ctrl-C at the question stops the run as SIGINT does (below).

A machine folder may come from anyone; uninst-sim never reads, writes, deletes
or changes anything outside it. registry.reg, machine.ini and everything below
the drive folders must be folders or regular files with a single name: a
symbolic link (a drive folder, registry.reg or machine.ini that is one too,
dangling or not), a hard-linked file, a FIFO, a socket, a device node or a
mount point (an entry on another mount than the folder) is refused before
anything is done (exit status 2, the path named). So are two names in one
folder that differ only in the case of letters (one name on Windows; both
are named), a name Windows could not hold (a device such as NUL or CON.INF,
a trailing period or blank, a character such as : or *) and a path deeper
than a Windows path can reach (260 characters with the drive). Other entries
beside the drive folders are never looked at. While the program runs, every
file is reached folder by folder from its drive folder without following a
link: an entry that breaks the rule meanwhile is a file the program cannot
open (through a linked folder, a path that does not exist) and stays as it is.

Every run that may change the machine holds the folder alone: a second
uninst-sim on the same folder is refused with a message until it has ended
(dry runs may share it with one another). Each real run leaves an undo record
in DIR/.uninst-sim-undo/N/: the files it deleted, registry.reg as it was,
undo.reg (the deleted keys and values, which regedit can import) and the
journal of its changes, written as they happen; --undo uses the last one and
removes it. A run killed outright can be undone as far as it went: its files
come back, and registry.reg stays as that run left it.

At the end the registry is written back to registry.reg (through a temporary
file in the same folder, flushed and exchanged with the old one): only the
lines of the keys and values the run removed are taken out, and a key that
stays gets a line of its own where the lines that named it went; every other
line stays byte for byte; when registry.reg was changed by someone else since it was read, it
is left as it is and the run's registry is written beside it to
registry.reg.uninst-sim-unsaved (a failed save, below). Then uninst-sim prints
the registry keys, registry values and files that were deleted (each list
sorted, keys from their root HKEY_LOCAL_MACHINE on, values with their data),
whether a restart was requested and where the undo record is; names from the
machine are shown with control characters escaped as \xNN. When registry.reg
cannot be saved, uninst-sim says so first, lists the deleted files (they stay
deleted, while registry.reg keeps the old registry), still writes the report
with "registrySave": "failed", and exits with 1.

SIGINT, SIGTERM and SIGHUP stop the program where it is (every further call it
makes fails); the registry is saved as far as the run went, the summary and
the report say that the run was interrupted, and the exit status is 128 + the
signal's number. A run killed outright (SIGKILL) may leave registry.reg's
temporary file (.registry.reg.uninst-sim-save-XXXXXXXXXXXX, marked as made by
uninst-sim; registry.reg is then the old one); the next run removes it and
says so.

Files:
  DIR/registry.reg   a regedit export holding HKEY_LOCAL_MACHINE: "REGEDIT4"
                     (single-byte text) or "Windows Registry Editor Version
                     5.00" (UTF-16LE); every root key regedit writes may be in
                     it, the run sees HKEY_LOCAL_MACHINE alone, and a run
                     takes out only the lines of what it removed; keys at most
                     512 levels deep and, on the NT family, names of at most
                     255 characters, as in Windows
  DIR/HKCR.reg, HKCU.reg, HKU.reg, HKCC.reg
                     optional, as reg export writes them: one other root
                     each, read and checked, never changed
  DIR/drive_c/ ...   one folder per drive letter (drive_c is C:)
  DIR/machine.ini    optional, UTF-8 or UTF-16 with its byte-order mark;
                     names of sections and settings in any case:
    [machine]
    windows = nt                (or 95, 98, me, nt4, 2000, xp)
    oem_code_page = 437         (932: Japanese)
    ansi_code_page = 1252       (932: Japanese)
    time_zone_bias_minutes = 0  (local time = UTC - bias)
    time_zone = Europe/Berlin   (or CET-1CEST,M3.5.0,M10.5.0/3)
    windows_directory = C:\WINDOWS  (empty: none)
    [files]
    C:\WINDOWS\X.VXD = readonly hidden system 1999-03-03T12:00:00Z
  DIR/.uninst-sim-undo/N/  the undo record of each real run (above)

[files] attributes and UTC last-write times are applied to the files each
time the machine is loaded. windows = 95, 98 or me is the Windows 95/98/Me
family: no access rights on registry keys, version resources read from VxD
(LE) files too. nt, nt4, 2000 or xp is the NT family, and the default, so that
a folder written before the setting existed behaves as it always did.
time_zone names a zone of the host's time-zone database or gives a POSIX rule
with its dates of change; local times then use the bias in force now, as
Windows converts them. The code pages must be ones iconv converts; ansi_code_page, the code page of every
single-byte text (messages, registry names and strings, paths), defaults to
the one that goes with oem_code_page: 932 beside 932, else 1252. A "REGEDIT4"
registry.reg is in the ANSI code page, and its names and strings are kept and
written back in the bytes read, even where two byte sequences stand for one
character; a Unicode one is read in it, and a character the code
page lacks, or has only the code of another for, is refused. Registry names
are read character by character of the ANSI code page, as Windows reads them:
the second byte of a double-byte character never separates keys and keeps its
case. The terminal and the report show every text as UTF-8.

Exit status:
  0      the run ended normally and removed something (a dry run: would)
  3      the run ended normally and removed nothing: nothing of the drive was
         there, or the answers kept it
  1      the results could not be written: registry.reg, the undo record or
         the report
  2      a usage error, a bad machine folder (missing or unreadable folder,
         malformed registry.reg or machine.ini, an entry that breaks the rule
         above, a value that could not be written back, a report path
         refused) or, under --strict, a warning; the machine folder is then
         unchanged
  128+N  signal N stopped the run

Examples:
  $ cp -r examples/demo-machine /tmp/m
  $ uninst-sim --machine /tmp/m -n --answers yes,no -- /E
  $ uninst-sim --machine /tmp/m --answers yes,no --report r.json -- /E
  $ uninst-sim --machine /tmp/m --undo
  $ uninst-sim --machine /tmp/m -- /E /V
  $ uninst-sim --machine /tmp/m --strict -q --json --answers y,n
)";
}

// uninst-sim runs the core of the UNINST.EXE of its own source tree, whose
// version resource gives the project's version too.
const char* VersionText() {
  return "uninst-sim " UNINST_VERSION
         "\n"
         "It runs the uninstaller of UNINST.EXE " UNINST_VERSION " over a simulated machine.\n";
}

}  // namespace uninst::tool
