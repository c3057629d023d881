#include "illustrator/ai_text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace TavIllu {

void appendFixed(std::string& out, double value, int precision, int width) {
  if (!std::isfinite(value)) value = 0;
  std::array<char, 400> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed,
                                 precision);
  std::string_view text = ec == std::errc() ? std::string_view(buf.data(), end - buf.data())
                                            : std::string_view("0");
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
    text.remove_prefix(1);  // "-0.00" reads as a negative number to some readers
  }
  if (static_cast<int>(text.size()) < width) out.append(width - text.size(), ' ');
  out.append(text);
}

std::string escapePostScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '(' || c == ')' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c > 0x7e) {
      out.push_back('\\');
      out.push_back(static_cast<char>('0' + (c >> 6)));
      out.push_back(static_cast<char>('0' + ((c >> 3) & 7)));
      out.push_back(static_cast<char>('0' + (c & 7)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string commentText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return out;
}

}  // namespace TavIllu
