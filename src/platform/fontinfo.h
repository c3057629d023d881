#pragma once
// What the core library tells about an installed font by its PostScript name:
// its family and style names and its ascent and descent (in 1/4096 em).
#include <optional>
#include <string>
#include <string_view>

namespace TavricCore {

struct FontNaming {
  std::string family;  // "Nimbus Sans"
  std::string style;   // "Bold"
};
// Nullopt when no font of that name is installed.
std::optional<FontNaming> GetFontNaming(std::string_view postScriptName);
inline std::string GetFontFamilyNameFromFont(const FontNaming& font) { return font.family; }
inline std::string GetFontStyleName(const FontNaming& font) { return font.style; }

}  // namespace TavricCore

namespace FontCaching {

// The font's ascent and descent in 1/4096 em (descent negative); false when
// no font of that name is installed.
bool GetAscentDescent(std::string_view postScriptName, double& ascent, double& descent);

}  // namespace FontCaching
