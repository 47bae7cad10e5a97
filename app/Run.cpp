// The uninstall run: switches, language, windows directory, the opening
// question, the cleanup phases in their fixed order and the closing box.
#include "app/Run.h"

#include <cstring>

#include "app/Messages.h"
#include "app/Switches.h"
#include "files/DriverFiles.h"
#include "registry/DeviceSweeps.h"
#include "registry/SetupCatalogue.h"

namespace uninst {

namespace {

using Phase = SweepOutcome (*)(Run&);

// The cleanup phases, in the order they run.
constexpr Phase kPhases[] = {
    [](Run& run) { return SweepNamedDevice(run, kNamedDeviceBranches[0]); },
    [](Run& run) { return SweepNamedDevice(run, kNamedDeviceBranches[1]); },
    [](Run& run) { return SweepVendorProduct(run, kVendorProductBranches[0]); },
    [](Run& run) { return SweepVendorProduct(run, kVendorProductBranches[1]); },
    SweepFloppyClass,
    CleanSetupCatalogue,
    SweepDriverFiles,
};

SweepOutcome RunPhases(Run& run) {
  for (Phase phase : kPhases) {
    if (phase(run) == SweepOutcome::kCancelled) return SweepOutcome::kCancelled;
  }
  return SweepOutcome::kGoOn;
}

// Removes exactly one trailing backslash, however many there are.
void DropTrailingBackslash(char* directory) {
  const std::size_t length = std::strlen(directory);
  if (length > 0 && directory[length - 1] == '\\') directory[length - 1] = '\0';
}

void ShowClosing(Run& run) {
  UninstallApp& app = run.app;
  if (run.restartFlag) {
    app.LoadMessage(app.m_messageText, kMsgUninstalledRestart);
    if (app.ShowMessage(kMbYesNo | kMbIconQuestion) == kIdYes) {
      app.GetPlatform().ExitWindowsEx(kEwxReboot, 0);
    }
  } else {
    app.LoadMessage(app.m_messageText, kMsgUninstalled);
    app.ShowMessage(kMbOk | kMbIconInformation);
  }
}

}  // namespace

SweepOutcome Run::RemovePathBufferFile() {
  const int answer = app.RemoveFileConfirmed(app.m_pathBuffer);
  if (answer == kIdCancel) return SweepOutcome::kCancelled;
  if (answer == kIdYes) restartFlag = true;
  return SweepOutcome::kGoOn;
}

bool UninstallApp::InitInstance() {
  m_confirmSwitch = 0;
  Switches switches = ReadSwitches(m_commandLine);
  m_confirmSwitch = switches.confirm ? 1 : 0;

  const bool japanese =
      switches.languageGiven ? switches.japanese : m_platform.GetOEMCP() == kJapaneseOemCodePage;
  m_languageBase = japanese ? kLanguageBaseJapanese : kLanguageBaseEnglish;
  LoadMessage(m_caption, kMsgCaption);

  // The run's own copy: the path buffer is scratch for every phase.
  char systemDirectory[kPathBufferSize];
  Run run(*this);
  if (switches.directoryGiven) {
    // The /D token lives in the command line, which the run owns.
    DropTrailingBackslash(switches.directory);
    run.windowsDirectory = switches.directory;
  } else {
    // A result of the buffer's size or more is the size a longer directory
    // needs: nothing was written, and the run has no windows directory.
    const std::uint32_t length = m_platform.GetWindowsDirectory(m_pathBuffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) {
      LoadMessage(m_messageText, kMsgNoWindowsDirectory);
      ShowMessage(kMbOk | kMbIconWarning);
      return false;
    }
    m_pathBuffer[kPathBufferSize - 1] = '\0';
    std::memcpy(systemDirectory, m_pathBuffer, kPathBufferSize);
    DropTrailingBackslash(systemDirectory);
    run.windowsDirectory = systemDirectory;
  }

  LoadMessage(m_messageText, kMsgConfirmUninstall);
  if (ShowMessage(kMbYesNo | kMbIconQuestion) != kIdYes) return false;

  if (RunPhases(run) == SweepOutcome::kCancelled) return false;
  ShowClosing(run);
  return false;
}

}  // namespace uninst
