#pragma once
// The fonts the engine can set text in: the Type 1 fonts of the system's font
// folder (Debian's fonts-urw-base35), found by their PostScript names. The 14
// standard font names stand for their metric-compatible equivalents in that
// folder. FreeType reads metrics, glyph names, the Unicode mapping and
// outlines; kerning pairs come from the font's AFM file when there is one.
// The engine reads each font program once, at load: FreeType takes the names
// and widths from a copy whose charstrings are cut to their widths (it need
// not parse every outline), and reads the whole file only when outlines are
// drawn; the export checks and subsets the program read at load.
//
// Faces are loaded once per process and live until it ends; the pointers
// handed out stay valid that long. Not thread-safe (the engine has no threads).
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/fonts/glyphnametable.h"
#include "platform/fonts/type1program.h"

namespace Fonts {

// One segment of a glyph outline in font units (1/1000 em), y pointing up.
struct OutlineSegment {
  enum Op : std::uint8_t { kMove, kLine, kCubic } op = kMove;
  double x[3] = {0, 0, 0};  // kCubic: two control points, then the end point
  double y[3] = {0, 0, 0};
};

class FontFace {
 public:
  struct Glyph {
    std::string name;
    double advance = 0;       // font units
    char32_t unicode = 0;     // lowest code point mapped to the glyph, 0 = none
  };

  FontFace(const FontFace&) = delete;
  FontFace& operator=(const FontFace&) = delete;
  ~FontFace();

  const std::string& name() const { return name_; }  // the program's PostScript name
  const std::string& path() const { return path_; }
  const std::string& family() const { return family_; }  // "Nimbus Sans"
  const std::string& style() const { return style_; }    // "Bold"
  // A font whose built-in encoding is its own (Symbol, Dingbats) rather than
  // the standard encoding.
  bool symbolic() const { return symbolic_; }

  int glyphCount() const { return int(glyphs_.size()); }
  const Glyph& glyph(int index) const { return glyphs_[std::size_t(index)]; }
  // A glyph's advance in em (font units / 1000), kept apart from the other
  // glyph data and divided once, for the layout's sake.
  double emAdvance(int index) const { return emAdvances_[std::size_t(index)]; }
  // All of them, by glyph index.
  const double* emAdvances() const { return emAdvances_.data(); }
  // The control box of a glyph's outline in font units (xMin, yMin, xMax,
  // yMax; all 0 for a glyph that cannot be loaded). Worked out on first use:
  // most texts need only the advances, which the font gives without drawing
  // the outlines. Throws TavSys::Error when the font file's outlines cannot
  // be read at all (as outline does).
  const double* glyphBox(int index) const;
  // Glyph index by Unicode or name; -1 when the font has none (.notdef counts as none).
  int glyphForUnicode(char32_t ch) const;
  int glyphByName(std::string_view name) const;
  // Glyph of a code in the built-in encoding, -1 when none.
  int builtinGlyph(int code) const {
    return code >= 0 && code < 256 ? builtin_[std::size_t(code)] : -1;
  }
  // The kerning pairs in one open-addressed table (linear probing, at most
  // half full) keyed by both glyphs.
  struct KernSlot {
    std::uint64_t key;
    float value;
  };
  static constexpr std::uint64_t kNoKern = ~std::uint64_t{0};
  static std::uint64_t kernKey(int left, int right) {
    return std::uint64_t(std::uint32_t(left)) << 32 | std::uint32_t(right);
  }
  static std::size_t kernSlotOf(std::uint64_t key, int shift) {
    return std::size_t((key * 0x9E3779B97F4A7C15ull) >> shift);
  }
  // The kerning pairs as plain pointers and sizes, for a loop that asks for
  // many pairs: the layout keeps it in registers across its writes.
  struct KerningTable {
    // Per glyph, the pairs it begins: bit (right glyph mod 64) set for each.
    const std::uint64_t* after;
    std::size_t glyphs;
    const KernSlot* slots;
    std::size_t mask;  // slots - 1
    int shift;
    // The kerning of a pair of glyphs in font units, 0 for none.
    double operator()(int left, int right) const {
      if (std::size_t(left) >= glyphs || (after[std::size_t(left)] >> (unsigned(right) & 63) & 1) == 0) return 0;
      const std::uint64_t key = kernKey(left, right);
      for (std::size_t i = kernSlotOf(key, shift);; i = (i + 1) & mask) {
        const KernSlot& slot = slots[i];
        if (slot.key == key) return slot.value;
        if (slot.key == kNoKern) return 0;
      }
    }
  };
  KerningTable kerningTable() const {
    if (!afmPath_.empty()) readKerning();
    return {kernsAfter_.data(), kernsAfter_.size(), kernSlots_.data(), kernSlots_.size() - 1, kernShift_};
  }
  // Kerning between two glyphs in font units (0 without an AFM file).
  // Inline: the layout asks for every pair of neighbouring characters.
  double kerning(int left, int right) const { return kerningTable()(left, right); }
  // A glyph's outline in font units (empty for a glyph that cannot be
  // loaded). The outline is read once and kept with the face: a page sets
  // the same few glyphs again and again, and each reading interprets the
  // glyph's program anew. The face keeps at most kMaxKeptSegments segments
  // (about 14 MiB); past that an outline is read afresh into a scratch list.
  // The reference stays valid until the next call on this face. Throws
  // TavSys::Error when the font file's outlines cannot be read at all.
  const std::vector<OutlineSegment>& outline(int glyph) const;
  // The same, copied into `out`.
  void outline(int glyph, std::vector<OutlineSegment>& out) const;
  static constexpr std::size_t kMaxKeptSegments = std::size_t(1) << 18;
  // Keeps at most `segments` segments of outlines from now on (0: reads
  // every outline afresh); the outlines kept so far are let go.
  void limitKeptOutlines(std::size_t segments) const;

  const double* boundingBox() const { return bbox_; }  // xMin, yMin, xMax, yMax
  double ascent() const { return ascent_; }
  double descent() const { return descent_; }
  double capHeight() const { return capHeight_; }
  double underlinePosition() const { return underlinePosition_; }  // centre of the rule
  double underlineThickness() const { return underlineThickness_; }

  // The font program in the binary form, read on first use. Throws
  // TavSys::Error when the file cannot be read or is damaged.
  const Type1Program& program() const;
  // Whether the names and widths were read from a metrics program (see
  // ReadFontFace) rather than from the whole file.
  bool readFromMetricsProgram() const { return metricsProgram_ != nullptr; }
  // A subset of the program (SubsetType1Program) from the private part its
  // check took apart; `font` names the font in messages.
  Type1Program subsetProgram(const std::set<std::string>& glyphs, const std::string& font) const;

 private:
  friend const FontFace* FindFontFace(std::string_view name);
  // `face` read from the whole file, or (with a metrics program) from the
  // program Type1MetricsProgram made of the file's, whose parts come along.
  FontFace(void* face, std::string path);
  FontFace(void* face, std::string path, std::unique_ptr<const std::string> metricsProgram,
           std::unique_ptr<Type1Program> program, std::shared_ptr<const Type1Private> parsed);
  void readFace();
  // ReadFontFace, with FreeType's error when it cannot read the file.
  friend std::unique_ptr<FontFace> ReadFontFaceOrError(const std::string& path, std::string_view name, bool whole,
                                                       int& error);
  // The face that draws every glyph's outline: face_ itself, or the whole
  // file's, opened on first use. Throws TavSys::Error ("PDF/BAD FONT
  // PROGRAM") when FreeType cannot read the whole file.
  void* outlineFace() const;
  void boxOf(void* face, std::size_t glyph) const;

  void* face_;  // FT_Face, owned
  // The metrics program face_ reads in place (empty when face_ is the whole
  // file's), and the whole file's face opened for outlines (owned, or null).
  std::unique_ptr<const std::string> metricsProgram_;
  mutable void* wholeFace_ = nullptr;
  mutable bool wholeFaceTried_ = false;
  mutable bool checked_ = false;  // program_ passed CheckType1Private
  std::string name_, path_, family_, style_;
  bool symbolic_ = false;
  // The kerning pairs in one open-addressed table (linear probing, at most
  // half full) keyed by both glyphs, and the right glyphs each left one may kern with.
  // The pairs are read from the AFM file when a kerning is first asked for:
  // looking a font up (as the job load does for each run's font) needs its
  // glyphs and widths, not its kerning. afmPath_ names the file until then.
  std::size_t kernSlot(std::uint64_t key) const { return kernSlotOf(key, kernShift_); }
  mutable std::string afmPath_;
  mutable std::vector<KernSlot> kernSlots_;
  // Per left glyph, which right glyphs (mod 64) it may kern with: most pairs
  // of a text are no kerning pair, and are answered without the table.
  mutable std::vector<std::uint64_t> kernsAfter_;
  mutable int kernShift_ = 64;
  void readKerning() const;
  std::vector<Glyph> glyphs_;
  std::vector<double> emAdvances_;
  // The Unicode map as (code point, glyph) pairs in code point order,
  // searched by halves.
  std::vector<std::pair<char32_t, int>> byUnicode_;
  // Glyphs by name; of two glyphs of one name the first counts. The AFM
  // file's names are looked up in place, hashed as they are read.
  GlyphNameTable byName_;
  // The glyph of a name whose GlyphNameHash is given.
  int glyphByName(std::string_view name, std::size_t hash) const;
  // Control boxes of the glyphs (4 per glyph), those of boxKnown_ filled.
  mutable std::vector<double> boxes_;
  mutable std::vector<bool> boxKnown_;
  // The outlines read so far by glyph (outlineKept_ says which), how many
  // segments they hold together, and the list an outline is read into when
  // the face keeps no more.
  mutable std::vector<std::vector<OutlineSegment>> outlines_;
  mutable std::vector<bool> outlineKept_;
  mutable std::size_t keptSegments_ = 0;
  mutable std::size_t keptLimit_ = kMaxKeptSegments;
  mutable std::vector<OutlineSegment> scratchOutline_;
  void readOutline(std::size_t glyph, std::vector<OutlineSegment>& out) const;
  std::array<int, 256> builtin_{};
  double bbox_[4] = {0, 0, 0, 0};
  double ascent_ = 0, descent_ = 0, capHeight_ = 0;
  double underlinePosition_ = 0, underlineThickness_ = 0;
  mutable std::unique_ptr<Type1Program> program_;
  mutable std::shared_ptr<const Type1Private> private_;  // of program_, shared with no one else
};

// The face of a PostScript name (or of one of the 14 standard names), or null
// when no such font is installed.
const FontFace* FindFontFace(std::string_view name);
// The face of a Type 1 file, or null when FreeType cannot read it. The face
// takes its names, widths and encodings from the file's program with all but
// a few charstrings cut to their widths, and opens the whole file only for
// outlines; where the engine cannot read the program, or with `whole`,
// FreeType reads the whole file. The kerning pairs come from the AFM file of
// the same name beside it, when there is one. FindFontFace reads the
// folder's fonts so.
std::unique_ptr<FontFace> ReadFontFace(const std::string& path, std::string_view name, bool whole = false);
// Why FindFontFace gives null for a name: "the font "X" is not installed",
// or, when a file of that name is there, that it cannot be used and what is
// wrong with the file.
std::string MissingFontReason(std::string_view name);

// The 14 standard font names, in the usual order.
const std::vector<std::string>& StandardFontNames();
bool IsStandardFontName(std::string_view name);

// The folder the fonts are found in.
const char* FontFolder();

}  // namespace Fonts
