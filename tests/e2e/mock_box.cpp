// Test double for checking the driver itself. It reads the file beside it
// named after its own base name with ".boxes": one message box per line,
// "<flags in hex>|<caption>|<text>", with "\n" in the text for a line break.
// It shows them one after another, each owned by nobody, and exits with 100
// plus the identifier of the last button pressed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  char *dot = strrchr(path, '.');
  if (n == 0 || n >= sizeof path || !dot ||
      static_cast<size_t>(dot - path) + 7 > sizeof path)
    return 1;
  memcpy(dot, ".boxes", 7);
  FILE *f = fopen(path, "rb");
  if (!f)
    return 2;
  int answer = 0;
  char line[512];
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = '\0';
    char *caption = strchr(line, '|');
    char *text = caption ? strchr(caption + 1, '|') : nullptr;
    if (!text)
      continue;
    *caption++ = '\0';
    *text++ = '\0';
    // "\n" in the file stands for a line break.
    char *w = text;
    for (const char *r = text; *r; ++r) {
      if (r[0] == '\\' && r[1] == 'n') {
        *w++ = '\n';
        ++r;
      } else {
        *w++ = *r;
      }
    }
    *w = '\0';
    UINT flags = static_cast<UINT>(strtoul(line, nullptr, 16));
    answer = MessageBoxA(nullptr, text, caption, flags);
  }
  fclose(f);
  return 100 + answer;
}
