// Sibling programs and the hand-off file install.tmp.
//
// install.tmp holds three CR LF lines: the status character ("0" means the
// sibling program failed), the AMA setting character ("0" gives 1, "1" gives
// 0, anything else -1) and the install directory, which only a CR ends.
#include "engine/external_steps.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "shell/install_dialog.h"
#include "shell/setup_globals.h"
#include "system/bounded_text.h"

// The start-up information is the 68-byte structure of the 32-bit system.
static_assert(sizeof(void *) != 4 || sizeof(STARTUPINFOA) == 68,
              "STARTUPINFOA must be 68 bytes in the 32-bit program");

void GetSourceDir() {
  const char *commandLine = GetCommandLineA();
  if (commandLine == nullptr)
    commandLine = "";

  // The text to cut: after a leading quote, everything but its last
  // character (the closing quote when no arguments follow).
  const char *text = commandLine;
  size_t length = std::strlen(commandLine);
  if (text[0] == '"') {
    ++text;
    --length;
    if (length > 0)
      --length;
  }

  // Cut at the last backslash of the whole remaining text; without one the
  // media folder is empty. The command line may be longer than the buffer:
  // only the folder itself has to fit, and a folder that does not fit is
  // never used cut short.
  size_t folderLength = 0;
  for (size_t i = length; i > 0; --i) {
    if (text[i - 1] == '\\') {
      folderLength = i - 1;
      break;
    }
  }
  g_sourceDirTooLong =
      !CopyTextN(g_sourceDir, sizeof(g_sourceDir), text, folderLength);
  if (g_sourceDirTooLong)
    g_sourceDir[0] = '\0';
}

bool GetHandoffFileName(char *name, size_t size) {
  if (name == nullptr || size == 0)
    return false;
  name[0] = '\0';
  char windowsDir[HANDOFF_NAME_SIZE];
  UINT written = GetWindowsDirectoryA(windowsDir, sizeof(windowsDir));
  // Zero means failure; a count of the buffer size or more means the
  // directory did not fit and the buffer holds no usable name.
  if (written == 0 || written >= sizeof(windowsDir))
    return false;
  if (!CopyText(name, size, windowsDir) ||
      !AppendText(name, size, "\\install.tmp")) {
    name[0] = '\0';
    return false;
  }
  return true;
}

int ReadHandoffFile() {
  char fileName[HANDOFF_NAME_SIZE];
  FILE *file = nullptr;
  if (GetHandoffFileName(fileName, sizeof(fileName)))
    file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    MessageBoxA(theInstallDialog.m_hWnd, "Can not open install.tmp file!",
                "Install Error", MB_TOPMOST | MB_ICONERROR);
    return -1;
  }

  if (std::fgetc(file) == '0') {
    std::fclose(file);
    return -1;
  }

  int32_t amaSetting = -1;
  std::fseek(file, 3, SEEK_SET);
  int c = std::fgetc(file);
  if (c == '0')
    amaSetting = 1;
  else if (c == '1')
    amaSetting = 0;

  // The install directory runs from offset 6 to the first CR or the end of
  // the file. A directory that does not fit is never used cut short: the
  // read fails and the previous values stay.
  char installDir[sizeof(g_installDir)];
  size_t length = 0;
  std::fseek(file, 6, SEEK_SET);
  while ((c = std::fgetc(file)) != EOF && c != '\r') {
    if (length + 1 >= sizeof(installDir)) {
      std::fclose(file);
      return -1;
    }
    installDir[length++] = static_cast<char>(c);
  }
  installDir[length] = '\0';
  std::fclose(file);

  std::memcpy(g_installDir, installDir, length + 1);
  g_amaSetting = amaSetting;
  return 0;
}

int RunExternalStep(const char *path) {
  // The command line buffer is writable, as CreateProcessA requires; a path
  // that does not fit it is a program that cannot be started.
  char commandLine[256] = "";
  static char emptyText[] = "";

  STARTUPINFOA startupInfo;
  std::memset(&startupInfo, 0, sizeof(startupInfo));
  startupInfo.cb = sizeof(startupInfo);
  startupInfo.lpReserved = nullptr;
  startupInfo.lpDesktop = emptyText;
  startupInfo.lpTitle = emptyText;
  startupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startupInfo.wShowWindow = SW_SHOW;
  startupInfo.cbReserved2 = 0;
  startupInfo.lpReserved2 = nullptr;

  PROCESS_INFORMATION processInfo;
  std::memset(&processInfo, 0, sizeof(processInfo));

  // The program is named exactly: without an application name the system
  // would search the unquoted path and, for C:\Program Files\..., start
  // C:\Program.exe first. Its command line stays the bare path.
  if (path == nullptr || !CopyText(commandLine, path) ||
      !CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startupInfo, &processInfo)) {
    MessageBoxA(theInstallDialog.m_hWnd, "Can not find Resource file.",
                "Installation Error", MB_TOPMOST | MB_ICONERROR);
    g_installStatus = -1;
    return -1;
  }

  WaitForSingleObject(processInfo.hThread, INFINITE);
  CloseHandle(processInfo.hThread);
  CloseHandle(processInfo.hProcess);

  int result = ReadHandoffFile();
  g_installStatus = result;
  return result;
}
