// The uninstall run: switches, language, windows directory, the opening
// question, the cleanup phases in their fixed order and the closing box.
#include <cstring>

#include "app/Switches.h"
#include "app/UninstallApp.h"
#include "core/Text.h"
#include "files/DriverFiles.h"
#include "registry/DeviceSweeps.h"
#include "registry/SetupCatalogue.h"
#include "res/Messages.h"

namespace uninst {

namespace {

using Phase = SweepOutcome (*)(RunContext&);

// The cleanup phases, in the order they run.
constexpr Phase kPhases[] = {
    [](RunContext& run) { return SweepNamedDevice(run, kNamedDeviceBranches[0]); },
    [](RunContext& run) { return SweepNamedDevice(run, kNamedDeviceBranches[1]); },
    [](RunContext& run) { return SweepVendorProduct(run, kVendorProductBranches[0]); },
    [](RunContext& run) { return SweepVendorProduct(run, kVendorProductBranches[1]); },
    SweepFloppyClass,
    CleanSetupCatalogue,
    SweepDriverFiles,
};

SweepOutcome RunPhases(RunContext& run) {
  for (Phase phase : kPhases) {
    if (phase(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

// Removes exactly one trailing backslash, however many there are. Read
// character by character: a backslash byte that ends a double-byte character
// belongs to that character.
void DropTrailingBackslash(char* directory, Platform& platform) {
  char* last = nullptr;
  for (char* p = directory; *p != '\0'; p = NextCharacter(p, platform)) last = p;
  if (last != nullptr && last[0] == '\\' && last[1] == '\0') *last = '\0';
}

void ShowClosing(RunContext& run) {
  if (run.restartFlag) {
    run.LoadMessage(run.messageText, kMsgUninstalledRestart);
    if (run.ShowMessage(kMbYesNo | kMbIconQuestion) == kIdYes) {
      run.platform.ExitWindowsEx(kEwxReboot, 0);
    }
  } else {
    run.LoadMessage(run.messageText, kMsgUninstalled);
    run.ShowMessage(kMbOk | kMbIconInformation);
  }
}

// The run after its switches are read. `systemDirectory` is the storage the
// windows directory is copied to when no /D switch gives it.
void Uninstall(RunContext& run, Switches& switches, char* systemDirectory) {
  constexpr std::size_t kPathBufferSize = RunContext::kPathBufferSize;
  Platform& platform = run.platform;
  run.confirmSwitch = switches.confirm ? 1 : 0;
  const bool japanese =
      switches.languageGiven ? switches.japanese : platform.GetOEMCP() == kJapaneseOemCodePage;
  run.languageBase = japanese ? kLanguageBaseJapanese : kLanguageBaseEnglish;
  run.LoadMessage(run.caption, kMsgCaption);

  if (switches.directoryGiven) {
    // The /D token lives in the command line, which the application owns.
    DropTrailingBackslash(switches.directory, platform);
    run.windowsDirectory = switches.directory;
  } else {
    // A result of the buffer's size or more is the size a longer directory
    // needs: nothing was written, and the run has no windows directory.
    const std::uint32_t length = platform.GetWindowsDirectory(run.pathBuffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) {
      run.LoadMessage(run.messageText, kMsgNoWindowsDirectory);
      run.ShowMessage(kMbOk | kMbIconWarning);
      return;
    }
    run.pathBuffer[kPathBufferSize - 1] = '\0';
    std::memcpy(systemDirectory, run.pathBuffer, kPathBufferSize);
    DropTrailingBackslash(systemDirectory, platform);
    run.windowsDirectory = systemDirectory;
  }

  run.LoadMessage(run.messageText, kMsgConfirmUninstall);
  if (run.ShowMessage(kMbYesNo | kMbIconQuestion) != kIdYes) return;

  if (RunPhases(run) == SweepOutcome::kCancelled) return;
  ShowClosing(run);
}

}  // namespace

bool UninstallApp::InitInstance() {
  // The run's own copy: the path buffer is scratch for every phase.
  char systemDirectory[kPathBufferSize];
  m_context.confirmSwitch = 0;
  m_context.restartFlag = false;
  Switches switches = ReadSwitches(m_commandLine, m_context.platform);
  Uninstall(m_context, switches, systemDirectory);
  // The windows directory may point into this frame.
  m_context.windowsDirectory = "";
  return false;
}

}  // namespace uninst
