#pragma once
// UTF-8 and UTF-16 conversions. Invalid input never fails: each bad byte or
// lone surrogate becomes U+FFFD.
#include <string>
#include <string_view>

namespace TavSys {

std::string Uni16CharToUTF8(std::u16string_view text);
bool IsValidUTF8(std::string_view text);
// The text with each control character and each byte that is not part of
// valid UTF-8 shown as "\xNN", so that a message can show what a file holds
// without passing its raw bytes on.
std::string EscapeForMessage(std::string_view text);

}  // namespace TavSys

namespace TavGen {

std::u16string ConvertUTF8ToUTF16String(std::string_view text);

}  // namespace TavGen
