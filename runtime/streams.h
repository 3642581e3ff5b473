// Buffered read-only file streams of the setup's own runtime: what the
// setup's readers use of the C library's streams, with the Windows C
// runtime's behaviour, over CreateFileA and ReadFile.
//
// Binary mode ("rb") hands the file's bytes over as they are. Text mode ("r",
// "rt") turns CR LF into LF, keeps a CR that no LF follows, and ends the file
// at the first Ctrl-Z (0x1A); a seek starts reading again at the new
// position. Positions are byte offsets into the file in both modes.
#ifndef RUNTIME_STREAMS_H
#define RUNTIME_STREAMS_H

#include <stddef.h>

#include <windows.h>

namespace rt {

struct Stream;

Stream *OpenStream(const char *name, const char *mode);
int CloseStream(Stream *stream);
// One character as an unsigned char value, or -1 at the end or on an error.
int GetChar(Stream *stream);
// Pushes `c` back, to be read next; -1 for c == -1 or when one is pending.
int UngetChar(int c, Stream *stream);
// Whole items of `size` bytes read into `buffer`, at most `count`.
size_t ReadItems(void *buffer, size_t size, size_t count, Stream *stream);
// 0 on success, non-zero when the position would be negative or the file
// refuses it. Clears the end-of-file indicator and any pushed-back character.
int SeekStream(Stream *stream, long offset, int origin);
long TellStream(Stream *stream);
void RewindStream(Stream *stream);
int AtEndOfFile(Stream *stream);
int HasError(Stream *stream);

// The last platform call of the streams that failed (CreateFileA, HeapAlloc,
// ReadFile, SetFilePointer, GetFileSize), with the last error it left (0
// for the heap, which sets none); `call` is null while none has failed.
// One record for the process: the setup reads files on its worker only.
struct StreamFailure {
  const char *call;
  DWORD error;
  unsigned count; // failures so far, to tell a new one from an old
};
StreamFailure LastStreamFailure();

} // namespace rt

#endif
