#include "illustrator/illustrator32.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "illustrator/ai_paths.h"
#include "illustrator/ai_text.h"
#include "pagewriter/pathsplit.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/system.h"

namespace TavIllu {

namespace {

using TavDB::Object;

constexpr std::uint32_t kSkipped =
    TavDB::kObjTextCarrier | TavDB::kObjTextCarrier2 | TavDB::kObjExcluded;
constexpr std::uint32_t kSkippedChild = TavDB::kObjHidden | TavDB::kObjTextCarrier2 |
                                        TavDB::kObjExcluded | TavDB::kObjText | TavDB::kObjList;

// Every separation slot of the job's order, disabled ones included: the file
// describes the artwork, not one output.
std::vector<int> slotsInOrder(const jobstr* job) {
  std::vector<int> slots;
  const int positions = sepfrejob(job);
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(job, pos, true);
    if (slot >= 0) slots.push_back(slot);
  }
  return slots;
}

bool isSpot(const jobstr* job, int slot) { return sepiscmyk(job, slot) < 0; }

class Writer {
 public:
  Writer(const jobstr* job, bool traps, std::string& out) : job_(job), traps_(traps), out_(out) {
    // The left and bottom edges of the media box are the file's origin; a job
    // without one uses the edges of its artwork.
    TavSys::tv_rectangle media;
    if (getboxconst(job, kMediaBox, media)) {
      left_ = media.left;
      bottom_ = media.bottom;
    } else {
      const TavDB::tv_box all = TavDB::measureall(jobGetSpahan(job));
      left_ = all.left;
      bottom_ = all.bottom;
    }
    unit_ = 72.0 / TavDB::getppi(job);
  }

  int write(std::string_view title) {
    header(title);
    objects();
    line("%%Trailer");
    line("%%EOF");
    return result_;
  }

  const std::vector<std::string>& leftOut() const { return leftOut_; }

 private:
  // x = (a·dx + c·dy + e)·72/ppi, y = (b·dx + d·dy + f)·72/ppi; the
  // transformation is the identity for every export.
  double toX(std::int32_t v, std::int32_t h) const {
    const double dx = double(h) - left_, dy = bottom_ - double(v);
    return (a_ * dx + c_ * dy + e_) * unit_;
  }
  double toY(std::int32_t v, std::int32_t h) const {
    const double dx = double(h) - left_, dy = bottom_ - double(v);
    return (b_ * dx + d_ * dy + f_) * unit_;
  }

  void line(std::string_view text) {
    out_.append(text);
    out_.push_back('\n');
  }

  void header(std::string_view title) {
    line("%!PS-Adobe-3.0");
    line("%%Creator: Adobe Illustrator(TM) 3.2");
    line("%%Title: " + commentText(title));
    boundingBox();
    line("%%DocumentProcessColors: Cyan Magenta Yellow Black");
    customColours();
    line("%%EndComments");
    line("%%BeginProlog");
    line("%%EndProlog");
    line("%%BeginSetup");
    line("%%EndSetup");
    line("0 A");
  }

  void boundingBox() {
    int llx = 0, lly = 0, urx = 0, ury = 0;
    const Object* tree = jobGetSpahan(job_);
    TavDB::ListScan scan;
    scan.ini(tree, TavDB::kObjPath | TavDB::kObjCompound | TavDB::kObjText, TavDB::kObjExcluded);
    // A job without artwork has no box: 0 0 0 0 rather than one made up.
    if (scan.next() != nullptr) {
      const TavDB::tv_box box = TavDB::measureall(tree);
      const double x0 = toX(box.bottom, box.left), x1 = toX(box.top, box.right);
      const double y0 = toY(box.bottom, box.left), y1 = toY(box.top, box.right);
      llx = TavSys::iround(std::min(x0, x1) - 0.5);
      lly = TavSys::iround(std::min(y0, y1) - 0.5);
      urx = TavSys::iround(std::max(x0, x1) + 0.5);
      ury = TavSys::iround(std::max(y0, y1) + 0.5);
    }
    line("%%BoundingBox: " + std::to_string(llx) + " " + std::to_string(lly) + " " +
         std::to_string(urx) + " " + std::to_string(ury));
  }

  void customColours() {
    const std::vector<int> spots = CustomColourSlots(job_);
    if (spots.empty()) return;
    const std::string first = "%%DocumentCustomColors: ";
    for (std::size_t i = 0; i < spots.size(); ++i) {
      std::string l = i == 0 ? first : padded(first.size());
      l += "(" + escapePostScriptString(sepnampoi(job_, spots[i])) + ")";
      line(l);
    }
    const std::string cmykFirst = "%%CMYKCustomColor: ";
    for (std::size_t i = 0; i < spots.size(); ++i) {
      std::string l = i == 0 ? cmykFirst : padded(cmykFirst.size());
      appendSpotEquivalent(l, spots[i]);
      line(l);
    }
  }

  static std::string padded(std::size_t width) {
    std::string s = "%%+";
    s.append(width - s.size(), ' ');
    return s;
  }

  // "c m y k (name)": the ink's CMYK equivalent at 100 %.
  void appendSpotEquivalent(std::string& l, int slot) const {
    std::uint8_t cmyk[4];
    sepcmyk(job_, slot, cmyk[0], cmyk[1], cmyk[2], cmyk[3]);
    for (std::uint8_t v : cmyk) {
      appendFixed(l, v / 100.0, 2);
      l.push_back(' ');
    }
    l += "(" + escapePostScriptString(sepnampoi(job_, slot)) + ")";
  }

  void objects() {
    TavDB::ListScan scan;
    scan.ini(jobGetSpahan(job_), TavDB::kObjCompound | TavDB::kObjPath, TavDB::kObjExcluded);
    for (Object* o = scan.next(); o != nullptr; o = scan.next()) {
      const std::uint32_t flags = o->flags();
      if ((flags & kSkipped) != 0) continue;
      if ((flags & TavDB::kObjTrap) != 0 && !traps_) continue;
      const Painting painting = paintingOf(o);
      if ((flags & TavDB::kObjList) != 0) {
        compound(o, painting);
      } else if ((flags & TavDB::kObjText) == 0) {
        path(o, painting, 0);
      }
      if (painting.strokeArea) strokeArea(*painting.strokeArea, painting.strokeColour);
    }
    // The file holds paths only: texts are said to be left out (the
    // station number is the workflow's to fill in, as in the other modes).
    TavDB::ListScan texts(jobGetSpahan(job_), TavDB::kObjText, TavDB::kObjExcluded);
    for (const Object* t = texts.next(); t != nullptr; t = texts.next()) {
      if (!isStationNumberObject(t)) {
        leaveOut("texts (an Illustrator 3.2 file holds paths only)");
        break;
      }
    }
  }

  // What a path or compound path paints: its fill (a flat colour; a
  // gradient in its start colour) and its stroke. A centred stroke in a flat
  // colour is the file's own stroke; one lying inside or outside the outline
  // is the area it covers, filled in the stroke's colour after the path.
  struct Painting {
    std::optional<std::uint16_t> fill;
    std::optional<std::uint16_t> stroke;
    const TavDB::Stroke* style = nullptr;
    std::unique_ptr<Object> strokeArea;
    std::uint16_t strokeColour = 0;
  };

  Painting paintingOf(const Object* o) {
    Painting p;
    // An open path is never filled: its paint is only named, as the colour
    // the path would have.
    p.fill = fillColour(o->paint(), !o->isList() && o->isOpenPath());
    const TavDB::Stroke* s = o->stroke();
    if (s == nullptr || !(s->width > 0)) return p;
    const Paint* record = paipoi(job_, s->paint);
    if (record == nullptr || TavricLib::PaintIsInvisible(job_, s->paint, true)) return p;
    if (paintHasTransparency(job_, s->paint)) leaveOut(kTransparency);
    if (record->type != kPaintFlat) {
      leaveOut("strokes painted with a gradient, a pattern or a picture");
      return p;
    }
    if (s->position == TavDB::Stroke::kCentre) {
      p.stroke = record->colour;
      p.style = s;
      return p;
    }
    try {
      p.strokeArea = TavricGeo::StrokeOutline(o);
    } catch (const std::length_error&) {
      p.strokeArea.reset();
    }
    if (p.strokeArea) {
      p.strokeColour = record->colour;
    } else {
      leaveOut("strokes whose outline could not be made");
    }
    return p;
  }

  // The colour a paint fills with, none when it paints nothing the file can
  // hold (the "no fill" paint, pictures, maps and patterns).
  std::optional<std::uint16_t> fillColour(std::uint16_t paint, bool open) {
    const Paint* record = paipoi(job_, paint);
    if (record == nullptr || TavricLib::PaintIsInvisible(job_, paint, true)) return std::nullopt;
    if (open) return record->type == kPaintFlat ? std::optional<std::uint16_t>(record->colour) : std::nullopt;
    if (paintHasTransparency(job_, paint)) leaveOut(kTransparency);
    switch (record->type) {
      case kPaintFlat:
        return record->colour;
      case kPaintLinear:
      case kPaintRadial:
        leaveOut(kGradients);
        return record->colour;
      case kPaintGradation:
        leaveOut(kGradients);
        if (record->steps.empty()) return std::nullopt;
        return record->steps.front().colour;
      case kPaintPicture:
        leaveOut("placed pictures and one-ups (their outlines are kept unpainted)");
        return std::nullopt;
      case kPaintMap:
        leaveOut("picture maps (their outlines are kept unpainted)");
        return std::nullopt;
      case kPaintPattern:
        leaveOut("pattern fills (their outlines are kept unpainted)");
        return std::nullopt;
    }
    return std::nullopt;
  }

  void leaveOut(std::string_view what) {
    if (std::find(leftOut_.begin(), leftOut_.end(), what) == leftOut_.end()) leftOut_.emplace_back(what);
  }

  void compound(const Object* c, const Painting& painting) {
    line("*u");
    std::vector<const Object*> children;
    for (const auto& child : c->members()) {
      if ((child->flags() & kSkippedChild) == 0) children.push_back(child.get());
    }
    const std::vector<int> directions = SubPathDirections(children);
    for (std::size_t i = 0; i < children.size(); ++i) path(children[i], painting, directions[i]);
    // A compound must hold a path; one whose children were all skipped gets
    // an empty one.
    if (children.empty()) {
      line("u");
      line("0.0 0.0 m");
      line("F");
      line("U");
    }
    line("*U");
  }

  // An inside or outside stroke: the area it covers, filled (even-odd) in
  // the stroke's colour.
  void strokeArea(const Object& area, std::uint16_t colour) {
    Painting painting;
    painting.fill = colour;
    if (area.isList()) {
      compound(&area, painting);
    } else {
      path(&area, painting, 0);
    }
  }

  void point(double x, double y) {
    appendFixed(out_, x, 5, 12);
    out_.push_back(' ');
    appendFixed(out_, y, 5, 12);
  }

  void path(const Object* p, const Painting& painting, int direction) {
    const bool open = p->isOpenPath();
    if (painting.fill) colour(*painting.fill, false);
    if (painting.stroke) {
      colour(*painting.stroke, true);
      strokeStyle(*painting.style);
    }
    int count = 0;
    line("u");
    TavDB::scan scan;
    scan.scabeg(p, direction, -1);
    std::int32_t v, h, c1v, c1h, c2v, c2h;
    bool curve = false;
    while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
      if (count == 0) {
        point(toX(v, h), toY(v, h));
        line(" m");
      } else if (curve) {
        point(toX(c1v, c1h), toY(c1v, c1h));
        out_.push_back(' ');
        point(toX(c2v, c2h), toY(c2v, c2h));
        out_.push_back(' ');
        point(toX(v, h), toY(v, h));
        line(" C");
      } else {
        point(toX(v, h), toY(v, h));
        line(" L");
      }
      ++count;
    }
    scan.scaend();
    // An open path is never filled. A closed one is filled ("F"), closed and
    // stroked ("s") or both ("b"); one that paints nothing stays a path.
    if (open) {
      line(painting.stroke ? "S" : "N");
    } else if (painting.fill) {
      line(painting.stroke ? "b" : "F");
    } else {
      line(painting.stroke ? "s" : "N");
    }
    line("U");
    if (count >= kComplexPathPoints) result_ = 1;
  }

  // Line width, join, cap, miter limit and dashes, in points.
  void strokeStyle(const TavDB::Stroke& s) {
    std::string l;
    appendFixed(l, s.width * unit_, 3);
    line(l + " w");
    line(std::to_string(int(s.join)) + " j");
    line(std::to_string(int(s.cap)) + " J");
    l.clear();
    appendFixed(l, std::max(s.miterLimit, 1.0), 3);
    line(l + " M");
    l = "[";
    for (std::size_t i = 0; i < s.dash.size(); ++i) {
      if (i > 0) l.push_back(' ');
      appendFixed(l, s.dash[i] * unit_, 3);
    }
    l += "] ";
    appendFixed(l, s.dashPhase * unit_, 3);
    line(l + " d");
  }

  // A job colour as a fill ("O", "k" or "x") or a stroke colour ("R", "K" or
  // "X"): overprint when a process ink is left untouched; the process share
  // when there is one, else the first spot ink as a custom colour.
  void colour(std::uint16_t index, bool stroke) {
    const std::uint8_t* pct = colsep(job_, index);
    const std::vector<int> slots = slotsInOrder(job_);
    bool overprint = false, process = false;
    int spot = -1, spots = 0;
    if (pct != nullptr) {
      for (int slot : slots) {
        const std::uint8_t v = pct[slot];
        if (!isSpot(job_, slot)) {
          if (v == kPercentUntouched) overprint = true;
          if (v >= 1 && v <= 254) process = true;
        } else if (v >= 1 && v <= 254) {
          if (spot < 0) spot = slot;
          ++spots;
        }
      }
    }
    if ((process && spots > 0) || spots > 1) leaveOut(kMixedInks);
    line(std::string(overprint ? "1 " : "0 ") + (stroke ? "R" : "O"));
    std::string l;
    if (process) {
      // The process share only; an untouched ink (255) adds nothing.
      std::array<std::uint8_t, kMaxSeparations> mix{};
      for (int slot : slots) {
        if (!isSpot(job_, slot) && pct[slot] != kPercentUntouched) mix[slot] = pct[slot];
      }
      double cmyk[4];
      sepcmyk(job_, mix.data(), cmyk[0], cmyk[1], cmyk[2], cmyk[3]);
      for (double v : cmyk) {
        appendFixed(l, std::clamp(v, 0.0, 100.0) / 100.0, 2);
        l.push_back(' ');
      }
      l += stroke ? "K" : "k";
    } else if (spot >= 0) {
      appendSpotEquivalent(l, spot);
      l.push_back(' ');
      appendFixed(l, 1.0 - pct[spot] / 100.0, 2);
      l += stroke ? " X" : " x";
    } else {
      l = stroke ? "0.0 0.0 0.0 0.0 K" : "0.0 0.0 0.0 0.0 k";
    }
    line(l);
  }

  static constexpr std::string_view kGradients =
      "the colour ramps of gradients (an Illustrator 3.2 file holds flat colours: each is filled with its "
      "start colour)";
  static constexpr std::string_view kMixedInks =
      "the spot inks of colours that mix them with process inks or with other spot inks (an Illustrator 3.2 "
      "colour holds the process inks or one spot ink: the process share, else the first spot ink, is kept)";
  static constexpr std::string_view kTransparency =
      "the transparency of objects (an Illustrator 3.2 file draws them opaque)";

  const jobstr* job_;
  bool traps_;
  std::string& out_;
  double left_ = 0, bottom_ = 0, unit_ = 1;
  double a_ = 1, b_ = 0, c_ = 0, d_ = 1, e_ = 0, f_ = 0;
  int result_ = 0;
  std::vector<std::string> leftOut_;
};

}  // namespace

int WriteIllustrator32(const jobstr* job, std::string_view title, bool traps, std::string& out,
                       std::vector<std::string>* leftOut) {
  Writer writer(job, traps, out);
  const int result = writer.write(title);
  if (leftOut != nullptr) *leftOut = writer.leftOut();
  return result;
}

}  // namespace TavIllu
