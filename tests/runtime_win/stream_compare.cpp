// Reads edge files through the Windows C runtime's streams (msvcrt.dll) and
// through MERRIK.EXE's own, in text and binary mode, with the same calls,
// and compares every result, every character and every position. Prints the
// first difference of each file and mode; exits 1 when there is one.
//
// Usage: stream_compare <scratch folder>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/streams.h"

namespace {

struct CRuntime {
  typedef FILE Handle;
  static Handle *Open(const char *n, const char *m) { return fopen(n, m); }
  static void Close(Handle *f) { fclose(f); }
  static int Get(Handle *f) { return fgetc(f); }
  static int Unget(int c, Handle *f) { return ungetc(c, f); }
  static size_t Read(void *b, size_t s, size_t n, Handle *f) {
    return fread(b, s, n, f);
  }
  static int Seek(Handle *f, long o, int w) { return fseek(f, o, w); }
  static long Tell(Handle *f) { return ftell(f); }
  static void Rewind(Handle *f) { rewind(f); }
  static int Eof(Handle *f) { return feof(f) != 0; }
  static int Error(Handle *f) { return ferror(f) != 0; }
};

struct OwnRuntime {
  typedef rt::Stream Handle;
  static Handle *Open(const char *n, const char *m) {
    return rt::OpenStream(n, m);
  }
  static void Close(Handle *f) { rt::CloseStream(f); }
  static int Get(Handle *f) { return rt::GetChar(f); }
  static int Unget(int c, Handle *f) { return rt::UngetChar(c, f); }
  static size_t Read(void *b, size_t s, size_t n, Handle *f) {
    return rt::ReadItems(b, s, n, f);
  }
  static int Seek(Handle *f, long o, int w) { return rt::SeekStream(f, o, w); }
  static long Tell(Handle *f) { return rt::TellStream(f); }
  static void Rewind(Handle *f) { rt::RewindStream(f); }
  static int Eof(Handle *f) { return rt::AtEndOfFile(f) != 0; }
  static int Error(Handle *f) { return rt::HasError(f) != 0; }
};

// One line per call: what it returned, then the indicators and, in binary
// mode, the position. A text stream's position is only a value to seek back
// to; msvcrt's is no file offset near a Ctrl-Z or after a CR LF that
// straddled its buffer (6 after the first character of "ab\x1acd\r\n"), and
// the setup never asks a text stream for its position.
template <class R> struct Transcript {
  typename R::Handle *f;
  bool binary;
  std::vector<std::string> lines;

  void Note(const std::string &what, long result) {
    char text[160];
    std::snprintf(text, sizeof(text), "%s -> %ld  eof=%d err=%d pos=%ld",
                  what.c_str(), result, R::Eof(f), R::Error(f),
                  binary ? R::Tell(f) : -2L);
    lines.push_back(text);
  }
  void Get(const char *why) { Note(std::string("fgetc ") + why, R::Get(f)); }
  void Seek(long offset, int origin) {
    char what[48];
    std::snprintf(what, sizeof(what), "fseek %ld,%d", offset, origin);
    Note(what, R::Seek(f, offset, origin));
  }
  void Read(size_t size, size_t count) {
    std::vector<unsigned char> buffer(size * count + 1, 0xEE);
    size_t got = R::Read(buffer.data(), size, count, f);
    std::string what =
        "fread " + std::to_string(size) + "x" + std::to_string(count) + " [";
    for (size_t i = 0; i < got * size; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%02X", buffer[i]);
      what += hex;
    }
    Note(what + "]", static_cast<long>(got));
  }
};

template <class R>
std::vector<std::string> Exercise(const std::string &path, const char *mode,
                                  long size) {
  Transcript<R> t;
  t.binary = std::strchr(mode, 'b') != nullptr;
  t.f = R::Open(path.c_str(), mode);
  if (t.f == nullptr)
    return {"open failed"};
  // The whole file, one character at a time, and two reads past its end.
  for (long i = 0; i < size + 2; ++i)
    t.Get("sequential");
  // Back to the start: a character pushed back is read again.
  R::Rewind(t.f);
  t.Note("rewind", 0);
  t.Get("first");
  int c = R::Get(t.f);
  t.Note("fgetc second", c);
  t.Note("ungetc", R::Unget(c, t.f));
  t.Get("after ungetc");
  t.Note("ungetc EOF", R::Unget(EOF, t.f));
  // Every position from the start to two past the end, and a seek from the
  // end of the file.
  for (long at = 0; at <= size + 2; ++at) {
    t.Seek(at, SEEK_SET);
    t.Get("at");
    t.Get("next");
  }
  t.Seek(0, SEEK_END);
  t.Get("at end");
  t.Seek(-1, SEEK_END);
  t.Get("last");
  t.Seek(size + 5, SEEK_SET);
  t.Get("past end");
  t.Seek(-1, SEEK_SET);
  // Block reads: small ones from the start, then everything in one.
  t.Seek(1, SEEK_SET);
  t.Read(1, 3);
  t.Read(2, 2);
  t.Seek(0, SEEK_SET);
  t.Read(1, static_cast<size_t>(size) + 8);
  t.Read(1, 1);
  R::Rewind(t.f);
  t.Note("rewind", 0);
  t.Read(3, static_cast<size_t>(size) / 3 + 2);
  R::Close(t.f);
  return t.lines;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stream_compare <scratch folder>\n");
    return 2;
  }
  std::string big;
  for (int i = 0; i < 4095; ++i)
    big += static_cast<char>('a' + i % 26);
  big += "\r\n"; // a CR LF across the buffer's boundary
  for (int i = 0; i < 3000; ++i)
    big += (i % 50 == 49) ? std::string("\r\n") : std::string(1, 'x');
  big += "\r"; // the last buffer ends with a CR
  const struct {
    const char *name;
    std::string bytes;
  } files[] = {
      {"empty", ""},
      {"one_byte", "A"},
      {"crlf", "\r\n"},
      {"lone_cr", "a\rb\r\r\nc"},
      {"no_final_eol", "ab\r\ncd"},
      {"final_cr", "ab\r"},
      {"ctrl_z_inside", "ab\x1a"
                        "cd\r\n"},
      {"cr_before_ctrl_z", "a\r\x1a"
                           "b"},
      {"zero_byte", std::string("a\0b\r\n\0", 6)},
      {"longer_than_buffer", big},
  };
  int differences = 0;
  for (const auto &file : files) {
    std::string path = std::string(argv[1]) + "\\" + file.name + ".bin";
    FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr ||
        std::fwrite(file.bytes.data(), 1, file.bytes.size(), out) !=
            file.bytes.size() ||
        std::fclose(out) != 0) {
      std::printf("cannot write %s\n", path.c_str());
      return 2;
    }
    long size = static_cast<long>(file.bytes.size());
    for (const char *mode : {"r", "rb"}) {
      std::vector<std::string> theirs = Exercise<CRuntime>(path, mode, size);
      std::vector<std::string> ours = Exercise<OwnRuntime>(path, mode, size);
      size_t i = 0;
      while (i < theirs.size() && i < ours.size() && theirs[i] == ours[i])
        ++i;
      if (i == theirs.size() && i == ours.size()) {
        std::printf("same   %-20s %-2s %zu calls\n", file.name, mode,
                    ours.size());
        continue;
      }
      ++differences;
      std::printf("DIFFER %-20s %-2s call %zu\n  msvcrt: %s\n  ours:   %s\n",
                  file.name, mode, i,
                  i < theirs.size() ? theirs[i].c_str() : "(none)",
                  i < ours.size() ? ours[i].c_str() : "(none)");
    }
  }
  std::printf("%d difference(s)\n", differences);
  return differences == 0 ? 0 : 1;
}
