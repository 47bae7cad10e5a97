#include "tools/uninst-sim/Report.h"

#include <cstdio>
#include <map>
#include <set>

#include "tools/uninst-sim/BoxAnswerer.h"
#include "tools/uninst-sim/TextCodec.h"

namespace uninst::tool {

namespace {

std::map<std::string, const RegKeyEntry*> IndexKeys(const std::vector<RegKeyEntry>& keys) {
  std::map<std::string, const RegKeyEntry*> index;
  for (const RegKeyEntry& key : keys) index.emplace(UpperAscii(key.path), &key);
  return index;
}

std::set<std::string> UpperValueNames(const RegKeyEntry& key) {
  std::set<std::string> names;
  for (const sim::RegValue& value : key.values) names.insert(UpperAscii(value.name));
  return names;
}

std::string ValueLabel(const DeletedValue& value) {
  return value.key + " : " + (value.name.empty() ? "(default)" : "\"" + value.name + "\"");
}

void AppendSection(std::string& out, const char* title, const std::vector<std::string>& lines) {
  out += std::string(title) + " (" + std::to_string(lines.size()) + ")" +
         (lines.empty() ? "\n" : ":\n");
  for (const std::string& line : lines) out += "  " + line + "\n";
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
    } else {
      std::size_t length = 2;
      while (length <= 4 && !(i + length <= text.size() && IsValidUtf8(text.substr(i, length)))) {
        ++length;
      }
      if (length > 4) {
        out += "\xEF\xBF\xBD";
      } else {
        out += text.substr(i, length);
        i += length - 1;
      }
    }
  }
  return out + "\"";
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

void CompareStates(const MachineState& before, const MachineState& after, RunReport* report) {
  const std::map<std::string, const RegKeyEntry*> remaining = IndexKeys(after.keys);
  for (const RegKeyEntry& key : before.keys) {
    const auto found = remaining.find(UpperAscii(key.path));
    if (found == remaining.end()) {
      report->keysDeleted.push_back(key.path);
      continue;
    }
    const std::set<std::string> remainingValues = UpperValueNames(*found->second);
    for (const sim::RegValue& value : key.values) {
      if (remainingValues.count(UpperAscii(value.name)) == 0) {
        report->valuesDeleted.push_back(DeletedValue{key.path, value.name});
      }
    }
  }
  const std::set<std::string> files(after.files.begin(), after.files.end());
  for (const std::string& file : before.files) {
    if (files.count(file) == 0) report->filesDeleted.push_back(file);
  }
}

std::string FormatSummary(const RunReport& report) {
  std::string out = report.dryRun ? "Dry run: the machine folder was not changed. It would lose:\n"
                                  : "Changes:\n";
  AppendSection(out, "Registry keys deleted", report.keysDeleted);
  std::vector<std::string> values;
  for (const DeletedValue& value : report.valuesDeleted) values.push_back(ValueLabel(value));
  AppendSection(out, "Registry values deleted", values);
  AppendSection(out, "Files deleted", report.filesDeleted);
  out += std::string("Restart requested: ") + (report.restartRequested ? "yes" : "no") + "\n";
  for (const std::string& warning : report.answerWarnings) out += "Warning: " + warning + "\n";
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
         ",\n  \"messageBoxes\": " + JsonList(boxes, "  ") +
         ",\n  \"keysDeleted\": " + JsonList(Quoted(report.keysDeleted), "  ") +
         ",\n  \"valuesDeleted\": " + JsonList(values, "  ") +
         ",\n  \"filesDeleted\": " + JsonList(Quoted(report.filesDeleted), "  ") +
         ",\n  \"restartRequested\": " + (report.restartRequested ? "true" : "false") +
         ",\n  \"warnings\": " + JsonList(Quoted(report.answerWarnings), "  ") + "\n}\n";
}

}  // namespace uninst::tool
