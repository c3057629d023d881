#include "fonts/synthetic_font.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/fonts/type1program.h"

namespace fonttest {

std::string charStringNumber(int v) {
  std::string s;
  if (v >= -107 && v <= 107) {
    s.push_back(char(v + 139));
  } else if (v >= 108 && v <= 1131) {
    s.push_back(char((v - 108) / 256 + 247));
    s.push_back(char((v - 108) % 256));
  } else if (v >= -1131 && v <= -108) {
    s.push_back(char(-(v + 108) / 256 + 251));
    s.push_back(char(-(v + 108) % 256));
  } else {
    s.push_back(char(255));
    for (int k = 3; k >= 0; --k) s.push_back(char((std::uint32_t(v) >> (8 * k)) & 0xFF));
  }
  return s;
}

namespace {

std::string number(int v) { return charStringNumber(v); }

// Operators; escape operators as 1200 + their second byte.
enum Op : int {
  kRmoveto = 21, kRlineto = 5, kClosepath = 9, kHsbw = 13, kEndchar = 14, kCallsubr = 10,
  kReturn = 11, kSeac = 1206, kCallothersubr = 1216, kPop = 1217
};

struct Item {
  bool op;
  int value;
};
Item n(int v) { return {false, v}; }
Item o(Op op) { return {true, int(op)}; }

// A charstring with `lenIV` lead bytes, encrypted; with lenIV -1 plain.
std::string encode(std::initializer_list<Item> items, int lenIV = 4) {
  std::string plain(std::size_t(std::max(lenIV, 0)), '\0');
  for (const Item& i : items) {
    if (!i.op) {
      plain += number(i.value);
    } else if (i.value >= 1200) {
      plain.push_back(char(12));
      plain.push_back(char(i.value - 1200));
    } else {
      plain.push_back(char(i.value));
    }
  }
  return lenIV < 0 ? plain : Fonts::Type1Encrypt(plain, Fonts::kCharStringKey);
}

}  // namespace

std::string syntheticCleartext() {
  return "%!PS-AdobeFont-1.0: Synthetic 1.0\n"
         "11 dict begin\n"
         "/FontInfo 2 dict dup begin /FullName (Synthetic) readonly def end readonly def\n"
         "/FontName /Synthetic def\n"
         "/PaintType 0 def\n"
         "/FontType 1 def\n"
         "/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n"
         "/FontBBox {0 0 1000 1000} readonly def\n"
         "/Encoding StandardEncoding def\n"
         "currentdict end\n"
         "currentfile eexec\n";
}

std::string syntheticPrivatePart(bool selfCallingSubr, int lenIV, const Glyphs* custom) {
  const auto encode = [lenIV](std::initializer_list<Item> items) { return fonttest::encode(items, lenIV); };
  const auto shape = [&encode](int dx) {
    return encode({n(0), n(600), o(kHsbw), n(100 + dx), n(0), o(kRmoveto), n(200), n(500),
                   o(kRlineto), n(200), n(-500), o(kRlineto), o(kClosepath), o(kEndchar)});
  };
  const auto subrShape = [&encode](int dy) {
    return encode({n(100), n(dy), o(kRmoveto), n(100), n(100), o(kRlineto), o(kClosepath), o(kReturn)});
  };
  const std::string subrs[7] = {
      encode({n(3), n(0), o(kCallothersubr), o(kPop), o(kPop), o(kReturn)}),
      encode({n(0), n(1), o(kCallothersubr), o(kReturn)}),
      encode({n(0), n(2), o(kCallothersubr), o(kReturn)}),
      encode({o(kReturn)}),
      subrShape(40),
      subrShape(50),
      // Subroutine 6 (of glyph C) may call itself without end.
      selfCallingSubr ? encode({n(6), o(kCallsubr), o(kReturn)}) : subrShape(60)};
  std::vector<std::pair<std::string, std::string>> glyphs = {
      {".notdef", encode({n(0), n(500), o(kHsbw), o(kEndchar)})},
      {"A", shape(0)},
      {"acute", encode({n(0), n(300), o(kHsbw), n(100), n(600), o(kRmoveto), n(100), n(100),
                        o(kRlineto), o(kClosepath), o(kEndchar)})},
      {"Aacute", encode({n(0), n(600), o(kHsbw), n(0), n(0), n(100), n(65), n(194), o(kSeac)})},
      {"B", encode({n(0), n(600), o(kHsbw), n(5), o(kCallsubr), o(kEndchar)})},
      {"C", encode({n(0), n(600), o(kHsbw), n(6), o(kCallsubr), o(kEndchar)})},
      {"D", encode({n(0), n(600), o(kHsbw), n(4), n(1), n(3), o(kCallothersubr), o(kPop),
                    o(kCallsubr), o(kEndchar)})},
  };
  if (custom != nullptr) {
    glyphs.clear();
    for (const auto& [name, code] : *custom) {
      std::string plain(std::size_t(std::max(lenIV, 0)), '\0');
      plain += code;
      glyphs.emplace_back(name, lenIV < 0 ? plain : Fonts::Type1Encrypt(plain, Fonts::kCharStringKey));
    }
  }
  std::string p(4, 'x');  // lead bytes of the eexec part
  p += "dup /Private 8 dict dup begin\n"
       "/RD {string currentfile exch readstring pop} executeonly def\n"
       "/ND {noaccess def} executeonly def\n"
       "/NP {noaccess put} executeonly def\n"
       "/BlueValues [] def\n"
       "/MinFeature {16 16} def\n"
       "/password 5839 def\n"
       "/lenIV " + std::to_string(lenIV) + " def\n"
       "/Subrs 7 array\n";
  for (int i = 0; i < 7; ++i) {
    p += "dup " + std::to_string(i) + " " + std::to_string(subrs[i].size()) + " RD " + subrs[i] + " NP\n";
  }
  p += "ND\n2 index /CharStrings " + std::to_string(glyphs.size()) + " dict dup begin\n";
  for (const auto& [name, data] : glyphs) {
    p += "/" + name + " " + std::to_string(data.size()) + " RD " + data + " ND\n";
  }
  p += "end\nend\nreadonly put\nnoaccess put\ndup /FontName get exch definefont pop\n"
       "mark currentfile closefile\n";
  return p;
}

std::string syntheticFontFileFrom(const std::string& privatePart) {
  std::string trailer;
  for (int i = 0; i < 8; ++i) trailer += std::string(64, '0') + "\n";
  trailer += "cleartomark\n";
  return syntheticCleartext() + Fonts::Type1Encrypt(privatePart, Fonts::kEexecKey) + trailer;
}

std::string syntheticFontFile(bool selfCallingSubr, int lenIV) {
  return syntheticFontFileFrom(syntheticPrivatePart(selfCallingSubr, lenIV));
}

std::string syntheticFontFileWith(const Glyphs& glyphs) { return syntheticFontFileFrom(syntheticPrivatePart(false, 4, &glyphs)); }

std::string toPfb(const std::string& cleartext, const std::string& cipher, const std::string& trailer) {
  auto segment = [](int type, const std::string& data) {
    std::string s{char(0x80), char(type)};
    const std::uint32_t n = std::uint32_t(data.size());
    for (int k = 0; k < 4; ++k) s.push_back(char((n >> (8 * k)) & 0xFF));
    return s + data;
  };
  return segment(1, cleartext) + segment(2, cipher) + segment(1, trailer) +
         std::string{char(0x80), char(3)};
}

std::string toPfa(const std::string& cleartext, const std::string& cipher, const std::string& trailer) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < cipher.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(cipher[i]);
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
    if (i % 32 == 31) hex.push_back('\n');
  }
  return cleartext + hex + "\n" + trailer;
}

}  // namespace fonttest
