// The checker's file system: the Windows paths that the setup's code opens
// (C:\WINDOWS\install.tmp, <install dir>\default.cfg, ...) are mapped onto
// host folders, so the setup reads the files a run would read without any
// file of the machine being touched.
//
// A mapping joins a Windows folder (compared without regard to case) to a
// host folder. A Windows path under a mapped folder, the longest one first,
// names the host folder followed by the rest of the path with each backslash
// taken as a folder separator; each part is looked up without regard to case,
// as Windows does. While the map is active, every fopen of the program goes
// through it: a path under no mapped folder opens nothing. On a host whose C
// runtime has no text mode, a text-mode open reads the file as the Windows C
// runtime would (CR LF read as LF, Ctrl-Z ending the file).
#ifndef TOOLS_MEDIACHECK_FILE_MAP_H
#define TOOLS_MEDIACHECK_FILE_MAP_H

#include <cstdio>
#include <string>

namespace mediacheck {

// Joins `windowsFolder` (no trailing backslash) to `hostFolder`.
void MapFolder(const std::string &windowsFolder, const std::string &hostFolder);
// True when `windowsFolder` itself is mapped.
bool IsMapped(const std::string &windowsFolder);
// The host path of `windowsPath`, or an empty string when no mapped folder
// holds it.
std::string HostPath(const std::string &windowsPath);
// Starts sending the program's fopen calls through the map; `scratch` is a
// host folder for the text-mode copies. Stop ends it and forgets the map.
void StartFileMap(const std::string &scratch);
void StopFileMap();
// `folder` and `name` joined by one separator (a folder such as D:\ or /
// already ends in one).
std::string JoinHostPath(const std::string &folder, const std::string &name);
// The host path of `name` in the host folder `folder`, spelt as the folder
// spells it when only the letter case differs.
std::string HostFileIn(const std::string &folder, const std::string &name);
// Opens a host file directly, never through the map.
FILE *OpenHostFile(const std::string &hostPath, const char *mode);

} // namespace mediacheck

#endif
