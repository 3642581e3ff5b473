// Prints every instruction newer than the 486 that mediacheck's decoder
// finds in a PE file, one a line: address, class, bytes. For the check of
// the decoder against objdump.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "program_check.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: scan_program FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)),
                    std::istreambuf_iterator<char>());
  std::vector<mediacheck::NewerInstruction> found;
  if (!in.good() && !in.eof())
    return 2;
  if (!mediacheck::FindNewerInstructions(image, found)) {
    std::fprintf(stderr, "%s: not a PE image for i386\n", argv[1]);
    return 1;
  }
  for (const mediacheck::NewerInstruction &n : found)
    std::printf("0x%x %s %s\n", n.address, n.kind, n.bytes.c_str());
  return 0;
}
