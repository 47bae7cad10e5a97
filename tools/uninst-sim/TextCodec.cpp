#include "tools/uninst-sim/TextCodec.h"

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

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUnit(std::string& out, std::uint32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
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

std::optional<std::string> Utf16LeToUtf8(const std::string& bytes, std::size_t* badOffset) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unitAt = [&bytes](std::size_t i) {
    return static_cast<std::uint32_t>(ByteOf(bytes[i]) | (ByteOf(bytes[i + 1]) << 8));
  };
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    std::uint32_t unit = unitAt(i);
    if (unit >= 0xDC00 && unit <= 0xDFFF) break;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 3 >= bytes.size()) break;
      const std::uint32_t low = unitAt(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) break;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(out, unit);
  }
  if (i != bytes.size()) {
    if (badOffset != nullptr) *badOffset = i;
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = DecodeUtf8(text, i, &cp);
    if (length == 0) return std::nullopt;
    i += length;
    if (cp >= 0x10000) {
      AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
      AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      AppendUnit(out, cp);
    }
  }
  return out;
}

}  // namespace uninst::tool
