// The installation's shared state, read and written by the install host, the
// worker thread and the subsystems below them. Beside each variable, the one
// line "Writes:" says which thread may write it, and when.
#ifndef STATE_INSTALL_STATE_H
#define STATE_INSTALL_STATE_H

#include <windows.h>

#include <atomic>
#include <cstdint>

// Media folder of the running setup, without a trailing backslash; may be
// empty.
// Writes: user-interface thread, once, before the worker starts.
extern char g_sourceDir[256];
// True when the media folder was too long for g_sourceDir, or the program's
// own file name could not be had whole; g_sourceDir is then empty: no
// program of the media can be named.
// Writes: user-interface thread, with g_sourceDir.
extern bool g_sourceDirTooLong;
// Install directory named by the last hand-off file read.
// Writes: worker only.
extern char g_installDir[256];
// 1 Windows 95 family, 0 Windows NT 4.0, -1 unsupported.
// Writes: user-interface thread, before the worker starts.
extern int32_t g_platform;
// 0 Express, 1 Custom.
// Writes: user-interface thread (Welcome dialog), before the worker starts.
extern int32_t g_customMode;
// 0 while the worker runs, 1 after success, -1 after failure; polled by the
// status timer on the user-interface thread.
// Writes: worker only.
extern std::atomic<int32_t> g_installStatus;
// 1, 0 or -1 from the hand-off file; stored as the registry value AMA.
// Writes: worker only.
extern int32_t g_amaSetting;
// 1 once this run has stored the install path ("path" in the product key),
// which the rollback then removes; 0 otherwise, so that an earlier run's path
// stays.
// Writes: worker only; read by the rollback after the worker's last store.
extern int32_t g_pathStored;
// The process exit status, 1603 (a general installation failure) until
// something better is known; read when the program ends.
// Writes: either thread (atomic).
extern std::atomic<int32_t> g_exitCode;
// The install host's window: owner of every message box of the worker and
// receiver of its notices; null while there is none.
// Writes: user-interface thread, when the host's window is made and gone;
// the worker reads it meanwhile, hence atomic.
extern std::atomic<HWND> g_installHostWindow;

#endif
