// Colour, overprint, screen and stroke operators of the PDF page writer. Each
// consults the process-wide graphics-state cache so that an operator whose
// effect is in force already is left out. Colours set through colour-space
// objects are not written at once: they become the pending fill or stroke
// colour, written just before the path that paints with them.
#include <cstdio>
#include <cstring>
#include <string>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/pdfproof.h"
#include "pagewriter/strokeinfo.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// FNV-1a over bytes: what was written, so that the cache compares values and
// not only the key they were requested under.
std::uint64_t fingerprint(const void* data, std::size_t size, std::uint64_t seed = 1469598103934665603ull) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint64_t h = seed;
  for (std::size_t i = 0; i < size; ++i) {
    h ^= bytes[i];
    h *= 1099511628211ull;
  }
  return h;
}

// The 64 tints of a colour taken four at a time: each word is mixed in by a
// multiplication and its high half folded down, so that every tint bit
// reaches the whole value.
std::uint64_t tintsFingerprint(const std::uint16_t* tints) {
  std::uint64_t h = 1469598103934665603ull;
  for (int i = 0; i < 64; i += 4) {
    std::uint64_t word;
    std::memcpy(&word, tints + i, sizeof word);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
  }
  return h;
}

// The stroke parameters written by the stroke operators, compared by value.
struct StrokeParameters {
  double width = 0;
  int join = 0;
  int cap = 0;
  double miter = 0;
  std::vector<double> dash;
  double phase = 0;
  bool operator==(const StrokeParameters&) const = default;
};

// Collects what a writer would insert, to be compared before it is written.
class StringSink : public genoutfil {
 public:
  void PutByte(std::uint8_t byte) override { text.push_back(static_cast<char>(byte)); }
  std::string text;
};

}  // namespace

bool PDFProof::StrokeSide() const { return IsSymmetricStroke(); }

void PDFProof::SetOverprint(bool on) {
  PdfGraphicsState& cache = PdfGraphicsState::Instance();
  const int state = cache.GetOverprintState();
  if (on && state != PdfGraphicsState::kOverprintOn) {
    Out() << "/op1 gs\n";
    cache.SetOverprintState(PdfGraphicsState::kOverprintOn);
  } else if (!on && state != PdfGraphicsState::kOverprintOff) {
    Out() << "/op0 gs\n";
    cache.SetOverprintState(PdfGraphicsState::kOverprintOff);
  }
  // The flag follows the request: a knockout request must not leave the
  // writer believing that overprint is on.
  mOverprint = on;
}

void PDFProof::WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y,
                                          std::uint8_t k, int slot, std::uint8_t tint) {
  const bool stroke = StrokeSide();
  std::string text;
  if (slot < 0) {
    auto value = [&](std::uint8_t v) -> double {
      if (mOverprint) {
        if (v == 255) return 0.0;
        if (v == 0) return 0.001;  // a zero that still knocks out under overprint mode 1
        return v / 100.0;
      }
      return v < 255 ? v / 100.0 : 0.0;
    };
    char buffer[TavNumber::kNumberTextMax * 4 + 8];
    char* p = buffer;
    for (std::uint8_t v : {c, m, y, k}) {
      p = TavNumber::formatReal(p, value(v));
      *p++ = ' ';
    }
    text.assign(buffer, p - 1);  // without the blank after the last number
    text += stroke ? " K\n" : " k\n";
  } else {
    if (tint > 100) {
      TavSys::debug("PDFProof::WriteCMYKOrSeparationColor: Illegal per " + std::to_string(tint));
    }
    if (slot >= kMaxSeparations || sepsoruse(mJob, slot, true) < 0) {
      // No such ink: there is no colour space to name.
      TavSys::debug("PDFProof::WriteCMYKOrSeparationColor: Illegal separation " +
                    std::to_string(slot));
      return;
    }
    const std::string name = SeparationColorSpaceName(mHandler, mJob, slot);
    StringSink sink;
    PDFName::OutputName(sink, name.c_str());
    sink << (stroke ? " CS\n" : " cs\n") << (tint / 100.0) << (stroke ? "SCN\n" : "scn\n");
    text = std::move(sink.text);
  }

  PdfGraphicsState& cache = PdfGraphicsState::Instance();
  const std::uint64_t written = fingerprint(text.data(), text.size());
  if (cache.GetColorKey(stroke) == std::int32_t(mColorKey) &&
      cache.GetColorValue(stroke) == std::int32_t(mColorPass) &&
      cache.GetColorSpace(stroke) == nullptr &&
      cache.GetColorSpaceValue(stroke) == std::int64_t(written)) {
    return;
  }
  cache.SetColorKey(std::int32_t(mColorKey), stroke);
  cache.SetColorValue(std::int32_t(mColorPass), stroke);
  cache.SetColorSpace(nullptr, std::int64_t(written), stroke);
  Out() << std::string_view(text);
}

void PDFProof::WriteColorSpaceColor(ColorSpace* space, const std::uint16_t* tints, int value1,
                                    int /*value2*/) {
  WriteColorSpaceColor(space, tints, value1 != 0, static_cast<TavDB::Object*>(nullptr));
}

void PDFProof::WriteColorSpaceColor(ColorSpace* space, const std::uint16_t* tints, bool ownSave,
                                    TavDB::Object* object) {
  if (space == nullptr || tints == nullptr) return;
  if (ownSave) SaveGraphicsState();
  if (mPending != nullptr) mPending->registerColorSpace(*space);

  const bool stroke = StrokeSide();
  PdfGraphicsState& cache = PdfGraphicsState::Instance();
  const ColorSpace* cached = cache.GetColorSpace(stroke);
  const bool inForce =
      cache.GetColorKey(stroke) == std::int32_t(mColorKey) &&
      cache.GetColorValue(stroke) == std::int32_t(mColorPass) && cached != nullptr &&
      space->IsEqual(*cached) && space->pdfGetNumParts() <= 1 &&
      cache.GetColorSpaceValue(stroke) == std::int64_t(tintsFingerprint(tints)) &&
      colistra(mJob, int(mColorKey)) ==
          (cache.GetOverprintState() == PdfGraphicsState::kOverprintOn);
  if (!inForce) {
    cache.SetColorKey(std::int32_t(mColorKey), stroke);
    cache.SetColorValue(std::int32_t(mColorPass), stroke);
    std::unique_ptr<PendingColor> pending =
        mSparePending ? std::move(mSparePending) : std::make_unique<PendingColor>();
    pending->space.reset(space->Clone());
    std::copy(tints, tints + 64, pending->tints.begin());
    (stroke ? mPendingStroke : mPendingFill) = std::move(pending);
  }

  if (object != nullptr) {
    const std::uint16_t paint = object->paint();
    object->setPaint(0, false);
    struct Restore {
      TavDB::Object* o;
      std::uint16_t p;
      ~Restore() { o->setPaint(p, false); }
    } restore{object, paint};
    OutputShape(object, kModeFlatFill);
  }
  if (ownSave) RestoreGraphicsState();
}

void PDFProof::WritePendingFillColor() {
  if (!mPendingFill) return;
  ColorSpace* space = mPendingFill->space.get();
  if (space->pdfGetNumParts() > 1) {
    // One operator cannot set the colour of several parts; the shape is
    // painted once per part instead (PaintPerPart). Never reached with a
    // single paint operation.
    TavSys::debug("PDFProof::WritePendingFillColor: a colour of several parts stays pending");
    return;
  }
  space->pdfOutputFillColor(Out(), mPendingFill->tints.data());
  // The pending colour's space goes over to the cache, which would otherwise
  // keep a copy of it.
  PdfGraphicsState::Instance().TakeColorSpace(
      std::move(mPendingFill->space), std::int64_t(tintsFingerprint(mPendingFill->tints.data())),
      false);
  mSparePending = std::move(mPendingFill);
}

bool PDFProof::WritePendingStrokeColor() {
  if (!mPendingStroke) return true;
  ColorSpace* space = mPendingStroke->space.get();
  if (space->pdfGetNumParts() > 1) {
    TavSys::debug("PDFProof::WritePendingStrokeColor: a colour of several parts stays pending");
    return true;
  }
  space->pdfOutputStrokeColor(Out(), mPendingStroke->tints.data());
  mPendingStroke.reset();
  return true;
}

void PDFProof::SetPaintSeparationColor(std::uint16_t paint) {
  const Paint* record = paipoi(mJob, paint);
  if (record == nullptr) return;
  mColorKey = record->colour;
  std::array<std::uint16_t, kMaxSeparations> tints = colsep16(mJob, record->colour);
  std::unique_ptr<ColorSpace> space(GetSeparationColorSpace(
      tints.data(), 0, kTintFull, false, false, TavricLib::PaintIsRegistration(mJob, paint), false,
      true));
  if (space) WriteColorSpaceColor(space.get(), tints.data(), false, nullptr);
}

int PDFProof::WritePaintColor(std::uint16_t paint, int pass) {
  const Paint* record = paipoi(mJob, paint);
  mColorKey = record != nullptr ? record->colour : 0;
  mColorPass = static_cast<std::uint32_t>(pass);
  const int result = genproof::WritePaintColor(paint, pass);
  if (mSettings.Flavour == kFlavourViewing && pass >= 1 && result >= 0) {
    TavGen::ShowInfoMessage(TavGen::kInfo, 1,
                            TavCore::GetLocalizedUni16String("PDF/OVERPRINTS ADDED"));
  }
  return result;
}

int PDFProof::WriteRegistrationColor(std::uint16_t paint, int pass) {
  if (mSingleSeparation && sepGetCount(mJob, true, false) < 2) return 0;
  if (mSettings.EnableDotgain != 0) return 0;
  if (pass > 0) return -1;
  CsSeparation space(mJob, paiistra(mJob, paint) ? TavColor::kNoSeparation
                                                 : TavColor::kAllSeparations,
                     false);
  std::array<std::uint16_t, kMaxSeparations> tints = paisep16(mJob, paint);
  WriteColorSpaceColor(&space, tints.data(), false, nullptr);
  return 1;
}

void PDFProof::SelectScreening(std::uint16_t paint) {
  if (mSettings.IncludeScreening == 0 || mSharedHalftoneMode) return;
  const Paint* record = paipoi(mJob, paint);
  if (record == nullptr) return;
  PdfGraphicsState& cache = PdfGraphicsState::Instance();
  const int s = record->screen;
  const Screen* screen = s != kNoScreen ? screenpoi(mJob, s) : nullptr;

  if (screen != nullptr && screen->kind != Screen::kNotWritable) {
    if (mUsedScreens.count(s) == 0) {
      mUsedScreens.insert(s);
    } else if (s == cache.GetScreen()) {
      return;
    }
    cache.SetScreen(s);
    char name[64];
    std::snprintf(name, sizeof name, "/Scr_%d_%d gs\n", int(mWriterNumber), s);
    Out() << name;
    return;
  }
  if (screen != nullptr && screen->kind == Screen::kNotWritable && !mScreeningNotSupportedShown) {
    mScreeningNotSupportedShown = true;
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String("PDF/SCREENING NOT SUPPORTED"));
  }

  // Unscreened paint (or a screen that cannot be written).
  auto showDefaultMessage = [&] {
    if (mDefaultScreeningShown) return;
    if (record->type == kPaintPicture &&
        (picisart(mJob, record->picture) ||
         (picispdf(mJob, record->picture) && pdfIsNormalized(mJob, record->picture)))) {
      return;
    }
    mDefaultScreeningShown = true;
    TavGen::ShowInfoMessage(
        TavGen::kWarning, 1,
        TavCore::GetLocalizedUni16String("PDF/USED DEFAULT SCREENING FOR UNSCREENED OBJECTS"));
  };
  const int current = cache.GetScreen();
  if (current == -1) {
    if (mSettings.NormalizedOutput != 0) showDefaultMessage();
    return;
  }
  if (mSettings.NormalizedOutput == 0) {
    cache.SetScreen(-1);
    mUsedScreens.insert(-1);
    char name[64];
    std::snprintf(name, sizeof name, "/Scr_%d_def gs\n", int(mWriterNumber));
    Out() << name;
    return;
  }
  if (mSettings.UseDefaultScreen == 0 ||
      (record->type != kPaintPattern && (record->colour == 0 || record->singleSeparation != 0))) {
    cache.SetScreen(-2);
    return;
  }
  cache.SetScreen(-1);
  showDefaultMessage();
  mUsedScreens.insert(-1);
  Out() << "/Default_Screen gs\n";
}

void PDFProof::WriteStrokeInfo(int strokeType, double strokeValue, genoutfil& sink) {
  if (!mStrokeInfo) return;
  const TavDB::Object* generator = mStrokeInfo->getGenerator();
  const TavDB::Stroke* stroke = generator != nullptr ? generator->stroke() : nullptr;
  if (stroke == nullptr) return;
  StrokeParameters parameters{stroke->width, int(stroke->join), int(stroke->cap),
                              stroke->miterLimit, stroke->dash, stroke->dashPhase};
  if (!PdfGraphicsState::Instance().SetStrokeInfo(parameters)) return;
  genproof::WriteStrokeInfo(strokeType, strokeValue, sink);
}

void PDFProof::RestoreGraphicsState() {
  PdfGraphicsState::Instance().Reset();
  genproof::RestoreGraphicsState();
}

}  // namespace TavPDF
