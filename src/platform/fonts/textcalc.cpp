#include "platform/fonts/textcalc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "platform/fonts/fontcache.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"

namespace {

// Positions closer than this (points) count as the same.
constexpr double kSamePosition = 1e-6;

// What a run of the text gives its characters.
struct RunInfo {
  int fontId = -1;
  const Fonts::FontFace* face = nullptr;
  double size = 0;         // points
  double tracking = 0;     // points after each character
  double hscale = 1;       // factor
  double wordExtra = 0;    // points after each blank
  double rise = 0;         // points up
  TextParameters params;
};

// Kept small: a text's characters are laid out one record each. Made
// without setting anything: the layout makes room for a text's worth at
// once and sets every field of the characters it keeps.
struct LaidChar {
  LaidChar() {}  // NOLINT: deliberately leaves the fields unset
  double x, y;         // text space, y down; y is the baseline with the rise
  double advance;      // the layout's advance
  double showAdvance;  // what a PDF viewer advances within one shown string
  std::uint32_t run;
  std::int32_t glyph;  // -1 for none
  std::int32_t line;
  std::uint8_t code;   // 32..255
  bool blank;
  // It stands where a PDF viewer puts it after the character before it in
  // the same shown string (the same line and baseline, no gap).
  bool follows;
};

// A signal, given before the character `at` (the character count for the
// signals after the last one). Characters need no record of their own: their
// parameters are their run's.
struct Event {
  int code = 0;
  std::size_t at = 0;
  TextParameters params;
  double size = 0;
  std::uint32_t rulesBegin = 0, rulesEnd = 0;  // in the calculator's rules
};

struct Line {
  std::size_t begin = 0, end = 0;  // characters
  bool paragraphEnd = false;
  double sizeHint = 0;             // the size for an empty line's leading
  // What the alignment needs of the line, gathered as its characters are
  // read (a paragraph that the frame does not break has them): the largest
  // of sizeHint and its characters' sizes, its blanks, and one past its last
  // character that is not a blank (begin when there is none).
  bool figures = false;
  double largest = 0;
  std::size_t blanks = 0, lastInk = 0;
};

void warnOnce(TavricCore::FontCache* cache, const std::string& key, const std::string& font,
              char32_t ch) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", unsigned(ch));
  if (!cache->FirstWarning(key + "|" + font + "|" + (ch != 0 ? text : ""))) return;
  std::vector<std::pair<std::string, std::string>> values{{"__FONT__", font}};
  if (ch != 0) values.emplace_back("__CHARACTER__", text);
  TavGen::message(TavGen::kWarning, 1, key, values);
}

}  // namespace

struct texcaltyp {
  jobstr* job = nullptr;
  const TavDB::TextData* text = nullptr;
  TavricCore::FontCache* cache = nullptr;
  int ppi = 72;
  std::vector<RunInfo> runs;
  std::vector<LaidChar> chars;
  std::string codes;  // the characters' codes, one byte each, for texcalrest
  bool ownWordSpacing = false;  // some run has its own word spacing
  std::vector<Event> events;
  std::vector<TextRulePolygon> rules;
  std::size_t nextEvent = 0, nextChar = 0;
  TextParameters initial;
  double initialSize = 0;
  // What the last texcalnex returned: its code, parameters, size and rules.
  int currentCode = kTextEnd;
  const TextParameters* current = nullptr;
  double currentSize = 0;
  const Event* currentEvent = nullptr;
  const LaidChar* lastChar = nullptr;
  // The layout's working lists, kept with the calculator for their capacity.
  std::vector<Line> lines, wrapped;
  std::vector<double> sum;
  std::vector<std::size_t> lastInk, paragraphs;
  // A text along a path: per character, where it stands on the path (job
  // units, with its rise) and the path's direction there (a unit vector:
  // its share along h and along v).
  struct Placed {
    double v, h, th, tv;
  };
  bool alongPath = false;
  std::vector<Placed> placed;
  double firstBaseline = 0;  // points below the start

  // Empty again for the next text; the lists keep their capacity.
  void clear() {
    job = nullptr;
    text = nullptr;
    cache = nullptr;
    ppi = 72;
    runs.clear();
    chars.clear();
    codes.clear();
    ownWordSpacing = false;
    events.clear();
    rules.clear();
    nextEvent = nextChar = 0;
    initial = TextParameters{};
    initialSize = 0;
    currentCode = kTextEnd;
    current = nullptr;
    currentSize = 0;
    currentEvent = nullptr;
    lastChar = nullptr;
    alongPath = false;
    placed.clear();
    firstBaseline = 0;
  }

  // A point of the text's space in job units (vertical first).
  std::array<double, 2> toJob(double x, double y) const {
    const double* m = text->matrix;
    const double k = double(ppi) / 72.0;
    return {double(text->start.v) + (m[1] * x + m[3] * y) * k,
            double(text->start.h) + (m[0] * x + m[2] * y) * k};
  }

  // A point given from a laid-out character's origin (dx along its
  // baseline, dy down, points) in job units.
  std::array<double, 2> charToJob(const LaidChar& c, double dx, double dy) const {
    if (!alongPath) return toJob(c.x + dx, c.y + dy);
    const Placed& p = placed[std::size_t(&c - chars.data())];
    const double k = double(ppi) / 72.0;
    return {p.v + (p.tv * dx + p.th * dy) * k, p.h + (p.th * dx - p.tv * dy) * k};
  }
};

namespace {

// A writer lays out one text after another: the calculator given back last
// is used again, with the capacity of its lists.
thread_local std::unique_ptr<texcaltyp> spareCalculator;

// Fills `info` (a fresh record) with what the run gives its characters.
void describeRun(texcaltyp& calc, const TavDB::TextRun& run, RunInfo& info) {
  info.fontId = calc.cache->FontId(run.font);
  info.size = run.size;
  info.tracking = run.tracking / 1000.0 * run.size;
  info.hscale = run.horizontalScale / 100.0;
  info.wordExtra = run.wordSpacing / 1000.0 * run.size;
  info.rise = run.rise;
  info.params.paint = run.paint;
  info.params.fontId = info.fontId;
  info.params.alignment = int(calc.text->align);
  info.params.charSpacing = std::int32_t(std::lround(run.tracking * 6553.6));
  info.params.horizontalScale = std::int32_t(std::lround(run.horizontalScale * 65536.0));
  info.params.rise = run.rise;
  if (info.fontId >= 0) {
    info.face = calc.cache->Face(info.fontId);
    // The blank's width matters only to a run with its own word spacing.
    const int blank = run.wordSpacing != 0 ? info.face->glyphForUnicode(U' ') : -1;
    const double blankWidth = blank >= 0 ? info.face->glyph(blank).advance : 0;
    if (blankWidth > 0) {
      info.params.wordSpacing = std::int32_t(
          std::lround(double(kNormalWordSpacing) * (blankWidth + run.wordSpacing) / blankWidth));
      if (info.params.wordSpacing == kNormalWordSpacing) ++info.params.wordSpacing;
    }
  }
}

// The text's first characters, for messages.
std::string excerpt(const TavDB::TextData& text) {
  std::string out;
  int count = 0;
  for (const TavDB::TextRun& run : text.runs) {
    for (std::size_t pos = 0; pos < run.text.size() && count < 30; ++count) {
      const std::size_t from = pos;
      const char32_t ch = TavricCore::NextCharacter(run.text, pos);
      out += ch == U'\n' ? std::string(" ") : run.text.substr(from, pos - from);
    }
  }
  return count >= 30 ? out + "..." : out;
}

// Says once per text that some of it lies beyond its box or path.
void warnNotFit(texcaltyp& calc) {
  const std::string text = excerpt(*calc.text);
  const std::string where = std::to_string(calc.text->start.v) + "," + std::to_string(calc.text->start.h);
  if (!calc.cache->FirstWarning("PDF/TEXT DOES NOT FIT|" + where + "|" + text)) return;
  TavGen::message(TavGen::kWarning, 1, "PDF/TEXT DOES NOT FIT", {{"__TEXT__", text}});
}

// The course of a text along a path: the path as straight pieces (curves
// cut into short ones), with the length up to each point in points.
class Course {
 public:
  Course(const std::vector<TavDB::PathPoint>& path, int ppi) : unit_(72.0 / double(ppi)) {
    constexpr int kCurvePieces = 32;
    for (std::size_t i = 0; i < path.size(); ++i) {
      const TavDB::PathPoint& p = path[i];
      if (p.type == TavDB::PathPoint::kCurve && i >= 2 && !v_.empty()) {
        const double v0 = v_.back(), h0 = h_.back();
        const TavDB::PathPoint& c1 = path[i - 2];
        const TavDB::PathPoint& c2 = path[i - 1];
        for (int k = 1; k <= kCurvePieces; ++k) {
          const double t = double(k) / kCurvePieces, u = 1 - t;
          const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
          add(a * v0 + b * c1.v + c * c2.v + d * p.v, a * h0 + b * c1.h + c * c2.h + d * p.h);
        }
      } else if (p.type != TavDB::PathPoint::kControl) {
        add(p.v, p.h);
      }
    }
  }
  double length() const { return length_.empty() ? 0 : length_.back(); }
  // The point at a length along the course (job units) and the direction
  // of the piece it lies on (shares along h and v).
  void at(double s, double& v, double& h, double& th, double& tv) const {
    std::size_t i = std::size_t(std::upper_bound(length_.begin(), length_.end(), s) - length_.begin());
    i = std::clamp<std::size_t>(i, 1, length_.size() - 1);
    const double piece = length_[i] - length_[i - 1];
    const double f = std::clamp((s - length_[i - 1]) / piece, 0.0, 1.0);
    const double dv = v_[i] - v_[i - 1], dh = h_[i] - h_[i - 1];
    v = v_[i - 1] + f * dv;
    h = h_[i - 1] + f * dh;
    const double n = std::hypot(dv, dh);
    th = dh / n;
    tv = dv / n;
  }
  bool usable() const { return length_.size() >= 2; }

 private:
  // A point; one that does not move on from the last is no piece.
  void add(double v, double h) {
    if (!v_.empty()) {
      const double d = std::hypot(v - v_.back(), h - h_.back());
      if (!(d > 0)) return;
      length_.push_back(length_.back() + d * unit_);
    } else {
      length_.push_back(0);
    }
    v_.push_back(v);
    h_.push_back(h);
  }
  double unit_;
  std::vector<double> v_, h_, length_;
};

// Stands the characters of a text along a path on it; those whose middle
// lies beyond its ends are not set.
void placeAlongPath(texcaltyp& calc, const Course& course) {
  const double k = double(calc.ppi) / 72.0;
  const double end = course.length();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < calc.chars.size(); ++i) {
    const LaidChar c = calc.chars[i];
    const double half = c.showAdvance / 2;
    const double middle = c.x + half;
    if (!course.usable() || middle < -kSamePosition || middle > end + kSamePosition) continue;
    double v, h, th, tv;
    course.at(middle, v, h, th, tv);
    calc.placed.push_back({v - tv * half * k + th * c.y * k, h - th * half * k - tv * c.y * k, th, tv});
    calc.codes[kept] = calc.codes[i];
    calc.chars[kept++] = c;
  }
  if (kept < calc.chars.size()) warnNotFit(calc);
  calc.chars.resize(kept);
  calc.codes.resize(kept);
}

void layout(texcaltyp& calc) {
  const TavDB::TextData& text = *calc.text;
  std::size_t bytes = 0;
  for (const TavDB::TextRun& run : text.runs) bytes += run.text.size();
  // Room for a character per byte, cut to the characters laid out. Each
  // character's advance is settled (its kerning with the next character of
  // its run added) when the next one comes, and then summed up.
  calc.chars.resize(bytes);
  calc.codes.resize(bytes);
  std::vector<double>& sum = calc.sum;
  sum.resize(bytes + 1);
  LaidChar* const chars = calc.chars.data();
  char* const codes = calc.codes.data();
  double* const sums = sum.data();
  sums[0] = 0;
  std::size_t count = 0;
  std::vector<Line>& lines = calc.lines;
  lines.clear();
  Line line;
  bool lineOpen = false;
  // The figures of the line being read.
  double largest = 0;
  std::size_t blanks = 0, lastInk = 0;
  const auto closeLine = [&] {
    line.end = count;
    line.paragraphEnd = true;
    line.figures = true;
    line.largest = largest;
    line.blanks = blanks;
    line.lastInk = lastInk;
    lines.push_back(line);
  };
  // A line break ends the paragraph at the characters laid out so far; the
  // next line starts with the size of the run that broke it.
  const auto endParagraph = [&](double sizeHint) {
    closeLine();
    line = Line{};
    line.begin = count;
    line.sizeHint = sizeHint;
    largest = sizeHint;
    blanks = 0;
    lastInk = count;
  };
  for (std::size_t r = 0; r < text.runs.size(); ++r) {
    const TavDB::TextRun& run = text.runs[r];
    const RunInfo& info = calc.runs[r];
    if (!lineOpen) {
      line.sizeHint = run.size;
      largest = run.size;
      lineOpen = true;
    }
    const std::string_view runText = run.text;
    if (info.fontId < 0) {
      if (!runText.empty()) warnOnce(calc.cache, "PDF/FONT NOT INSTALLED", run.font, 0);
      // Its characters are left out; its line breaks still end lines.
      for (std::size_t pos = 0; pos < runText.size();) {
        if (TavricCore::NextCharacter(runText, pos) == U'\n') endParagraph(run.size);
      }
      continue;
    }
    const std::int16_t* const known = calc.cache->KnownLatinCodes(info.fontId);
    const int* const glyphOfCode = calc.cache->GlyphsOfCodes(info.fontId);
    // What the run gives every character, in locals: the characters' byte
    // writes would otherwise have them read again for each.
    const double* const emAdvances = info.face->emAdvances();
    const Fonts::FontFace::KerningTable kerning = info.face->kerningTable();
    const double size = info.size, tracking = info.tracking, hscale = info.hscale;
    const double blankExtra = info.wordExtra * hscale;
    const std::uint32_t runIndex = std::uint32_t(r);
    bool runHasChar = false;  // the character before is one of this run's
    for (std::size_t pos = 0; pos < runText.size();) {
      const auto byte = static_cast<unsigned char>(runText[pos]);
      char32_t ch = byte;
      int code;
      if (byte < 0x80 && byte != '\n' && known[byte] >= 0) {
        // A character met before.
        ++pos;
        code = known[byte];
      } else {
        ch = TavricCore::NextCharacter(runText, pos);
        if (ch == U'\n') {
          endParagraph(run.size);
          continue;
        }
        code = calc.cache->Encode(info.fontId, ch);
        if (code < 0) {
          warnOnce(calc.cache, "PDF/CHARACTER NOT IN FONT", run.font, ch);
          continue;
        }
      }
      LaidChar& c = chars[count];
      c.run = runIndex;
      c.code = std::uint8_t(code);
      c.glyph = glyphOfCode[code];
      c.blank = ch == U' ';
      largest = std::max(largest, size);
      if (c.blank) {
        ++blanks;
      } else {
        lastInk = count + 1;
      }
      const double width = c.glyph >= 0 ? emAdvances[c.glyph] : 0;
      c.showAdvance = (width * size + tracking) * hscale;
      c.advance = c.showAdvance + (c.blank ? blankExtra : 0);
      codes[count] = char(code);
      if (count > 0) {
        LaidChar& before = chars[count - 1];
        if (runHasChar) {
          const double kern = kerning(before.glyph, c.glyph);
          if (kern != 0) before.advance += kern / 1000.0 * size * hscale;
        }
        sums[count] = sums[count - 1] + before.advance;
      }
      runHasChar = true;
      ++count;
    }
  }
  if (count > 0) sums[count] = sums[count - 1] + chars[count - 1].advance;
  calc.chars.resize(count);
  calc.codes.resize(count);
  sum.resize(count + 1);
  closeLine();

  // Wrapping into the frame (a text along a path is not wrapped).
  calc.alongPath = text.isAlongPath();
  const double frame = calc.alongPath ? 0 : text.width * 72.0 / double(calc.ppi);
  std::vector<Line>& wrapped = calc.wrapped;
  wrapped.clear();
  for (const Line& paragraph : lines) {
    Line current = paragraph;
    current.paragraphEnd = false;
    std::size_t breakAt = 0;  // first character after the last blank, 0 = none
    for (std::size_t i = paragraph.begin; frame > 0 && i < paragraph.end; ++i) {
      const LaidChar& c = chars[i];
      if (c.blank) {
        breakAt = i + 1;
        continue;
      }
      if (sums[i + 1] - sums[current.begin] > frame && breakAt > current.begin) {
        current.figures = false;  // this line and those after it in the paragraph
        current.end = breakAt;
        wrapped.push_back(current);
        current.begin = breakAt;
        current.sizeHint = calc.runs[chars[breakAt].run].size;
        breakAt = 0;
      }
    }
    current.end = paragraph.end;
    current.paragraphEnd = true;
    wrapped.push_back(current);
  }

  // Alignment, baselines, positions. Along a path the path's length is the
  // room the line is aligned in.
  std::optional<Course> course;
  if (calc.alongPath) course.emplace(text.path, calc.ppi);
  const double room = course ? course->length() : frame;
  const bool box = text.isBox() && !calc.alongPath;
  const double boxHeight = text.height * 72.0 / double(calc.ppi);
  const int align = int(text.align);
  double baseline = 0;
  // Per line, its last character that is not a blank (SIZE_MAX: none).
  calc.lastInk.clear();
  for (std::size_t l = 0; l < wrapped.size(); ++l) {
    const Line& ln = wrapped[l];
    double largest = ln.largest;
    std::size_t lastInk = ln.lastInk;  // one past the last character that is not a blank
    std::size_t lineBlanks = ln.blanks;
    // A run's characters stand together: its size is looked at once.
    std::uint32_t seenRun = UINT32_MAX;
    if (!ln.figures) {
      largest = ln.sizeHint;
      lastInk = ln.begin;
      lineBlanks = 0;
      for (std::size_t i = ln.begin; i < ln.end; ++i) {
        const LaidChar& c = chars[i];
        if (c.run != seenRun) {
          seenRun = c.run;
          largest = std::max(largest, calc.runs[c.run].size);
        }
        if (c.blank) {
          ++lineBlanks;
        } else {
          lastInk = i + 1;
        }
      }
    }
    // Those after the last character that is not one are all blanks.
    const int blanks = int(lineBlanks - (ln.end - lastInk));
    if (l > 0) {
      baseline += text.leading > 0 ? text.leading : 1.2 * largest;
    } else if (box) {
      // A box's first line hangs from its top by its tallest ascent.
      double ascent = 0;
      for (std::size_t i = ln.begin; i < ln.end; ++i) {
        const RunInfo& info = calc.runs[calc.chars[i].run];
        ascent = std::max(ascent, info.face->ascent() / 1000.0 * info.size);
      }
      if (ln.begin == ln.end) ascent = ln.sizeHint;
      baseline = ascent;
      calc.firstBaseline = ascent;
    }
    if (box && baseline > boxHeight + kSamePosition) {
      // This line and those after it lie below the box.
      if (ln.begin < calc.chars.size()) warnNotFit(calc);
      calc.chars.resize(ln.begin);
      calc.codes.resize(ln.begin);
      wrapped.resize(l);
      break;
    }
    const double natural = sum[lastInk] - sum[ln.begin];
    double x = 0, extra = 0;
    if (align == TavDB::TextData::kCentre) {
      x = room > 0 ? (room - natural) / 2 : -natural / 2;
    } else if (align == TavDB::TextData::kRight) {
      x = room > 0 ? room - natural : -natural;
    } else if (align == TavDB::TextData::kJustify && frame > 0 && !ln.paragraphEnd && blanks > 0) {
      extra = std::max(0.0, (frame - natural) / blanks);
    }
    calc.lastInk.push_back(lastInk > ln.begin ? lastInk - 1 : SIZE_MAX);
    seenRun = UINT32_MAX;
    double y = 0, previousEnd = 0;
    for (std::size_t i = ln.begin; i < ln.end; ++i) {
      LaidChar& c = chars[i];
      // A run's characters share their height: whether a character stands
      // on another one than the character before is asked where a run (or
      // the line) begins.
      bool apart = false;
      if (c.run != seenRun) {
        seenRun = c.run;
        const double runY = baseline - calc.runs[c.run].rise;
        apart = i == ln.begin || std::abs(y - runY) > kSamePosition;
        y = runY;
      }
      c.line = int(l);
      c.x = x;
      c.y = y;
      c.follows = !apart && !(std::abs(previousEnd - x) > kSamePosition);
      previousEnd = x + c.showAdvance;
      x += c.advance + (c.blank && i < lastInk ? extra : 0);
    }
  }
  if (course) placeAlongPath(calc, *course);
}

// The signals and characters, in the order the writer reads them.
void buildEvents(texcaltyp& calc) {
  TextParameters state;
  double stateSize = 0;
  std::size_t first = 0;
  while (first < calc.runs.size() && calc.runs[first].fontId < 0) ++first;
  if (first == calc.runs.size()) first = 0;
  if (!calc.runs.empty()) {
    state = calc.runs[first].params;
    stateSize = calc.runs[first].size;
  }
  calc.initial = state;
  calc.initialSize = stateSize;

  // The line's last character that is not a blank, for the end of its rules.
  const LaidChar* const chars = calc.chars.data();
  const std::size_t count = calc.chars.size();
  std::vector<std::size_t>& lastInk = calc.lastInk;
  if (calc.alongPath) {
    // The layout's are those before the characters beyond the path were dropped.
    lastInk.clear();
    for (std::size_t i = 0; i < count; ++i) {
      const LaidChar& c = chars[i];
      if (std::size_t(c.line) >= lastInk.size()) lastInk.resize(std::size_t(c.line) + 1, SIZE_MAX);
      if (!c.blank) lastInk[std::size_t(c.line)] = i;
    }
  }

  struct Rule {
    bool open = false;
    std::size_t run = 0;
    int line = 0;
    double x0 = 0, x1 = 0, y = 0;
    bool inked = false;
    std::size_t first = 0, last = 0;  // the first and the last underlined character
  } rule;
  auto closeRule = [&] {
    if (!rule.open) return;
    rule.open = false;
    if (!rule.inked) return;
    const RunInfo& info = calc.runs[rule.run];
    const double below = -info.face->underlinePosition() / 1000.0 * info.size;
    const double half = std::max(info.face->underlineThickness(), 1.0) / 2000.0 * info.size;
    if (calc.alongPath) {
      // Along a path each character has its piece of the rule, turned with it.
      for (std::size_t i = rule.first; i <= rule.last; ++i) {
        const LaidChar& c = calc.chars[i];
        calc.rules.push_back({calc.charToJob(c, 0, below - half), calc.charToJob(c, c.advance, below - half),
                              calc.charToJob(c, c.advance, below + half), calc.charToJob(c, 0, below + half)});
      }
      return;
    }
    const double centre = rule.y + below;
    TextRulePolygon polygon{calc.toJob(rule.x0, centre - half), calc.toJob(rule.x1, centre - half),
                            calc.toJob(rule.x1, centre + half), calc.toJob(rule.x0, centre + half)};
    calc.rules.push_back(polygon);
  };
  // Where the text's own line breaks start new paragraphs (character
  // positions, one per break; empty lines give several at one position).
  std::vector<std::size_t>& paragraphs = calc.paragraphs;
  paragraphs.clear();
  if (!calc.alongPath) {
    for (std::size_t l = 0; l + 1 < calc.wrapped.size(); ++l) {
      if (calc.wrapped[l].paragraphEnd) paragraphs.push_back(calc.wrapped[l].end);
    }
  }
  std::size_t nextParagraph = 0;
  // Read once: the loop below adds signals, whose writes the compiler would
  // otherwise have these read again after.
  const std::size_t* const paragraphAt = paragraphs.data();
  const std::size_t paragraphCount = paragraphs.size();
  const bool alongPath = calc.alongPath;
  // The rules completed since the last signal belong to a rule signal.
  std::uint32_t pending = 0;
  std::size_t emitted = 0;  // signals given so far
  auto emit = [&](int code, std::size_t at) {
    ++emitted;
    const auto ruleCount = std::uint32_t(calc.rules.size());
    const bool rules = code == kTextRule || code == kTextEnd;
    calc.events.push_back({code, at, state, stateSize, rules ? pending : 0, rules ? ruleCount : 0});
    pending = ruleCount;
  };

  const LaidChar* previous = nullptr;
  // What changes with the run is looked at once per run: after a character
  // the state holds its run's parameters.
  std::uint32_t stateRun = UINT32_MAX;
  bool underline = false;
  for (std::size_t i = 0; i < count; ++i) {
    const LaidChar& c = chars[i];
    if (rule.open && (rule.run != c.run || rule.line != c.line)) {
      closeRule();
      emit(kTextRule, i);
    }
    const std::size_t before = emitted;
    while (nextParagraph < paragraphCount && paragraphAt[nextParagraph] <= i) {
      emit(kTextParagraph, i);
      ++nextParagraph;
    }
    if (c.run != stateRun) {
      stateRun = c.run;
      const RunInfo& info = calc.runs[c.run];
      underline = calc.text->runs[c.run].underline;
      if (info.params.paint != state.paint) {
        state.paint = info.params.paint;
        emit(kTextPaint, i);
      }
      const bool font = info.fontId != state.fontId || info.size != stateSize;
      const bool spacing = info.params.charSpacing != state.charSpacing;
      state.fontId = info.fontId;
      stateSize = info.size;
      state.charSpacing = info.params.charSpacing;
      if (font || spacing) emit(font && spacing ? kTextFontAndSpacing : font ? kTextFont : kTextSpacing, i);
      if (info.params.horizontalScale != state.horizontalScale) {
        state.horizontalScale = info.params.horizontalScale;
        emit(kTextScale, i);
      }
      state.wordSpacing = info.params.wordSpacing;
    }
    // Along a path every character stands on its own.
    if (previous != nullptr && emitted == before && (alongPath || !c.follows)) {
      emit(kTextBreak, i);
    }
    if (underline) {
      if (!rule.open) {
        rule = Rule{true, c.run, c.line, c.x, c.x, c.y, false, i, i};
      }
      if (i <= lastInk[std::size_t(c.line)] && lastInk[std::size_t(c.line)] != SIZE_MAX) {
        rule.x1 = c.x + c.advance;
        rule.inked = true;
        rule.last = i;
      }
    }
    previous = &c;
    // The letters that follow on from it in its run, with no rule and no
    // paragraph before them, give no signal: passed over.
    if (!underline && !rule.open && !alongPath) {
      const std::size_t stop = nextParagraph < paragraphCount ? std::min(count, paragraphAt[nextParagraph]) : count;
      const LaidChar* next = &c + 1;
      const LaidChar* const end = chars + std::max(stop, i + 1);
      const std::uint32_t run = c.run;
      while (next != end && next->run == run && next->follows) ++next;
      i = std::size_t(next - chars) - 1;
      previous = next - 1;
    }
  }
  closeRule();
  for (; nextParagraph < paragraphCount; ++nextParagraph) emit(kTextParagraph, count);
  emit(kTextEnd, count);
}

}  // namespace

TextCalc texcalini(jobstr* job, const TavDB::Object* object) {
  if (job == nullptr || object == nullptr || object->text() == nullptr) return nullptr;
  TextCalc calc(spareCalculator ? spareCalculator.release() : new texcaltyp());
  calc->job = job;
  calc->text = object->text();
  calc->cache = TavricCore::jobGetFontCache(job);
  calc->ppi = TavDB::getppi(job);
  for (const TavDB::TextRun& run : calc->text->runs) {
    RunInfo& info = calc->runs.emplace_back();
    describeRun(*calc, run, info);
    calc->ownWordSpacing |= info.params.wordSpacing != kNormalWordSpacing;
  }
  layout(*calc);
  buildEvents(*calc);
  return calc;
}

int texcalnex(texcaltyp* calc) {
  if (calc == nullptr) return kTextEnd;
  if (calc->nextEvent < calc->events.size() &&
      calc->events[calc->nextEvent].at == calc->nextChar) {
    const Event& e = calc->events[calc->nextEvent++];
    calc->currentCode = e.code;
    calc->current = &e.params;
    calc->currentSize = e.size;
    calc->currentEvent = &e;
    return e.code;
  }
  if (calc->nextChar >= calc->chars.size()) return kTextEnd;
  const LaidChar& c = calc->chars[calc->nextChar++];
  const RunInfo& info = calc->runs[c.run];
  calc->currentCode = c.code;
  calc->current = &info.params;
  calc->currentSize = info.size;
  calc->currentEvent = nullptr;
  calc->lastChar = &c;
  return c.code;
}

int texcalnexstretch(texcaltyp* calc, bool whole, TextStretch& stretch) {
  stretch.codes = {};
  stretch.afterBreak = false;
  if (calc == nullptr) return kTextEnd;
  const std::size_t from = calc->nextChar;
  const std::size_t eventCount = calc->events.size();
  std::size_t next = calc->nextEvent;
  if (next < eventCount && calc->events[next].at == from) {
    // A break always stands just before a character: with whole stretches
    // it comes along with the stretch. Any other signal comes on its own.
    if (!whole || calc->events[next].code != kTextBreak ||
        (next + 1 < eventCount && calc->events[next + 1].at == from)) {
      return texcalnex(calc);
    }
    stretch.afterBreak = true;
    calc->nextEvent = ++next;
  }
  const std::size_t count = calc->chars.size();
  if (from >= count) return kTextEnd;
  const LaidChar* const chars = calc->chars.data();
  const auto ownSpacedBlank = [calc, chars](std::size_t i) {
    return calc->codes[i] == ' ' && calc->runs[chars[i].run].params.wordSpacing != kNormalWordSpacing;
  };
  // The stretch: up to the next signal, or up to and including a blank of
  // a run with its own word spacing.
  std::size_t to = from + 1;
  if (whole && !(calc->ownWordSpacing && ownSpacedBlank(from))) {
    to = next < eventCount ? calc->events[next].at : count;
    if (calc->ownWordSpacing) {
      for (std::size_t i = from + 1; i < to; ++i) {
        if (ownSpacedBlank(i)) {
          to = i + 1;
          break;
        }
      }
    }
  }
  // The calculator stands after the stretch's last character.
  const LaidChar& last = chars[to - 1];
  const RunInfo& info = calc->runs[last.run];
  calc->nextChar = to;
  calc->currentCode = last.code;
  calc->current = &info.params;
  calc->currentSize = info.size;
  calc->currentEvent = nullptr;
  calc->lastChar = &last;
  const LaidChar& first = chars[from];
  const auto place = calc->charToJob(first, 0, 0);
  stretch.v = place[0];
  stretch.h = place[1];
  stretch.codes = {calc->codes.data() + from, to - from};
  return first.code;
}

void texcalpars(const texcaltyp* calc, TextParameters& parameters) {
  if (calc == nullptr) return;
  parameters = calc->current != nullptr ? *calc->current : calc->initial;
}

double texcalSize(const texcaltyp* calc) {
  if (calc == nullptr) return 0;
  const double points = calc->current != nullptr ? calc->currentSize : calc->initialSize;
  return points * double(calc->ppi) / 72.0;
}

void texcalbasematppi(const texcaltyp* calc, int ppi, double matrix[4]) {
  if (calc != nullptr && calc->alongPath && calc->lastChar != nullptr) {
    const texcaltyp::Placed& p = calc->placed[std::size_t(calc->lastChar - calc->chars.data())];
    const double turn[4] = {p.th, p.tv, -p.tv, p.th};
    for (int k = 0; k < 4; ++k) matrix[k] = turn[k] * double(ppi);
    return;
  }
  for (int k = 0; k < 4; ++k) matrix[k] = calc != nullptr ? calc->text->matrix[k] * double(ppi) : 0;
}

bool texcalAlongPath(const texcaltyp* calc) { return calc != nullptr && calc->alongPath; }

double texcalFirstBaseline(const texcaltyp* calc) { return calc != nullptr ? calc->firstBaseline : 0; }

void GetTextLetterPosition(const texcaltyp* calc, double& v, double& h) {
  v = h = 0;
  if (calc == nullptr) return;
  const LaidChar* c = calc->lastChar;
  const auto p = c != nullptr ? calc->charToJob(*c, 0, 0) : calc->toJob(0, 0);
  v = p[0];
  h = p[1];
}

int texcalrul(texcaltyp* calc, TavricCore::FontCache*, int code,
              std::vector<TextRulePolygon>& polygons) {
  const Event* e = calc != nullptr ? calc->currentEvent : nullptr;
  if (e == nullptr || e->code != code) return 0;
  polygons.insert(polygons.end(), calc->rules.begin() + e->rulesBegin,
                  calc->rules.begin() + e->rulesEnd);
  return int(e->rulesEnd - e->rulesBegin);
}

void texcalexi(TextCalc& calc) { calc.reset(); }

TavDB::tv_box texcalbounds(jobstr* job, const TavDB::Object* object) {
  TextCalc calc = texcalini(job, object);
  if (!calc) return {};
  double top = HUGE_VAL, left = HUGE_VAL, bottom = -HUGE_VAL, right = -HUGE_VAL;
  auto add = [&](const std::array<double, 2>& p) {
    top = std::min(top, p[0]);
    bottom = std::max(bottom, p[0]);
    left = std::min(left, p[1]);
    right = std::max(right, p[1]);
  };
  for (const LaidChar& c : calc->chars) {
    if (c.glyph < 0) continue;
    const RunInfo& info = calc->runs[c.run];
    const double* box = info.face->glyphBox(c.glyph);  // font units, y up
    if (box[0] >= box[2] || box[1] >= box[3]) continue;  // a blank sets no ink
    const double k = info.size / 1000.0;
    const double x0 = box[0] * k * info.hscale, x1 = box[2] * k * info.hscale;
    const double y0 = -box[3] * k, y1 = -box[1] * k;
    // Turned or sheared letters (along a path each its own way): all four corners.
    add(calc->charToJob(c, x0, y0));
    add(calc->charToJob(c, x1, y0));
    add(calc->charToJob(c, x0, y1));
    add(calc->charToJob(c, x1, y1));
  }
  for (const TextRulePolygon& rule : calc->rules)
    for (const auto& corner : rule) add(corner);
  if (!(top < bottom) || !(left < right)) return {};
  auto down = [](double v) { return std::int32_t(std::clamp(std::floor(v), -2e9, 2e9)); };
  auto up = [](double v) { return std::int32_t(std::clamp(std::ceil(v), -2e9, 2e9)); };
  return {down(top), down(left), up(bottom), up(right)};
}

void TextCalcDeleter::operator()(texcaltyp* calc) const {
  if (calc == nullptr) return;
  if (spareCalculator) {
    delete calc;
    return;
  }
  calc->clear();
  spareCalculator.reset(calc);
}

bool isStationNumberObject(const TavDB::Object* object) {
  return object != nullptr && object->text() != nullptr && object->extra() != nullptr && object->extra()->stationNumber;
}

std::vector<std::uint16_t> texsca(const TavDB::Object* object) {
  std::vector<std::uint16_t> paints;
  const TavDB::TextData* text = object != nullptr ? object->text() : nullptr;
  if (text == nullptr) return paints;
  for (const TavDB::TextRun& run : text->runs) {
    if (std::find(paints.begin(), paints.end(), run.paint) == paints.end()) paints.push_back(run.paint);
  }
  return paints;
}

void TavricCore::textAdjustPaint(TavDB::Object* object, const std::function<std::uint16_t(std::uint16_t)>& adjust) {
  if (object == nullptr || object->text() == nullptr) return;
  for (TavDB::TextRun& run : object->textMut()->runs) run.paint = adjust(run.paint);
}

bool textCheckPaintAndFont(const jobstr* job, const TavDB::Object* object) {
  const TavDB::TextData* text = object != nullptr ? object->text() : nullptr;
  if (text == nullptr) return false;
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job);
  for (const TavDB::TextRun& run : text->runs) {
    const Paint* paint = paipoi(job, run.paint);
    if (paint == nullptr || paint->type != kPaintFlat) return false;
    if (cache->FontId(run.font) < 0) return false;
  }
  return true;
}

namespace {

// A closed path through job points (vertical first), in the paint.
std::unique_ptr<TavDB::Object> makePath(std::vector<TavDB::PathPoint> points, std::uint16_t paint) {
  auto path = TavDB::Object::create(TavDB::ObjectKind::Path);
  path->points() = std::move(points);
  path->setPaint(paint);
  path->recalcBounds();
  return path;
}

std::int32_t toUnits(double v) {
  v = std::clamp(v, -1e9, 1e9);
  if (!(v == v)) return std::int32_t(std::lround(v));
  // v - whole is exact for |v| below 2^53.
  const auto whole = std::int64_t(v);
  const double part = v - double(whole);
  return std::int32_t(whole + (part >= 0.5 ? 1 : part <= -0.5 ? -1 : 0));
}

}  // namespace

std::int32_t roundToJobUnits(double v) { return toUnits(v); }

std::unique_ptr<TavDB::Object> texhivecget(jobstr* job, const TavDB::Object* object, int) {
  TextCalc calc = texcalini(job, object);
  if (!calc) return nullptr;
  std::unique_ptr<TavDB::Object> group = TavDB::gronew();
  // The contours of one glyph; each is moved into its path, the list keeps
  // its capacity for the next glyph.
  std::vector<std::vector<TavDB::PathPoint>> contours;
  for (const LaidChar& c : calc->chars) {
    const RunInfo& info = calc->runs[c.run];
    const std::vector<Fonts::OutlineSegment>& outline = info.face->outline(c.glyph);
    const double k = info.size / 1000.0;
    auto at = [&](double gx, double gy, TavDB::PathPoint::Type type) {
      const auto p = calc->charToJob(c, gx * k * info.hscale, -gy * k);
      return TavDB::PathPoint{toUnits(p[0]), toUnits(p[1]), type};
    };
    contours.clear();
    for (const Fonts::OutlineSegment& s : outline) {
      if (s.op == Fonts::OutlineSegment::kMove) {
        auto& contour = contours.emplace_back();
        std::size_t points = 1;
        for (const Fonts::OutlineSegment* n = &s + 1; n != outline.data() + outline.size() &&
                                                      n->op != Fonts::OutlineSegment::kMove;
             ++n) {
          points += n->op == Fonts::OutlineSegment::kCubic ? 3 : 1;
        }
        contour.reserve(points);
        contour.push_back(at(s.x[0], s.y[0], TavDB::PathPoint::kLine));
      } else if (contours.empty()) {
        continue;
      } else if (s.op == Fonts::OutlineSegment::kLine) {
        contours.back().push_back(at(s.x[0], s.y[0], TavDB::PathPoint::kLine));
      } else {
        contours.back().push_back(at(s.x[0], s.y[0], TavDB::PathPoint::kControl));
        contours.back().push_back(at(s.x[1], s.y[1], TavDB::PathPoint::kControl));
        contours.back().push_back(at(s.x[2], s.y[2], TavDB::PathPoint::kCurve));
      }
    }
    const std::uint16_t paint = std::uint16_t(info.params.paint);
    std::unique_ptr<TavDB::Object> glyph;
    for (auto& contour : contours) {
      // A closing line back onto the first point adds nothing to a closed path.
      if (contour.size() > 2 && contour.back().type == TavDB::PathPoint::kLine &&
          contour.back().v == contour.front().v && contour.back().h == contour.front().h) {
        contour.pop_back();
      }
      if (contour.size() < 2) continue;
      if (contours.size() == 1) {
        glyph = makePath(std::move(contour), paint);
        break;
      }
      if (!glyph) {
        glyph = TavDB::Object::create(TavDB::ObjectKind::Compound);
        glyph->setPaint(paint);
      }
      glyph->addontop(makePath(std::move(contour), paint));
    }
    if (!glyph) continue;
    glyph->recalcBounds();
    group->addontop(std::move(glyph));
  }
  for (const Event& e : calc->events) {
    for (std::uint32_t r = e.rulesBegin; r < e.rulesEnd; ++r) {
      const TextRulePolygon& polygon = calc->rules[r];
      std::vector<TavDB::PathPoint> points;
      for (const auto& p : polygon) points.push_back({toUnits(p[0]), toUnits(p[1]), TavDB::PathPoint::kLine});
      group->addontop(makePath(std::move(points), std::uint16_t(e.params.paint)));
    }
  }
  group->recalcBounds();
  return group;
}
