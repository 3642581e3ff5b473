// Native build only: the stream functions that native_stdio.h names, on the
// setup's own streams. A stream that these functions did not open is the host
// C library's (a test or mediacheck hands the setup's readers one of those)
// and goes to the host's function of the same name.
#include "runtime/native_stdio.h"

#include <mutex>
#include <set>

#include "runtime/streams.h"

// Below, the names are the host C library's again.
#undef fopen
#undef fclose
#undef fgetc
#undef getc
#undef ungetc
#undef fread
#undef fseek
#undef ftell
#undef rewind
#undef feof
#undef ferror

namespace {

std::mutex streamsMutex;
std::set<const void *> &OwnStreams() {
  static std::set<const void *> streams;
  return streams;
}

rt::Stream *Own(FILE *file) {
  std::lock_guard<std::mutex> lock(streamsMutex);
  return OwnStreams().count(file) ? reinterpret_cast<rt::Stream *>(file)
                                  : nullptr;
}

} // namespace

extern "C" {

FILE *merrik_fopen(const char *name, const char *mode) {
  rt::Stream *stream = rt::OpenStream(name, mode);
  if (stream != nullptr) {
    std::lock_guard<std::mutex> lock(streamsMutex);
    OwnStreams().insert(stream);
  }
  return reinterpret_cast<FILE *>(stream);
}

int merrik_fclose(FILE *file) {
  rt::Stream *stream = Own(file);
  if (stream == nullptr)
    return std::fclose(file);
  {
    std::lock_guard<std::mutex> lock(streamsMutex);
    OwnStreams().erase(stream);
  }
  return rt::CloseStream(stream);
}

int merrik_fgetc(FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::GetChar(stream) : std::fgetc(file);
}

int merrik_ungetc(int c, FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::UngetChar(c, stream) : std::ungetc(c, file);
}

size_t merrik_fread(void *buffer, size_t size, size_t count, FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::ReadItems(buffer, size, count, stream)
                : std::fread(buffer, size, count, file);
}

int merrik_fseek(FILE *file, long offset, int origin) {
  rt::Stream *stream = Own(file);
  return stream ? rt::SeekStream(stream, offset, origin)
                : std::fseek(file, offset, origin);
}

long merrik_ftell(FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::TellStream(stream) : std::ftell(file);
}

void merrik_rewind(FILE *file) {
  rt::Stream *stream = Own(file);
  if (stream)
    rt::RewindStream(stream);
  else
    std::rewind(file);
}

int merrik_feof(FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::AtEndOfFile(stream) : std::feof(file);
}

int merrik_ferror(FILE *file) {
  rt::Stream *stream = Own(file);
  return stream ? rt::HasError(stream) : std::ferror(file);
}

} // extern "C"
