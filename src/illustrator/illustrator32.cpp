#include "illustrator/illustrator32.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "illustrator/ai_paths.h"
#include "illustrator/ai_text.h"
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
      if ((flags & TavDB::kObjList) != 0) {
        compound(o);
      } else if ((flags & TavDB::kObjText) == 0) {
        path(o, o->paint(), 0);
      }
    }
  }

  void compound(const Object* c) {
    line("*u");
    std::vector<const Object*> children;
    for (const auto& child : c->members()) {
      if ((child->flags() & kSkippedChild) == 0) children.push_back(child.get());
    }
    const std::vector<int> directions = SubPathDirections(children);
    for (std::size_t i = 0; i < children.size(); ++i) path(children[i], c->paint(), directions[i]);
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

  void point(double x, double y) {
    appendFixed(out_, x, 5, 12);
    out_.push_back(' ');
    appendFixed(out_, y, 5, 12);
  }

  void path(const Object* p, std::uint16_t paint, int direction) {
    colour(paint);
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
    line(p->isOpenPath() ? "N" : "F");
    line("U");
    if (count >= kComplexPathPoints) result_ = 1;
  }

  void colour(std::uint16_t paint) {
    const Paint* record = paipoi(job_, paint);
    const std::uint8_t* pct = record != nullptr ? colsep(job_, record->colour) : nullptr;
    const std::vector<int> slots = slotsInOrder(job_);
    bool overprint = false, process = false;
    int spot = -1;
    if (pct != nullptr) {
      for (int slot : slots) {
        const std::uint8_t v = pct[slot];
        if (!isSpot(job_, slot)) {
          if (v == kPercentUntouched) overprint = true;
          if (v >= 1 && v <= 254) process = true;
        } else if (spot < 0 && v >= 1 && v <= 254) {
          spot = slot;
        }
      }
    }
    line(overprint ? "1 O" : "0 O");
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
      l += "k";
    } else if (spot >= 0) {
      appendSpotEquivalent(l, spot);
      l.push_back(' ');
      appendFixed(l, 1.0 - pct[spot] / 100.0, 2);
      l += " x";
    } else {
      l = "0.0 0.0 0.0 0.0 k";
    }
    line(l);
  }

  const jobstr* job_;
  bool traps_;
  std::string& out_;
  double left_ = 0, bottom_ = 0, unit_ = 1;
  double a_ = 1, b_ = 0, c_ = 0, d_ = 1, e_ = 0, f_ = 0;
  int result_ = 0;
};

}  // namespace

int WriteIllustrator32(const jobstr* job, std::string_view title, bool traps, std::string& out) {
  Writer writer(job, traps, out);
  return writer.write(title);
}

}  // namespace TavIllu
