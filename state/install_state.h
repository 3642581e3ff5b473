// The installation's shared state: what the install host, the worker thread
// and the subsystems below them read and write. Each variable says which
// thread may write it and when.
#ifndef STATE_INSTALL_STATE_H
#define STATE_INSTALL_STATE_H

#include <windows.h>

#include <atomic>
#include <cstdint>

// Media folder of the running setup, without a trailing backslash (may be
// empty). Written once on the user-interface thread before the worker starts.
extern char g_sourceDir[256];
// True when the media folder was too long for g_sourceDir, or the program's
// own file name could not be had whole; g_sourceDir is then empty: no
// program of the media can be named. Written with g_sourceDir.
extern bool g_sourceDirTooLong;
// Install directory named by the last hand-off file read. Worker only.
extern char g_installDir[256];
// 1 Windows 95 family, 0 Windows NT 4.0, -1 unsupported. Written by the host
// before the worker starts.
extern int32_t g_platform;
// 0 Express, 1 Custom. Written by the Welcome dialog before the worker starts.
extern int32_t g_customMode;
// 0 while the worker runs, 1 after success, -1 after failure. Written by the
// worker, polled by the user-interface thread's status timer.
extern std::atomic<int32_t> g_installStatus;
// 1, 0 or -1 from the hand-off file; stored as the registry value AMA. Worker
// only.
extern int32_t g_amaSetting;
// The process exit status, 1603 (a general installation failure) until
// something better is known. Written by the dialogs and the worker, read at
// exit.
extern std::atomic<int32_t> g_exitCode;
// The install host's window, owner of every message box of the worker and
// receiver of its notices; null while there is none. Written by the host on
// the user-interface thread when its window is made and gone.
extern HWND g_installHostWindow;

#endif
