#pragma once
// The text calculator: lays a text object of the job out and hands it to a
// writer character by character, with the signals the writer needs between
// the characters.
//
// Layout, in the text's own space (points, x along the baseline, y down, the
// origin at the text's start point):
//   - a character advances by (width × size / 1000 + tracking × size / 1000)
//     × horizontal scale, plus the kerning pair with the next character of the
//     same run (from the font's AFM file) and, after a blank, the run's word
//     spacing (wordSpacing × size / 1000, also scaled horizontally);
//   - "\n" ends a line; with a frame width, lines are also broken after the
//     last blank that keeps them inside the frame (a word longer than the
//     frame stays whole and overflows it);
//   - alignment: left, centre and right align each line (its blanks at the
//     end not counted) in the frame, or about the start point without a
//     frame; justify spreads the room left over the line's blanks, except on
//     a paragraph's last line, which stays left-aligned;
//   - baselines lie `leading` points apart (0: 1.2 × the largest size on the
//     line); rise moves characters up;
//   - the text's matrix [a b c d] then maps a point (x, y) of that space to the
//     job offset (a x + c y, b x + d y) × ppi / 72 from the start point;
//   - a text box (a frame with a height) hangs its first baseline from the
//     box's top by the tallest ascent on its first line; lines whose
//     baseline falls below the box are not set;
//   - a text along a path is one line set along the path's length (left,
//     centre and right align it in that length, justify counts as left):
//     each character stands on the path at the point its middle reaches,
//     turned with the path there; characters whose middle lies beyond the
//     path's ends are not set.
// What a box or path cannot hold is said once per text ("PDF/TEXT DOES NOT
// FIT").
//
// texcalnex returns a character code (32..255) of the current font, or one
// of the signals below. After a signal the parameters (texcalpars, texcalSize)
// are those of the characters that follow.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
namespace TavDB {
class Object;
}
namespace TavricCore {
class FontCache;
}

enum TextSignal : int {
  kTextPaint = 0,               // the paint changes
  kTextBreak = 1,               // the next character does not follow on from the last one
  kTextParagraph = 2,           // a line break of the text itself ("\n"): a new paragraph begins
  kTextRule = 30,               // rules (underlines) are complete: texcalrul gives them
  kTextEnd = 31,                // the end of the text (texcalrul gives its last rules)
  kTextFontAndSpacing = -1,     // font or size, and the character spacing change
  kTextFont = -3,               // the font or its size changes
  kTextSpacing = -5,            // the character spacing changes
  kTextScale = -7,              // the horizontal scale changes
};

// Normal word spacing as texcalpars gives it (100 % in 16.16 fixed point).
inline constexpr std::int32_t kNormalWordSpacing = 6553600;

struct TextParameters {
  int paint = 0;
  int fontId = -1;               // the job's font cache id; -1 when not installed
  int alignment = 0;             // 0 left, 1 centre, 2 right, 3 justify
  std::int32_t charSpacing = 0;  // em × 6553600 (tracking 1/1000 em = 6553.6)
  std::int32_t horizontalScale = kNormalWordSpacing;  // percent × 65536
  std::int32_t wordSpacing = kNormalWordSpacing;      // percent of the blank × 65536
  double rise = 0;               // points up
};

// A rule's outline: four corners in job units (vertical first).
using TextRulePolygon = std::array<std::array<double, 2>, 4>;

struct texcaltyp;
struct TextCalcDeleter {
  void operator()(texcaltyp* calc) const;
};
// A calculator, owned by whoever started it.
using TextCalc = std::unique_ptr<texcaltyp, TextCalcDeleter>;

// Lays the text out. Characters that the font cannot show and runs whose font
// is not installed are left out with a warning. Null for an object that is
// not a text.
TextCalc texcalini(jobstr* job, const TavDB::Object* text);
int texcalnex(texcaltyp* calc);
// What texcalnexstretch gives with a character: its code and, when asked
// for whole stretches, the codes of the characters that follow it without a
// signal between, up to and including the first blank (code 32) of a run with
// its own word spacing; and where the first one starts on its baseline (job
// units, as GetTextLetterPosition). The codes stay valid as long as the
// calculator.
struct TextStretch {
  std::string_view codes;
  double v = 0, h = 0;
  // With whole stretches, a kTextBreak just before a stretch comes with it
  // (and is set here) rather than on its own.
  bool afterBreak = false;
};
// texcalnex for a writer that shows runs of characters as one string: the
// characters of a stretch are all taken at once, as if texcalnex had
// returned each, so that the parameters and the letter position are then
// those of its last one. A signal comes with no codes.
int texcalnexstretch(texcaltyp* calc, bool whole, TextStretch& stretch);
void texcalpars(const texcaltyp* calc, TextParameters& parameters);
// The font size in job units.
double texcalSize(const texcaltyp* calc);
// The text's matrix times ppi (a, b, c, d); along a path, the matrix of the
// last character returned (the path's direction there). Not rounded to whole
// units: at a low resolution that would distort the letters of a rotated text.
void texcalbasematppi(const texcaltyp* calc, int ppi, double matrix[4]);
// Whether each character has a matrix of its own (a text along a path);
// otherwise texcalbasematppi gives the same for all of them.
bool texcalAlongPath(const texcaltyp* calc);
// Points from the text's start down to its first baseline: a text box's
// tallest ascent on its first line, else 0.
double texcalFirstBaseline(const texcaltyp* calc);
// Where the last character returned starts on its baseline, in job units.
void GetTextLetterPosition(const texcaltyp* calc, double& v, double& h);
// The rules that the signal just returned (kTextRule or kTextEnd) completed;
// returns their count.
int texcalrul(texcaltyp* calc, TavricCore::FontCache* cache, int code,
              std::vector<TextRulePolygon>& polygons);
void texcalexi(TextCalc& calc);

// The box the laid-out text covers, in job units: its characters' glyph boxes
// and its rules, rounded outwards. Empty for a text that sets nothing (or
// an object that is not a text). A text's own bounds are only a guess made
// before layout: every box of a text that is drawn comes from here.
TavDB::tv_box texcalbounds(jobstr* job, const TavDB::Object* text);

// Whether the object is the job's station-number text.
bool isStationNumberObject(const TavDB::Object* object);
// The paints of a text's runs, each once, in the order of the runs.
std::vector<std::uint16_t> texsca(const TavDB::Object* text);

namespace TavricCore {
// Replaces every paint of a text's runs by what `adjust` makes of it.
void textAdjustPaint(TavDB::Object* text, const std::function<std::uint16_t(std::uint16_t)>& adjust);
}  // namespace TavricCore

// Whether a text can be written as text: every run's font installed and every
// run painted with a flat paint.
bool textCheckPaintAndFont(const jobstr* job, const TavDB::Object* text);

// The text as outlines: a group holding one (compound) path per character
// and one path per rule, each painted with its run's paint; owned by the
// caller. mode is accepted for the kernel's signature.
std::unique_ptr<TavDB::Object> texhivecget(jobstr* job, const TavDB::Object* text, int mode);
// A point of the outlines rounded to the nearest job unit within +-1e9,
// halves away from zero (as std::lround, without its call: every point of
// every outline is rounded).
std::int32_t roundToJobUnits(double v);
