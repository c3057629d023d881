#include "pagewriter/genproof.h"

#include <algorithm>
#include <array>
#include <string>

#include "pagewriter/pathsplit.h"
#include "pagewriter/patternexpand.h"
#include "pagewriter/strokeinfo.h"
#include "platform/downsampler.h"
#include "platform/genoutfil.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

using TavDB::Object;

namespace {

constexpr std::uint32_t kBracketKinds = TavDB::kObjGroup | TavDB::kObjLayer | TavDB::kObjCompound;
constexpr std::uint32_t kTextCarrier = TavDB::kObjTextCarrier | TavDB::kObjTextCarrier2;
// The weight of one path point in the job complexity.
constexpr double kPointWeight = 15;

bool has(const Object* o, std::uint32_t mask) { return (o->flags() & mask) != 0; }

// Closes the brackets an operation opened on every way out of it.
template <class F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(std::move(f)) {}
  ~OnExit() { f_(); }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  F f_;
};

}  // namespace

proofimghan::~proofimghan() = default;
void proofimghan::Begin() {}

// The colour space kept for a paint, and what it was built from.
struct genproof::PaintSpace {
  std::array<std::uint16_t, kMaxSeparations> tints{};
  bool registration = false;
  ColorSpaceInputs inputs;
  std::unique_ptr<ColorSpace> space;
};

genproof::genproof(jobstr* job, int gradationResolution, int writeTraps, int maxPathPoints,
                   int separationMode, bool keepInvisible, std::string_view progressLabel)
    : illtransform(job),
      mJob(job),
      mGradationResolution(gradationResolution),
      mMaxPathPoints(maxPathPoints),
      mKeepInvisible(keepInvisible),
      mSeparationMode(separationMode),
      mWriteTraps(writeTraps),
      mProgress(100, progressLabel) {
  mProgressTotal = JobComplexity(jobGetSpahan(job));
}

genproof::~genproof() = default;

double genproof::JobComplexity(const Object* list) {
  double total = 0;
  if (list == nullptr) return total;
  TavDB::queryseq seq;
  for (Object* child = seq.quebeg(list); child != nullptr; child = seq.next()) {
    if (has(child, kBracketKinds)) {
      total += JobComplexity(child);
    } else if (has(child, TavDB::kObjPath)) {
      total += double(TavDB::patsiz(child)) * kPointWeight;
    }
  }
  return total;
}

// ---- simple defaults --------------------------------------------------------

bool genproof::IsCompositeOutput() { return mComposite != 0; }
bool genproof::SupportsDeviceN() { return false; }

ColorSpace* genproof::GetSeparationColorSpace(const std::uint16_t* tints, std::uint16_t value1,
                                              std::uint16_t value2, bool a, bool b, bool /*c*/,
                                              bool d, bool /*e*/) {
  CsDeviceN::Options options;
  options.forceDeviceN = b;
  options.noTransfer = !a;
  options.maxColorants = static_cast<int>(GetMaxColorants());
  options.allowSeparationCS = d;
  return new CsDeviceN(mJob, tints, value1, value2, options);
}

std::uint64_t genproof::GetMaxColorants() { return 8; }
int genproof::SetLocked(int) { return 0; }
void genproof::SetImageMode(int) {}
bool genproof::UseDownsamplerSmoothing() { return true; }
double genproof::GetImageDownsampleFactor(int, int, double) { return 1.0; }
bool genproof::SupportsSoftMask() { return false; }
std::optional<std::shared_ptr<seppdftyp>> genproof::GetSeparationPdf() { return std::nullopt; }
void genproof::SelectScreening(std::uint16_t) {}
int genproof::WriteRegistrationColor(std::uint16_t, int) { return 0; }
void genproof::WriteColorSpaceColor(ColorSpace*, const std::uint16_t*, int, int) {}
int genproof::OutputPlacedJob(Object*) { return 0; }
int genproof::OutputPlacedPDF(Object*) { return 1; }
bool genproof::CheckCadLayer(Object*) { return false; }
bool genproof::CanStrokeCompoundPaths() { return false; }
void genproof::BeginCompoundPath(Object*, int) {}
void genproof::EndCompoundPath(int) {}
void genproof::BeginGroupMarker() {}
void genproof::EndGroupMarker() {}
void genproof::BeginTrap(Object*, bool, bool) {}
void genproof::EndTrap() {}
bool genproof::BeginObjectName(Object*) { return false; }
void genproof::EndObjectName(bool) {}

void genproof::WriteStrokeOperator(bool closed) { GetOutputStream() << (closed ? "s\n" : "S\n"); }
void genproof::SaveGraphicsState() { GetOutputStream() << "q\n"; }
void genproof::RestoreGraphicsState() { GetOutputStream() << "Q\n"; }

void genproof::WriteStrokeInfo(int strokeType, double, genoutfil& sink) {
  if (mStrokeInfo) mStrokeInfo->writeStrokeInfo(strokeType, sink);
}

bool genproof::IsInvisiblePaint(Object* object, int paint) {
  if (mKeepInvisible) return false;
  const int p = paint < 0 ? object->paint() : paint;
  return TavricLib::PaintIsInvisible(mJob, p, false);
}

bool genproof::IsClippedFill(Object* object) {
  const Paint* paint = paipoi(mJob, object->paint());
  return paint != nullptr && (paint->type == kPaintPicture || paint->type == kPaintMap);
}

// ---- pictures ---------------------------------------------------------------

int genproof::OutputPlacedPicture(Object* object, const Paint* record) {
  const Paint* paint = record;
  if (paint == nullptr) return 0;
  if (paint->singleSeparation != 0 && !picisart(mJob, paint->picture)) {
    TavGen::ShowInfoMessage(TavGen::kBatchError, 1,
                            TavCore::GetLocalizedUni16String(
                                "PDF/SINGLE SEPARATION FOR PLACED PICTURE NOT SUPPORTED"));
    return 1;
  }
  const std::string& type = picgetinfo(mJob, paint->picture);
  if (type.empty()) return 0;
  switch (type.front()) {
    case 'A': OutputPlacedJob(object); return 0;
    case 'E': return OutputPlacedEPS(object);
    case 'J':
    case 'S':
    case 'T': return OutputPlacedPixels(object);
    case 'P': return OutputPlacedPDF(object);
    default: return 0;
  }
}

void genproof::OutputFillContent(Object* object) {
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr) return;
  switch (paint->type) {
    case kPaintPicture: OutputPlacedPicture(object, paint); break;
    case kPaintMap: OutputMap(object); break;
    case kPaintGradation: OutputGradationImage(object); break;
    default: break;
  }
}

// ---- traversal --------------------------------------------------------------

void genproof::OutputGroup(Object* list, bool noSplit, int composite, bool backendFlag) {
  if (mCancelled || list == nullptr) return;
  const std::int32_t savedComposite = mComposite;
  if (composite >= 0) mComposite = composite;

  const std::uint32_t flags = list->flags();
  const bool isCompound = (flags & TavDB::kObjCompound) != 0;
  const bool isGroup = !isCompound && (flags & TavDB::kObjGroup) != 0;
  const bool isLayer = !isCompound && !isGroup && (flags & TavDB::kObjLayer) != 0;

  int count = -1;
  if (isCompound || isGroup) {
    count = 0;
    TavDB::queryseq seq;
    for (Object* c = seq.quebeg(list); c != nullptr; c = seq.next()) {
      if (!has(c, TavDB::kObjExcluded)) ++count;
    }
  }

  bool nameOpened = false;
  if (isCompound) {
    if (NeedsCompoundBracket(list, noSplit)) {
      if (count > 1) BeginCompoundPath(list, 2);
    } else {
      count = 0;
    }
  } else if (isGroup) {
    nameOpened = BeginObjectName(list);
    BeginGroupMarker();
    if (count > 1) BeginGroup();
  } else if (isLayer) {
    if (BeginLayer(static_cast<TavDB::Layer*>(list)) == 1) {
      mComposite = savedComposite;
      return;
    }
  }

  if ((flags & (TavDB::kObjCompound | TavDB::kObjText | TavDB::kObjPath)) == 0) {
    TavDB::queryseq seq;
    for (Object* child = seq.quebeg(list); child != nullptr; child = seq.next()) {
      if (has(child, TavDB::kObjExcluded)) continue;
      const bool locked = has(child, TavDB::kObjLocked) && !has(child, TavDB::kObjLayer);
      if (locked && mLocked == 0) {
        mLocked = 1;
        SetLocked(1);
      } else if (!locked && mLocked == 1) {
        mLocked = 0;
        SetLocked(0);
      }
      OutputObject(child, noSplit, backendFlag);
    }
  } else {
    OutputObject(list, noSplit, backendFlag);
  }

  if (isCompound) {
    if (count > 1) EndCompoundPath(2);
  } else if (isGroup) {
    EndObjectName(nameOpened);
    EndGroupMarker();
    if (count > 1) EndGroup();
  } else if (isLayer) {
    EndLayer();
  }
  mComposite = savedComposite;
}

bool genproof::NeedsCompoundBracket(Object* list, bool noSplit) {
  if (!noSplit) return true;
  return paifla(mJob, list->paint()) > 0 || !IsInvisiblePaint(list, -1);
}

void genproof::OutputObject(Object* object, bool noSplit, bool backendFlag) {
  if (object == nullptr) return;
  const std::uint32_t flags = object->flags();

  bool trapOpened = false;
  if ((flags & TavDB::kObjTrap) != 0 && !mInsideTrap) {
    mInsideTrap = true;
    trapOpened = true;
    BeginTrap(object, noSplit, backendFlag);
  }
  OnExit closeTrap([&] {
    if (trapOpened) {
      EndTrap();
      mInsideTrap = false;
    }
  });

  // Texts: a carrier writes the texts inside it; a text writes itself.
  if ((flags & kTextCarrier) != 0) {
    TavDB::ListScan scan;
    scan.ini(object, TavDB::kObjText, TavDB::kObjExcluded);
    for (Object* text = scan.next(); text != nullptr; text = scan.next()) OutputText(text);
    return;
  }
  const bool isShape = (flags & (TavDB::kObjPath | TavDB::kObjCompound)) != 0;
  if (!isShape) {
    if ((flags & TavDB::kObjText) != 0) {
      OutputText(object);
    } else if ((flags & TavDB::kObjList) != 0) {
      OutputGroup(object, noSplit, mComposite, backendFlag);
    }
    return;
  }

  // An open path is drawn with the "no fill" paint. The host's object keeps
  // its paint: the change is made on the walker's own copy.
  std::unique_ptr<Object> openCopy;
  Object* shape = object;
  if ((flags & TavDB::kObjOpenPath) == 0) {
    SelectScreening(object->paint());
  } else if ((flags & TavDB::kObjPath) != 0 && object->paint() != kPaintNoFill) {
    openCopy = TavDB::objdup(object);
    if (!openCopy) return;
    openCopy->setPaint(kPaintNoFill, false);
    shape = openCopy.get();
  }

  // A path within the point limit in a flat paint is written as it stands:
  // only a split, or a paint whose writing changes the object, needs a copy.
  const auto withinLimit = [&] {
    if (mMaxPathPoints < 0) return true;
    const std::size_t points =
        shape->members().empty() ? shape->points().size() : TavDB::pointcount(shape);
    return points <= std::size_t(mMaxPathPoints);
  };
  if (!noSplit && WriterShortcuts() && paifla(mJob, shape->paint()) <= 0 && !IsClippedFill(shape) &&
      withinLimit()) {
    OutputFill(shape);
  } else if (!noSplit) {
    std::unique_ptr<Object> copy;
    const bool split = SplitLongPath(shape, mMaxPathPoints, copy);
    if (copy) {
      if (split) {
        mSplitSource = object;
        OutputGroup(copy.get(), true, mComposite, backendFlag);
        mSplitSource = nullptr;
      } else {
        OutputFill(copy.get());
      }
    }
  } else {
    OutputFill(shape);
  }

  // The object's own stroke lies on top of its fill.
  if (!mCancelled) {
    const bool made = !mStrokeInfo;
    if (made) mStrokeInfo = std::make_unique<strokeinfo_t>(object);
    if (!OutputStrokeAsStroke(object) && !OutputStrokeAsOutline()) OutputPatternStroke();
    if (made) mStrokeInfo.reset();
  }
}

bool genproof::OutputStrokeAsStroke(Object* /*object*/) {
  if (!mStrokeInfo) return false;
  const strokeinfo_t& stroke = *mStrokeInfo;
  const Object* generator = stroke.getGenerator();
  if (stroke.value() <= 0 || generator == nullptr) return false;
  const std::uint16_t paint = stroke.paint();
  if (paifla(mJob, paint) > 0) return false;
  if (IsInvisiblePaint(const_cast<Object*>(generator), paint)) return false;
  if (mComposite != 0 && paiistra(mJob, paint) && !generator->isOpenPath()) return false;
  if (!stroke.canOuputAsStroke()) return false;

  std::unique_ptr<Object> copy = TavDB::objdup(generator);
  if (!copy) return false;
  if (!CanStrokeCompoundPaths() && has(copy.get(), TavDB::kObjCompound)) {
    int open = 0;
    for (const auto& child : copy->members()) open += child->isOpenPath() ? 1 : 0;
    if (open > 1) return false;
  }
  copy->setPaint(paint, false);

  // A stroke longer than the maximum is cut into runs that join end to end;
  // one that cannot be cut is drawn whole.
  std::unique_ptr<Object> pieces;
  if (mMaxPathPoints >= 0 && TavDB::pointcount(copy.get()) > std::size_t(mMaxPathPoints)) {
    pieces = TavSetop::CSplCallBack::SplitOutline(copy.get(), mMaxPathPoints);
    if (!pieces) WarnPathNotSplit(copy.get());
  }

  SelectScreening(paint);
  WriteStrokeInfo(mStrokeType, stroke.value(), GetOutputStream());
  bool drawn = false;
  for (int pass = WritePaintColor(paint, 0); pass >= 0; pass = WritePaintColor(paint, pass)) {
    if (pieces) {
      for (const auto& piece : pieces->members()) OutputShape(piece.get(), kModeStrokeOutline);
    } else {
      OutputShape(copy.get(), kModeStrokeOutline);
    }
    drawn = true;
    if (mCancelled) break;
  }
  return drawn;
}

// A stroke lying inside or outside the outline cannot be drawn with the stroke
// operators, which centre the line on the path: the area it covers is built
// as an outline of its own and filled in the stroke's paint, in every colour
// pass, while the stroke description is current (so that the fill is not
// taken for the object's own).
bool genproof::OutputStrokeAsOutline() {
  if (!mStrokeInfo) return false;
  const strokeinfo_t& stroke = *mStrokeInfo;
  const Object* generator = stroke.getGenerator();
  if (stroke.value() <= 0 || generator == nullptr || stroke.isSymmetricStroke()) return false;
  const std::uint16_t paint = stroke.paint();
  if (paifla(mJob, paint) > 0) return false;  // the pattern road
  if (has(generator, TavDB::kObjTrap) && mWriteTraps == 0) return true;
  if (IsInvisiblePaint(const_cast<Object*>(generator), paint)) return true;

  std::unique_ptr<Object> outline = MakeStrokeOutline(generator);
  if (!outline) return true;  // the stroke covers nothing
  std::unique_ptr<Object> copy;
  const bool split = SplitLongPath(outline.get(), mMaxPathPoints, copy);
  if (!copy) return true;
  SelectScreening(paint);
  for (int pass = WritePaintColor(paint, 0); pass >= 0; pass = WritePaintColor(paint, pass)) {
    if (split) {
      for (const auto& piece : copy->members()) OutputShape(piece.get(), kModeFlatFill);
    } else {
      OutputShape(copy.get(), kModeFlatFill);
    }
    if (mCancelled) break;
  }
  return true;
}

std::unique_ptr<Object> genproof::MakeStrokeOutline(const Object* generator) {
  try {
    return TavricGeo::StrokeOutline(generator);
  } catch (const std::length_error& e) {
    const std::string name = generator->name().empty() ? "(unnamed)" : generator->name();
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/STROKE OUTLINE NOT MADE", e.what())
        .with("__OBJECTNAME__", name)
        .with("__REASON__", e.what());
  }
}

// A stroke whose paint takes the pattern road (a gradient or a pattern)
// cannot be written with the stroke operators. Rather than lose it, it goes to
// the backend's pattern fill on a copy of its path in the stroke's paint,
// while the stroke description is current (GetStrokeInfo), so that the
// backend paints the pattern along the stroke or refuses it with a message.
void genproof::OutputPatternStroke() {
  if (!mStrokeInfo) return;
  const strokeinfo_t& stroke = *mStrokeInfo;
  const Object* generator = stroke.getGenerator();
  if (stroke.value() <= 0 || generator == nullptr || paifla(mJob, stroke.paint()) <= 0) return;
  if (has(generator, TavDB::kObjTrap) && mWriteTraps == 0) return;
  if (IsInvisiblePaint(const_cast<Object*>(generator), stroke.paint())) return;
  std::unique_ptr<Object> copy = TavDB::objdup(generator);
  if (!copy) return;
  copy->setPaint(stroke.paint(), false);
  const bool opened = BeginObjectName(copy.get());
  OutputPatternFill(copy.get());
  EndObjectName(opened);
}

void genproof::OutputExpandedPattern(Object* object) {
  if (object == nullptr) return;
  std::unique_ptr<Object> group = TavDB::gronew();
  std::unique_ptr<Object> copy = TavDB::objdup(object);
  if (!copy) return;
  group->addontop(std::move(copy));
  TavricLib::ExpandPattern(mJob, group.get());
  OutputGroup(group.get(), false, -1, false);
}

void genproof::OutputFill(Object* object) {
  if (IsClippedFill(object)) {
    OutputClippedFill(object);
  } else if (paifla(mJob, object->paint()) > 0) {
    if (has(object, TavDB::kObjTrap) && mWriteTraps == 0) return;
    const bool opened = BeginObjectName(object);
    OutputPatternFill(object);
    EndObjectName(opened);
  } else {
    OutputFlatFill(object);
  }
}

void genproof::OutputFlatFill(Object* object) {
  if (has(object, TavDB::kObjTrap) && mWriteTraps == 0) return;
  if (IsInvisiblePaint(object, -1) && !CheckCadLayer(object)) return;
  const bool opened = BeginObjectName(object);
  const std::uint16_t paint = object->paint();
  for (int pass = WritePaintColor(paint, 0); pass >= 0; pass = WritePaintColor(paint, pass)) {
    OutputShape(object, kModeFlatFill);
    if (mCancelled) break;
  }
  EndObjectName(opened);
}

// Pictures and maps are drawn inside the object's outline, cut to the frame
// a raster picture or map covers.
std::unique_ptr<Object> IntersectWithImageBoundingBox(const jobstr* job, const Object* object, bool& outside) {
  outside = false;
  const Paint* paint = object != nullptr ? paipoi(job, object->paint()) : nullptr;
  const bool raster = paint != nullptr && ((paint->type == kPaintPicture && !picisvectorformat(job, paint->picture)) ||
                                           paint->type == kPaintMap);
  if (!raster) return nullptr;
  // The frame: the first pixel's corner, the ends of the first row and of
  // the first column, and the corner opposite the first.
  const TavDB::tv_point o = paint->placeOrigin, w = paint->placeWidthCorner, h = paint->placeHeightCorner;
  const std::vector<std::pair<double, double>> frame = {
      {o.v, o.h}, {w.v, w.h}, {double(w.v) + h.v - o.v, double(w.h) + h.h - o.h}, {h.v, h.h}};
  const double area = (double(w.h) - o.h) * (double(h.v) - o.v) - (double(w.v) - o.v) * (double(h.h) - o.h);
  if (area == 0) return nullptr;
  std::unique_ptr<Object> part = TavricGeo::Intersect(object, frame);
  if (!part) {
    outside = true;
    return nullptr;
  }
  return part;
}

void genproof::OutputClippedFill(Object* object) {
  if (has(object, TavDB::kObjTrap) && mWriteTraps == 0) return;
  if (IsInvisiblePaint(object, -1)) return;
  bool outside = false;
  const std::unique_ptr<Object> clip = IntersectWithImageBoundingBox(mJob, object, outside);
  if (outside) return;
  Object* shape = clip ? clip.get() : object;
  const bool opened = BeginObjectName(object);
  SaveGraphicsState();
  OutputShape(shape, kModeClipOutline);
  OutputFillContent(shape);
  RestoreGraphicsState();
  EndObjectName(opened);
}

void genproof::OutputShape(Object* object, int mode) {
  if (object == nullptr) return;
  if (has(object, TavDB::kObjCompound)) {
    OutputCompoundPath(object, mode);
  } else {
    OutputPath(object, 0, mode, &mProgressCount, mProgressTotal);
  }
  // A stroke is painted here so that no path is left without a painting operator.
  if ((mode & kModeStroke) != 0) {
    bool closed = !has(object, TavDB::kObjOpenPath);
    if (has(object, TavDB::kObjCompound) && object->memberCount() > 0) {
      closed = !object->member(0)->isOpenPath();
    }
    WriteStrokeOperator(closed);
  }
}

void genproof::OutputCompoundPath(Object* compound, int mode) {
  Object* held = nullptr;
  bool bracket = false;
  TavDB::queryseq seq;
  for (Object* sub = seq.quebeg(compound); sub != nullptr; sub = seq.next()) {
    if (held == nullptr && !bracket) {
      held = sub;
      continue;
    }
    if (!bracket) {
      BeginCompoundPath(compound, 2);
      bracket = true;
      OutputPath(held, 0, mode, &mProgressCount, mProgressTotal);
      held = nullptr;
    }
    OutputPath(sub, 0, mode, &mProgressCount, mProgressTotal);
  }
  if (held != nullptr) OutputPath(held, 0, mode, &mProgressCount, mProgressTotal);
  if (bracket) EndCompoundPath(mode);
}

void genproof::OutputPath(const Object* path, int scanMode, int mode, double* progressCount,
                          double progressTotal) {
  if (path == nullptr) return;
  genoutfil& out = GetOutputStream();
  TavDB::scan scan;
  scan.scabeg(path, scanMode, -1);
  std::int32_t v, h, c1v, c1h, c2v, c2h;
  bool curve = false;
  int points = 0;
  std::int32_t lastV = 0, lastH = 0;
  double x, y;
  // Each segment's operands, operator and line end go out in one piece.
  const std::string curveTail = std::string(mOps.curve != nullptr ? mOps.curve : "") + "\n";
  const std::string lineTail = std::string(mOps.line != nullptr ? mOps.line : "") + "\n";
  while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
    if (points == 0) {
      TransformPoint(v, h, x, y);
      out.PutNumbers({x, y}, "m\n");
    } else if (curve) {
      double x1, y1, x2, y2;
      TransformPoint(c1v, c1h, x1, y1);
      TransformPoint(c2v, c2h, x2, y2);
      TransformPoint(v, h, x, y);
      out.PutNumbers({x1, y1, x2, y2, x, y}, curveTail);
    } else {
      if (v == lastV && h == lastH) continue;
      TransformPoint(v, h, x, y);
      out.PutNumbers({x, y}, lineTail);
    }
    lastV = v;
    lastH = h;
    ++points;
  }
  scan.scaend();
  if (points == 0) return;
  if (points == 1) out.PutNumbers({x, y}, lineTail);

  const bool open = path->isOpenPath();
  if ((mode & kModeClose) != 0 && !open) out << mOps.close;
  if ((mode & kModeClip) != 0) out << mOps.clip;
  if ((mode & (kModeFill | kModeNoPaint)) != 0) {
    if (!(mStrokeInfo && mStrokeInfo->strokeCanBeProcessed(mStrokeType))) {
      out << (((mode & kModeNoPaint) == 0 && !open) ? mOps.fill : mOps.noPaint);
    }
  }

  double count = mProgressCount;
  if (progressCount != nullptr) {
    *progressCount += double(TavDB::patsiz(path)) * kPointWeight;
    count = *progressCount;
  }
  ReportProgress(count, progressTotal);
}

void genproof::ReportProgress(double count, double total) {
  // A job without paths has no complexity: report nothing rather than divide by 0.
  if (total > 0) {
    double percent = count * 100.0 / total;
    if (percent > 100) percent = 100;
    mProgress.set(static_cast<float>(percent));
  }
  if (TavSys::Progress::isCanceled()) SetCancelled();
}

bool genproof::SplitLongPath(const Object* path, int maxPoints, std::unique_ptr<Object>& copy) {
  copy.reset();
  const std::size_t points = TavDB::pointcount(path);
  if (maxPoints < 0 || points <= std::size_t(maxPoints)) {
    copy = TavDB::objdupall(path);
    return false;
  }
  // The pieces keep the source's paint; the source itself is not touched.
  std::unique_ptr<Object> pieces = TavSetop::CSplCallBack::StartSplit(path, maxPoints);
  if (!pieces) {
    // Nothing is left out: the path is written as it is.
    WarnPathNotSplit(path);
    copy = TavDB::objdupall(path);
    return false;
  }
  if (has(path, TavDB::kObjTrap)) {
    pieces->setProperties(TavDB::kObjTrap, true);
    for (const auto& piece : pieces->members()) piece->setProperties(TavDB::kObjTrap, true);
  }
  copy = TavDB::gronew();
  TavDB::addontop(copy.get(), std::move(pieces));
  return true;
}

void genproof::WarnPathNotSplit(const Object* path) {
  if (mWarnedNotSplit) return;
  mWarnedNotSplit = true;
  TavGen::message(TavGen::kWarning, 1, "PATH NOT SPLIT",
                  {{"__POINTS__", std::to_string(TavDB::pointcount(path))},
                   {"__MAX__", std::to_string(mMaxPathPoints)}});
}

// ---- colour passes ----------------------------------------------------------

int genproof::GetColorInkFlags(const std::uint8_t* pct) const {
  int flags = 0;
  bool processValue = false;
  const int positions = sepfrejob(mJob);
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(mJob, pos, false);
    if (slot < 0) continue;
    const std::uint8_t v = pct[slot];
    if (v == kPercentUntouched) flags |= 1;
    if (sepiscmyk(mJob, slot) >= 0 && v >= 1 && v <= 254) processValue = true;
  }
  if (!processValue) flags |= 2;
  return flags;
}

namespace {
bool gWriterShortcuts = true;
}  // namespace

void genproof::SetWriterShortcuts(bool on) { gWriterShortcuts = on; }
bool genproof::WriterShortcuts() { return gWriterShortcuts; }

bool genproof::SeparationColorSpaceInputs(ColorSpaceInputs&) const { return false; }

ColorSpace* genproof::PaintColorSpace(std::uint16_t paint, const std::uint16_t* tints, bool registration,
                                      std::unique_ptr<ColorSpace>& unshared) {
  auto build = [&] {
    return GetSeparationColorSpace(tints, 0, kTintFull, false, false, registration, false, true);
  };
  ColorSpaceInputs inputs;
  if (!gWriterShortcuts || !SeparationColorSpaceInputs(inputs)) {
    unshared.reset(build());
    return unshared.get();
  }
  std::unique_ptr<PaintSpace>& kept = mPaintSpaces[paint];
  if (!kept) kept = std::make_unique<PaintSpace>();
  if (kept->space && kept->inputs == inputs && kept->registration == registration &&
      std::equal(kept->tints.begin(), kept->tints.end(), tints)) {
    return kept->space.get();
  }
  kept->space.reset(build());
  std::copy(tints, tints + kMaxSeparations, kept->tints.begin());
  kept->registration = registration;
  kept->inputs = inputs;
  return kept->space.get();
}

int genproof::WritePaintColor(std::uint16_t paint, int pass) {
  if (mSeparationMode == kColorSpaceObjects) {
    const bool registration = TavricLib::PaintIsRegistration(mJob, paint);
    if (registration) {
      const int r = WriteRegistrationColor(paint, pass);
      if (r != 0) return r;
    }
    std::array<std::uint16_t, kMaxSeparations> tints = paisep16(mJob, paint);
    std::unique_ptr<ColorSpace> unshared;
    ColorSpace* cs = PaintColorSpace(paint, tints.data(), registration, unshared);
    if (!cs) return -1;
    const int parts = cs->pdfGetNumParts();
    if (pass >= parts) return -1;
    if (parts < 2) {
      WriteColorSpaceColor(cs, tints.data(), 0, 0);
      return 1;
    }
    std::unique_ptr<ColorSpace> part(cs->pdfGetPart(pass));
    if (!part) return -1;
    WriteColorSpaceColor(part.get(), tints.data(), 0, 0);
    return pass + 1;
  }

  const int positions = sepfrejob(mJob);
  if (pass < 0 || pass >= positions) return -1;
  const std::uint8_t* pct = paisep(mJob, paint);
  if (pct == nullptr) return -1;
  const int inkFlags = GetColorInkFlags(pct);

  bool seenBefore = false;
  bool processCounted = false;
  int found = -1, foundSlot = -1;
  bool foundProcess = false;
  int spotCandidate = -1, processCandidate = -1;
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(mJob, pos, false);
    if (slot < 0) continue;
    const std::uint8_t v = pct[slot];
    const bool process = sepiscmyk(mJob, slot) >= 0;
    const bool inked = v != 0 && (v < kPercentUntouched || mKeepInvisible);
    if (process && inked) {
      // The process inks are drawn together, in the pass of the first one.
      if (processCounted) continue;
      processCounted = true;
    }
    if (inked) {
      if (pos < pass) {
        seenBefore = true;
        continue;
      }
      found = pos;
      foundSlot = slot;
      foundProcess = process;
      break;
    }
    if (v == 0 && pos >= pass) {
      if (process) {
        processCandidate = pos;
      } else if (spotCandidate < 0) {
        spotCandidate = pos;
      }
    }
  }

  auto writeSpot = [&](int slot, std::uint8_t value) {
    std::uint8_t c, m, y, k;
    sepcmyk(mJob, slot, c, m, y, k);
    WriteCMYKOrSeparationColor(c, m, y, k, slot, value);
  };

  if (found >= 0) {
    SetOverprint(pass != 0 ? true : (inkFlags & 1) != 0);
    if (foundProcess) {
      WriteCMYKColor(pct, false);
    } else {
      writeSpot(foundSlot, pct[foundSlot]);
    }
    return found + 1;
  }
  // Nothing inked at or after the pass. A paint that inks nothing at all
  // still knocks out once; later passes never repeat that.
  if (seenBefore || pass != 0) return -1;
  const int candidate = processCandidate >= 0 ? processCandidate : spotCandidate;
  if (candidate < 0) return -1;
  SetOverprint((inkFlags & 1) != 0);
  if (processCandidate >= 0) {
    WriteCMYKColor(pct, false);
  } else {
    const int slot = sepsoruse(mJob, candidate, false);
    writeSpot(slot, pct[slot]);
  }
  return candidate + 1;
}

void genproof::WriteCMYKColor(const std::uint8_t* pct, bool withOverprint) {
  std::uint8_t cmyk[4] = {0, 0, 0, 0};
  bool overprint = false;
  const int positions = sepfrejob(mJob);
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(mJob, pos, false);
    if (slot < 0) continue;
    const int k = sepiscmyk(mJob, slot);
    if (k < 0) continue;
    const std::uint8_t v = pct[slot];
    if (v > 254) {
      overprint = true;  // untouched: the ink below shows through
    } else {
      cmyk[k] = v;
    }
  }
  if (withOverprint) SetOverprint(overprint);
  WriteCMYKOrSeparationColor(cmyk[0], cmyk[1], cmyk[2], cmyk[3], -1, 0);
}

void genproof::WriteSpotColor(const std::uint8_t* pct) {
  const int positions = sepfrejob(mJob);
  for (int pos = 0; pos < positions; ++pos) {
    const int slot = sepsoruse(mJob, pos, false);
    if (slot < 0 || sepiscmyk(mJob, slot) >= 0) continue;
    const std::uint8_t v = pct[slot];
    if (v >= 1 && v <= 254) {
      std::uint8_t c, m, y, k;
      sepcmyk(mJob, slot, c, m, y, k);
      WriteCMYKOrSeparationColor(c, m, y, k, slot, v);
      return;
    }
  }
  WriteCMYKOrSeparationColor(0, 0, 0, 0, -1, 0);
}

void genproof::WriteColor(int colour, bool withOverprint) {
  const std::uint8_t* pct = colsep(mJob, colour);
  if (pct == nullptr) return;
  const int flags = GetColorInkFlags(pct);
  if (withOverprint) SetOverprint((flags & 1) != 0);
  if ((flags & 2) != 0) {
    WriteSpotColor(pct);
  } else {
    WriteCMYKColor(pct, false);
  }
}
