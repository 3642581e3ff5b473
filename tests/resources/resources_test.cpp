// Reads the compiled resources (.res from the resource compiler) and checks
// the dialog templates, the pictures and the icon as the program will load
// them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const uint16_t kRtIcon = 3, kRtBitmap = 2, kRtDialog = 5, kRtGroupIcon = 14;

struct Reader {
  const std::vector<uint8_t> &bytes;
  size_t pos;
  bool ok = true;

  uint16_t word() {
    if (pos + 2 > bytes.size()) {
      ok = false;
      return 0;
    }
    uint16_t v = uint16_t(bytes[pos] | bytes[pos + 1] << 8);
    pos += 2;
    return v;
  }
  uint32_t dword() {
    uint32_t lo = word();
    return lo | uint32_t(word()) << 16;
  }
  uint8_t byte() {
    if (pos + 1 > bytes.size()) {
      ok = false;
      return 0;
    }
    return bytes[pos++];
  }
  void align4() { pos = (pos + 3) & ~size_t(3); }
  // A null-terminated UTF-16 string (ASCII in these resources).
  std::string text() {
    std::string s;
    while (ok) {
      uint16_t c = word();
      if (c == 0)
        break;
      s += c < 0x80 ? char(c) : '?';
    }
    return s;
  }
  // An ordinal (0xFFFF, id) or a string; ordinals come back as "#id".
  std::string nameOrOrdinal() {
    uint16_t first = word();
    if (first == 0xFFFF)
      return "#" + std::to_string(word());
    if (first == 0)
      return "";
    pos -= 2;
    return text();
  }
};

struct Resource {
  std::vector<uint8_t> data;
};

// Every resource of the file, by (type, id); names are ignored.
std::map<std::pair<uint16_t, uint16_t>, Resource> ReadRes(const char *file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  std::map<std::pair<uint16_t, uint16_t>, Resource> out;
  Reader r{bytes, 0};
  while (r.ok && r.pos + 8 <= bytes.size()) {
    size_t start = r.pos;
    uint32_t dataSize = r.dword();
    uint32_t headerSize = r.dword();
    std::string type = r.nameOrOrdinal();
    std::string name = r.nameOrOrdinal();
    if (!r.ok || start + headerSize + dataSize > bytes.size())
      break;
    if (type.size() > 1 && type[0] == '#' && name.size() > 1 &&
        name[0] == '#') {
      Resource res;
      res.data.assign(bytes.begin() + start + headerSize,
                      bytes.begin() + start + headerSize + dataSize);
      out[{uint16_t(std::stoi(type.substr(1))),
           uint16_t(std::stoi(name.substr(1)))}] = res;
    }
    r.pos = start + headerSize + dataSize;
    r.align4();
  }
  return out;
}

struct Control {
  uint32_t style, exStyle;
  int16_t x, y, cx, cy;
  int32_t id;
  std::string windowClass, text;
};

struct Template {
  bool extended = false;
  uint32_t style = 0, exStyle = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, windowClass, title, font;
  uint16_t pointSize = 0;
  uint8_t charset = 0;
  std::vector<Control> controls;
  bool ok = false;
};

// The predefined classes appear as ordinals (0x80 Button, 0x82 Static) or as
// names, which the system compares without regard to case.
std::string ClassName(const std::string &raw) {
  if (raw == "#128")
    return "BUTTON";
  if (raw == "#130")
    return "STATIC";
  std::string upper = raw;
  for (char &ch : upper)
    ch = char(std::toupper(static_cast<unsigned char>(ch)));
  return upper;
}

Template ParseDialog(const std::vector<uint8_t> &bytes) {
  Template t;
  Reader r{bytes, 0};
  uint16_t w0 = r.word(), w1 = r.word();
  uint16_t count;
  if (w0 == 1 && w1 == 0xFFFF) {
    t.extended = true;
    r.dword(); // help id
    t.exStyle = r.dword();
    t.style = r.dword();
  } else {
    t.style = uint32_t(w0) | uint32_t(w1) << 16;
    t.exStyle = r.dword();
  }
  count = r.word();
  t.x = int16_t(r.word());
  t.y = int16_t(r.word());
  t.cx = int16_t(r.word());
  t.cy = int16_t(r.word());
  t.menu = r.nameOrOrdinal();
  t.windowClass = r.nameOrOrdinal();
  t.title = r.text();
  if (t.style & 0x40) { // DS_SETFONT
    t.pointSize = r.word();
    if (t.extended) {
      r.word(); // weight
      r.byte(); // italic
      t.charset = r.byte();
    }
    t.font = r.text();
  }
  for (int i = 0; i < count && r.ok; ++i) {
    r.align4();
    Control c{};
    if (t.extended) {
      r.dword(); // help id
      c.exStyle = r.dword();
      c.style = r.dword();
    } else {
      c.style = r.dword();
      c.exStyle = r.dword();
    }
    c.x = int16_t(r.word());
    c.y = int16_t(r.word());
    c.cx = int16_t(r.word());
    c.cy = int16_t(r.word());
    c.id = t.extended ? int32_t(r.dword()) : int16_t(r.word());
    c.windowClass = ClassName(r.nameOrOrdinal());
    c.text = r.nameOrOrdinal();
    uint16_t extra = r.word();
    r.pos += extra;
    t.controls.push_back(c);
  }
  t.ok = r.ok;
  return t;
}

struct Bitmap {
  int32_t width = 0, height = 0;
  uint16_t planes = 0, bitCount = 0;
  uint32_t compression = 0, colorsUsed = 0;
  size_t size = 0;
};

Bitmap ParseBitmapHeader(const std::vector<uint8_t> &bytes, size_t at = 0) {
  Bitmap b;
  if (bytes.size() < at + 40)
    return b;
  auto d = [&](size_t o) {
    uint32_t v;
    std::memcpy(&v, &bytes[at + o], 4);
    return v;
  };
  auto w = [&](size_t o) {
    return uint16_t(bytes[at + o] | bytes[at + o + 1] << 8);
  };
  if (d(0) != 40)
    return b;
  b.width = int32_t(d(4));
  b.height = int32_t(d(8));
  b.planes = w(12);
  b.bitCount = w(14);
  b.compression = d(16);
  b.colorsUsed = d(32);
  b.size = bytes.size() - at;
  return b;
}

class CompiledResources : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef MERRIK_RES_FILE
    GTEST_SKIP() << "the resource compiler i686-w64-mingw32-windres was not "
                    "found at configure time";
#else
    resources = ReadRes(MERRIK_RES_FILE);
    ASSERT_FALSE(resources.empty()) << MERRIK_RES_FILE;
#endif
  }
  const std::vector<uint8_t> &Data(uint16_t type, uint16_t id) {
    static const std::vector<uint8_t> none;
    auto it = resources.find({type, id});
    return it == resources.end() ? none : it->second.data;
  }
  std::map<std::pair<uint16_t, uint16_t>, Resource> resources;
};

void ExpectControl(const Control &c, int32_t id, const std::string &cls,
                   const std::string &text, uint32_t style, int16_t x,
                   int16_t y, int16_t cx, int16_t cy) {
  SCOPED_TRACE("control text " + text);
  EXPECT_EQ(c.id, id);
  EXPECT_EQ(c.windowClass, cls);
  EXPECT_EQ(c.text, text);
  EXPECT_EQ(c.style, style) << std::hex << c.style;
  EXPECT_EQ(c.exStyle, 0u);
  EXPECT_EQ(c.x, x);
  EXPECT_EQ(c.y, y);
  EXPECT_EQ(c.cx, cx);
  EXPECT_EQ(c.cy, cy);
}

TEST_F(CompiledResources, BackdropTemplateIsCaptionlessWithTheFullPicture) {
  Template t = ParseDialog(Data(kRtDialog, 102));
  ASSERT_TRUE(t.ok);
  EXPECT_TRUE(t.extended);
  EXPECT_EQ(t.style, 0x90000040u) << std::hex << t.style;
  EXPECT_EQ(t.exStyle, 0x00040000u) << std::hex << t.exStyle;
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 185);
  EXPECT_EQ(t.cy, 92);
  EXPECT_EQ(t.title, "");
  EXPECT_EQ(t.menu, "");
  EXPECT_EQ(t.windowClass, "");
  EXPECT_EQ(t.font, "MS Sans Serif");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.charset, 1); // DEFAULT_CHARSET
  ASSERT_EQ(t.controls.size(), 1u);
  ExpectControl(t.controls[0], -1, "STATIC", "#129", 0x5000000E, 0, 0, 20, 20);
}

TEST_F(CompiledResources, WelcomeTemplateHasItsControlsInTabOrder) {
  Template t = ParseDialog(Data(kRtDialog, 131));
  ASSERT_TRUE(t.ok);
  EXPECT_FALSE(t.extended);
  EXPECT_EQ(t.style, 0x90C800C0u) << std::hex << t.style;
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 261);
  EXPECT_EQ(t.cy, 176);
  EXPECT_EQ(t.title, "Welcome");
  EXPECT_EQ(t.font, "System");
  EXPECT_EQ(t.pointSize, 10);
  ASSERT_EQ(t.controls.size(), 9u);
  const auto &c = t.controls;
  ExpectControl(c[0], 1000, "BUTTON", "&Install", 0x50010000, 138, 158, 50, 14);
  ExpectControl(c[1], 1001, "BUTTON", "&Cancel", 0x50010000, 204, 158, 50, 14);
  ExpectControl(c[2], -1, "BUTTON", "", 0x50000007, 7, 3, 248, 149);
  ExpectControl(c[3], -1, "STATIC", "#130", 0x5000000E, 7, 7, 63, 144);
  ExpectControl(c[4], -1, "STATIC",
                "Welcome to VKO Halvermont Setup program.\nThis Program will "
                "install VKO Halvermont components on your computer.\n"
                "(Support Windows 95 and NT 4.0 Platform)",
                0x50020000, 80, 11, 163, 40);
  ExpectControl(c[5], -1, "STATIC",
                "Select one installation mode (Express or Custom) for  your "
                "installation process. Click Install to begin the "
                "installation or click Cancel to abort.",
                0x50020000, 80, 50, 165, 34);
  ExpectControl(c[6], -1, "BUTTON", "Select", 0x50000007, 96, 90, 116, 41);
  ExpectControl(c[7], 1002, "BUTTON", "&Express", 0x50000009, 131, 100, 67, 10);
  ExpectControl(c[8], 1003, "BUTTON", "C&ustom", 0x50000009, 131, 113, 67, 10);

  // Enter and Esc must reach the dialog as IDOK and IDCANCEL commands: no
  // control may carry those identifiers or be a default push button.
  for (const Control &control : c) {
    EXPECT_NE(control.id, 1);
    EXPECT_NE(control.id, 2);
    if (control.windowClass == "BUTTON") {
      EXPECT_NE(control.style & 0xF, 1u) << control.text;
    }
  }
}

TEST_F(CompiledResources, InstallHostTemplateTakesNoInputAndHasNoControls) {
  Template t = ParseDialog(Data(kRtDialog, 132));
  ASSERT_TRUE(t.ok);
  EXPECT_TRUE(t.extended);
  EXPECT_EQ(t.style, 0x980000C0u) << std::hex << t.style;
  EXPECT_EQ(t.exStyle, 0x00000020u) << std::hex << t.exStyle;
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 129);
  EXPECT_EQ(t.cy, 76);
  EXPECT_EQ(t.title, "");
  EXPECT_EQ(t.font, "System");
  EXPECT_EQ(t.pointSize, 10);
  EXPECT_EQ(t.charset, 1);
  EXPECT_TRUE(t.controls.empty());
}

// 8 bits per pixel, uncompressed, a full 256-entry colour table, rows padded
// to four bytes; and a picture, not a flat fill.
void ExpectPicture(const std::vector<uint8_t> &data, int32_t width,
                   int32_t height) {
  Bitmap b = ParseBitmapHeader(data);
  EXPECT_EQ(b.width, width);
  EXPECT_EQ(b.height, height); // positive: bottom-up rows
  EXPECT_EQ(b.planes, 1);
  EXPECT_EQ(b.bitCount, 8);
  EXPECT_EQ(b.compression, 0u);
  EXPECT_TRUE(b.colorsUsed == 0 || b.colorsUsed == 256) << b.colorsUsed;
  size_t stride = (size_t(width) + 3) & ~size_t(3);
  ASSERT_EQ(data.size(), 40 + 256 * 4 + stride * size_t(height));
  std::set<uint8_t> used(data.begin() + 40 + 1024, data.end());
  EXPECT_GT(used.size(), 100u) << "distinct colours";
}

TEST_F(CompiledResources, PicturesAreEightBitUncompressedWithFullColourTable) {
  {
    SCOPED_TRACE("bitmap 129");
    ExpectPicture(Data(kRtBitmap, 129), 800, 600);
  }
  {
    SCOPED_TRACE("bitmap 130");
    ExpectPicture(Data(kRtBitmap, 130), 126, 288);
  }
}

TEST_F(CompiledResources, IconGroupHoldsOneSixteenColourImage) {
  const auto &group = Data(kRtGroupIcon, 128);
  ASSERT_EQ(group.size(), 6u + 14u);
  EXPECT_EQ(group[2] | group[3] << 8, 1);   // type: icon
  ASSERT_EQ(group[4] | group[5] << 8, 1);   // one image
  EXPECT_EQ(group[6], 32);                  // width
  EXPECT_EQ(group[7], 32);                  // height
  EXPECT_EQ(group[8], 16);                  // colours
  EXPECT_EQ(group[12] | group[13] << 8, 4); // bits per pixel
  uint16_t imageId = uint16_t(group[18] | group[19] << 8);

  const auto &image = Data(kRtIcon, imageId);
  Bitmap b = ParseBitmapHeader(image);
  EXPECT_EQ(b.width, 32);
  EXPECT_EQ(b.height, 64); // colour rows and mask rows
  EXPECT_EQ(b.bitCount, 4);
  EXPECT_EQ(b.compression, 0u);
  // Header, 16 colours, 32 rows of 16 bytes, 32 mask rows of 4 bytes.
  EXPECT_EQ(image.size(), 40u + 64u + 512u + 128u);
}

} // namespace
