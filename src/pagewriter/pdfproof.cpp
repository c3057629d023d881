// The PDF page writer: construction, simple answers to the walker, the choice
// of colour-space objects, marked content and the end of the content stream.
#include "pagewriter/pdfproof.h"

#include <algorithm>
#include <cmath>

#include "colour/colorspaces.h"
#include "colour/halftone.h"
#include "colour/devicen.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/strokeinfo.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "platform/kernel/objectplace.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kLayerNonPrinting = 0x40000;
constexpr std::uint32_t kLayerHidden = 0x800000;
constexpr std::uint32_t kLayerLocked = 0x8000000;
constexpr std::uint32_t kSearchExcluded = 0x20000;
constexpr std::uint32_t kSearchNonPrinting = 0x40000;

// The flattener's resolution (points per inch) used for gradations when the
// export has not set one of its own.
constexpr double kDefaultFlattenerResolution = 300.0;

bool tintDefined(std::uint16_t t) { return t != kTintUndefined; }

// Whether any object of the tree (not excluded by the search flags) is
// painted with transparency.
bool treeHasTransparency(const jobstr* job, const TavDB::Object* list, std::uint32_t searchFlags) {
  if (list == nullptr) return false;
  for (const auto& child : list->members()) {
    if ((child->flags() & (kSearchExcluded | searchFlags)) != 0) continue;
    if (paintHasTransparency(job, child->paint())) return true;
    if (const TavDB::Stroke* stroke = child->stroke();
        stroke != nullptr && paintHasTransparency(job, stroke->paint)) {
      return true;
    }
    if (child->isList() && treeHasTransparency(job, child.get(), searchFlags)) return true;
  }
  return false;
}

}  // namespace

[[noreturn]] void RefuseUnsupported(const std::string& what, const jobstr* job, const TavDB::Object* object) {
  TavSys::Error refusal(TavSys::kResultAbandoned, "PDF/OBJECT NOT SUPPORTED YET",
                        "the page writer cannot write " + what + " yet");
  refusal.with("__OBJECTKIND__", what);
  // Until an object is known (the walk names it on the way out).
  refusal.with("__OBJECT__", "an object of the page");
  TavKernel::NameObjectInError(refusal, job, object);
  throw refusal;
}

std::int32_t PDFProof::ChooseGradationResolution(const PDFSettings& s, double flattenerResolution) {
  if (s.NormalizedOutput == 0 && s.UseDownsampling == 1 &&
      flattenerResolution > s.DownsampleResolution &&
      (s.DownsampleUseMinimum == 0 || flattenerResolution >= s.DownsampleFromPPI)) {
    return s.DownsampleResolution;
  }
  if (!(flattenerResolution > 0) || flattenerResolution > 1e6) return 300;
  return static_cast<std::int32_t>(flattenerResolution);
}

PDFProof::PDFProof(jobstr* job, pdfouthan* handler, PDFDictionary* resources,
                   PDFDictionary* patterns, PDFDictionary* xobjects, PDFDictionary* extGStates,
                   const PDFSettings& settings, std::int32_t* writerCounter, PdfPending* pending,
                   std::map<std::int32_t, PDFBaseClass*>* formCache,
                   std::shared_ptr<seppdftyp> sepData, bool sharedHalftoneMode, bool nestedWriter,
                   PDFDictionaryValue* sharedHalftone, bool oneUpLink, bool handlerFlag,
                   bool insideOneUp, bool openContent)
    : genproof(job, ChooseGradationResolution(settings, kDefaultFlattenerResolution), 1,
               settings.MaxPathSize, kColorSpaceObjects,
               settings.OutputFullyTransparentObjects != 0,
               handler != nullptr && !handler->mProgressLabel.empty() ? handler->mProgressLabel
                                                                      : "Output"),
      mHandler(handler),
      mResources(resources),
      mPatterns(patterns),
      mXObjects(xobjects),
      mExtGStates(extGStates),
      mStreamDictionary(new PDFDictionary()),
      mSettings(settings),
      mSharedHalftoneMode(sharedHalftoneMode),
      mScreensFromParent(sharedHalftoneMode),
      mNestedWriter(nestedWriter),
      mSharedHalftone(sharedHalftone),
      mOneUpLink(oneUpLink),
      mHandlerFlag(handlerFlag),
      mInsideOneUp(insideOneUp),
      mWriterCounter(writerCounter),
      mPending(pending),
      mFormCache(formCache),
      mSepData(std::move(sepData)),
      mOptimizeWhiteObjects(settings.OptimizeWhiteObjects != 0) {
  if (mHandler == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "", "PDFProof: no output handler");
  }
  mSeparationCount = sepGetCount(job, false, false);
  mSingleSeparation = mSeparationCount == 1;
  if (settings.AddNonPrintingLayers == 0) mSearchFlags |= kSearchNonPrinting;

  mPictureCache.BuildPictureCache(this);
  if (settings.CompressPages != 0) mStreamDictionary->Set("Filter", new PDFName("FlateDecode"));
  if (settings.EnableDotgain != 0 && settings.NormalizedOutput == 0 && mExtGStates != nullptr) {
    AddTransferFunctionStates(mExtGStates);
  }

  if (openContent) mContent = mHandler->beginStream(mStreamDictionary);
  if (openContent && mContent == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "",
                        "PDFProof: the content stream could not be opened (a stream is open)");
  }
  if (mWriterCounter != nullptr) {
    mWriterNumber = (*mWriterCounter)++;
  }
  if (mWriterNumber == 0) mContents = new PDFArray();

  mStrokeType = 1;
  // The job's ink remapping (Separation::mappedTo) is the host's and stays as
  // it is: this model keeps no per-writer use marks in the separation map
  // that a new writer would have to clear.

  // In separated output, white objects may only be left out when nothing is
  // transparent. The caller's settings stay as they are.
  if (settings.SeparatedOutput != 0 && mOptimizeWhiteObjects &&
      treeHasTransparency(job, jobGetSpahan(job), mSearchFlags)) {
    mOptimizeWhiteObjects = false;
  }
}

PDFProof::~PDFProof() {
  // An image still open when the writer gives up: its encoder goes with it
  // (the buffered file itself is removed by its pending record).
  if (mTempSink != nullptr && mTempSink != mTempOutput.get()) delete mTempSink;
}

std::uint32_t PDFProof::GetVersionCode() const { return mHandler->getVersionCode(); }

pdfoutfilter& PDFProof::Out() {
  if (mContent == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "",
                        "PDFProof: content written after the stream was finished");
  }
  return *mContent;
}

genoutfil& PDFProof::GetOutputStream() { return Out(); }

std::uint64_t PDFProof::GetMaxColorants() { return GetVersionCode() < kPdf15 ? 8 : 27; }

bool PDFProof::UseDownsamplerSmoothing() { return mSettings.UseAveraging != 0; }

double PDFProof::GetImageDownsampleFactor(int resolution, int scale, double ratio) {
  if (mSettings.UseDownsampling == 0) return 1.0;
  const double target =
      static_cast<double>(static_cast<std::int64_t>(double(mSettings.DownsampleResolution) * scale));
  const double denominator = target * ratio;
  // A zero or negative target, scale or ratio gives no factor at all.
  if (!(denominator > 0) || !std::isfinite(denominator)) return 1.0;
  const double f = resolution / denominator;
  if (f == 0 || !std::isfinite(f)) return 1.0;
  if (mSettings.DownsampleUseMinimum != 0) {
    const double effective = resolution / (double(scale) * ratio);
    if (mSettings.DownsampleFromPPI > effective) return 1.0;
  }
  return f;
}

std::optional<std::shared_ptr<seppdftyp>> PDFProof::GetSeparationPdf() {
  if (mSepData) return mSepData;
  return std::nullopt;
}

// A centre stroke, written with the stroke operators: its colour goes to the
// stroking side. An inside or outside stroke is filled as an outline, on the
// fill side.
bool PDFProof::IsSymmetricStroke() const {
  return mStrokeInfo && mStrokeInfo->isSymmetricStroke();
}

std::string PDFProof::MakeImageResourceName(int first, int second) {
  if (first == 0) return "Im" + std::to_string(second);
  return "Im" + std::to_string(first) + "_" + std::to_string(second);
}

PDFDictionary* PDFProof::GetSubDictionary(PDFDictionary* dictionary, const char* name, bool create) {
  return GetOrCreateSubDictionary(dictionary, name, create);
}

PDFDictionary* PDFProof::AddOverprintStates() {
  auto* states = new PDFDictionary();
  auto* on = new PDFDictionary();
  on->Set("Type", new PDFName("ExtGState"));
  on->Set("OP", new PDFBool(true));
  on->Set("OPM", new PDFInteger(1));
  auto* off = new PDFDictionary();
  off->Set("Type", new PDFName("ExtGState"));
  off->Set("OP", new PDFBool(false));
  off->Set("OPM", new PDFInteger(0));
  states->Set("op1", on);
  states->Set("op0", off);
  if (mSettings.EnableDotgain != 0 && mSettings.NormalizedOutput == 0) AddTransferFunctionStates(states);
  return states;
}

int PDFProof::CountLayersAfter(const TavDB::Object* layer) const {
  TavDB::ListScan scan(jobGetSpahan(mJob), TavDB::kObjLayer, 0);
  bool after = false;
  int count = 0;
  for (TavDB::Object* l = scan.next(); l != nullptr; l = scan.next()) {
    if (l == layer) {
      after = true;
      continue;
    }
    if (after && (l->flags() & kSearchExcluded) == 0) ++count;
  }
  return count;
}

// ---- the colour-space object of a tint vector ----------------------------------

bool PDFProof::SeparationColorSpaceInputs(ColorSpaceInputs& inputs) const {
  const int positions = sepfrejob(mJob);
  for (int p = 0; p < positions && p < kMaxSeparations; ++p) {
    const int s = sepsoruse(mJob, p, false);
    // 0 stays for a position that prints nothing.
    if (s >= 0) inputs.separations[static_cast<std::size_t>(p)] = static_cast<std::int16_t>(s * 8 + sepiscmyk(mJob, s) + 2);
  }
  const auto bit = [](bool on, int shift) { return static_cast<std::uint32_t>(on) << shift; };
  inputs.state = bit(mSoftMaskDepth != 0, 0) | bit(mSingleSeparation, 1) | bit(mOneUpLink, 2) |
                 bit(mSettings.EnableDotgain != 0, 3) | bit(mSettings.NormalizedOutput != 0, 4) |
                 bit(mSettings.SeparatedOutput != 0, 5) | bit(GetVersionCode() < kPdf15, 6);
  inputs.data = mSepData.get();
  return true;
}

ColorSpace* PDFProof::GetSeparationColorSpace(const std::uint16_t* tints, std::uint16_t low,
                                              std::uint16_t high, bool countProcess, bool flagB,
                                              bool flagC, bool flagD, bool flagE) {
  const jobstr* job = mJob;
  const int positions = sepfrejob(job);
  const bool inSoftMask = mSoftMaskDepth != 0;
  const int maxColorants = static_cast<int>(GetMaxColorants());
  auto inRange = [&](std::uint16_t t) { return tintDefined(t) && t >= low && t <= high; };

  // With dot gain the inks are written one by one (their transfer functions
  // differ); a partial set of process inks goes the ordinary way below.
  if (mSettings.EnableDotgain != 0 && mSettings.NormalizedOutput == 0) {
    CsDeviceN::Options options;
    options.forceDeviceN = flagD;
    options.noTransfer = inSoftMask;
    options.maxColorants = maxColorants;
    std::shared_ptr<seppdftyp> data = inSoftMask ? nullptr : mSepData;
    if (countProcess) {
      int process = 0;
      bool undefined = false;
      for (int p = 0; p < positions; ++p) {
        const int s = sepsoruse(job, p, false);
        if (s < 0) continue;
        if (!tintDefined(tints[s])) undefined = true;
        if (sepiscmyk(job, s) >= 0 && inRange(tints[s])) ++process;
      }
      if (process == 0 || process == 4) {
        const std::uint16_t lo = (low == 0 && !undefined) ? 1 : low;
        auto* cs = new CsMultiSep(job, tints, lo, high, options, data);
        cs->SetUndefinedTints(undefined);
        cs->SetOverprint(undefined);
        return cs;
      }
    } else {
      bool allZero = true, processAtLow = false;
      int outside = 0;
      for (int p = 0; p < positions; ++p) {
        const int s = sepsoruse(job, p, false);
        if (s < 0) continue;
        const std::uint16_t t = tints[s];
        if (t != 0) allZero = false;
        if (!inRange(t)) ++outside;
        if (sepiscmyk(job, s) >= 0 && t == low) processAtLow = true;
      }
      if (!(processAtLow && outside > 0)) {
        std::uint16_t lo = low;
        if (lo == 0 && !allZero && (processAtLow || outside == 0)) lo = 1;
        auto* cs = new CsMultiSep(job, tints, lo, high, options, data);
        cs->SetUndefinedTints(outside > 0);
        cs->SetOverprint(outside > 0);
        return cs;
      }
    }
  }

  if (mSettings.SeparatedOutput != 0 && !inSoftMask) {
    for (int p = 0; p < positions; ++p) {
      const int s = sepsoruse(job, p, false);
      if (s < 0) continue;
      if (tintDefined(tints[s])) return new PDFCsDeviceGray(job, s, false);
      break;
    }
    // The plate's ink is untouched by the colour: no ink at all, painted with
    // overprint so that the plate keeps what lies below.
    auto* none = new CsPartialCMYK(job, false, false, false, false, false);
    none->SetOverprint(true);
    return none;
  }

  bool allZero = true, allUndefined = true, someUndefined = false;
  for (int p = 0; p < positions; ++p) {
    const int s = sepsoruse(job, p, false);
    if (s < 0) continue;
    if (tints[s] != 0) allZero = false;
    if (tints[s] != kTintUndefined) allUndefined = false;
    if (tints[s] == kTintUndefined) someUndefined = true;
  }
  if (mOneUpLink && !inSoftMask) someUndefined = true;

  if (!mSingleSeparation && flagE && (flagC || ((allZero || allUndefined) && !flagB))) {
    return new CsSeparation(job, allUndefined ? TavColor::kNoSeparation : TavColor::kAllSeparations,
                            flagD);
  }
  if (low == 0 && !someUndefined && (!allZero || flagB)) low = 1;

  CsDeviceN::Options options;
  options.forceDeviceN = flagB;
  options.noTransfer = inSoftMask;
  options.maxColorants = maxColorants;
  options.allowSeparationCS = mSettings.NormalizedOutput == 0 && !countProcess && !flagC;
  auto* cs = new PDFCsDeviceN(job, tints, low, high, options, inSoftMask ? nullptr : mSepData);
  // Inks left untouched must show through: the colour overprints.
  cs->SetUndefinedTints(someUndefined);
  cs->SetOverprint(someUndefined);
  // Under overprint a process ink the colour sets to 0 must still knock out,
  // which DeviceCMYK under overprint mode 1 does not do: such a colour names
  // its process inks as colourants. Every other colour keeps DeviceCMYK.
  if (someUndefined && cs->IsPureCMYK()) {
    for (int p = 0; p < positions; ++p) {
      const int s = sepsoruse(job, p, false);
      if (s >= 0 && cs->InColorSpace(s) && tints[s] == 0) {
        cs->NameProcessInksAsColorants(true);
        break;
      }
    }
  }
  return cs;
}

// ---- marked content ----------------------------------------------------------------

void PDFProof::BeginGroup() {
  if (mSettings.NormalizedOutput == 0) Out() << "/Group BMC\n";
}

void PDFProof::EndGroup() {
  if (mSettings.NormalizedOutput == 0) Out() << "EMC\n";
}

void PDFProof::BeginGroupMarker() {
  if (mSettings.NormalizedOutput != 0 && !mWritingOneUpForm && !mWritingTransparencyGroup) {
    Out() << "/VornPNGr BMC\n";
  }
}

void PDFProof::EndGroupMarker() {
  if (mSettings.NormalizedOutput != 0 && !mWritingOneUpForm && !mWritingTransparencyGroup) {
    Out() << "EMC\n";
  }
}

void PDFProof::BeginTrap(TavDB::Object*, bool, bool) { Out() << "/QEL_Trap BMC\n"; }

void PDFProof::EndTrap() { Out() << "EMC\n"; }

bool PDFProof::BeginObjectName(TavDB::Object* object) {
  if (mSettings.NormalizedOutput == 0 || object == nullptr) return false;
  const std::u16string name16 = TavricCore::ObjectController::GetObjectName(object);
  if (name16.empty()) return false;
  pdfoutfilter& out = Out();
  out << "/VornPNGr << /VornPNKeltONAM ";
  // Plain ASCII as a literal string, anything else as UTF-16 text.
  PDFString name(TavSys::Uni16CharToUTF8(name16));
  name.Output(out);
  out << " >> BDC\n";
  return true;
}

void PDFProof::EndObjectName(bool opened) {
  if (opened && mSettings.NormalizedOutput != 0) Out() << "EMC\n";
}

void PDFProof::WriteTrapLayerPair() {
  pdfoutfilter& out = Out();
  const double now = static_cast<double>(TavSys::time64());
  out << "/VornPNGr  << /VornPNKeltALAY << /trapbltin << /traplayer 1 /trapping 1 /trapsession 0 "
         "/version 2 /revision 0 /interactive 1 /startutc "
      << now << " /endutc " << now << " >> >> >> BDC\n";
  out << "/VornPNGr  << /VornPNKeltASET << /trapbltin << /name (Trap) >> >> >> BDC\n";
}

int PDFProof::BeginLayer(TavDB::Layer* layer) {
  if (layer == nullptr) return 1;
  const std::uint32_t flags = layer->flags();
  const bool nonPrinting = (flags & kLayerNonPrinting) != 0;
  if (nonPrinting && mSettings.AddNonPrintingLayers == 0) return 1;
  if (nonPrinting && mInsideOneUp) {
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String("PDF/NON PRINTING LAYER IN ONEUP"));
  }
  pdfoutfilter& out = Out();
  // Optional content needs the document's groups; without them the layer
  // goes inline, so that its marked content never names a missing property list.
  const bool optionalContent = !mNestedWriter && GetVersionCode() >= kPdf15 &&
                               mSettings.IncludeLayers != 0 &&
                               mHandler->mOptionalContentGroups != nullptr;
  if (!optionalContent) {
    out << "/Layer ";
    auto* properties = new PDFDictionary();
    properties->Set("Title", new PDFString(layer->getName()));
    properties->Set("Visible", new PDFBool((flags & kLayerHidden) == 0));
    properties->Set("Editable", new PDFBool((flags & kLayerLocked) == 0));
    properties->Set("Printed", new PDFBool(!nonPrinting));
    properties->Output(out);
  } else {
    out << "/OC /MC" << std::to_string(CountLayersAfter(layer));
  }
  out << " BDC\n";
  if (mSettings.NormalizedOutput != 0 && TavricLib::IsTrapLayer(mJob, layer)) {
    WriteTrapLayerPair();
    ++mTrapLayerCount;
  }
  SaveGraphicsState();
  return 0;
}

void PDFProof::EndLayer() {
  if (mTrapLayerCount > 0) {
    Out() << "EMC\n" << "EMC\n";
    --mTrapLayerCount;
  }
  RestoreGraphicsState();
  Out() << "EMC\n";
}

// ---- the end of the content stream --------------------------------------------------

void PDFProof::WriteMatrix(const TavDB::tv_matrixtyp<double>& m) {
  Out() << m.a << " " << m.b << " " << m.c << " " << m.d << " " << m.e << " " << m.f << " "
        << " cm\n";
}

void PDFProof::WriteMatrix(const std::array<double, 6>& m) {
  WriteMatrix(TavDB::tv_matrixtyp<double>{m[0], m[1], m[2], m[3], m[4], m[5]});
}

void PDFProof::WriteGState(const std::string& name) {
  pdfoutfilter& out = Out();
  PDFName::OutputName(out, name.c_str());
  out << " gs\n";
}

PDFDictionaryValue* PDFProof::FinishContentStream() {
  if (mFinished) return mWriterNumber == 0 ? static_cast<PDFDictionaryValue*>(mContents) : nullptr;
  pdfoutfilter* sink = mContent;
  // The pending streams are flushed from inside endStream, after the content.
  PDFIndirectReference* stream = mHandler->endStream(sink, this);
  mContent = nullptr;
  mFinished = true;
  WritePageResources(true);
  if (mWriterNumber == 0) {
    if (stream != nullptr) mContents->Add(stream);
    return mContents;
  }
  return stream;
}

}  // namespace TavPDF
