#include "platform/fonts/type1font.h"

#include <algorithm>
#include <cmath>

namespace Fonts {

Type1Font::Type1Font(std::string name, Type1Program program, std::array<Code, 256> codes,
                     const double bbox[4], double ascent, double descent, double capHeight,
                     bool symbolic)
    : name_(std::move(name)),
      program_(std::move(program)),
      codes_(std::move(codes)),
      box_{int(std::lround(-bbox[3])), int(std::lround(bbox[0])), int(std::lround(-bbox[1])),
           int(std::lround(bbox[2]))},
      ascent_(int(std::lround(ascent))),
      descent_(int(std::lround(descent))),
      capHeight_(int(std::lround(capHeight))),
      symbolic_(symbolic) {}

const std::string& Type1Font::getCharEncoding(int code) const {
  static const std::string none;
  return hasChar(code) ? codes_[std::size_t(code)].glyph : none;
}

void Type1Font::getBoundingBox(int box[4]) const { std::copy(box_, box_ + 4, box); }

bool Type1Font::isBase14Font(const std::vector<std::string>& list) const {
  return std::find(list.begin(), list.end(), name_) != list.end();
}

}  // namespace Fonts
