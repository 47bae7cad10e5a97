// Starts one program with an exact command line, answers its message boxes
// from a list and records every box it saw, for the end-to-end tests.
//
//   responder.exe <control-file>
//
// The control file holds "key=value" lines (UTF-8):
//   program=C:\DIR\UNINST.EXE      module to start
//   command=C:\DIR\UNINST.EXE /E   exact command line the program receives
//   answers=yes,no                 one per box, in order (yes, no, cancel, ok)
//   timeout_ms=20000               longest wait for the next box or the exit
//   linger_ms=3000                 how long to stay after the program ended
//   output=Z:\tmp\records.jsonl    where the JSON lines go
//   link=Enum\X\Link>Software\Y   a registry link made below HKEY_LOCAL_MACHINE
//                                  before the program starts (any number)
//
// Each record is one JSON object per line, written at once so that a run that
// ends Windows (and this process with it) still leaves what it saw:
//   {"event":"start","pid":12}
//   {"event":"box","index":1,"caption":"...","text":"...","buttons":["yes","no"],
//    "icon":"question","answer":"yes"}
//   {"event":"timeout","waited_ms":20000}
//   {"event":"exit","code":0}
//   {"event":"end-session"}     Windows is ending (a restart was requested)
// An answer whose button the box lacks is recorded as "refused:<answer>", a
// box past the end of the list as "none"; the program is then ended.
#include <windows.h>

#include "platform/win32/ScopedHandle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kPollMs = 15;
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kDefaultTimeoutMs = 20000;
constexpr int kIconAttempts = 30;
constexpr const wchar_t kDialogClass[] = L"#32770";

struct Options {
  std::string program;
  std::string commandLine;
  std::string output;
  std::vector<std::string> answers;
  // Registry links (path, target), both below HKEY_LOCAL_MACHINE.
  std::vector<std::pair<std::string, std::string>> links;
  DWORD timeoutMs = kDefaultTimeoutMs;
  DWORD lingerMs = 0;
};

struct ButtonName {
  int id;
  const char* name;
};

constexpr ButtonName kButtonNames[] = {
    {IDOK, "ok"},         {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
    {IDIGNORE, "ignore"}, {IDYES, "yes"},       {IDNO, "no"},
};

struct StockIcon {
  LPCTSTR resource;
  const char* name;
};

// IDI_WARNING is IDI_EXCLAMATION and IDI_INFORMATION is IDI_ASTERISK.
const StockIcon kStockIcons[] = {
    {IDI_QUESTION, "question"},
    {IDI_WARNING, "warning"},
    {IDI_INFORMATION, "information"},
    {IDI_ERROR, "error"},
};

using uninst::ScopedBitmap;
using uninst::ScopedDc;
using uninst::ScopedKernelHandle;

// The JSON-lines record file; each line reaches the file before the next step.
class RecordFile {
 public:
  explicit RecordFile(const std::string& path)
      : m_file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool IsOpen() const { return m_file.IsValid(); }
  void Write(const std::string& record) {
    const std::string line = record + "\n";
    DWORD written = 0;
    WriteFile(m_file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    FlushFileBuffers(m_file.Get());
  }

 private:
  ScopedKernelHandle m_file;
};

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                      nullptr, nullptr);
  return utf8;
}

std::wstring ToWide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], size);
  return wide;
}

std::string JsonString(const std::string& utf8) {
  std::string json = "\"";
  for (const char c : utf8) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      json += escape;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string json = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) json += ",";
    json += JsonString(items[i]);
  }
  return json + "]";
}

std::vector<std::string> SplitAnswers(const std::string& list) {
  std::vector<std::string> answers;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) answers.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return answers;
}

std::string ReadWholeFile(const char* path) {
  ScopedKernelHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  if (!file.IsValid()) return content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
    content.append(chunk, read);
  }
  return content;
}

bool ParseOptions(const char* controlPath, Options* options) {
  const std::string content = ReadWholeFile(controlPath);
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "program") options->program = value;
    if (key == "command") options->commandLine = value;
    if (key == "output") options->output = value;
    if (key == "answers") options->answers = SplitAnswers(value);
    const std::size_t arrow = value.find('>');
    if (key == "link" && arrow != std::string::npos) {
      options->links.emplace_back(value.substr(0, arrow), value.substr(arrow + 1));
    }
    if (key == "timeout_ms") options->timeoutMs = std::strtoul(value.c_str(), nullptr, 10);
    if (key == "linger_ms") options->lingerMs = std::strtoul(value.c_str(), nullptr, 10);
  }
  return !options->program.empty() && !options->output.empty();
}

std::wstring ReadWindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, &text[0], length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

bool HasClass(HWND window, const wchar_t* className) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return lstrcmpiW(name, className) == 0;
}

const char* NameOfButton(int id) {
  for (const ButtonName& button : kButtonNames) {
    if (button.id == id) return button.name;
  }
  return "other";
}

int IdOfAnswer(const std::string& answer) {
  for (const ButtonName& button : kButtonNames) {
    if (answer == button.name) return button.id;
  }
  return 0;
}

// A 32-bit top-down bitmap selected into a memory DC, for reading pixels.
class PixelCanvas {
 public:
  PixelCanvas(int width, int height)
      : m_width(width), m_height(height), m_dc(CreateCompatibleDC(nullptr)), m_bitmap(Create()) {
    if (m_bitmap.Get() != nullptr) m_previous = SelectObject(m_dc.Get(), m_bitmap.Get());
  }
  PixelCanvas(const PixelCanvas&) = delete;
  PixelCanvas& operator=(const PixelCanvas&) = delete;
  ~PixelCanvas() {
    if (m_previous != nullptr) SelectObject(m_dc.Get(), m_previous);
  }
  bool IsReady() const { return m_previous != nullptr; }
  HDC Dc() const { return m_dc.Get(); }
  void Fill(DWORD colour) { std::fill(m_pixels, m_pixels + Count(), colour); }
  std::vector<DWORD> Pixels() const {
    GdiFlush();
    return std::vector<DWORD>(m_pixels, m_pixels + Count());
  }

 private:
  std::size_t Count() const {
    return static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height);
  }
  HBITMAP Create() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = m_width;
    info.bmiHeader.biHeight = -m_height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(m_dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_pixels = static_cast<DWORD*>(bits);
    return bitmap;
  }

  int m_width;
  int m_height;
  ScopedDc m_dc;
  DWORD* m_pixels = nullptr;
  ScopedBitmap m_bitmap;
  HGDIOBJ m_previous = nullptr;
};

// The pixels of a stock icon that cover the background: those that come out
// the same when the icon is drawn on black and on white. Other pixels hold
// kTransparent.
constexpr DWORD kTransparent = 0xFFFFFFFFu;

std::vector<DWORD> RenderOpaquePixels(HICON icon, int width, int height) {
  PixelCanvas canvas(width, height);
  if (!canvas.IsReady()) return {};
  canvas.Fill(0x00000000u);
  DrawIconEx(canvas.Dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  std::vector<DWORD> onBlack = canvas.Pixels();
  canvas.Fill(0x00FFFFFFu);
  DrawIconEx(canvas.Dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  const std::vector<DWORD> onWhite = canvas.Pixels();
  for (std::size_t i = 0; i < onBlack.size(); ++i) {
    onBlack[i] = onBlack[i] == onWhite[i] ? (onBlack[i] & 0x00FFFFFFu) : kTransparent;
  }
  return onBlack;
}

// The pixels shown on the screen in the client area of a window; the icon of
// another process cannot be drawn here, but its picture can be read.
std::vector<DWORD> CaptureClient(HWND window, int width, int height) {
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  PixelCanvas canvas(width, height);
  const HDC screen = GetDC(nullptr);
  if (!canvas.IsReady() || screen == nullptr) {
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return {};
  }
  BitBlt(canvas.Dc(), 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  ReleaseDC(nullptr, screen);
  std::vector<DWORD> pixels = canvas.Pixels();
  for (DWORD& pixel : pixels) pixel &= 0x00FFFFFFu;
  return pixels;
}

bool MatchesOpaquePixels(const std::vector<DWORD>& shown, const std::vector<DWORD>& stock) {
  if (shown.size() != stock.size()) return false;
  std::size_t opaque = 0;
  for (std::size_t i = 0; i < stock.size(); ++i) {
    if (stock[i] == kTransparent) continue;
    if (stock[i] != shown[i]) return false;
    ++opaque;
  }
  return opaque > 0;
}

// Names the stock icon that the box's icon control shows. The box may not be
// painted yet when it first becomes visible, so the screen is read a few times.
std::string ClassifyIcon(HWND iconControl) {
  if (iconControl == nullptr) return "none";
  DWORD_PTR icon = 0;
  if (!SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &icon) ||
      icon == 0) {
    return "none";
  }
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  for (int attempt = 0; attempt < kIconAttempts; ++attempt) {
    const std::vector<DWORD> shown = CaptureClient(iconControl, width, height);
    for (const StockIcon& stock : kStockIcons) {
      const HICON stockIcon = LoadIcon(nullptr, stock.resource);
      if (MatchesOpaquePixels(shown, RenderOpaquePixels(stockIcon, width, height))) {
        return stock.name;
      }
    }
    Sleep(kPollMs * 2);
  }
  return "other";
}

struct Button {
  int id;
  int left;
  HWND window;
};

struct BoxFacts {
  std::wstring caption;
  std::wstring text;
  HWND iconControl = nullptr;
  std::vector<Button> buttons;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM context) {
  BoxFacts& facts = *reinterpret_cast<BoxFacts*>(context);
  if (!IsWindowVisible(control)) return TRUE;
  if (HasClass(control, L"Button")) {
    RECT rect = {};
    GetWindowRect(control, &rect);
    facts.buttons.push_back({GetDlgCtrlID(control), rect.left, control});
  } else if (HasClass(control, L"Static")) {
    if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      facts.iconControl = control;
    } else if (facts.text.empty()) {
      facts.text = ReadWindowText(control);
    }
  }
  return TRUE;
}

BoxFacts ReadBox(HWND box) {
  BoxFacts facts;
  facts.caption = ReadWindowText(box);
  EnumChildWindows(box, CollectControl, reinterpret_cast<LPARAM>(&facts));
  // Buttons left to right, as the user sees them.
  for (std::size_t i = 1; i < facts.buttons.size(); ++i) {
    for (std::size_t j = i; j > 0 && facts.buttons[j].left < facts.buttons[j - 1].left; --j) {
      std::swap(facts.buttons[j], facts.buttons[j - 1]);
    }
  }
  return facts;
}

struct BoxSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM context) {
  BoxSearch& search = *reinterpret_cast<BoxSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search.processId && IsWindowVisible(window) && HasClass(window, kDialogClass)) {
    search.found = window;
    return FALSE;
  }
  return TRUE;
}

// A hidden window that notices when Windows asks every program to end, which
// is how a requested restart shows; only a window receives that question.
class SessionWatch {
 public:
  explicit SessionWatch(RecordFile& records) : m_records(records) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    m_window = CreateWindowW(kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             windowClass.hInstance, nullptr);
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;
  ~SessionWatch() {
    if (m_window != nullptr) DestroyWindow(m_window);
  }

 private:
  static constexpr const wchar_t* kClassName = L"UninstResponderSessionWatch";

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* watch = reinterpret_cast<SessionWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (watch != nullptr && (message == WM_QUERYENDSESSION || message == WM_ENDSESSION)) {
      watch->RecordOnce();
      return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  void RecordOnce() {
    if (m_recorded) return;
    m_recorded = true;
    m_records.Write("{\"event\":\"end-session\"}");
  }

  RecordFile& m_records;
  HWND m_window = nullptr;
  bool m_recorded = false;
};

// Waits for the program to end or for the time to pass, handling the messages
// that reach this process meanwhile. True when the program has ended.
bool WaitHandlingMessages(HANDLE process, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed >= milliseconds ? 0 : milliseconds - elapsed;
    const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return true;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    if (woken == WAIT_TIMEOUT || left == 0) return false;
  }
}

enum class WaitResult { kBox, kExited, kTimedOut };

WaitResult WaitForBox(const PROCESS_INFORMATION& process, DWORD timeoutMs, HWND* box) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) return WaitResult::kExited;
    BoxSearch search = {process.dwProcessId, nullptr};
    EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) {
      *box = search.found;
      return WaitResult::kBox;
    }
    if (GetTickCount() - start >= timeoutMs) return WaitResult::kTimedOut;
    WaitHandlingMessages(process.hProcess, kPollMs);
  }
}

// Waits until an answered box has gone, or the program has ended.
void WaitForBoxGone(const PROCESS_INFORMATION& process, HWND box, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (IsWindow(box) && IsWindowVisible(box) &&
         !WaitHandlingMessages(process.hProcess, kPollMs)) {
    if (GetTickCount() - start >= timeoutMs) return;
  }
}

// Clicks the box's own button for the answer; returns what was recorded.
std::string AnswerBox(const BoxFacts& facts, const std::string& answer) {
  if (answer.empty()) return "none";
  const int id = IdOfAnswer(answer);
  for (const Button& button : facts.buttons) {
    if (id != 0 && button.id == id) {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(button.window, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
      return answer;
    }
  }
  return "refused:" + answer;
}

std::string BoxRecord(int index, const BoxFacts& facts, const std::string& icon,
                      const std::string& answer) {
  std::vector<std::string> buttons;
  for (const Button& button : facts.buttons) buttons.push_back(NameOfButton(button.id));
  return "{\"event\":\"box\",\"index\":" + std::to_string(index) +
         ",\"caption\":" + JsonString(ToUtf8(facts.caption)) +
         ",\"text\":" + JsonString(ToUtf8(facts.text)) + ",\"buttons\":" + JsonList(buttons) +
         ",\"icon\":" + JsonString(icon) + ",\"answer\":" + JsonString(answer) + "}";
}

void RecordExit(RecordFile& records, const PROCESS_INFORMATION& process) {
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  records.Write("{\"event\":\"exit\",\"code\":" + std::to_string(code) + "}");
}

void EndProgram(RecordFile& records, const PROCESS_INFORMATION& process, DWORD timeoutMs) {
  TerminateProcess(process.hProcess, 255);
  WaitForSingleObject(process.hProcess, timeoutMs);
  RecordExit(records, process);
}

// Answers boxes until the program ends, a box cannot be answered as listed,
// or no box comes in time.
void AnswerBoxes(RecordFile& records, const PROCESS_INFORMATION& process, const Options& options) {
  std::size_t next = 0;
  for (int index = 1;; ++index) {
    HWND box = nullptr;
    const WaitResult waited = WaitForBox(process, options.timeoutMs, &box);
    if (waited == WaitResult::kExited) {
      RecordExit(records, process);
      return;
    }
    if (waited == WaitResult::kTimedOut) {
      records.Write("{\"event\":\"timeout\",\"waited_ms\":" + std::to_string(options.timeoutMs) +
                    "}");
      EndProgram(records, process, options.timeoutMs);
      return;
    }
    const BoxFacts facts = ReadBox(box);
    const std::string icon = ClassifyIcon(facts.iconControl);
    const std::string wanted = next < options.answers.size() ? options.answers[next++] : "";
    const std::string given = AnswerBox(facts, wanted);
    records.Write(BoxRecord(index, facts, icon, given));
    if (given != wanted || wanted.empty()) {
      EndProgram(records, process, options.timeoutMs);
      return;
    }
    WaitForBoxGone(process, box, options.timeoutMs);
  }
}

// A registry link as the NT family makes it: a key created as a link whose
// SymbolicLinkValue names the target object, in UTF-16 without terminator.
bool CreateLink(const std::string& path, const std::string& target) {
  uninst::ScopedKey link;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ToWide(path).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, link.Receive(),
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring name = L"\\Registry\\Machine\\" + ToWide(target);
  return RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                        reinterpret_cast<const BYTE*>(name.data()),
                        static_cast<DWORD>(name.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int RunProgram(const Options& options) {
  RecordFile records(options.output);
  if (!records.IsOpen()) {
    std::fprintf(stderr, "responder: cannot write %s\n", options.output.c_str());
    return 2;
  }
  for (const auto& [path, target] : options.links) {
    if (!CreateLink(path, target)) {
      records.Write("{\"event\":\"link-failed\",\"key\":" + JsonString(path) + "}");
      return 1;
    }
  }
  // The command line goes over as UTF-16, so that it reaches the program in
  // its own code page whatever it holds.
  std::wstring commandLine = ToWide(options.commandLine);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(ToWide(options.program).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    records.Write("{\"event\":\"start-failed\",\"error\":" + std::to_string(GetLastError()) + "}");
    return 1;
  }
  ScopedKernelHandle processHandle(process.hProcess);
  ScopedKernelHandle threadHandle(process.hThread);
  SessionWatch watch(records);
  records.Write("{\"event\":\"start\",\"pid\":" + std::to_string(process.dwProcessId) + "}");
  AnswerBoxes(records, process, options);
  // A restart request reaches the other programs after its caller has gone on.
  const HANDLE never = GetCurrentProcess();
  WaitHandlingMessages(never, options.lingerMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc != 2 || !ParseOptions(argv[1], &options)) {
    std::fprintf(stderr, "usage: responder.exe <control-file> (program= and output= needed)\n");
    return 2;
  }
  return RunProgram(options);
}
