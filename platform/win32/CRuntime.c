/* The few C library routines UNINST.EXE uses, so that it needs no runtime
 * DLL: the core's string and memory calls, the ones the compiler emits for
 * copies and clears, and a heap over the process heap. Built without
 * built-ins so that none of these loops is turned back into a call of
 * itself. */
#include <stddef.h>

#include <windows.h>

void* memcpy(void* dest, const void* source, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)source;
  while (count-- > 0) *d++ = *s++;
  return dest;
}

void* memmove(void* dest, const void* source, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  const unsigned char* s = (const unsigned char*)source;
  if (d <= s) return memcpy(dest, source, count);
  while (count-- > 0) d[count] = s[count];
  return dest;
}

void* memset(void* dest, int value, size_t count) {
  unsigned char* d = (unsigned char*)dest;
  while (count-- > 0) *d++ = (unsigned char)value;
  return dest;
}

int memcmp(const void* left, const void* right, size_t count) {
  const unsigned char* l = (const unsigned char*)left;
  const unsigned char* r = (const unsigned char*)right;
  for (; count > 0; --count, ++l, ++r) {
    if (*l != *r) return (int)*l - (int)*r;
  }
  return 0;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end != '\0') ++end;
  return (size_t)(end - text);
}

char* strchr(const char* text, int wanted) {
  for (;; ++text) {
    if (*text == (char)wanted) return (char*)text;
    if (*text == '\0') return NULL;
  }
}

int strncmp(const char* left, const char* right, size_t count) {
  for (; count > 0; --count, ++left, ++right) {
    if (*left != *right || *left == '\0') {
      return (int)(unsigned char)*left - (int)(unsigned char)*right;
    }
  }
  return 0;
}

int strcmp(const char* left, const char* right) { return strncmp(left, right, (size_t)-1); }

char* strpbrk(const char* text, const char* set) {
  for (; *text != '\0'; ++text) {
    if (strchr(set, *text) != NULL) return (char*)text;
  }
  return NULL;
}

/* Unsigned 64-bit division, which 32-bit x86 code calls a helper for: one
 * bit at a time, small rather than fast, as the program divides one time
 * stamp per file. */
unsigned long long __udivdi3(unsigned long long dividend, unsigned long long divisor) {
  unsigned long long quotient = 0;
  unsigned long long remainder = 0;
  int bit;
  for (bit = 63; bit >= 0; --bit) {
    remainder = (remainder << 1) | ((dividend >> bit) & 1);
    if (remainder >= divisor) {
      remainder -= divisor;
      quotient |= 1ULL << bit;
    }
  }
  return quotient;
}

/* The process heap exists on every Windows edition, from the first one on. */
void* malloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void free(void* block) {
  if (block != NULL) HeapFree(GetProcessHeap(), 0, block);
}
