// The Windows-path map behind the program's fopen (linked with
// -Wl,--wrap=fopen, so that every fopen call reaches __wrap_fopen).
#include "file_map.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <vector>

extern "C" FILE *__real_fopen(const char *name, const char *mode);

namespace mediacheck {

namespace {

struct Mapping {
  std::string windowsFolder;
  std::string hostFolder;
};

std::mutex mapMutex;
std::vector<Mapping> mappings;
std::string scratchFolder;
#ifndef _WIN32
int textCopies = 0;
#endif
std::atomic<bool> active{false};

bool SameText(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

} // namespace

std::string HostFileIn(const std::string &folder, const std::string &part) {
  namespace fs = std::filesystem;
  if (part == "." || part == "..")
    return JoinHostPath(folder, part);
  // The folder's own spelling, also where the host compares names without
  // regard to case (Windows), so that problem lines name the file as it is.
  std::string spelt = part;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (name == part)
      return JoinHostPath(folder, name);
    if (spelt == part && SameText(name, part))
      spelt = name;
  }
  return JoinHostPath(folder, spelt);
}

std::string JoinHostPath(const std::string &folder, const std::string &name) {
  if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
    return folder + name;
  return folder + "/" + name;
}

void MapFolder(const std::string &windowsFolder,
               const std::string &hostFolder) {
  std::lock_guard<std::mutex> lock(mapMutex);
  for (Mapping &m : mappings) {
    if (SameText(m.windowsFolder, windowsFolder)) {
      m.hostFolder = hostFolder;
      return;
    }
  }
  mappings.push_back({windowsFolder, hostFolder});
}

bool IsMapped(const std::string &windowsFolder) {
  std::lock_guard<std::mutex> lock(mapMutex);
  for (const Mapping &m : mappings)
    if (SameText(m.windowsFolder, windowsFolder))
      return true;
  return false;
}

std::string HostPath(const std::string &windowsPath) {
  std::string host;
  size_t taken = 0;
  {
    std::lock_guard<std::mutex> lock(mapMutex);
    const Mapping *best = nullptr;
    for (const Mapping &m : mappings) {
      size_t n = m.windowsFolder.size();
      if (windowsPath.size() < n ||
          !SameText(windowsPath.substr(0, n), m.windowsFolder))
        continue;
      if (windowsPath.size() > n && windowsPath[n] != '\\')
        continue;
      if (best == nullptr || n > best->windowsFolder.size())
        best = &m;
    }
    if (best == nullptr)
      return std::string();
    host = best->hostFolder;
    taken = best->windowsFolder.size();
  }
  // The rest, part by part.
  std::string part;
  for (size_t i = taken; i <= windowsPath.size(); ++i) {
    if (i == windowsPath.size() || windowsPath[i] == '\\') {
      if (!part.empty())
        host = HostFileIn(host, part);
      part.clear();
    } else {
      part += windowsPath[i];
    }
  }
  return host;
}

void StartFileMap(const std::string &scratch) {
  {
    std::lock_guard<std::mutex> lock(mapMutex);
    scratchFolder = scratch;
  }
  active = true;
}

void StopFileMap() {
  active = false;
  std::lock_guard<std::mutex> lock(mapMutex);
  mappings.clear();
}

FILE *OpenHostFile(const std::string &hostPath, const char *mode) {
  return __real_fopen(hostPath.c_str(), mode);
}

} // namespace mediacheck

using namespace mediacheck;

#ifndef _WIN32
// Reads `host` as the Windows C runtime's text mode would and opens a copy
// of what it delivers.
static FILE *OpenAsWindowsText(const std::string &host) {
  FILE *in = __real_fopen(host.c_str(), "rb");
  if (in == nullptr)
    return nullptr;
  std::string text;
  int c;
  while ((c = std::fgetc(in)) != EOF && c != 0x1A) {
    if (c == '\r') {
      int next = std::fgetc(in);
      if (next == '\n') {
        text += '\n';
        continue;
      }
      if (next != EOF)
        std::ungetc(next, in);
    }
    text += static_cast<char>(c);
  }
  std::fclose(in);
  std::string copy;
  {
    std::lock_guard<std::mutex> lock(mapMutex);
    copy = scratchFolder + "/text-" + std::to_string(++textCopies);
  }
  FILE *out = __real_fopen(copy.c_str(), "wb");
  if (out == nullptr)
    return nullptr;
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written)
    return nullptr;
  return __real_fopen(copy.c_str(), "r");
}
#endif

// Every fopen of the program: through the map while it is active.
extern "C" FILE *__wrap_fopen(const char *name, const char *mode) {
  if (!active || name == nullptr || mode == nullptr)
    return __real_fopen(name, mode);
  std::string host = HostPath(name);
  // The setup only reads; a name outside the mapped folders, or a write,
  // reaches nothing of the machine.
  if (host.empty() || mode[0] != 'r' ||
      std::string(mode).find('+') != std::string::npos) {
    errno = ENOENT;
    return nullptr;
  }
#ifndef _WIN32
  if (std::string(mode).find('b') == std::string::npos)
    return OpenAsWindowsText(host);
#endif
  return __real_fopen(host.c_str(), mode);
}
