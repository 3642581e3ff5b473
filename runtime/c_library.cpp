// The C library functions MERRIK.EXE uses, under their standard names, so
// that the setup's sources are the same in the Windows build, which links no
// C runtime, and in the native build, which uses the system's C library.
#include <windows.h>

#include <stdio.h>

#include "runtime/streams.h"

namespace {
rt::Stream *StreamOf(FILE *file) {
  return reinterpret_cast<rt::Stream *>(file);
}
} // namespace

extern "C" {

FILE *fopen(const char *name, const char *mode) {
  return reinterpret_cast<FILE *>(rt::OpenStream(name, mode));
}
int fclose(FILE *file) { return rt::CloseStream(StreamOf(file)); }
int fgetc(FILE *file) { return rt::GetChar(StreamOf(file)); }
int getc(FILE *file) { return rt::GetChar(StreamOf(file)); }
int ungetc(int c, FILE *file) { return rt::UngetChar(c, StreamOf(file)); }
size_t fread(void *buffer, size_t size, size_t count, FILE *file) {
  return rt::ReadItems(buffer, size, count, StreamOf(file));
}
int fseek(FILE *file, long offset, int origin) {
  return rt::SeekStream(StreamOf(file), offset, origin);
}
long ftell(FILE *file) { return rt::TellStream(StreamOf(file)); }
void rewind(FILE *file) { rt::RewindStream(StreamOf(file)); }
int feof(FILE *file) { return rt::AtEndOfFile(StreamOf(file)); }
int ferror(FILE *file) { return rt::HasError(StreamOf(file)); }

} // extern "C"
