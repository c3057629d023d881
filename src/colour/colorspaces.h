#pragma once
// The PDF side of the simple colour spaces: gray on one ink, a subset of the
// process inks written as DeviceCMYK, and one separation (or all inks for
// registration, or none); with the helpers every colour space uses to write
// tints and to select the overprint and transfer graphics states.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/kernel/colorspace.h"

// Writes one tint operand followed by one blank: "0 " for no ink (tint below
// 1, above 25600, or undefined), "1 " for 25600, else the fraction with 2
// decimals when the tint is a multiple of 256 and 5 otherwise. Always in the
// C locale.
void FormatTint(TavPDF::pdfoutfilter& out, int tint);
// The same text as FormatTint, without the sink.
std::string FormatTintText(int tint);
// The same text written at `out`, which has room for kTintTextMax bytes;
// returns its end.
constexpr int kTintTextMax = 16;
char* FormatTintInto(char* out, int tint);
// 0.0 for 0, an undefined or out-of-range tint; 1.0 at 25600; else tint / 25600.
double TintToReal(unsigned short tint);

// Makes "/op1 gs" (overprint flag set) or "/op0 gs" current unless the
// graphics-state cache says it is, then, when transfer-function states are in
// use and the space allows one, the space's transfer graphics state.
void WriteOverprintState(const CsMasked& space, TavPDF::pdfoutfilter& out);
// "/<name of part> cs" (or "CS" for stroking), then WriteOverprintState.
void SelectColorSpace(const ColorSpace& space, TavPDF::pdfoutfilter& out, bool stroke, int part);
// The same for a masked space whose part's name the caller already has.
void SelectMaskedColorSpace(const CsMasked& space, std::string_view name,
                            TavPDF::pdfoutfilter& out, bool stroke);

// DeviceGray on one separation.
class PDFCsDeviceGray : public CsDeviceGray {
 public:
  PDFCsDeviceGray(const jobstr* job, bool noTransfer);
  PDFCsDeviceGray(const jobstr* job, int sep, bool noTransfer);
  PDFCsDeviceGray(const PDFCsDeviceGray&) = default;

  std::string pdfGetName(int part) override;
  TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const override;
  ColorSpace* Clone() const override;
  bool pdfGetTRName(std::string& name) const override;
  void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                             int part) override;

 private:
  void outputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints, bool stroke);
};

// A subset of the four process inks, written as DeviceCMYK.
class CsPartialCMYK : public CsMasked {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('P', 'C', 'M', 'Y');

  CsPartialCMYK(const jobstr* job, bool useCyan, bool useMagenta, bool useYellow, bool useBlack,
                bool noTransfer);
  CsPartialCMYK(const CsPartialCMYK&) = default;

  int GetClassID() const override;
  std::string pdfGetName(int part) override;
  TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const override;
  int pdfGetNumParts() const override;
  TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const override;
  bool pdfHasColorSpaceArray(int part) const override;
  void SepsToBuffer(unsigned char* out, const unsigned short* tints) const override;
  bool IsEqual(const ColorSpace& other) const override;
  ColorSpace* Clone() const override;
  bool pdfGetTRName(std::string& name) const override;
  bool IsDeviceCMYK() const override;
  int GetSepCount() const override;
  bool InColorSpace(int sep) const override;
  void Unite(const ColorSpace& other) override;
  void Intersect(const ColorSpace& other) override;
  void Differ(const ColorSpace& other) override;
  void SetSeparationUse(int sep, bool use) override;
  int GetSepSorted(int i) const override;
  CsMasked* pdfGetPart(int part) override;
  void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                             int part) override;

  bool UsesComponent(int component) const {
    return component >= 0 && component < 4 && mUse[component] != 0;
  }

 private:
  // Separation number of process component 0..3 of the job, -1 when the job
  // has none; looked up once.
  int ComponentSeparation(int component) const;
  // The tint written for a component: 0 when unused or when the job lacks
  // the ink.
  int ComponentTint(int component, const unsigned short* tints) const;
  void outputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints, bool stroke);

  std::uint8_t mUse[4];
  mutable std::int32_t mComponentSep[4] = {-1, -1, -1, -1};
  mutable bool mComponentSepsKnown = false;
};

// One separation ink, or every ink (registration, -1), or none (-2).
class CsSeparation : public CsMasked {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('C', 'S', 'E', 'P');

  CsSeparation(const jobstr* job, int sep, bool noTransfer);
  CsSeparation(const CsSeparation&) = default;

  int GetClassID() const override;
  std::string pdfGetName(int part) override;
  TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const override;
  int pdfGetNumParts() const override;
  TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const override;
  bool pdfHasColorSpaceArray(int part) const override;
  void SepsToBuffer(unsigned char* out, const unsigned short* tints) const override;
  bool IsEqual(const ColorSpace& other) const override;
  ColorSpace* Clone() const override;
  bool pdfGetTRName(std::string& name) const override;
  int GetSepCount() const override;
  bool InColorSpace(int sep) const override;
  void Unite(const ColorSpace& other) override;
  void Intersect(const ColorSpace& other) override;
  void Differ(const ColorSpace& other) override;
  void SetSeparationUse(int sep, bool use) override;
  int GetSepSorted(int i) const override;
  void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                             int part) override;

  int GetSeparation() const { return mSep; }

 private:
  // The tint this space paints: its separation's, for registration the first
  // ink's in the job's order (0 without inks), for none 0.
  int PaintedTint(const unsigned short* tints) const;

  std::int32_t mSep;
};
