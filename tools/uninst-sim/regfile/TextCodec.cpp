#include "tools/uninst-sim/regfile/TextCodec.h"

#include "platform/AsciiCase.h"

namespace uninst::tool {

namespace {

unsigned char ByteOf(char c) { return static_cast<unsigned char>(c); }

// Decodes one UTF-8 sequence at `i`; returns its length, 0 when malformed.
std::size_t DecodeUtf8(const std::string& text, std::size_t i, std::uint32_t* codePoint) {
  const unsigned char lead = ByteOf(text[i]);
  std::size_t length = 0;
  std::uint32_t value = 0;
  std::uint32_t minimum = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = ByteOf(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

}  // namespace

std::string UpperAscii(std::string text) {
  for (char& c : text) c = uninst::UpperAscii(c);
  return text;
}

bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && uninst::EqualsIgnoringAsciiCase(a.data(), b.data(), a.size());
}

bool IsValidUtf8(const std::string& text) {
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = DecodeUtf8(text, i, &cp);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace uninst::tool
