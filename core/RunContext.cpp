#include "core/RunContext.h"

namespace uninst {

bool RunContext::LoadMessage(Text& holder, int number) {
  const int length = platform.LoadString(static_cast<std::uint32_t>(languageBase + number),
                                         holder.Buffer(), static_cast<int>(Text::kCapacity));
  holder.SetLength(length > 0 ? static_cast<std::size_t>(length) : 0);
  return length > 0;
}

int RunContext::ShowMessage(std::uint32_t style) {
  return platform.MessageBox(messageText.Get(), caption.Get(), style);
}

}  // namespace uninst
