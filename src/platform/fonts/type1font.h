#pragma once
// A Type 1 font as a PDF file embeds it: the program (whole or a subset), and
// per code 0..255 of the job's encoding of the font whether it is there, its
// glyph name and its width. Made by TavricCore::CreateType1Font.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/fonts/type1program.h"

namespace Fonts {

class Type1Font {
 public:
  struct Code {
    bool present = false;
    std::string glyph;  // glyph name
    int width = 0;      // 1/1000 em
  };

  // name: the font's name as the file names it (a subset's carries its tag).
  // program: empty for a standard font, which is not embedded.
  // symbolic: the codes follow the font's own encoding (Symbol, Dingbats).
  Type1Font(std::string name, Type1Program program, std::array<Code, 256> codes,
            const double bbox[4], double ascent, double descent, double capHeight,
            bool symbolic);

  bool hasChar(int code) const { return valid(code) && codes_[std::size_t(code)].present; }
  // Glyph name of a code ("" when the font lacks it).
  const std::string& getCharEncoding(int code) const;
  // Width of a code in 1/1000 em, 0 when the font lacks it.
  int getCharWidth(int code) const { return hasChar(code) ? codes_[std::size_t(code)].width : 0; }
  // The font program (cleartext, encrypted part, trailer); empty for a standard font.
  const std::string& getData() const { return program_.data; }
  std::size_t getHeaderLength() const { return program_.headerLength; }
  std::size_t getCharProcsLength() const { return program_.encryptedLength; }
  std::size_t getZeroesLength() const { return program_.trailerLength; }
  // top, left, bottom, right with the vertical axis pointing down (font units).
  void getBoundingBox(int box[4]) const;
  const std::string& getName() const { return name_; }
  bool isBase14Font(const std::vector<std::string>& list) const;
  int getAscent() const { return ascent_; }
  int getDescent() const { return descent_; }
  int getCapHeight() const { return capHeight_; }
  bool isSymbolic() const { return symbolic_; }

 private:
  static bool valid(int code) { return code >= 0 && code < 256; }
  std::string name_;
  Type1Program program_;
  std::array<Code, 256> codes_;
  int box_[4];
  int ascent_, descent_, capHeight_;
  bool symbolic_;
};

}  // namespace Fonts
