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
// The record of what this run changed, entry by entry in the order made, so
// that a failed installation undoes exactly that and nothing else. Each
// entry is written before its change: a key this run created, a value it
// created, a value it replaced (with the earlier type and bytes), an entry
// whose earlier state could not be read (the user's: it is left alone), and
// the program group when this run created it. The install writes a fixed
// set of a few dozen entries; a change that would not fit the record, or a
// value whose earlier bytes would not fit its buffer, is not made.
#define CHANGE_RECORD_SLOTS 40
#define CHANGE_KEY_SIZE 128
#define CHANGE_NAME_SIZE 32
#define CHANGE_VALUE_SIZE 512
enum ChangeKind {
  kKeyCreated,    // key: path below HKEY_LOCAL_MACHINE
  kKeyUnknown,    // key whose existence could not be read
  kValueCreated,  // value `name` in key
  kValueReplaced, // value with its earlier `type`, `size` and `data`
  kValueUnknown,  // value whose earlier state could not be read
  kGroupCreated,  // the program group
};
struct RecordedChange {
  ChangeKind kind;
  char key[CHANGE_KEY_SIZE];
  char name[CHANGE_NAME_SIZE];
  DWORD type;
  DWORD size;
  BYTE data[CHANGE_VALUE_SIZE];
};
// Writes: worker only; read by the rollback after the worker's last store.
extern RecordedChange g_changes[CHANGE_RECORD_SLOTS];
extern int32_t g_changeCount;
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
