// What the run shares with its cleanup phases: the machine, the path buffer
// every phase uses as scratch, the windows directory, the restart flag and
// the texts that file removal loads and shows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Text.h"
#include "platform/Platform.h"

namespace uninst {

// What a phase gives back: Cancel ends the run, anything else goes on.
enum class SweepOutcome { kGoOn, kCancelled };

struct RunContext {
  static constexpr std::size_t kPathBufferSize = 512;

  explicit RunContext(Platform& machine) : platform(machine) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  // Replaces `holder` with message n in the run's language.
  bool LoadMessage(Text& holder, int number);
  // Shows the message text under the caption.
  int ShowMessage(std::uint32_t style);

  Platform& platform;
  char pathBuffer[kPathBufferSize] = {};
  // Base of the file paths the phases build, without its trailing backslash.
  const char* windowsDirectory = "";
  // Set when any removal answer is Yes; chooses the closing box.
  bool restartFlag = false;
  Text formatText;
  Text messageText;
  Text caption;
  std::int32_t languageBase = 0;
  std::int32_t confirmSwitch = 0;
};

}  // namespace uninst
