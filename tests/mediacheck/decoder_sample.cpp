// A Win32 program that is only disassembled, never run: the check of
// mediacheck's instruction decoder against objdump builds it for several
// CPUs (vectorised loops, the prebuilt run-time libraries it links) and
// holds one instruction of every class newer than the 486 in inline
// assembly, so that each class is met.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

float Dot(const float *a, const float *b, int n) {
  float s = 0;
  for (int i = 0; i < n; ++i)
    s += a[i] * b[i];
  return s;
}

int MaxAbs(const int *a, int n) {
  int m = 0;
  for (int i = 0; i < n; ++i)
    m = std::max(m, std::abs(a[i]));
  return m;
}

void Reverse(unsigned char *b, int n) {
  for (int i = 0; i < n; ++i)
    b[i] = static_cast<unsigned char>(b[i] * 7 + (b[i] >> 3));
}

long long Divide(long long a, long long b) { return b ? a / b + a % b : 0; }

void EveryClass() {
  __asm__ volatile(
      "cmove %%ecx,%%eax\n fcmovb %%st(1),%%st\n fcomi %%st(1),%%st\n"
      "fucomip %%st(1),%%st\n cpuid\n rdtsc\n cmpxchg8b (%%esi)\n sysenter\n"
      "prefetchnta (%%eax)\n prefetchw (%%eax)\n nopl 0(%%eax)\n"
      "nopw %%cs:0(%%eax,%%eax,1)\n emms\n movd %%eax,%%mm0\n"
      "movnti %%eax,(%%ecx)\n movbe (%%ecx),%%eax\n crc32b (%%ecx),%%eax\n"
      "pshufb %%xmm1,%%xmm0\n palignr $3,%%xmm1,%%xmm0\n"
      "pinsrw $2,%%eax,%%xmm0\n vzeroupper\n vaddps %%ymm1,%%ymm2,%%ymm3\n"
      "andn %%eax,%%ebx,%%ecx\n vpermq $0x1b,%%ymm1,%%ymm2\n"
      "pfadd %%mm1,%%mm0\n"
      "fstsw %%ax\n bswap %%eax\n cmpxchg %%ecx,(%%edx)\n xadd %%eax,(%%ecx)\n"
      "movw $0x1234,%%ax\n .byte 0x8d,0xb4,0x26,0,0,0,0\n"
      "testb $1,(%%eax)\n testw $0x1234,(%%eax)\n"
      "addr16 movl 0x10(%%bx,%%si),%%eax\n jmp 1f\n 1:\n" ::
          : "memory");
}

int main(int argc, char **argv) {
  std::vector<float> f(argc * 16, 1.5f);
  std::vector<int> v(argc * 16, -3);
  std::string s(argv[0]);
  std::sort(s.begin(), s.end());
  Reverse(reinterpret_cast<unsigned char *>(&s[0]), static_cast<int>(s.size()));
  if (argc > 5)
    EveryClass();
  std::printf("%s %f %d %lld %g\n", s.c_str(), Dot(f.data(), f.data(), argc),
              MaxAbs(v.data(), argc), Divide(argc * 1000000007LL, 3),
              std::strtod(argv[0], nullptr));
  return 0;
}
