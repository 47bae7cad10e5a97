#include "tools/uninst-sim/run/Report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>
#include <utility>

#include "platform/AsciiCase.h"
#include "platform/sim/CodePage.h"
#include "tools/uninst-sim/regfile/TextCodec.h"
#include "tools/uninst-sim/run/BoxAnswerer.h"

namespace uninst::tool {

namespace {

// A message box style is a field of buttons, of icon, of default button and
// of modality, and single flags; each named where its bits equal `value`.
struct StyleFlag {
  std::uint32_t mask;
  std::uint32_t value;
  const char* name;
};
constexpr StyleFlag kStyleFlags[] = {
    {0xF, 0x0, "MB_OK"},
    {0xF, 0x1, "MB_OKCANCEL"},
    {0xF, 0x2, "MB_ABORTRETRYIGNORE"},
    {0xF, 0x3, "MB_YESNOCANCEL"},
    {0xF, 0x4, "MB_YESNO"},
    {0xF, 0x5, "MB_RETRYCANCEL"},
    {0xF, 0x6, "MB_CANCELTRYCONTINUE"},
    {0xF0, 0x10, "MB_ICONERROR"},
    {0xF0, 0x20, "MB_ICONQUESTION"},
    {0xF0, 0x30, "MB_ICONWARNING"},
    {0xF0, 0x40, "MB_ICONINFORMATION"},
    {0xF0, 0x80, "MB_USERICON"},
    {0xF00, 0x100, "MB_DEFBUTTON2"},
    {0xF00, 0x200, "MB_DEFBUTTON3"},
    {0xF00, 0x300, "MB_DEFBUTTON4"},
    {0x3000, 0x1000, "MB_SYSTEMMODAL"},
    {0x3000, 0x2000, "MB_TASKMODAL"},
    {0x4000, 0x4000, "MB_HELP"},
    {0x8000, 0x8000, "MB_NOFOCUS"},
    {0x10000, 0x10000, "MB_SETFOREGROUND"},
    {0x20000, 0x20000, "MB_DEFAULT_DESKTOP_ONLY"},
    {0x40000, 0x40000, "MB_TOPMOST"},
    {0x80000, 0x80000, "MB_RIGHT"},
    {0x100000, 0x100000, "MB_RTLREADING"},
    {0x200000, 0x200000, "MB_SERVICE_NOTIFICATION"},
};

std::string ValueLabel(const DeletedValue& value) {
  return value.key + "  value " + (value.name.empty() ? "(default)" : "\"" + value.name + "\"") +
         " = " + DataText(value.data);
}

bool FoldedLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(uninst::UpperAscii(x)) <
           static_cast<unsigned char>(uninst::UpperAscii(y));
  });
}

void AppendSection(std::string& out, const std::string& title,
                   const std::vector<std::string>& lines) {
  std::vector<const std::string*> sorted;
  for (const std::string& line : lines) sorted.push_back(&line);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string* a, const std::string* b) { return FoldedLess(*a, *b); });
  out += title + " (" + std::to_string(lines.size()) + ")" + (lines.empty() ? "\n" : ":\n");
  for (const std::string* line : sorted) {
    out += "  ";
    out += TerminalText(*line);
    out += '\n';
  }
}

// The length of the UTF-8 character of two to four bytes at `i`; 0 for none.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  for (std::size_t length = 2; length <= 4 && i + length <= text.size(); ++length) {
    if (IsValidUtf8(text.substr(i, length))) return length;
  }
  return 0;
}

// JSON text of arbitrary bytes: UTF-8 passes, anything else becomes U+FFFD.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const std::size_t length = Utf8Length(text, i)) {
      out.append(text, i, length);
      i += length - 1;
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out + "\"";
}

const char* SaveName(RegistrySave save) {
  switch (save) {
    case RegistrySave::kSaved:
      return "saved";
    case RegistrySave::kFailed:
      return "failed";
    case RegistrySave::kDryRun:
      return "dry run";
    default:
      return "not needed";
  }
}

std::string JsonStringOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

// A JSON array of `items`, one a line, each written by `format`, appended to
// `out`: a report may list a whole machine's keys.
template <typename Item, typename Format>
void AppendJsonList(std::string& out, const std::vector<Item>& items, const char* indent,
                    Format format) {
  if (items.empty()) {
    out += "[]";
    return;
  }
  out += "[\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += indent;
    out += "  ";
    out += format(items[i]);
    out += i + 1 < items.size() ? ",\n" : "\n";
  }
  out += indent;
  out += ']';
}

std::string JsonInlineList(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) joined += (joined.empty() ? "" : ", ") + item;
  return "[" + joined + "]";
}

std::string JsonBox(const sim::MessageBoxRecord& box) {
  std::vector<std::string> buttons;
  for (int answer : ButtonsOf(box.style)) buttons.push_back(JsonString(AnswerName(answer)));
  return "{\"caption\": " + JsonString(box.caption) + ", \"text\": " + JsonString(box.text) +
         ", \"style\": " + std::to_string(box.style) +
         ", \"styleNames\": " + JsonString(StyleNames(box.style)) +
         ", \"buttons\": " + JsonInlineList(buttons) +
         ", \"icon\": " + JsonString(IconNameOf(box.style)) +
         ", \"answer\": " + JsonString(box.answer == 0 ? "none" : AnswerName(box.answer)) + "}";
}

std::string JsonData(const ValueData& data) {
  return "{\"type\": " + JsonString(TypeName(data.type)) +
         ", \"typeNumber\": " + std::to_string(data.type) +
         ", \"hex\": " + JsonString(HexBytes(data.bytes, "")) +
         (data.text ? ", \"text\": " + JsonString(*data.text) : "") + "}";
}

// A member for each text that is not "".
std::string JsonMembers(std::initializer_list<std::pair<const char*, std::string>> members) {
  std::string out;
  for (const auto& [name, text] : members) {
    if (!text.empty()) out += std::string(", \"") + name + "\": " + JsonString(text);
  }
  return out;
}

std::string JsonStep(const ChainStep& step) {
  return "{\"step\": " + JsonString(step.role) +
         JsonMembers({{"key", step.key}, {"value", step.valueName}, {"file", step.file}}) +
         (step.data ? ", \"data\": " + JsonData(*step.data) : "") +
         JsonMembers({{"note", step.note}}) + "}";
}

std::string JsonExplanation(const Explanation& explanation) {
  std::string out = "{\"subject\": " + JsonString(SubjectName(explanation.subject)) +
                    JsonMembers({{"key", explanation.key}, {"file", explanation.file}}) +
                    (explanation.subject == Explanation::Subject::kValue
                         ? ", \"value\": " + JsonString(explanation.valueName)
                         : "") +
                    ", \"verdict\": " + JsonString(VerdictName(explanation.verdict)) +
                    JsonMembers({{"reason", explanation.reason}}) + ", \"chain\": ";
  AppendJsonList(out, explanation.chain, "    ", [](const Step& step) { return JsonStep(*step); });
  out += '}';
  return out;
}

std::string JsonValue(const DeletedValue& value) {
  return "{\"key\": " + JsonString(value.key) + ", \"name\": " + JsonString(value.name) +
         ", \"data\": " + JsonData(value.data) + "}";
}

}  // namespace

std::string StyleNames(std::uint32_t style) {
  std::string names;
  std::uint32_t named = 0;
  for (const StyleFlag& flag : kStyleFlags) {
    if ((style & flag.mask) != flag.value) continue;
    names += (names.empty() ? "" : "|") + std::string(flag.name);
    named |= flag.mask;
  }
  if (const std::uint32_t rest = style & ~named) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%X", rest);
    names += std::string("|") + number;
  }
  return names;
}

void ReadJournal(const sim::Journal& journal, std::uint32_t codePage, RunReport* report) {
  using Kind = sim::JournalEntry::Kind;
  std::set<std::string> deleted;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    if (entry.bySetup) continue;
    switch (entry.kind) {
      case Kind::kKeyDeleted:
        entry.ForEachDeletedKey([&](const std::string& path, const sim::ValueList&) {
          report->keysDeleted.push_back(FullKeyPath(sim::CodePageToUtf8Lossy(codePage, path)));
        });
        break;
      case Kind::kValueDeleted:
        entry.value.ForEach([&](const sim::ValueList::View& value) {
          const std::string bytes(reinterpret_cast<const char*>(value.data), value.size);
          report->valuesDeleted.push_back(
              DeletedValue{FullKeyPath(sim::CodePageToUtf8Lossy(codePage, entry.keyPath)),
                           sim::CodePageToUtf8Lossy(codePage, std::string(value.name)),
                           MakeValueData(value.type, bytes, codePage)});
        });
        break;
      case Kind::kFileDeleted:
        report->filesDeleted.push_back(entry.WindowsPath());
        deleted.insert(entry.hostRelative + '/' + entry.drive);
        break;
      default:
        break;
    }
  }
  std::set<std::string> changed;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    const std::string file = entry.hostRelative + '/' + entry.drive;
    if (!entry.bySetup && entry.IsFileChange() && deleted.count(file) == 0 &&
        changed.insert(file).second) {
      report->filesChanged.push_back(entry.WindowsPath());
    }
  }
}

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : Utf8Length(text, i);
    // U+0080 to U+009F are the C1 controls, which terminals obey too.
    const bool control =
        c < 0x20 || c == 0x7F ||
        (c == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (length == 0 || control) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out.append(text, i, length);
      i += length - 1;
    }
  }
  return out;
}

std::string FormatSummary(const RunReport& report) {
  std::string out;
  if (!report.interruptedBy.empty()) {
    out += "Interrupted by " + report.interruptedBy + ": the run was stopped there.\n";
  }
  if (report.save == RegistrySave::kFailed) {
    out +=
        "registry.reg could NOT be saved: it still holds the registry keys and values below, "
        "but the files below were deleted.\n";
  }
  out += report.dryRun ? "Dry run: the machine folder was not changed. It would lose:\n"
                       : "Changes:\n";
  const std::string unsaved = report.save == RegistrySave::kFailed ? ", not saved" : "";
  AppendSection(out, "Registry keys deleted" + unsaved, report.keysDeleted);
  std::vector<std::string> values;
  for (const DeletedValue& value : report.valuesDeleted) values.push_back(ValueLabel(value));
  AppendSection(out, "Registry values deleted" + unsaved, values);
  AppendSection(out, "Files deleted", report.filesDeleted);
  if (!report.filesChanged.empty()) {
    AppendSection(out, "Files whose attributes or times were written", report.filesChanged);
  }
  out += std::string("Restart requested: ") + (report.restartRequested ? "yes" : "no") + "\n";
  if (!report.undoRecord.empty()) {
    out += "Undo record: " + report.undoRecord + " (--undo puts the machine back)\n";
  }
  return out;
}

std::string FormatJson(const RunReport& report) {
  std::string out = "{\n  \"schemaVersion\": " + std::to_string(kReportSchemaVersion) +
                    ",\n  \"commandLine\": " + JsonString(report.commandLine) +
                    ",\n  \"dryRun\": " + (report.dryRun ? "true" : "false") +
                    ",\n  \"registrySave\": " + JsonString(SaveName(report.save)) +
                    ",\n  \"registrySaveError\": " + JsonStringOrNull(report.saveError) +
                    ",\n  \"interruptedBy\": " + JsonStringOrNull(report.interruptedBy) +
                    ",\n  \"messageBoxes\": ";
  const auto quoted = [](const std::string& text) { return JsonString(text); };
  AppendJsonList(out, report.boxes, "  ", JsonBox);
  out += ",\n  \"keysDeleted\": ";
  AppendJsonList(out, report.keysDeleted, "  ", quoted);
  out += ",\n  \"valuesDeleted\": ";
  AppendJsonList(out, report.valuesDeleted, "  ", JsonValue);
  out += ",\n  \"filesDeleted\": ";
  AppendJsonList(out, report.filesDeleted, "  ", quoted);
  out += ",\n  \"filesChanged\": ";
  AppendJsonList(out, report.filesChanged, "  ", quoted);
  out += std::string(",\n  \"restartRequested\": ") + (report.restartRequested ? "true" : "false") +
         ",\n  \"undoRecord\": " + JsonStringOrNull(report.undoRecord) + ",\n  \"warnings\": ";
  AppendJsonList(out, report.answerWarnings, "  ", quoted);
  out += ",\n  \"explain\": ";
  AppendJsonList(out, report.explanations, "  ", JsonExplanation);
  out += "\n}\n";
  return out;
}

}  // namespace uninst::tool
