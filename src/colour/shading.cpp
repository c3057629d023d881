#include "colour/shading.h"

#include <cmath>
#include <functional>
#include <memory>

#include "colour/colourpdf.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernel/colorspace.h"
#include "platform/system.h"

namespace TavPDF {

using TavColorPdf::Append;
using TavColorPdf::Integer;
using TavColorPdf::Name;
using TavColorPdf::NewArray;
using TavColorPdf::Real;

bool PDFShadingType::isEqual(const TavricLib::Shading& other) const {
  return TavricLib::Shading::isEqual(other);
}

PDFShadingType2::PDFShadingType2(const TavricLib::Coord& start, const TavricLib::Coord& end,
                                 const ColorSpace* space,
                                 const std::vector<const unsigned short*>& tints,
                                 const std::vector<double>& bounds,
                                 const std::vector<double>& exponents)
    : PDFShadingType(2, start, end, space, tints, bounds, exponents) {}

PDFShadingType2::PDFShadingType2(const TavricLib::Coord& start, const TavricLib::Coord& end,
                                 const ColorSpace* space, const unsigned short* c0,
                                 const unsigned short* c1)
    : PDFShadingType(2, start, end, space, c0, c1) {}

PDFArray* PDFShadingType2::Coords() const {
  PDFArray* a = NewArray();
  for (double v : {GetStart().x, GetStart().y, GetEnd().x, GetEnd().y}) Append(a, Real(v));
  return a;
}

PDFShadingType3::PDFShadingType3(const TavricLib::Coord& start, double r0,
                                 const TavricLib::Coord& end, double r1, const ColorSpace* space,
                                 const std::vector<const unsigned short*>& tints,
                                 const std::vector<double>& bounds,
                                 const std::vector<double>& exponents)
    : PDFShadingType(3, start, end, space, tints, bounds, exponents), mR0(r0), mR1(r1) {}

PDFShadingType3::PDFShadingType3(const TavricLib::Coord& start, double r0,
                                 const TavricLib::Coord& end, double r1, const ColorSpace* space,
                                 const unsigned short* c0, const unsigned short* c1)
    : PDFShadingType(3, start, end, space, c0, c1), mR0(r0), mR1(r1) {}

bool PDFShadingType3::isEqual(const TavricLib::Shading& other) const {
  const auto* o = dynamic_cast<const PDFShadingType3*>(&other);
  return o != nullptr && o->mR0 == mR0 && o->mR1 == mR1 && PDFShadingType::isEqual(other);
}

std::size_t PDFShadingType3::hash() const {
  return PDFShadingType::hash() ^ (std::hash<double>()(mR0) * 31 + std::hash<double>()(mR1));
}

PDFArray* PDFShadingType3::Coords() const {
  PDFArray* a = NewArray();
  for (double v : {GetStart().x, GetStart().y, mR0, GetEnd().x, GetEnd().y, mR1}) Append(a, Real(v));
  return a;
}

namespace {

PDFArray* unitDomain() {
  PDFArray* domain = NewArray();
  Append(domain, Integer(0));
  Append(domain, Integer(1));
  return domain;
}

// << /FunctionType 2 /Domain [0 1] /C0 c0 /C1 c1 /N n >>
PDFDictionary* exponentialFunction(ColorSpace& space, const TavricLib::Shading::Tints& c0,
                                   const TavricLib::Shading::Tints& c1, PDFDictionaryValue* n) {
  PDFArray* from = space.pdfGetSepsArray(c0.data());
  PDFArray* to = space.pdfGetSepsArray(c1.data());
  if (from == nullptr || to == nullptr) return nullptr;
  auto* f = new PDFDictionary();
  f->Set("FunctionType", Integer(2));
  f->Set("Domain", unitDomain());
  f->Set("C0", from);
  f->Set("C1", to);
  f->Set("N", n);
  return f;
}

// The colour function of the stops: one exponential function for two stops
// joined linearly, else a stitching function of one exponential function per
// segment. A single stop is a constant colour (a stitching function without
// sub-functions would be invalid).
PDFDictionary* colourFunction(const TavricLib::Shading& shading, ColorSpace& space) {
  const auto& t = shading.GetTints();
  const auto& exponents = shading.GetExponents();
  if (t.size() == 1) return exponentialFunction(space, t[0], t[0], Integer(1));
  if (t.size() == 2 && !exponents.empty() && exponents[0] == 1.0) {
    return exponentialFunction(space, t[0], t[1], Integer(1));
  }
  PDFArray* functions = NewArray();
  PDFArray* encode = NewArray();
  for (std::size_t k = 0; k + 1 < t.size(); ++k) {
    const double e = k < exponents.size() ? exponents[k] : 1.0;
    const bool backwards = e < 0.0;
    PDFDictionary* segment = backwards
                                 ? exponentialFunction(space, t[k + 1], t[k], Real(-e))
                                 : exponentialFunction(space, t[k], t[k + 1], Real(e));
    if (segment == nullptr) return nullptr;
    Append(functions, segment);
    Append(encode, Real(backwards ? 1.0 : 0.0));
    Append(encode, Real(backwards ? 0.0 : 1.0));
  }
  PDFArray* bounds = NewArray();
  for (double b : shading.GetBounds()) Append(bounds, Real(b));
  auto* f = new PDFDictionary();
  f->Set("FunctionType", Integer(3));
  f->Set("Domain", unitDomain());
  f->Set("Functions", functions);
  f->Set("Bounds", bounds);
  f->Set("Encode", encode);
  return f;
}

}  // namespace

PDFDictionary* WriteShadingDictionary(const PDFShadingType& shading, pdfouthan* handler,
                                      PdfColorSpaces* pageColorSpaces) {
  ColorSpace* space = shading.GetColorSpace();
  if (space == nullptr || handler == nullptr || shading.GetTints().empty()) {
    TavSys::debug("<WriteShadingDictionary> a shading without colour space or colours");
    return nullptr;
  }
  auto* dictionary = new PDFDictionary();
  dictionary->Set("ShadingType", Integer(shading.GetShadingType()));
  if (space->pdfHasColorSpaceArray(0)) {
    // Many shadings share a colour space: most find it written by its name.
    PDFIndirectReference* ref =
        pageColorSpaces != nullptr ? pageColorSpaces->writtenByName(space->pdfGetName(0)) : nullptr;
    if (ref == nullptr && pageColorSpaces != nullptr) {
      std::unique_ptr<CsMasked> part(space->pdfGetPart(0));
      if (part) ref = pageColorSpaces->ensureIndRef(handler, *part, 0);
    }
    if (ref == nullptr) {
      TavSys::debug("<WriteShadingDictionary> the shading's colour space could not be written");
      return nullptr;
    }
    dictionary->Set("ColorSpace", ref);
  } else {
    dictionary->Set("ColorSpace", Name(space->pdfGetName(0)));
  }
  dictionary->Set("Coords", shading.Coords());
  PDFDictionary* function = colourFunction(shading, *space);
  if (function == nullptr) {
    TavSys::debug("<WriteShadingDictionary> the colour space gives no colour values");
    return nullptr;
  }
  PDFIndirectReference* functionRef = handler->makeIndirect(function);
  handler->writeObject(functionRef);
  dictionary->Set("Function", functionRef);
  PDFArray* extend = NewArray();
  Append(extend, new PDFBool(true));
  Append(extend, new PDFBool(true));
  dictionary->Set("Extend", extend);
  return dictionary;
}

}  // namespace TavPDF
