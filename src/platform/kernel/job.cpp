#include "platform/kernel/job.h"

#include <algorithm>
#include <cmath>

#include <boost/algorithm/string/predicate.hpp>

#include "platform/system.h"
#include "platform/utf.h"

namespace {

const std::string kEmpty;

bool validSlot(const jobstr* job, int sep) {
  return job && sep >= 0 && sep < kMaxSeparations && job->separations[sep].exists;
}

template <class T>
const T* entry(const std::vector<T>& table, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= table.size()) return nullptr;
  const T& e = table[static_cast<std::size_t>(index)];
  return e.exists ? &e : nullptr;
}

std::uint16_t pctToTint(std::uint8_t pct) {
  if (pct == kPercentUntouched) return kTintUndefined;
  return static_cast<std::uint16_t>(std::min<int>(pct, 100) * 256);
}

std::uint8_t tintToPct(std::uint16_t tint) {
  if (tint == kTintUndefined) return kPercentUntouched;
  const int p = TavSys::iround(std::min<int>(tint, kTintFull) * 100.0 / kTintFull);
  return static_cast<std::uint8_t>(std::clamp(p, 0, 100));
}

// First free index >= 7 of a table (indices below 7 keep reserved meanings),
// passing over `reserved` as well.
template <class T>
std::uint16_t firstFree(std::vector<T>& table, std::size_t reserved = 0) {
  std::size_t i = 7;
  while ((i < table.size() && table[i].exists) || i == reserved) ++i;
  if (i > 0xFFFF) throw std::length_error("job table full");
  if (i >= table.size()) table.resize(i + 1);
  return static_cast<std::uint16_t>(i);
}

}  // namespace

jobstr::jobstr() : spatialTree(TavDB::spanew()) {}
jobstr::~jobstr() = default;

std::uint16_t jobstr::addPaint(Paint paint) {
  const std::uint16_t i = firstFree(paints);
  paint.exists = true;
  paints[i] = std::move(paint);
  return i;
}

std::uint16_t jobstr::addColour(Colour colour) {
  const std::uint16_t i = firstFree(colours);
  colour.exists = true;
  colours[i] = colour;
  return i;
}

std::uint16_t jobstr::addMap(PictureMap map) {
  const std::uint16_t i = firstFree(maps);
  map.exists = true;
  maps[i] = std::move(map);
  return i;
}

std::uint16_t jobstr::addPattern(PatternRec pattern) {
  const std::uint16_t i = firstFree(patterns, kNoSoftMask);
  pattern.exists = true;
  patterns[i] = std::move(pattern);
  return i;
}

void EditHistoryList::AddEntry(int code, std::string text, std::vector<TavDB::tv_box> boxes) {
  entries_.push_back({code, std::move(text), TavSys::time64(), std::move(boxes)});
}

// ---- JobStateGuard -------------------------------------------------------------

namespace {

template <class T>
std::vector<bool> existing(const std::vector<T>& table) {
  std::vector<bool> e(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) e[i] = table[i].exists;
  return e;
}

// Entries added since `existed` was taken go, those in free places below the
// old end as well as those past it.
template <class T>
void dropAdded(std::vector<T>& table, const std::vector<bool>& existed) {
  if (table.size() > existed.size()) table.resize(existed.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (!existed[i] && table[i].exists) table[i] = T{};
  }
}

}  // namespace

JobStateGuard::JobStateGuard(jobstr* job)
    : job_(job), origin_(job->origin), boxes_(job->boxes), paints_(existing(job->paints)),
      colours_(existing(job->colours)), patterns_(existing(job->patterns)), maps_(existing(job->maps)) {
  for (int i = 0; i < kMaxSeparations; ++i) {
    const Separation& s = job->separations[i];
    seps_[i] = {s.enabled, s.output, s.cmykFlag, s.mappedTo, s.parametersOf};
  }
}

JobStateGuard::~JobStateGuard() {
  job_->origin = origin_;
  job_->boxes = boxes_;
  for (int i = 0; i < kMaxSeparations; ++i) {
    Separation& s = job_->separations[i];
    s.enabled = seps_[i].enabled;
    s.output = seps_[i].output;
    s.cmykFlag = seps_[i].cmykFlag;
    s.mappedTo = seps_[i].mappedTo;
    s.parametersOf = seps_[i].parametersOf;
  }
  dropAdded(job_->paints, paints_);
  dropAdded(job_->colours, colours_);
  dropAdded(job_->patterns, patterns_);
  dropAdded(job_->maps, maps_);
}

// ---- Job, tree, boxes ----------------------------------------------------------

TavDB::Object* jobGetSpahan(const jobstr* job) { return job ? job->spatialTree.get() : nullptr; }

std::unique_ptr<TavDB::Object> jobSetSpahan(jobstr* job, std::unique_ptr<TavDB::Object> tree) {
  std::swap(job->spatialTree, tree);
  return tree;
}

const std::string& filnamcle(const jobstr* job) { return job ? job->name : kEmpty; }

const TavSys::filref* filrefroo(const jobstr* job) {
  return job && !job->rootFile.empty() ? &job->rootFile : nullptr;
}

const TavSys::filref* filrefori(const jobstr* job) {
  return job && !job->originalFile.empty() ? &job->originalFile : nullptr;
}

TavDB::tv_point getOriginalOrigin(const jobstr* job) { return job ? job->origin : TavDB::tv_point{}; }
void setOriginalOrigin(jobstr* job, TavDB::tv_point origin) { job->origin = origin; }

bool getboxconst(const jobstr* job, int kind, TavSys::tv_rectangle& box) {
  if (!job || kind < 0 || kind > 4 || !job->boxes[kind]) return false;
  const TavDB::tv_box& b = *job->boxes[kind];
  box = {double(b.top), double(b.left), double(b.bottom), double(b.right)};
  return true;
}

TavSys::tv_rectangle getboxconst(const jobstr* job, int kind) {
  TavSys::tv_rectangle r;
  getboxconst(job, kind, r);
  return r;
}

bool getbox(const jobstr* job, int kind, TavSys::tv_rectangle& box) {
  if (getboxconst(job, kind, box)) return true;
  return kind != kMediaBox && getboxconst(job, kMediaBox, box);
}

int getdefaultboxtype(const jobstr* job, int kind) {
  if (!job || kind < 0 || kind > 4) return kind;
  return job->defaultBoxType[kind];
}

void setbox(jobstr* job, int kind, const TavDB::tv_box& box) {
  if (kind >= 0 && kind <= 4) job->boxes[kind] = box;
}

// ---- Separations ---------------------------------------------------------------

int sepfrejob(const jobstr* job) { return job ? job->inkCount : 0; }

int sepsoruse(const jobstr* job, int position, bool includeDisabled) {
  if (!validSlot(job, position)) return -1;
  if (!includeDisabled && !job->separations[position].enabled) return -1;
  return position;
}

int sepiscmyk(const jobstr* job, int sep) {
  return validSlot(job, sep) ? job->separations[sep].process : -1;
}

int sepgetcmyk(const jobstr* job, int k) {
  if (!job || k < 0 || k > 3) return -1;
  for (int i = 0; i < job->inkCount; ++i)
    if (job->separations[i].exists && job->separations[i].process == k) return i;
  return -1;
}

int sepGetCount(const jobstr* job, bool includeDisabled, bool includeCMYK) {
  if (!job) return 0;
  int n = 0;
  for (int i = 0; i < job->inkCount; ++i) {
    const Separation& s = job->separations[i];
    if (!s.exists || (!includeDisabled && !s.enabled)) continue;
    if (s.used || (includeCMYK && s.process >= 0)) ++n;
  }
  return n;
}

int sepisused(const jobstr* job, int sep, bool) {
  if (!validSlot(job, sep)) return 0;
  const Separation& s = job->separations[sep];
  return (s.used ? kSepUsed : 0) | (s.softMaskUsed ? kSepUsedInSoftMask : 0);
}

bool sepsearch(const jobstr* job, int sep) { return validSlot(job, sep) && job->separations[sep].used; }

void sepEnable(jobstr* job, int sep) {
  if (validSlot(job, sep)) job->separations[sep].enabled = true;
}
void sepDisable(jobstr* job, int sep) {
  if (validSlot(job, sep)) job->separations[sep].enabled = false;
}

void sepEnableAll(jobstr* job) {
  for (Separation& s : job->separations) s.enabled = true;
}
void sepDisableAll(jobstr* job) {
  for (Separation& s : job->separations) s.enabled = false;
}
bool sepIsEnabled(const jobstr* job, int sep) {
  return validSlot(job, sep) && job->separations[sep].enabled;
}

const std::string& GetSeparationName(const jobstr* job, int sep) {
  return validSlot(job, sep) ? job->separations[sep].name : kEmpty;
}
const std::string& sepnampoi(const jobstr* job, int sep) { return GetSeparationName(job, sep); }

std::string sepnamcmykpoiUTF8(const jobstr* job, int sep) {
  static const char* const kNames[4] = {"Cyan", "Magenta", "Yellow", "Black"};
  const int k = sepiscmyk(job, sep);
  if (k >= 0) return kNames[k];
  return GetSeparationName(job, sep);
}

void sepcmyk(const jobstr* job, int sep, std::uint8_t& c, std::uint8_t& m, std::uint8_t& y,
             std::uint8_t& k) {
  c = m = y = k = 0;
  if (!validSlot(job, sep)) return;
  const auto& v = job->separations[sep].cmyk;
  c = v[0];
  m = v[1];
  y = v[2];
  k = v[3];
}

void sepcmyk_(const jobstr* job, int sep, std::uint8_t& c, std::uint8_t& m, std::uint8_t& y,
              std::uint8_t& k) {
  sepcmyk(job, sep, c, m, y, k);
}

void sepcmyk(const jobstr* job, int sep, std::uint16_t& c, std::uint16_t& m, std::uint16_t& y,
             std::uint16_t& k) {
  std::uint8_t p[4];
  sepcmyk(job, sep, p[0], p[1], p[2], p[3]);
  c = static_cast<std::uint16_t>(p[0] * 256);
  m = static_cast<std::uint16_t>(p[1] * 256);
  y = static_cast<std::uint16_t>(p[2] * 256);
  k = static_cast<std::uint16_t>(p[3] * 256);
}

void sepcmyk(const jobstr* job, const std::uint8_t* pct, double& c, double& m, double& y,
             double& k) {
  double keep[4] = {1, 1, 1, 1};  // product of (1 - share) per channel
  if (job && pct) {
    for (int i = 0; i < job->inkCount; ++i) {
      const Separation& s = job->separations[i];
      if (!s.exists || pct[i] == kPercentUntouched) continue;
      const double share = std::min<int>(pct[i], 100) / 100.0;
      if (s.process >= 0) {
        keep[s.process] *= 1 - share;
      } else {
        for (int ch = 0; ch < 4; ++ch) keep[ch] *= 1 - share * s.cmyk[ch] / 100.0;
      }
    }
  }
  c = (1 - keep[0]) * 100;
  m = (1 - keep[1]) * 100;
  y = (1 - keep[2]) * 100;
  k = (1 - keep[3]) * 100;
}

void sepgetrgb(const jobstr* job, int sep, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
  r = g = b = 255;
  if (!validSlot(job, sep)) return;
  r = job->separations[sep].rgb[0];
  g = job->separations[sep].rgb[1];
  b = job->separations[sep].rgb[2];
}

void sepcmyklin(const jobstr* job, int sep, const std::uint8_t* in, std::uint8_t* out, int n) {
  std::uint8_t cmyk[4] = {0, 0, 0, 0};
  if (validSlot(job, sep)) {
    const Separation& s = job->separations[sep];
    if (s.process >= 0)
      cmyk[s.process] = 100;
    else
      for (int ch = 0; ch < 4; ++ch) cmyk[ch] = s.cmyk[ch];
  }
  for (int i = 0; i < n; ++i) {
    const int ink = 255 - in[i];  // 0 in the input means full ink
    for (int ch = 0; ch < 4; ++ch)
      out[i * 4 + ch] = static_cast<std::uint8_t>((ink * cmyk[ch] + 50) / 100);
  }
}

bool separationIsOpaque(const jobstr* job, int sep) {
  return validSlot(job, sep) && job->separations[sep].opaque;
}
bool separationIsTechnical(const jobstr* job, int sep) {
  return validSlot(job, sep) && job->separations[sep].technical;
}
bool separationIsVarnish(const jobstr* job, int sep) {
  return validSlot(job, sep) && job->separations[sep].varnish;
}

void clearCMYKFlagsIfNeeded(jobstr* job, int* block) {
  for (int i = 0; i < kMaxSeparations; ++i) {
    block[i] = job->separations[i].cmykFlag ? 1 : 0;
    job->separations[i].cmykFlag = false;
  }
}

void setCMYKFlags(jobstr* job, const int* block) {
  for (int i = 0; i < kMaxSeparations; ++i) job->separations[i].cmykFlag = block[i] != 0;
}

namespace TavricLib {

int FindSeparation(const jobstr* job, const std::string& name) {
  if (!job) return -1;
  for (int i = 0; i < job->inkCount; ++i)
    if (job->separations[i].exists && job->separations[i].name == name) return i;
  return -1;
}

bool SeparationNameIsCMYK(const std::string& name) {
  return boost::algorithm::iequals(name, "Cyan") || boost::algorithm::iequals(name, "Magenta") ||
         boost::algorithm::iequals(name, "Yellow") || boost::algorithm::iequals(name, "Black");
}

}  // namespace TavricLib

bool seppdftyp::NeedsOutputting(const jobstr* job, int sep) {
  return validSlot(job, sep) && job->separations[sep].output;
}

int seppdftyp::GetMappedTo(int sep) const {
  return validSlot(job_, sep) ? job_->separations[sep].mappedTo : -1;
}

// ---- Colours and paints --------------------------------------------------------

const Paint* paipoi(const jobstr* job, int paint) { return job ? entry(job->paints, paint) : nullptr; }

int paifla(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p ? p->type : -1;
}

const std::uint8_t* colsep(const jobstr* job, int colour) {
  const Colour* c = job ? entry(job->colours, colour) : nullptr;
  return c ? c->pct.data() : nullptr;
}

std::array<std::uint16_t, kMaxSeparations> colsep16(const jobstr* job, int colour) {
  std::array<std::uint16_t, kMaxSeparations> out;
  out.fill(kTintUndefined);
  const Colour* c = job ? entry(job->colours, colour) : nullptr;
  if (c == nullptr) return out;
  if (c->tints) return *c->tints;
  for (int i = 0; i < kMaxSeparations; ++i) out[i] = pctToTint(c->pct[i]);
  return out;
}

bool colistra(const jobstr* job, int colour) {
  const Colour* c = job ? entry(job->colours, colour) : nullptr;
  return c && c->overprint;
}

const std::uint8_t* paisep(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p ? colsep(job, p->colour) : nullptr;
}

std::array<std::uint16_t, kMaxSeparations> paisep16(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  if (!p) {
    std::array<std::uint16_t, kMaxSeparations> out;
    out.fill(kTintUndefined);
    return out;
  }
  return colsep16(job, p->colour);
}

bool paiistra(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p && (p->overprint || colistra(job, p->colour));
}

bool paintHasTransparency(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  if (!p) return false;
  const PaintTransparency& t = p->transparency;
  return t.opacity < kOpacityFull || t.blendMode != 0 || t.softMask != kNoSoftMask ||
         t.secondOpacity != kSecondOpacityNone;
}

bool paintHasNonseparableBlendmode(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p && p->transparency.blendMode >= 12 && p->transparency.blendMode <= 15;
}

std::uint16_t paintGetScreen(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p ? p->screen : kNoScreen;
}

bool paintIsWhite(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  if (!p || p->type != kPaintFlat) return false;
  const std::uint8_t* pct = colsep(job, p->colour);
  if (!pct) return false;
  bool touches = false;
  for (int i = 0; i < job->inkCount; ++i) {
    if (!job->separations[i].exists || pct[i] == kPercentUntouched) continue;
    if (pct[i] != 0) return false;
    touches = true;
  }
  return touches;
}

std::uint16_t painewflat(jobstr* job, const std::uint8_t* pct) {
  Colour c;
  for (int i = 0; i < kMaxSeparations; ++i)
    c.pct[i] = pct[i] == kPercentUntouched ? kPercentUntouched : std::min<std::uint8_t>(pct[i], 100);
  Paint p;
  p.type = kPaintFlat;
  p.colour = job->addColour(c);
  return job->addPaint(std::move(p));
}

std::uint16_t painewflat16(jobstr* job, const std::uint16_t* tints) {
  Colour c;
  std::array<std::uint16_t, kMaxSeparations> exact;
  for (int i = 0; i < kMaxSeparations; ++i) {
    c.pct[i] = tintToPct(tints[i]);
    exact[i] = tints[i] == kTintUndefined ? kTintUndefined : std::min<std::uint16_t>(tints[i], kTintFull);
  }
  c.tints = exact;
  Paint p;
  p.type = kPaintFlat;
  p.colour = job->addColour(c);
  return job->addPaint(std::move(p));
}

const double* paintGetMatrix(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p ? p->matrix : nullptr;
}

bool paintPlacementWords(const jobstr* job, int paint, std::int32_t words[6]) {
  const Paint* p = paipoi(job, paint);
  if (!p) return false;
  std::int64_t width = 0, height = 0;
  if (p->type == kPaintPicture) {
    const Picture* pic = picpoi(job, p->picture);
    if (!pic) return false;
    width = pic->width;
    height = pic->height;
  } else if (p->type == kPaintMap) {
    const PictureMap* m = mappoi(job, p->map);
    if (!m) return false;
    width = m->width;
    height = m->height;
  } else {
    return false;
  }
  if (width <= 0 || height <= 0) return false;
  const TavDB::tv_point o = p->placeOrigin;
  auto step = [](std::int64_t from, std::int64_t to, std::int64_t pixels) {
    // Rounded to the nearest, halves away from zero.
    const std::int64_t d = (to - from) * 10000;
    const std::int64_t q = (d >= 0 ? d + pixels / 2 : d - pixels / 2) / pixels;
    return from + q;
  };
  const std::int64_t w[6] = {o.v,
                             o.h,
                             step(o.v, p->placeWidthCorner.v, width),
                             step(o.h, p->placeWidthCorner.h, width),
                             step(o.v, p->placeHeightCorner.v, height),
                             step(o.h, p->placeHeightCorner.h, height)};
  for (std::int64_t x : w)
    if (x < INT32_MIN || x > INT32_MAX) return false;
  for (int i = 0; i < 6; ++i) words[i] = static_cast<std::int32_t>(w[i]);
  return true;
}

std::uint16_t paintAdjustTransparency(jobstr* job, int paint, int from) {
  const Paint* p = paipoi(job, paint);
  if (!p) return static_cast<std::uint16_t>(paint);
  PaintTransparency t;  // opaque
  if (from != 0) {
    const Paint* f = paipoi(job, from);
    if (f) t = f->transparency;
  }
  const PaintTransparency& have = p->transparency;
  if (have.opacity == t.opacity && have.secondOpacity == t.secondOpacity &&
      have.blendMode == t.blendMode && have.flags == t.flags && have.softMask == t.softMask)
    return static_cast<std::uint16_t>(paint);
  Paint copy = *p;
  copy.transparency = t;
  return job->addPaint(std::move(copy));
}

std::uint16_t paintAdjustScreen(jobstr* job, int paint, std::uint16_t screen) {
  const Paint* p = paipoi(job, paint);
  if (!p || p->screen == screen) return static_cast<std::uint16_t>(paint);
  Paint copy = *p;
  copy.screen = screen;
  return job->addPaint(std::move(copy));
}

std::uint16_t paintAdjustScreenForMode(jobstr* job, int mode, int paint) {
  if (mode != kScreenModeLineArt) return static_cast<std::uint16_t>(paint);
  return paintAdjustScreen(job, paint, kNoScreen);
}

namespace TavricLib {

std::vector<int> GetSortedCmyk(const jobstr* job) {
  std::vector<int> out;
  for (int k = 0; k < 4; ++k)
    if (const int s = sepgetcmyk(job, k); s >= 0) out.push_back(s);
  return out;
}

bool PaintIsInvisible(const jobstr* job, int paint, bool) {
  const Paint* p = paipoi(job, paint);
  if (!p) return true;
  // Whether a colour leaves every ink untouched; a colour that is not there
  // makes a flat paint paint nothing, and a gradient is known to paint
  // nothing only from colours that all say so.
  const auto untouched = [&](std::uint16_t colour) {
    const std::uint8_t* pct = colsep(job, colour);
    if (!pct) return p->type == kPaintFlat;
    for (int i = 0; i < job->inkCount; ++i)
      if (job->separations[i].exists && pct[i] != kPercentUntouched) return false;
    return true;
  };
  switch (p->type) {
    case kPaintFlat: return untouched(p->colour);
    // A gradient whose every colour leaves every ink untouched paints nothing.
    case kPaintLinear:
    case kPaintRadial: return untouched(p->colour) && untouched(p->colour2);
    case kPaintGradation:
      return std::all_of(p->steps.begin(), p->steps.end(),
                         [&](const GradationStep& s) { return untouched(s.colour); });
    default: return false;
  }
}

bool PaintIsRegistration(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  if (!p) return false;
  if (p->registration) return true;
  const Colour* c = entry(job->colours, p->colour);
  return c && c->registration;
}

}  // namespace TavricLib

// ---- Pictures, maps, patterns, screens -----------------------------------------

const Picture* picpoi(const jobstr* job, int picture) {
  return job ? entry(job->pictures, picture) : nullptr;
}

const std::string& picgetinfo(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p ? p->type : kEmpty;
}

const TavSys::filref* picfilref(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p && !p->file.empty() ? &p->file : nullptr;
}

bool picisart(const jobstr* job, int picture) { return picgetinfo(job, picture) == "ART"; }
bool picispdf(const jobstr* job, int picture) { return picgetinfo(job, picture) == "PDF"; }
bool piciseps(const jobstr* job, int picture) { return picgetinfo(job, picture) == "EPS"; }

bool pdfIsNormalized(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p && p->type == "PDF" && p->pdfNormalized;
}

bool pictureIsUnknown(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return !p || p->unknown;
}

bool picisvectorformat(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p && p->vector;
}

int getPictureColorSpace(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p ? p->colorSpaceCode : 0;
}

void picsiz(const jobstr* job, int picture, double scale, std::int32_t& v, std::int32_t& h) {
  v = h = 0;
  const Picture* p = picpoi(job, picture);
  if (!p) return;
  v = TavSys::iround(p->height * scale);
  h = TavSys::iround(p->width * scale);
}

bool picsepuse(const jobstr* job, int picture, int sep) {
  const Picture* p = picpoi(job, picture);
  return p && sep >= 0 && sep < kMaxSeparations && p->seps.test(static_cast<std::size_t>(sep));
}

int pictureGetPage(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p ? p->pdfPage : 0;
}

jobstr* picGetJob(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p ? p->job.get() : nullptr;
}

bool picIsDCS(const jobstr* job, int picture) {
  const Picture* p = picpoi(job, picture);
  return p && p->type == "EPS" && p->dcs;
}

int picGetRotationType(const jobstr*, int) { return 0; }

std::array<std::int32_t, 4> getPictureBoundingBoxForJDF(const jobstr* job, const Paint*, int picture,
                                                        double scale) {
  return picboxdefault(job, picture, 0, scale);
}

std::array<std::int32_t, 4> picboxdefault(const jobstr* job, int picture, int, double scale) {
  const Picture* p = picpoi(job, picture);
  if (!p) return {0, 0, 0, 0};
  return {TavSys::iround(p->box.top * scale), TavSys::iround(p->box.bottom * scale),
          TavSys::iround(p->box.left * scale), TavSys::iround(p->box.right * scale)};
}

const PictureMap* mappoi(const jobstr* job, int map) { return job ? entry(job->maps, map) : nullptr; }

bool mapisint(const jobstr* job, int map) {
  const PictureMap* m = mappoi(job, map);
  return m && m->internal;
}

void mapsiz(const jobstr* job, int map, double scale, std::int32_t& v, std::int32_t& h) {
  v = h = 0;
  const PictureMap* m = mappoi(job, map);
  if (!m) return;
  v = TavSys::iround(m->height * scale);
  h = TavSys::iround(m->width * scale);
}

const TavSys::filref* mapfilref(const jobstr* job, int map, int file) {
  const PictureMap* m = mappoi(job, map);
  if (!m || file < 0 || static_cast<std::size_t>(file) >= m->files.size()) return nullptr;
  return &m->files[static_cast<std::size_t>(file)];
}

bool maphasopa(const jobstr* job, int map) {
  const PictureMap* m = mappoi(job, map);
  return m && m->opacityFile >= 0;
}

const PatternRec* patpoi(const jobstr* job, int pattern) {
  return job ? entry(job->patterns, pattern) : nullptr;
}

const Screen* screenpoi(const jobstr* job, int screen) {
  return job ? entry(job->screens, screen) : nullptr;
}

const std::string& getScreenName(const jobstr* job, int screen) {
  const Screen* s = screenpoi(job, screen);
  return s ? s->name : kEmpty;
}

// ---- Notes -----------------------------------------------------------------------

int notesCount(const jobstr* job) { return job ? static_cast<int>(job->notes.size()) : 0; }

NoteInfo::NoteInfo(const jobstr* job, int index)
    : note_(job && index >= 0 && index < notesCount(job) ? &job->notes[static_cast<std::size_t>(index)]
                                                         : nullptr) {}

std::u16string NoteInfo::GetText() const {
  return note_ ? TavGen::ConvertUTF8ToUTF16String(note_->text) : std::u16string();
}

TavDB::tv_point NoteInfo::GetAnchorLocation() const { return note_ ? note_->anchor : TavDB::tv_point{}; }

// ---- Object helpers ----------------------------------------------------------------

const TavDB::Object* stationNumberObject(const jobstr* job, std::uint32_t descendMask,
                                          std::uint32_t descendValue, std::uint32_t selectMask,
                                          std::uint32_t selectValue) {
  TavDB::ListScan scan(jobGetSpahan(job), TavDB::kObjText, descendMask, descendValue, selectMask,
                       selectValue);
  while (const TavDB::Object* o = scan.next())
    if (o->extra() && o->extra()->stationNumber) return o;
  return nullptr;
}

namespace TavricCore {

std::u16string ObjectController::GetObjectName(const TavDB::Object* object) {
  return object ? TavGen::ConvertUTF8ToUTF16String(object->name()) : std::u16string();
}

void ObjectController::SetObjectName(TavDB::Object* object, std::u16string_view name) {
  if (object) object->extraMut().name = TavSys::Uni16CharToUTF8(name);
}

}  // namespace TavricCore

bool regObjectIsMark(const TavDB::Object* object) {
  return object && object->extra() && !object->extra()->mark.empty();
}

bool isPaimapGroup(const TavDB::Object* object) {
  return object != nullptr && object->kind() == TavDB::ObjectKind::Group && object->extra() != nullptr &&
         object->extra()->paintMapGroup;
}

namespace TavricLib {

bool IsStructuredCADLayer(const jobstr*, const TavDB::Object* layer) {
  return layer && layer->kind() == TavDB::ObjectKind::Layer && layer->extra() &&
         layer->extra()->cadLayer;
}

bool IsTrapLayer(const jobstr*, const TavDB::Object* layer) {
  return layer && layer->kind() == TavDB::ObjectKind::Layer && layer->extra() &&
         layer->extra()->trapLayer;
}

}  // namespace TavricLib
