#include "platform/localization.h"

#include <algorithm>
#include <array>

#include "platform/messages.h"

namespace TavSys {

namespace {

struct Language {
  const char* code;
  const char* name;
};
constexpr std::array<Language, 6> kLanguages{{{"en", "English"},
                                              {"de", "German"},
                                              {"fr", "French"},
                                              {"it", "Italian"},
                                              {"es", "Spanish"},
                                              {"nl", "Dutch"}}};

struct Text {
  const char* language;  // English full name
  const char* key;
  const char* text;
};
// The kernel domain's texts in the languages besides English; English comes
// from the engine's own table.
constexpr std::array<Text, 5> kTavricLib{{{"German", "LAYER MAIN DESIGN", "Hauptdesign"},
                                          {"French", "LAYER MAIN DESIGN", "Design principal"},
                                          {"Italian", "LAYER MAIN DESIGN", "Design principale"},
                                          {"Spanish", "LAYER MAIN DESIGN", "Dise\u00f1o principal"},
                                          {"Dutch", "LAYER MAIN DESIGN", "Hoofdontwerp"}}};

// The next character of UTF-8 text (U+FFFD for a bad byte), folded to lower
// case for ASCII and Latin-1 letters.
char32_t nextFolded(std::string_view s, std::size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  char32_t ch = 0xFFFD;
  int extra = 0;
  if (c < 0x80) {
    ch = c;
  } else if ((c & 0xE0) == 0xC0) {
    ch = c & 0x1F;
    extra = 1;
  } else if ((c & 0xF0) == 0xE0) {
    ch = c & 0x0F;
    extra = 2;
  } else if ((c & 0xF8) == 0xF0) {
    ch = c & 0x07;
    extra = 3;
  }
  ++i;
  for (int k = 0; k < extra; ++k, ++i) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    ch = (ch << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  }
  if ((ch >= U'A' && ch <= U'Z') || (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7)) ch += 0x20;
  return ch;
}

std::u32string folded(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) out.push_back(nextFolded(s, i));
  return out;
}

}  // namespace

std::vector<std::string> GetApplicationAvailableLanguages() {
  std::vector<std::string> codes;
  for (const Language& l : kLanguages) codes.emplace_back(l.code);
  return codes;
}

std::string GetEnglishFullNameForLanguageCode(std::string_view code) {
  for (const Language& l : kLanguages)
    if (code == l.code) return l.name;
  return {};
}

std::string Localization::GetString(std::string_view domain, std::string_view key, std::string_view language) {
  if (domain == "TavricLib") {
    if (language == "English") return TavCore::GetLocalizedUTF8String(key);
    for (const Text& t : kTavricLib)
      if (language == t.language && key == t.key) return t.text;
  }
  return std::string(key);
}

bool CompareWithWildcards(std::string_view text, std::string_view pattern) {
  const std::u32string t = folded(text), p = folded(pattern);
  // Greedy match with backtracking to the last "*".
  std::size_t ti = 0, pi = 0, star = std::u32string::npos, resume = 0;
  while (ti < t.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == t[ti])) {
      ++ti;
      ++pi;
    } else if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      resume = ti;
    } else if (star != std::u32string::npos) {
      pi = star + 1;
      ti = ++resume;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

}  // namespace TavSys
