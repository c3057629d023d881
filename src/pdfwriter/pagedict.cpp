#include "pdfwriter/pagedict.h"

#include "pagewriter/forms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pagewriter/illtransform.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/layout.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/previews.h"
#include "pdfwriter/privatedata.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

std::int32_t toJobUnits(double value) {
  const double rounded = std::round(value);  // halves away from zero, as iround
  if (!(rounded >= std::numeric_limits<std::int32_t>::min())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (!(rounded <= std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(rounded);
}

PDFArray* NumberArray(std::initializer_list<double> values) {
  auto* array = new PDFArray();
  for (double v : values) array->Add(new PDFReal(v));
  return array;
}

PDFArray* IntegerArray(std::initializer_list<std::int64_t> values) {
  auto* array = new PDFArray();
  for (std::int64_t v : values) array->Add(new PDFInteger(v));
  return array;
}

PDFDictionary* ExtGState(bool overprint, int mode) {
  auto* state = new PDFDictionary();
  state->Set("Type", new PDFName("ExtGState"));
  state->Set("OP", new PDFBool(overprint));
  state->Set("OPM", new PDFInteger(mode));
  return state;
}

// The tint function of one spot ink: two samples of C, M, Y, K, from no ink
// to the ink's CMYK equivalent.
PDFIndirectReference* WriteSeparationTintFunction(pdfouthan& handler, const jobstr* job,
                                                  int sep) {
  auto* dictionary = new PDFDictionary();
  dictionary->Set("FunctionType", new PDFInteger(0));
  dictionary->Set("Domain", IntegerArray({0, 1}));
  dictionary->Set("Range", IntegerArray({0, 1, 0, 1, 0, 1, 0, 1}));
  dictionary->Set("Size", IntegerArray({2}));
  dictionary->Set("Filter", new PDFName("ASCIIHexDecode"));
  dictionary->Set("BitsPerSample", new PDFInteger(8));
  pdfoutfilter* sink = handler.beginStream(dictionary);
  if (sink == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/STREAM STILL OPEN",
                        "a stream was still open when a page's colour spaces were written");
  }
  std::uint8_t c = 0, m = 0, y = 0, k = 0;
  sepcmyk_(job, sep, c, m, y, k);
  std::array<std::uint8_t, 8> samples{0, 0, 0, 0};
  const std::uint8_t percent[4] = {c, m, y, k};
  for (int i = 0; i < 4; ++i) {
    samples[4 + i] = static_cast<std::uint8_t>(
        std::clamp(TavSys::iround(percent[i] * 255.0 / 100.0), 0, 255));
  }
  sink->PutBytes(samples.data(), samples.size());
  return handler.endStream(sink, nullptr);
}


// The inks that occur in the job, once per output name, each with its
// preview when one is given.
PDFArray* SeparationsInfo(pdfouthan& handler, const TavricLib::SeparatedPreview* preview) {
  jobstr* job = handler.mJob;
  const PDFSettings& settings = *handler.mSettings;
  auto* separations = new PDFArray();
  std::set<std::string> listed;
  const int count = std::min(sepfrejob(job), kMaxSeparations);
  for (int slot = 0; slot < count; ++slot) {
    const int sep = sepsoruse(job, slot, false);
    if (sep < 0 || !sepsearch(job, sep)) continue;
    std::string name;
    handler.getSeparationName(name, job, sep);
    if (!listed.insert(name).second) continue;
    auto* entry = new PDFDictionary();
    entry->Set("Name", new PDFName(name));
    std::uint8_t c = 0, m = 0, y = 0, k = 0;
    sepcmyk_(job, sep, c, m, y, k);
    entry->Set("CMYK", NumberArray({c / 100.0, m / 100.0, y / 100.0, k / 100.0}));
    std::uint8_t r = 0, g = 0, b = 0;
    sepgetrgb(job, sep, r, g, b);
    entry->Set("RGB", NumberArray({r / 255.0, g / 255.0, b / 255.0}));
    if (settings.EnableDotgain != 0 && settings.NormalizedOutput == 0 &&
        handler.mTransferFunctions[static_cast<std::size_t>(slot)] != nullptr) {
      entry->Set("TransferFunction", handler.mTransferFunctions[static_cast<std::size_t>(slot)]);
    }
    if (preview != nullptr) {
      if (PDFIndirectReference* image = WriteSeparationPreview(handler, *preview, sep)) entry->Set("Preview", image);
    }
    separations->Add(entry);
  }
  return separations;
}

// The TrimBox clipped to the MediaBox, both in points (y up): the larger
// left and bottom, the smaller right and top.
TavSys::tv_rectangle ClipToMediaBox(const TavSys::tv_rectangle& trim,
                                    const TavSys::tv_rectangle& media) {
  TavSys::tv_rectangle clipped;
  clipped.left = std::max(trim.left, media.left);
  clipped.bottom = std::max(trim.bottom, media.bottom);
  clipped.right = std::min(trim.right, media.right);
  clipped.top = std::min(trim.top, media.top);
  return clipped;
}

bool DiffersFrom(const TavSys::tv_rectangle& a, const TavSys::tv_rectangle& b) {
  return std::fabs(a.left - b.left) > 0.0001 || std::fabs(a.bottom - b.bottom) > 0.0001 ||
         std::fabs(a.right - b.right) > 0.0001 || std::fabs(a.top - b.top) > 0.0001;
}

}  // namespace

void WriteSeparationColorSpaces(pdfouthan& handler, PDFDictionary* colorSpaces) {
  WriteSeparationColorSpaces(handler, handler.mJob, colorSpaces);
}

void WriteSeparationColorSpaces(pdfouthan& handler, jobstr* job, PDFDictionary* colorSpaces) {
  const int count = std::min(sepfrejob(job), kMaxSeparations);
  for (int slot = 0; slot < count; ++slot) {
    const int sep = sepsoruse(job, slot, false);
    if (sep < 0 || sepiscmyk(job, sep) >= 0) continue;
    std::string name;
    handler.getSeparationName(name, job, sep);
    PDFIndirectReference* function = WriteSeparationTintFunction(handler, job, sep);
    auto* space = new PDFArray();
    space->Add(new PDFName("Separation"));
    space->Add(new PDFName(name));
    space->Add(new PDFName("DeviceCMYK"));
    space->Add(function);
    PDFIndirectReference* reference = handler.makeIndirect(space);
    colorSpaces->Set(SeparationColorSpaceName(&handler, job, sep), reference);
    handler.writeObject(reference);
  }
}

std::string SeparationColorSpaceName(const pdfouthan* handler, jobstr* job, int sep) {
  std::string name;
  if (handler != nullptr) {
    handler->getSeparationName(name, job, sep);
  } else {
    name = GetSeparationName(job, sep);
  }
  return "Tv_sep_" + name;
}

PDFIndirectReference* WriteSampledTintFunction(pdfouthan& handler, int n, const int* separations) {
  if (n < 1 || n > 16 || separations == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "",
                        "sampled tint function of " + std::to_string(n) + " separations");
  }
  const std::size_t count = std::size_t{1} << n;
  std::vector<std::uint8_t> samples(count * 4, 0);
  for (int j = 0; j < n; ++j) {
    // The separation at full tint (ink sample 0) as CMYK ...
    const std::uint8_t full = 0;
    std::uint8_t ink[4] = {};
    sepcmyklin(handler.mJob, separations[j], &full, ink, 1);
    // ... laid over a copy of every sample made so far.
    const std::size_t half = std::size_t{1} << j;
    for (std::size_t i = 0; i < half; ++i) {
      for (std::size_t c = 0; c < 4; ++c) {
        const unsigned below = samples[i * 4 + c];
        samples[(half + i) * 4 + c] =
            static_cast<std::uint8_t>(255 - (255 - below) * (255 - ink[c]) / 255);
      }
    }
  }
  auto* dictionary = new PDFDictionary();
  dictionary->Set("FunctionType", new PDFInteger(0));
  auto* domain = new PDFArray();
  auto* size = new PDFArray();
  for (int j = 0; j < n; ++j) {
    domain->Add(new PDFInteger(0));
    domain->Add(new PDFInteger(1));
    size->Add(new PDFInteger(2));
  }
  dictionary->Set("Domain", domain);
  dictionary->Set("Range", IntegerArray({0, 1, 0, 1, 0, 1, 0, 1}));
  dictionary->Set("Size", size);
  dictionary->Set("BitsPerSample", new PDFInteger(8));
  pdfoutfilter* sink = handler.beginStream(dictionary);
  if (sink == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/STREAM STILL OPEN",
                        "a stream was still open when a tint function was written");
  }
  sink->PutBytes(samples.data(), samples.size());
  return handler.endStream(sink, nullptr);
}

TavSys::tv_rectangle PageBoxInPoints(const jobstr* job, const TavSys::tv_rectangle& box,
                                     const PDFSettings& settings) {
  const TavSys::tv_rectangle laidOut = GetLayoutTransformedBox(job, box, settings);
  const std::int32_t in[4] = {toJobUnits(laidOut.top), toJobUnits(laidOut.left),
                              toJobUnits(laidOut.bottom), toJobUnits(laidOut.right)};
  double out[4] = {};
  illtransform(job).TransformRect(in, out);
  return {out[0], out[1], out[2], out[3]};
}

namespace {

// The page sizes PDF consumers accept (PDF 1.x, without UserUnit): 3 to
// 14,400 units a side. A page outside them is refused rather than written
// as a file that consumers reject.
constexpr double kMinPageSide = 3;
constexpr double kMaxPageSide = 14400;

std::string onePlace(double points) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, points, std::chars_format::fixed, 1);
  return std::string(buf, r.ptr);
}

void checkPageSize(const TavSys::tv_rectangle& media) {
  const double width = std::abs(media.right - media.left), height = std::abs(media.top - media.bottom);
  if (width >= kMinPageSide && width <= kMaxPageSide && height >= kMinPageSide && height <= kMaxPageSide) return;
  TavSys::Error e(TavSys::kResultAbandoned, "PDF/PAGE SIZE OUT OF RANGE",
                  "page of " + onePlace(width) + " x " + onePlace(height) + " points");
  e.with("__WIDTH__", onePlace(width)).with("__HEIGHT__", onePlace(height));
  throw e;
}

}  // namespace

void writePageBoxes(pdfouthan& handler, PDFDictionary* page) {
  const jobstr* job = handler.mJob;
  const PDFSettings& settings = *handler.mSettings;
  const bool normalized = settings.NormalizedOutput != 0;

  bool hasMedia = false;
  TavSys::tv_rectangle media;
  if (handler.mHasMediaBox) {
    media = PageBoxInPoints(job, handler.mMediaBox, settings);
    hasMedia = true;
  } else {
    TavSys::tv_rectangle box;
    if (getboxconst(job, kMediaBox, box)) {
      media = PageBoxInPoints(job, box, settings);
      hasMedia = true;
    }
  }
  if (!hasMedia) throw TavSys::Error(TavSys::kResultAbandoned, "PDF/PAGE HAS NO MEDIA BOX", "no media box");
  checkPageSize(media);
  page->Set("MediaBox", new PDFArray(media));

  bool hasTrim = false;
  TavSys::tv_rectangle trim;
  TavSys::tv_rectangle box;
  if (handler.mHasTrimBox) {
    trim = PageBoxInPoints(job, handler.mTrimBox, settings);
    hasTrim = true;
  } else if (getboxconst(job, kTrimBox, box)) {
    trim = PageBoxInPoints(job, box, settings);
    hasTrim = true;
  } else if (settings.GenerateJDF != 0 || normalized) {
    if (getbox(job, getdefaultboxtype(job, kTrimBox), box)) {
      trim = PageBoxInPoints(job, box, settings);
      hasTrim = true;
    }
  }
  if (hasTrim) {
    if (normalized && hasMedia) {
      TavSys::tv_rectangle clipped = ClipToMediaBox(trim, media);
      if (DiffersFrom(clipped, trim)) {
        // A TrimBox wholly outside the MediaBox clips to nothing: the page
        // is then trimmed at its MediaBox.
        if (clipped.left >= clipped.right || clipped.bottom >= clipped.top) clipped = media;
        trim = clipped;
        TavGen::ShowInfoMessage(
            TavGen::kWarning, 1,
            TavCore::GetLocalizedUni16String("PDF/TRIM BOX MUST BE INSIDE MEDIA BOX FOR NORMALIZED PDF"));
      }
    }
    page->Set("TrimBox", new PDFArray(trim));
  }

  if (!handler.mHasMediaBox && !handler.mHasTrimBox &&
      !(normalized && settings.AddPageBoxes == 0)) {
    static constexpr std::pair<int, const char*> kOtherBoxes[] = {
        {kBleedBox, "BleedBox"}, {kCropBox, "CropBox"}, {kArtBox, "ArtBox"}};
    for (const auto& [kind, key] : kOtherBoxes) {
      if (getboxconst(job, kind, box)) page->Set(key, new PDFArray(PageBoxInPoints(job, box, settings)));
    }
  }
}

std::string DefaultScreenName(const pdfouthan& handler) {
  const PDFSettings& settings = *handler.mSettings;
  if (settings.IncludeScreening != 0 && handler.mScreenNumber != kNoScreen) {
    return "Scr_" + std::to_string(handler.mScreenNumber);
  }
  if (settings.NormalizedOutput != 0 && settings.UseDefaultScreen != 0) return "Default_Screen";
  return {};
}

PDFDictionaryValue* writePageContents(pdfouthan& handler, PDFDictionary* resources,
                                      PDFDictionary* patterns, PDFDictionary* xobjects,
                                      PDFDictionary* extGStates) {
  const PDFSettings& settings = *handler.mSettings;
  jobstr* job = handler.mJob;
  std::int32_t writerCounter = 0;
  const bool hasScreen = handler.mScreenNumber != kNoScreen;
  // A one-up written as a file of its own (a JDF folder's) is drawn over its
  // parent's art later: it lets the parent's other inks through as it does
  // nested in the parent's page.
  const bool oneUpLink = OneUpLacksParentInks(job, job->parent);
  PDFProof writer(job, &handler, resources, patterns, xobjects, extGStates, settings,
                  &writerCounter, GetPendingLists(handler), &handler.mFormCache,
                  handler.getSeparationDisabler(), hasScreen, false, nullptr, oneUpLink,
                  handler.mWriterFlag, false);
  // Nothing of an earlier stream's graphics state carries over. The user's
  // cancel is left as it is: a cancelled export stops at this page.
  PdfGraphicsState::Instance().Reset();
  writer.WriteMatrix(handler.mBaseMatrix);

  const std::string screen = DefaultScreenName(handler);
  if (!screen.empty()) writer.WriteGState(screen);

  TavDB::Object* tree = handler.mSpatialTree != nullptr ? handler.mSpatialTree : jobGetSpahan(job);
  writer.OutputGroup(tree, false, -1, false);
  // Objects left out (white, invisible, open paths) never count: the page is
  // done when its walk is.
  if (!writer.IsCancelled()) writer.FinishProgress();
  PDFDictionaryValue* contents = writer.FinishContentStream();

  if (writer.GetPlacedPdfFlag()) handler.mPlacedPdfFlag = true;
  writer.GetPictureCache().WriteCachedPictures(&writer, true);
  // The page's own screen (the writer may have defined "Default_Screen"
  // already for unscreened objects).
  if (!screen.empty() && extGStates != nullptr && extGStates->Get(screen) == nullptr) {
    extGStates->Set(screen, screen == "Default_Screen"
                                ? writer.MakeDefaultScreenGState()
                                : writer.MakeSeparationScreenGState(int(handler.mScreenNumber), nullptr));
  }
  for (const auto& [number, halftone] : writer.GetScreenHalftones()) {
    if (auto* ref = dynamic_cast<PDFIndirectReference*>(halftone)) {
      handler.addNamedHalftone(getScreenName(job, number), ref);
    }
  }
  if (writer.GetNonSeparableBlendFlag()) handler.mNonSeparableBlendFlag = true;
  return contents;
}

PDFIndirectReference* writeThumbnail(pdfouthan& handler) {
  jobstr* job = handler.mJob;
  // The thumbnail shows the page without its station number, and says nothing.
  TavGen::ScopedMessagesDisabler quiet;
  auto* number = const_cast<TavDB::Object*>(stationNumberObject(job, 0x820000, 0, 0x20000, 0));
  const bool hidden = number != nullptr && number->checkProperties(TavDB::kObjHidden);
  if (number != nullptr) number->setProperties(TavDB::kObjHidden, true);
  struct Restore {
    TavDB::Object* object;
    bool hidden;
    ~Restore() {
      if (object != nullptr) object->setProperties(TavDB::kObjHidden, hidden);
    }
  } restore{number, hidden};
  PDFProof writer(job, &handler, nullptr, nullptr, nullptr, nullptr, *handler.mSettings, nullptr, nullptr, nullptr,
                  {}, false, false, nullptr, false, false, false, false);
  return writer.RenderThumbnail();
}

void writeAnnotations(pdfouthan& handler, PDFDictionary* page) {
  const jobstr* job = handler.mJob;
  const PDFSettings& settings = *handler.mSettings;
  const int count = notesCount(job);
  if (count <= 0) return;

  const int ppi = TavDB::getppi(job);
  // Half the side of a note's square, in job units.
  const auto widen = static_cast<std::int32_t>(std::trunc(100.0 / ppi * 72.0));
  const double sx = (settings.GetInternalDistortionH() + 100.0) / 100.0;
  const double sy = (settings.GetInternalDistortionV() + 100.0) / 100.0;
  const int orientation = settings.Orientation.GetValue();
  const double mirror = settings.Mirror != 0 ? -1.0 : 1.0;
  // Corner (p, q) = (y, x) in points through the layout's orientation and
  // distortion; the mirror negates the q terms.
  auto place = [&](double p, double q, double& p2, double& q2) {
    switch (orientation) {
      case 0: p2 = -sx * q * mirror; q2 = sy * p; break;
      case 2: p2 = sx * q * mirror; q2 = -sy * p; break;
      case 3: p2 = -sy * p; q2 = -sx * q * mirror; break;
      default: p2 = sy * p; q2 = sx * q * mirror; break;
    }
  };

  illtransform transform(job);
  auto* annotations = new PDFArray();
  for (int i = 0; i < count; ++i) {
    NoteInfo note(job, i);
    const TavDB::tv_point anchor = note.GetAnchorLocation();
    // Widened in 64 bits: an anchor near the end of the coordinate range
    // stays at that end.
    const std::int32_t in[4] = {
        toJobUnits(double(std::int64_t(anchor.v) - widen)),
        toJobUnits(double(std::int64_t(anchor.h) - widen)),
        toJobUnits(double(std::int64_t(anchor.v) + widen)),
        toJobUnits(double(std::int64_t(anchor.h) + widen))};
    double out[4] = {};
    transform.TransformRect(in, out);
    double p1 = 0, q1 = 0, p2 = 0, q2 = 0;
    place(out[0], out[1], p1, q1);
    place(out[2], out[3], p2, q2);
    auto* annotation = new PDFDictionary();
    annotation->Set("Type", new PDFName("Annot"));
    annotation->Set("Subtype", new PDFName("Text"));
    annotation->Set("Contents", new PDFString(TavSys::Uni16CharToUTF8(note.GetText()), true));
    annotation->Set("Rect", NumberArray({std::min(q1, q2), std::min(p1, p2), std::max(q1, q2),
                                         std::max(p1, p2)}));
    PDFIndirectReference* reference = handler.makeIndirect(annotation);
    handler.writeObject(reference);
    annotations->Add(reference);
  }
  if (count < 11) {
    page->Set("Annots", annotations);
  } else {
    PDFIndirectReference* reference = handler.makeIndirect(annotations);
    handler.writeObject(reference);
    page->Set("Annots", reference);
  }
}

PDFIndirectReference* writePage(pdfouthan& handler, PDFIndirectReference* treeReference,
                                PDFIndirectReference* kidsReference) {
  jobstr* job = handler.mJob;
  const PDFSettings& settings = *handler.mSettings;
  // Conversions to points read the resolution of the job being written.
  TavDB::ScopedCurrentJob currentJob(job);
  // The content is most of a page's work; its thumbnail takes the last tenth.
  TavSys::Progress progress(10, handler.mProgressLabel);
  progress.setPart(settings.AddThumbnail != 0 ? 9 : 10);

  auto* page = new PDFDictionary();
  page->Set("Type", new PDFName("Page"));
  page->Set("Parent", treeReference);

  auto* resources = new PDFDictionary();
  auto* procSet = new PDFArray();
  for (const char* name : {"PDF", "Text", "ImageC"}) procSet->Add(new PDFName(name));
  resources->Set("ProcSet", procSet);
  auto* patterns = new PDFDictionary();
  auto* xobjects = new PDFDictionary();
  auto* colorSpaces = new PDFDictionary();
  auto* extGStates = new PDFDictionary();
  resources->Set("Pattern", patterns);
  resources->Set("XObject", xobjects);
  resources->Set("ColorSpace", colorSpaces);
  resources->Set("ExtGState", extGStates);

  writePageBoxes(handler, page);
  WriteSeparationColorSpaces(handler, colorSpaces);
  // Forms written during the page share the page's colour spaces: the
  // pattern colour space they may select is there from the start.
  AddPatternColorSpace(colorSpaces);
  BuildDistortionMatrix(handler.mBaseMatrix, job, settings);

  PDFDictionaryValue* contents = writePageContents(handler, resources, patterns, xobjects, extGStates);
  if (TavSys::Progress::isCanceled()) return nullptr;
  if (contents != nullptr) page->Set("Contents", contents);
  if (settings.AddThumbnail != 0) {
    progress.set(9);
    progress.setPart(1);
    if (PDFIndirectReference* thumb = writeThumbnail(handler)) page->Set("Thumb", thumb);
  }

  // The page's previews: one image per ink and the ink preview, from one
  // rendering of the page.
  std::unique_ptr<TavricLib::SeparatedPreview> preview;
  if (settings.IncludeSeparatedPreview != 0 || settings.IncludeVornPreview != 0) preview = RenderPagePreview(handler);
  auto* privateData = new PDFDictionary();
  privateData->Set("Separations",
                   SeparationsInfo(handler, settings.IncludeSeparatedPreview != 0 ? preview.get() : nullptr));
  if (settings.IncludeVornPreview != 0 && preview) {
    if (PDFIndirectReference* inks = WriteInkPreview(handler, *preview)) page->Set("VornPNDNT", inks);
  }
  if (PDFDictionaryValue* station = MakeStationNumbersInfo(job)) privateData->Set("StationNumber", station);
  if (PDFDictionaryValue* trimBleed = MakeTrimAndBleedInfo(job)) privateData->Set("TrimBleed", trimBleed);
  page->Set("QELInfo", privateData);

  PDFIndirectReference* resourcesReference = handler.makeIndirect(resources);
  page->Set("Resources", resourcesReference);
  PDFIndirectReference* pageReference = handler.makeIndirect(page);
  if (settings.AddNotes != 0) writeAnnotations(handler, page);

  if (settings.SeparatedOutput != 0 && kidsReference != nullptr) {
    // The page's ink is the one separation enabled while it is written.
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = sepsoruse(job, slot, false);
      if (sep < 0) continue;
      std::string name;
      handler.getCMYKSeparationName(name, job, sep);
      auto* info = new PDFDictionary();
      info->Set("Pages", kidsReference);
      info->Set("DeviceColorant", new PDFName(name));
      page->Set("SeparationInfo", info);
      break;
    }
  }

  handler.writeObject(pageReference);
  GetPendingLists(handler)->writePending(&handler, colorSpaces, resources);

  extGStates->Set("op1", ExtGState(true, 1));
  extGStates->Set("op0", ExtGState(false, 0));
  extGStates->Set("op1_0", ExtGState(true, 0));
  handler.writeObject(resourcesReference);
  progress.set(10);
  return pageReference;
}

}  // namespace TavPDF
