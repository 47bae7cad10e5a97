// Decimal numbers appended to a text, for the version and date texts.
#pragma once

#include <cstdint>

#include "core/Text.h"

namespace uninst {

// Appends `value` in decimal with at least `minDigits` digits (leading zeros).
bool AppendNumber(Text& text, std::uint16_t value, unsigned minDigits);

}  // namespace uninst
