#pragma once
// Smooth shadings of linear and circular gradients: axial (ShadingType 2) and
// radial (ShadingType 3) shading dictionaries whose colour runs through one
// exponential (Type 2) function between two colours, or through a stitching
// (Type 3) function over several colour stops. The page writer hands them to
// the page's pending shading list (pdfwriter/pdfpending.h), which names them
// "Sh" + index, drops duplicates and writes each one once per file.
#include <vector>

#include "platform/kernel/shading.h"

namespace TavPDF {

class PDFArray;
class PDFDictionary;
class PdfColorSpaces;
class pdfouthan;

class PDFShadingType : public TavricLib::Shading {
 public:
  using TavricLib::Shading::Shading;
  // The kernel's equality (an axial shading equals one of the same points,
  // stops and space).
  bool isEqual(const TavricLib::Shading& other) const override;
  // The Coords array of the dictionary (registry-owned).
  virtual PDFArray* Coords() const = 0;
};

// Axial: Coords [x0 y0 x1 y1].
class PDFShadingType2 : public PDFShadingType {
 public:
  PDFShadingType2(const TavricLib::Coord& start, const TavricLib::Coord& end,
                  const ColorSpace* space, const std::vector<const unsigned short*>& tints,
                  const std::vector<double>& bounds, const std::vector<double>& exponents);
  PDFShadingType2(const TavricLib::Coord& start, const TavricLib::Coord& end,
                  const ColorSpace* space, const unsigned short* c0, const unsigned short* c1);
  PDFArray* Coords() const override;
};

// Radial: Coords [x0 y0 r0 x1 y1 r1]; the first circle is the start.
class PDFShadingType3 : public PDFShadingType {
 public:
  PDFShadingType3(const TavricLib::Coord& start, double r0, const TavricLib::Coord& end, double r1,
                  const ColorSpace* space, const std::vector<const unsigned short*>& tints,
                  const std::vector<double>& bounds, const std::vector<double>& exponents);
  PDFShadingType3(const TavricLib::Coord& start, double r0, const TavricLib::Coord& end, double r1,
                  const ColorSpace* space, const unsigned short* c0, const unsigned short* c1);
  // Equal radii as well.
  bool isEqual(const TavricLib::Shading& other) const override;
  std::size_t hash() const override;
  PDFArray* Coords() const override;
  double GetStartRadius() const { return mR0; }
  double GetEndRadius() const { return mR1; }

 private:
  double mR0;
  double mR1;
};

// The shading dictionary (a direct object, registry-owned; the caller gives
// it its number). Its function is written at once as an indirect object; a
// colour space with an array of its own is named by the reference of its
// written part from the page's colour-space list. Null for a shading without
// colour stops or colour space.
PDFDictionary* WriteShadingDictionary(const PDFShadingType& shading, pdfouthan* handler,
                                      PdfColorSpaces* pageColorSpaces);

}  // namespace TavPDF
