#include "platform/fontinfo.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <filesystem>
#include <map>
#include <mutex>

namespace {

// The installed Type 1 fonts (fonts-urw-base35), read once per name.
constexpr const char* kFontFolder = "/usr/share/fonts/type1/urw-base35";

struct FaceInfo {
  bool installed = false;
  TavricCore::FontNaming naming;
  double ascent = 0, descent = 0;  // 1/4096 em
};

const FaceInfo& Info(std::string_view name) {
  static std::mutex lock;
  static std::map<std::string, FaceInfo, std::less<>> cache;
  std::lock_guard<std::mutex> guard(lock);
  if (auto it = cache.find(name); it != cache.end()) return it->second;
  FaceInfo& info = cache[std::string(name)];
  // A name is a file name of the folder: nothing that leaves it.
  if (name.empty() || name.find('/') != std::string_view::npos || name.front() == '.') return info;
  const std::filesystem::path file = std::filesystem::path(kFontFolder) / (std::string(name) + ".t1");
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return info;
  FT_Face face = nullptr;
  if (FT_New_Face(library, file.c_str(), 0, &face) == 0) {
    if (face->units_per_EM > 0) {
      info.installed = true;
      info.naming.family = face->family_name != nullptr ? face->family_name : "";
      info.naming.style = face->style_name != nullptr ? face->style_name : "";
      // Type 1 fonts give their bounding box as ascender and descender.
      info.ascent = face->ascender * 4096.0 / face->units_per_EM;
      info.descent = face->descender * 4096.0 / face->units_per_EM;
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return info;
}

}  // namespace

namespace TavricCore {

std::optional<FontNaming> GetFontNaming(std::string_view postScriptName) {
  const FaceInfo& info = Info(postScriptName);
  if (!info.installed) return std::nullopt;
  return info.naming;
}

}  // namespace TavricCore

namespace FontCaching {

bool GetAscentDescent(std::string_view postScriptName, double& ascent, double& descent) {
  const FaceInfo& info = Info(postScriptName);
  if (!info.installed) return false;
  ascent = info.ascent;
  descent = info.descent;
  return true;
}

}  // namespace FontCaching
