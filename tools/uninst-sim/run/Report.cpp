#include "tools/uninst-sim/run/Report.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "tools/uninst-sim/regfile/TextCodec.h"
#include "tools/uninst-sim/run/BoxAnswerer.h"

namespace uninst::tool {

namespace {

std::string ValueLabel(const DeletedValue& value) {
  return value.key + " : " + (value.name.empty() ? "(default)" : "\"" + value.name + "\"");
}

void AppendSection(std::string& out, const std::string& title,
                   const std::vector<std::string>& lines) {
  out += title + " (" + std::to_string(lines.size()) + ")" + (lines.empty() ? "\n" : ":\n");
  for (const std::string& line : lines) {
    out += "  ";
    out += TerminalText(line);
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

std::string JsonList(const std::vector<std::string>& items, const char* indent) {
  if (items.empty()) return "[]";
  std::string out = "[\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    out += std::string(indent) + "  " + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
  }
  return out + indent + "]";
}

std::vector<std::string> Quoted(const std::vector<std::string>& items) {
  std::vector<std::string> quoted;
  for (const std::string& item : items) quoted.push_back(JsonString(item));
  return quoted;
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
         ", \"style\": " + std::to_string(box.style) + ", \"buttons\": " + JsonInlineList(buttons) +
         ", \"icon\": " + JsonString(IconNameOf(box.style)) +
         ", \"answer\": " + JsonString(box.answer == 0 ? "none" : AnswerName(box.answer)) + "}";
}

}  // namespace

void ReadJournal(const sim::Journal& journal, RunReport* report) {
  using Kind = sim::JournalEntry::Kind;
  std::set<std::string> deleted;
  for (const sim::JournalEntry& entry : journal.Entries()) {
    if (entry.bySetup) continue;
    switch (entry.kind) {
      case Kind::kKeyDeleted:
        entry.ForEachDeletedKey([report](const std::string& path, const sim::ValueList&) {
          report->keysDeleted.push_back(path);
        });
        break;
      case Kind::kValueDeleted:
        entry.value.ForEach([&](const sim::ValueList::View& value) {
          report->valuesDeleted.push_back(DeletedValue{entry.keyPath, std::string(value.name)});
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
  std::vector<std::string> boxes;
  for (const sim::MessageBoxRecord& box : report.boxes) boxes.push_back(JsonBox(box));
  std::vector<std::string> values;
  for (const DeletedValue& value : report.valuesDeleted) {
    values.push_back("{\"key\": " + JsonString(value.key) +
                     ", \"name\": " + JsonString(value.name) + "}");
  }
  return "{\n  \"commandLine\": " + JsonString(report.commandLine) +
         ",\n  \"dryRun\": " + (report.dryRun ? "true" : "false") +
         ",\n  \"registrySave\": " + JsonString(SaveName(report.save)) +
         ",\n  \"registrySaveError\": " + JsonStringOrNull(report.saveError) +
         ",\n  \"interruptedBy\": " + JsonStringOrNull(report.interruptedBy) +
         ",\n  \"messageBoxes\": " + JsonList(boxes, "  ") +
         ",\n  \"keysDeleted\": " + JsonList(Quoted(report.keysDeleted), "  ") +
         ",\n  \"valuesDeleted\": " + JsonList(values, "  ") +
         ",\n  \"filesDeleted\": " + JsonList(Quoted(report.filesDeleted), "  ") +
         ",\n  \"filesChanged\": " + JsonList(Quoted(report.filesChanged), "  ") +
         ",\n  \"restartRequested\": " + (report.restartRequested ? "true" : "false") +
         ",\n  \"undoRecord\": " + JsonStringOrNull(report.undoRecord) +
         ",\n  \"warnings\": " + JsonList(Quoted(report.answerWarnings), "  ") + "\n}\n";
}

}  // namespace uninst::tool
