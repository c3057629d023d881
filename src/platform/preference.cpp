#include "platform/preference.h"

namespace TavGen {

std::string FourCharCodeToString(std::uint32_t key) {
  std::string text(4, '\0');
  text[0] = static_cast<char>((key >> 24) & 0xFF);
  text[1] = static_cast<char>((key >> 16) & 0xFF);
  text[2] = static_cast<char>((key >> 8) & 0xFF);
  text[3] = static_cast<char>(key & 0xFF);
  return text;
}

std::uint32_t StringToFourCharCode(std::string_view text) {
  if (text.size() != 4) return kUnknownFourCharCode;
  return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
         (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

const PreferenceEntry* FindPreferenceEntry(const PreferenceEntry* table, std::uint32_t key) {
  if (table == nullptr) return nullptr;
  // The end row has id 0 and type kPrefEnd; either one ends the walk.
  for (const PreferenceEntry* row = table; row->id() != 0 && !row->isEnd(); ++row) {
    if (row->key() == key) return row;
  }
  return nullptr;
}

}  // namespace TavGen
