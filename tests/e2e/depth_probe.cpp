// Converts pictures to the colours of a 16-colour and of a 256-colour display
// the way the system does, for the suite to compare with the preview tool's
// mapping (tools/display_depth.py):
//
//   depth_probe.exe <MERRIK.EXE> <output folder>
//
// Each bitmap of MERRIK.EXE (129, 130), loaded as the setup loads it, and a
// probe picture of 128 by 64 colours spread over the whole colour cube, go
// through GetDIBits twice: into a 4-bit bitmap with the default colour table
// (DIB_RGB_COLORS: the 16 VGA colours), and into an 8-bit bitmap of indices
// into the default palette (DIB_PAL_COLORS from a memory DC, which holds the
// default palette: the 20 reserved colours). Written, as binary PPM pictures
// of the colours the indices stand for: <id>-4.ppm, <id>-8.ppm for each
// picture, probe.ppm (the probe's own colours); and tables.txt: the 4-bit
// colour table and the default palette, one "vga|default <i> <r> <g> <b>"
// line per entry. Exit status 0, or 1 with the reason on stderr.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgb {
  BYTE r, g, b;
};

bool WritePpm(const std::string &path, int w, int h,
              const std::vector<Rgb> &px) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f)
    return false;
  fprintf(f, "P6\n%d %d\n255\n", w, h);
  bool ok = fwrite(px.data(), 3, px.size(), f) == px.size();
  return fclose(f) == 0 && ok;
}

struct Info {
  BITMAPINFOHEADER h;
  RGBQUAD colours[256];
};

// GetDIBits of bitmap into a top-down bitmap of `bits` bits per pixel;
// returns the colour of every pixel, looked up in the colour table the call
// returns (DIB_RGB_COLORS) or in the default palette (DIB_PAL_COLORS).
bool Convert(HDC dc, HBITMAP bitmap, int w, int h, int bits, UINT use,
             const PALETTEENTRY *palette, std::vector<Rgb> &out) {
  Info info = {};
  info.h.biSize = sizeof info.h;
  info.h.biWidth = w;
  info.h.biHeight = -h;
  info.h.biPlanes = 1;
  info.h.biBitCount = static_cast<WORD>(bits);
  info.h.biCompression = BI_RGB;
  int stride = ((w * bits + 31) / 32) * 4;
  std::vector<BYTE> data(static_cast<size_t>(stride) * h);
  if (GetDIBits(dc, bitmap, 0, h, data.data(),
                reinterpret_cast<BITMAPINFO *>(&info), use) != h)
    return false;
  out.clear();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      BYTE v = data[static_cast<size_t>(y) * stride + x * bits / 8];
      unsigned i = bits == 8 ? v : (x % 2 ? v & 15 : v >> 4);
      if (use == DIB_PAL_COLORS) {
        WORD entry = reinterpret_cast<WORD *>(info.colours)[i];
        const PALETTEENTRY &p = palette[entry < 20 ? entry : 0];
        out.push_back({p.peRed, p.peGreen, p.peBlue});
      } else {
        const RGBQUAD &q = info.colours[i];
        out.push_back({q.rgbRed, q.rgbGreen, q.rgbBlue});
      }
    }
  }
  return true;
}

int Fail(const char *what) {
  fprintf(stderr, "depth_probe: %s (error %lu)\n", what, GetLastError());
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: depth_probe.exe <MERRIK.EXE> <output folder>\n");
    return 2;
  }
  std::string out = std::string(argv[2]) + "\\";
  HMODULE exe = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!exe)
    return Fail("cannot load the program's resources");
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  PALETTEENTRY palette[20] = {};
  if (GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)),
                        0, 20, palette) != 20)
    return Fail("cannot read the default palette");

  // The probe: every colour of a 16-step grid of the cube, then colours of
  // a fixed pseudo-random sequence, bottom-up like any DIB.
  const int pw = 128, ph = 64;
  std::vector<Rgb> probe;
  for (int i = 0; i < 4096; ++i)
    probe.push_back({static_cast<BYTE>((i >> 8) * 17),
                     static_cast<BYTE>(((i >> 4) & 15) * 17),
                     static_cast<BYTE>((i & 15) * 17)});
  unsigned seed = 12345;
  while (probe.size() < static_cast<size_t>(pw) * ph) {
    seed = seed * 1103515245u + 12345u;
    probe.push_back({static_cast<BYTE>(seed >> 24),
                     static_cast<BYTE>(seed >> 16),
                     static_cast<BYTE>(seed >> 8)});
  }
  Info pinfo = {};
  pinfo.h.biSize = sizeof pinfo.h;
  pinfo.h.biWidth = pw;
  pinfo.h.biHeight = -ph;
  pinfo.h.biPlanes = 1;
  pinfo.h.biBitCount = 32;
  pinfo.h.biCompression = BI_RGB;
  void *pbits = nullptr;
  HBITMAP probeBitmap =
      CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&pinfo),
                       DIB_RGB_COLORS, &pbits, nullptr, 0);
  if (!probeBitmap)
    return Fail("cannot make the probe picture");
  for (size_t i = 0; i < probe.size(); ++i)
    static_cast<DWORD *>(pbits)[i] =
        RGB(probe[i].b, probe[i].g, probe[i].r); // 0x00RRGGBB
  if (!WritePpm(out + "probe.ppm", pw, ph, probe))
    return Fail("cannot write probe.ppm");

  struct Picture {
    const char *name;
    HBITMAP bitmap;
  } pictures[] = {
      {"129", LoadBitmapA(exe, MAKEINTRESOURCEA(129))},
      {"130", LoadBitmapA(exe, MAKEINTRESOURCEA(130))},
      {"probe", probeBitmap},
  };
  for (const Picture &p : pictures) {
    BITMAP bm;
    if (!p.bitmap || !GetObjectA(p.bitmap, sizeof bm, &bm))
      return Fail(p.name);
    std::vector<Rgb> px;
    if (!Convert(screen, p.bitmap, bm.bmWidth, bm.bmHeight, 4, DIB_RGB_COLORS,
                 palette, px) ||
        !WritePpm(out + p.name + "-4.ppm", bm.bmWidth, bm.bmHeight, px))
      return Fail("the 4-bit conversion");
    if (!Convert(memory, p.bitmap, bm.bmWidth, bm.bmHeight, 8, DIB_PAL_COLORS,
                 palette, px) ||
        !WritePpm(out + p.name + "-8.ppm", bm.bmWidth, bm.bmHeight, px))
      return Fail("the 8-bit conversion");
  }

  // The 4-bit default colour table, as GetDIBits fills it in.
  Info info = {};
  info.h.biSize = sizeof info.h;
  info.h.biWidth = 1;
  info.h.biHeight = 1;
  info.h.biPlanes = 1;
  info.h.biBitCount = 4;
  DWORD pixel = 0;
  if (!GetDIBits(screen, probeBitmap, 0, 1, &pixel,
                 reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS))
    return Fail("the colour table");
  FILE *f = fopen((out + "tables.txt").c_str(), "w");
  if (!f)
    return Fail("cannot write tables.txt");
  for (int i = 0; i < 16; ++i)
    fprintf(f, "vga %d %d %d %d\n", i, info.colours[i].rgbRed,
            info.colours[i].rgbGreen, info.colours[i].rgbBlue);
  for (int i = 0; i < 20; ++i)
    fprintf(f, "default %d %d %d %d\n", i, palette[i].peRed, palette[i].peGreen,
            palette[i].peBlue);
  fclose(f);
  return 0;
}
