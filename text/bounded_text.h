// Bounded text composition into fixed character buffers.
//
// Every path, command or value the setup composes goes into a fixed buffer.
// These helpers either store the whole result, terminator included, within the
// buffer's size, or fail and leave the buffer exactly as it was: a composed
// name is never silently cut short.
#ifndef TEXT_BOUNDED_TEXT_H
#define TEXT_BOUNDED_TEXT_H

#include <cstddef>
#include <cstring>

// Appends `text` to the terminated string in `buffer` (capacity `size` bytes,
// terminator included). Returns false and leaves `buffer` untouched when the
// result would not fit, when `buffer` holds no terminator within `size`, or
// when an argument is null.
inline bool AppendText(char *buffer, size_t size, const char *text) {
  if (buffer == nullptr || text == nullptr || size == 0)
    return false;
  const void *end = std::memchr(buffer, '\0', size);
  if (end == nullptr)
    return false;
  size_t used = static_cast<size_t>(static_cast<const char *>(end) - buffer);
  size_t add = std::strlen(text);
  if (add >= size - used)
    return false;
  std::memmove(buffer + used, text, add + 1);
  return true;
}

// Copies `text` into `buffer` (capacity `size` bytes, terminator included).
// Returns false and leaves `buffer` untouched when it would not fit or an
// argument is null.
inline bool CopyText(char *buffer, size_t size, const char *text) {
  if (buffer == nullptr || text == nullptr || size == 0)
    return false;
  size_t len = std::strlen(text);
  if (len >= size)
    return false;
  std::memmove(buffer, text, len + 1);
  return true;
}

// Copies the first `length` bytes of `text` (which must hold at least that
// many bytes) as a terminated string. Returns
// false and leaves `buffer` untouched when `length` bytes plus the terminator
// do not fit or an argument is null.
inline bool CopyTextN(char *buffer, size_t size, const char *text,
                      size_t length) {
  if (buffer == nullptr || text == nullptr || length >= size)
    return false;
  std::memmove(buffer, text, length);
  buffer[length] = '\0';
  return true;
}

// Templates for arrays, so the size always comes from the buffer itself.
template <size_t N>
inline bool AppendText(char (&buffer)[N], const char *text) {
  return AppendText(buffer, N, text);
}
template <size_t N> inline bool CopyText(char (&buffer)[N], const char *text) {
  return CopyText(buffer, N, text);
}

#endif
