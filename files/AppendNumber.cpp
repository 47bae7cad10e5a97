#include "files/AppendNumber.h"

namespace uninst {

bool AppendNumber(Text& text, std::uint16_t value, unsigned minDigits) {
  Text number;
  number.Format("%d", static_cast<long>(value), "");
  bool complete = true;
  for (std::size_t length = number.Length(); length < minDigits; ++length) {
    complete = text.Append("0") && complete;
  }
  return text.Append(number.Get()) && complete;
}

}  // namespace uninst
