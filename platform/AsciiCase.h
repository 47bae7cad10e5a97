// Case folding of ASCII letters only, as Windows compares registry names:
// every other byte, double-byte characters included, compares as it is.
#pragma once

#include <cstddef>

namespace uninst {

constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when the first `length` bytes of `a` and `b` are equal but for ASCII case.
inline bool EqualsIgnoringAsciiCase(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// The same for two terminated texts, which must also be of one length.
inline bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && UpperAscii(*a) == UpperAscii(*b); ++a, ++b) {
  }
  return *a == '\0' && *b == '\0';
}

}  // namespace uninst
