#include "platform/fonts/fontface.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_ADVANCES_H

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/tav_error.h"

namespace Fonts {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFontFolder = "/usr/share/fonts/type1/urw-base35";

// The 14 standard names and the installed fonts that stand for them.
constexpr std::pair<const char*, const char*> kStandardFonts[] = {
    {"Courier", "NimbusMonoPS-Regular"},
    {"Courier-Bold", "NimbusMonoPS-Bold"},
    {"Courier-Oblique", "NimbusMonoPS-Italic"},
    {"Courier-BoldOblique", "NimbusMonoPS-BoldItalic"},
    {"Helvetica", "NimbusSans-Regular"},
    {"Helvetica-Bold", "NimbusSans-Bold"},
    {"Helvetica-Oblique", "NimbusSans-Italic"},
    {"Helvetica-BoldOblique", "NimbusSans-BoldItalic"},
    {"Times-Roman", "NimbusRoman-Regular"},
    {"Times-Bold", "NimbusRoman-Bold"},
    {"Times-Italic", "NimbusRoman-Italic"},
    {"Times-BoldItalic", "NimbusRoman-BoldItalic"},
    {"Symbol", "StandardSymbolsPS"},
    {"ZapfDingbats", "D050000L"},
};

// A file's bytes, in a buffer left uninitialised before the read.
struct FileBytes {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  const char* data() const { return bytes.get(); }
  operator std::string_view() const { return {bytes.get(), size}; }
};

// The file's bytes, at most limit + 1 of them (one more tells the caller
// the file is larger), read in one call for a file of the size it states.
// A read that fails part way ends the bytes there.
FileBytes readFile(const fs::path& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TavSys::fileError(errno ? errno : ENOENT, path.string());
  struct stat st {};
  // One byte past the stated size, so that the end is seen in the same call.
  std::size_t capacity = std::min<std::size_t>(limit + 1, 65536);
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    capacity = std::uintmax_t(st.st_size) < limit ? std::size_t(st.st_size) + 1 : limit + 1;
  }
  FileBytes file{std::unique_ptr<char[]>(new char[capacity]), 0};
  while (true) {
    if (file.size == capacity) {
      if (capacity > limit) break;
      // Larger than it said: on in steps, never past the limit.
      const std::size_t larger = std::min(limit + 1, capacity + std::max<std::size_t>(capacity, 65536));
      std::unique_ptr<char[]> grown(new char[larger]);
      std::memcpy(grown.get(), file.bytes.get(), file.size);
      file.bytes = std::move(grown);
      capacity = larger;
    }
    const ssize_t n = ::read(fd, file.bytes.get() + file.size, capacity - file.size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    file.size += std::size_t(n);
  }
  ::close(fd);
  return file;
}

// FreeType and the faces loaded so far; the faces go before the library.
struct Registry {
  FT_Library library = nullptr;
  bool indexed = false;
  std::map<std::string, fs::path, std::less<>> files;  // PostScript name -> file
  std::map<std::string, std::unique_ptr<FontFace>, std::less<>> faces;
  std::set<std::string, std::less<>> missing;  // names known to be absent
  // Names whose file is there but cannot be used, with what is wrong with it.
  std::map<std::string, std::string, std::less<>> damaged;

  Registry() {
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
  }
  ~Registry() {
    faces.clear();
    if (library != nullptr) FT_Done_FreeType(library);
  }

  // The font files of the folder by the PostScript name their cleartext part gives.
  void index() {
    if (indexed) return;
    indexed = true;
    std::error_code ec;
    for (fs::directory_iterator it(kFontFolder, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& p = it->path();
      const std::string ext = p.extension().string();
      if (ext != ".t1" && ext != ".pfb" && ext != ".pfa") continue;
      if (!it->is_regular_file(ec)) continue;
      FileBytes head;
      try {
        head = readFile(p, 8192);
      } catch (const TavSys::Error&) {
        continue;
      }
      std::string name = Type1FontName(head);
      if (name.empty()) name = p.stem().string();
      files.emplace(std::move(name), p);
    }
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

struct Decomposer {
  std::vector<OutlineSegment>* out;
  double lastX = 0, lastY = 0;
};

// Appends a segment whose points are given in order; the last one is where
// the pen ends up.
int addSegment(void* user, OutlineSegment::Op op, std::initializer_list<const FT_Vector*> points) {
  auto* d = static_cast<Decomposer*>(user);
  OutlineSegment s;
  s.op = op;
  int k = 0;
  for (const FT_Vector* p : points) {
    s.x[k] = double(p->x);
    s.y[k] = double(p->y);
    ++k;
  }
  d->out->push_back(s);
  d->lastX = s.x[k - 1];
  d->lastY = s.y[k - 1];
  return 0;
}
int moveTo(const FT_Vector* to, void* user) { return addSegment(user, OutlineSegment::kMove, {to}); }
int lineTo(const FT_Vector* to, void* user) { return addSegment(user, OutlineSegment::kLine, {to}); }
int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  return addSegment(user, OutlineSegment::kCubic, {c1, c2, to});
}
// Quadratic segments (not found in Type 1 fonts) raised to cubic ones.
int conicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
  auto* d = static_cast<Decomposer*>(user);
  const FT_Vector c1{FT_Pos(d->lastX + 2.0 / 3.0 * (double(c->x) - d->lastX)),
                     FT_Pos(d->lastY + 2.0 / 3.0 * (double(c->y) - d->lastY))};
  const FT_Vector c2{FT_Pos(double(to->x) + 2.0 / 3.0 * double(c->x - to->x)),
                     FT_Pos(double(to->y) + 2.0 / 3.0 * double(c->y - to->y))};
  return cubicTo(&c1, &c2, to, user);
}

// A kerning value of up to nine digits with an optional minus sign and
// nothing after it, as nearly every AFM file writes them: read as a whole
// number, which gives the same double as reading it as a decimal. False for
// anything else, which the full reader takes.
bool readWholeKern(const char* first, const char* last, double& value) {
  const bool negative = first != last && *first == '-';
  const char* p = first + (negative ? 1 : 0);
  if (p == last || last - p > 9) return false;
  std::int32_t n = 0;
  for (; p != last; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
  }
  value = negative ? -double(n) : double(n);
  return true;
}

}  // namespace

FontFace::FontFace(void* face, std::string path) : face_(face), path_(std::move(path)) { readFace(); }

FontFace::FontFace(void* face, std::string path, std::unique_ptr<const std::string> metricsProgram,
                   std::unique_ptr<Type1Program> program, std::shared_ptr<const Type1Private> parsed)
    : face_(face), metricsProgram_(std::move(metricsProgram)), path_(std::move(path)),
      program_(std::move(program)), private_(std::move(parsed)) {
  readFace();
}

void FontFace::readFace() {
  auto* f = static_cast<FT_Face>(face_);
  const char* postScriptName = FT_Get_Postscript_Name(f);
  name_ = postScriptName != nullptr ? postScriptName : "";
  family_ = f->family_name != nullptr ? f->family_name : "";
  style_ = f->style_name != nullptr ? f->style_name : "";
  bbox_[0] = double(f->bbox.xMin);
  bbox_[1] = double(f->bbox.yMin);
  bbox_[2] = double(f->bbox.xMax);
  bbox_[3] = double(f->bbox.yMax);
  underlinePosition_ = double(f->underline_position);
  underlineThickness_ = double(f->underline_thickness);

  const std::size_t count = std::size_t(f->num_glyphs);
  glyphs_.resize(count);
  boxes_.assign(count * 4, 0.0);
  boxKnown_.assign(count, false);
  // Advances as the glyphs' programs give them (unscaled), read without
  // drawing the outlines; a glyph that cannot be read advances by 0.
  std::vector<FT_Fixed> advances(count, 0);
  if (count > 0 && FT_Get_Advances(f, 0, FT_UInt(count), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING, advances.data()) != 0) {
    std::fill(advances.begin(), advances.end(), 0);
  }
  for (std::size_t g = 0; g < count; ++g) {
    Glyph& glyph = glyphs_[g];
    char name[128] = {0};
    if (FT_Get_Glyph_Name(f, FT_UInt(g), name, sizeof name) == 0) glyph.name = name;
    glyph.advance = double(advances[g]);
  }
  emAdvances_.reserve(count);
  for (const Glyph& glyph : glyphs_) emAdvances_.push_back(glyph.advance / 1000.0);
  byName_.build(count, [this](std::size_t g) -> std::string_view { return glyphs_[g].name; });

  if (FT_Select_Charmap(f, FT_ENCODING_UNICODE) == 0) {
    FT_UInt g = 0;
    for (FT_ULong ch = FT_Get_First_Char(f, &g); g != 0; ch = FT_Get_Next_Char(f, ch, &g)) {
      byUnicode_.emplace_back(char32_t(ch), int(g));
      Glyph& glyph = glyphs_[g];
      if (glyph.unicode == 0) glyph.unicode = char32_t(ch);
    }
    // FreeType gives the codes in rising order; should it not, the first
    // glyph given for a code counts.
    const auto byCode = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(byUnicode_.begin(), byUnicode_.end(), byCode)) {
      std::stable_sort(byUnicode_.begin(), byUnicode_.end(), byCode);
    }
    byUnicode_.erase(std::unique(byUnicode_.begin(), byUnicode_.end(),
                                 [](const auto& a, const auto& b) { return a.first == b.first; }),
                     byUnicode_.end());
  }
  builtin_.fill(-1);
  symbolic_ = FT_Select_Charmap(f, FT_ENCODING_ADOBE_CUSTOM) == 0;
  if (!symbolic_ && metricsProgram_ && FT_Select_Charmap(f, FT_ENCODING_ADOBE_STANDARD) == 0) {
    // The standard encoding's glyph of a code is the first of its name, as
    // FreeType finds it, without a search through every name per code.
    for (int code = 0; code < 256; ++code) {
      const char* name = StandardEncodingName(code);
      const int g = name != nullptr ? glyphByName(name) : -1;
      if (g > 0) builtin_[std::size_t(code)] = g;
    }
  } else if (symbolic_ || FT_Select_Charmap(f, FT_ENCODING_ADOBE_STANDARD) == 0) {
    for (int code = 0; code < 256; ++code) {
      const FT_UInt g = FT_Get_Char_Index(f, FT_ULong(code));
      if (g != 0) builtin_[std::size_t(code)] = int(g);
    }
  }

  // These glyphs keep their whole charstrings in a metrics program.
  auto yOf = [&](const char* glyph, int side, double fallback) {
    const int g = glyphByName(glyph);
    if (g < 0) return fallback;
    if (!boxKnown_[std::size_t(g)]) boxOf(face_, std::size_t(g));
    return boxes_[4 * std::size_t(g) + std::size_t(side)];
  };
  ascent_ = yOf("d", 3, bbox_[3]);
  descent_ = yOf("p", 1, bbox_[1]);
  capHeight_ = yOf("H", 3, ascent_);
}

FontFace::~FontFace() {
  if (wholeFace_ != nullptr) FT_Done_Face(static_cast<FT_Face>(wholeFace_));
  FT_Done_Face(static_cast<FT_Face>(face_));
}

void* FontFace::outlineFace() const {
  if (!metricsProgram_) return face_;
  if (!wholeFaceTried_) {
    wholeFaceTried_ = true;
    FT_Face whole = nullptr;
    if (FT_New_Face(registry().library, path_.c_str(), 0, &whole) == 0) {
      // The same glyphs in the same order, or none of its outlines.
      if (whole->num_glyphs == static_cast<FT_Face>(face_)->num_glyphs) {
        wholeFace_ = whole;
      } else {
        FT_Done_Face(whole);
      }
    }
  }
  if (wholeFace_ == nullptr) {
    // Its widths were read, its outlines cannot be: said, not left out.
    const std::string what = "the outlines of the file \"" + path_ + "\" cannot be read";
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/BAD FONT PROGRAM", name_ + ": " + what)
        .with("__FONT__", name_)
        .with("__DETAIL__", what);
  }
  return wholeFace_;
}

namespace {

// The control box of the glyph the face has loaded, in font units.
void storeLoadedBox(FT_Face f, double* out) {
  FT_BBox box;
  FT_Outline_Get_CBox(&f->glyph->outline, &box);
  out[0] = double(box.xMin);
  out[1] = double(box.yMin);
  out[2] = double(box.xMax);
  out[3] = double(box.yMax);
}

}  // namespace

void FontFace::boxOf(void* face, std::size_t g) const {
  boxKnown_[g] = true;
  auto* f = static_cast<FT_Face>(face);
  if (f != nullptr && FT_Load_Glyph(f, FT_UInt(g), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) == 0) {
    storeLoadedBox(f, &boxes_[4 * g]);
  }
}

int FontFace::glyphForUnicode(char32_t ch) const {
  const auto it = std::lower_bound(byUnicode_.begin(), byUnicode_.end(), ch,
                                   [](const std::pair<char32_t, int>& entry, char32_t c) { return entry.first < c; });
  if (it == byUnicode_.end() || it->first != ch || glyphs_[std::size_t(it->second)].name == ".notdef") return -1;
  return it->second;
}

const double* FontFace::glyphBox(int index) const {
  static constexpr double kNoBox[4] = {0, 0, 0, 0};
  if (index < 0 || index >= glyphCount()) return kNoBox;
  const std::size_t g = std::size_t(index);
  if (!boxKnown_[g]) boxOf(outlineFace(), g);
  return &boxes_[4 * g];
}

int FontFace::glyphByName(std::string_view name) const { return glyphByName(name, GlyphNameHash::of(name)); }

int FontFace::glyphByName(std::string_view name, std::size_t hash) const {
  return byName_.find(name, hash, [this](std::size_t g) -> std::string_view { return glyphs_[g].name; });
}

// "KPX left right value" lines; lines of other kinds or naming glyphs the
// font lacks are passed over.
void FontFace::readKerning() const {
  const std::string afmPath = std::move(afmPath_);
  afmPath_.clear();
  FileBytes file;
  try {
    file = readFile(afmPath, kMaxFontFileBytes);
  } catch (const TavSys::Error&) {
    return;  // no kerning from a file that cannot be read
  }
  std::vector<KernSlot> pairs;
  // The pairs of one left glyph come together: its name is looked up once.
  std::string_view lastLeft;
  int lastA = -1;
  std::size_t lines = 0;
  // Blanks as a C-locale stream skips them: space, tab, the line ends, VT, FF.
  static constexpr auto kBlank = [] {
    std::array<bool, 256> t{};
    for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t[c] = true;
    return t;
  }();
  const auto isSpace = [](char c) { return kBlank[static_cast<unsigned char>(c)]; };
  const char* const end = file.data() + file.size;
  for (const char* at = file.data(); at < end && ++lines < 1000000;) {
    const char* next = static_cast<const char*>(std::memchr(at, '\n', std::size_t(end - at)));
    if (next == nullptr) next = end;
    const char* p = at;
    at = next + 1;
    if (next - p < 4 || std::memcmp(p, "KPX ", 4) != 0) continue;
    // "KPX left right value", taken apart in place: two names (hashed as
    // they are read), then the number at the start of the rest, as a
    // C-locale stream reads it.
    p += 4;
    std::string_view words[3];
    std::size_t hashes[2] = {0, 0};
    for (int k = 0; k < 3; ++k) {
      while (p != next && isSpace(*p)) ++p;
      const char* const first = p;
      if (k < 2) {
        std::uint64_t h = GlyphNameHash::kStart;
        for (; p != next && !isSpace(*p); ++p) h = GlyphNameHash::step(h, *p);
        hashes[k] = GlyphNameHash::end(h);
      } else {
        while (p != next && !isSpace(*p)) ++p;
      }
      words[k] = std::string_view(first, std::size_t(p - first));
    }
    const std::string_view left = words[0], right = words[1], number = words[2];
    if (number.empty()) continue;
    if (number.size() > 1 && number[0] == '+' && (number[1] == '+' || number[1] == '-')) continue;
    const char* first = number.data() + (number.front() == '+' ? 1 : 0);
    const char* last = number.data() + number.size();
    double value = 0;
    if (!readWholeKern(first, last, value)) {
      const auto [stop, ec] = std::from_chars(first, last, value);
      // An exponent without its digits makes the whole number unreadable.
      if (ec != std::errc() || (stop != last && (*stop == 'e' || *stop == 'E')) || !std::isfinite(value)) continue;
    }
    if (value == 0) continue;
    if (left != lastLeft) {
      lastLeft = left;
      lastA = glyphByName(left, hashes[0]);
    }
    if (lastA < 0) continue;
    const int b = glyphByName(right, hashes[1]);
    if (b < 0) continue;
    pairs.push_back({kernKey(lastA, b), float(value)});
  }
  if (pairs.empty()) return;
  std::size_t size = 16;
  int shift = 60;
  while (size < 2 * pairs.size()) {
    size *= 2;
    --shift;
  }
  kernSlots_.assign(size, KernSlot{kNoKern, 0});
  kernShift_ = shift;
  kernsAfter_.assign(glyphs_.size(), 0);
  // Of two pairs of the same glyphs the first in the file counts.
  for (const KernSlot& pair : pairs) {
    std::size_t i = kernSlot(pair.key);
    while (kernSlots_[i].key != kNoKern && kernSlots_[i].key != pair.key) i = (i + 1) & (size - 1);
    if (kernSlots_[i].key == kNoKern) kernSlots_[i] = pair;
    kernsAfter_[std::size_t(pair.key >> 32)] |= std::uint64_t{1} << (pair.key & 63);
  }
}

void FontFace::readOutline(std::size_t glyph, std::vector<OutlineSegment>& out) const {
  out.clear();
  auto* f = static_cast<FT_Face>(outlineFace());
  if (FT_Load_Glyph(f, FT_UInt(glyph), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return;
  if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return;
  if (!boxKnown_[glyph]) {
    // The glyph is loaded now: its box comes without loading it again.
    boxKnown_[glyph] = true;
    storeLoadedBox(f, &boxes_[4 * std::size_t(glyph)]);
  }
  static const FT_Outline_Funcs funcs = {moveTo, lineTo, conicTo, cubicTo, 0, 0};
  Decomposer d{&out};
  FT_Outline_Decompose(&f->glyph->outline, &funcs, &d);
}

const std::vector<OutlineSegment>& FontFace::outline(int glyph) const {
  if (glyph < 0 || glyph >= glyphCount()) {
    scratchOutline_.clear();
    return scratchOutline_;
  }
  const std::size_t g = std::size_t(glyph);
  if (outlineKept_.empty()) {
    outlines_.resize(glyphs_.size());
    outlineKept_.assign(glyphs_.size(), false);
  }
  if (outlineKept_[g]) return outlines_[g];
  readOutline(g, scratchOutline_);
  if (keptSegments_ + scratchOutline_.size() > keptLimit_) return scratchOutline_;
  keptSegments_ += scratchOutline_.size();
  outlines_[g].assign(scratchOutline_.begin(), scratchOutline_.end());
  outlineKept_[g] = true;
  return outlines_[g];
}

void FontFace::limitKeptOutlines(std::size_t segments) const {
  keptLimit_ = segments;
  keptSegments_ = 0;
  outlines_.clear();
  outlineKept_.clear();
}

void FontFace::outline(int glyph, std::vector<OutlineSegment>& out) const {
  const std::vector<OutlineSegment>& kept = outline(glyph);
  out.assign(kept.begin(), kept.end());
}

const Type1Program& FontFace::program() const {
  if (!program_) {
    const FileBytes bytes = readFile(path_, kMaxFontFileBytes + 1);
    std::string plain;
    auto program = std::make_unique<Type1Program>(ReadType1Program(bytes, name_, plain));
    private_ = CheckedType1Private(*program, name_, std::move(plain));
    program_ = std::move(program);
    checked_ = true;
  } else if (!checked_) {
    // Read and taken apart with the face; checked on first use.
    CheckType1Private(*private_, name_);
    checked_ = true;
  }
  return *program_;
}

Type1Program FontFace::subsetProgram(const std::set<std::string>& glyphs, const std::string& font) const {
  const Type1Program& whole = program();
  return SubsetType1Program(whole, *private_, glyphs, font);
}

std::unique_ptr<FontFace> ReadFontFaceOrError(const std::string& path, std::string_view name, bool whole,
                                              int& error) {
  // The kerning pairs come from the AFM file beside the font file, read on
  // first use.
  const auto withKerning = [&path](std::unique_ptr<FontFace> face) {
    fs::path afm = path;
    afm.replace_extension(".afm");
    std::error_code ec;
    if (fs::is_regular_file(afm, ec)) face->afmPath_ = afm.string();
    return face;
  };
  Registry& r = registry();
  error = FT_Err_Ok;
  if (r.library == nullptr) return nullptr;
  if (!whole) {
    try {
      const std::string font(name);
      std::string plain;
      auto program = std::make_unique<Type1Program>(
          ReadType1Program(readFile(path, kMaxFontFileBytes + 1), font, plain));
      auto parsed = ParseType1Private(*program, font, std::move(plain));
      // The glyphs whose outlines give the ascent, descent and cap height.
      auto metrics = std::make_unique<const std::string>(
          Type1MetricsProgram(*program, *parsed, {"d", "p", "H"}, font).data);
      FT_Face face = nullptr;
      if (FT_New_Memory_Face(r.library, reinterpret_cast<const FT_Byte*>(metrics->data()),
                             FT_Long(metrics->size()), 0, &face) == 0) {
        return withKerning(std::unique_ptr<FontFace>(
            new FontFace(face, path, std::move(metrics), std::move(program), std::move(parsed))));
      }
    } catch (const TavSys::Error&) {
      // A program the engine cannot take apart: FreeType reads the whole file
      // (what is wrong with it is said when the font is exported).
    }
  }
  FT_Face face = nullptr;
  error = FT_New_Face(r.library, path.c_str(), 0, &face);
  if (error != 0) return nullptr;
  return withKerning(std::unique_ptr<FontFace>(new FontFace(face, path)));
}

std::unique_ptr<FontFace> ReadFontFace(const std::string& path, std::string_view name, bool whole) {
  int error = 0;
  return ReadFontFaceOrError(path, name, whole, error);
}

const FontFace* FindFontFace(std::string_view requested) {
  Registry& r = registry();
  if (r.library == nullptr) return nullptr;
  std::string_view name = requested;
  for (const auto& [standard, installed] : kStandardFonts) {
    if (requested == standard) name = installed;
  }
  if (auto it = r.faces.find(name); it != r.faces.end()) return it->second.get();
  if (r.missing.count(name) != 0) return nullptr;
  r.index();
  auto file = r.files.find(name);
  if (file == r.files.end()) {
    r.missing.emplace(name);
    return nullptr;
  }
  int error = 0;
  std::unique_ptr<FontFace> loaded = ReadFontFaceOrError(file->second.string(), name, false, error);
  if (!loaded) {
    // A file of the name that cannot be read: what our own reader finds
    // wrong with it, or FreeType's word.
    std::string why;
    try {
      ReadType1Program(readFile(file->second, kMaxFontFileBytes + 1), std::string(name));
      const char* text = FT_Error_String(error);
      why = text != nullptr ? text : "FreeType error " + std::to_string(error);
    } catch (const TavSys::Error& e) {
      why = e.placeholders().empty() ? e.detail() : e.placeholders().back().second;
    }
    r.missing.emplace(name);
    r.damaged.emplace(std::string(name), "its file \"" + file->second.string() + "\" is damaged (" + why + ")");
    return nullptr;
  }
  if (loaded->name_.empty()) loaded->name_ = std::string(name);
  const FontFace* result = loaded.get();
  r.faces.emplace(std::string(name), std::move(loaded));
  return result;
}

std::string MissingFontReason(std::string_view requested) {
  std::string_view name = requested;
  for (const auto& [standard, installed] : kStandardFonts) {
    if (requested == standard) name = installed;
  }
  FindFontFace(name);
  const Registry& r = registry();
  if (auto it = r.damaged.find(name); it != r.damaged.end()) {
    return "the font \"" + std::string(requested) + "\" cannot be used: " + it->second;
  }
  return "the font \"" + std::string(requested) + "\" is not installed";
}

const std::vector<std::string>& StandardFontNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const auto& entry : kStandardFonts) v.emplace_back(entry.first);
    return v;
  }();
  return names;
}

bool IsStandardFontName(std::string_view name) {
  for (const auto& entry : kStandardFonts)
    if (name == entry.first) return true;
  return false;
}

const char* FontFolder() { return kFontFolder; }

}  // namespace Fonts
