// Buffered read-only file streams over the Win32 file functions.
#include "runtime/streams.h"

#include <windows.h>

namespace rt {

namespace {
const DWORD BUFFER_SIZE = 4096;
const int END = -1;
const int CTRL_Z = 0x1A;

StreamFailure lastFailure = {nullptr, 0, 0};

// Keeps `call` as the last platform call that failed, with its last error.
void NoteFailure(const char *call, DWORD error) {
  lastFailure.call = call;
  lastFailure.error = error;
  ++lastFailure.count;
}
} // namespace

StreamFailure LastStreamFailure() { return lastFailure; }

struct Stream {
  HANDLE file;
  bool text;
  bool atEnd;  // the end-of-file indicator
  bool failed; // the error indicator
  bool ctrlZ;  // text mode: a Ctrl-Z ends the file here until the next seek
  int pushed;  // the character pushed back, or END
  DWORD bufferStart; // file offset of buffer[0]
  DWORD length;      // bytes held in the buffer
  DWORD next;        // index of the next byte to hand over
  unsigned char buffer[BUFFER_SIZE];
};

// The next byte of the file, refilling the buffer when it is used up. At the
// end of the file END comes back, and with `markEnd` the end-of-file
// indicator is set; a read the system refuses sets the error indicator.
static int RawByte(Stream *stream, bool markEnd) {
  if (stream->next == stream->length) {
    DWORD got = 0;
    if (!ReadFile(stream->file, stream->buffer, BUFFER_SIZE, &got, nullptr)) {
      NoteFailure("ReadFile", GetLastError());
      stream->failed = true;
      return END;
    }
    if (got == 0) {
      if (markEnd)
        stream->atEnd = true;
      return END;
    }
    stream->bufferStart += stream->length;
    stream->length = got;
    stream->next = 0;
  }
  return stream->buffer[stream->next++];
}

Stream *OpenStream(const char *name, const char *mode) {
  if (name == nullptr || mode == nullptr || mode[0] != 'r')
    return nullptr;
  bool text = true;
  for (const char *m = mode + 1; *m != '\0'; ++m) {
    if (*m == 'b')
      text = false;
    else if (*m == 't')
      text = true;
    else
      return nullptr; // the setup only ever reads
  }
  HANDLE file =
      CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    NoteFailure("CreateFileA", GetLastError());
    return nullptr;
  }
  Stream *stream =
      static_cast<Stream *>(HeapAlloc(GetProcessHeap(), 0, sizeof(Stream)));
  if (stream == nullptr) {
    NoteFailure("HeapAlloc", 0);
    CloseHandle(file);
    return nullptr;
  }
  stream->file = file;
  stream->text = text;
  stream->atEnd = false;
  stream->failed = false;
  stream->ctrlZ = false;
  stream->pushed = END;
  stream->bufferStart = 0;
  stream->length = 0;
  stream->next = 0;
  return stream;
}

int CloseStream(Stream *stream) {
  if (stream == nullptr)
    return END;
  BOOL closed = CloseHandle(stream->file);
  HeapFree(GetProcessHeap(), 0, stream);
  return closed ? 0 : END;
}

int GetChar(Stream *stream) {
  if (stream->pushed != END) {
    int c = stream->pushed;
    stream->pushed = END;
    return c;
  }
  if (!stream->text)
    return RawByte(stream, true);
  if (stream->ctrlZ) {
    stream->atEnd = true;
    return END;
  }
  int c = RawByte(stream, true);
  if (c == CTRL_Z) {
    // The position stays at the Ctrl-Z; every later read ends there too.
    --stream->next;
    stream->ctrlZ = true;
    stream->atEnd = true;
    return END;
  }
  if (c == '\r') {
    // Only the next byte decides; the end of the file after a CR is not yet
    // the end for the reader, who still gets the CR.
    int following = RawByte(stream, false);
    if (following == '\n')
      return '\n';
    if (following != END)
      --stream->next;
  }
  return c;
}

int UngetChar(int c, Stream *stream) {
  if (c == END || stream->pushed != END)
    return END;
  stream->pushed = c & 0xFF;
  stream->atEnd = false;
  return stream->pushed;
}

size_t ReadItems(void *buffer, size_t size, size_t count, Stream *stream) {
  if (size == 0 || count == 0)
    return 0;
  if (count > static_cast<size_t>(-1) / size)
    count = static_cast<size_t>(-1) / size;
  unsigned char *out = static_cast<unsigned char *>(buffer);
  size_t total = size * count;
  size_t done = 0;
  while (done < total) {
    int c = GetChar(stream);
    if (c == END)
      break;
    out[done++] = static_cast<unsigned char>(c);
  }
  return done / size;
}

long TellStream(Stream *stream) {
  long position = static_cast<long>(stream->bufferStart + stream->next);
  if (stream->pushed != END)
    --position;
  return position;
}

int SeekStream(Stream *stream, long offset, int origin) {
  // A seek ends the end-of-file state even when it fails.
  stream->atEnd = false;
  long base = 0;
  if (origin == FILE_CURRENT) {
    base = TellStream(stream);
  } else if (origin == FILE_END) {
    DWORD size = GetFileSize(stream->file, nullptr);
    if (size == INVALID_FILE_SIZE) {
      NoteFailure("GetFileSize", GetLastError());
      return END;
    }
    base = static_cast<long>(size);
  } else if (origin != FILE_BEGIN) {
    return END;
  }
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > 0x7FFFFFFFL - offset))
    return END;
  long position = base + offset;
  if (SetFilePointer(stream->file, position, nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    NoteFailure("SetFilePointer", GetLastError());
    return END;
  }
  stream->bufferStart = static_cast<DWORD>(position);
  stream->length = 0;
  stream->next = 0;
  stream->pushed = END;
  stream->ctrlZ = false;
  return 0;
}

void RewindStream(Stream *stream) {
  SeekStream(stream, 0, FILE_BEGIN);
  stream->failed = false;
}

int AtEndOfFile(Stream *stream) { return stream->atEnd ? 1 : 0; }

int HasError(Stream *stream) { return stream->failed ? 1 : 0; }

} // namespace rt
