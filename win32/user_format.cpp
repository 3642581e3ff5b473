// USER32's formatting, wsprintfA and wvsprintfA, over the host's vsnprintf.
//
// USER32 knows the flags "-", "#" and "0", a width, a precision, the size
// prefixes "l" (32 bits, as a long is on Windows) and "h", and the types
// c, d, i, s, u, x and X; it stores at most 1024 bytes, the terminator
// included. On the host a long may be 64 bits, so the "l" prefix is dropped
// before the host formats: every 32-bit argument is an int there.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const size_t kFormatLimit = 1024;

std::string hostFormat(LPCSTR format) {
  std::string host;
  for (const char *p = format; *p != '\0'; ++p) {
    host += *p;
    if (*p != '%')
      continue;
    ++p;
    while (*p == '-' || *p == '#' || *p == '0')
      host += *p++;
    while (*p >= '0' && *p <= '9')
      host += *p++;
    if (*p == '.') {
      host += *p++;
      while (*p >= '0' && *p <= '9')
        host += *p++;
    }
    if (*p == 'l')
      ++p;
    else if (*p == 'h')
      host += *p++;
    if (*p == '\0')
      break;
    host += *p;
  }
  return host;
}

} // namespace

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist) {
  if (lpOut == nullptr || lpFmt == nullptr)
    return 0;
  const std::string format = hostFormat(lpFmt);
  const int n = std::vsnprintf(lpOut, kFormatLimit, format.c_str(), arglist);
  if (n < 0) {
    lpOut[0] = '\0';
    return 0;
  }
  return n < static_cast<int>(kFormatLimit)
             ? n
             : static_cast<int>(kFormatLimit - 1);
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  const int n = wvsprintfA(lpOut, lpFmt, args);
  va_end(args);
  return n;
}
