#pragma once
// Text helpers of the Illustrator writers: numbers in the fixed forms the
// format uses, written the same under every locale, and user texts made safe
// for PostScript strings and DSC comment lines.
#include <string>
#include <string_view>

namespace TavIllu {

// Appends value with `precision` decimals, right-aligned in at least `width`
// characters (printf's "%<width>.<precision>f" in the C locale). A value that
// is not finite is written as 0; a negative value that rounds to zero loses
// its sign.
void appendFixed(std::string& out, double value, int precision, int width = 0);

// The bytes of a PostScript literal string body (without the parentheses):
// "(", ")" and "\" are escaped, bytes outside printable ASCII become "\ooo".
std::string escapePostScriptString(std::string_view text);

// Text for a DSC comment line: line breaks and other control characters
// become blanks, so the text cannot end the comment early.
std::string commentText(std::string_view text);

}  // namespace TavIllu
