#pragma once
// A row of a preference table of the general library: a named, typed value
// that the host edits as a preference, found by its four-character key.
// Tables are static constant arrays ending in a row of type kPrefEnd.
#include <cstdint>
#include <string>
#include <string_view>

namespace TavGen {

// Four characters taken as a big-endian 32-bit integer: FourCharCode("Norm")
// is the value whose bytes, most significant first, are N, o, r, m.
constexpr std::uint32_t FourCharCode(const char (&text)[5]) {
  return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16) |
         (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

// The key as its four bytes, most significant first.
std::string FourCharCodeToString(std::uint32_t key);
// Text read as a key: the four characters when the text is exactly four
// bytes long, otherwise kUnknownFourCharCode ("____").
std::uint32_t StringToFourCharCode(std::string_view text);
inline constexpr std::uint32_t kUnknownFourCharCode = 0x5F5F5F5Fu;

// Row types. Long rows point at an int32, Boolean rows at an int32 holding 0
// or 1, Double rows at a double, file-reference rows at a TavSys::filref and
// popup rows at a TavGen::PopupDataModel. The other numbers of the host's
// numbering occur in no table of ours and are passed over by readers.
enum PreferenceType : std::uint16_t {
  kPrefLong = 0,
  kPrefDouble = 2,
  kPrefEnd = 5,
  kPrefFileRef = 6,
  kPrefFileRefAlias = 8,  // read like kPrefFileRef
  kPrefPopup = 9,
  kPrefBoolean = 14,
};

class PreferenceEntry {
 public:
  // The end row of a table.
  constexpr PreferenceEntry() = default;
  // `name` is a static string and `value` the address of a field with static
  // storage duration; the row refers to both and owns neither.
  constexpr PreferenceEntry(const char* name, void* value, std::uint32_t key, std::uint16_t id,
                            std::uint16_t type)
      : name_(name), value_(value), key_(key), id_(id), type_(type) {}
  constexpr virtual ~PreferenceEntry() = default;
  constexpr PreferenceEntry(const PreferenceEntry&) = default;
  constexpr PreferenceEntry& operator=(const PreferenceEntry&) = default;

  constexpr const char* name() const { return name_; }
  constexpr void* value() const { return value_; }
  constexpr std::uint32_t key() const { return key_; }
  constexpr std::uint16_t id() const { return id_; }
  constexpr std::uint16_t type() const { return type_; }
  constexpr bool isEnd() const { return type_ == kPrefEnd; }

 private:
  const char* name_ = nullptr;
  void* value_ = nullptr;
  std::uint32_t key_ = 0;
  std::uint16_t id_ = 0;
  std::uint16_t type_ = kPrefEnd;
};

// The row with this key: walks from `table` and stops, with no result, at the
// first row whose id is 0 (the end row). Null for a null table.
const PreferenceEntry* FindPreferenceEntry(const PreferenceEntry* table, std::uint32_t key);

}  // namespace TavGen
