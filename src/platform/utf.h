#pragma once
// UTF-8 and UTF-16 conversions. Invalid input never fails: each bad byte or
// lone surrogate becomes U+FFFD.
#include <string>
#include <string_view>

namespace TavSys {

std::string Uni16CharToUTF8(std::u16string_view text);
bool IsValidUTF8(std::string_view text);

}  // namespace TavSys

namespace TavGen {

std::u16string ConvertUTF8ToUTF16String(std::string_view text);

}  // namespace TavGen
