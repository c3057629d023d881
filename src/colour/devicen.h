#pragma once
// Colour spaces over several inks: DeviceN (with a PostScript-calculator tint
// transform into DeviceCMYK), DeviceN with NChannel attributes, and the
// multi-separation space that is written as a list of single-ink parts.
//
// A DeviceN space holds at most `maxColorants` colourants (8 below PDF 1.5, 27
// from 1.5); a space over more inks is split into parts of that many, each a
// colour space with its own resource name ("..._a", "..._b", ...). Parts after
// the first are painted with overprint on, so that they do not knock out the
// inks painted before them.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "colour/colorspaces.h"

class PDFCsDeviceN : public CsDeviceN {
 public:
  // The inks are chosen as by the kernel's DeviceN space.
  using CsDeviceN::CsDeviceN;
  PDFCsDeviceN(const PDFCsDeviceN&) = default;

  std::string pdfGetName(int part) override;
  TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const override;
  int pdfGetNumParts() const override;
  TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const override;
  bool pdfHasColorSpaceArray(int part) const override;
  ColorSpace* Clone() const override;
  bool pdfGetTRName(std::string& name) const override;
  CsMasked* pdfGetPart(int part) override;
  void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                             int part) override;

  // The PDF array of one part (owned by the registry), with its tint
  // transform written at once through the handler; null when the part needs
  // none (a process-only space unless pureCMYKAsDeviceN, an empty space that
  // is not forced to DeviceN, a part that does not exist). withAttributes
  // appends << /Subtype /DeviceN /MixingHints << /PrintingOrder [...] >> >>.
  TavPDF::PDFArray* WriteDeviceNColorSpaceArray(TavPDF::pdfouthan* handler, int part,
                                                bool withAttributes,
                                                bool pureCMYKAsDeviceN) const;

  // Whether the colourants of a part are padded with /None: only for a space
  // forced to DeviceN, when no spot ink is left from the part's start to the
  // end of the whole list.
  bool NeedsNonePadding(int part, int n) const;

 protected:
  void pdfOutputColor(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                      bool stroke) override;
  // Operands and operator of a single-part space; `pure` is IsPureCMYK(),
  // which the caller has at hand.
  void WriteDeviceNTints(TavPDF::pdfoutfilter& out, const unsigned short* tints, bool stroke);
  void WriteDeviceNTints(TavPDF::pdfoutfilter& out, const unsigned short* tints, bool stroke, bool pure);
  // pdfGetName with IsPureCMYK() given.
  std::string NameOfPart(int part, bool pure);
  // Selects part `part` (groups counted from the start) and writes its
  // operands; false (nothing written) when the part does not exist or none of
  // its inks has a defined tint.
  bool WritePartColor(TavPDF::pdfoutfilter& out, const unsigned short* tints, int part,
                      bool stroke);
  // The tints of the job's four process inks, C M Y K, as reals.
  TavPDF::PDFArray* GetProcessSepsArray(const unsigned short* tints) const;
  // Separation of the job's process component 0..3, -1 when there is none.
  int ProcessSeparation(int component) const;
  // Colourants of a part (groups counted from the start).
  int PartColorantCount(int part) const;
};

// DeviceN with NChannel attributes: the colourants that are inks of the job
// get their Separation spaces, and the process inks are named as the
// components of DeviceCMYK. Never written in the Separation form.
class CsNChannel : public PDFCsDeviceN {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('N', 'C', 'H', 'A');

  CsNChannel(const jobstr* job, const unsigned short* tints, unsigned short low,
             unsigned short high, const Options& options,
             std::shared_ptr<seppdftyp> sepData = {});
  CsNChannel(const CsNChannel&) = default;

  int GetClassID() const override;
  TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const override;
  ColorSpace* Clone() const override;
};

// A set of inks written as a list of single-ink parts: a Separation part per
// spot ink, and the process inks as one DeviceCMYK part when all four are
// covered, else a Separation part each.
class CsMultiSep : public PDFCsDeviceN {
 public:
  static constexpr int kClassID = MakeColorSpaceTag('M', 'U', 'L', 'T');

  using PDFCsDeviceN::PDFCsDeviceN;
  CsMultiSep(const CsMultiSep&) = default;

  int GetClassID() const override;
  std::string pdfGetName(int part) override;
  TavPDF::PDFArray* pdfGetSepsArray(const unsigned short* tints) const override;
  int pdfGetNumParts() const override;
  TavPDF::PDFArray* pdfGetColorSpace(TavPDF::pdfouthan* handler, int part) const override;
  bool pdfHasColorSpaceArray(int part) const override;
  bool IsEqual(const ColorSpace& other) const override;
  ColorSpace* Clone() const override;
  bool pdfGetTRName(std::string& name) const override;
  bool IsDeviceN() const override;
  bool IsMultiSep() const override;
  CsMasked* pdfGetPart(int part) override;
  void pdfOutputFillColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  void pdfOutputStrokeColor(TavPDF::pdfoutfilter& out, const unsigned short* tints) override;
  bool pdfOutputColorForPart(TavPDF::pdfoutfilter& out, const unsigned short* tints,
                             int part) override;

 private:
  std::unique_ptr<CsMasked> MakePart(int part) const;
};

// The Type 4 (PostScript calculator) program of a tint transform into
// DeviceCMYK: with tints t1..tn of colourants whose CMYK equivalents are
// v[0..n-1], each component becomes 1 - (1 - t1 v1)(1 - t2 v2)...(1 - tn vn).
// Numbers have six decimals and never depend on the locale.
std::string BuildTintTransformProgram(const std::vector<std::array<float, 4>>& cmyk);
