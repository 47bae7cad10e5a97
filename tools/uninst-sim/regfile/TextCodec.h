// Conversions between the encodings the machine folder's files use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/sim/CodePage.h"

namespace uninst::tool {

// Windows compares registry names by upper-casing ASCII letters only.
std::string UpperAscii(std::string text);
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

bool IsValidUtf8(const std::string& text);

// UTF-16LE and UTF-8, converted by iconv.
using sim::Utf16LeToUtf8;
using sim::Utf8ToUtf16Le;

}  // namespace uninst::tool
