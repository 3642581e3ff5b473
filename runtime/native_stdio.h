// Native build only, forced into every product source there (CMakeLists.txt):
// the product's stream calls (std::fopen, std::fgetc, ...) reach the setup's
// own streams of streams.cpp over the platform's file calls, as in
// MERRIK.EXE, so that the native build runs the stream code that ships and a
// file call that fails reaches the readers as it would on Windows.
#ifndef RUNTIME_NATIVE_STDIO_H
#define RUNTIME_NATIVE_STDIO_H

#include <cstdio>

extern "C" {
FILE *merrik_fopen(const char *name, const char *mode);
int merrik_fclose(FILE *file);
int merrik_fgetc(FILE *file);
int merrik_ungetc(int c, FILE *file);
size_t merrik_fread(void *buffer, size_t size, size_t count, FILE *file);
int merrik_fseek(FILE *file, long offset, int origin);
long merrik_ftell(FILE *file);
void merrik_rewind(FILE *file);
int merrik_feof(FILE *file);
int merrik_ferror(FILE *file);
}

namespace std {
using ::merrik_fclose;
using ::merrik_feof;
using ::merrik_ferror;
using ::merrik_fgetc;
using ::merrik_fopen;
using ::merrik_fread;
using ::merrik_fseek;
using ::merrik_ftell;
using ::merrik_rewind;
using ::merrik_ungetc;
} // namespace std

#define fopen merrik_fopen
#define fclose merrik_fclose
#define fgetc merrik_fgetc
#define getc merrik_fgetc
#define ungetc merrik_ungetc
#define fread merrik_fread
#define fseek merrik_fseek
#define ftell merrik_ftell
#define rewind merrik_rewind
#define feof merrik_feof
#define ferror merrik_ferror

#endif
