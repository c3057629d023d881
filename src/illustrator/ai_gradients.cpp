// Gradients of the Illustrator 5/7 writer: every gradient paint is defined
// once in the set-up ("Tavric Deg n", n the paint index) and a fill refers to
// its definition with the line the colours run along.
#include <algorithm>
#include <cmath>

#include "illustrator/illoutjob.h"
#include "platform/kernel/gradationoutput.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/system.h"

namespace TavIllu {

namespace {

using TavDB::Object;

bool has(const Object* o, std::uint32_t mask) { return (o->flags() & mask) != 0; }

constexpr double kDegreesPerRadian = 180 / 3.14159265;
// Gradients shorter than this (points) have no direction worth the name.
constexpr double kShortestGradient = 0.000001;

// The frame of a gradient fill along the line (x0, y0) to (x1, y1) of length
// len over an object whose box in points is box: the line moved sideways so
// that its bands cover the object, the outer ends of the two caps that
// continue the end colours beyond it, and the bands' width vector (g, h).
struct Frame {
  double x0, y0, x1, y1;
  double mx, my;  // the outer end of the cap before the start
  double ex, ey;  // the outer end of the cap after the end
  double g, h;
  double sx, sy;  // the sideways shift of every point of the line
};

Frame frameOf(double x0, double y0, double x1, double y1, double len, const double box[4]) {
  // box: x and y of the top left and of the bottom right corner.
  const double bx0 = box[0], by0 = box[1], bx1 = box[2], by1 = box[3];
  const double extent = std::max(by0 - by1, bx1 - bx0);
  const double cx = (bx0 + bx1) / 2, cy = (by0 + by1) / 2;
  const double d = extent + 500;
  const double t = ((x0 - cx) * (y1 - y0) - (y0 - cy) * (x1 - x0)) / (len * len) - d / (2 * len);
  Frame f{};
  f.sx = (y0 - y1) * t;
  f.sy = (x1 - x0) * t;
  f.x0 = x0 + f.sx;
  f.y0 = y0 + f.sy;
  f.x1 = x1 + f.sx;
  f.y1 = y1 + f.sy;
  const double dx = f.x1 - f.x0;
  const double dy = f.y1 - f.y0;
  const double u = ((f.y0 - f.y1) * d + (f.x0 - f.x1) * extent) / (2 * len);
  const double w = ((f.y0 - f.y1) * extent + d * dx) / (2 * len);
  f.mx = cx + u;
  f.my = cy + w;
  f.ex = cx - u;
  f.ey = cy - w;
  f.g = (extent + 1000) * dy / len;
  f.h = (f.x0 - f.x1) * (extent + 1000) / len;
  return f;
}

// Whether a colour leaves some ink untouched: such a colour overprints.
bool overprints(const genproof& walker, const jobstr* job, std::uint16_t colour) {
  const std::uint8_t* pct = colsep(job, colour);
  return pct != nullptr && (walker.GetColorInkFlags(pct) & 1) != 0;
}

}  // namespace

illoutjob::GradationAxis illoutjob::AnalyseGradation(const Paint& paint) const {
  GradationAxis axis;
  const std::size_t n = paint.steps.size();
  if (paint.type != kPaintGradation || n < 2) return axis;
  if (paint.gradationForm != Paint::kGradHorizontal && paint.gradationForm != Paint::kGradVertical) return axis;
  for (std::size_t i = 0; i < n; ++i) {
    if (colsep(mJob, paint.steps[i].colour) == nullptr) return axis;
    if (i > 0 && paint.steps[i].position < paint.steps[i - 1].position) return axis;
  }
  // The position along the gradation is linear in the job's coordinates:
  // (gx, gy) is its change per job unit across (h) and down (v). A
  // gradation point (gh, gv) lies at start + (a gh + c gv, b gh + d gv).
  const double a = paint.matrix[0], b = paint.matrix[1], c = paint.matrix[2], d = paint.matrix[3];
  const double det = a * d - b * c;
  if (!std::isfinite(det) || det == 0) return axis;
  double gx, gy;
  if (paint.gradationForm == Paint::kGradHorizontal) {
    gx = d / det;
    gy = -c / det;
  } else {
    gx = -b / det;
    gy = a / det;
  }
  const double g2 = gx * gx + gy * gy;
  if (!std::isfinite(g2) || g2 == 0) return axis;
  // Where a position lies on the line through the start across the colours.
  const double k = scale() * 72.0 / TavDB::getppi(mJob);
  auto at = [&](double position, double& x, double& y) {
    const double h = paint.start.h + gx * position / g2;
    const double v = paint.start.v + gy * position / g2;
    x = (h - originH()) * k;
    y = (originV() - v) * k;
  };
  const double first = paint.steps.front().position, last = paint.steps.back().position;
  at(last, axis.x0, axis.y0);
  at(first, axis.x1, axis.y1);
  const double length = std::hypot(axis.x1 - axis.x0, axis.y1 - axis.y0);
  if (!(length >= kShortestGradient) || !std::isfinite(length)) {
    TavSys::debug("that is a very small gradient");
    return axis;
  }
  axis.ramp.resize(n);
  axis.midpoint.resize(n);
  axis.x.resize(n);
  axis.y.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double p = paint.steps[i].position;
    at(p, axis.x[i], axis.y[i]);
    axis.ramp[i] = 100 - 100 * std::fabs(p - first) / std::fabs(first - last);
    // Where the colours of the step before and of this one mix half and
    // half, as a share of the way between them.
    const double gap = i == 0 ? 0 : p - paint.steps[i - 1].position;
    axis.midpoint[i] =
        gap > 0 ? 100 * std::clamp(double(paint.steps[i - 1].midpoint), 0.0, gap) / gap : 50.0;
  }
  axis.usable = true;
  return axis;
}

void illoutjob::WriteGradientStop(std::uint16_t colour) {
  mColourOperator = nullptr;
  if (colsep(mJob, colour) != nullptr) {
    WriteColor(colour, false);
  } else {
    WriteCMYKOrSeparationColor(0, 0, 0, 0, -1, 0);
  }
  mOut << (mColourOperator != nullptr && mColourOperator[0] == 'x' ? 3 : 1);
}

void illoutjob::WriteGradientDefinitions() {
  for (std::size_t n = 0; n < mJob->paints.size(); ++n) {
    const Paint& paint = mJob->paints[n];
    if (!paint.exists) continue;
    const int index = int(n);
    if (paint.type == kPaintLinear || paint.type == kPaintRadial) {
      mGradientDefinitions.insert(index);
      const bool radial = paint.type == kPaintRadial;
      mOut << "%AI5_BeginGradient: (Tavric Deg " << index << ") \n";
      mOut << "(Tavric Deg " << index << ") " << (radial ? 1 : 0) << "2 Bd\n";
      mOut << "[\n";
      WriteGradientStop(paint.colour2);
      mOut << 50 << (radial ? 0 : 100) << "%_Bs\n";
      WriteGradientStop(paint.colour);
      mOut << 50 << (radial ? 100 : 0) << "%_Bs\n";
      mOut << "BD\n" << "%AI5_EndGradient\n";
    } else if (paint.type == kPaintGradation) {
      const GradationAxis axis = AnalyseGradation(paint);
      if (!axis.usable) continue;
      mGradientDefinitions.insert(index);
      mOut << "%AI5_BeginGradient: (Tavric Deg " << index << ") \n";
      mOut << "(Tavric Deg " << index << ") " << 0 << paint.steps.size() << "Bd\n";
      mOut << "[\n";
      for (std::size_t i = 0; i < paint.steps.size(); ++i) {
        WriteGradientStop(paint.steps[i].colour);
        mOut << axis.midpoint[i] << axis.ramp[i] << "%_Bs\n";
      }
      mOut << "BD\n" << "%AI5_EndGradient\n";
    }
  }
}

// ---- fills ------------------------------------------------------------------------

void illoutjob::OutputPatternFill(Object* object) {
  // A stroke reaches here when its paint is a gradient, a pattern or a
  // picture: Illustrator strokes only in flat colours.
  if (GetStrokeInfo() != nullptr) {
    ReportLeftOut("strokes painted with a gradient, a pattern or a picture");
    return;
  }
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr) return;
  const int index = object->paint();
  ReportTransparency(object->paint());
  switch (paint->type) {
    case kPaintLinear:
    case kPaintRadial:
    case kPaintGradation:
      // A gradient of untouched inks paints nothing.
      if (degisalltra(mJob, *paint)) return;
      if (object->isOpenPath()) {
        OutputPatternShape(object);
      } else if (!HasGradientDefinition(index) && paint->type != kPaintGradation) {
        // A gradient the set-up does not define (a pattern's tile moved it
        // into a paint of its own): version 7.0 draws it as an image
        // (IsClippedFill), version 5.0 can only hold its start colour.
        ReportLeftOut(kGradientRamps);
        OutputFlatFallback(object, paint->colour);
      } else if (paint->type == kPaintLinear) {
        OutputLinearGradient(object, *paint, index);
      } else if (paint->type == kPaintRadial) {
        OutputRadialGradient(object, *paint, index);
      } else {
        OutputGradationFill(object, *paint, index);
      }
      return;
    case kPaintPattern:
      // The objects the pattern's tiles show, cut to the object.
      OutputExpandedPattern(object);
      return;
    case kPaintPicture:
    case kPaintMap:
      TavSys::debug("I can't do this: I have no mask");
      return;
    default:
      return;
  }
}

void illoutjob::OutputPatternShape(Object* object) {
  if (has(object, TavDB::kObjCompound)) {
    OutputCompoundPath(object, kModeFill);
    return;
  }
  if (TavDB::pointcount(object) == 0) return;
  OutputPath(object, 1, 0, &mProgressCount, mProgressTotal);
  mOut << (object->isOpenPath() ? mOps.noPaint : mOps.fill);
}

void illoutjob::OutputFlatFallback(Object* object, std::uint16_t colour) {
  mColourOperator = nullptr;
  WriteColor(colour, true);
  if (mColourOperator == nullptr) return;  // the colour does not exist
  WriteColourOperator();
  OutputShape(object, kModeFlatFill);
}

namespace {

// The object's box in points: x and y of its top left, then of its bottom
// right corner.
void boxInPoints(const illtransform& t, const Object* object, double box[4]) {
  const TavDB::tv_box& b = object->bounds();
  t.TransformPoint(b.top, b.left, box[0], box[1]);
  t.TransformPoint(b.bottom, b.right, box[2], box[3]);
}

}  // namespace

void illoutjob::OutputLinearGradient(Object* object, const Paint& paint, int index) {
  double x0, y0, x1, y1;
  TransformPoint(paint.start.v, paint.start.h, x0, y0);
  TransformPoint(paint.end.v, paint.end.h, x1, y1);
  const double len = std::hypot(x1 - x0, y1 - y0);
  // Without a length the gradient has no direction: its start colour
  // covers everything.
  if (!(len > 0)) {
    OutputFlatFallback(object, paint.colour);
    return;
  }
  SetOverprint(overprints(*this, mJob, paint.colour) || overprints(*this, mJob, paint.colour2));
  double box[4];
  boxInPoints(*this, object, box);
  const Frame f = frameOf(x0, y0, x1, y1, len, box);
  mOut << "Bb\n";
  mOut << "1 (Tavric Deg " << index << ") " << f.x0 << f.y0 << std::atan2(y1 - y0, x1 - x0) * kDegreesPerRadian
       << len << "1 0 0 1 0 0 Bg\n";
  mOut << f.x0 - f.mx << f.y0 - f.my << f.g << f.h << f.mx << f.my << "Bc\n";
  mOut << f.x1 - f.x0 << f.y1 - f.y0 << f.g << f.h << f.x0 << f.y0 << "Bm\n";
  mOut << f.ex - f.x1 << f.ey - f.y1 << f.g << f.h << f.x1 << f.y1 << "Bc\n";
  mOut << "0 BB\n";
  OutputPatternShape(object);
}

void illoutjob::OutputRadialGradient(Object* object, const Paint& paint, int index) {
  double x0, y0, x1, y1;
  TransformPoint(paint.start.v, paint.start.h, x0, y0);
  TransformPoint(paint.end.v, paint.end.h, x1, y1);
  const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  const double radius = std::hypot(x1 - x0, y1 - y0) / 2;
  // A circle without a radius leaves its outer colour everywhere.
  if (!(radius > 0)) {
    OutputFlatFallback(object, paint.colour);
    return;
  }
  SetOverprint(overprints(*this, mJob, paint.colour) || overprints(*this, mJob, paint.colour2));
  mOut << "Bb\n" << "0 0 0 0 Bh\n";
  mOut << "1 (Tavric Deg " << index << ") " << cx << cy << 0 << radius << "1 0 0 1 0 0 " << "Bg\n";
  mOut << 0 << x0 - cx << y0 - cy << 0 << cx << cy << "Bm\n";
  mOut << "0 BB\n";
  OutputPatternShape(object);
}

void illoutjob::OutputGradationFill(Object* object, const Paint& paint, int index) {
  const GradationAxis axis = AnalyseGradation(paint);
  if (!axis.usable) {
    // Version 7.0 draws such a gradation as an image (IsClippedFill); a
    // version 5.0 file can only hold its first colour.
    if (IsVersion7()) {
      TavSys::debug("Can't do this without a masking object");
    } else {
      ReportLeftOut(kGradientRamps);
    }
    if (!paint.steps.empty()) OutputFlatFallback(object, paint.steps.front().colour);
    return;
  }
  bool overprint = false;
  for (const GradationStep& s : paint.steps) overprint = overprint || overprints(*this, mJob, s.colour);
  SetOverprint(overprint);
  const double len = std::hypot(axis.x1 - axis.x0, axis.y1 - axis.y0);
  double box[4];
  boxInPoints(*this, object, box);
  const Frame f = frameOf(axis.x0, axis.y0, axis.x1, axis.y1, len, box);
  mOut << "Bb\n";
  mOut << "1 (Tavric Deg " << index << ") " << f.x0 << f.y0
       << std::atan2(axis.y1 - axis.y0, axis.x1 - axis.x0) * kDegreesPerRadian << len << "1 0 0 1 0 0 Bg\n";
  mOut << f.x0 - f.mx << f.y0 - f.my << f.g << f.h << f.mx << f.my << "Bc\n";
  // One band per step after the first: from the step towards the one before.
  for (std::size_t i = 1; i < paint.steps.size(); ++i) {
    mOut << axis.x[i - 1] - axis.x[i] << axis.y[i - 1] - axis.y[i] << f.g << f.h << axis.x[i] + f.sx
         << axis.y[i] + f.sy << "Bm\n";
  }
  mOut << f.ex - f.x1 << f.ey - f.y1 << f.g << f.h << f.x1 << f.y1 << "Bc\n";
  mOut << "0 BB\n";
  OutputPatternShape(object);
}

}  // namespace TavIllu
