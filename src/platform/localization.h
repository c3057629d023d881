#pragma once
// The languages the application offers and the texts of the kernel's own
// message domain ("TavricLib") in each of them: names the editor gives
// things in the user's language, such as the main design layer, which the
// engine must recognise whatever language a job was made in. The engine's
// own messages are English (messages.h).
#include <string>
#include <string_view>
#include <vector>

namespace TavSys {

// Language codes ("en", "de", ...) in the order the application offers them.
std::vector<std::string> GetApplicationAvailableLanguages();
// "English", "German", ... for a code; empty for a code not offered.
std::string GetEnglishFullNameForLanguageCode(std::string_view code);

namespace Localization {
// The text of a key of a domain in a language (its English full name); the
// key itself when the domain or the language has no text for it.
std::string GetString(std::string_view domain, std::string_view key, std::string_view language);
}  // namespace Localization

// Whether text matches pattern, letter case aside (ASCII and Latin-1
// letters): "*" stands for any run of characters, "?" for one character.
bool CompareWithWildcards(std::string_view text, std::string_view pattern);

}  // namespace TavSys
