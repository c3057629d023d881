#include "platform/kernel/colorspace.h"

#include <algorithm>

#include "platform/kernel/job.h"

bool ColorSpace::smUseTRDotgain = false;

ColorSpace::~ColorSpace() = default;

void ColorSpace::psWriteColorSpace() const {}
void ColorSpace::psWriteSeps(const unsigned short*) const {}
std::string ColorSpace::pdfGetName(int) { return {}; }
TavPDF::PDFArray* ColorSpace::pdfGetSepsArray(const unsigned short*) const { return nullptr; }
int ColorSpace::pdfGetNumParts() const { return 1; }
TavPDF::PDFArray* ColorSpace::pdfGetColorSpace(TavPDF::pdfouthan*, int) const { return nullptr; }
bool ColorSpace::pdfHasColorSpaceArray(int) const { return false; }
void ColorSpace::SepsToBuffer(unsigned char*, const unsigned short*) const {}

bool ColorSpace::operator==(const ColorSpace& other) const {
  return GetClassID() == other.GetClassID() && IsEqual(other);
}

bool ColorSpace::IsEqual(const ColorSpace& other) const {
  if (GetClassID() != other.GetClassID() || GetSepCount() != other.GetSepCount()) return false;
  for (int sep = 0; sep < TavColor::kMaxSeparations; ++sep)
    if (InColorSpace(sep) != other.InColorSpace(sep)) return false;
  return true;
}

bool ColorSpace::pdfGetTRName(std::string&) const { return false; }
bool ColorSpace::IsDeviceGray() const { return false; }
bool ColorSpace::IsDeviceRGB() const { return false; }
bool ColorSpace::IsDeviceCMYK() const { return false; }
bool ColorSpace::IsDeviceN() const { return false; }
bool ColorSpace::IsMultiSep() const { return false; }
int ColorSpace::GetSepCount() const { return 0; }
bool ColorSpace::InColorSpace(int) const { return false; }
bool ColorSpace::IsEmpty() const { return GetSepCount() == 0; }
void ColorSpace::Unite(const ColorSpace&) {}
void ColorSpace::Intersect(const ColorSpace&) {}
void ColorSpace::Differ(const ColorSpace&) {}
void ColorSpace::SetSeparationUse(int, bool) {}
int ColorSpace::GetSepSorted(int) const { return -1; }
CsMasked* ColorSpace::pdfGetPart(int) { return nullptr; }
void ColorSpace::pdfOutputFillColor(TavPDF::pdfoutfilter&, const unsigned short*) {}
void ColorSpace::pdfOutputStrokeColor(TavPDF::pdfoutfilter&, const unsigned short*) {}
bool ColorSpace::pdfOutputColorForPart(TavPDF::pdfoutfilter&, const unsigned short*, int) {
  return false;
}

void ColorSpace::SetUseTRDotgain(bool use) { smUseTRDotgain = use; }

// ---------------------------------------------------------------- CsMasked

CsMasked::CsMasked(const jobstr* job, bool noTransfer) : mJob(job), mNoTransfer(noTransfer ? 1 : 0) {}

int CsMasked::GetClassID() const { return kClassMasked; }

bool CsMasked::IsEqual(const ColorSpace& other) const {
  if (!ColorSpace::IsEqual(other)) return false;
  const auto* o = dynamic_cast<const CsMasked*>(&other);
  return o && o->mJob == mJob && o->mOverprint == mOverprint && o->mNoTransfer == mNoTransfer;
}

CsMasked* CsMasked::pdfGetPart(int part) {
  if (part != 0) return nullptr;
  return dynamic_cast<CsMasked*>(Clone());
}

// ---------------------------------------------------------------- CsDeviceGray

namespace {
// One byte of ink from a tint: whole percent of 255, rounded; an undefined or
// out-of-range tint is no ink.
unsigned char TintToByte(unsigned short tint) {
  if (tint > kTintFull) return 0;
  return static_cast<unsigned char>(std::min(255, (tint + 50) / 100));
}
}  // namespace

CsDeviceGray::CsDeviceGray(const jobstr* job, bool noTransfer) : CsMasked(job, noTransfer) {}

CsDeviceGray::CsDeviceGray(const jobstr* job, int sep, bool noTransfer)
    : CsMasked(job, noTransfer), mSep(sep) {}

int CsDeviceGray::GetClassID() const { return kClassID; }

void CsDeviceGray::SepsToBuffer(unsigned char* out, const unsigned short* tints) const {
  out[0] = (mSep >= 0 && mSep < TavColor::kMaxSeparations) ? TintToByte(tints[mSep]) : 0;
}

bool CsDeviceGray::IsEqual(const ColorSpace& other) const {
  const auto* o = dynamic_cast<const CsDeviceGray*>(&other);
  return o && CsMasked::IsEqual(other) && o->mSep == mSep;
}

ColorSpace* CsDeviceGray::Clone() const { return new CsDeviceGray(*this); }
bool CsDeviceGray::IsDeviceGray() const { return true; }
int CsDeviceGray::GetSepCount() const { return mSep >= 0 ? 1 : 0; }
bool CsDeviceGray::InColorSpace(int sep) const { return sep >= 0 && sep == mSep; }
int CsDeviceGray::GetSepSorted(int i) const { return (i == 0 && mSep >= 0) ? mSep : -1; }

// ---------------------------------------------------------------- CsDeviceN

namespace {
bool ValidSep(int sep) { return sep >= 0 && sep < TavColor::kMaxSeparations; }
}  // namespace

static void FillSepList(const jobstr* job, std::int32_t* list) {
  for (int i = 0; i < TavColor::kMaxSeparations; ++i) {
    const int sep = job ? sepsoruse(job, i, false) : -1;
    list[i] = ValidSep(sep) ? sep : -1;
  }
}

CsDeviceN::CsDeviceN(const jobstr* job, const unsigned short* tints, unsigned short low,
                     unsigned short high, const Options& options,
                     std::shared_ptr<seppdftyp> sepData)
    : CsMasked(job, options.noTransfer),
      mForceDeviceN(options.forceDeviceN ? 1 : 0),
      mMaxColorants(std::max(1, options.maxColorants)),
      mAllowSeparationCS(options.allowSeparationCS ? 1 : 0),
      mSepData(std::move(sepData)) {
  FillSepList(job, mSepList);
  if (!tints) return;
  for (int i = 0; i < TavColor::kMaxSeparations; ++i) {
    const int sep = mSepList[i];
    if (sep < 0) continue;
    const unsigned short t = tints[sep];
    if (t != kTintUndefined && t >= low && t <= high) mUse[sep] = 1;
  }
}

CsDeviceN::CsDeviceN(const jobstr* job, int sep, const Options& options,
                     std::shared_ptr<seppdftyp> sepData)
    : CsDeviceN(job, nullptr, 0, 0, options, std::move(sepData)) {
  if (ValidSep(sep)) mUse[sep] = 1;
}

int CsDeviceN::GetClassID() const { return kClassID; }

void CsDeviceN::SepsToBuffer(unsigned char* out, const unsigned short* tints) const {
  int n = 0;
  for (int i = 0; i < TavColor::kMaxSeparations; ++i) {
    const int sep = mSepList[i];
    if (sep >= 0 && mUse[sep]) out[n++] = TintToByte(tints[sep]);
  }
}

bool CsDeviceN::IsEqual(const ColorSpace& other) const {
  const CsDeviceN* o = other.AsDeviceN();
  // Equal use and order of the inks give equal ink sets, which the general
  // comparison would otherwise test ink by ink.
  if (!o || o->GetClassID() != GetClassID() || o->mJob != mJob || o->mOverprint != mOverprint ||
      o->mNoTransfer != mNoTransfer) {
    return false;
  }
  return std::equal(std::begin(mUse), std::end(mUse), std::begin(o->mUse)) &&
         std::equal(std::begin(mSepList), std::end(mSepList), std::begin(o->mSepList)) &&
         mForceDeviceN == o->mForceDeviceN && mMaxColorants == o->mMaxColorants &&
         mAllowSeparationCS == o->mAllowSeparationCS &&
         mProcessAsColorants == o->mProcessAsColorants;
}

ColorSpace* CsDeviceN::Clone() const { return new CsDeviceN(*this); }
bool CsDeviceN::IsDeviceN() const { return true; }

int CsDeviceN::GetSepCount() const {
  if (mSepCount >= 0) return mSepCount;
  int n = 0;
  for (int i = 0; i < TavColor::kMaxSeparations; ++i)
    if (mSepList[i] >= 0 && mUse[mSepList[i]]) ++n;
  mSepCount = n;
  return n;
}

bool CsDeviceN::InColorSpace(int sep) const { return ValidSep(sep) && mUse[sep]; }

void CsDeviceN::Unite(const ColorSpace& other) {
  mSepCount = -1;
  for (int sep = 0; sep < TavColor::kMaxSeparations; ++sep)
    if (other.InColorSpace(sep)) mUse[sep] = 1;
}

void CsDeviceN::Intersect(const ColorSpace& other) {
  mSepCount = -1;
  for (int sep = 0; sep < TavColor::kMaxSeparations; ++sep)
    if (!other.InColorSpace(sep)) mUse[sep] = 0;
}

void CsDeviceN::Differ(const ColorSpace& other) {
  mSepCount = -1;
  for (int sep = 0; sep < TavColor::kMaxSeparations; ++sep)
    if (other.InColorSpace(sep)) mUse[sep] = 0;
}

void CsDeviceN::SetSeparationUse(int sep, bool use) {
  mSepCount = -1;
  if (ValidSep(sep)) mUse[sep] = use ? 1 : 0;
}

int CsDeviceN::GetSepSorted(int i) const {
  if (i < 0) return -1;
  for (int slot = 0; slot < TavColor::kMaxSeparations; ++slot) {
    const int sep = mSepList[slot];
    if (sep >= 0 && mUse[sep] && i-- == 0) return sep;
  }
  return -1;
}

bool CsDeviceN::IsPureCMYK() const {
  if (mForceDeviceN || mProcessAsColorants) return false;
  int n = 0;
  for (int slot = 0; slot < TavColor::kMaxSeparations; ++slot) {
    const int sep = mSepList[slot];
    if (sep < 0 || !mUse[sep]) continue;
    if (sepiscmyk(mJob, sep) < 0) return false;
    ++n;
  }
  return n > 0;
}

void CsDeviceN::pdfOutputColor(TavPDF::pdfoutfilter&, const unsigned short*, bool) {}

bool CsDeviceN::ForceSepOff(const jobstr*, int) const { return false; }

std::vector<int> ImageComponentSeparations(const jobstr* job, ColorSpace& space) {
  std::vector<int> seps;
  if (space.pdfGetName(0) == "DeviceCMYK") {
    for (int k = 0; k < 4; ++k) seps.push_back(sepgetcmyk(job, k));
    return seps;
  }
  // The covered inks in the job's order of use, as the space's colourants
  // are ordered. (GetSepSorted would not do: a Separation part answers it
  // only for an index equal to its own ink.)
  for (int slot = 0; slot < TavColor::kMaxSeparations; ++slot) {
    const int sep = sepsoruse(job, slot, false);
    if (ValidSep(sep) && space.InColorSpace(sep)) seps.push_back(sep);
  }
  return seps;
}
