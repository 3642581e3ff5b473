// The setup's contact with its sibling programs: the media folder from the
// command line, starting a sibling program and waiting for it, and reading
// the hand-off file it leaves in the Windows directory.
#ifndef ENGINE_EXTERNAL_STEPS_H
#define ENGINE_EXTERNAL_STEPS_H

#include <cstddef>

// Size of the buffers for the Windows directory and the hand-off file name.
#define HANDOFF_NAME_SIZE 200

// Sets g_sourceDir to the folder of the running program, taken from the
// command line: a leading double quote and the last character after it are
// removed, and the text is cut at its last backslash. A folder that would not
// fit g_sourceDir leaves it empty rather than cut short, and sets
// g_sourceDirTooLong.
void GetSourceDir();

// Starts the sibling program `path`, named exactly and given the bare path as
// its whole command line, waits for it without a time limit and reads the
// hand-off file. A hand-off file that the program did not write (still the
// one that was there when it started) counts as a missing one. A null `path`
// is a program that cannot be started. Returns 0 to go on or -1, and stores
// the same value in g_installStatus once any message has been dismissed.
int RunExternalStep(const char *path);

// Reads <Windows directory>\install.tmp. Returns 0 and sets g_amaSetting and
// g_installDir, or returns -1 and changes neither.
int ReadHandoffFile();

// Composes the full name of the hand-off file into `name` (`size` bytes).
// Returns false, leaving `name` an empty string, when the Windows directory
// cannot be had or the name does not fit.
bool GetHandoffFileName(char *name, size_t size);

#endif
