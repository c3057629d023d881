#include "illustrator/ai_text.h"

#include <array>
#include <charconv>
#include <cmath>

#include "platform/kernel/job.h"

namespace TavIllu {

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

std::vector<int> CustomColourSlots(const jobstr* job) {
  std::vector<int> slots;
  const int positions = sepfrejob(job);
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(job, pos, true);
    if (slot >= 0 && sepiscmyk(job, slot) < 0 && !sepnampoi(job, slot).empty()) slots.push_back(slot);
  }
  return slots;
}

}  // namespace TavIllu
