// Gradient, clipped and pattern fills of the PDF page writer: linear and
// radial gradients and multistep gradations become smooth shadings, clipped
// fills that need it go through a transparency group, and pattern paints
// become tiling patterns written after the page.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "colour/shading.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/patternexpand.h"
#include "pagewriter/pdfproof.h"
#include "pagewriter/strokeinfo.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/gradation.h"
#include "platform/kernel/job.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

using Tints = std::array<std::uint16_t, kMaxSeparations>;

constexpr double kLnHalf = -0.69314718055994530942;

bool has(const TavDB::Object* o, std::uint32_t mask) { return (o->flags() & mask) != 0; }

std::vector<const unsigned short*> pointersTo(const std::vector<Tints>& tints) {
  std::vector<const unsigned short*> out;
  out.reserve(tints.size());
  for (const Tints& t : tints) out.push_back(t.data());
  return out;
}

}  // namespace

// ---- colour stops of a gradation -------------------------------------------------

double GradationSegmentExponent(std::int64_t length, std::int64_t midpoint) {
  // Two steps at one position: the colour changes at once, the exponent does
  // not matter (and the fraction below would divide by zero).
  if (length <= 0) return 1.0;
  double x = std::trunc(double(midpoint) / double(length) * 10000.0) / 10000.0;
  // A midpoint on a step would need an infinite exponent.
  x = std::clamp(x, 0.0001, 0.9999);
  if (x >= 0.5) return kLnHalf / std::log(x);
  return -(kLnHalf / std::log(1.0 - x));
}

GradationStops BuildGradationStops(const jobstr* job, const Paint& degrade) {
  GradationStops stops;
  const std::vector<GradationStep>& steps = degrade.steps;
  if (steps.empty()) return stops;
  // The axis covers the gradation's extent and every step: a circular one
  // runs from the centre outwards, a linear one may start before `start`.
  const double first = steps.front().position, last = steps.back().position;
  stops.from = degrade.gradationForm == Paint::kGradCircular ? 0.0 : std::min(0.0, first);
  stops.length = std::max(degextent(&degrade), last) - stops.from;
  if (!(stops.length > 0)) return stops;
  auto at = [&](double position) { return std::clamp((position - stops.from) / stops.length, 0.0, 1.0); };

  // Where each colour lies on the axis (0..1), with the exponent of the
  // segment that ends there. Before the first and after the last step their
  // colours continue to the ends of the axis.
  struct Anchor {
    std::uint16_t colour;
    double t;
    double exponent;
  };
  std::vector<Anchor> anchors;
  if (at(first) > 0) anchors.push_back({steps.front().colour, 0.0, 1.0});
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const double exponent =
        k == 0 ? 1.0
               : GradationSegmentExponent(std::int64_t(steps[k].position) - steps[k - 1].position,
                                          steps[k - 1].midpoint);
    anchors.push_back({steps[k].colour, at(steps[k].position), exponent});
  }
  if (at(last) < 1) anchors.push_back({steps.back().colour, 1.0, 1.0});

  for (std::size_t i = 0; i < anchors.size(); ++i) {
    stops.colours.push_back(colsep16(job, anchors[i].colour));
    if (i > 0) stops.exponents.push_back(anchors[i].exponent);
    if (i > 0 && i + 1 < anchors.size()) stops.bounds.push_back(anchors[i].t);
  }
  return stops;
}

// ---- colour spaces of tint vectors -----------------------------------------------

void PDFProof::GetTintVectorColorSpaces(const std::vector<Tints>& tints,
                                        std::unique_ptr<ColorSpace>& united,
                                        std::unique_ptr<ColorSpace>& common) {
  united.reset();
  common.reset();
  if (tints.empty()) return;
  const Tints& first = tints.front();
  const bool inSoftMask = mSoftMaskDepth != 0;

  // Inks at 0 in the first colour stay out of the shading (they are knocked
  // out below it) unless an ink is undefined there, or inks at 0 meet an ink
  // of a disabled separation that the job uses.
  bool undefined = false, zero = false, disabledInUse = false;
  const int positions = sepfrejob(mJob);
  for (int p = 0; p < positions; ++p) {
    const int s = sepsoruse(mJob, p, false);
    if (s >= 0) {
      if (first[s] == kTintUndefined) undefined = true;
      if (first[s] == 0) zero = true;
      continue;
    }
    const int any = sepsoruse(mJob, p, true);
    if (any >= 0 && first[any] != kTintUndefined && sepisused(mJob, any) != 0) disabledInUse = true;
  }
  std::uint16_t low = (!undefined && !(zero && disabledInUse)) ? 1 : 0;
  bool countProcess = true;
  if (mSettings.EnableDotgain != 0 && mSettings.NormalizedOutput == 0) {
    low = 0;
    countProcess = false;
  }

  if (mSettings.SeparatedOutput != 0 && !inSoftMask) {
    // A plate page: the gradient is drawn on it when one of its colours
    // defines the plate's ink (an end that leaves it untouched runs from no
    // ink); when none does, the plate keeps what lies below.
    const Tints* defining = FirstDefiningPlateInk(tints);
    if (defining != nullptr) {
      united.reset(GetSeparationColorSpace(defining->data(), low, kTintFull, countProcess, false,
                                           false, false, false));
    }
    return;
  }
  united.reset(GetSeparationColorSpace(first.data(), low, kTintFull, countProcess, false, false,
                                       false, false));
  common.reset(GetSeparationColorSpace(first.data(), 0, 0, true, false, false, true, false));

  CsDeviceN::Options options;
  options.noTransfer = inSoftMask;
  options.maxColorants = static_cast<int>(GetMaxColorants());
  std::shared_ptr<seppdftyp> data = inSoftMask ? nullptr : mSepData;
  for (std::size_t k = 1; k < tints.size(); ++k) {
    if (united) united->Unite(PDFCsDeviceN(mJob, tints[k].data(), low, kTintFull, options, data));
    if (common) common->Intersect(PDFCsDeviceN(mJob, tints[k].data(), 0, 0, options, data));
  }
  if (!inSoftMask && united) KeepUntouchedInks(tints, *united, common.get());
}

const std::array<std::uint16_t, kMaxSeparations>* PDFProof::FirstDefiningPlateInk(
    const std::vector<Tints>& tints) const {
  const int positions = sepfrejob(mJob);
  for (int p = 0; p < positions; ++p) {
    const int s = sepsoruse(mJob, p, false);
    if (s < 0) continue;
    for (const Tints& t : tints) {
      if (t[s] != kTintUndefined) return &t;
    }
    return nullptr;
  }
  return nullptr;
}

void PDFProof::KeepUntouchedInks(const std::vector<Tints>& tints, ColorSpace& united,
                                 const ColorSpace* common) {
  // An ink that no colour of the gradient defines is left as it is below.
  // Overprint mode 1 spares neither shadings nor images: their process inks
  // at 0 knock out. So such a gradient is drawn in a space that names every
  // ink it touches (an ink one colour leaves untouched runs from 0 there),
  // process inks included, with overprint on. Any other gradient keeps its
  // space.
  const int positions = sepfrejob(mJob);
  std::vector<int> touched;
  bool untouched = false;
  for (int p = 0; p < positions; ++p) {
    const int s = sepsoruse(mJob, p, false);
    if (s < 0) continue;
    const bool defined = std::any_of(tints.begin(), tints.end(),
                                     [s](const Tints& t) { return t[s] != kTintUndefined; });
    if (!defined) {
      untouched = true;
    } else if (common == nullptr || !common->InColorSpace(s)) {
      touched.push_back(s);
    }
  }
  auto* inks = dynamic_cast<CsDeviceN*>(&united);
  if (!untouched || inks == nullptr) return;
  for (int s : touched) inks->SetSeparationUse(s, true);
  inks->NameProcessInksAsColorants(true);
  inks->SetUndefinedTints(true);
  inks->SetOverprint(true);
}

void PDFProof::KnockOutCommonInks(ColorSpace& common, TavDB::Object* object) {
  // The paper colour: the job's colour 0, no ink when the job has none.
  Tints paper = colsep16(mJob, 0);
  if (colsep(mJob, 0) == nullptr) paper.fill(0);
  TavDB::Object* shape = object != nullptr && has(object, TavDB::kObjPath | TavDB::kObjCompound)
                             ? object
                             : nullptr;
  const int parts = common.pdfGetNumParts();
  if (parts >= 2) {
    for (int part = 0; part < parts; ++part) {
      std::unique_ptr<CsMasked> piece(common.pdfGetPart(part));
      if (piece) WriteColorSpaceColor(piece.get(), paper.data(), true, shape);
    }
  } else {
    WriteColorSpaceColor(&common, paper.data(), true, shape);
  }
}

std::unique_ptr<ColorSpace> PDFProof::PrepareShadingColorSpace(const std::vector<Tints>& tints,
                                                               TavDB::Object* object) {
  // Pages of many gradients use few colour pairs: the spaces of each set of
  // stops are made and registered once per writer (and soft-mask depth).
  const bool inSoftMask = mSoftMaskDepth != 0;
  std::size_t hash = inSoftMask ? 1 : 0;
  for (const Tints& t : tints) {
    for (std::uint16_t v : t) hash = hash * 1000003u ^ v;
  }
  const ShadingSpaces* cached = nullptr;
  auto [first, last] = mShadingSpaces.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (it->second.inSoftMask == inSoftMask && it->second.tints == tints) cached = &it->second;
  }
  if (cached == nullptr) {
    ShadingSpaces spaces;
    spaces.inSoftMask = inSoftMask;
    spaces.tints = tints;
    GetTintVectorColorSpaces(tints, spaces.united, spaces.common);
    if (spaces.common && spaces.common->IsEmpty()) spaces.common.reset();
    if (spaces.united && mPending != nullptr) {
      for (int part = 0; part < spaces.united->pdfGetNumParts(); ++part) {
        std::unique_ptr<CsMasked> piece(spaces.united->pdfGetPart(part));
        if (piece) mPending->registerColorSpace(*piece);
      }
    }
    cached = &mShadingSpaces.emplace(hash, std::move(spaces))->second;
  }
  const ShadingSpaces& spaces = *cached;
  if (spaces.common) KnockOutCommonInks(*spaces.common, object);
  return std::unique_ptr<ColorSpace>(spaces.united ? spaces.united->Clone() : nullptr);
}

// ---- fills ---------------------------------------------------------------------------

void PDFProof::PaintShadings(std::vector<std::unique_ptr<PDFShadingType>> shadings) {
  pdfoutfilter& out = Out();
  for (std::unique_ptr<PDFShadingType>& shading : shadings) {
    const auto* space = dynamic_cast<const CsMasked*>(shading->GetColorSpace());
    if (space == nullptr || mPending == nullptr) continue;
    WriteOverprintState(*space, out);
    const std::size_t index = mPending->addShading(std::move(shading));
    PDFName::OutputName(out, ShadingResourceName(index).c_str());
    out << " sh\n";
  }
}

void PDFProof::OutputGradientShading(TavDB::Object* object, const Paint& paint) {
  const std::vector<Tints> tints = {colsep16(mJob, paint.colour), colsep16(mJob, paint.colour2)};
  std::unique_ptr<ColorSpace> space = PrepareShadingColorSpace(tints, object);
  // Nothing to paint: every ink of the gradient is knocked out already.
  if (!space || space->GetSepCount() <= 0) return;
  TavricLib::Coord p0, p1;
  TransformPoint(paint.start.v, paint.start.h, p0.x, p0.y);
  TransformPoint(paint.end.v, paint.end.h, p1.x, p1.y);
  std::vector<std::unique_ptr<PDFShadingType>> shadings;
  for (int part = 0; part < space->pdfGetNumParts(); ++part) {
    std::unique_ptr<CsMasked> piece(space->pdfGetPart(part));
    if (!piece) continue;
    if (paint.type == kPaintLinear) {
      shadings.push_back(std::make_unique<PDFShadingType2>(p0, p1, piece.get(), tints[0].data(),
                                                           tints[1].data()));
    } else {
      // Both circles about the midpoint: the start colour on the outer one,
      // the end colour at the centre.
      const TavricLib::Coord centre{(p0.x + p1.x) / 2, (p0.y + p1.y) / 2};
      const double radius = std::hypot(p1.x - p0.x, p1.y - p0.y) / 2;
      shadings.push_back(std::make_unique<PDFShadingType3>(centre, radius, centre, 0.0, piece.get(),
                                                           tints[0].data(), tints[1].data()));
    }
  }
  PaintShadings(std::move(shadings));
}

void PDFProof::OutputGradationShading(TavDB::Object* object, const Paint& degrade) {
  const GradationStops stops = BuildGradationStops(mJob, degrade);
  std::vector<Tints> colours;
  for (const GradationStep& step : degrade.steps) colours.push_back(colsep16(mJob, step.colour));
  std::unique_ptr<ColorSpace> space = PrepareShadingColorSpace(colours, object);
  if (!space || space->GetSepCount() <= 0 || stops.colours.empty()) return;

  // The shading lies in a unit space: the axis runs from (0, 0) to (1, 0)
  // (horizontal) or (0, -1) (vertical, downwards); a circular one has the
  // outer circle of radius 1 about (0, 0) and its focus inside. One unit is
  // stops.length job units, turned by the paint's matrix about `start`.
  const bool circular = degiscircular(&degrade);
  const bool vertical = degisvertical(&degrade);
  const double l = stops.length;
  std::vector<std::unique_ptr<PDFShadingType>> shadings;
  const std::vector<const unsigned short*> tints = pointersTo(stops.colours);
  for (int part = 0; part < space->pdfGetNumParts(); ++part) {
    std::unique_ptr<CsMasked> piece(space->pdfGetPart(part));
    if (!piece) continue;
    if (circular) {
      const TavricLib::Coord focus{degrade.focus.h / l, -degrade.focus.v / l};
      shadings.push_back(std::make_unique<PDFShadingType3>(focus, 0.0, TavricLib::Coord{}, 1.0,
                                                           piece.get(), tints, stops.bounds,
                                                           stops.exponents));
    } else {
      const TavricLib::Coord end = vertical ? TavricLib::Coord{0, -1} : TavricLib::Coord{1, 0};
      shadings.push_back(std::make_unique<PDFShadingType2>(TavricLib::Coord{}, end, piece.get(),
                                                           tints, stops.bounds, stops.exponents));
    }
  }

  // Where the axis starts: `start`, moved along the axis to its first position.
  const double* m = degrade.matrix;
  const double dv = vertical ? stops.from : 0.0, dh = vertical ? 0.0 : stops.from;
  double x = 0, y = 0;
  TransformPoint(ftisql(degrade.start.v + m[0] * dv + m[1] * dh),
                 ftisql(degrade.start.h + m[2] * dv + m[3] * dh), x, y);
  // A local offset (dv, dh) lies at (m0·dv + m1·dh, m2·dv + m3·dh) in job
  // units; the unit space has x along h and y against v.
  const double k = l * scale() * 72.0 / TavDB::getppi();
  const TavDB::tv_matrixtyp<double> placement{k * m[3], -k * m[1], -k * m[2], k * m[0], x, y};
  WriteMatrix(placement);
  PaintShadings(std::move(shadings));
}

void PDFProof::OutputFillContent(TavDB::Object* object) {
  if (object == nullptr) return;
  const TavDB::tv_box& box = object->bounds();
  if (box.height() <= 0 || box.width() <= 0) return;
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr) return;
  double linkWidth = 0, linkHeight = 0;
  if (mSettings.LinkType == 2 && !mImageLinksSuppressed && ImageLinkPossible(object->paint()) &&
      ImageLinkFormSize(object->paint(), linkWidth, linkHeight)) {
    // The picture goes into a form of its own that the workflow links to its
    // file; a map's inks without a channel are flat fills beside it. (A
    // picture whose file is gone goes the picture's way, which says so.)
    const auto [below, above] = paint->type == kPaintMap ? mapGetFlatPart(mJob, paint->map)
                                                         : std::pair<int, int>{0, 0};
    if (below > 0) OutputMapFlatPart(object, below);
    const std::string name = MakeImageLinkFormName();
    auto record = std::make_unique<PendingStreamVornImageForm>(object);
    record->SetName(name);
    DrawImageLinkForm(name, object);
    AddPendingStream(std::move(record));
    if (above > 0) OutputMapFlatPart(object, above);
    return;
  }
  if (!mInsideOpiForm && IsOpiPicture(object)) {
    const std::string name = MakeOpiFormName();
    auto record = std::make_unique<PendingStreamOpiForm>(object, false);
    record->SetName(name);
    DrawXObject(name);
    AddPendingStream(std::move(record));
    return;
  }
  if (paint->type == kPaintPicture || paint->type == kPaintMap) {
    genproof::OutputFillContent(object);
    return;
  }
  PdfGraphicsState::Instance().ForgetFillColor();
  const bool asImages = mSettings.OutputGradientsAsImages != 0;
  if (paint->type == kPaintLinear || paint->type == kPaintRadial) {
    if (asImages) {
      OutputGradationImage(object);
    } else {
      OutputGradientShading(object, *paint);
    }
    return;
  }
  if (paint->type == kPaintGradation) {
    const bool shaped = degishorizontal(paint) || degisvertical(paint) || degiscircular(paint);
    if (!asImages && shaped && multistepIsConvertibleToShading(mJob, object->paint(), object)) {
      OutputGradationShading(object, *paint);
    } else {
      OutputGradationImage(object);
    }
    return;
  }
  genproof::OutputFillContent(object);
}

bool PDFProof::IsOpiPicture(const TavDB::Object* object) const {
  if (mSettings.LinkType != 1 || object == nullptr) return false;
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr || paint->type != kPaintPicture) return false;
  const std::string& type = picgetinfo(mJob, paint->picture);
  return type == "EPS" || type == "TIFF" || type == "PDF";
}

void PDFProof::OutputClippedFill(TavDB::Object* object) {
  if (object == nullptr) return;
  if (mForcedOutput && PaintIsInvisibleForOutput(mJob, object, -1, false, mTransparencyNesting > 0)) {
    // The shape stays in the output in the "no fill" paint.
    std::unique_ptr<TavDB::Object> copy = TavDB::objdupall(object);
    if (!copy) return;
    copy->setPaint(kPaintNoFill, true);
    OutputFlatFill(copy.get());
    return;
  }
  if (!PaintNeedsTransparency(object, false)) {
    genproof::OutputClippedFill(object);
    return;
  }
  const std::uint16_t paintIndex = object->paint();
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return;
  if (paint->type == kPaintPicture) {
    OutputTransparencyGroup(object, 0);
    return;
  }
  if (paint->type == kPaintLinear || paint->type == kPaintRadial || paint->type == kPaintGradation) {
    // A gradient over several colour-space parts, or one that knocks inks
    // out below itself, is not one transparent shape: it becomes a group.
    std::unique_ptr<ColorSpace> united, common;
    const bool asImages = mSettings.OutputGradientsAsImages != 0;
    const bool convertible =
        paint->type != kPaintGradation || multistepIsConvertibleToShading(mJob, paintIndex, object);
    if (asImages || !convertible) {
      GetGradientColorSpaces(paintIndex, united, common);
    } else if (paint->type != kPaintGradation) {
      GetTintVectorColorSpaces({colsep16(mJob, paint->colour), colsep16(mJob, paint->colour2)},
                               united, common);
    } else if (degishorizontal(paint) || degisvertical(paint) || degiscircular(paint)) {
      std::vector<Tints> colours;
      for (const GradationStep& step : paint->steps) colours.push_back(colsep16(mJob, step.colour));
      GetTintVectorColorSpaces(colours, united, common);
    }
    if ((united && united->pdfGetNumParts() > 1) || (common && !common->IsEmpty())) {
      OutputTransparencyGroup(object, 0);
      return;
    }
  }
  if (paint->transparency.secondOpacity != kSecondOpacityNone) {
    if (paint->type == kPaintMap && maphasopa(mJob, paint->map)) {
      OutputTransparencyGroup(object, 0);
    } else {
      genproof::OutputClippedFill(object);
    }
    return;
  }
  // A transparent map drawn as two images or more, and a transparent image
  // link with flat parts beside it, are one group: the transparency applies
  // to the whole map once.
  if (paint->type == kPaintMap && mPictureCache.CountCachedImages(this, object, paintIndex) >= 2) {
    OutputTransparencyGroup(object, 0);
    return;
  }
  if (paint->type == kPaintMap && mSettings.LinkType == 2 && !mImageLinksSuppressed &&
      ImageLinkPossible(paintIndex) && mapHasFlatParts(mJob, paint->map)) {
    OutputTransparencyGroup(object, 0);
    return;
  }
  genproof::OutputClippedFill(object);
}

// ---- strokes painted with a gradient, a picture or a map ------------------------------

void PDFProof::OutputStrokeAsFilledOutline() {
  const TavDB::Object* generator = mStrokeInfo ? mStrokeInfo->getGenerator() : nullptr;
  if (generator == nullptr) return;
  // The outline carries the stroke's width, position, joins, caps, miter
  // limit and dashes; the paint is laid over it as it lies on the page.
  std::unique_ptr<TavDB::Object> outline = MakeStrokeOutline(generator);
  if (!outline) return;
  std::unique_ptr<TavDB::Object> copy;
  const bool split = SplitLongPath(outline.get(), mMaxPathPoints, copy);
  if (!copy) return;
  // The outline is filled as an object of its own: no stroke is current
  // while it is written (a centre stroke's description would turn its fill
  // into a stroke).
  struct Restore {
    PDFProof* w;
    std::unique_ptr<strokeinfo_t> stroke;
    ~Restore() { w->mStrokeInfo = std::move(stroke); }
  } restore{this, std::move(mStrokeInfo)};
  SelectScreening(outline->paint());
  if (split) {
    for (const auto& piece : copy->members()) OutputFill(piece.get());
  } else {
    OutputFill(copy.get());
  }
}

// ---- pattern fills ----------------------------------------------------------------

bool PDFProof::PatternIsExpanded(std::uint16_t paintIndex) {
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr || paint->type != kPaintPattern) return false;
  if (paint->patternKind != Paint::kPatternTiling) return true;
  // A soft mask's luminosity knows no overprint.
  if (mSoftMaskDepth != 0) return false;
  // A tiling pattern is drawn through a tile that readers render once and
  // then paint in every ink where the cell paints, overprint or not: a cell
  // whose colours leave inks untouched would knock them out. Its tiles are
  // written as objects instead, which leave them as they are.
  // The answer depends on the inks in use, which differ from plate to plate.
  auto [it, added] = mUntouchedPatterns.try_emplace(paint->pattern, false);
  if (added) it->second = TavricLib::PatternLeavesInksUntouched(mJob, paint->pattern);
  return it->second;
}

std::string PDFProof::MakePatternName(std::uint16_t paint) const {
  return "Tv_pat_" + std::to_string(mWriterNumber) + "_" + std::to_string(int(paint) - 10000);
}

void PDFProof::OutputPatternFill(TavDB::Object* object) {
  if (object == nullptr) return;
  const std::uint16_t paintIndex = object->paint();
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return;
  // A stroke painted with a gradient, a picture or a map reaches here with
  // the stroke's paint: the area it covers is filled with that paint. So is
  // an inside or outside stroke painted with a pattern, which the stroke
  // operators would centre on the outline.
  const strokeinfo_t* stroke = GetStrokeInfo();
  const bool expanded = paint->type == kPaintPattern && PatternIsExpanded(paintIndex);
  if (paint->type != kPaintPattern || (stroke != nullptr && (!stroke->isSymmetricStroke() || expanded))) {
    if (stroke != nullptr) OutputStrokeAsFilledOutline();
    return;
  }
  if (PaintNeedsTransparency(object, false)) {
    OutputTransparencyGroup(object, 0);
    return;
  }
  PdfGraphicsState::Instance().ForgetFillColor();
  std::int32_t words[6];
  if (expanded || !patternCornerWords(mJob, paint->pattern, words)) {
    OutputExpandedPattern(object);
    return;
  }
  const std::string name = MakePatternName(paintIndex);
  // A centre stroke's pattern is the stroking colour, along the outline.
  pdfoutfilter& out = Out();
  out << (mSettings.NormalizedOutput != 0 ? "/Pattern " : "/CSPat ") << (stroke ? "CS " : "cs ");
  PDFName::OutputName(out, name.c_str());
  out << (stroke ? " SCN\n" : " scn\n");
  // The colour operators wrote nothing the cache knows: forget what it holds.
  mPendingFill.reset();
  mPendingStroke.reset();
  PdfGraphicsState::Instance().Reset();
  if (stroke) {
    WriteStrokeInfo(mStrokeType, 0, out);
    OutputShape(object, kModeStrokeOutline);
  } else {
    OutputShape(object, kModeFill);
  }

  if (mPatterns != nullptr && mPatterns->Get(name) != nullptr) return;
  for (const std::shared_ptr<PendingStream>& record : mPendingStreams) {
    if (record->GetKind() == kPendingPattern && record->GetPaint() == paintIndex) return;
  }
  const PatternRec* pattern = patpoi(mJob, paint->pattern);
  const std::int32_t cell[4] = {pattern->cell.top, pattern->cell.left, pattern->cell.bottom,
                                pattern->cell.right};
  auto record = std::make_unique<PendingStreamPattern>(paintIndex, cell);
  record->SetName(name);
  AddPendingStream(std::move(record));
}

}  // namespace TavPDF
