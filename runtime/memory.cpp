// Memory and string functions of MERRIK.EXE's own runtime: the process heap
// for new and delete, and the byte and string functions of the C library.
// Compiled without the compiler's own knowledge of these functions, so that
// none of the loops below is turned into a call of itself.
#include <windows.h>

#include <stddef.h>

void *operator new(size_t size) {
  return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
}
void *operator new[](size_t size) { return operator new(size); }
void operator delete(void *block) noexcept {
  if (block != nullptr)
    HeapFree(GetProcessHeap(), 0, block);
}
void operator delete[](void *block) noexcept { operator delete(block); }
void operator delete(void *block, size_t) noexcept { operator delete(block); }
void operator delete[](void *block, size_t) noexcept { operator delete(block); }

extern "C" {

void *memset(void *target, int value, size_t count) {
  unsigned char *p = static_cast<unsigned char *>(target);
  while (count-- > 0)
    *p++ = static_cast<unsigned char>(value);
  return target;
}

void *memcpy(void *target, const void *source, size_t count) {
  unsigned char *to = static_cast<unsigned char *>(target);
  const unsigned char *from = static_cast<const unsigned char *>(source);
  while (count-- > 0)
    *to++ = *from++;
  return target;
}

void *memmove(void *target, const void *source, size_t count) {
  unsigned char *to = static_cast<unsigned char *>(target);
  const unsigned char *from = static_cast<const unsigned char *>(source);
  if (to < from) {
    while (count-- > 0)
      *to++ = *from++;
  } else if (to > from) {
    while (count-- > 0)
      to[count] = from[count];
  }
  return target;
}

int memcmp(const void *a, const void *b, size_t count) {
  const unsigned char *p = static_cast<const unsigned char *>(a);
  const unsigned char *q = static_cast<const unsigned char *>(b);
  for (; count > 0; --count, ++p, ++q) {
    if (*p != *q)
      return *p < *q ? -1 : 1;
  }
  return 0;
}

void *memchr(const void *block, int value, size_t count) {
  const unsigned char *p = static_cast<const unsigned char *>(block);
  for (; count > 0; --count, ++p) {
    if (*p == static_cast<unsigned char>(value))
      return const_cast<unsigned char *>(p);
  }
  return nullptr;
}

size_t strlen(const char *text) {
  const char *p = text;
  while (*p != '\0')
    ++p;
  return static_cast<size_t>(p - text);
}

char *strchr(const char *text, int c) {
  for (;; ++text) {
    if (*text == static_cast<char>(c))
      return const_cast<char *>(text);
    if (*text == '\0')
      return nullptr;
  }
}

char *strpbrk(const char *text, const char *set) {
  for (; *text != '\0'; ++text) {
    for (const char *s = set; *s != '\0'; ++s) {
      if (*s == *text)
        return const_cast<char *>(text);
    }
  }
  return nullptr;
}

int strncmp(const char *a, const char *b, size_t count) {
  for (; count > 0; --count, ++a, ++b) {
    unsigned char p = static_cast<unsigned char>(*a);
    unsigned char q = static_cast<unsigned char>(*b);
    if (p != q)
      return p < q ? -1 : 1;
    if (p == '\0')
      return 0;
  }
  return 0;
}

} // extern "C"
