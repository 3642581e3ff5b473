// PE inspection and the 32-bit x86 instruction-length decoder behind the
// checks of the media's programs.
#include "program_check.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "system_dlls.h" // kSystemDlls, generated from tools/win95_nt4_dlls.txt

namespace mediacheck {

namespace {

const char kCmov[] = "cmov";
const char kFcmov[] = "fcmov";
const char kFcomi[] = "fcomi";
const char kCpuid[] = "cpuid";
const char kRdtsc[] = "rdtsc";
const char kCmpxchg8b[] = "cmpxchg8b";
const char kSysenter[] = "sysenter";
const char kHint[] = "prefetch/nop";
const char kSimd[] = "MMX/SSE";

// The operand-size and address-size state of one instruction.
struct Sizes {
  bool operand16 = false;
  bool address16 = false;
};

// The bytes from `p` up to `end`.
size_t Left(const uint8_t *p, const uint8_t *end) {
  return static_cast<size_t>(end - p);
}

// The length of a ModRM operand (the ModRM byte, SIB, displacement) at
// `p`, or 0 when it runs past `end`.
size_t ModrmLength(const uint8_t *p, const uint8_t *end, const Sizes &sizes) {
  if (p >= end)
    return 0;
  const unsigned mod = *p >> 6, rm = *p & 7;
  size_t length = 1;
  if (mod == 3)
    return length;
  if (sizes.address16) {
    if (mod == 1)
      length += 1;
    else if (mod == 2 || (mod == 0 && rm == 6))
      length += 2;
  } else {
    if (rm == 4) {
      if (p + 1 >= end)
        return 0;
      length += 1; // SIB
      if (mod == 0 && (p[1] & 7) == 5)
        length += 4;
    } else if (mod == 0 && rm == 5) {
      length += 4;
    }
    if (mod == 1)
      length += 1;
    else if (mod == 2)
      length += 4;
  }
  return length <= Left(p, end) ? length : 0;
}

// The class of the two-byte opcode 0F `op` (ModRM `modrm` when it has one)
// when it is newer than the 486.
const char *TwoByteKind(unsigned op, unsigned modrm) {
  if (op >= 0x40 && op <= 0x4F)
    return kCmov;
  if (op == 0xA2)
    return kCpuid;
  if (op == 0x31)
    return kRdtsc;
  if (op == 0x34)
    return kSysenter;
  if (op == 0xC7 && ((modrm >> 3) & 7) == 1 && (modrm >> 6) != 3)
    return kCmpxchg8b;
  if (op == 0x0D || (op >= 0x18 && op <= 0x1F))
    return kHint;
  if (op == 0x0E || op == 0x0F || (op >= 0x10 && op <= 0x17) ||
      (op >= 0x28 && op <= 0x2F) || (op >= 0x50 && op <= 0x7F) ||
      (op >= 0xC2 && op <= 0xC6) || op >= 0xD0 || op == 0x38 || op == 0x3A)
    return kSimd;
  return nullptr;
}

// True when the two-byte opcode 0F `op` has a ModRM operand.
bool TwoByteHasModrm(unsigned op) {
  if (op <= 0x03 || op == 0x0D || op == 0x0F)
    return true;
  if (op >= 0x10 && op <= 0x2F)
    return op != 0x25 && op != 0x27;
  if (op >= 0x40 && op <= 0x7F)
    return op != 0x77;
  if (op >= 0x90 && op <= 0x9F)
    return true;
  if (op >= 0xA0 && op <= 0xAF)
    return op != 0xA0 && op != 0xA1 && op != 0xA2 && op != 0xA8 && op != 0xA9 &&
           op != 0xAA;
  if (op >= 0xB0 && op <= 0xC7)
    return true;
  return op >= 0xD0;
}

// The length of the instruction 0F `op` ... after the 0F byte, from the
// byte following the opcode; 0 when it runs past `end`.
size_t TwoByteRest(unsigned op, const uint8_t *p, const uint8_t *end,
                   const Sizes &sizes) {
  if (op >= 0x80 && op <= 0x8F) // Jcc rel16/32
    return (sizes.operand16 ? 2u : 4u) <= Left(p, end)
               ? (sizes.operand16 ? 2 : 4)
               : 0;
  if (op == 0x38 || op == 0x3A) { // three-byte maps: opcode, ModRM[, imm8]
    if (p >= end)
      return 0;
    size_t modrm = ModrmLength(p + 1, end, sizes);
    if (modrm == 0)
      return 0;
    size_t length = 1 + modrm + (op == 0x3A ? 1 : 0);
    return length <= Left(p, end) ? length : 0;
  }
  if (!TwoByteHasModrm(op))
    return 0; // no operand bytes
  size_t length;
  if (op >= 0x20 && op <= 0x27) { // moves of control, debug, test registers
    length = 1;                   // the mod field is ignored
    if (p >= end)
      return 0;
  } else {
    length = ModrmLength(p, end, sizes);
    if (length == 0)
      return 0;
  }
  if (op == 0x0F || (op >= 0x70 && op <= 0x73) || op == 0xA4 || op == 0xAC ||
      op == 0xBA || (op >= 0xC2 && op <= 0xC6 && op != 0xC3))
    length += 1; // imm8 (3DNow! takes its opcode there)
  return length <= Left(p, end) ? length : 0;
}

// A VEX-encoded instruction at `p` (the C4 or C5 byte): its length, or 0
// when it runs past `end`.
size_t VexLength(const uint8_t *p, const uint8_t *end, const Sizes &sizes) {
  const bool three = *p == 0xC4;
  const size_t prefix = three ? 3 : 2; // C4 or C5 and its payload
  if (Left(p, end) <= prefix)
    return 0;
  const unsigned map = three ? (p[1] & 0x1F) : 1;
  const unsigned op = p[prefix];
  size_t length = prefix + 1;
  if (map == 1 && op == 0x77)
    return length; // vzeroupper, vzeroall
  size_t modrm = ModrmLength(p + length, end, sizes);
  if (modrm == 0)
    return 0;
  length += modrm;
  if (map == 3 || (map == 1 && ((op >= 0x70 && op <= 0x73) || op == 0xC2 ||
                                (op >= 0xC4 && op <= 0xC6))))
    length += 1;
  return length <= Left(p, end) ? length : 0;
}

// The immediate bytes of the one-byte opcode `op`: -1 for none of the
// fixed kinds below. `z` is the operand size, `a` the address size.
int OneByteImmediate(unsigned op, unsigned reg, int z, int a) {
  if (op < 0x40 && (op & 7) == 4)
    return 1;
  if (op < 0x40 && (op & 7) == 5)
    return z;
  switch (op) {
  case 0x68:
  case 0x69:
  case 0x81:
  case 0xA9:
  case 0xC7:
  case 0xE8:
  case 0xE9:
    return z;
  case 0x6A:
  case 0x6B:
  case 0x80:
  case 0x82:
  case 0x83:
  case 0xA8:
  case 0xC0:
  case 0xC1:
  case 0xC6:
  case 0xCD:
  case 0xD4:
  case 0xD5:
  case 0xEB:
    return 1;
  case 0xC2:
  case 0xCA:
    return 2;
  case 0xC8:
    return 3;
  case 0x9A:
  case 0xEA:
    return z + 2;
  case 0xA0:
  case 0xA1:
  case 0xA2:
  case 0xA3:
    return a;
  case 0xF6:
    return reg < 2 ? 1 : 0;
  case 0xF7:
    return reg < 2 ? z : 0;
  }
  if ((op >= 0x70 && op <= 0x7F) || (op >= 0xB0 && op <= 0xB7) ||
      (op >= 0xE0 && op <= 0xE7))
    return 1;
  if (op >= 0xB8 && op <= 0xBF)
    return z;
  return 0;
}

// True when the one-byte opcode `op` has a ModRM operand.
bool OneByteHasModrm(unsigned op) {
  if (op < 0x40)
    return (op & 7) < 4;
  return op == 0x62 || op == 0x63 || op == 0x69 || op == 0x6B ||
         (op >= 0x80 && op <= 0x8F) || op == 0xC0 || op == 0xC1 ||
         (op >= 0xC4 && op <= 0xC7) || (op >= 0xD0 && op <= 0xD3) ||
         (op >= 0xD8 && op <= 0xDF) || op == 0xF6 || op == 0xF7 || op == 0xFE ||
         op == 0xFF;
}

bool IsPrefix(unsigned b) {
  return b == 0xF0 || b == 0xF2 || b == 0xF3 || b == 0x2E || b == 0x36 ||
         b == 0x3E || b == 0x26 || b == 0x64 || b == 0x65 || b == 0x66 ||
         b == 0x67;
}

uint16_t U16(const std::string &s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) |
                               static_cast<uint8_t>(s[at + 1]) << 8);
}

uint32_t U32(const std::string &s, size_t at) {
  return U16(s, at) | static_cast<uint32_t>(U16(s, at + 2)) << 16;
}

struct Section {
  uint32_t virtualSize, rva, rawSize, rawOffset, flags;
};

// The parts of a PE image the checks read; `ok` false when `image` is no
// PE32 image for i386, with the reason and where.
struct PeImage {
  bool ok = false;
  size_t badOffset = 0;
  std::string bad;
  size_t optional = 0; // offset of the optional header
  uint16_t characteristics = 0;
  uint32_t imageBase = 0;
  uint32_t directories = 0;
  std::vector<Section> sections;

  explicit PeImage(const std::string &s) {
    if (s.size() < 0x40 || s[0] != 'M' || s[1] != 'Z') {
      bad = "no DOS header";
      return;
    }
    const uint32_t pe = U32(s, 0x3C);
    if (pe > s.size() || s.size() - pe < 24 || s.compare(pe, 4, "PE\0\0", 4)) {
      badOffset = 0x3C;
      bad = "no PE header";
      return;
    }
    const uint16_t machine = U16(s, pe + 4);
    if (machine != 0x014C) {
      badOffset = pe + 4;
      char text[48];
      std::snprintf(text, sizeof(text), "machine 0x%04X, not i386", machine);
      bad = text;
      return;
    }
    const unsigned count = U16(s, pe + 6);
    const unsigned optionalSize = U16(s, pe + 20);
    characteristics = U16(s, pe + 22);
    optional = pe + 24;
    if (optionalSize < 96 || s.size() - optional < optionalSize ||
        U16(s, optional) != 0x10B) {
      badOffset = optional;
      bad = "no PE32 optional header";
      return;
    }
    imageBase = U32(s, optional + 28);
    directories = U32(s, optional + 92);
    if (directories > (optionalSize - 96) / 8)
      directories = (optionalSize - 96) / 8;
    const size_t table = optional + optionalSize;
    if (s.size() - table < 40 * static_cast<size_t>(count)) {
      badOffset = table;
      bad = "the section table runs past the end of the file";
      return;
    }
    for (unsigned i = 0; i < count; ++i) {
      const size_t at = table + 40 * i;
      sections.push_back({U32(s, at + 8), U32(s, at + 12), U32(s, at + 16),
                          U32(s, at + 20), U32(s, at + 36)});
    }
    ok = true;
  }

  // The file offset of `rva`, or SIZE_MAX when no section's file bytes
  // hold it.
  size_t Offset(uint32_t rva, size_t fileSize) const {
    for (const Section &sec : sections) {
      if (rva >= sec.rva && rva - sec.rva < sec.rawSize) {
        size_t at = static_cast<size_t>(sec.rawOffset) + (rva - sec.rva);
        return at < fileSize ? at : SIZE_MAX;
      }
    }
    return SIZE_MAX;
  }

  // Data directory `index`: its RVA, or 0 when absent.
  uint32_t Directory(const std::string &s, unsigned index) const {
    return index < directories ? U32(s, optional + 96 + 8 * index) : 0;
  }
};

std::string Hex(const uint8_t *p, size_t n) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(byte, sizeof(byte), i ? " %02X" : "%02X", p[i]);
    text += byte;
  }
  return text;
}

std::string Lower(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Version(unsigned major, unsigned minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

} // namespace

size_t DecodeInstruction(const uint8_t *code, size_t size, const char **kind) {
  *kind = nullptr;
  const uint8_t *p = code, *end = code + size;
  Sizes sizes;
  while (p < end && IsPrefix(*p) && p - code < 14) {
    if (*p == 0x66)
      sizes.operand16 = true;
    else if (*p == 0x67)
      sizes.address16 = true;
    ++p;
  }
  if (p >= end)
    return 0;
  const unsigned op = *p++;
  if (op == 0x0F) {
    if (p >= end)
      return 0;
    const unsigned op2 = *p++;
    size_t rest = TwoByteRest(op2, p, end, sizes);
    if (rest == 0 && (TwoByteHasModrm(op2) || op2 == 0x38 || op2 == 0x3A ||
                      (op2 >= 0x80 && op2 <= 0x8F)))
      return 0;
    const unsigned modrm = p < end ? *p : 0;
    *kind = TwoByteKind(op2, modrm);
    return static_cast<size_t>(p - code) + rest;
  }
  if ((op == 0xC4 || op == 0xC5) && p < end && (*p & 0xC0) == 0xC0) {
    size_t length = VexLength(p - 1, end, sizes);
    if (length == 0)
      return 0;
    *kind = kSimd;
    return static_cast<size_t>(p - 1 - code) + length;
  }
  size_t length = static_cast<size_t>(p - code);
  unsigned modrm = 0;
  // FE /2-/7 and FF /7 are no instructions: one byte, as objdump takes them
  // (the -1 markers of the constructor lists that mingw-w64 puts in .text).
  if (p < end && ((op == 0xFE && ((*p >> 3) & 7) >= 2) ||
                  (op == 0xFF && ((*p >> 3) & 7) == 7)))
    return length;
  if (OneByteHasModrm(op)) {
    size_t m = ModrmLength(p, end, sizes);
    if (m == 0)
      return 0;
    modrm = *p;
    length += m;
  }
  const int z = sizes.operand16 ? 2 : 4, a = sizes.address16 ? 2 : 4;
  length += static_cast<size_t>(OneByteImmediate(op, (modrm >> 3) & 7, z, a));
  if (length > size)
    return 0;
  if (modrm >= 0xC0) {
    if ((op == 0xDA || op == 0xDB) && modrm <= 0xDF)
      *kind = kFcmov;
    else if ((op == 0xDB || op == 0xDF) && modrm >= 0xE8 && modrm <= 0xF7)
      *kind = kFcomi;
  }
  return length;
}

bool FindNewerInstructions(const std::string &image,
                           std::vector<NewerInstruction> &found) {
  found.clear();
  PeImage pe(image);
  if (!pe.ok)
    return false;
  const uint8_t *bytes = reinterpret_cast<const uint8_t *>(image.data());
  for (const Section &sec : pe.sections) {
    if (!(sec.flags & 0x20) && !(sec.flags & 0x20000000))
      continue; // neither code nor executable
    if (sec.rawOffset >= image.size())
      continue;
    // As the loader maps it: the virtual size, at most the file bytes.
    size_t size = sec.rawSize;
    if (sec.virtualSize != 0 && sec.virtualSize < size)
      size = sec.virtualSize;
    if (size > image.size() - sec.rawOffset)
      size = image.size() - sec.rawOffset;
    const uint8_t *start = bytes + sec.rawOffset;
    for (size_t at = 0; at < size;) {
      const char *kind;
      size_t length = DecodeInstruction(start + at, size - at, &kind);
      if (length == 0)
        break; // the last instruction is cut off by the section's end
      if (kind != nullptr)
        found.push_back({pe.imageBase + sec.rva + static_cast<uint32_t>(at),
                         sec.rawOffset + at, kind, Hex(start + at, length)});
      at += length;
    }
  }
  return true;
}

std::vector<ProgramProblem> CheckProgram(const std::string &image) {
  std::vector<ProgramProblem> problems;
  PeImage pe(image);
  if (!pe.ok) {
    problems.push_back(
        {pe.badOffset, "not a Win32 program for i386 (" + pe.bad +
                           "): Windows 95 and NT 4.0 cannot start it"});
    return problems;
  }
  const size_t opt = pe.optional;
  if (!(pe.characteristics & 0x0002) || (pe.characteristics & 0x2000))
    problems.push_back({opt - 2, "not a program: the file is marked as a "
                                 "DLL or as no executable image"});
  const unsigned subsystem = U16(image, opt + 68);
  if (subsystem != 2 && subsystem != 3)
    problems.push_back(
        {opt + 68, "subsystem " + std::to_string(subsystem) +
                       ", not a GUI or console program: Windows 95 and NT "
                       "4.0 do not start it"});
  const unsigned osMajor = U16(image, opt + 40), osMinor = U16(image, opt + 42);
  const unsigned subMajor = U16(image, opt + 48),
                 subMinor = U16(image, opt + 50);
  if (subMajor > 4 || (subMajor == 4 && subMinor > 0))
    problems.push_back(
        {opt + 48, "subsystem version " + Version(subMajor, subMinor) +
                       ", above 4.0: Windows 95 and NT 4.0 refuse to start "
                       "it"});
  if (osMajor > 4 || (osMajor == 4 && osMinor > 0))
    problems.push_back({opt + 40, "OS version " + Version(osMajor, osMinor) +
                                      ", above 4.0: the program is built for "
                                      "a later Windows"});

  // The imports: one problem for each DLL that is not on the list.
  const uint32_t imports = pe.Directory(image, 1);
  if (imports != 0) {
    size_t at = pe.Offset(imports, image.size());
    std::set<std::string> reported;
    for (int n = 0; n < 4096; ++n, at += 20) {
      if (at == SIZE_MAX || image.size() - at < 20) {
        problems.push_back({at == SIZE_MAX ? opt + 104 : at,
                            "the import table runs outside the file: the "
                            "program does not load"});
        break;
      }
      const uint32_t name = U32(image, at + 12);
      if (name == 0)
        break;
      const size_t nameAt = pe.Offset(name, image.size());
      const size_t nameEnd =
          nameAt == SIZE_MAX ? std::string::npos : image.find('\0', nameAt);
      if (nameEnd == std::string::npos || nameEnd - nameAt > 255) {
        problems.push_back({at + 12, "an imported DLL's name lies outside "
                                     "the file: the program does not load"});
        break;
      }
      const std::string dll = image.substr(nameAt, nameEnd - nameAt);
      if (!IsSystemDll(dll) && reported.insert(Lower(dll)).second)
        problems.push_back(
            {nameAt, "imports from " + dll +
                         ", which is not among the DLLs that a retail "
                         "Windows 95 and NT 4.0 both ship: without it the "
                         "program does not start"});
    }
  }

  std::vector<NewerInstruction> newer;
  FindNewerInstructions(image, newer);
  if (!newer.empty()) {
    char address[16];
    std::snprintf(address, sizeof(address), "0x%X", newer[0].address);
    problems.push_back({newer[0].offset,
                        std::to_string(newer.size()) + " instruction" +
                            (newer.size() == 1 ? "" : "s") +
                            " newer than the 486, the first " + newer[0].kind +
                            " (" + newer[0].bytes + ") at " + address +
                            ": the program faults on a 486 or a Pentium"});
  }
  return problems;
}

bool IsSystemDll(const std::string &dll) {
  const std::string name = Lower(dll);
  for (const char *system : kSystemDlls)
    if (name == system)
      return true;
  return false;
}

} // namespace mediacheck
