// The state shared by the setup's subsystems and its two threads.
#ifndef SHELL_SETUP_GLOBALS_H
#define SHELL_SETUP_GLOBALS_H

#include <atomic>
#include <cstdint>

// Media folder of the running setup, without a trailing backslash (may be
// empty). Written once on the user-interface thread before the worker starts.
extern char g_sourceDir[256];
// True when the media folder was too long for g_sourceDir, or the program's
// own file name could not be had whole; g_sourceDir is then empty: no
// program of the media can be named.
extern bool g_sourceDirTooLong;
// Install directory named by the last hand-off file read. Worker only.
extern char g_installDir[256];
// 1 Windows 95 family, 0 Windows NT 4.0, -1 unsupported.
extern int32_t g_platform;
// 0 Express, 1 Custom.
extern int32_t g_customMode;
// 0 while the worker runs, 1 after success, -1 after failure. Written by the
// worker, polled by the user-interface thread's status timer.
extern std::atomic<int32_t> g_installStatus;
// 1, 0 or -1 from the hand-off file; stored as the registry value AMA.
extern int32_t g_amaSetting;
// The process exit status, set by the shell and the install sequence; 1603
// (a general installation failure) until something better is known.
extern std::atomic<int32_t> g_exitCode;

// The product's name: program group, uninstall display name, messages.
#define PRODUCT_NAME "VKO Halvermont"

class InstallDialog;
// The one install host; its window owns every message box of the worker.
extern InstallDialog theInstallDialog;

#endif
