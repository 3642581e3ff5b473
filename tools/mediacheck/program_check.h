// The checks of a program file on the media: whether Windows 95 and Windows
// NT 4.0 can load it, and whether its code runs on a 486.
//
// A program passes when it is a Win32 PE image for i386 with the GUI or the
// console subsystem, its subsystem version and OS version are at most 4.0,
// it imports only from the DLLs that a retail Windows 95 and a retail
// Windows NT 4.0 both ship (tools/win95_nt4_dlls.txt, embedded when
// mediacheck is built), and a linear sweep over its executable sections
// meets no instruction newer than the 486.
#ifndef TOOLS_MEDIACHECK_PROGRAM_CHECK_H
#define TOOLS_MEDIACHECK_PROGRAM_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mediacheck {

// The classes of instructions newer than the 486 that the sweep finds:
// "cmov" (0F 40-4F), "fcmov" (DA/DB C0-DF), "fcomi" (DB/DF E8-F7: fcomi,
// fcomip, fucomi, fucomip), "cpuid" (0F A2), "rdtsc" (0F 31), "cmpxchg8b"
// (0F C7 /1), "sysenter" (0F 34), "prefetch/nop" (0F 0D, 0F 18-1F: the
// prefetch hints and the multi-byte NOP, which fault on a 486 and a
// Pentium), "MMX/SSE" (0F 0E, 0F 0F, 0F 10-17, 0F 28-2F, 0F 50-7F, 0F C2-C6,
// 0F D0-FF, the 0F 38 and 0F 3A maps, and VEX-encoded instructions).
struct NewerInstruction {
  uint32_t address;  // virtual address, image base included
  size_t offset;     // offset in the file
  const char *kind;  // one of the classes above
  std::string bytes; // the instruction's bytes as hex, "0F 44 C1"
};

// The length of the 32-bit x86 instruction at `code` (at most `size` bytes
// are read) and, in `kind`, its class when it is newer than the 486, else
// nullptr. 0 when the instruction runs past `size`.
size_t DecodeInstruction(const uint8_t *code, size_t size, const char **kind);

// Every instruction newer than the 486 in the executable sections of the PE
// image `image`, in file order. False when `image` is no PE image for i386.
bool FindNewerInstructions(const std::string &image,
                           std::vector<NewerInstruction> &found);

// A problem of a program file: where in the file, and what is wrong.
struct ProgramProblem {
  size_t offset;
  std::string what;
};

// The problems of the program file `image`, one for each rule it breaks;
// none when Windows 95 and NT 4.0 load it and a 486 runs it.
std::vector<ProgramProblem> CheckProgram(const std::string &image);

// True when `dll` (any letter case) is on the list of DLLs that Windows 95
// and Windows NT 4.0 both ship.
bool IsSystemDll(const std::string &dll);

} // namespace mediacheck

#endif
