// The setup's contact with its sibling programs: the media folder of the
// running program, starting a sibling program and waiting for it, and reading
// the hand-off file it leaves in the Windows directory.
#ifndef ENGINE_EXTERNAL_STEPS_H
#define ENGINE_EXTERNAL_STEPS_H

#include <windows.h>

#include <cstddef>

// Size of the buffers for the Windows directory and the hand-off file name.
#define HANDOFF_NAME_SIZE 200
// Size of the buffer for the program's own file name: longer than any path
// the system gives, so that the 255-character limit of g_sourceDir is the
// one that counts.
#define MODULE_NAME_SIZE 1024

// Sets g_sourceDir to the folder of the running program's own file
// (GetModuleFileNameA), cut at its last backslash character; the command line
// plays no part. A folder that would not fit g_sourceDir, or a file name that
// cannot be had whole (MODULE_NAME_SIZE - 2 characters at most), leaves it
// empty and sets g_sourceDirTooLong.
void GetSourceDir();

// Starts the sibling program `path`, named exactly and given the bare path as
// its whole command line, waits for it without a time limit and reads the
// hand-off file. A hand-off file that the program did not write (still the
// one that was there when it started) counts as a missing one. A null `path`
// is a program that cannot be started. Returns 0 to go on or -1, and stores
// the same value in g_installStatus once any message has been dismissed.
int RunExternalStep(const char *path);

// Reads <Windows directory>\install.tmp. Returns 0 and sets g_amaSetting and
// g_installDir, or returns -1 and changes neither. A missing file, and one
// without its status character, show the message of an unusable hand-off.
int ReadHandoffFile();

// True when `directory` may start a program or be registered: absolute, as
// X:\ (a drive letter, a colon, a backslash) or \\server\share followed by
// the end or a backslash, and without control characters (below 0x20, or
// 0x7F). A relative or empty one would name files on the current drive.
bool IsUsableInstallDir(const char *directory);

// Judges g_installDir where it is used: 0 when it is usable; otherwise shows
// the message of an unusable hand-off file and, once it is dismissed, stores
// -1 in g_installStatus and returns -1.
int CheckInstallDir();

// Composes the full name of the hand-off file into `name` (`size` bytes).
// Returns false, leaving `name` an empty string, when the Windows directory
// cannot be had or the name does not fit.
bool GetHandoffFileName(char *name, size_t size);

// The worker's notices to the install host (g_installHostWindow) around each
// sibling program: the backdrop belongs to the user-interface thread.
#define WM_SIBLING_STARTING (WM_APP + 1)
#define WM_SIBLING_ENDED (WM_APP + 2)

// Sent just before a sibling program starts, and once it has ended (or could
// not be started), before anything else happens. Each returns when the host
// has acted: a program's windows can then come above the backdrop, and
// afterwards the backdrop is topmost again, as the worker's message boxes
// expect. Without a host window nothing is sent.
void LetSiblingWindowsAbove();
void KeepBackdropOnTop();

#endif
