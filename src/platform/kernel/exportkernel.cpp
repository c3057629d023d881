#include "platform/kernel/exportkernel.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/kernel/flattener.h"
#include "platform/kernel/flattenraster.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace {
int gBatchMode = 0;

bool pctUses(const std::uint8_t* pct, int sep) {
  return pct && sep >= 0 && sep < kMaxSeparations && pct[sep] != 0 && pct[sep] != kPercentUntouched;
}

bool colourUses(const jobstr* job, int colour, int sep) { return pctUses(colsep(job, colour), sep); }

bool paintUsesSeparationDepth(const jobstr* job, int paint, int sep, int depth);

bool treeUsesSeparation(const jobstr* job, const TavDB::Object* list, int sep, int depth) {
  if (!list || depth > 16) return false;
  if (paintUsesSeparationDepth(job, list->paint(), sep, depth + 1)) return true;
  if (const TavDB::Stroke* s = list->stroke(); s && s->width > 0 &&
      paintUsesSeparationDepth(job, s->paint, sep, depth + 1))
    return true;
  for (const auto& m : list->members())
    if (treeUsesSeparation(job, m.get(), sep, depth + 1)) return true;
  return false;
}

bool paintUsesSeparationDepth(const jobstr* job, int paint, int sep, int depth) {
  const Paint* p = paipoi(job, paint);
  if (!p || depth > 16) return false;
  switch (p->type) {
    case kPaintFlat: return colourUses(job, p->colour, sep);
    case kPaintLinear:
    case kPaintRadial: return colourUses(job, p->colour, sep) || colourUses(job, p->colour2, sep);
    case kPaintGradation:
      return std::any_of(p->steps.begin(), p->steps.end(),
                         [&](const GradationStep& s) { return colourUses(job, s.colour, sep); });
    case kPaintPicture: return picsepuse(job, p->picture, sep);
    case kPaintMap: {
      const PictureMap* m = mappoi(job, p->map);
      if (!m) return false;
      if (colourUses(job, m->colour1, sep) || colourUses(job, m->colour2, sep)) return true;
      return std::any_of(m->channels.begin(), m->channels.end(),
                         [&](const MapChannel& c) { return c.separation == sep; });
    }
    case kPaintPattern: {
      const PatternRec* pat = patpoi(job, p->pattern);
      return pat && treeUsesSeparation(job, pat->objects.get(), sep, depth + 1);
    }
  }
  return false;
}

}  // namespace

int artque() { return gBatchMode; }
void setArtque(int mode) { gBatchMode = mode; }

bool paintHasNonWhitePreservingBlendmode(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  if (!p) return false;
  const int mode = p->transparency.blendMode;
  return mode != 0 && mode != 1 && mode != 8;  // Normal, Multiply, Darken
}

bool paintUsesSeparation(const jobstr* job, int paint, int sep) {
  return paintUsesSeparationDepth(job, paint, sep, 0);
}

// ---- SoftmaskVisitor ----------------------------------------------------------

SoftmaskVisitor::SoftmaskVisitor(jobstr* job, std::uint32_t descendMask, std::uint32_t descendValue,
                                 TavDB::Object* list, std::uint32_t visitMask,
                                 std::uint32_t visitValue)
    : TavDB::TVObjectVisitor(descendMask, descendValue, visitMask, visitValue), mJob(job),
      mList(list) {}

void SoftmaskVisitor::VisitPaintedObject(TavDB::Object&) {}

void SoftmaskVisitor::afterPainted(TavDB::Object& object) {
  VisitPaintedObject(object);
  const Paint* p = paipoi(mJob, object.paint());
  if (p && p->transparency.softMask != kNoSoftMask) WalkPattern(p->transparency.softMask, true);
}

bool SoftmaskVisitor::VisitCompound(TavDB::Object& compound) {
  afterPainted(compound);
  return false;  // the member paths share the compound's paint
}
bool SoftmaskVisitor::VisitPath(TavDB::Object& path) {
  afterPainted(path);
  return false;
}
bool SoftmaskVisitor::VisitText(TavDB::Object& text) {
  afterPainted(text);
  return false;
}
bool SoftmaskVisitor::VisitGroup(TavDB::Object&) { return true; }
bool SoftmaskVisitor::VisitLayer(TavDB::Layer&) { return true; }

void SoftmaskVisitor::Walk(TavDB::Object* tree) {
  if (mList) TavDB::AcceptVisitor(mList, *this);
  if (tree && !stopped()) TavDB::AcceptVisitor(tree, *this);
}

void SoftmaskVisitor::WalkPattern(int pattern, bool asSoftmask) {
  const PatternRec* pat = patpoi(mJob, pattern);
  if (!pat || !pat->objects || mActivePatterns.count(pattern) != 0) return;
  mActivePatterns.insert(pattern);
  if (asSoftmask) ++mSoftmaskDepth;
  TavDB::AcceptVisitor(pat->objects.get(), *this);
  if (asSoftmask) --mSoftmaskDepth;
  mActivePatterns.erase(pattern);
}

// ---- Technical inks ---------------------------------------------------------------

namespace TavricLib {

bool TechnicalSeparationInUse(const jobstr* job) {
  if (!job) return false;
  for (int i = 0; i < job->inkCount; ++i) {
    const Separation& s = job->separations[i];
    if (s.exists && s.technical && s.used) return true;
  }
  return false;
}

bool ProcessSeparationMarkedTechnical(const jobstr* job) {
  if (!job) return false;
  for (int i = 0; i < job->inkCount; ++i) {
    const Separation& s = job->separations[i];
    if (s.exists && s.technical && s.process >= 0) return true;
  }
  return false;
}

}  // namespace TavricLib

int warnIfbadCMYKSeparations(const jobstr* job, bool show) {
  if (!job) return 0;
  int bad = 0;
  for (int i = 0; i < job->inkCount; ++i) {
    const Separation& s = job->separations[std::size_t(i)];
    if (!s.exists || !s.used || s.process < 0 || s.process > 3) continue;
    std::array<std::uint8_t, 4> pure{};
    pure[std::size_t(s.process)] = 100;
    if (s.cmyk == pure) continue;
    ++bad;
    if (show) TavGen::message(TavGen::kWarning, 1, "BAD CMYK SEPARATION", {{"__SEPARATIONNAME__", s.name}});
  }
  return bad;
}

namespace TavricLib {

CheckTechnicalSeparations::CheckTechnicalSeparations(jobstr* job, std::uint32_t descendMask,
                                                     std::uint32_t descendValue,
                                                     std::uint32_t visitMask,
                                                     std::uint32_t visitValue)
    : SoftmaskVisitor(job, descendMask, descendValue, nullptr, visitMask, visitValue) {}

void CheckTechnicalSeparations::checkPaint(int paint) {
  const jobstr* j = job();
  // The registration colour names every ink, so each plate prints it alike
  // whether it knocks out or overprints: it hides nothing below it.
  if (PaintIsRegistration(j, paint)) return;
  for (int i = 0; i < j->inkCount; ++i) {
    if (!j->separations[i].exists || !j->separations[i].technical) continue;
    if (!paintUsesSeparation(j, paint, i)) continue;
    if (!paiistra(j, paint)) mKnockout = true;
    if (paintHasNonseparableBlendmode(j, paint)) mNonSeparable = true;
  }
}

void CheckTechnicalSeparations::VisitPaintedObject(TavDB::Object& object) {
  checkPaint(object.paint());
  if (const TavDB::Stroke* s = object.stroke(); s && s->width > 0) checkPaint(s->paint);
}

}  // namespace TavricLib

// ---- Flattener ------------------------------------------------------------------------

FlattenerSettings& FlattenerSettings::Instance() {
  static FlattenerSettings settings;
  return settings;
}

namespace {
class TransparencyFinder : public SoftmaskVisitor {
 public:
  explicit TransparencyFinder(jobstr* job) : SoftmaskVisitor(job, 0, 0, nullptr, 0, 0) {}
  void VisitPaintedObject(TavDB::Object& object) override {
    if (paintHasTransparency(job(), object.paint())) {
      found = true;
      stop();
    }
  }
  bool found = false;
};
}  // namespace

bool jobHasTransparency(jobstr* job, TavDB::Object* tree) {
  if (!job || !tree) return false;
  TransparencyFinder finder(job);
  finder.Walk(tree);
  return finder.found;
}

std::unique_ptr<TavDB::Object> FlattenJobSpa(SpaSetter& setter) {
  setter.setCancelled(false);
  if (TavSys::Progress::isCanceled()) {
    setter.setCancelled(true);
    return nullptr;
  }
  const SpaSetter::Parameters& p = setter.parameters();
  if (!p.flatteningEnabled) return nullptr;
  TavFlatten::Parameters fp;
  fp.flattenOverprints = p.flattenOverprints;
  fp.flattenBlackOverprint = p.flattenBlackOverprint;
  // Overprints of a placed job are its own settings, which the export may ignore.
  fp.ignorePlacedOverprints = p.ignorePlacedOverprints && setter.keepOriginal();
  fp.opaqueInksKnockOut = p.forceOpaqueSeparationsToKnockout;
  fp.vectorizeOpacity = p.vectorizeOpacity;
  fp.objectMask = p.objectMask;
  if (p.valueC > 0) fp.resolution = p.valueC;
  if (p.useColourManagement) fp.cmykProfile = setter.colourProfile();
  auto store = std::make_shared<TavFlatten::RasterStore>(setter.job());
  TavFlatten::Result result = TavFlatten::FlattenTree(setter.job(), jobGetSpahan(setter.job()), fp, store.get(),
                                                      [] { return TavSys::Progress::isCanceled(); });
  // The maps of raster areas are read while the tree is written.
  if (result.tree && store->mapCount() > 0) setter.keep(store);
  if (result.cancelled) {
    setter.setCancelled(true);
    return nullptr;
  }
  return std::move(result.tree);
}

// ---- Link parameters and events ------------------------------------------------------------

void parkey(jobstr* job, std::uint32_t id, const std::string& label, const std::string& shortName,
            int) {
  if (!job) return;
  LinkParameter& p = job->linkParameters[id];
  p.label = label;
  p.shortName = shortName;
}

void SetParameterDoubleValue(jobstr* job, std::uint32_t id, double value, int) {
  if (!job) return;
  LinkParameter& p = job->linkParameters[id];
  p.number = value;
  p.isText = false;
}

void SetParameterStringValue(jobstr* job, std::uint32_t id, const std::string& value) {
  if (!job) return;
  LinkParameter& p = job->linkParameters[id];
  p.text = value;
  p.isText = true;
}

namespace TavricCore {
namespace {
std::vector<std::pair<int, EventHandler>>& handlers() {
  static std::vector<std::pair<int, EventHandler>> list;
  return list;
}
int gNextHandler = 1;
std::map<const jobstr*, Archive*>& archives() {
  static std::map<const jobstr*, Archive*> map;
  return map;
}
}  // namespace

int AddEventHandler(EventHandler handler) {
  handlers().emplace_back(gNextHandler, std::move(handler));
  return gNextHandler++;
}

void RemoveEventHandler(int handle) {
  std::erase_if(handlers(), [handle](const auto& h) { return h.first == handle; });
}

void SendEvent(const Event& event) {
  const auto list = handlers();
  for (const auto& [handle, handler] : list)
    if (handler) handler(event);
}

void Archive::addFile(const TavSys::FileSpec& file, int kind, void*) {
  mEntries.push_back({file, kind});
}

Archive* Archive::ForJob(const jobstr* job) {
  auto it = archives().find(job);
  return it == archives().end() ? nullptr : it->second;
}

void Archive::Attach(const jobstr* job, Archive* archive) {
  if (archive)
    archives()[job] = archive;
  else
    archives().erase(job);
}

}  // namespace TavricCore

namespace TavricLib {

void SetStrokeCreator(jobstr* job, TavDB::Object& object, const StrokeCreator& creator) {
  TavDB::ObjectExtra& extra = object.extraMut();
  if (!extra.stroke || extra.stroke->width <= 0) {
    auto line = std::make_unique<TavDB::Stroke>();
    line->width = creator.width / 10.0 * TavDB::getppi(job) / 72.0;
    line->paint = object.paint();
    if (creator.join == 82) line->join = TavDB::Stroke::kRoundJoin;
    if (creator.cap == 82) line->cap = TavDB::Stroke::kRoundCap;
    line->miterLimit = creator.miterLimit;
    extra.stroke = std::move(line);
  }
  object.setPaint(kPaintNoFill, true);
  extra.cadStroke = true;
}

bool IsCADStroke(const TavDB::Object* object) {
  return object != nullptr && object->extra() != nullptr && object->extra()->cadStroke;
}

}  // namespace TavricLib

namespace TavSys::FileSupport {
std::filesystem::path GetApplicationFolder() {
  if (const char* env = std::getenv("TAV_APPLICATION_FOLDER"); env && *env) return env;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path(ec) : exe.parent_path();
}
}  // namespace TavSys::FileSupport

// ---- Registration marks ------------------------------------------------------------------------

std::unique_ptr<TavDB::Object> regmarksobjUsingSettings(jobstr* job, const MarksSettings& marks,
                                                        const ExtraMarksSettings&) {
  if (!job || !marks.cropMarks) return nullptr;
  TavSys::tv_rectangle r;
  if (!getbox(job, getdefaultboxtype(job, kTrimBox), r) || r.top >= r.bottom || r.left >= r.right)
    return nullptr;
  // The registration colour: every ink of the job at 100 %.
  Colour reg;
  reg.registration = true;
  for (int i = 0; i < job->inkCount; ++i)
    if (job->separations[i].exists) reg.pct[i] = 100;
  const std::uint16_t colour = job->addColour(reg);
  Paint paint;
  paint.type = kPaintFlat;
  paint.colour = colour;
  paint.registration = true;
  const std::uint16_t paintIndex = job->addPaint(paint);
  Paint none;  // open paths are not filled
  none.type = kPaintFlat;
  none.colour = job->addColour(Colour{});
  const std::uint16_t noFill = job->addPaint(none);

  const double unit = job->ppi / 72.0;  // job units per point
  const auto gap = static_cast<std::int32_t>(marks.offsetPt * unit);
  const auto len = static_cast<std::int32_t>(marks.lengthPt * unit);
  auto group = TavDB::gronew();
  group->extraMut().name = "Registration marks";
  group->extraMut().mark = "crop";
  auto addLine = [&](std::int32_t v1, std::int32_t h1, std::int32_t v2, std::int32_t h2) {
    auto path = TavDB::Object::create(TavDB::ObjectKind::Path);
    path->points().push_back({v1, h1, TavDB::PathPoint::kLine});
    path->points().push_back({v2, h2, TavDB::PathPoint::kLine});
    path->setProperties(TavDB::kObjOpenPath, true);
    path->setPaint(noFill);
    auto stroke = std::make_unique<TavDB::Stroke>();
    stroke->width = marks.lineWidthPt * unit;
    stroke->paint = paintIndex;
    path->extraMut().stroke = std::move(stroke);
    path->extraMut().mark = "crop";
    path->recalcBounds();
    group->addontop(std::move(path));
  };
  const auto top = static_cast<std::int32_t>(r.top), bottom = static_cast<std::int32_t>(r.bottom);
  const auto left = static_cast<std::int32_t>(r.left), right = static_cast<std::int32_t>(r.right);
  for (std::int32_t v : {top, bottom}) {
    addLine(v, left - gap - len, v, left - gap);
    addLine(v, right + gap, v, right + gap + len);
  }
  for (std::int32_t h : {left, right}) {
    addLine(top - gap - len, h, top - gap, h);
    addLine(bottom + gap, h, bottom + gap + len, h);
  }
  group->recalcBounds();
  return group;
}
