#pragma once
// The glyph names of a font program as FreeType reads it from memory: what
// another consumer finds in a program the engine wrote. For test programs
// that link the font module (and with it FreeType).
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <set>
#include <string>
#include <string_view>

namespace tavtest {

inline std::set<std::string> glyphNamesOfProgram(std::string_view program) {
  FT_Library library;
  EXPECT_EQ(FT_Init_FreeType(&library), 0);
  FT_Face face = nullptr;
  std::set<std::string> names;
  const FT_Error error = FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(program.data()),
                                            FT_Long(program.size()), 0, &face);
  EXPECT_EQ(error, 0) << "FreeType does not load the program";
  if (error == 0) {
    for (FT_Long g = 0; g < face->num_glyphs; ++g) {
      char name[64] = {0};
      FT_Get_Glyph_Name(face, FT_UInt(g), name, sizeof name);
      names.insert(name);
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return names;
}

}  // namespace tavtest
