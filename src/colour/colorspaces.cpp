#include "colour/colorspaces.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "colour/colourpdf.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/kernel/job.h"
#include "platform/system.h"

using TavColor::kAllSeparations;
using TavColor::kNoSeparation;

namespace {

bool ValidSep(int sep) { return sep >= 0 && sep < kMaxSeparations; }

// The first separation in the job's order of use, -1 when there is none.
int FirstSortedSeparation(const jobstr* job) {
  for (int i = 0; i < kMaxSeparations; ++i) {
    const int sep = sepsoruse(job, i, false);
    if (ValidSep(sep)) return sep;
  }
  return -1;
}

// One byte of ink from a tint, whole percent of 255 rounded; an undefined or
// out-of-range tint is no ink (it must never come out as full ink).
unsigned char TintToByte(int tint) {
  if (tint < 0 || tint > kTintFull) return 0;
  return static_cast<unsigned char>(std::min(255, (tint + 50) / 100));
}

}  // namespace

// ---------------------------------------------------------------- helpers

char* FormatTintInto(char* out, int tint) {
  if (tint < 1 || tint > kTintFull) {
    out[0] = '0';
    out[1] = ' ';
    return out + 2;
  }
  if (tint == kTintFull) {
    out[0] = '1';
    out[1] = ' ';
    return out + 2;
  }
  if ((tint & 0xFF) == 0) {
    // Whole percents: tint / 25600 is k / 100 for k = tint / 256 below 100.
    const int k = tint >> 8;
    out[0] = '0';
    out[1] = '.';
    out[2] = static_cast<char>('0' + k / 10);
    out[3] = static_cast<char>('0' + k % 10);
    out[4] = ' ';
    return out + 5;
  }
  // In hundred-thousandths the tint is tint * 125 / 32: its fraction is a
  // multiple of 1/32, so the double tint / 25600 (within 10^-11 of it after
  // scaling) rounds the same way unless the fraction is exactly one half.
  // Such a tie is decided by the double's own error: formatted from it.
  const int scaled = tint * 125;
  if (scaled % 32 == 16) {
    char* end = std::to_chars(out, out + 16, tint / 25600.0, std::chars_format::fixed, 5).ptr;
    *end++ = ' ';
    return end;
  }
  int r = scaled / 32 + (scaled % 32 > 16 ? 1 : 0);
  out[0] = '0';
  out[1] = '.';
  for (int i = 6; i >= 2; --i) {
    out[i] = static_cast<char>('0' + r % 10);
    r /= 10;
  }
  out[7] = ' ';
  return out + 8;
}

std::string FormatTintText(int tint) {
  char text[kTintTextMax];
  return std::string(text, FormatTintInto(text, tint));
}

void FormatTint(TavPDF::pdfoutfilter& out, int tint) {
  char text[kTintTextMax];
  out.PutBytes(text, static_cast<std::size_t>(FormatTintInto(text, tint) - text));
}

double TintToReal(unsigned short tint) {
  if (tint == 0 || tint > kTintFull) return 0.0;
  if (tint == kTintFull) return 1.0;
  return tint / 25600.0;
}

void WriteOverprintState(const CsMasked& space, TavPDF::pdfoutfilter& out) {
  auto& state = PdfGraphicsState::Instance();
  if (space.GetOverprint()) {
    if (state.GetOverprintState() != PdfGraphicsState::kOverprintOn) {
      state.SetOverprintState(PdfGraphicsState::kOverprintOn);
      out << "/op1 gs\n";
    }
  } else if (state.GetOverprintState() != PdfGraphicsState::kOverprintOff) {
    state.SetOverprintState(PdfGraphicsState::kOverprintOff);
    out << "/op0 gs\n";
  }
  if (ColorSpace::smUseTRDotgain && !space.GetNoTransfer()) {
    std::string name;
    if (space.pdfGetTRName(name) && !name.empty() && name != state.GetTransferName()) {
      state.SetTransferName(name);
      out << "/" << name.c_str() << " gs\n";
    }
  }
}

namespace {

// "/<name> cs" (or "CS") in one piece.
void WriteColorSpaceOperator(std::string_view name, TavPDF::pdfoutfilter& out, bool stroke) {
  // The name ends at a zero byte, as a C string would.
  name = name.substr(0, name.find('\0'));
  char text[128];
  if (name.size() + 5 > sizeof text) {
    out << "/" << name << (stroke ? " CS\n" : " cs\n");
    return;
  }
  text[0] = '/';
  std::memcpy(text + 1, name.data(), name.size());
  std::memcpy(text + 1 + name.size(), stroke ? " CS\n" : " cs\n", 4);
  out.PutBytes(text, name.size() + 5);
}

}  // namespace

void SelectColorSpace(const ColorSpace& space, TavPDF::pdfoutfilter& out, bool stroke, int part) {
  // pdfGetName is not const in the interface but changes nothing.
  const std::string name = const_cast<ColorSpace&>(space).pdfGetName(part);
  WriteColorSpaceOperator(name, out, stroke);
  if (const auto* masked = dynamic_cast<const CsMasked*>(&space)) WriteOverprintState(*masked, out);
}

void SelectMaskedColorSpace(const CsMasked& space, std::string_view name,
                            TavPDF::pdfoutfilter& out, bool stroke) {
  WriteColorSpaceOperator(name, out, stroke);
  WriteOverprintState(space, out);
}

// ---------------------------------------------------------------- PDFCsDeviceGray

PDFCsDeviceGray::PDFCsDeviceGray(const jobstr* job, bool noTransfer) : CsDeviceGray(job, noTransfer) {}

PDFCsDeviceGray::PDFCsDeviceGray(const jobstr* job, int sep, bool noTransfer)
    : CsDeviceGray(job, sep, noTransfer) {}

std::string PDFCsDeviceGray::pdfGetName(int) { return "DeviceGray"; }

TavPDF::PDFArray* PDFCsDeviceGray::pdfGetSepsArray(const unsigned short* tints) const {
  if (!ValidSep(mSep)) {
    TavSys::debugstring("PDFCsDeviceGray::pdfGetSepsArray >> not allowed");
    return nullptr;
  }
  // Gray is the complement of the ink; an undefined tint is no ink, white.
  const unsigned short t = tints[mSep];
  const double gray = t > kTintFull ? 1.0 : TintToReal(static_cast<unsigned short>(kTintFull - t));
  auto* array = TavColorPdf::NewArray();
  TavColorPdf::Append(array, TavColorPdf::Real(gray));
  return array;
}

ColorSpace* PDFCsDeviceGray::Clone() const { return new PDFCsDeviceGray(*this); }

bool PDFCsDeviceGray::pdfGetTRName(std::string& name) const {
  if (mSep < 0) return false;
  name = "TR_" + std::to_string(mSep);
  return true;
}

void PDFCsDeviceGray::outputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                  bool stroke) {
  const int t = ValidSep(mSep) ? tints[mSep] : kTintUndefined;
  if (t == kTintUndefined) {
    WriteOverprintState(*this, out);
    out << (stroke ? "0 0 0 0 K\n" : "0 0 0 0 k\n");
    return;
  }
  // Gray is the complement of the ink; an out-of-range tint is no ink.
  const int ink = t > kTintFull ? 0 : t;
  FormatTint(out, kTintFull - ink);
  out << (stroke ? "G\n" : "g\n");
}

void PDFCsDeviceGray::pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  outputColor(out, tints, false);
}

void PDFCsDeviceGray::pdfOutputStrokeColor(TavPDF::pdfoutfilter& out,
                                           const unsigned short* tints) {
  outputColor(out, tints, true);
}

bool PDFCsDeviceGray::pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                            int) {
  const int t = ValidSep(mSep) ? tints[mSep] : kTintUndefined;
  if (t == kTintUndefined) return false;
  SelectColorSpace(*this, out, false, 0);
  outputColor(out, tints, false);
  return true;
}

// ---------------------------------------------------------------- CsPartialCMYK

CsPartialCMYK::CsPartialCMYK(const jobstr* job, bool useCyan, bool useMagenta, bool useYellow,
                             bool useBlack, bool noTransfer)
    : CsMasked(job, noTransfer),
      mUse{static_cast<std::uint8_t>(useCyan), static_cast<std::uint8_t>(useMagenta),
           static_cast<std::uint8_t>(useYellow), static_cast<std::uint8_t>(useBlack)} {}

int CsPartialCMYK::GetClassID() const { return kClassID; }
std::string CsPartialCMYK::pdfGetName(int) { return "DeviceCMYK"; }

int CsPartialCMYK::ComponentSeparation(int component) const {
  if (!mComponentSepsKnown) {
    std::fill(std::begin(mComponentSep), std::end(mComponentSep), -1);
    for (int i = 0; i < kMaxSeparations; ++i) {
      const int sep = sepsoruse(mJob, i, false);
      if (!ValidSep(sep)) continue;
      const int c = sepiscmyk(mJob, sep);
      if (c >= 0 && c < 4 && mComponentSep[c] < 0) mComponentSep[c] = sep;
    }
    mComponentSepsKnown = true;
  }
  return (component >= 0 && component < 4) ? mComponentSep[component] : -1;
}

int CsPartialCMYK::ComponentTint(int component, const unsigned short* tints) const {
  if (!UsesComponent(component)) return 0;
  const int sep = ComponentSeparation(component);
  return ValidSep(sep) ? tints[sep] : 0;
}

TavPDF::PDFArray* CsPartialCMYK::pdfGetSepsArray(const unsigned short* tints) const {
  auto* array = TavColorPdf::NewArray();
  for (int c = 0; c < 4; ++c) {
    const int t = ComponentTint(c, tints);
    TavColorPdf::Append(array, TavColorPdf::Real(t > kTintFull ? 0.0 : t / 25600.0));
  }
  return array;
}

int CsPartialCMYK::pdfGetNumParts() const { return 1; }
TavPDF::PDFArray* CsPartialCMYK::pdfGetColorSpace(TavPDF::pdfouthan*, int) const { return nullptr; }
bool CsPartialCMYK::pdfHasColorSpaceArray(int) const { return false; }

void CsPartialCMYK::SepsToBuffer(unsigned char* out, const unsigned short* tints) const {
  for (int c = 0; c < 4; ++c) out[c] = TintToByte(ComponentTint(c, tints));
}

bool CsPartialCMYK::IsEqual(const ColorSpace& other) const {
  // Two subsets of the process inks are the same space only with the same
  // components: they write different operands.
  const auto* o = dynamic_cast<const CsPartialCMYK*>(&other);
  return o && CsMasked::IsEqual(other) && std::equal(mUse, mUse + 4, o->mUse);
}

ColorSpace* CsPartialCMYK::Clone() const { return new CsPartialCMYK(*this); }

bool CsPartialCMYK::pdfGetTRName(std::string& name) const {
  name = "TR_CMYK";
  return true;
}

bool CsPartialCMYK::IsDeviceCMYK() const { return true; }
int CsPartialCMYK::GetSepCount() const { return 4; }
bool CsPartialCMYK::InColorSpace(int sep) const { return ValidSep(sep) && sepiscmyk(mJob, sep) >= 0; }
void CsPartialCMYK::Unite(const ColorSpace&) {}
void CsPartialCMYK::Intersect(const ColorSpace&) {}
void CsPartialCMYK::Differ(const ColorSpace&) {}
void CsPartialCMYK::SetSeparationUse(int, bool) {}

int CsPartialCMYK::GetSepSorted(int i) const { return ComponentSeparation(i); }

CsMasked* CsPartialCMYK::pdfGetPart(int part) {
  return part == 0 ? new CsPartialCMYK(*this) : nullptr;
}

void CsPartialCMYK::outputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                bool stroke) {
  WriteOverprintState(*this, out);
  for (int c = 0; c < 4; ++c) FormatTint(out, ComponentTint(c, tints));
  out << (stroke ? "K\n" : "k\n");
}

void CsPartialCMYK::pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  outputColor(out, tints, false);
}

void CsPartialCMYK::pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  outputColor(out, tints, true);
}

bool CsPartialCMYK::pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                          int) {
  outputColor(out, tints, false);
  return true;
}

// ---------------------------------------------------------------- CsSeparation

CsSeparation::CsSeparation(const jobstr* job, int sep, bool noTransfer)
    : CsMasked(job, noTransfer), mSep(sep) {
  // Registration colour knocks out; a single ink overprints the others.
  mOverprint = sep != kAllSeparations ? 1 : 0;
}

int CsSeparation::GetClassID() const { return kClassID; }

std::string CsSeparation::pdfGetName(int) {
  if (mSep == kAllSeparations) return "sepall";
  if (mSep == kNoSeparation) return "sepNone";
  return "Sep" + std::to_string(mSep);
}

int CsSeparation::PaintedTint(const unsigned short* tints) const {
  if (mSep == kAllSeparations) {
    // Registration paints every ink with the tint of the first one; a job
    // without inks paints nothing (tint 0), never an operator without operand.
    const int first = FirstSortedSeparation(mJob);
    return ValidSep(first) ? tints[first] : 0;
  }
  return ValidSep(mSep) ? tints[mSep] : 0;
}

TavPDF::PDFArray* CsSeparation::pdfGetSepsArray(const unsigned short* tints) const {
  auto* array = TavColorPdf::NewArray();
  TavColorPdf::Append(array,
                      TavColorPdf::Real(TintToReal(static_cast<unsigned short>(PaintedTint(tints)))));
  return array;
}

int CsSeparation::pdfGetNumParts() const { return 1; }

TavPDF::PDFArray* CsSeparation::pdfGetColorSpace(TavPDF::pdfouthan* handler, int) const {
  // Samples of the tint function: CMYK at tint 0, then at tint 1.
  unsigned char samples[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::string name;
  if (mSep == kAllSeparations) {
    name = "All";
    std::fill(samples + 4, samples + 8, 255);
  } else if (mSep == kNoSeparation) {
    name = "None";
  } else {
    if (!ValidSep(mSep)) return nullptr;
    name = TavColorPdf::SeparationName(handler, mJob, mSep);
    const unsigned char fullInk = 0;  // the kernel's ink samples: 0 is full ink
    sepcmyklin(mJob, mSep, &fullInk, samples + 4, 1);
  }
  return TavColorPdf::SeparationArray(handler, name, samples);
}

bool CsSeparation::pdfHasColorSpaceArray(int) const { return true; }

void CsSeparation::SepsToBuffer(unsigned char* out, const unsigned short* tints) const {
  out[0] = TintToByte(PaintedTint(tints));
}

bool CsSeparation::IsEqual(const ColorSpace& other) const {
  const auto* o = dynamic_cast<const CsSeparation*>(&other);
  return o && CsMasked::IsEqual(other) && o->mSep == mSep;
}

ColorSpace* CsSeparation::Clone() const { return new CsSeparation(*this); }

bool CsSeparation::pdfGetTRName(std::string& name) const {
  if (mSep < 0) return false;
  name = "TR_" + std::to_string(mSep);
  return true;
}

int CsSeparation::GetSepCount() const { return 1; }
bool CsSeparation::InColorSpace(int sep) const { return sep == mSep; }
void CsSeparation::Unite(const ColorSpace&) {}
void CsSeparation::Intersect(const ColorSpace&) {}
void CsSeparation::Differ(const ColorSpace&) {}
void CsSeparation::SetSeparationUse(int, bool) {}
int CsSeparation::GetSepSorted(int i) const { return i == mSep ? mSep : -1; }

void CsSeparation::pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  SelectColorSpace(*this, out, false, 0);
  FormatTint(out, PaintedTint(tints));
  out << "scn\n";
}

void CsSeparation::pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) {
  SelectColorSpace(*this, out, true, 0);
  FormatTint(out, PaintedTint(tints));
  out << "SCN\n";
}

bool CsSeparation::pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                                         int) {
  pdfOutputFillColor(out, tints);
  return true;
}
