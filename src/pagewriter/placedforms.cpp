// Placed one-ups and placed PDF pages as forms: a placed job (one-up) is
// queued once per page writer and written after the page by a nested page
// writer as a Form XObject of its own; a placed PDF page becomes a reference
// XObject that the second pass of the export replaces by the page itself.
#include <algorithm>
#include <cmath>

#include "driver/flattening.h"
#include "driver/visitors.h"
#include "colour/halftone.h"
#include "driver/writepdf.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/gradation.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kNoCounterpart = 63;

PDFArray* reals(std::initializer_list<double> values) {
  auto* a = new PDFArray();
  for (double v : values) a->Add(new PDFReal(v));
  return a;
}

// A one-up's form carries the screen and the single ink of its placement
// (its content is written under them): placements that differ in either
// have forms of their own.
bool placementShapesForm(const jobstr* job, const Paint& paint) {
  return !picispdf(job, paint.picture) && (paint.screen != kNoScreen || paint.singleSeparation != 0);
}

bool sameForm(const jobstr* job, const Paint* a, const Paint* b) {
  if (a == nullptr || b == nullptr || a->type != b->type || a->picture != b->picture ||
      a->pdfPage != b->pdfPage || a->pdfBox != b->pdfBox) {
    return false;
  }
  return picispdf(job, a->picture) ||
         (a->screen == b->screen && a->singleSeparation == b->singleSeparation);
}

// The one-up's separations on the parent's by ink name, kNoCounterpart for
// an ink the parent does not have.
std::array<std::int32_t, 64> mapSeparations(const jobstr* from, const jobstr* to) {
  std::array<std::int32_t, 64> map;
  map.fill(kNoCounterpart);
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    if (sepsoruse(from, slot, true) < 0) continue;
    const int target = TavricLib::FindSeparation(to, GetSeparationName(from, slot));
    if (target >= 0) map[std::size_t(slot)] = target;
  }
  return map;
}

}  // namespace

bool OneUpLacksParentInks(const jobstr* oneUp, const jobstr* parent) {
  if (oneUp == nullptr || parent == nullptr) return false;
  const std::array<std::int32_t, 64> back = mapSeparations(parent, oneUp);
  for (int slot = 0; slot < kMaxSeparations; ++slot)
    if (sepsoruse(parent, slot, false) >= 0 && back[std::size_t(slot)] == std::int32_t(kNoCounterpart)) return true;
  return false;
}

jobstr* ReadOneUpJobFile(jobstr* job, int picture) {
  // One-ups are loaded with the job that places them (once per file, cycles
  // refused); the nested job is that model.
  jobstr* oneUp = picGetJob(job, picture);
  if (oneUp != nullptr) oneUp->SetParentJob(job);
  return oneUp;
}

// ---- queuing and drawing -----------------------------------------------------------

std::string PDFProof::MakePictureFormName(std::uint16_t paintIndex) const {
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return {};
  std::string name = "Form_" + std::to_string(mWriterNumber) + "_" + std::to_string(paint->picture) +
                     "_" + std::to_string(paint->pdfPage) + "_" + std::to_string(paint->pdfBox);
  if (placementShapesForm(mJob, *paint)) {
    name += "_" + std::to_string(paint->screen) + "_" + std::to_string(paint->singleSeparation);
  }
  return name;
}

void RegisterPictureForm(PDFProof& writer, TavDB::Object* object, std::uint16_t paint) {
  const Paint* record = paipoi(writer.GetJob(), paint);
  if (record == nullptr) return;
  std::unique_ptr<PendingStream> form;
  if (picispdf(writer.GetJob(), record->picture)) {
    form = std::make_unique<PendingStreamFilePdf>(object, paint);
  } else {
    form = std::make_unique<PendingStreamForm>(paint);
  }
  form->SetPaint(paint);
  form->SetName(writer.MakePictureFormName(paint));
  writer.AddPendingStream(std::move(form));
}

bool PDFProof::HasPendingPictureForm(std::uint16_t paint) const {
  const Paint* wanted = paipoi(mJob, paint);
  return std::any_of(mPendingStreams.begin(), mPendingStreams.end(), [&](const auto& record) {
    return (record->GetKind() == kPendingForm || record->GetKind() == kPendingFilePdf) &&
           sameForm(mJob, paipoi(mJob, record->GetPaint()), wanted);
  });
}

void PDFProof::DrawPictureForm(std::uint16_t paint, double a, double b, double c, double d,
                               double e, double f) {
  pdfoutfilter& out = Out();
  out << a << b << c << d << e << f << " cm ";
  PDFName::OutputName(out, MakePictureFormName(paint).c_str());
  out << " Do\n";
}

void PDFProof::DrawPlacedPicture(std::uint16_t paintIndex) {
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr || picfilref(mJob, paint->picture) == nullptr) return;
  std::int32_t w[6];
  if (!paintPlacementWords(mJob, paintIndex, w)) {
    TavSys::debug("PDFProof::DrawPlacedPicture: the placement cannot be written");
    return;
  }
  // Form space is the one-up's page in points: one of its points covers
  // ppi(one-up) / ppi(job) of the steps the placement gives per one-up unit.
  const jobstr* oneUp = picGetJob(mJob, paint->picture);
  const double units = oneUp != nullptr ? double(TavDB::getppi(oneUp)) / TavDB::getppi(mJob) : 1.0;
  // One unit's steps along the width (the form's x) and the height (its -y).
  const double widthV = (double(w[2]) - w[0]) / 10000, widthH = (double(w[3]) - w[1]) / 10000;
  const double heightV = (double(w[4]) - w[0]) / 10000, heightH = (double(w[5]) - w[1]) / 10000;
  const double a = widthH * units, b = -widthV * units, c = -heightH * units, d = heightV * units;
  double e = 0, f = 0;
  TransformPoint(w[0], w[1], e, f);
  // The placement's origin is where the one-up's top left corner lands; the
  // form's own origin is the one-up's origin.
  if (oneUp != nullptr) {
    TavSys::tv_rectangle media;
    getbox(oneUp, kMediaBox, media);
    const illtransform inner(oneUp);
    const TavDB::ScopedCurrentJob current(oneUp);
    double x = 0, y = 0;
    inner.TransformPoint(std::int32_t(media.top), std::int32_t(media.left), x, y);
    e -= a * x + c * y;
    f -= b * x + d * y;
  }
  DrawPictureForm(paintIndex, a, b, c, d, e, f);
}

int PDFProof::OutputPlacedJob(TavDB::Object* object) {
  if (object == nullptr || object->checkProperties(0x100008)) return 0;
  const std::uint16_t paint = object->paint();
  if (!HasPendingPictureForm(paint)) RegisterPictureForm(*this, object, paint);
  DrawPlacedPicture(paint);
  return 0;
}

// ---- the nested one-up pass and its form -------------------------------------------

void PDFProof::WriteOneUpForm(PendingStream& record) {
  const Paint* paint = paipoi(mJob, record.GetPaint());
  if (paint == nullptr) return;
  const std::uint16_t screen = paint->screen;
  const int single = paint->singleSeparation;
  // Inside a one-up placed with a screen, that screen holds for everything.
  const bool hasScreen = mSharedHalftoneMode || screen != kNoScreen;
  PDFDictionaryValue* halftone = mSharedHalftoneMode ? mSharedHalftone : nullptr;
  if (!mSharedHalftoneMode && screen != kNoScreen) {
    if (PDFDictionary* built = BuildSeparationHalftone(mHandler, this, mJob, screen, mSettings,
                                                       &mHandler->mScreenAngleMessageShown)) {
      halftone = mHandler->makeIndirect(built);
      mHandler->writeObject(static_cast<PDFIndirectReference*>(halftone));
    }
  }

  jobstr* oneUp = ReadOneUpJobFile(mJob, paint->picture);
  if (oneUp == nullptr) {
    const TavSys::filref* file = picfilref(mJob, paint->picture);
    TavSys::debug("Unable to open " + (file != nullptr ? file->getFullPathAsUtf8() : std::string()));
    return;
  }
  const TavDB::ScopedCurrentJob current(oneUp);
  // What the pass changes in the one-up (enabled inks, CMYK flags, paints the
  // writer adds) is its own for this form only.
  JobStateGuard guard(oneUp);

  if (mSettings.NormalizedOutput != 0) {
    VisitorSearchObjects search(oneUp);
    search.Walk(jobGetSpahan(oneUp));
    if (!search.IsValidForNormalizedPDF()) {
      ReportInvalidNormalizedObjects(search.InvalidForNormalized().Text());
      SetCancelled();
      // Its form stays empty: the export must not be taken for complete.
      mHandler->mInvalidForNormalized = true;
    }
  }
  // The one-up's CMYK flags and tree are its own again after the pass, on
  // every way out (the nested form's records are all written as its stream
  // ends).
  struct Restore {
    jobstr* job;
    bool flagsCleared;
    int flags[kMaxSeparations];
    JobSpaSetter setter;
    ~Restore() {
      setter.restore();
      if (flagsCleared) setCMYKFlags(job, flags);
    }
  } restore{oneUp, mSettings.ProcessCMYKFlags == 0, {}, JobSpaSetter(oneUp)};
  if (restore.flagsCleared) clearCMYKFlagsIfNeeded(oneUp, restore.flags);
  JobSpaSetter* setter = &restore.setter;
  if (!mCancelled) {
    PDFSpaSetter flattener(oneUp, true);
    SetFlattenerParameters(flattener, mSettings);
    if (std::unique_ptr<TavDB::Object> flat = FlattenJobSpa(flattener)) setter->set(std::move(flat));

    // The one-up prints the inks the parent prints (a single one when the
    // placement asks for it).
    const std::array<std::int32_t, 64> map = mapSeparations(oneUp, mJob);
    int printing = 0;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      if (sepsoruse(oneUp, slot, true) < 0) continue;
      const std::int32_t target = map[std::size_t(slot)];
      if (target == std::int32_t(kNoCounterpart) || (single != 0 && target + 1 != single) ||
          !sepIsEnabled(mJob, target)) {
        sepDisable(oneUp, slot);
      } else {
        ++printing;
      }
    }
    CheckOneUpColorDefinitions(oneUp, mJob, map);
    if (mSettings.NormalizedOutput != 0) CheckOneUpSeparationTypes(oneUp, mJob, map);
    const bool differ = single > 0 || OneUpLacksParentInks(oneUp, mJob);
    if (printing == 0) setter->set(TavDB::spanew());

    // The nested writer's graphics states go into its form's own dictionary
    // (its transfer states are named after the one-up's inks).
    PDFProof nested(oneUp, mHandler, mResources, mPatterns, mXObjects, nullptr, mSettings,
                    mWriterCounter, mPending, mFormCache, mSepData, hasScreen, true, halftone,
                    differ, mHandlerFlag, true, false);
    if (single != 0) nested.SetSingleSeparation(true);
    if (screen != kNoScreen) nested.mOneUpScreenName = "Scr_" + getScreenName(mJob, screen);
    nested.BuildOneUpFormXObject(record);

    mNonSeparableBlend = mNonSeparableBlend || nested.mNonSeparableBlend;
    mScreeningNotSupportedShown = mScreeningNotSupportedShown || nested.mScreeningNotSupportedShown;
    mDefaultScreeningShown = mDefaultScreeningShown || nested.mDefaultScreeningShown;
    for (const auto& [number, dictionary] : nested.mScreenHalftones) {
      const std::string& name = getScreenName(oneUp, number);
      if (auto* ref = dynamic_cast<PDFIndirectReference*>(dictionary)) mHandler->addNamedHalftone(name, ref);
    }
    if (nested.IsCancelled()) SetCancelled();
  }
}

void PDFProof::BuildOneUpFormXObject(PendingStream& record) {
  // A writer made with a content stream of its own ends it first: it
  // carries nothing.
  if (mContent != nullptr) {
    pdfoutfilter* sink = mContent;
    mContent = nullptr;
    mHandler->endStream(sink, this);
  }
  auto* form = new PDFDictionary();
  form->Set("Type", new PDFName("XObject"));
  form->Set("Subtype", new PDFName("Form"));
  form->Set("FormType", new PDFInteger(1));
  TavDB::Object* tree = jobGetSpahan(mJob);
  SetFormBBoxAndMatrix(form, tree);

  if (GetVersionCode() >= kPdf14 && jobHasTransparency(mJob, tree)) {
    if (mSettings.IsolateOneUp == 0) {
      TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                              TavCore::GetLocalizedUni16String("PDF/PDF TRANSPARENCIES IN ONEUP"));
    } else {
      auto* group = new PDFDictionary();
      group->Set("S", new PDFName("Transparency"));
      group->Set("K", new PDFBool(false));
      group->Set("I", new PDFBool(true));
      form->Set("Group", group);
      TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                              TavCore::GetLocalizedUni16String("PDF/PDF TRANSPARENCIES IN ONEUP WERE ISOLATED"));
    }
  }

  // Colour spaces are named after the one-up's own inks: the form has a
  // ColorSpace dictionary and pending lists of its own.
  FormResources r;
  r.resources = new PDFDictionary();
  r.extGStates = MakeFormExtGStates();
  r.xobjects = new PDFDictionary();
  r.patterns = new PDFDictionary();
  r.colorSpaces = new PDFDictionary();
  r.resources->Set("ExtGState", r.extGStates);
  r.resources->Set("XObject", r.xobjects);
  r.resources->Set("Pattern", r.patterns);
  r.resources->Set("ColorSpace", r.colorSpaces);
  WriteSeparationColorSpaces(*mHandler, mJob, r.colorSpaces);
  if (mSettings.NormalizedOutput == 0) AddPatternColorSpace(r.colorSpaces);
  AddFlateFilter(form, mSettings.CompressPages != 0);
  AddOneUpPieceInfo(form);

  PdfPending own;
  PdfPending* outerPending = mPending;
  mPending = &own;
  struct Restore {
    PDFProof* w;
    PdfPending* pending;
    ~Restore() { w->mPending = pending; }
  } restore{this, outerPending};
  const std::string& screenName = mOneUpScreenName;
  const bool oneUpScreen = !screenName.empty() && mSharedHalftone != nullptr;
  PDFDictionary* outerXObjects = mXObjects;
  // The screen's graphics state is one of the form's resources, which are
  // written as the form's stream ends.
  if (oneUpScreen) {
    auto* state = new PDFDictionary();
    state->Set("HT", mSharedHalftone);
    r.extGStates->Set(screenName, state);
  }
  mWritingOneUpForm = true;
  PDFIndirectReference* ref = WriteFormStream(form, r, [&] {
    if (oneUpScreen) WriteGState(screenName);
    OutputGroup(tree, false, -1, false);
  }, nullptr, false);
  mWritingOneUpForm = false;
  if (ref != nullptr && outerXObjects != nullptr) outerXObjects->Set(record.GetName(), ref);
}

// ---- placed PDF pages: reference XObjects ---------------------------------------------

void PDFProof::BuildPlacedPdfFormXObject(PendingStream& record) {
  auto* form = new PDFDictionary();
  const std::string& name = record.GetName();
  const Paint* paint = paipoi(mJob, record.GetPaint());
  std::int32_t w[6];
  if (!name.empty() && paint != nullptr && paintPlacementWords(mJob, record.GetPaint(), w)) {
    const int picture = paint->picture;
    std::int32_t height = 0, width = 0;
    picsiz(mJob, picture, 1.0, height, width);
    // The placement's width and height steps (v, h) per unit of the page.
    const double wv = (double(w[2]) - w[0]) / 10000, wh = (double(w[3]) - w[1]) / 10000;
    const double hv = (double(w[4]) - w[0]) / 10000, hh = (double(w[5]) - w[1]) / 10000;
    // The four corners of the placed page, whatever way it is turned.
    double xs[4], ys[4];
    const double corners[4][2] = {{0, 0}, {hv * height, hh * height},
                                  {hv * height + wv * width, hh * height + wh * width},
                                  {wv * width, wh * width}};
    for (int i = 0; i < 4; ++i) {
      TransformPoint(ftisql(w[0] + corners[i][0]), ftisql(w[1] + corners[i][1]), xs[i], ys[i]);
    }
    form->Set("Type", new PDFName("XObject"));
    form->Set("Subtype", new PDFName("Form"));
    form->Set("FormType", new PDFInteger(1));
    form->Set("Name", new PDFName(name));
    form->Set("BBox", reals({*std::min_element(xs, xs + 4), *std::min_element(ys, ys + 4),
                             *std::max_element(xs, xs + 4), *std::max_element(ys, ys + 4)}));
    form->Set("Matrix", reals({1, 0, 0, 1, 0, 0}));
    AddOneUpPieceInfo(form);
    auto* file = new PDFDictionary();
    file->Set("Type", new PDFName("FileSpec"));
    const TavSys::filref* ref = picfilref(mJob, picture);
    const std::string path = ref != nullptr ? ref->getFullPathAsUtf8() : std::string();
    const bool composerPath = mHandler->mXMPComposer != nullptr && mSettings.EmbedImages == 0 &&
                              mSettings.IncludePrivateData == 0;
    if (composerPath) {
      file->Set("F", new PDFString(mHandler->mXMPComposer->MakePicturePath(path), true));
    } else {
      file->Set("F", new PDFString(path));
    }
    auto* reference = new PDFDictionary();
    reference->Set("F", file);
    reference->Set("Page", new PDFInteger(pictureGetPage(mJob, picture)));
    form->Set("Ref", reference);
  }
  pdfoutfilter* sink = mHandler->beginStream(form);
  if (sink == nullptr) return;
  *sink << "\n";
  PDFIndirectReference* ref = mHandler->endStream(sink, this);
  if (ref != nullptr && mXObjects != nullptr && !name.empty()) mXObjects->Set(name, ref);
}

}  // namespace TavPDF
