#pragma once
// The workflow's own data in every exported file, read back by its other
// tools: the catalog's PieceInfo (job parameters as XML, the step-and-repeat
// flag, the inks with their types), the catalog's colorant list "VornPNDS"
// (one entry per ink, staggered cutting programs, extended-gamut settings),
// and per page the trim and bleed regions and the station-number text.
#include <memory>
#include <vector>

#include "platform/kernel/tavdb.h"

struct jobstr;
class PDFCsDeviceN;
namespace Xml {
class Element;
}

namespace TavPDF {

class pdfouthan;
class PDFDictionary;
class PDFDictionaryValue;

// The DeviceN space of the inks whose use (sepisused) has a bit of `selector`
// in common with it (1: used, 2: used in soft masks). In normalized output an
// ink whose output name an earlier ink has already is added as well.
std::unique_ptr<PDFCsDeviceN> BuildInkColorSpace(pdfouthan& handler, bool separationOutput,
                                                 int selector);

// The catalog's "PieceInfo": LastModified, Vornhold_StepAndRepeat, inPDF with
// the inks and their types, and the TavLinkInfo metadata stream (written at
// once; no stream may be open).
PDFDictionary* buildPieceInfo(pdfouthan& handler);

// The catalog's "VornPNDS": the inks ("IDB") and, with a staggered cutting
// group or extended-gamut settings, "RDB" (its indirect objects written at once).
PDFDictionary* buildColorantList(pdfouthan& handler);
void buildStaggeredCutData(pdfouthan& handler, PDFDictionary* colorants);
// A numbered cutting program of the cutting object's unstroked paths, in
// hundredths of a millimetre from the trim box's top left corner.
void WriteCuttingProgram(const jobstr* job, PDFDictionary* program, const TavDB::Object* cutting);

// The page's "StationNumber": where and how the job's station-number text is
// set (transformation, font, size, spacing, alignment, inks); null when the
// job has none.
PDFDictionaryValue* MakeStationNumbersInfo(jobstr* job);
// The page's "TrimBleed"; null when the job has no trim and bleed information.
PDFDictionaryValue* MakeTrimAndBleedInfo(const jobstr* job);

// The job's parameters as children of `root` ("TavLink").
void SaveParameters2XML(const jobstr* job, Xml::Element& root);

// Looks for a placed picture (artwork or PDF) that is repeated unchanged and
// never overlaps another placement: the file then is a step and repeat.
class VisitorFindStepAndRepeat : public TavDB::ObjectVisitor {
 public:
  VisitorFindStepAndRepeat(const jobstr* job, bool screening);
  bool VisitGroup(TavDB::Object& group) override;
  bool VisitCompound(TavDB::Object& compound) override;
  bool VisitPath(TavDB::Object& path) override;
  bool IsStepAndRepeat() const { return mFound && !mDiffers && !mOverlaps; }

 private:
  void Consider(TavDB::Object& object);

  const jobstr* mJob;
  bool mFound = false;
  bool mScreening;
  bool mDiffers = false;   // a repeat with another screen
  bool mOverlaps = false;  // two objects overlap
  std::vector<std::pair<int, std::uint16_t>> mPictures;  // picture -> its paint's screen
  std::vector<const TavDB::Object*> mSeen;
};

}  // namespace TavPDF
