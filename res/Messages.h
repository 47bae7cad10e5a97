// Message numbers of the catalogue that the run shows. Message n is loaded
// from string resource ID language base + n.
#pragma once

namespace uninst {

constexpr int kMsgCaption = 1;
constexpr int kMsgConfirmUninstall = 6;
constexpr int kMsgUninstalled = 7;
constexpr int kMsgRemoveFileQuestion = 8;
constexpr int kMsgFileDetails = 11;
constexpr int kMsgNoWindowsDirectory = 15;
constexpr int kMsgUninstalledRestart = 27;

constexpr int kLanguageBaseJapanese = 0;
constexpr int kLanguageBaseEnglish = 50;

// The OEM code page whose machines get Japanese messages by default.
constexpr unsigned kJapaneseOemCodePage = 932;

}  // namespace uninst
