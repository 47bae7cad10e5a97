#include "core/Text.h"

#include <cstring>

#include "platform/Platform.h"

namespace uninst {

namespace {

// Decimal text of a signed 32-bit number into `out` (at least 12 bytes).
void FormatDecimal(long number, char* out) {
  char digits[12];
  std::size_t count = 0;
  // Work in unsigned 32 bits so that the most negative number is handled too.
  const bool negative = number < 0;
  unsigned long magnitude =
      negative ? 0UL - static_cast<unsigned long>(number) : static_cast<unsigned long>(number);
  magnitude &= 0xFFFFFFFFUL;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::size_t pos = 0;
  if (negative) out[pos++] = '-';
  while (count > 0) out[pos++] = digits[--count];
  out[pos] = '\0';
}

}  // namespace

void Text::Clear() {
  m_length = 0;
  m_data[0] = '\0';
}

void Text::SetLength(std::size_t length) {
  m_length = length < kCapacity ? length : kCapacity - 1;
  m_data[m_length] = '\0';
}

bool Text::Assign(const char* text) {
  Clear();
  return Append(text);
}

bool Text::Append(const char* text) {
  const std::size_t add = std::strlen(text);
  if (add >= kCapacity - m_length) return false;
  std::memmove(m_data + m_length, text, add + 1);
  m_length += add;
  return true;
}

bool Text::Format(const char* format, long number, const char* string) {
  Text result;
  bool complete = true;
  char piece[12];
  for (const char* p = format; *p != '\0'; ++p) {
    const char* insert = piece;
    if (p[0] == '%' && p[1] == '%') {
      insert = "%";
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      FormatDecimal(number, piece);
      ++p;
    } else if (p[0] == '%' && p[1] == 'l' && p[2] == 'd') {
      FormatDecimal(number, piece);
      p += 2;
    } else if (p[0] == '%' && p[1] == 's') {
      insert = string;
      ++p;
    } else {
      piece[0] = *p;
      piece[1] = '\0';
    }
    complete = result.Append(insert) && complete;
  }
  Assign(result.Get());
  return complete;
}

bool CopyBounded(char* dest, std::size_t capacity, const char* source) {
  const std::size_t length = std::strlen(source);
  if (length >= capacity) return false;
  std::memmove(dest, source, length + 1);
  return true;
}

bool JoinPath(char* dest, std::size_t capacity, const char* const* parts, std::size_t count) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < count; ++i) total += std::strlen(parts[i]) + (i > 0 ? 1 : 0);
  if (total >= capacity) return false;
  // Parts may live in `dest` itself (a value read into the path buffer), so
  // build the result before writing it.
  char joined[1024];
  if (total >= sizeof joined) return false;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) joined[pos++] = '\\';
    const std::size_t length = std::strlen(parts[i]);
    std::memcpy(joined + pos, parts[i], length);
    pos += length;
  }
  joined[pos] = '\0';
  std::memcpy(dest, joined, pos + 1);
  return true;
}

const char* NextCharacter(const char* p, Platform& platform) {
  const bool lead = platform.IsDBCSLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0';
  return lead ? p + 2 : p + 1;
}

const char* FindCharacter(const char* text, const char* set, Platform& platform) {
  for (const char* p = text; *p != '\0'; p = NextCharacter(p, platform)) {
    if (std::strchr(set, *p) != nullptr) return p;
  }
  return nullptr;
}

}  // namespace uninst
