#pragma once
// Glyphs looked up by name: a face's glyphs, a program's CharStrings.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace Fonts {

// Glyph names hashed inline (FNV-1a), a byte at a time, so that a name read
// in place (an AFM file's) is hashed as it is scanned, without a copy.
struct GlyphNameHash {
  static constexpr std::uint64_t kStart = 14695981039346656037ull;
  static constexpr std::uint64_t step(std::uint64_t h, char c) {
    return (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  static constexpr std::size_t end(std::uint64_t h) { return std::size_t(h ^ (h >> 32)); }
  static constexpr std::size_t of(std::string_view name) {
    std::uint64_t h = kStart;
    for (const char c : name) h = step(h, c);
    return end(h);
  }
};

// The first of each name among numbered items (glyphs), in an open-addressed
// table of their numbers (linear probing, at most half full). The names stay
// with their owner: `nameOf(i)` gives item i's name. Items without a name are
// left out.
class GlyphNameTable {
 public:
  static constexpr std::int32_t kNone = -1;

  template <class NameOf>
  void build(std::size_t count, NameOf nameOf) {
    std::size_t size = 16;
    while (size < 2 * count) size *= 2;
    slots_.assign(size, kNone);
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view name = nameOf(i);
      if (name.empty()) continue;
      std::int32_t& slot = slots_[slotOf(name, GlyphNameHash::of(name), nameOf)];
      if (slot == kNone) slot = std::int32_t(i);
    }
  }
  // The first item of a name whose GlyphNameHash is `hash`, or kNone.
  template <class NameOf>
  std::int32_t find(std::string_view name, std::size_t hash, NameOf nameOf) const {
    return slots_.empty() ? kNone : slots_[slotOf(name, hash, nameOf)];
  }

 private:
  // The slot holding the item of the name, or the empty slot where it goes.
  template <class NameOf>
  std::size_t slotOf(std::string_view name, std::size_t hash, NameOf nameOf) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::int32_t item = slots_[i];
      if (item == kNone || nameOf(std::size_t(item)) == name) return i;
    }
  }

  std::vector<std::int32_t> slots_;
};

}  // namespace Fonts
